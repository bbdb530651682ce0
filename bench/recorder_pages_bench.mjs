// Navigation to the chart drawn on a station's page, in headless chromium:
// 3 stations x 6 channels x a year of one-minute readings, the page opened at
// 24 h, 30 d and a year; the median of the "pom-chart-drawn" performance mark
// (milliseconds from the navigation's start) over RUNS fresh loads.
//
//   node bench/recorder_pages_bench.mjs      (after scripts/build normal
//                                             pomiarnik-recorder recorder_seed)
import { join } from 'node:path';
import * as h from '../tests/browser/harness.mjs';

const RUNS = Number(process.env.RUNS || 7);
const { puppeteer, chromium } = await h.loadPuppeteer();
const work = h.workDir();
const db = join(work.dir, 'pomiary.sqlite');
const end = h.localNowT() - h.MIN;
let t0 = Date.now();
h.seed(db, { end, days: 365, channels: 6, tables: ['Sonda1', 'Sonda2', 'Sonda3'] });
console.log(`seeded 3 x 525600 rows in ${Date.now() - t0} ms`);
t0 = Date.now();
const recorder = await h.startRecorder(db);
console.log(`recorder answering after ${Date.now() - t0} ms`);
const browser = await h.launch(puppeteer, chromium);
const problems = [];
try {
  const page = await h.openPage(browser, problems, 1280, 900);
  await page.goto(recorder.url + '/table/Sonda2#24h'); // assets into the cache, as for a person
  await page.waitForFunction(() => window.pomChart && window.pomChart.loads > 0, { timeout: 60000 });
  console.log('range   chart px   points drawn   navigation to drawn (ms, median of ' + RUNS + ')');
  for (const range of ['24h', '30d', '1r']) {
    const times = [];
    let info;
    for (let i = 0; i < RUNS; i++) {
      await page.goto('about:blank');
      await page.goto(recorder.url + '/table/Sonda2#' + range);
      await page.waitForFunction(() => window.pomChart && window.pomChart.loads > 0, { timeout: 60000 });
      const r = await page.evaluate(() => ({
        drawn: performance.getEntriesByName('pom-chart-drawn')[0].startTime,
        width: Math.round(window.pomChart.u.bbox.width / uPlot.pxRatio),
        points: window.pomChart.answer.t.length,
      }));
      times.push(r.drawn);
      info = r;
    }
    times.sort((a, b) => a - b);
    console.log(`${range.padEnd(7)} ${String(info.width).padStart(9)} ${String(info.points).padStart(14)}` +
      `   ${times[Math.floor(times.length / 2)].toFixed(0).padStart(6)}  (min ${times[0].toFixed(0)}, max ${times[times.length - 1].toFixed(0)})`);
  }
  if (problems.length) console.log('console:', problems);
} finally {
  await browser.close();
  await recorder.stop();
  work.remove();
}
