// Whole entries: the page asks for them, shows an entry of several lines as its first line with
// a "+N lines" control that opens it in place (pointer, Enter, Space), keeps it open while
// following, filters, moves and copies by entries, and shows an event's Source and Event ID.
// The logs are written as real programs write them: log4j's PatternLayout with a Java stack
// trace, Python's logging with a traceback, and the sample event tool's System and Application
// records.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { SAMPLE_BIN, choose, followTick, id, open as openIn, startLighttpd, text, workspace } from './harness.mjs';

const ws = workspace('pl-entries-');
const data = path.join(ws.tmp, 'data');
const JAVA = path.join(data, 'wendquil', 'java.log');
const PYTHON = path.join(data, 'wendquil', 'python.log');
let direct;
const open = (url, options) => openIn(ws, url, options);

// log4j 2, "%d{yyyy-MM-dd HH:mm:ss,SSS} %-5p [%t] %c{1} - %m%n": two errors with their stack
// traces, a warning between them.
const JAVA_LINES = [
  '2024-01-15 10:30:00,123 INFO  [main] App - Starting sync for Zoë',
  '2024-01-15 10:30:01,456 ERROR [worker-1] Uploader - Upload of „Bericht März.xlsx“ failed',
  'java.io.IOException: Connection reset by peer',
  '\tat java.base/sun.nio.ch.SocketDispatcher.read0(Native Method)',
  '\tat com.example.sync.Uploader.send(Uploader.java:88)',
  'Caused by: java.net.SocketException: Connection reset',
  '\t... 3 more',
  '2024-01-15 10:30:02,000 WARN  [worker-2] Uploader - Retrying in 30 s',
  '2024-01-15 10:30:03,789 ERROR [worker-2] Uploader - Upload failed again',
  'java.io.IOException: Broken pipe',
  '\tat com.example.sync.Uploader.send(Uploader.java:91)',
  '2024-01-15 10:30:04,000 INFO  [main] App - Idle',
];
const JAVA_LOG = JAVA_LINES.join('\n') + '\n';
// Python's logging, "%(asctime)s - %(name)s - %(levelname)s - %(message)s", with a traceback.
const PYTHON_LOG = [
  '2024-01-15 10:31:00,001 - sync - INFO - Reading configuration',
  '2024-01-15 10:31:00,002 - sync - ERROR - Failed to read config',
  'Traceback (most recent call last):',
  '  File "/opt/sync/main.py", line 12, in <module>',
  '    load()',
  "FileNotFoundError: [Errno 2] No such file or directory: 'Grüße.cfg'",
  '',
].join('\n');

before(async () => {
  fs.mkdirSync(path.dirname(JAVA), { recursive: true });
  fs.writeFileSync(JAVA, JAVA_LOG);
  fs.writeFileSync(PYTHON, PYTHON_LOG);
  direct = await startLighttpd(ws, 'direct', data, '', SAMPLE_BIN);
});

after(() => ws.close());

// The API's own answer, as the page asks for it.
async function apiEntries(query) {
  const r = await fetch(`${direct}/plugin_logs?${query}&multiline=1`);
  const d = await r.json();
  return d.entries || d.hits;
}

// Every row: its level, the text it shows, the control's text and aria-expanded (null for a
// row of one line).
const rows = (page) => page.$$eval('#log .ln', (rs) => rs.map((r) => {
  const more = r.querySelector('.more');
  const tl = r.querySelector('.tl') || r.querySelector('.tx');
  return [r.classList[1], tl.textContent, more ? more.textContent : null,
    more ? more.getAttribute('aria-expanded') : null];
}));
const first = (t) => t.split('\n')[0];
const others = (t) => t.split('\n').length - 1;
const label = (n) => (n ? `+${n} ${n === 1 ? 'line' : 'lines'}` : null);
const copied = (page) => page.evaluate(() => navigator.clipboard.readText());

async function copy(page) {
  await page.click('#btnCopy');
  await page.waitForFunction(() => document.getElementById('btnCopy').textContent === 'Copied');
  const t = await copied(page);
  await page.waitForFunction(() => document.getElementById('btnCopy').textContent === 'Copy');
  return t;
}

function copyLine(e) {
  const unit = e.unit + (typeof e.event_id === 'number' ? (e.unit ? ' \u00b7 ' : '') + e.event_id : '');
  return (e.ts ? e.ts + ' ' : '') + (unit ? unit + ': ' : '') + e.text;
}

test('tail and search ask for whole entries, of log files and event logs alike', async () => {
  const { context, page, reqs } = await open(direct + '/plugin_logs');
  await choose(page, JAVA);
  await page.fill('#q', 'reset');
  await page.press('#q', 'Enter');
  await page.waitForFunction(() => document.getElementById('pState').textContent === 'search');
  await page.selectOption('#srcSel', 'event:Application');
  await page.waitForFunction(() => document.getElementById('pSrc').textContent === 'Windows Application log');
  await page.fill('#q', 'fault');
  await page.press('#q', 'Enter');
  await page.waitForFunction(() => document.getElementById('pState').textContent === 'search');
  const asked = reqs.map((r) => new URL(r.url).searchParams)
    .filter((p) => p.get('action') !== 'sources')
    .map((p) => [p.get('action'), p.get('src'), p.get('multiline')]);
  for (const want of [['tail', id(JAVA)], ['search', id(JAVA)], ['tail', 'event:Application'],
    ['search', 'event:Application']]) {
    assert.ok(asked.some((a) => a[0] === want[0] && a[1] === want[1]), `${want} asked`);
  }
  assert.deepEqual(asked.filter((a) => a[2] !== '1'), [], 'every tail and search carries multiline=1');
  await context.close();
});

test('an entry of several lines shows its first line and "+N lines", which opens and closes it in place', async () => {
  const entries = await apiEntries('action=tail&src=' + encodeURIComponent(id(JAVA)));
  // The server joins each stack trace to its entry.
  assert.equal(entries.length, 5, JSON.stringify(entries));
  assert.deepEqual(entries.map((e) => others(e.text)), [0, 5, 0, 2, 0]);
  assert.ok(entries[1].text.endsWith(JAVA_LINES.slice(2, 7).join('\n')), entries[1].text);

  const { context, page } = await open(direct + '/plugin_logs');
  await choose(page, JAVA);
  assert.equal(await text(page, '#fCount'), '5 entries');
  const closed = entries.map((e) => [e.sev, first(e.text), label(others(e.text)),
    others(e.text) ? 'false' : null]);
  assert.deepEqual(await rows(page), closed);
  assert.equal(await page.locator('#log .ln.multi').count(), 2);

  await page.click('#log .ln:nth-child(2) .more');
  const opened = closed.slice();
  opened[1] = [entries[1].sev, entries[1].text, '\u22125 lines', 'true'];
  assert.deepEqual(await rows(page), opened);
  // Every line shows on a line of its own, the first one where it stood.
  const heights = await page.$eval('#log .ln:nth-child(2) .tl', (t) => [t.getBoundingClientRect().height,
    parseFloat(getComputedStyle(t).lineHeight)]);
  assert.ok(Math.abs(heights[0] - 6 * heights[1]) < 2, `six lines high: ${heights}`);
  assert.equal(await page.$eval('#log .ln:nth-child(2)', (r) => r.classList.contains('current')), true,
    'the row of the control becomes the current one');

  await page.click('#log .ln:nth-child(2) .more');
  assert.deepEqual(await rows(page), closed);
  await context.close();
});

test('Enter and Space on the focused row open and close it; Tab does not stop at every control', async () => {
  const entries = await apiEntries('action=tail&src=' + encodeURIComponent(id(JAVA)));
  const { context, page } = await open(direct + '/plugin_logs');
  await choose(page, JAVA);
  await page.focus('#log');
  const focused = () => page.evaluate(() => {
    const a = document.activeElement;
    return a.classList.contains('ln') ? [...a.parentNode.children].indexOf(a) : a.id || a.className;
  });
  const expanded = () => page.$$eval('#log .ln', (rs) => rs.map((r) => r.classList.contains('open')));
  // e goes to the first err entry; the row takes the focus.
  await page.keyboard.press('e');
  assert.equal(await focused(), 1);
  await page.keyboard.press('Enter');
  assert.deepEqual(await expanded(), [false, true, false, false, false]);
  assert.equal(await text(page, '#log .ln:nth-child(2) .tl'), entries[1].text);
  await page.keyboard.press(' ');
  assert.deepEqual(await expanded(), [false, false, false, false, false]);
  // j and k step through the rows of every level; Enter on a row of one line does nothing.
  await page.keyboard.press('j');
  assert.equal(await focused(), 2);
  await page.keyboard.press('Enter');
  await page.keyboard.press('j');
  assert.equal(await focused(), 3);
  await page.keyboard.press(' ');
  assert.deepEqual(await expanded(), [false, false, false, true, false]);
  await page.keyboard.press('k');
  await page.keyboard.press('k');
  await page.keyboard.press('Enter');
  assert.deepEqual(await expanded(), [false, true, false, true, false]);
  // The controls are for the pointer: Tab from a row leaves the log area.
  await page.keyboard.press('Tab');
  assert.notEqual(await page.evaluate(() => document.activeElement.className), 'more');
  assert.equal(await page.evaluate(() => document.getElementById('log').contains(document.activeElement)), false);
  // Keys typed into the search box stay text.
  await page.focus('#q');
  await page.keyboard.press(' ');
  assert.equal(await page.inputValue('#q'), ' ');
  assert.deepEqual(await expanded(), [false, true, false, true, false]);
  await context.close();
});

test('an open entry stays open through follow ticks and after the new-entries button', async () => {
  const grow = (n, from) => {
    let s = '';
    for (let i = from; i < from + n; i++) s += `2024-01-15 10:4${i % 10}:00,000 INFO  [main] App - tick ${i}\n`;
    fs.appendFileSync(JAVA, s);
  };
  fs.writeFileSync(JAVA, JAVA_LOG);
  grow(30, 0);
  const { context, page } = await open(direct + '/plugin_logs', { clock: true });
  await choose(page, JAVA);
  const open2 = () => page.$$eval('#log .ln.open .tl', (t) => t.map((x) => x.textContent.split('\n').length));
  await page.$eval('#log', (l) => { l.scrollTop = 0; });
  await page.click('#log .ln:nth-child(2) .more');
  await page.click('#log .ln:nth-child(4) .more');
  assert.deepEqual(await open2(), [6, 3]);
  grow(40, 30);
  await followTick(page);
  assert.equal(await text(page, '#fCount'), '75 entries');
  assert.deepEqual(await open2(), [6, 3], 'open after a tick that added entries');
  assert.equal(await page.locator('#btnNew').isVisible(), true);
  await page.click('#btnNew');
  grow(3, 70);
  await followTick(page);
  assert.deepEqual(await open2(), [6, 3], 'open after the new-entries button and another tick');
  // A tick that rebuilds the rows (the lines of the first entry changed) opens them again.
  const rewritten = fs.readFileSync(JAVA, 'utf8').replace('Starting sync', 'Started sync');
  fs.writeFileSync(JAVA, rewritten);
  await followTick(page);
  assert.match(await text(page, '#log .ln:first-child .tx'), /Started sync for Zoë/);
  assert.deepEqual(await open2(), [6, 3], 'open after the rows were rebuilt');
  // Another source starts with every entry closed.
  await choose(page, PYTHON);
  await choose(page, JAVA);
  assert.deepEqual(await open2(), []);
  await context.close();
  fs.writeFileSync(JAVA, JAVA_LOG);
});

test('the level filter, e and E, and Copy take whole entries', async () => {
  fs.writeFileSync(JAVA, JAVA_LOG);
  const entries = await apiEntries('action=tail&src=' + encodeURIComponent(id(JAVA)));
  const { context, page } = await open(direct + '/plugin_logs', { grant: true });
  await choose(page, JAVA);
  // All: every entry whole, one line of the copy per line of the log, in the log's order.
  assert.equal(await copy(page), entries.map(copyLine).join('\n'));
  assert.equal((await copy(page)).split('\n').length, JAVA_LINES.length);

  await page.click('#segLevel button[data-level="err"]');
  assert.equal(await text(page, '#fCount'), '2 entries \u00b7 2 err \u00b7 0 warn');
  assert.deepEqual((await rows(page)).map((r) => [r[0], r[2]]), [['err', '+5 lines'], ['err', '+2 lines']]);
  const errs = entries.filter((e) => e.sev === 'err');
  assert.equal(await copy(page), errs.map(copyLine).join('\n'));
  assert.ok((await copied(page)).includes('\tat com.example.sync.Uploader.send(Uploader.java:91)'));

  await page.click('#segLevel button[data-level="warn"]');
  assert.equal(await text(page, '#fCount'), '3 entries \u00b7 2 err \u00b7 1 warn');
  await page.click('#segLevel button[data-level="all"]');
  // e and E move from entry to entry: a stack trace is no row of its own.
  await page.focus('#log');
  const at = () => page.evaluate(() => [...document.querySelectorAll('#log .ln')].indexOf(document.querySelector('#log .ln.current')));
  await page.$eval('#log', (l) => { l.scrollTop = 0; });
  await page.keyboard.press('e');
  assert.equal(await at(), 1);
  await page.keyboard.press('Enter');
  await page.keyboard.press('e');
  assert.equal(await at(), 3, 'past the open entry\'s lines to the next err entry');
  await page.keyboard.press('Shift+E');
  assert.equal(await at(), 1);
  await page.keyboard.press('w');
  assert.equal(await at(), 2);
  await context.close();
});

test('a search finds an entry by any of its lines and marks them all when it is open', async () => {
  const { context, page } = await open(direct + '/plugin_logs');
  await choose(page, PYTHON);
  await page.fill('#q', 'grüße');
  await page.press('#q', 'Enter');
  await page.waitForFunction(() => / hits of /.test(document.getElementById('fCount').textContent));
  assert.match(await text(page, '#fCount'), /^1 hits of \d+ scanned/);
  assert.deepEqual((await rows(page)).map((r) => r.slice(2)), [['+4 lines', 'false']]);
  await page.click('#log .more');
  assert.deepEqual(await page.$$eval('#log mark', (m) => m.map((x) => x.textContent)), ['Grüße']);
  await page.fill('#q', 'file');
  await page.press('#q', 'Enter');
  await page.waitForFunction(() => [...document.querySelectorAll('#log mark')].some((m) => m.textContent === 'File'));
  // The hit is the same entry, still open: its marks show on every line that holds the text.
  assert.deepEqual(await page.$$eval('#log mark', (m) => m.map((x) => x.textContent)), ['File', 'File', 'file']);
  await context.close();
});

test('event rows show Source and Event ID where the unit stands; descriptions keep their lines', async () => {
  const { context, page } = await open(direct + '/plugin_logs', { grant: true });
  for (const log of ['System', 'Application']) {
    const entries = await apiEntries('action=tail&src=event:' + log);
    assert.ok(entries.every((e) => typeof e.event_id === 'number'), `${log}: ${JSON.stringify(entries[0])}`);
    await page.selectOption('#srcSel', 'event:' + log);
    await page.waitForFunction((l) => document.getElementById('pSrc').textContent === `Windows ${l} log`, log);
    const cells = await page.$$eval('#log .ln .un', (c) => c.map((x) => [x.textContent, x.title,
      x.querySelector('.vh') ? x.querySelector('.vh').textContent : null]));
    assert.deepEqual(cells, entries.map((e) => [`${e.unit} \u00b7 Event ID ${e.event_id}`,
      `Source ${e.unit}, Event ID ${e.event_id}`, 'Event ID ']), log);
    // What shows: the source and the number; the words are for screen readers only.
    const seen = await page.$eval('#log .ln .un .vh', (v) => v.getBoundingClientRect().width);
    assert.ok(seen <= 1);
    assert.deepEqual((await rows(page)).map((r) => r[2]), entries.map((e) => label(others(e.text))), log);
    assert.equal(await copy(page), entries.map(copyLine).join('\n'), `${log} copied`);
  }
  // The sample tool's records, as the server reads them.
  const app = await apiEntries('action=tail&src=event:Application');
  const crash = app.find((e) => e.event_id === 1000);
  assert.equal(crash.unit, 'Application Error');
  assert.equal(others(crash.text), 3);
  const sys = await apiEntries('action=tail&src=event:System');
  assert.ok(sys.some((e) => e.event_id === 41 && /Kernel-Power$/.test(e.unit)), JSON.stringify(sys));
  // A file row keeps its unit cell as it was.
  await choose(page, JAVA);
  assert.equal(await page.locator('#log .ln .un.ev').count(), 0);
  await context.close();
});

// The time column reads the layouts of these programs: the time as written, the rest of the
// line, and the time shown.
const TIMES = [
  ['2024-01-15T10:30:00.1234567Z', 'Service started', '2024-01-15 10:30:00'],
  ['2024-01-15 10:30:00,123', '- sync - INFO - Python logging', '2024-01-15 10:30:00'],
  ['2024-01-15 10:31:00.123 +01:00', '[INF] Serilog file sink', '2024-01-15 10:31:00'],
  ['2024/01/15 10:36:00.1234567', 'sync: seven digits of a second', '2024-01-15 10:36:00'],
  ['24/01/15 10:36:00', 'INFO SparkContext: Running Spark version 3.5.0', '2024-01-15 10:36:00'],
  ['15-Jan-2024 10:37:00.123', 'INFO [main] org.apache.catalina.startup.Catalina.start Server startup', '2024-01-15 10:37:00'],
  ['20240115 103000', 'setup: compact date and time', '2024-01-15 10:30:00'],
  ['20240115-10:30:00', 'setup: compact with a dash', '2024-01-15 10:30:00'],
  ['Jan  5 09:12:44', 'node-a cron[88]: job started', 'Jan 05 09:12:44'],
  ['Mon Jan 15 10:38:00 2024', 'ctime: daemon started', '2024-01-15 10:38:00'],
  ['Mon Jan 15 10:38:00.123456 2024', 'ctime: with microseconds', '2024-01-15 10:38:00'],
  ['01-15 10:30:00.123', ' 1234  1250 I ActivityManager: Start proc', 'Jan 15 10:30:00'],
  ['1/15/2024 10:39:00 AM', 'Wendquil Agent started', '2024-01-15 10:39:00'],
  ['1/15/2024 2:39:00 PM', 'Wendquil Agent stopped', '2024-01-15 14:39:00'],
  ['15/01/2024 10:39:01', 'en-GB: service started', '2024-01-15 10:39:01'],
  ['15.01.2024 10:39:02', 'de-DE: Dienst „Wendquil“ gestartet', '2024-01-15 10:39:02'],
];

test('the time column shows every layout it reads to the second, the full time as title', async () => {
  const TIMED = path.join(data, 'wendquil', 'times.log');
  // The line without a time comes first: after another it would carry that entry on.
  fs.writeFileSync(TIMED, 'no time on this line\n' + TIMES.map((t) => t[0] + ' ' + t[1]).join('\n') + '\n');
  const entries = await apiEntries('action=tail&src=' + encodeURIComponent(id(TIMED)));
  assert.deepEqual(entries.map((e) => e.ts), [''].concat(TIMES.map((t) => t[0])), 'the server reads every layout');
  const { context, page } = await open(direct + '/plugin_logs');
  await choose(page, TIMED);
  const cells = await page.$$eval('#log .ln .ts', (c) => c.map((x) => [x.textContent, x.title,
    x.scrollWidth <= x.clientWidth]));
  assert.deepEqual(cells, [['', '', true]].concat(TIMES.map((t) => [t[2], t[0], true])));
  await context.close();
});

// The page's half of the time column, whatever the server reads: ts values given as an answer.
test('the time column reads each layout from the ts it is given, and shows any other as written', async () => {
  const given = TIMES.map((t) => [t[0], t[2]]).concat([
    ['[Mon Jan 15 10:38:00.123456 2024]', '2024-01-15 10:38:00'],
    ['12/31/2024 23:59:59', '2024-12-31 23:59:59'],
    ['1/5/2024 12:00:00 AM', '2024-01-05 00:00:00'],
    ['2024-13-01 10:00:00', '2024-13-01 10:00:00'],
    ['Foo  5 09:12:44', 'Foo  5 09:12:44'],
    ['uptime 1234.5', 'uptime 1234.5'],
  ]);
  const { context, page } = await open(direct + '/plugin_logs', {
    prepare: (p) => p.route('**/plugin_logs?action=tail*', (r) => r.fulfill({
      contentType: 'application/json',
      body: JSON.stringify({ ok: true, label: 'mock', entries: given.map((g) => ({ ts: g[0], unit: '', sev: 'info', text: 'x' })) }),
    })),
  });
  await page.waitForFunction((n) => document.querySelectorAll('#log .ln').length === n, given.length);
  const cells = await page.$$eval('#log .ln .ts', (c) => c.map((x) => [x.title, x.textContent]));
  assert.deepEqual(cells, given);
  await context.close();
});

// An event log lists the newest first, so each new record rebuilds the rows: open entries are
// found again by what they hold. Answers given as the server writes them.
test('open entries stay open when an event log\'s rows are rebuilt with new records on top', async () => {
  const record = (i) => ({ ts: `2024-01-15T10:${String(i).padStart(2, '0')}:00.0000000Z`, unit: 'Application Error',
    sev: i % 2 ? 'err' : 'info', text: `Faulting application name: app${i}.exe\nException code: 0xc0000005`, event_id: 1000 + i });
  let newest = 5;
  const { context, page } = await open(direct + '/plugin_logs', {
    clock: true,
    prepare: (p) => p.route('**/plugin_logs?action=tail*', (r) => {
      const entries = [];
      for (let i = newest; i > 0; i--) entries.push(record(i));
      return r.fulfill({ contentType: 'application/json', body: JSON.stringify({ ok: true, label: 'Application', entries }) });
    }),
  });
  await page.waitForFunction(() => document.querySelectorAll('#log .ln').length === 5);
  assert.equal(await text(page, '#log .ln:nth-child(2) .un'), 'Application Error \u00b7 Event ID 1004');
  await page.click('#log .ln:nth-child(2) .more');
  await page.focus('#log .ln:nth-child(2)');
  newest = 7;
  await followTick(page);
  assert.deepEqual(await page.$$eval('#log .ln.open .un', (u) => u.map((x) => x.title)),
    ['Source Application Error, Event ID 1004']);
  assert.equal(await page.$eval('#log .ln.open', (r) => [...r.parentNode.children].indexOf(r)), 3);
  assert.equal(await page.evaluate(() => document.activeElement.classList.contains('open')), true,
    'the focus went with the entry');
  await page.keyboard.press('Enter');
  assert.equal(await page.locator('#log .ln.open').count(), 0);
  await context.close();
});
