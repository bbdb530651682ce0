// The recorder's pages in headless chromium, against the real recorder on a
// seeded year of one-minute readings with three known gaps.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { join } from 'node:path';
import * as h from './harness.mjs';

const { puppeteer, chromium } = await h.loadPuppeteer();
const { DAY, HOUR, MIN } = h;
const END = h.localNowT(); // the newest seeded reading: now, so the card is not stale
const GAPS = [
  [END - 10 * HOUR, END - 7 * HOUR], // in the last 24 h: 179 readings missing
  [END - 3 * DAY - 5 * HOUR, END - 3 * DAY - 4 * HOUR - 15 * MIN],
  [END - 100 * DAY, END - 99 * DAY + 2 * HOUR],
];
const missingIn = (from, to) =>
  GAPS.reduce((n, [a, b]) => n + Math.max(0, (Math.min(b - MIN, to) - Math.max(a + MIN, from)) / MIN + 1), 0);
const pl = (v, digits) => v.toLocaleString('pl-PL', { maximumFractionDigits: digits });

let work, recorder, browser, home, station;
const problems = [];

before(async () => {
  work = h.workDir();
  const db = join(work.dir, 'pomiary.sqlite');
  h.seed(db, { end: END, days: 365, tables: ['Sonda'], gaps: GAPS });
  recorder = await h.startRecorder(db);
  browser = await h.launch(puppeteer, chromium);
  home = await h.openPage(browser, problems);
  station = await h.openPage(browser, problems);
});

after(async () => {
  if (browser) await browser.close();
  if (recorder) await recorder.stop();
  if (work) work.remove();
});

const view = page => page.evaluate(() => {
  const s = window.pomChart;
  return { min: s.u.scales.x.min, max: s.u.scales.x.max, loads: s.loads, from: s.view.from, to: s.view.to };
});
async function waitLoads(page, more, from) {
  await page.waitForFunction((n) => window.pomChart && window.pomChart.loads >= n, { timeout: 20000 },
    from + more);
}

test('home: a card with the newest values, names and units', async () => {
  await home.goto(recorder.url + '/', { waitUntil: 'networkidle0' });
  await home.waitForSelector('.card.live .tile .spark canvas', { timeout: 20000 });
  const tiles = await home.$$eval('.card.live[data-table="Sonda"] .tile', ts => ts.map(t => ({
    name: t.querySelector('.name').textContent, number: t.querySelector('.number').textContent,
    unit: t.querySelector('.unit').textContent })));
  assert.deepEqual(tiles, [
    { name: 'Tz', number: pl(h.seededValue(0, END), 2), unit: '°C' },
    { name: 'U1', number: pl(h.seededValue(1, END), 2), unit: 'V' },
    { name: 'P', number: pl(h.seededValue(2, END), 2), unit: 'hPa' },
  ]);
  assert.match(await home.$eval('.card.live .age', e => e.textContent), /Ostatni odczyt: .*temu/);
  assert.equal(await home.$('.card.stale'), null);
  await home.screenshot({ path: join(h.outDir, 'home.png'), fullPage: true });
});

test('station: range buttons set the x axis to the data they name', async () => {
  await station.goto(recorder.url + '/table/Sonda', { waitUntil: 'networkidle0' });
  await waitLoads(station, 1, 0);
  let v = await view(station);
  assert.deepEqual([v.min, v.max], [END - DAY, END]);
  await station.screenshot({ path: join(h.outDir, 'station-24h.png'), fullPage: true });
  const first = END - 365 * DAY + MIN;
  for (const [range, from] of [['7d', END - 7 * DAY], ['all', first], ['1r', first], ['30d', END - 30 * DAY]]) {
    const loads = v.loads;
    await station.click(`.ranges button[data-range="${range}"]`);
    await waitLoads(station, 1, loads);
    v = await view(station);
    assert.deepEqual([v.min, v.max], [from, END], range);
    assert.equal(await station.$eval('.ranges .active', b => b.dataset.range), range);
    if (range === 'all')
      await station.screenshot({ path: join(h.outDir, 'station-year.png'), fullPage: true });
  }
});

test('station: a drag zooms to the dragged span, a double-click goes back', async () => {
  const before = await view(station);
  const box = await station.$eval('.u-over', e => { const r = e.getBoundingClientRect(); return [r.left, r.top, r.width, r.height]; });
  const [x, y, w, hgt] = box;
  await station.mouse.move(x + w * 0.25, y + hgt / 2);
  await station.mouse.down();
  await station.mouse.move(x + w * 0.5, y + hgt / 2, { steps: 5 });
  await station.mouse.up();
  await waitLoads(station, 1, before.loads);
  const v = await view(station);
  const span = before.max - before.min;
  assert.ok(Math.abs(v.min - (before.min + span * 0.25)) < span / 100, JSON.stringify(v));
  assert.ok(Math.abs(v.max - (before.min + span * 0.5)) < span / 100, JSON.stringify(v));
  await station.screenshot({ path: join(h.outDir, 'station-zoom.png'), fullPage: true });
  await station.mouse.click(x + w / 2, y + hgt / 2, { clickCount: 2 });
  await waitLoads(station, 1, v.loads);
  const back = await view(station);
  assert.deepEqual([back.min, back.max], [before.min, before.max]);

  // The wheel zooms in around the pointer: the time under it stays put.
  const at = before.min + span * 0.75;
  await station.mouse.move(x + w * 0.75, y + hgt / 2);
  await station.mouse.wheel({ deltaY: -100 });
  await waitLoads(station, 1, back.loads);
  const z = await view(station);
  const px = span / w; // the pointer lands on whole pixels
  assert.ok(Math.abs(z.max - z.min - span * 0.8) < 120, JSON.stringify(z));
  assert.ok(Math.abs(z.min + (z.max - z.min) * 0.75 - at) < 2 * px, JSON.stringify([before, at, z]));

  // Shift + drag pans: a drag to the right by a tenth shows earlier readings.
  await station.keyboard.down('Shift');
  await station.mouse.move(x + w * 0.4, y + hgt / 2);
  await station.mouse.down();
  await station.mouse.move(x + w * 0.5, y + hgt / 2, { steps: 5 });
  await station.mouse.up();
  await station.keyboard.up('Shift');
  await waitLoads(station, 1, z.loads);
  const p = await view(station);
  assert.ok(Math.abs(z.min - p.min - (z.max - z.min) / 10) < 2 * px, JSON.stringify([z, p]));
  assert.ok(Math.abs(p.max - p.min - (z.max - z.min)) <= 60); // whole minutes
});

test('station: the crosshair shows every channel of a known row', async () => {
  const row = END - 5 * HOUR - 17 * MIN;
  const loads = (await view(station)).loads;
  await station.$eval('#from', (e, v) => { e.value = v; }, h.stamp(row - 30 * MIN).slice(0, 16).replace(' ', 'T'));
  await station.$eval('#to', (e, v) => { e.value = v; }, h.stamp(row + 30 * MIN).slice(0, 16).replace(' ', 'T'));
  await station.click('#pick button');
  await waitLoads(station, 1, loads);
  const px = await station.evaluate(t => {
    const u = window.pomChart.u;
    const r = u.over.getBoundingClientRect();
    return [r.left + u.valToPos(t, 'x'), r.top + r.height / 2];
  }, row);
  await station.mouse.move(px[0], px[1]);
  const legend = await station.$$eval('.u-legend .u-series', rows => rows.map(r => r.querySelector('.u-value').textContent));
  assert.deepEqual(legend, [
    h.stamp(row),
    pl(h.seededValue(0, row), 3) + ' °C',
    pl(h.seededValue(1, row), 3) + ' V',
    pl(h.seededValue(2, row), 3) + ' hPa',
  ]);
});

test('station: a channel toggled in the legend disappears from the chart and the exports', async () => {
  const bluePixels = () => station.evaluate(() => {
    const c = window.pomChart.u.ctx;
    const d = c.getImageData(0, 0, c.canvas.width, c.canvas.height).data;
    let n = 0;
    for (let i = 0; i < d.length; i += 4) if (d[i] === 0 && d[i + 1] === 0 && d[i + 2] === 255) n++;
    return n;
  });
  assert.ok(await bluePixels() > 50);
  await station.mouse.move(0, 0); // off the chart first: the legend's values change width then
  await station.click('.u-legend .u-series:nth-child(3) .u-label'); // U1, the desktop's blue
  await station.waitForFunction(() => !window.pomChart.u.series[2].show);
  assert.equal(await bluePixels(), 0);
  assert.match(await station.$eval('#csv', a => a.href), /channels=sonda0,sonda2$/);
  await station.click('.u-legend .u-series:nth-child(3) .u-label');
  await station.waitForFunction(() => window.pomChart.u.series[2].show);
});

test('station: the gap is shaded and the completeness figure counts the missing readings', async () => {
  const loads = (await view(station)).loads;
  await station.click('.ranges button[data-range="24h"]');
  await waitLoads(station, 1, loads);
  const [a, b] = GAPS[0];
  const pixel = await station.evaluate(t => {
    const u = window.pomChart.u;
    const x = Math.round(u.valToPos(t, 'x', true));
    const y = Math.round(u.bbox.top + u.bbox.height - 2 * uPlot.pxRatio);
    return [...u.ctx.getImageData(x, y, 1, 1).data];
  }, (a + b) / 2);
  assert.ok(pixel[0] > 180 && pixel[1] < 120 && pixel[2] < 120, 'gap band colour ' + pixel);
  const expected = DAY / MIN + 1;
  const share = Number(await station.$eval('#completeness', e => e.dataset.share));
  const want = (expected - missingIn(END - DAY, END)) / expected;
  assert.ok(Math.abs(share - want) < 0.001, `${share} against ${want}`);
  assert.equal(await station.$eval('#completeness strong', e => e.textContent),
    (share * 100).toLocaleString('pl-PL', { minimumFractionDigits: 2, maximumFractionDigits: 2 }) + ' %');
  const missing = await station.$$eval('.missing tr[data-day] td:nth-child(2)', tds =>
    tds.map(td => td.textContent.split(' z ').map(Number)).reduce((n, [p, e]) => n + e - p, 0));
  assert.ok(Math.abs(missing - 179) <= 2, 'missing per day ' + missing);
});

test('a new post appears on both pages without a reload', async () => {
  const t = END + MIN;
  const r = await h.postReading(recorder.url, 'Sonda', t, [42.5, 3.9, 1001]);
  assert.equal(r.status, 200, r.body);
  await station.waitForFunction(t => window.pomChart.answer.t.includes(t), { timeout: 15000 }, t);
  const v = await view(station);
  assert.equal(v.max, t);
  await home.bringToFront(); // chromium may hold back the timers of a tab nobody looks at
  await home.waitForFunction(() => [...document.querySelectorAll('.card.live .number')]
    .some(n => n.textContent === '42,5'), { timeout: 15000 });
});

test('an empty recorder\'s home page shows the first station when it posts', async () => {
  const empty = await h.startRecorder(join(work.dir, 'empty.sqlite'));
  try {
    await home.goto(empty.url + '/', { waitUntil: 'networkidle0' });
    assert.match(await home.$eval('main', m => m.textContent), /Brak tabel/);
    await h.postReading(empty.url, 'Nowa', END, [21.5, 3.3, 1000]);
    await home.waitForSelector('.card.live[data-table="Nowa"] .tile .spark canvas', { timeout: 15000 });
    assert.equal(await home.$eval('.card.live .number', n => n.textContent), '21,5');
  } finally {
    await empty.stop();
  }
});

test('no script error reached the console', () => {
  assert.deepEqual(problems, []);
});
