// What the recorder's pages share: the desktop's channel colours, the time
// and number formats, the JSON API with its ETag polling, and building the
// page from data without parsing any of it as HTML.
'use strict';

window.Pom = (function () {
  // The desktop chart's seven series colours; channel n takes colour n mod 7.
  const COLOURS = ['#008000', '#0000ff', '#ff0000', '#000080', '#ff00ff', '#00ffff', '#ffff00'];
  const colour = index => COLOURS[((index % 7) + 7) % 7];

  // The API counts a wall-clock reading as if it were UTC, so the pages show
  // every time as stored, whatever the browser's zone.
  const isoToT = iso => Date.parse(iso.length === 10 ? iso + 'T00:00:00Z' : iso + 'Z') / 1000;
  const tToIso = t => new Date(Math.round(t) * 1000).toISOString().slice(0, 19);
  const tToText = t => tToIso(t).replace('T', ' ');
  const isoToText = iso => (iso || '—').replace('T', ' ');
  const tzDate = ts => uPlot.tzDate(new Date(ts * 1e3), 'Etc/UTC');

  const NAMES = {
    MMMM: ['styczeń', 'luty', 'marzec', 'kwiecień', 'maj', 'czerwiec', 'lipiec', 'sierpień',
      'wrzesień', 'październik', 'listopad', 'grudzień'],
    MMM: ['sty', 'lut', 'mar', 'kwi', 'maj', 'cze', 'lip', 'sie', 'wrz', 'paź', 'lis', 'gru'],
    WWWW: ['niedziela', 'poniedziałek', 'wtorek', 'środa', 'czwartek', 'piątek', 'sobota'],
    WWW: ['nd', 'pn', 'wt', 'śr', 'cz', 'pt', 'sb'],
  };
  const fmtDate = tpl => uPlot.fmtDate(tpl, NAMES);
  const D = 86400;
  // The time axis in Polish and 24-hour time: [tick step from, tick text,
  // text added when the year / month / day / hour / minute / second rolls
  // over, 1 = added below].
  const TIME_AXIS = [
    [365 * D, '{YYYY}', null, null, null, null, null, null, 1],
    [28 * D, '{MMM}', '\n{YYYY}', null, null, null, null, null, 1],
    [D, '{D} {MMM}', '\n{YYYY}', null, null, null, null, null, 1],
    [3600, '{HH}:{mm}', '\n{D} {MMM} {YYYY}', null, '\n{D} {MMM}', null, null, null, 1],
    [60, '{HH}:{mm}', '\n{D} {MMM} {YYYY}', null, '\n{D} {MMM}', null, null, null, 1],
    [1, ':{ss}', '\n{D} {MMM} {YYYY} {HH}:{mm}', null, '\n{D} {MMM} {HH}:{mm}', null,
      '\n{HH}:{mm}', null, 1],
  ];

  function fmtNumber(v, digits) {
    if (v === null || v === undefined || !isFinite(v)) return '—';
    return v.toLocaleString('pl-PL', { maximumFractionDigits: digits === undefined ? 2 : digits });
  }
  const fmtPercent = share =>
    (share * 100).toLocaleString('pl-PL', { minimumFractionDigits: 2, maximumFractionDigits: 2 }) +
    ' %';

  function fmtAge(seconds) {
    const s = Math.abs(Math.round(seconds));
    let text;
    if (s < 60) text = s + ' s';
    else if (s < 3600) text = Math.floor(s / 60) + ' min';
    else if (s < 2 * D) text = Math.floor(s / 3600) + ' h ' + Math.floor((s % 3600) / 60) + ' min';
    else text = Math.floor(s / D) + ' d';
    return seconds < 0 ? 'za ' + text + ' (zegar stacji wyprzedza serwer)' : text + ' temu';
  }

  // An element with text set as text, never parsed: data stays data.
  function el(tag, props, ...children) {
    const e = document.createElement(tag);
    for (const [k, v] of Object.entries(props || {})) {
      if (k === 'text') e.textContent = v;
      else if (k === 'className') e.className = v;
      else e.setAttribute(k, v);
    }
    for (const c of children) if (c !== null && c !== undefined) e.append(c);
    return e;
  }

  async function getJson(url) {
    let r;
    try {
      r = await fetch(url, { cache: 'no-store' });
    } catch (e) {
      throw new Error('brak połączenia z serwerem');
    }
    const body = await r.json().catch(() => null);
    if (!r.ok) throw new Error(body && body.error ? body.error : 'odpowiedź HTTP ' + r.status);
    if (!body) throw new Error('odpowiedź serwera nie jest poprawnym JSON');
    return body;
  }

  // Asks `url` every `ms` milliseconds with the last ETag: an unchanged
  // answer is a bodiless 304, so a page left open costs nearly nothing.
  function poll(url, ms, onChange, onError) {
    let etag = null;
    let timer = null;
    async function tick() {
      try {
        const r = await fetch(url, { cache: 'no-store', headers: etag ? { 'If-None-Match': etag } : {} });
        if (r.status !== 304) {
          const body = await r.json().catch(() => null);
          if (!r.ok || !body)
            throw new Error(body && body.error ? body.error : 'odpowiedź HTTP ' + r.status);
          etag = r.headers.get('ETag');
          onChange(body);
        }
        onError(null);
      } catch (e) {
        onError(e.message === 'Failed to fetch' ? 'brak połączenia z serwerem' : e.message);
      }
      timer = setTimeout(tick, ms);
    }
    tick();
    return { now() { clearTimeout(timer); tick(); } };
  }

  // The chart's columns: absent values become undefined, which uPlot spans
  // (a bucket where only another channel read is no gap), and every gap the
  // server found gets one row of nulls, which uPlot breaks the lines at.
  function columns(d) {
    const keys = d.channels.map(c => c.key);
    const t = [];
    const ys = keys.map(() => []);
    const gaps = d.gaps || [];
    let g = 0;
    for (let i = 0; i < d.t.length; i++) {
      while (g < gaps.length && (gaps[g][0] + gaps[g][1]) / 2 < d.t[i]) {
        t.push((gaps[g][0] + gaps[g][1]) / 2);
        ys.forEach(y => y.push(null));
        g++;
      }
      t.push(d.t[i]);
      keys.forEach((k, j) => {
        const v = d.values[k] ? d.values[k][i] : null;
        ys[j].push(v === null || v === undefined ? undefined : v);
      });
    }
    return [t, ...ys];
  }

  function showStatus(text) {
    const s = document.getElementById('status');
    if (s) {
      s.textContent = text || '';
      s.classList.toggle('error', !!text);
    }
  }

  return {
    colour, isoToT, tToIso, tToText, isoToText, tzDate, fmtDate, TIME_AXIS, fmtNumber,
    fmtPercent, fmtAge, el, getJson, poll, showStatus, columns, POLL_MS: 5000,
  };
})();
