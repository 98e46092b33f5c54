// A log file searched whole, newest hits first, in steps: "Older matches" asks for the step
// before the hits shown, puts its hits above them and keeps the view where it was; the footer
// says how far the search has looked. An event log is searched as before.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { choose, logFixture, text } from './harness.mjs';

// log4net's and log4j's PatternLayout "%date [%thread] %-5level %logger - %message%newline":
// 1300 orders, one line each, so that a search for "order" takes three steps of at most 500.
function orders(n) {
  let s = '';
  for (let i = 1; i <= n; i++) {
    const t = `${String(10 + Math.floor(i / 3600)).padStart(2, '0')}:${String(Math.floor(i / 60) % 60).padStart(2, '0')}:${String(i % 60).padStart(2, '0')}`;
    s += `2024-01-15 ${t},000 [4] INFO  App.Orders - Bestellung ${i} für Zoë platziert (order ${i})\n`;
  }
  return s;
}

const ORDERS = orders(1300);
const fx = logFixture('pl-older-', { 'orders.log': ORDERS });
const open = fx.open;
before(() => fx.serve());
after(() => fx.close());

const binary = (n) => {
  const units = ['B', 'KiB', 'MiB', 'GiB'];
  let i = 0;
  while (n >= 1024 && i < units.length - 1) { n /= 1024; i++; }
  return (i ? n.toFixed(1) : String(n)) + ' ' + units[i];
};
const numbers = (page) => page.$$eval('#log .ln .tx', (t) => t.map((x) => Number(/order (\d+)/.exec(x.textContent)?.[1])));

const frames = (page) => page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));

async function search(page, q) {
  await page.fill('#q', q);
  await page.press('#q', 'Enter');
  await page.waitForFunction(() => / hits of /.test(document.getElementById('fCount').textContent));
}

test('older matches go above the hits shown, the view stays, until the start of the file', async () => {
  const { context, page, reqs } = await open(fx.direct + '/plugin_logs');
  await choose(page, fx.file('orders.log'));
  await search(page, 'ORDER');
  const first = reqs.filter((r) => r.url.includes('action=search'));
  assert.equal(first.length, 1);
  const q = new URL(first[0].url).searchParams;
  assert.equal(q.get('scope'), 'file');
  assert.equal(q.get('multiline'), '1');
  assert.equal(q.get('before'), null, 'the first step starts at the end');
  // The newest 500, oldest first.
  let shown = await numbers(page);
  assert.equal(shown.length, 500);
  assert.deepEqual([shown[0], shown.at(-1)], [801, 1300]);
  const size = Buffer.byteLength(ORDERS);
  const foot1 = await text(page, '#fCount');
  assert.match(foot1, new RegExp(`^500 hits of 500 scanned \u00b7 searched ([\\d.]+ KiB) of ${binary(size).replace('.', '\\.')}$`));
  assert.equal(await page.locator('#btnOlder').isVisible(), true);

  // From the middle of the view: the rows in view stay where they are.
  await page.$eval('#log', (l) => { l.scrollTop = l.scrollHeight / 2; });
  // Rows drawn for the first time take their real height a frame later.
  await frames(page);
  const anchor = () => page.evaluate(() => {
    const log = document.getElementById('log'), box = log.getBoundingClientRect();
    const row = [...log.children].find((r) => r.getBoundingClientRect().top >= box.top);
    return [row.textContent, Math.round(row.getBoundingClientRect().top - box.top)];
  });
  const held = await anchor();
  const answered = page.waitForResponse((r) => r.url().includes('before='));
  await page.click('#btnOlder');
  await answered;
  await page.waitForFunction(() => document.querySelectorAll('#log .ln').length === 1000);
  const older = new URL(reqs.at(-1).url).searchParams;
  assert.equal(older.get('scope'), 'file');
  assert.ok(Number(older.get('before')) > 0 && Number(older.get('before')) < size, older.get('before'));
  await frames(page);
  assert.deepEqual(await anchor(), held, 'the view did not move');
  shown = await numbers(page);
  assert.deepEqual([shown[0], shown[499], shown[500], shown.at(-1)], [301, 800, 801, 1300]);

  await page.click('#btnOlder');
  await page.waitForFunction(() => document.querySelectorAll('#log .ln').length === 1300);
  shown = await numbers(page);
  assert.deepEqual(shown, Array.from({ length: 1300 }, (_, i) => i + 1), 'every hit once, in file order');
  // The start of the file: nothing older, and the whole file searched.
  assert.equal(await page.locator('#btnOlder').isVisible(), false);
  assert.equal(await text(page, '#fCount'), `1300 hits of 1300 scanned \u00b7 searched ${binary(size)} of ${binary(size)}`);
  // A new search starts at the end again.
  await search(page, 'order 12');
  assert.equal(new URL(reqs.at(-1).url).searchParams.get('before'), null);
  assert.equal(await page.locator('#log .ln').count(), 111);
  assert.equal(await page.locator('#btnOlder').isVisible(), false);
  await context.close();
});

test('a failed step keeps the hits shown and says why; the tail hides the button', async () => {
  const { context, page } = await open(fx.direct + '/plugin_logs');
  await choose(page, fx.file('orders.log'));
  await search(page, 'order');
  await page.route((u) => u.search.includes('before='), (r) => r.fulfill({
    contentType: 'application/json',
    body: JSON.stringify({ ok: false, error: 'invalid_before', message: 'before must be a byte offset within the file', before: '1' }),
  }));
  await page.click('#btnOlder');
  await page.waitForFunction(() => document.getElementById('fNote').textContent === 'before must be a byte offset within the file');
  assert.equal(await page.locator('#log .ln').count(), 500);
  assert.equal(await page.locator('#btnOlder').isVisible(), true, 'it can be tried again');
  await page.fill('#q', '');
  await page.press('#q', 'Enter');
  await page.waitForFunction(() => document.getElementById('fCount').textContent === '200 entries');
  assert.equal(await page.locator('#btnOlder').isVisible(), false);
  await context.close();
});

test('event logs search as before: no scope, no steps', async () => {
  const { context, page, reqs } = await open(fx.direct + '/plugin_logs');
  await page.waitForFunction(() => document.querySelector("#srcSel option[value='event:System']"));
  await page.selectOption('#srcSel', 'event:System');
  await page.fill('#q', 'disk');
  const answered = page.waitForResponse((r) => r.url().includes('action=search'));
  await page.press('#q', 'Enter');
  await answered;
  const q = new URL(reqs.filter((r) => r.url.includes('action=search')).at(-1).url).searchParams;
  assert.equal(q.get('scope'), null);
  assert.equal(q.get('before'), null);
  assert.equal(await page.locator('#btnOlder').isVisible(), false);
  await context.close();
});
