// Following a log file by cursor: each tick sends the cursor of the last answer (after=, empty
// to start over), and adds only what came after it; reset replaces the rows, continues replaces
// the last row. The first test plays the server's side from a script, exactly as the API states
// it; the second runs against the real program.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { choose, followTick, id, lines, logFixture, pause, text } from './harness.mjs';

const fx = logFixture('pl-cursor-', { 'svc.log': '' });
const SVC = fx.file('svc.log');
const open = fx.open;
before(() => fx.serve());
after(() => fx.close());

// Serilog's default file layout, with a stack trace that carries on an entry.
const e = (n, extra = '') => ({
  ts: `2024-01-15 10:30:${String(n).padStart(2, '0')}.123 +01:00`, unit: '', sev: extra ? 'err' : 'info',
  text: `[${extra ? 'ERR' : 'INF'}] Auftrag ${n} für Zoë verarbeitet${extra}`,
});
const TRACE1 = '\n   at Wendquil.Sync.Run()';
const TRACE2 = TRACE1 + '\n   at Wendquil.Sync.Main(String[] args)';

// Answers tails of svc.log from a list: each answer is checked against the after it expects.
async function scripted(page, steps) {
  const seen = [];
  await page.route((u) => u.searchParams.get('action') === 'tail' && u.searchParams.get('src') === id(SVC), (route) => {
    const q = new URL(route.request().url()).searchParams;
    seen.push(q.has('after') ? q.get('after') : null);
    const step = steps.length ? steps.shift() : null;
    const body = step ? { ok: true, action: 'tail', label: 'svc.log', src: id(SVC), kind: 'file', ...step } :
      { ok: true, label: 'svc.log', entries: [] };
    route.fulfill({ contentType: 'application/json', body: JSON.stringify(body) });
  });
  return seen;
}

const rowTexts = (page) => page.$$eval('#log .ln .tx', (t) => t.map((x) => x.textContent));
// Marks the row elements, so that a row left alone can be told from one rebuilt.
const tag = (page) => page.$$eval('#log .ln', (r) => r.forEach((x, i) => { x.dataset.was = String(i); }));
const tags = (page) => page.$$eval('#log .ln', (r) => r.map((x) => x.dataset.was ?? null));

test('a tick sends the last cursor and adds what followed it; continues replaces the last row, reset all rows', async () => {
  const { context, page } = await open(fx.direct + '/plugin_logs', { clock: true });
  const seen = await scripted(page, [
    { cursor: 'c1', reset: true, count: 2, entries: [e(1), e(2, TRACE1)] },
    { cursor: 'c2', reset: false, continues: true, count: 2, entries: [e(2, TRACE2), e(3)] },
    { cursor: 'c2', reset: false, continues: true, count: 1, entries: [e(3)] },
    { cursor: 'c3', reset: false, continues: true, count: 4, entries: [e(3), e(4), e(5), e(6)] },
    { cursor: 'r1', reset: true, count: 2, entries: [e(40), e(41)] },
  ]);
  await choose(page, SVC);
  assert.deepEqual(seen, [''], 'the first tail starts afresh');
  assert.deepEqual(await rowTexts(page), [e(1).text, e(2, TRACE1).text.split('\n')[0] + '+1 line']);
  // The entry that goes on is open when its next lines arrive: it stays open.
  await page.click('#log .ln:last-child .more');
  await tag(page);
  await followTick(page);
  assert.deepEqual(seen, ['', 'c1']);
  assert.deepEqual(await rowTexts(page), [e(1).text, e(2, TRACE2).text + '\u22122 lines', e(3).text]);
  assert.deepEqual(await tags(page), ['0', null, null], 'the first row stays, the last is replaced');
  assert.equal(await text(page, '#fCount'), '3 entries');

  // Nothing new: the last entry comes again, and nothing changes.
  await tag(page);
  await followTick(page);
  assert.deepEqual(seen, ['', 'c1', 'c2']);
  assert.deepEqual(await tags(page), ['0', '1', '2']);

  // Away from the end: the new entries are counted, the one that went on is not.
  seen.length = 0;
  await page.$eval('#log', (l) => { l.style.maxHeight = '60px'; l.style.minHeight = '0'; l.scrollTop = 0; });
  await followTick(page);
  assert.deepEqual(seen, ['c2']);
  assert.equal(await text(page, '#btnNew'), '3 new \u2193');
  assert.deepEqual((await rowTexts(page)).length, 6);

  // Rotated, truncated or a forged cursor: the server answers a full tail, which replaces all.
  await followTick(page);
  assert.deepEqual(seen, ['c2', 'c3']);
  assert.deepEqual(await rowTexts(page), [e(40).text, e(41).text]);
  await followTick(page);
  assert.deepEqual(seen, ['c2', 'c3', 'r1']);
  await context.close();
});

test('the line count, the level, the time range and a user action start over; event logs send no cursor', async () => {
  const { context, page, reqs } = await open(fx.direct + '/plugin_logs', { clock: true });
  const step = { cursor: 'cx', reset: false, count: 0, entries: [] };
  const seen = await scripted(page, [{ cursor: 'c1', reset: true, count: 1, entries: [e(1)] },
    ...Array(30).fill(step)]);
  await choose(page, SVC);
  await followTick(page);
  assert.deepEqual(seen, ['', 'c1']);
  const actions = [
    ['a line count', () => page.click('#segLines button[data-n="500"]')],
    ['a level', () => page.click('#segLevel button[data-level="warn"]')],
    ['Reload', () => page.click('#btnReload')],
  ];
  for (const [name, act] of actions) {
    const from = seen.length;
    await act();
    await pause(100);
    await followTick(page);
    assert.equal(seen[from], '', name);
    await followTick(page);
    assert.equal(seen.at(-1), 'cx', `${name}: then the cursor goes on ${JSON.stringify(seen)}`);
  }
  // A time range is read afresh every time: no cursor.
  await page.click('#segRange button[data-minutes="60"]');
  await pause(100);
  await followTick(page);
  assert.equal(seen.at(-1), null, 'a range sends no after');
  await page.click('#btnAnyTime');
  await pause(100);
  await followTick(page);
  assert.equal(seen.at(-1), 'cx', 'the range gone, following by cursor again ' + JSON.stringify(seen));
  await page.unrouteAll();
  await page.selectOption('#srcSel', 'event:System');
  await followTick(page);
  assert.ok(reqs.filter((r) => r.url.includes('event%3ASystem')).every((r) => !r.url.includes('after=')));
  await context.close();
});

// Against the real program: needs the server's cursor (keys cursor and reset in the tail).
test('the real server: the cursor travels back, appended lines arrive, a rotated log replaces the rows', async () => {
  fs.writeFileSync(SVC, lines(20));
  const { context, page, reqs } = await open(fx.direct + '/plugin_logs', { clock: true });
  const answers = [];
  page.on('response', async (r) => {
    if (r.url().includes('action=tail')) answers.push(await r.json().catch(() => null));
  });
  await choose(page, SVC);
  await pause(100);
  assert.equal(typeof answers.at(-1).cursor, 'string', 'the server sends a cursor');
  const first = answers.at(-1).cursor;
  fs.appendFileSync(SVC, lines(2, 21));
  await followTick(page);
  assert.ok(reqs.at(-1).url.endsWith('&after=' + encodeURIComponent(first)));
  assert.equal(answers.at(-1).reset, false);
  assert.equal(await text(page, '#fCount'), '22 entries');
  assert.match(await page.$eval('#log', (l) => l.lastChild.textContent), /line 22 ok/);
  // A stack trace carries on the last entry: it is replaced, grown.
  fs.appendFileSync(SVC, '   at Wendquil.Sync.Run()\n   at Wendquil.Sync.Main()\n');
  await followTick(page);
  assert.equal(answers.at(-1).continues, true);
  assert.equal(await text(page, '#fCount'), '22 entries');
  assert.match(await page.$eval('#log', (l) => l.lastChild.textContent), /line 22 ok\+2 lines/);
  // Rotated: a new file under the old name.
  fs.renameSync(SVC, SVC + '.1');
  fs.writeFileSync(SVC, lines(3, 500));
  await followTick(page);
  assert.equal(answers.at(-1).reset, true);
  assert.equal(await text(page, '#fCount'), '3 entries');
  assert.deepEqual((await rowTexts(page)).map((t) => /line (\d+)/.exec(t)[1]), ['500', '501', '502']);
  fs.rmSync(SVC + '.1');
  await context.close();
});
