// The "N new" button: entries that following added while the view was away from the end where
// they arrive (the bottom of a log file's tail, the top of an event log's).
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { choose, followTick, lines, logFixture, text } from './harness.mjs';

const fx = logFixture('pl-newrows-');
const APP = fx.app;
const open = fx.open;

before(() => fx.serve());
after(() => fx.close());

// The button's text, or null while hidden, and which edge of the log area it sits at.
const button = (page) => page.evaluate(() => {
  const b = document.getElementById('btnNew');
  if (b.hidden || !b.offsetParent) return null;
  const r = b.getBoundingClientRect(), l = document.getElementById('log').getBoundingClientRect();
  return [b.textContent, r.bottom <= l.bottom && l.bottom - r.bottom < 30 ? 'bottom' :
    r.top >= l.top && r.top - l.top < 30 ? 'top' : 'elsewhere'];
});
const fromEnd = (page) => page.$eval('#log', (l) => l.scrollHeight - l.scrollTop - l.clientHeight);
const toTop = (page) => page.$eval('#log', (l) => { l.scrollTop = 0; });

async function grow(page, n, from) {
  fs.appendFileSync(APP, lines(n, from));
  await followTick(page);
}

test('entries added above the end are counted on a button at the bottom; a click goes to the end', async () => {
  fs.writeFileSync(APP, lines(300));
  const { context, page } = await open(fx.direct + '/plugin_logs', { clock: true });
  await choose(page, APP);
  await grow(page, 2, 301);
  assert.equal(await button(page), null, 'at the end, new entries simply show');
  await toTop(page);
  await grow(page, 3, 303);
  assert.deepEqual(await button(page), ['3 new \u2193', 'bottom']);
  await grow(page, 2, 306);
  assert.deepEqual(await button(page), ['5 new \u2193', 'bottom'], 'counted since the view left the end');
  await followTick(page);
  assert.deepEqual(await button(page), ['5 new \u2193', 'bottom'], 'a tick with nothing new changes nothing');
  assert.equal(await page.$eval('#log', (l) => l.scrollTop), 0, 'the view stays where it was');
  await page.click('#btnNew');
  assert.ok(await fromEnd(page) < 2, 'scrolled to the end');
  assert.equal(await button(page), null);
  assert.equal(await page.evaluate(() => document.activeElement.id), 'log');
  await context.close();
  fs.writeFileSync(APP, lines(300));
});

test('scrolling to the end hides the button; a user action starts the count afresh', async () => {
  fs.writeFileSync(APP, lines(300));
  const { context, page } = await open(fx.direct + '/plugin_logs', { clock: true });
  await choose(page, APP);
  await toTop(page);
  await grow(page, 1, 301);
  assert.deepEqual(await button(page), ['1 new \u2193', 'bottom']);
  await page.$eval('#log', (l) => { l.scrollTop = l.scrollHeight - l.clientHeight - 10; });
  await page.waitForFunction(() => document.getElementById('btnNew').hidden);
  await toTop(page);
  await grow(page, 1, 302);
  assert.deepEqual(await button(page), ['1 new \u2193', 'bottom']);
  await page.click('#segLevel button[data-level="warn"]');
  assert.equal(await button(page), null);
  // Under a filter only the rows it shows count: 303 to 306 are plain, 308 a warning.
  await toTop(page);
  await grow(page, 4, 303);
  assert.equal(await button(page), null);
  await grow(page, 3, 307);
  assert.deepEqual(await button(page), ['1 new \u2193', 'bottom']);
  await page.fill('#q', 'line');
  await page.press('#q', 'Enter');
  assert.equal(await button(page), null, 'a search is no follow');
  await context.close();
  fs.writeFileSync(APP, lines(300));
});

test('an event log, newest first, counts new records on a button at the top that goes to the top', async () => {
  const record = (i) => ({ ts: `2024-01-15T10:${String(i % 60).padStart(2, '0')}:00.0000000Z`,
    unit: 'System', sev: i % 5 ? 'info' : 'err', text: `record ${i}` });
  // Each answer has the newest record first; every tick brings one more.
  let newest = 60;
  const { context, page } = await open(fx.direct + '/plugin_logs', {
    clock: true,
    prepare: (p) => p.route('**/plugin_logs?action=tail*', (r) => {
      const entries = [];
      for (let i = newest; i > newest - 60; i--) entries.push(record(i));
      return r.fulfill({ contentType: 'application/json', body: JSON.stringify({ ok: true, label: 'System', entries }) });
    }),
  });
  await page.waitForFunction(() => document.querySelectorAll('#log .ln').length === 60);
  assert.equal(await page.inputValue('#srcSel'), 'event:System');
  // The first tail ends scrolled to the bottom, away from where new records arrive.
  newest += 2;
  await followTick(page);
  assert.equal(await text(page, '#log .ln:first-child .tx'), 'record 62');
  assert.deepEqual(await button(page), ['2 new \u2191', 'top']);
  newest += 1;
  await followTick(page);
  assert.deepEqual(await button(page), ['3 new \u2191', 'top']);
  await page.click('#btnNew');
  assert.equal(await page.$eval('#log', (l) => l.scrollTop), 0);
  assert.equal(await button(page), null);
  newest += 1;
  await followTick(page);
  assert.equal(await text(page, '#log .ln:first-child .tx'), 'record 64');
  assert.equal(await button(page), null, 'at the top, new records simply show');
  await context.close();
});
