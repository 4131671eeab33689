'use strict';
// The status page. It asks the monitor's API once a second (a poll cycle on
// the line takes longer, so no cycle is missed), fills the panels in place,
// and draws trends from the history. Every text from the device is set as
// text, never as markup.
(function () {
  const POLL_MS = 1000;
  const ALARMS_EVERY_MS = 10000;  // also fetched whenever a cycle completed
  const TREND_REFRESH_MS = 30000;
  const DASH = '\u2014';

  // What each kind of child shows: label, field path, unit, decimals. The
  // record names the units of the voltages, currents and the frequency; the
  // battery and rectifier values carry the protocol's usual meaning.
  // The fifth column names the value's alarm state in the record: a value
  // whose state is not 0 (too low, too high, phase lost) is highlighted.
  const AC_SCREEN = [
    ['Phase A current', 'ia', 'A', 1, 'ia_alert'], ['Phase B current', 'ib', 'A', 1, 'ib_alert'],
    ['Phase C current', 'ic', 'A', 1, 'ic_alert'],
  ];
  const AC_CHANNEL = [
    ['A', 'a', 'V', 1, 'a_alert'], ['B', 'b', 'V', 1, 'b_alert'], ['C', 'c', 'V', 1, 'c_alert'],
    ['Frequency', 'f', 'Hz', 2, 'f_alert'],
  ];
  const DC_SCREEN = [['Bus voltage', 'v', 'V', 2, 'v_alarm'], ['Load current', 'i', 'A', 1]];
  // Battery values: array field, its count field, label, unit.
  const DC_BATTERY = [
    ['m_values', 'dc_m', 'Battery current', 'A', 1], ['n_values', 'dc_n', 'Battery temperature', '\u00b0C', 1],
  ];
  const RC_GROUP = [['Output voltage', 'group_value', 'V', 2]];
  const RC_MODULE = [['Output current', 'module_value', 'A', 1]];
  const ARRAY_CAPACITY = 6;  // battery values the record keeps at most
  const KIND = { 'trm27k-ac': 'AC distribution', 'trm27k-dc': 'DC distribution', 'trm27k-rc': 'Rectifiers' };

  const $ = (id) => document.getElementById(id);
  let lastSeq = -1;
  let lastLayout = '';
  let lastAlarmsAt = 0;
  let trend = null;  // {set, range, chart}
  let lastState = null;
  let lastAlarms = null;

  function el(tag, text, className) {
    const e = document.createElement(tag);
    if (text !== undefined) e.textContent = text;
    if (className) e.className = className;
    return e;
  }

  // A value with its unit, or the dash when the device did not provide it.
  function show(value, unit, decimals) {
    if (typeof value !== 'number' || !isFinite(value)) return DASH;
    return value.toFixed(decimals) + '\u00a0' + unit;
  }

  function duration(seconds) {
    if (typeof seconds !== 'number') return '';
    if (seconds < 90) return Math.round(seconds) + '\u00a0s';
    if (seconds < 5400) return Math.round(seconds / 60) + '\u00a0min';
    if (seconds < 172800) return (seconds / 3600).toFixed(1) + '\u00a0h';
    return (seconds / 86400).toFixed(1) + '\u00a0d';
  }

  async function getJson(path) {
    const res = await fetch(path, { cache: 'no-store' });
    if (!res.ok) throw new Error(path + ': ' + res.status);
    return res.json();
  }

  // ---- overview ----
  const linkWord = (s) => (!s.link_up ? 'down' : s.stalled ? 'stalled' : 'up');

  function renderOverview(state) {
    $('site').textContent = state.site;
    $('model').textContent = state.model ? state.model : '';
    document.title = state.site + ' \u2013 trm27k';
    const link = $('link');
    const systems = state.devices || [];
    if (systems.length > 1) {
      // Several power systems: each one's own line, the worst colouring the fact.
      const words = systems.map(linkWord);
      link.textContent = systems.map((d, k) => d.name + ' ' + words[k]).join(', ');
      link.className = 'state ' + (words.includes('down') ? 'down' : words.includes('stalled') ? 'stalled' : 'up');
    } else {
      const word = linkWord(state);
      const since = state.availability_age_s;
      link.textContent = since === null ? word : word + ' for ' + duration(since);
      link.className = 'state ' + word;
    }
    // The broker's state, only when the monitor publishes to one.
    const hasUplink = 'mqtt_connected' in state;
    $('uplink-fact').hidden = !hasUplink;
    if (hasUplink) {
      $('uplink').textContent = state.mqtt_connected ? 'connected' : 'unreachable';
      $('uplink').className = 'state ' + (state.mqtt_connected ? 'up' : 'down');
    }
    $('cycle').textContent = state.time
      ? state.time.replace('T', ' ') + ' (took ' + state.cycle_seconds.toFixed(2) + '\u00a0s, ' +
        duration(state.cycle_age_s) + ' ago)'
      : 'none yet';
  }

  // ---- the status banner ----
  // One line on the whole site: grey when its values are not current, else
  // red or amber with the most severe active alarm, else green.
  function renderBanner() {
    const banner = $('status-banner');
    if (!lastState) return;
    const state = lastState;
    const current = state.link_up && !state.stalled && state.children.length > 0 &&
      state.children.every((c) => !c.stale);
    const active = lastAlarms ? lastAlarms.active.slice().sort(bySeverity) : [];
    let kind = 'normal';
    let text = 'All normal';
    if (!current) {
      kind = 'nodata';
      text = state.time ? 'No data since ' + state.time.replace('T', ' ') : 'No data yet';
    } else if (active.length > 0) {
      const worst = active[0];
      kind = worst.level === 1 ? 'critical' : 'warning';
      const more = active.length > 1 ? ' (+' + (active.length - 1) + ' more)' : '';
      text = 'Level ' + worst.level + ' alarm: ' + (worst.name_en || worst.name) + more;
    }
    banner.textContent = text;
    banner.className = 'status ' + kind;
  }

  // ---- the children's panels ----
  function valueCell(row, key, unit, decimals, alert) {
    const td = el('td', DASH, 'num');
    td.dataset.field = key;
    if (alert) td.dataset.alert = alert;
    td.dataset.unit = unit;
    td.dataset.decimals = decimals;
    row.appendChild(td);
  }

  function pairTable(rows, dataId) {
    const table = el('table');
    for (const [label, field, unit, decimals, alert] of rows) {
      const tr = el('tr');
      tr.appendChild(el('th', label));
      valueCell(tr, dataId + ':' + field, unit, decimals, alert);
      table.appendChild(tr);
    }
    return table;
  }

  function gridTable(heads, count, rowLabel, cells) {
    const table = el('table');
    const head = el('tr');
    for (const h of heads) head.appendChild(el('th', h));
    table.appendChild(head);
    for (let k = 0; k < count; ++k) {
      const tr = el('tr');
      tr.appendChild(el('th', rowLabel(k)));
      cells(tr, k);
      table.appendChild(tr);
    }
    return table;
  }

  function acPanel(child, values, panel) {
    panel.appendChild(pairTable(AC_SCREEN, child.data_id));
    const channels = (values.channels || []).length;
    panel.appendChild(gridTable(['Channel'].concat(AC_CHANNEL.map((c) => c[0])), channels, (k) => String(k + 1),
      (tr, k) => {
        for (const [, field, unit, decimals, alert] of AC_CHANNEL) {
          valueCell(tr, child.data_id + ':channels.' + k + '.' + field, unit, decimals, 'channels.' + k + '.' + alert);
        }
      }));
  }

  function dcPanel(child, values, panel) {
    panel.appendChild(pairTable(DC_SCREEN, child.data_id));
    for (const [field, countField, label, unit, decimals] of DC_BATTERY) {
      const count = Math.min(values[countField] || 0, ARRAY_CAPACITY);
      if (count === 0) continue;
      const rows = [];
      for (let k = 0; k < count; ++k) rows.push([label + ' ' + (k + 1), field + '.' + k, unit, decimals]);
      panel.appendChild(pairTable(rows, child.data_id));
    }
  }

  function rcPanel(child, values, panel) {
    panel.appendChild(pairTable(RC_GROUP, child.data_id));
    const modules = (values.modules || []).length;
    panel.appendChild(gridTable(['Module'].concat(RC_MODULE.map((c) => c[0]), ['State']), modules,
      (k) => String(k + 1), (tr, k) => {
        for (const [, field, unit, decimals] of RC_MODULE) {
          valueCell(tr, child.data_id + ':modules.' + k + '.' + field, unit, decimals);
        }
        const state = el('td', DASH);
        state.dataset.fault = child.data_id + ':' + k;
        tr.appendChild(state);
      }));
  }

  const PANELS = { 'trm27k-ac': acPanel, 'trm27k-dc': dcPanel, 'trm27k-rc': rcPanel };

  // The panels are built again only when the site's shape changed (a child,
  // a channel or a battery value more or less); otherwise only texts change.
  function layoutKey(children) {
    return children.map((c) => {
      const v = c.values || {};
      return [c.data_id, c.device, c.system, (v.channels || v.modules || []).length, v.dc_m, v.dc_n].join('/');
    }).join(',');
  }

  function buildPanels(children) {
    const severalSystems = new Set(children.map((c) => c.system)).size > 1;
    const box = $('children');
    box.replaceChildren();
    for (const child of children) {
      const build = PANELS[child.device];
      if (!build) continue;
      const panel = el('article', undefined, 'panel');
      panel.dataset.child = child.data_id;
      panel.dataset.device = child.device;
      // With several power systems each panel says whose it is.
      const owner = severalSystems && child.system ? child.system + ' \u00b7 ' : '';
      const title = el('h2', owner + (KIND[child.device] || child.device) + ' ');
      title.appendChild(el('span', child.data_id, 'quiet'));
      panel.appendChild(title);
      build(child, child.values || {}, panel);
      panel.appendChild(el('p', '', 'quiet updated')).dataset.updated = child.data_id;
      box.appendChild(panel);
    }
  }

  // The value at a path such as "channels.0.a" or "m_values.1".
  function valueAt(values, path) {
    let v = values;
    for (const part of path.split('.')) {
      if (v === null || v === undefined) return undefined;
      v = v[part];
    }
    return v;
  }

  function fillPanels(children) {
    const byId = new Map(children.map((c) => [String(c.data_id), c]));
    for (const td of document.querySelectorAll('#children td[data-field]')) {
      const [id, path] = td.dataset.field.split(/:(.*)/s);
      const child = byId.get(id);
      const value = child ? valueAt(child.values || {}, path) : undefined;
      td.textContent = show(value, td.dataset.unit, Number(td.dataset.decimals));
      const alert = child && td.dataset.alert ? valueAt(child.values || {}, td.dataset.alert) : 0;
      td.classList.toggle('alarm', typeof alert === 'number' && alert !== 0);
    }
    // Values past the children's freshness are greyed, with their age.
    for (const panel of document.querySelectorAll('#children [data-child]')) {
      const child = byId.get(panel.dataset.child);
      panel.classList.toggle('stale', Boolean(child && child.stale));
    }
    for (const td of document.querySelectorAll('#children td[data-fault]')) {
      const [id, k] = td.dataset.fault.split(':');
      const child = byId.get(id);
      const module = child ? valueAt(child.values || {}, 'modules.' + k) : undefined;
      const fault = module && module.fault === 1;
      td.textContent = module ? (fault ? 'fault' : 'normal') : DASH;
      td.className = fault ? 'fault' : '';
    }
    for (const p of document.querySelectorAll('#children [data-updated]')) {
      const child = byId.get(p.dataset.updated);
      const age = child && child.stale ? ' (' + duration(child.age_s) + ' ago, no longer current)' : '';
      p.textContent = child && child.time ? 'Updated ' + child.time.replace('T', ' ') + age : '';
    }
  }

  // ---- alarms ----
  function levelCell(level) {
    const td = el('td');
    td.appendChild(el('span', String(level), 'level level-' + level));
    return td;
  }

  // The English name, with the device's own text beneath it.
  function nameCell(alarm) {
    const td = el('td', alarm.name_en || alarm.name);
    if (alarm.name_en) td.appendChild(el('div', alarm.name, 'quiet device-text'));
    return td;
  }

  // Level 1 is the most severe; within a level the newest first.
  const bySeverity = (a, b) => a.level - b.level || (a.raised < b.raised ? 1 : a.raised > b.raised ? -1 : 0);

  function renderAlarms(alarms) {
    const active = alarms.active.slice().sort(bySeverity);
    const body = $('active-alarms');
    body.replaceChildren();
    const counts = new Map();
    for (const a of active) {
      counts.set(a.level, (counts.get(a.level) || 0) + 1);
      const tr = el('tr');
      tr.dataset.key = a.data_id + ':' + a.key;
      tr.append(levelCell(a.level), nameCell(a), el('td', a.detail), el('td', a.raised.replace('T', ' ')));
      body.appendChild(tr);
    }
    $('no-alarms').hidden = active.length > 0;
    const levels = Array.from(counts.keys()).sort((a, b) => a - b);
    $('alarm-counts').textContent = levels.length === 0 ? 'none'
      : levels.map((l) => counts.get(l) + ' \u00d7 level ' + l).join(', ');
    const recent = $('recent-alarms');
    recent.replaceChildren();
    for (const r of alarms.recent || []) {
      const tr = el('tr', undefined, r.state);
      tr.append(el('td', r.time.replace('T', ' ')), el('td', r.state), levelCell(r.level), nameCell(r),
        el('td', r.detail));
      recent.appendChild(tr);
    }
    const note = $('no-recent');
    note.hidden = (alarms.recent || []).length > 0;
    note.textContent = 'recent' in alarms ? 'No raise or clear recorded yet.'
      : 'Nothing recorded: the alarm history needs --history FILE.';
  }

  // ---- trends ----
  // The sets of values one chart shows together, from the site's children.
  function trendSets(children) {
    const sets = [];
    const add = (child, label, fields, unit) => sets.push({ id: child.data_id, label, fields, unit });
    for (const c of children) {
      const v = c.values || {};
      if (c.device === 'trm27k-ac') {
        (v.channels || []).forEach((_, k) => {
          const at = 'channels.' + k + '.';
          add(c, 'AC ' + c.data_id + ' channel ' + (k + 1) + ': phase voltages', [at + 'a', at + 'b', at + 'c'], 'V');
          add(c, 'AC ' + c.data_id + ' channel ' + (k + 1) + ': frequency', [at + 'f'], 'Hz');
        });
        add(c, 'AC ' + c.data_id + ': phase currents', ['ia', 'ib', 'ic'], 'A');
      } else if (c.device === 'trm27k-dc') {
        add(c, 'DC ' + c.data_id + ': bus voltage', ['v'], 'V');
        add(c, 'DC ' + c.data_id + ': load current', ['i'], 'A');
        if (v.dc_m > 0) add(c, 'DC ' + c.data_id + ': battery currents', ['m_values'], 'A');
        if (v.dc_n > 0) add(c, 'DC ' + c.data_id + ': battery temperatures', ['n_values'], '\u00b0C');
      } else if (c.device === 'trm27k-rc') {
        add(c, 'Rectifiers: output voltage', ['group_value'], 'V');
        const modules = (v.modules || []).map((_, k) => 'modules.' + k + '.module_value');
        if (modules.length > 0) add(c, 'Rectifiers: module output currents', modules, 'A');
      }
    }
    return sets;
  }

  function fillTrendChoices(children) {
    const select = $('trend-series');
    const chosen = select.value;
    select.replaceChildren();
    trendSets(children).forEach((set, k) => {
      const option = el('option', set.label);
      option.value = String(k);
      option.set = set;
      select.appendChild(option);
    });
    if (chosen && select.querySelector('option[value="' + chosen + '"]')) select.value = chosen;
  }

  // Times come as the board's local time with its offset: the clock part is
  // handled as UTC here and shown as UTC, so the chart shows the board's clock
  // whatever the browser's zone.
  const boardMs = (text) => Date.parse(text.slice(0, 19) + 'Z');
  const boardText = (ms) => new Date(ms).toISOString().slice(0, 19);

  // The rows of one field, thinned on the board to about 700 per range.
  async function fieldSeries(set, field, since, range) {
    const step = Math.max(1, Math.round(range / 700));
    const answer = await getJson('/api/history?data_id=' + set.id + '&field=' + encodeURIComponent(field) +
      '&since=' + since + '&step=' + step + '&limit=1000');
    return answer.rows;
  }

  function seriesLabel(field) {
    const tail = field.split('.');
    if (field.startsWith('channels.')) return tail[2].toUpperCase();
    if (field.startsWith('modules.')) return 'module ' + (Number(tail[1]) + 1);
    return field;
  }

  // Rows of all fields merged by time: [Date, value, ...]; an array field
  // gives one series per element.
  function mergeSeries(fields, answers) {
    const labels = ['Time'];
    const columns = [];
    answers.forEach((rows, k) => {
      const width = rows.reduce((n, r) => Math.max(n, Array.isArray(r.value) ? r.value.length : 1), 1);
      const isArray = rows.some((r) => Array.isArray(r.value));
      for (let j = 0; j < width; ++j) {
        labels.push(isArray ? seriesLabel(fields[k]) + ' ' + (j + 1) : seriesLabel(fields[k]));
        columns.push({ rows, j, isArray });
      }
    });
    const byTime = new Map();
    columns.forEach((col, c) => {
      for (const r of col.rows) {
        const v = col.isArray ? (Array.isArray(r.value) ? r.value[col.j] : null) : r.value;
        if (!byTime.has(r.time)) byTime.set(r.time, new Array(columns.length).fill(null));
        byTime.get(r.time)[c] = typeof v === 'number' ? v : null;
      }
    });
    const data = Array.from(byTime.keys()).sort().map((t) => [new Date(boardMs(t))].concat(byTime.get(t)));
    return { labels, data };
  }

  async function drawTrend(set, range, boardNow) {
    const note = $('trend-note');
    note.textContent = 'Loading\u2026';
    const since = boardText(boardMs(boardNow) - range * 1000);
    let answers;
    try {
      answers = await Promise.all(set.fields.map((f) => fieldSeries(set, f, since, range)));
    } catch (e) {
      note.textContent = /404/.test(String(e)) ? 'No history: start the monitor with --history FILE.'
        : 'The history cannot be read now (' + e.message + ').';
      return;
    }
    const { labels, data } = mergeSeries(set.fields, answers);
    if (data.length === 0) {
      note.textContent = 'No values in this range yet.';
      return;
    }
    const options = {
      labels, labelsUTC: true, ylabel: set.unit, legend: 'always', connectSeparatedPoints: false,
      drawPoints: data.length < 60, strokeWidth: 1.5, animatedZooms: false,
    };
    if (trend && trend.chart) trend.chart.destroy();
    trend = { set, range, chart: new Dygraph($('trend-chart'), data, options) };
    note.textContent = set.label + ' (' + set.unit + '), ' + data.length + ' points since ' +
      since.replace('T', ' ');
  }

  // ---- the loop ----
  let boardNow = '';

  async function refresh() {
    let state;
    try {
      state = await getJson('/api/state');
      $('offline').hidden = true;
    } catch (e) {
      $('offline').hidden = false;
      return;
    }
    renderOverview(state);
    lastState = state;
    renderBanner();
    if (state.time) boardNow = state.time;
    const layout = layoutKey(state.children);
    if (layout !== lastLayout) {
      buildPanels(state.children);
      fillTrendChoices(state.children);
      lastLayout = layout;
    }
    fillPanels(state.children);
    // When the page first shows the site's values (docs/performance.md).
    if (state.children.length > 0 && performance.getEntriesByName('values-shown').length === 0) {
      performance.mark('values-shown');
    }
    const now = Date.now();
    if (state.seq !== lastSeq || now - lastAlarmsAt > ALARMS_EVERY_MS) {
      lastSeq = state.seq;
      lastAlarmsAt = now;
      try {
        lastAlarms = await getJson('/api/alarms');
        renderAlarms(lastAlarms);
        renderBanner();
      } catch (e) {
        $('offline').hidden = false;
      }
    }
  }

  async function loop() {
    await refresh();
    setTimeout(loop, POLL_MS);
  }

  $('trend-form').addEventListener('submit', (event) => {
    event.preventDefault();
    const option = $('trend-series').selectedOptions[0];
    const range = Number(event.submitter ? event.submitter.value : 3600);
    if (option && boardNow) drawTrend(option.set, range, boardNow);
  });
  setInterval(() => {
    if (trend && boardNow) drawTrend(trend.set, trend.range, boardNow);
  }, TREND_REFRESH_MS);

  // For tests and for a look from the browser's console.
  window.trm27kPage = { chart: () => (trend ? trend.chart : null), drawTrend: (k, range) => {
    const option = $('trend-series').options[k];
    return option ? drawTrend(option.set, range, boardNow) : Promise.resolve();
  } };
  loop();
})();
