// Requests under real use: the answer to the latest request is the one shown, and a password in
// any script reaches a gated node.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { choose, id, lines, open as openIn, pause, settled, startLighttpd, text, workspace } from './harness.mjs';

const ws = workspace('pl-requests-');
const data = path.join(ws.tmp, 'data');
const APP = path.join(data, 'wendquil', 'app.log');
const CASE = path.join(data, 'wendquil', 'case.log');
const PASSWORDS = ['пароль€ 😀', 'pässwörd'];
let direct;
const gated = [];
const open = (url, options) => openIn(ws, url, options);

before(async () => {
  fs.mkdirSync(path.dirname(APP), { recursive: true });
  fs.writeFileSync(APP, lines(300));
  fs.writeFileSync(CASE, 'xABxab\nnothing here\n');
  direct = await startLighttpd(ws, 'direct', data);
  for (const [i, pw] of PASSWORDS.entries()) gated.push(await startLighttpd(ws, `gated${i}`, data, pw));
});

after(() => ws.close());

// What a held request finally answers: it must never reach the page.
const STALE = JSON.stringify({
  ok: true, action: 'tail', label: 'stale.log', src: 'file:/stale.log', kind: 'file',
  entries: [{ ts: '', unit: '', sev: 'info', text: 'stale answer' }],
  hits: [{ ts: '', unit: '', sev: 'info', text: 'stale answer' }], scanned: 1, truncated: false,
});

async function search(page, q) {
  await page.fill('#q', q);
  await page.press('#q', 'Enter');
}

test('an answer overtaken by a later user action is dropped', async () => {
  const tick = { match: 'action=tail', start: (page) => page.clock.runFor(3000) };
  const pendingSearch = { match: 'action=search', start: (page) => search(page, 'line 1') };
  const rows = [
    // name, the request held, the user action, what shows once both have answered
    ['a search', tick, (p) => search(p, 'line 29'),
      { count: '11 hits of 300 scanned \u00b7 searched 11.9 KiB of 11.9 KiB', pill: 'search', label: 'app.log' }],
    ['a source change', tick, (p) => p.selectOption('#srcSel', id(CASE)),
      { count: '2 entries', pill: 'live 3s', label: 'case.log' }],
    ['a line-count button', tick, (p) => p.click('#segLines button[data-n="100"]'),
      { count: '100 entries', pill: 'live 3s', label: 'app.log' }],
    ['Follow', tick, (p) => p.click('#btnFollow'),
      { count: '200 entries', pill: 'paused', label: 'app.log' }],
    ['Reload', tick, (p) => p.click('#btnReload'),
      { count: '200 entries', pill: 'live 3s', label: 'app.log' }],
    ['a blank search', pendingSearch, (p) => search(p, ' '),
      { count: '200 entries', pill: 'live 3s', label: 'app.log' }],
  ];
  for (const [name, held, action, want] of rows) {
    const { context, page, reqs } = await open(direct + '/plugin_logs', { clock: true });
    await choose(page, APP);
    let route = null;
    await page.route((u) => u.search.includes(held.match), (r) => {
      if (route) return r.continue();
      route = r;
    });
    await held.start(page);
    for (let i = 0; i < 50 && !route; i++) await pause(20);
    assert.ok(route, `${name}: nothing to hold`);
    const own = page.waitForResponse((r) => r.request() !== route.request() &&
      /action=(tail|search)/.test(r.url()));
    await action(page);
    await own;
    await page.waitForFunction((c) => document.getElementById('fCount').textContent === c, want.count);
    const late = page.waitForResponse((r) => r.request() === route.request());
    await route.fulfill({ contentType: 'application/json', body: STALE });
    await late;
    await pause(100);
    assert.doesNotMatch(await text(page, '#log'), /stale answer/, name);
    assert.equal(await text(page, '#fCount'), want.count, name);
    assert.equal(await text(page, '#pState'), want.pill, name);
    assert.equal(await text(page, '#pSrc'), want.label, name);
    if (want.pill === 'search') {
      // The search stays: the timer does not come back.
      const n = reqs.length;
      await page.clock.runFor(9000);
      await pause(200);
      assert.equal(reqs.length, n, `${name}: follow came back`);
    }
    await context.close();
  }
});

test('a password in any script reaches a gated node through pwd alone', async () => {
  for (const [i, pw] of PASSWORDS.entries()) {
    const enc = encodeURIComponent(pw);
    const { context, page, reqs } = await open(gated[i] + '/plugin_logs?pwd=' + enc);
    await settled(page);
    assert.equal(reqs[0].url, gated[i] + '/plugin_logs?action=sources&pwd=' + enc, pw);
    await choose(page, APP);
    assert.equal(await text(page, '#fCount'), '200 entries', pw);
    // A fetch header holds Latin-1 only, and sends it as single bytes: never the header here.
    assert.ok(reqs.every((r) => r.pwd === undefined), pw);
    await context.close();
  }
});
