// The log area's rows: readable timestamps of every shape, and follow ticks that change only
// what is new.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { SAMPLE_BIN, choose, followTick, lines, open as openIn, startLighttpd, text, workspace } from './harness.mjs';

const ws = workspace('pl-rows-');
const data = path.join(ws.tmp, 'data');
const APP = path.join(data, 'wendquil', 'app.log');
const SHAPES = path.join(data, 'wendquil', 'shapes.log');
let direct;
const open = (url, options) => openIn(ws, url, options);

before(async () => {
  fs.mkdirSync(path.dirname(APP), { recursive: true });
  fs.writeFileSync(APP, lines(300));
  // The line without a time comes first: after another it would carry that entry on.
  fs.writeFileSync(SHAPES, 'a line without any time\n' +
    'Jan 05 10:00:00 node-a cron[88]: job started\n' +
    '2024-01-15T10:30:00.123Z sync: Ünïcödé and a rather long line of text after the time\n');
  // The sample event tool gives the event shape, as the run command serves it.
  direct = await startLighttpd(ws, 'direct', data, '', SAMPLE_BIN);
});

after(() => ws.close());

// Every time cell: shown text, title, and whether it fits its column.
const cells = (page) => page.$$eval('#log .ln .ts', (c) => c.map((x) =>
  [x.textContent, x.title, x.scrollWidth <= x.clientWidth]));

test('timestamps of each shape show date and time to the second, the full text as title', async () => {
  for (const width of [1280, 480]) {
    const { context, page } = await open(direct + '/plugin_logs', { width, grant: true });
    await choose(page, SHAPES);
    assert.deepEqual(await cells(page), [
      ['', '', true],
      ['Jan 05 10:00:00', 'Jan 05 10:00:00', true],
      ['2024-01-15 10:30:00', '2024-01-15T10:30:00.123Z', true],
    ], `log file at ${width}px`);
    await page.selectOption('#srcSel', 'event:System');
    await page.waitForFunction(() => document.getElementById('pSrc').textContent === 'Windows System log');
    const events = await cells(page);
    assert.deepEqual(events[0], ['2024-01-15 10:30:00', '2024-01-15T10:30:00.1230000Z', true],
      `event log at ${width}px`);
    assert.ok(events.every((c) => c[2] && /^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$/.test(c[0])));
    // The message keeps most of a narrow row.
    const tx = await page.$eval('#log .ln .tx', (t) => t.clientWidth);
    assert.ok(tx > width / 2, `text column ${tx}px at ${width}px`);
    // Copy keeps the full timestamp, and the record's Source and Event ID.
    await page.click('#btnCopy');
    await page.waitForFunction(() => document.getElementById('btnCopy').textContent === 'Copied');
    const copied = await page.evaluate(() => navigator.clipboard.readText());
    assert.match(copied, /^2024-01-15T10:30:00\.1230000Z Service Control Manager \u00b7 7036: The Print Spooler service/);
    await context.close();
  }
});

// Records what changes in the page from now on; keeps the rows shown now.
function watch(page) {
  return page.evaluate(() => {
    window.kept = [...document.querySelectorAll('#log .ln')];
    window.changes = [];
    if (window.observer) window.observer.disconnect();
    window.observer = new MutationObserver((m) => window.changes.push(...m.map((r) => ({
      type: r.type, target: r.target.id || r.target.className || r.target.nodeName,
      added: r.addedNodes.length, removed: r.removedNodes.length,
    }))));
    window.observer.observe(document.body, { subtree: true, childList: true, attributes: true, characterData: true });
  });
}

const shown = (page) => page.$$eval('#log .ln .tx', (t) => t.map((x) => x.textContent));
const keptRows = (page) => page.evaluate(() => window.kept.filter((n) => n.isConnected).length);

test('a follow tick with nothing new leaves the page alone; new lines are added to the rows', async () => {
  const { context, page } = await open(direct + '/plugin_logs', { clock: true });
  await choose(page, APP);
  await watch(page);
  await followTick(page);
  assert.deepEqual(await page.evaluate(() => window.changes), []);

  fs.appendFileSync(APP, lines(2, 301));
  await watch(page);
  await followTick(page);
  const rows = await shown(page);
  assert.equal(rows.length, 200);
  assert.deepEqual(rows.slice(-3).map((t) => t.split(' ')[2]), ['300', '301', '302']);
  assert.equal(await keptRows(page), 198, 'the rows already shown stay');
  const changes = await page.evaluate(() => window.changes);
  assert.deepEqual(changes.filter((c) => c.target !== 'log'), [], 'only the log area changes');
  assert.equal(changes.reduce((n, c) => n + c.added, 0), 2);
  assert.equal(changes.reduce((n, c) => n + c.removed, 0), 2);
  assert.equal(await text(page, '#fCount'), '200 entries');
  await context.close();
  fs.writeFileSync(APP, lines(300));
});

test('a tick whose rows do not carry on from those shown rebuilds them in the order received', async () => {
  const row = (t) => ({ ts: '2024-01-15T10:30:00.0000000Z', unit: 'System', sev: 'info', text: t });
  const rows = [
    // name, first answer, next answer, rows kept
    ['newest first, new entries at the top', ['e3', 'e2', 'e1'], ['e5', 'e4', 'e3'], 0],
    ['more at the end, none dropped', ['a', 'b'], ['a', 'b', 'c'], 2],
    ['a log that was cut short', ['a', 'b', 'c'], ['x'], 0],
    ['repeated lines', ['a', 'a', 'a'], ['a', 'a', 'a', 'a'], 3],
    ['repeated lines sliding by one', ['a', 'b', 'a', 'b'], ['b', 'a', 'b', 'a'], 3],
  ];
  for (const [name, first, next, kept] of rows) {
    const answers = [first, next];
    const { context, page } = await open(direct + '/plugin_logs', {
      clock: true,
      prepare: (p) => p.route('**/plugin_logs?action=tail*', (r) => r.fulfill({
        contentType: 'application/json',
        body: JSON.stringify({ ok: true, label: 'mock', entries: (answers.shift() || next).map(row) }),
      })),
    });
    await page.waitForFunction((n) => document.querySelectorAll('#log .ln').length === n, first.length);
    await watch(page);
    await followTick(page);
    assert.deepEqual(await shown(page), next, name);
    assert.equal(await keptRows(page), kept, name);
    assert.equal(await text(page, '#fCount'), `${next.length} entries`, name);
    await context.close();
  }
});
