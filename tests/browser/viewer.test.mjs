// The viewer page in a real chromium, against the real program behind lighttpd's CGI,
// directly and through a small stand-in for the hub's plug-in route.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { OUT, choose, id, lines, open as openIn, settled, startHub, startLighttpd, text, workspace } from './harness.mjs';

const PASSWORD = 's3cret pw';

const ws = workspace('pl-browser-');
const data = path.join(ws.tmp, 'data');
const logs = path.join(data, 'wendquil');
const APP = path.join(logs, 'app.log');
const CASE = path.join(logs, 'case.log');
const MARKUP = path.join(logs, 'sub', 'markup.log');
let direct, guarded, hub;
const hubSeen = [];
const open = (url, options) => openIn(ws, url, options);

before(async () => {
  fs.mkdirSync(path.join(logs, 'sub'), { recursive: true });
  fs.mkdirSync(OUT, { recursive: true });
  fs.writeFileSync(APP, lines(300));
  fs.writeFileSync(CASE, 'xABxab\nnothing here\n');
  fs.writeFileSync(MARKUP, '2026-12-09T08:00:00Z web: <b>bold</b> <img src=x onerror="window.pwned=1"> &amp;\n');
  direct = await startLighttpd(ws, 'direct', data);
  guarded = await startLighttpd(ws, 'guarded', data, PASSWORD);
  hub = await startHub(ws, direct, hubSeen);
});

after(() => ws.close());

test('start-up lists sources, selects the first of the document and tails it', async () => {
  const { context, page, reqs } = await open(direct + '/plugin_logs');
  await settled(page);
  assert.equal(reqs[0].url, direct + '/plugin_logs?action=sources');
  const groups = await page.$$eval('#srcSel optgroup', (g) => g.map((x) => x.label));
  assert.deepEqual(groups, ['Log files', 'Event logs']);
  assert.equal(await page.inputValue('#srcSel'), 'event:System');
  const opt = await page.$eval(`#srcSel option[value="${id(APP)}"]`, (o) => o.textContent);
  // Written a moment ago: marked as changed within the hour.
  assert.match(opt, /^\u25cf app\.log {2}\(\d+\.\d KB\) {2}\u00b7 just now$/);
  // No event tool on this machine: the System log cannot be read, and the page says so.
  await page.waitForFunction(() => /could not be read on this node/.test(document.getElementById('log').textContent));
  assert.equal(await text(page, '#fCount'), '0 entries');
  assert.equal(await text(page, '#pState'), 'error');
  await choose(page, APP);
  assert.equal(await text(page, '#fCount'), '200 entries');
  // A log file's tail starts its cursor afresh.
  assert.ok(reqs.some((r) => r.url.endsWith('action=tail&lines=200&src=' + encodeURIComponent(id(APP)) +
    '&multiline=1&after=')));
  const pos = await page.$eval('#log', (l) => l.scrollHeight - l.scrollTop - l.clientHeight);
  assert.ok(pos < 2, `not at the bottom: ${pos}`);
  assert.equal(await page.locator('#log .ln.err').count() > 0, true);
  assert.equal(await page.locator('#log .ln.warn').count() > 0, true);
  await context.close();
});

test('follow picks up appended lines, and leaves a scrolled-up view alone', async () => {
  fs.writeFileSync(APP, lines(300));
  const { context, page } = await open(direct + '/plugin_logs', { clock: true });
  await choose(page, APP);
  fs.appendFileSync(APP, lines(1, 301));
  await page.clock.runFor(3000);
  await page.waitForFunction(() => /line 301 /.test(document.getElementById('log').lastChild.textContent));
  let pos = await page.$eval('#log', (l) => l.scrollHeight - l.scrollTop - l.clientHeight);
  assert.ok(pos < 2, 'follow at the bottom scrolls to the end');
  await page.$eval('#log', (l) => { l.scrollTop = 0; });
  fs.appendFileSync(APP, lines(1, 302));
  await page.clock.runFor(3000);
  await page.waitForFunction(() => /line 302 /.test(document.getElementById('log').lastChild.textContent));
  assert.equal(await page.$eval('#log', (l) => l.scrollTop), 0);
  await context.close();
  fs.writeFileSync(APP, lines(300));
});

test('a follow tick with a pending request sends nothing; hiding stops the timer and the pill', async () => {
  const { context, page, reqs } = await open(direct + '/plugin_logs', { clock: true });
  await choose(page, APP);
  const held = [];
  await page.route('**/plugin_logs?action=tail*', (route) => { held.push(route); });
  const before = reqs.length;
  await page.clock.runFor(3000);
  await new Promise((r) => setTimeout(r, 200));
  assert.equal(held.length, 1);
  await page.clock.runFor(6000);
  await new Promise((r) => setTimeout(r, 200));
  assert.equal(held.length, 1, 'ticks while busy send nothing');
  // Hidden while the tick's answer is pending: the answer still shows its rows, but the timer
  // has stopped, so the pill keeps saying paused.
  await page.evaluate(() => {
    Object.defineProperty(document, 'visibilityState', { configurable: true, get: () => 'hidden' });
    document.dispatchEvent(new Event('visibilitychange'));
  });
  assert.equal(await text(page, '#pState'), 'paused');
  fs.appendFileSync(APP, lines(1, 301));
  const answered = page.waitForResponse((r) => r.url().includes('action=tail'));
  for (const r of held) await r.continue();
  await answered;
  await page.unroute('**/plugin_logs?action=tail*');
  await page.waitForFunction(() => /line 301 /.test(document.getElementById('log').lastChild.textContent));
  assert.equal(await text(page, '#pState'), 'paused');
  const hiddenAt = reqs.length;
  await page.clock.runFor(9000);
  await new Promise((r) => setTimeout(r, 200));
  assert.equal(reqs.length, hiddenAt, 'no requests while hidden');
  await page.evaluate(() => {
    Object.defineProperty(document, 'visibilityState', { configurable: true, get: () => 'visible' });
    document.dispatchEvent(new Event('visibilitychange'));
  });
  await new Promise((r) => setTimeout(r, 300));
  assert.equal(reqs.length, hiddenAt + 1, 'showing the page refreshes at once');
  assert.equal(await text(page, '#pState'), 'live 3s');
  assert.ok(reqs.length > before);
  await context.close();
  fs.writeFileSync(APP, lines(300));
});

test('search highlights case-insensitively with the text\'s own characters', async () => {
  const { context, page } = await open(direct + '/plugin_logs');
  await choose(page, CASE);
  await page.fill('#q', '  ab ');
  await page.press('#q', 'Enter');
  await page.waitForFunction(() => / hits of /.test(document.getElementById('fCount').textContent));
  const pieces = await page.$eval('#log .ln .tx', (t) => [...t.childNodes].map(
    (n) => (n.nodeName === 'MARK' ? `[${n.textContent}]` : n.textContent)));
  assert.deepEqual(pieces, ['x', '[AB]', 'x', '[ab]']);
  assert.equal(await text(page, '#fCount'), '1 hits of 2 scanned \u00b7 searched 20 B of 20 B');
  // Nothing found, then back to the tail with an empty query.
  await page.fill('#q', 'zzz');
  await page.click('#btnSearch');
  await page.waitForFunction(() => /No matches in the scanned window\./.test(document.getElementById('log').textContent));
  assert.match(await text(page, '#fCount'), /^0 hits of 2 scanned \u00b7 searched 20 B of 20 B$/);
  await page.fill('#q', ' ');
  await page.press('#q', 'Enter');
  await page.waitForFunction(() => document.getElementById('fCount').textContent === '2 entries');
  assert.equal(await text(page, '#pState'), 'live 3s');
  await context.close();
});

test('markup in a log line is shown literally', async () => {
  const { context, page } = await open(direct + '/plugin_logs');
  await choose(page, MARKUP);
  const tx = await text(page, '#log .ln .tx');
  assert.equal(tx.slice(tx.indexOf('<')), '<b>bold</b> <img src=x onerror="window.pwned=1"> &amp;');
  assert.equal(await page.locator('#log b, #log img').count(), 0);
  assert.equal(await page.evaluate(() => window.pwned), undefined);
  await context.close();
});

test('copy through the clipboard and through the fallback', async () => {
  const { context, page } = await open(direct + '/plugin_logs', { grant: true, clock: true });
  await choose(page, CASE);
  await page.click('#btnCopy');
  await page.waitForFunction(() => document.getElementById('btnCopy').textContent === 'Copied');
  assert.equal(await page.evaluate(() => navigator.clipboard.readText()), 'xABxab\nnothing here');
  await page.clock.runFor(1400);
  assert.equal(await text(page, '#btnCopy'), 'Copy');
  await context.close();

  const fallback = await open(direct + '/plugin_logs', {
    init: () => {
      Object.defineProperty(Navigator.prototype, 'clipboard', { get: () => undefined });
      document.execCommand = (c) => { window.copied = c + ':' + document.querySelector('textarea').value; return true; };
    },
  });
  await choose(fallback.page, APP);
  await fallback.page.click('#btnCopy');
  assert.equal(await text(fallback.page, '#btnCopy'), 'Copied');
  const copied = await fallback.page.evaluate(() => window.copied);
  assert.match(copied, /^copy:2026-12-09T08:41:00Z app: line 101 ok\n/);
  assert.equal(await fallback.page.locator('textarea').count(), 0);
  await fallback.context.close();
});

test('wrap, line counts and reload keep their state', async () => {
  const { context, page, reqs } = await open(direct + '/plugin_logs');
  await choose(page, APP);
  await page.click('#btnWrap');
  assert.equal(await page.$eval('#log', (l) => l.className), 'log wrap');
  assert.equal(await page.$eval('#btnWrap', (b) => b.classList.contains('on')), true);
  await page.click('#btnWrap');
  assert.equal(await page.$eval('#log', (l) => l.className), 'log');
  await page.click('#segLines button[data-n="100"]');
  await page.waitForFunction(() => document.getElementById('fCount').textContent === '100 entries');
  assert.deepEqual(await page.$$eval('#segLines button.on', (b) => b.map((x) => x.textContent)), ['100']);
  assert.ok(reqs.some((r) => r.url.includes('action=tail&lines=100&')));
  await page.click('#segLines button[data-n="2000"]');
  await page.waitForFunction(() => document.getElementById('fCount').textContent === '300 entries');
  const n = reqs.length;
  await page.click('#btnReload');
  await new Promise((r) => setTimeout(r, 300));
  assert.ok(reqs.slice(n).some((r) => r.url.endsWith('action=sources')));
  assert.equal(await page.inputValue('#srcSel'), id(APP));
  assert.equal(await text(page, '#pSrc'), 'app.log');
  await page.click('#btnFollow');
  assert.equal(await text(page, '#btnFollow'), 'Paused');
  assert.equal(await text(page, '#pState'), 'paused');
  await context.close();
});

test('the password comes from pwd, the per-node key or zun_active_pwd; on the direct route in the header alone', async () => {
  const enc = encodeURIComponent(PASSWORD);
  const rows = [
    ['?pwd=' + enc, { zun_active_pwd: 'wrong', zun_pwd_alpha: 'wrong' }, ''],
    ['?node=alpha', { zun_pwd_alpha: PASSWORD, zun_active_pwd: 'wrong' }, '&node=alpha'],
    ['', { zun_pwd_alpha: 'wrong', zun_active_pwd: PASSWORD }, ''],
  ];
  for (const [query, storage, suffix] of rows) {
    const { context, page, reqs } = await open(guarded + '/plugin_logs' + query,
      { storage, pageAuth: PASSWORD });
    await settled(page);
    assert.equal(reqs[0].url, guarded + '/plugin_logs?action=sources' + suffix, query);
    assert.equal(reqs[0].pwd, PASSWORD);
    assert.equal(await page.inputValue('#srcSel'), 'event:System');
    await context.close();
  }
  // Refused: the source list, then a tail refused on its way.
  const refused = await open(guarded + '/plugin_logs?pwd=nope', { pageAuth: PASSWORD });
  await refused.page.waitForFunction(() => document.getElementById('empty') &&
    document.getElementById('empty').textContent === 'Could not list sources.');
  await refused.context.close();
  const { context, page, reqs } = await open(guarded + '/plugin_logs?pwd=' + enc);
  await choose(page, APP);
  await page.route('**/plugin_logs?action=tail*', (route) => route.continue({
    url: route.request().url().replace(/&pwd=.*$/, '&pwd=nope'),
    headers: { ...route.request().headers(), 'x-zun-password': 'nope' },
  }));
  await page.click('#btnReload');
  await page.waitForFunction(() => document.getElementById('pState').textContent === 'error');
  assert.equal(await text(page, '#log'), 'unreadable source');
  assert.equal(await text(page, '#fCount'), '0 entries');
  assert.ok(reqs.every((r) => r.pwd === PASSWORD));
  await context.close();
  // No password at all: neither parameter nor header.
  const none = await open(direct + '/plugin_logs?node=alpha');
  await settled(none.page);
  assert.equal(none.reqs[0].url, direct + '/plugin_logs?action=sources&node=alpha');
  assert.equal(none.reqs[0].pwd, undefined);
  await none.context.close();
});

test('hub route: API queries ride after a second ? in the plugin value', async () => {
  hubSeen.length = 0;
  const { context, page } = await open(hub + '/viewer?plugin=logs&node=alpha&id=7');
  await choose(page, APP);
  const api = hubSeen.filter((r) => r.url.startsWith('/plugins'));
  assert.equal(api[0].url, '/plugins?plugin=logs?action=sources&node=alpha&id=7');
  assert.ok(api.some((r) => r.url === '/plugins?plugin=logs?action=tail&lines=200&src=' +
    encodeURIComponent(id(APP)) + '&multiline=1&after=&node=alpha&id=7'));
  assert.equal(await text(page, '#fCount'), '200 entries');
  await context.close();
});

test('theme from the address, storage, system preference, button and the host frame', async () => {
  const theme = (p) => p.evaluate(() => [document.documentElement.dataset.theme, localStorage.getItem('zun_theme')]);
  let o = await open(direct + '/plugin_logs?theme=light', { storage: { zun_theme: 'dark' } });
  assert.deepEqual(await theme(o.page), ['light', 'light']);
  await o.context.close();
  o = await open(direct + '/plugin_logs', { storage: { zun_theme: 'light' } });
  assert.deepEqual(await theme(o.page), ['light', 'light']);
  await o.context.close();
  o = await open(direct + '/plugin_logs', { storage: { zun_theme: 'blue' }, scheme: 'light' });
  assert.equal((await theme(o.page))[0], 'light');
  await o.context.close();
  o = await open(direct + '/plugin_logs', { scheme: 'dark' });
  assert.equal((await theme(o.page))[0], 'dark');
  await o.page.evaluate(() => addEventListener('zun-theme', (e) => { window.got = e.detail; }));
  await o.page.click('#btnTheme');
  assert.deepEqual(await theme(o.page), ['light', 'light']);
  assert.equal(await o.page.evaluate(() => window.got), 'light');
  assert.equal(await o.page.evaluate(() => getComputedStyle(document.body).backgroundColor), 'rgb(245, 245, 247)');
  assert.equal(await o.page.locator('a[href="/"]').count(), 1);
  await o.context.close();

  // Framed by the host: it asks for the theme, takes the host's answer, hides the button.
  o = await open(hub + '/host?plugin=logs&embed=1');
  const frame = o.page.frameLocator('#f');
  await o.page.waitForFunction(() => window.requests === 1);
  const inner = o.page.frames().find((f) => f.url().includes('/viewer'));
  await inner.waitForFunction(() => document.documentElement.dataset.theme === 'light');
  assert.equal(await frame.locator('#btnTheme').isVisible(), false);
  assert.equal(await frame.locator('a[href="/"]').count(), 0);
  await o.context.close();
  // embed=%31 drops the back link but keeps the button: the class reads the raw address.
  o = await open(direct + '/plugin_logs?embed=%31');
  assert.equal(await o.page.locator('a[href="/"]').count(), 0);
  assert.equal(await o.page.locator('#btnTheme').isVisible(), true);
  await o.context.close();
});

test('screenshots in both themes at desktop width and at 480px', async () => {
  for (const t of ['dark', 'light']) {
    for (const width of [1280, 480]) {
      const { context, page } = await open(direct + `/plugin_logs?theme=${t}`, { width, height: 800 });
      await choose(page, APP);
      await page.fill('#q', 'error');
      await page.press('#q', 'Enter');
      await page.waitForFunction(() => / hits of /.test(document.getElementById('fCount').textContent));
      await page.screenshot({ path: path.join(OUT, `viewer-${t}-${width}.png`) });
      if (width === 480) {
        assert.equal(await page.locator('#log .ln .un').first().isVisible(), false);
        assert.equal(await page.evaluate(() => getComputedStyle(document.body).paddingTop), '10px');
      }
      await context.close();
    }
  }
});
