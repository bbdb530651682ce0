// The home page: a card per station with its newest values, the age of its
// last reading and a 24-hour sparkline per channel, kept fresh by polling.
'use strict';

(function () {
  const P = Pom;
  const SPARK_W = 220;
  const SPARK_H = 44;
  let box = document.getElementById('cards');
  const cards = new Map(); // table -> card
  let fetchedAt = 0; // when the last answer came, to age the readings between polls

  function makeCard(st) {
    const link = '/table/' + encodeURIComponent(st.table);
    const card = {
      root: P.el('article', { className: 'card live', 'data-table': st.table }),
      age: P.el('p', { className: 'age' }),
      tiles: P.el('div', { className: 'tiles' }),
      sparks: new Map(),
      sparkFor: null,
      st,
    };
    card.root.append(
      P.el('h3', {}, P.el('a', { href: link, text: st.table })),
      card.age, card.tiles,
      P.el('p', { className: 'links' }, P.el('a', { href: link, text: 'wykres i historia' }), ' · ',
        P.el('a', { href: link + '.csv', text: 'CSV' })));
    return card;
  }

  function fillTiles(card, st) {
    card.tiles.replaceChildren();
    const keep = new Map();
    for (const ch of st.channels) {
      const v = st.latest[ch.key];
      const spark = card.sparks.get(ch.key) || { box: P.el('div', { className: 'spark' }), u: null };
      keep.set(ch.key, spark);
      const tile = P.el('div', { className: 'tile', 'data-key': ch.key },
        P.el('div', { className: 'name' }, P.el('span', { className: 'swatch' }), ch.name),
        P.el('div', { className: 'value' }, P.el('span', { className: 'number', text: P.fmtNumber(v) }),
          ' ', P.el('span', { className: 'unit', text: ch.unit })),
        spark.box);
      tile.querySelector('.swatch').style.background = P.colour(ch.index);
      card.tiles.append(tile);
    }
    for (const [key, s] of card.sparks) if (!keep.has(key) && s.u) s.u.destroy();
    card.sparks = keep;
  }

  function showAge(card) {
    const st = card.st;
    if (st.lastT === null || st.lastT === undefined) {
      card.age.textContent = 'Brak odczytów.';
      return;
    }
    const age = st.ageSeconds + (Date.now() - fetchedAt) / 1000;
    const stale = st.interval ? age > 3 * st.interval : st.stale;
    card.root.classList.toggle('stale', !!stale);
    card.age.replaceChildren('Ostatni odczyt: ' + P.isoToText(st.last) + ' (' + P.fmtAge(age) + ')');
    if (stale) card.age.append(P.el('span', { className: 'badge', text: 'nieaktualne' }));
    card.age.title = st.interval ? 'zwykle co ' + st.interval + ' s' : '';
  }

  async function loadSparks(card) {
    const st = card.st;
    const from = st.lastT - 86400;
    const url = '/api/table/' + encodeURIComponent(st.table) + '?from=' + P.tToIso(from) + '&to=' +
      P.tToIso(st.lastT) + '&points=' + SPARK_W;
    const d = await P.getJson(url);
    const cols = P.columns(d);
    for (const ch of st.channels) {
      const spark = card.sparks.get(ch.key);
      const j = d.channels.findIndex(c => c.key === ch.key);
      if (!spark || j < 0) continue;
      const data = [cols[0], cols[j + 1]];
      if (spark.u) {
        spark.u.setData(data);
        spark.u.setScale('x', { min: from, max: st.lastT });
        continue;
      }
      spark.u = new uPlot({
        width: SPARK_W, height: SPARK_H, tzDate: P.tzDate, pxAlign: false,
        cursor: { show: false }, legend: { show: false }, select: { show: false },
        axes: [{ show: false }, { show: false }],
        scales: { x: { time: true, range: () => [from, st.lastT] } },
        series: [{}, { stroke: P.colour(ch.index), width: 1.5, points: { show: false } }],
      }, data, spark.box);
    }
  }

  function render(data) {
    fetchedAt = Date.now();
    if (!box) {
      if (!data.stations.length) return;
      box = P.el('div', { id: 'cards', className: 'cards' });
      document.getElementById('empty').replaceWith(box, P.el('p', { id: 'status', className: 'note' }));
    }
    const seen = new Set();
    for (const st of data.stations) {
      seen.add(st.table);
      let card = cards.get(st.table);
      if (!card) {
        card = makeCard(st);
        cards.set(st.table, card);
      }
      const channelsChanged = card.st.channels.map(c => c.key).join() !==
        st.channels.map(c => c.key).join();
      card.st = st;
      if (channelsChanged || !card.tiles.childElementCount) fillTiles(card, st);
      else
        for (const ch of st.channels) {
          const n = card.tiles.querySelector('[data-key="' + ch.key + '"] .number');
          if (n) n.textContent = P.fmtNumber(st.latest[ch.key]);
        }
      showAge(card);
      box.append(card.root); // in the answer's order; moves a card that exists
      if (st.lastT !== null && st.lastT !== undefined && card.sparkFor !== st.lastT) {
        card.sparkFor = st.lastT;
        loadSparks(card).catch(e => P.showStatus('Wykres dobowy ' + st.table + ': ' + e.message));
      }
    }
    for (const el of [...box.children])
      if (!el.classList.contains('live') || !seen.has(el.dataset.table)) el.remove();
    for (const table of [...cards.keys()]) if (!seen.has(table)) cards.delete(table);
  }

  P.poll('/api/stations', P.POLL_MS, render,
    e => P.showStatus(e ? 'Nie udało się odświeżyć: ' + e : ''));
  setInterval(() => cards.forEach(showAge), 5000);
})();
