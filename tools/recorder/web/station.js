// A station's page: one uPlot chart of its channels over a chosen range, with
// zoom, pan, crosshair values, one y axis per unit, the gaps shaded, the
// range's statistics and completeness, exports of what is shown, and new
// readings drawn as they arrive.
'use strict';

(function () {
  const P = Pom;
  const table = JSON.parse(document.getElementById('page-data').textContent).table;
  const apiBase = '/api/table/' + encodeURIComponent(table);
  const chartBox = document.getElementById('chart');
  const RANGES = { '24h': 86400, '7d': 7 * 86400, '30d': 30 * 86400, '1r': 365 * 86400, all: null };
  const MIN_SPAN = 120; // seconds: zooming stops at two minutes
  const HEIGHT = 440;

  let station = null; // this table's entry of /api/stations
  let view = null; // { from, to } shown, in API seconds
  let rangeKey = null; // the button behind the view, null for a picked or zoomed one
  const back = []; // views a double-click returns to
  let u = null;
  let answer = null; // the /api/table answer drawn
  let chartKeys = ''; // the channels the chart was built for
  const hidden = new Set(); // channels switched off in the legend
  let seq = 0; // the newest request; older answers are dropped
  let wheelTimer = null;
  // For the browser tests and the benchmark: the chart and what it shows.
  const state = (window.pomChart = { u: null, view: null, answer: null, loads: 0 });

  function limits() {
    return { first: P.isoToT(station.first), last: station.lastT };
  }

  function clampView(v) {
    const { first, last } = limits();
    let from = Math.max(first, Math.min(v.from, v.to));
    let to = Math.min(last, Math.max(v.from, v.to));
    if (to - from < MIN_SPAN) {
      const mid = (from + to) / 2;
      from = Math.max(first, mid - MIN_SPAN / 2);
      to = Math.min(last, from + MIN_SPAN);
    }
    // Whole minutes, as the readings come and the date fields show them.
    return { from: Math.max(first, Math.floor(from / 60) * 60), to: Math.min(last, Math.ceil(to / 60) * 60) };
  }

  function rangeView(key) {
    const { first, last } = limits();
    const len = RANGES[key];
    return { from: len === null ? first : Math.max(first, last - len), to: last };
  }

  function points() {
    const w = u ? u.bbox.width / uPlot.pxRatio : chartBox.clientWidth - 120;
    return Math.max(50, Math.min(10000, Math.round(w)));
  }

  function shownKeys() {
    return answer ? answer.channels.map(c => c.key).filter(k => !hidden.has(k)) : [];
  }

  function query(v) {
    return 'from=' + P.tToIso(v.from) + '&to=' + P.tToIso(v.to);
  }

  // ---- loading ----------------------------------------------------------

  async function load(v) {
    const mine = ++seq;
    let d;
    try {
      d = await P.getJson(apiBase + '?' + query(v) + '&points=' + points());
    } catch (e) {
      if (mine === seq) P.showStatus('Nie udało się wczytać odczytów: ' + e.message);
      return;
    }
    if (mine !== seq) return;
    P.showStatus('');
    view = v;
    answer = d;
    state.view = v;
    state.answer = d;
    draw(d);
    showStats(d);
    showCompleteness(d);
    showControls();
    state.loads++;
  }

  function go(v, key) {
    if (view) back.push({ view, key: rangeKey });
    if (back.length > 50) back.shift();
    rangeKey = key;
    const c = clampView(v);
    if (u) setX(c);
    load(c);
  }

  function goBack() {
    const prev = back.pop();
    if (!prev) return;
    rangeKey = prev.key;
    setX(prev.view);
    load(prev.view);
  }

  // ---- the chart --------------------------------------------------------

  function unitsOf(channels) {
    const units = [...new Set(channels.map(c => c.unit))];
    // Temperatures on the left, whatever else on the right.
    units.sort((a, b) => (b === '°C') - (a === '°C'));
    return units;
  }

  // The crosshair reads, per channel, the nearest row that holds its value.
  function valuedIndex(ys, i) {
    if (ys[i] !== undefined) return i;
    for (let k = 1; k < 200; k++) {
      if (i - k >= 0 && ys[i - k] !== undefined) return i - k;
      if (i + k < ys.length && ys[i + k] !== undefined) return i + k;
    }
    return i;
  }

  function gapShading() {
    return {
      hooks: {
        drawClear: [
          uu => {
            if (!answer || !answer.gaps) return;
            const ctx = uu.ctx;
            const { left, top, width, height } = uu.bbox;
            ctx.save();
            for (const [a, b] of answer.gaps) {
              const x0 = Math.max(left, uu.valToPos(a, 'x', true));
              const x1 = Math.min(left + width, uu.valToPos(b, 'x', true));
              if (x1 < left || x0 > left + width) continue;
              const w = Math.max(x1 - x0, uPlot.pxRatio * 2);
              ctx.fillStyle = 'rgba(214, 39, 40, 0.14)';
              ctx.fillRect(x0, top, w, height);
              ctx.fillStyle = 'rgba(214, 39, 40, 0.85)';
              ctx.fillRect(x0, top + height - 5 * uPlot.pxRatio, w, 5 * uPlot.pxRatio);
            }
            ctx.restore();
          },
        ],
      },
    };
  }

  // The wheel zooms around the pointer; Shift + drag (or the middle button)
  // pans; a double-click goes back. A plain drag selects a range to zoom to.
  function navigation() {
    return {
      hooks: {
        ready: [
          uu => {
            uu.over.addEventListener('wheel', e => {
              e.preventDefault();
              const rect = uu.over.getBoundingClientRect();
              const at = uu.posToVal(e.clientX - rect.left, 'x');
              const f = e.deltaY < 0 ? 0.8 : 1.25;
              const { min, max } = uu.scales.x;
              const v = clampView({ from: at - (at - min) * f, to: at + (max - at) * f });
              if (!wheelTimer && view) {
                back.push({ view, key: rangeKey });
                rangeKey = null;
              }
              setX(v);
              clearTimeout(wheelTimer);
              wheelTimer = setTimeout(() => {
                wheelTimer = null;
                load(v);
              }, 250);
            }, { passive: false });
            uu.root.addEventListener('mousedown', e => {
              if (!(e.shiftKey || e.button === 1) || !uu.over.contains(e.target)) return;
              e.preventDefault();
              e.stopPropagation(); // no range selection while panning
              const x0 = e.clientX;
              const { min, max } = uu.scales.x;
              const perPx = (max - min) / (uu.bbox.width / uPlot.pxRatio);
              const { first, last } = limits();
              let v = { from: min, to: max };
              const move = m => {
                let d = (x0 - m.clientX) * perPx;
                d = Math.max(first - min, Math.min(last - max, d));
                v = { from: min + d, to: max + d };
                setX(v);
              };
              const up = () => {
                document.removeEventListener('mousemove', move);
                document.removeEventListener('mouseup', up);
                if (v.from !== min) go(v, null);
              };
              document.addEventListener('mousemove', move);
              document.addEventListener('mouseup', up);
            }, true);
            uu.over.addEventListener('dblclick', goBack);
          },
        ],
        setSelect: [
          uu => {
            const s = uu.select;
            if (s.width < 3) return;
            const v = { from: uu.posToVal(s.left, 'x'), to: uu.posToVal(s.left + s.width, 'x') };
            uu.setSelect({ left: 0, top: 0, width: 0, height: 0 }, false);
            go(v, null);
          },
        ],
      },
    };
  }

  function setX(v) {
    if (u) u.setScale('x', { min: v.from, max: v.to });
  }

  function build(d, data) {
    if (u) u.destroy();
    const units = unitsOf(d.channels);
    const scales = { x: { time: true } };
    units.forEach(unit => (scales['u' + unit] = { auto: true }));
    const axes = [{ values: P.TIME_AXIS, space: 60, grid: { stroke: '#e3e8ed' } }];
    units.forEach((unit, i) =>
      axes.push({
        scale: 'u' + unit,
        side: i === 0 ? 3 : 1,
        label: unit || 'bez jednostki',
        labelSize: 20,
        size: 56,
        grid: { show: i === 0, stroke: '#e3e8ed' },
        values: (uu, splits) => splits.map(v => P.fmtNumber(v, 3)),
      }));
    const series = [{ label: 'Czas', value: '{YYYY}-{MM}-{DD} {HH}:{mm}:{ss}' }];
    for (const c of d.channels)
      series.push({
        label: c.name + (c.unit ? ' [' + c.unit + ']' : ''),
        scale: 'u' + c.unit,
        stroke: P.colour(c.index),
        width: 1.5,
        show: !hidden.has(c.key),
        points: { show: false },
        value: (uu, v) => (v === null || v === undefined ? '—' : P.fmtNumber(v, 3) + (c.unit ? ' ' + c.unit : '')),
      });
    u = new uPlot({
      width: chartBox.clientWidth,
      height: HEIGHT,
      tzDate: P.tzDate,
      fmtDate: P.fmtDate,
      scales,
      axes,
      series,
      legend: { live: true },
      cursor: {
        drag: { x: true, y: false, setScale: false },
        bind: { dblclick: () => null },
        dataIdx: (uu, si, i) => valuedIndex(uu.data[si], i),
      },
      plugins: [gapShading(), navigation()],
      hooks: {
        setSeries: [
          (uu, i) => {
            if (i === null || i === undefined) return;
            const key = d.channels[i - 1].key;
            if (uu.series[i].show) hidden.delete(key);
            else hidden.add(key);
            showControls();
          },
        ],
      },
    }, data, chartBox);
    state.u = u;
    chartKeys = d.channels.map(c => c.key).join();
  }

  let drawnOnce = false;
  function draw(d) {
    const data = P.columns(d);
    if (!u || chartKeys !== d.channels.map(c => c.key).join()) build(d, data);
    else u.setData(data);
    setX(view);
    if (!drawnOnce) {
      drawnOnce = true;
      performance.mark('pom-chart-drawn');
    }
  }

  // ---- the tables and controls -----------------------------------------

  function showStats(d) {
    const t = document.getElementById('stats');
    const head = P.el('tr', {}, ...['Kanał', 'Minimum', 'kiedy', 'Maksimum', 'kiedy', 'Średnia',
      'Odczytów'].map(h => P.el('th', { text: h })));
    const rows = d.channels.map(c => {
      const s = (d.stats || {})[c.key];
      const unit = c.unit ? ' ' + c.unit : '';
      const name = P.el('td', {}, P.el('span', { className: 'swatch' }), c.name);
      name.firstChild.style.background = P.colour(c.index);
      if (!s || !s.count)
        return P.el('tr', { 'data-key': c.key }, name,
          P.el('td', { colspan: '6', text: 'brak odczytów w tym zakresie' }));
      return P.el('tr', { 'data-key': c.key }, name,
        P.el('td', { text: P.fmtNumber(s.min, 3) + unit }), P.el('td', { text: P.isoToText(s.minTime) }),
        P.el('td', { text: P.fmtNumber(s.max, 3) + unit }), P.el('td', { text: P.isoToText(s.maxTime) }),
        P.el('td', { text: P.fmtNumber(s.mean, 3) + unit }), P.el('td', { text: P.fmtNumber(s.count, 0) }));
    });
    t.replaceChildren(P.el('thead', {}, head), P.el('tbody', {}, ...rows));
  }

  function showCompleteness(d) {
    const days = d.days || [];
    let expected = 0;
    let present = 0;
    for (const day of days) {
      expected += day.expected;
      present += Math.min(day.present, day.expected);
    }
    const c = document.getElementById('completeness');
    c.dataset.share = d.completeness === null || d.completeness === undefined ? '' : d.completeness;
    const gaps = d.gaps || [];
    const longest = gaps.reduce((m, g) => (g[1] - g[0] > m[1] - m[0] ? g : m), [0, 0]);
    c.replaceChildren(
      P.el('strong', { text: d.completeness === null || d.completeness === undefined ? '—'
        : P.fmtPercent(d.completeness) }),
      ' odczytów z tych, których można było oczekiwać' +
        (d.interval ? ' (co ' + d.interval + ' s)' : '') + ': ' + P.fmtNumber(present, 0) + ' z ' +
        P.fmtNumber(expected, 0) + '. Przerw: ' + gaps.length +
        (gaps.length ? ', najdłuższa ' + P.fmtAge(longest[1] - longest[0]).replace(' temu', '') +
          ' (od ' + P.tToText(longest[0]) + ' do ' + P.tToText(longest[1]) + ')' : '') + '.');
    const strip = P.el('div', { className: 'strip' });
    const missing = [];
    for (const day of days) {
      const share = day.expected ? Math.min(1, day.present / day.expected) : 1;
      const bar = P.el('span', {
        className: share >= 0.999 ? 'full' : share >= 0.9 ? 'most' : 'poor',
        title: day.day + ': ' + day.present + ' z ' + day.expected + ' (' + P.fmtPercent(share) + ')',
      });
      bar.style.height = Math.max(4, Math.round(share * 40)) + 'px';
      strip.append(bar);
      if (share < 0.999) missing.push(day);
    }
    const box = document.getElementById('days');
    const list = missing.length
      ? P.el('table', { className: 'missing' },
        P.el('tr', {}, P.el('th', { text: 'Dzień z brakami' }), P.el('th', { text: 'Odczytów' }),
          P.el('th', { text: 'Udział' })),
        ...missing.slice(0, 31).map(day => P.el('tr', { 'data-day': day.day },
          P.el('td', { text: day.day }), P.el('td', { text: day.present + ' z ' + day.expected }),
          P.el('td', { text: P.fmtPercent(day.expected ? day.present / day.expected : 1) }))))
      : P.el('p', { text: 'Każdy dzień zakresu jest pełny.' });
    box.replaceChildren(strip, list);
    if (missing.length > 31)
      box.append(P.el('p', { className: 'note', text: 'i ' + (missing.length - 31) + ' dni więcej' }));
  }

  function showControls() {
    for (const b of document.querySelectorAll('.ranges button'))
      b.classList.toggle('active', b.dataset.range === rangeKey);
    if (!view) return;
    document.getElementById('from').value = P.tToIso(view.from).slice(0, 16);
    document.getElementById('to').value = P.tToIso(view.to).slice(0, 16);
    const q = query(view) + '&channels=' + shownKeys().join(',');
    document.getElementById('csv').href = '/table/' + encodeURIComponent(table) + '.csv?' + q;
    document.getElementById('json').href = apiBase + '?' + q;
    history.replaceState(null, '', rangeKey ? '#' + rangeKey : '#' + query(view));
  }

  // ---- start and live updates -----------------------------------------

  function initialView() {
    const h = location.hash.slice(1);
    if (h in RANGES) return { view: rangeView(h), key: h };
    const m = /^from=([0-9T:-]+)&to=([0-9T:-]+)$/.exec(h);
    if (m && isFinite(P.isoToT(m[1])) && isFinite(P.isoToT(m[2])))
      return { view: clampView({ from: P.isoToT(m[1]), to: P.isoToT(m[2]) }), key: null };
    return { view: rangeView('24h'), key: '24h' };
  }

  function onStations(data) {
    const st = data.stations.find(s => s.table.toLowerCase() === table.toLowerCase());
    if (!st || st.lastT === null || st.lastT === undefined) {
      P.showStatus('Ta tabela nie ma jeszcze odczytów.');
      return;
    }
    const before = station;
    station = st;
    if (!before) {
      const first = initialView();
      rangeKey = first.key;
      load(first.view);
      return;
    }
    // New readings: a view that reaches the newest one follows it.
    if (!view || st.lastT === before.lastT || view.to < before.lastT) return;
    if (rangeKey) load(rangeView(rangeKey));
    else load({ from: view.from, to: st.lastT });
  }

  for (const b of document.querySelectorAll('.ranges button'))
    b.addEventListener('click', () => station && go(rangeView(b.dataset.range), b.dataset.range));
  document.getElementById('pick').addEventListener('submit', e => {
    e.preventDefault();
    if (!station) return;
    const from = P.isoToT(document.getElementById('from').value + ':00');
    const to = P.isoToT(document.getElementById('to').value + ':00');
    if (!isFinite(from) || !isFinite(to) || from >= to) {
      P.showStatus('Początek zakresu musi być wcześniej niż jego koniec.');
      return;
    }
    go({ from, to }, null);
  });
  window.addEventListener('resize', () => {
    if (u) u.setSize({ width: chartBox.clientWidth, height: HEIGHT });
  });

  P.poll('/api/stations', P.POLL_MS, onStations,
    e => e && P.showStatus('Nie udało się odświeżyć: ' + e));
})();
