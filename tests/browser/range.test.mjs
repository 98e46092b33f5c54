// The time range: shortcuts and a From and To pair, sent as since and until on tail and search,
// kept in the page's address; a range with an end is not followed; a refused value says why.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { choose, logFixture, pause, text } from './harness.mjs';

const fx = logFixture('pl-range-');
const APP = fx.app;
const open = fx.open;
before(() => fx.serve());
after(() => fx.close());

const params = (r) => new URL(r.url).searchParams;
const address = async (page) => new URLSearchParams(await page.evaluate(() => location.search));
const local = (ms) => {
  const d = new Date(ms), two = (n) => String(n).padStart(2, '0');
  return `${d.getFullYear()}-${two(d.getMonth() + 1)}-${two(d.getDate())}T${two(d.getHours())}:${two(d.getMinutes())}`;
};

test('shortcuts and From/To go to tail and search as since/until, into the address, and back on load', async () => {
  const { context, page, reqs } = await open(fx.direct + '/plugin_logs', { clock: true });
  await choose(page, APP);
  const rows = [['Last 15 min', 15], ['Last hour', 60], ['Last 24 h', 1440]];
  for (const [name, minutes] of rows) {
    const now = await page.evaluate(() => Date.now());
    const answered = page.waitForResponse((r) => r.url().includes('action=tail'));
    await page.getByRole('button', { name, exact: true }).click();
    await answered;
    const q = params(reqs.at(-1));
    // Local time of the browser, to the second.
    assert.equal(q.get('since').slice(0, 16), local(now - minutes * 60000), name);
    assert.match(q.get('since'), /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d$/);
    assert.equal(q.get('until'), null);
    assert.equal(await page.inputValue('#tFrom'), q.get('since'));
    assert.equal((await address(page)).get('since'), q.get('since'));
    assert.equal(await text(page, '#pState'), 'live 3s', `${name}: an open range is followed`);
  }
  // A closed range: From and To, typed.
  await page.fill('#tFrom', '2026-12-09T08:10');
  await page.fill('#tTo', '2026-12-09T08:20:30');
  await pause(100);
  const q = params(reqs.at(-1));
  assert.deepEqual([q.get('since'), q.get('until')], ['2026-12-09T08:10', '2026-12-09T08:20:30']);
  assert.equal(await text(page, '#btnFollow'), 'Follow off: range ends');
  assert.equal(await page.getAttribute('#btnFollow', 'aria-disabled'), 'true');
  assert.equal(await text(page, '#pState'), 'paused');
  const n = reqs.length;
  await page.clock.runFor(9000);
  await pause(100);
  assert.equal(reqs.length, n, 'no follow ticks while To is set');
  // f and a click do nothing while To is set.
  await page.focus('#log');
  await page.keyboard.press('f');
  await page.click('#btnFollow', { force: true });
  assert.equal(await text(page, '#btnFollow'), 'Follow off: range ends');
  // A search carries the range too.
  await page.fill('#q', 'disk');
  const searched = page.waitForResponse((r) => r.url().includes('action=search'));
  await page.press('#q', 'Enter');
  await searched;
  const sq = params(reqs.at(-1));
  assert.deepEqual([sq.get('since'), sq.get('until'), sq.get('scope')], ['2026-12-09T08:10', '2026-12-09T08:20:30', 'file']);
  const view = await address(page);
  assert.deepEqual([view.get('since'), view.get('until'), view.get('q')], ['2026-12-09T08:10', '2026-12-09T08:20:30', 'disk']);

  // A reload keeps the range: the inputs, the requests, following still off.
  await page.reload();
  await page.waitForFunction(() => / hits of /.test(document.getElementById('fCount').textContent));
  assert.equal(await page.inputValue('#tFrom'), '2026-12-09T08:10');
  assert.equal(await page.inputValue('#tTo'), '2026-12-09T08:20:30');
  assert.equal(await text(page, '#btnFollow'), 'Follow off: range ends');
  // Any time clears both, and following comes back.
  await page.fill('#q', '');
  await page.press('#q', 'Enter');
  await page.click('#btnAnyTime');
  await page.waitForFunction(() => document.getElementById('pState').textContent === 'live 3s');
  assert.equal(await text(page, '#btnFollow'), 'Follow');
  const last = params(reqs.at(-1));
  assert.deepEqual([last.get('since'), last.get('until')], [null, null]);
  const cleared = await address(page);
  assert.deepEqual([cleared.get('since'), cleared.get('until')], [null, null]);
  await context.close();
});

test('the entries shown are those of the range; a value the server refuses shows its message', async () => {
  // lines() stamps line i at 08:(i % 60):00Z, in UTC; browser and server share this machine's
  // zone (UTC here), in which the range is given.
  const { context, page } = await open(fx.direct + `/plugin_logs?src=${encodeURIComponent('file:' + APP)}` +
    '&since=2026-12-09T08:10&until=2026-12-09T08:12');
  await page.waitForFunction(() => /entries/.test(document.getElementById('fCount').textContent) &&
    document.getElementById('pSrc').textContent === 'app.log');
  const stamps = await page.$$eval('#log .ln .ts', (t) => [...new Set(t.map((x) => x.title.slice(11, 16)))]);
  assert.deepEqual(stamps, ['08:10', '08:11', '08:12'], 'inclusive at the minute');
  await context.close();

  const bad = await open(fx.direct + `/plugin_logs?src=${encodeURIComponent('file:' + APP)}&since=yesterday`);
  await bad.page.waitForFunction(() => document.getElementById('pState').textContent === 'error');
  assert.equal(await text(bad.page, '#log'), 'since and until take YYYY-MM-DDTHH:MM[:SS]');
  await bad.context.close();
});
