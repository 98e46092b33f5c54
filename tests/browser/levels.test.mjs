// The level filter over the rows received: tails, follow ticks that append under a filter,
// searches, Copy, and a filter that leaves nothing to show.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { choose, followTick, lines, logFixture, text } from './harness.mjs';

const fx = logFixture('pl-levels-', {
  'quiet.log': 'Jan 05 10:00:00 host cron[1]: nothing to report\n' +
    'Jan 05 10:00:01 host cron[1]: все в порядке\n',
});
const APP = fx.app;
const QUIET = fx.file('quiet.log');
const open = fx.open;

before(() => fx.serve());
after(() => fx.close());

const level = (page, name) => page.click(`#segLevel button[data-level="${name}"]`);
const sevs = (page) => page.$$eval('#log .ln', (r) => [...new Set(r.map((x) => x.classList[1]))].sort());
// The line numbers of the rows shown.
const numbers = (page) => page.$$eval('#log .ln .tx', (t) => t.map((x) => Number(x.textContent.split(' ')[2])));

test('Warn+ and Err show only those rows of the tail, with the levels in the count, and ask nothing new', async () => {
  const { context, page, reqs } = await open(fx.direct + '/plugin_logs');
  await choose(page, APP);
  const asked = reqs.length;
  // Lines 101 to 300: every tenth is an error, every other seventh a warning.
  const rows = [
    ['warn', '45 entries \u00b7 20 err \u00b7 25 warn', ['err', 'warn']],
    ['err', '20 entries \u00b7 20 err \u00b7 0 warn', ['err']],
    ['all', '200 entries', ['err', 'info', 'warn']],
  ];
  for (const [name, count, shown] of rows) {
    await level(page, name);
    assert.equal(await text(page, '#fCount'), count, name);
    assert.deepEqual(await sevs(page), shown, name);
    assert.deepEqual(await page.$$eval('#segLevel button', (b) => b.map((x) =>
      [x.dataset.level, x.classList.contains('on'), x.getAttribute('aria-pressed')])),
    ['all', 'warn', 'err'].map((l) => [l, l === name, String(l === name)]), name);
  }
  assert.equal(reqs.length, asked, 'the filter needs no request');
  await context.close();
});

test('following keeps the filter: new rows are appended to the filtered ones and counted', async () => {
  fs.writeFileSync(APP, lines(300));
  const { context, page } = await open(fx.direct + '/plugin_logs', { clock: true, grant: true });
  await choose(page, APP);
  await level(page, 'err');
  await page.evaluate(() => { window.kept = [...document.querySelectorAll('#log .ln')]; });
  // 301 and 308 are warnings, 310 an error; line 110 leaves the 200-line tail.
  fs.appendFileSync(APP, lines(10, 301));
  await followTick(page);
  const shown = await numbers(page);
  assert.deepEqual(shown.slice(0, 2), [120, 130]);
  assert.equal(shown.at(-1), 310);
  assert.equal(await text(page, '#fCount'), '20 entries \u00b7 20 err \u00b7 0 warn');
  assert.equal(await page.evaluate(() => window.kept.filter((n) => n.isConnected).length), 19,
    'the rows already shown stay');
  assert.deepEqual(await sevs(page), ['err']);
  const pos = await page.$eval('#log', (l) => l.scrollHeight - l.scrollTop - l.clientHeight);
  assert.ok(pos < 2, 'at the end, the view follows the filtered rows');
  // Copy takes the rows shown.
  await page.click('#btnCopy');
  await page.waitForFunction(() => document.getElementById('btnCopy').textContent === 'Copied');
  const copied = (await page.evaluate(() => navigator.clipboard.readText())).split('\n');
  assert.equal(copied.length, 20);
  assert.ok(copied.every((l) => / error: disk failed$/.test(l)), copied[0]);
  assert.equal(copied.at(-1), '2026-12-09T08:10:00Z app: line 310 error: disk failed');
  await context.close();
  fs.writeFileSync(APP, lines(300));
});

test('a search keeps the filter; its marks and hit summary stay', async () => {
  const { context, page } = await open(fx.direct + '/plugin_logs');
  await choose(page, APP);
  await level(page, 'warn');
  await page.fill('#q', 'LINE 2');
  await page.press('#q', 'Enter');
  await page.waitForFunction(() => / hits of /.test(document.getElementById('fCount').textContent));
  // Hits: lines 2, 20 to 29, 200 to 299; of them warn or err: 20, 21, 28 and the 200s.
  assert.equal(await text(page, '#fCount'), '25 hits of 300 scanned \u00b7 searched 11.9 KiB of 11.9 KiB \u00b7 11 err \u00b7 14 warn');
  assert.deepEqual(await sevs(page), ['err', 'warn']);
  assert.deepEqual((await numbers(page)).slice(0, 4), [20, 21, 28, 200]);
  assert.deepEqual(await page.$$eval('#log .ln mark', (m) => [...new Set(m.map((x) => x.textContent))]), ['line 2']);
  await level(page, 'all');
  assert.equal(await text(page, '#fCount'), '111 hits of 300 scanned \u00b7 searched 11.9 KiB of 11.9 KiB');
  assert.equal(await page.locator('#log .ln mark').count(), 111);
  await context.close();
});

test('a filter that leaves no row says so; All shows them again', async () => {
  const { context, page } = await open(fx.direct + '/plugin_logs');
  await choose(page, QUIET);
  await level(page, 'err');
  assert.equal(await text(page, '#log'), 'None of the 2 entries is err.');
  assert.equal(await text(page, '#fCount'), '0 entries \u00b7 0 err \u00b7 0 warn');
  await level(page, 'warn');
  assert.equal(await text(page, '#log'), 'None of the 2 entries is warn or err.');
  await page.fill('#q', 'порядке');
  await page.press('#q', 'Enter');
  await page.waitForFunction(() => / hits of /.test(document.getElementById('fCount').textContent));
  assert.equal(await text(page, '#log'), 'None of the 1 hits is warn or err.');
  await level(page, 'all');
  assert.equal(await text(page, '#log .ln .tx'), 'все в порядке');
  assert.equal(await text(page, '#log .ln .tx mark'), 'порядке');
  assert.equal(await text(page, '#fCount'), '1 hits of 2 scanned \u00b7 searched 103 B of 103 B');
  await context.close();
});
