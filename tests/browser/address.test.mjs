// The view in the page's own address: source, line count, level and search go there next to the
// parameters the page was opened with; a reload or a shared link opens the same view; no value
// turns the page's address into an API request, and no stored password is ever written there.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { choose, id, logFixture, settled, startHub, text } from './harness.mjs';

const fx = logFixture('pl-address-', { 'case.log': 'xABxab\nnothing here\n' });
const APP = fx.app;
const CASE = fx.file('case.log');
const open = fx.open;
const SRC = 'src=' + encodeURIComponent(id(APP));
let direct, hub;
const hubSeen = [];

before(async () => {
  await fx.serve();
  direct = fx.direct;
  hub = await startHub(fx.ws, direct, hubSeen);
});
after(() => fx.close());

const address = (page) => page.evaluate(() => location.search);
const pressed = (page, group) => page.$eval(group, (g) => g.querySelector('button.on').textContent);

async function search(page, q) {
  await page.fill('#q', q);
  await page.press('#q', 'Enter');
  await page.waitForFunction(() => / hits of /.test(document.getElementById('fCount').textContent));
}

test('the view goes into the address after the parameters the page was opened with', async () => {
  // Those stay exactly as written: the embedded class reads embed=%31 raw.
  const opened = '?theme=dark&embed=%31&x=a+b';
  const { context, page } = await open(direct + '/plugin_logs' + opened);
  await choose(page, APP);
  assert.equal(await address(page), `${opened}&${SRC}&lines=200&level=all`);
  await page.click('#segLines button[data-n="500"]');
  await page.click('#segLevel button[data-level="warn"]');
  await search(page, 'disk');
  assert.equal(await address(page), `${opened}&${SRC}&lines=500&level=warn&q=disk`);
  // Back to the tail: the search leaves the address; so it does on a source change.
  await page.fill('#q', ' ');
  await page.press('#q', 'Enter');
  assert.equal(await address(page), `${opened}&${SRC}&lines=500&level=warn`);
  await page.click('#btnFollow');
  await search(page, 'disk');
  await page.click('#btnFollow');
  assert.equal(await address(page), `${opened}&${SRC}&lines=500&level=warn`, 'following leaves the search');
  await search(page, 'disk');
  await page.selectOption('#srcSel', id(CASE));
  assert.equal(await address(page), `${opened}&src=${encodeURIComponent(id(CASE))}&lines=500&level=warn`);
  await context.close();
});

test('a search of any text reloads as the same view, and the reload is still the page', async () => {
  const { context, page, reqs } = await open(direct + '/plugin_logs');
  await choose(page, APP);
  await page.click('#segLevel button[data-level="err"]');
  // The routing looks for "action=" and "format=json" in the raw address: "=" and "&" in the
  // text must stay encoded there.
  for (const q of ['action=tail', 'format=json', 'x&level=all&q=y', 'line 1', 'пароль € 😀']) {
    await search(page, q);
    const written = await address(page);
    assert.equal(written, `?${SRC}&lines=200&level=err&q=${encodeURIComponent(q)}`, q);
    assert.ok(!written.includes('action=') && !written.includes('format=json'), written);
    const seen = reqs.length;
    const reply = await page.reload();
    assert.match(reply.headers()['content-type'], /^text\/html/, q);
    await page.waitForFunction(() => / hits of /.test(document.getElementById('fCount').textContent));
    assert.equal(await page.inputValue('#q'), q.trim());
    assert.equal(await page.inputValue('#srcSel'), id(APP));
    assert.equal(await pressed(page, '#segLevel'), 'Err');
    assert.equal(await text(page, '#pState'), 'search');
    assert.deepEqual(reqs.slice(seen).map((r) => new URL(r.url).searchParams.get('action')),
      ['sources', 'search'], `${q}: the search runs at once, no tail before it`);
    assert.equal(new URL(reqs.at(-1).url).searchParams.get('q'), q.trim());
    assert.equal(await address(page), written);
  }
  await context.close();
});

test('a shared link opens its view; values that no control offers fall back', async () => {
  const link = `/plugin_logs?${SRC}&lines=100&level=warn`;
  const { context, page, reqs } = await open(direct + link);
  await page.waitForFunction(() => document.getElementById('pSrc').textContent === 'app.log');
  assert.equal(await page.inputValue('#srcSel'), id(APP));
  assert.equal(await pressed(page, '#segLines'), '100');
  assert.equal(await pressed(page, '#segLevel'), 'Warn+');
  assert.equal(await text(page, '#fCount'), '22 entries \u00b7 10 err \u00b7 12 warn');
  assert.ok(reqs.some((r) => r.url.includes('action=tail&lines=100&' + SRC)));
  assert.equal(await address(page), link.slice('/plugin_logs'.length));
  await context.close();

  const odd = await open(direct + `/plugin_logs?${SRC}&lines=300&level=loud&q=%20%20`);
  await odd.page.waitForFunction(() => document.getElementById('fCount').textContent === '200 entries');
  assert.equal(await pressed(odd.page, '#segLines'), '200');
  assert.equal(await pressed(odd.page, '#segLevel'), 'All');
  assert.equal(await text(odd.page, '#pState'), 'live 3s');
  assert.equal(await address(odd.page), `?${SRC}&lines=200&level=all`);
  await odd.context.close();
});

test('a pwd the page was opened with leaves the address at once and lasts for the tab; a stored one never enters it', async () => {
  const pw = 'пароль €';
  // What the address holds once the document is parsed, the client script having run.
  const init = () => document.addEventListener('DOMContentLoaded', () => {
    window.seenAtLoad = location.search;
  });
  const kept = await open(direct + `/plugin_logs?pwd=${encodeURIComponent(pw)}&node=alpha`, { init });
  await choose(kept.page, APP);
  assert.equal(await kept.page.evaluate(() => window.seenAtLoad), '?node=alpha', 'gone before the page was loaded');
  assert.equal(await address(kept.page), `?node=alpha&${SRC}&lines=200&level=all`);
  assert.equal(await kept.page.evaluate(() => sessionStorage.getItem('plugin_logs_pwd_alpha')), pw);
  // A non-ASCII password travels in the query: the header cannot carry it.
  assert.ok(kept.reqs.every((r) => r.url.includes('&pwd=' + encodeURIComponent(pw))));
  // A reload (or a link copied from the address) has no password; the tab still has it.
  kept.reqs.length = 0;
  await kept.page.reload();
  await kept.page.waitForFunction(() => document.getElementById('fCount').textContent === '200 entries');
  assert.ok(kept.reqs.length > 1 && kept.reqs.every((r) => r.url.includes('&pwd=' + encodeURIComponent(pw))));
  assert.equal(await address(kept.page), `?node=alpha&${SRC}&lines=200&level=all`);
  // Another tab (a fresh session) opened from the copied link has none.
  const copied = await kept.context.newPage();
  const seen = [];
  copied.on('request', (r) => { if (r.url().includes('action=')) seen.push(r.url()); });
  await copied.goto(direct + '/plugin_logs' + await address(kept.page));
  await settled(copied);
  assert.ok(seen.length && seen.every((u) => !u.includes('pwd=')), 'a new tab holds no password');
  await kept.context.close();

  const stored = await open(direct + '/plugin_logs?node=alpha',
    { storage: { zun_pwd_alpha: 'per-node secret', zun_active_pwd: 'active secret' } });
  await choose(stored.page, APP);
  // On the direct route a password the header carries goes there alone.
  assert.ok(stored.reqs.every((r) => r.pwd === 'per-node secret' && !r.url.includes('pwd=')), 'the password is used');
  assert.equal(await address(stored.page), `?node=alpha&${SRC}&lines=200&level=all`);
  await stored.context.close();
});

test('through the hub the view rides in the viewer\'s own address, never in the API query', async () => {
  hubSeen.length = 0;
  const opened = '/viewer?plugin=logs&node=alpha&id=7';
  const { context, page } = await open(hub + opened);
  await choose(page, APP);
  await page.click('#segLevel button[data-level="err"]');
  assert.equal(await page.evaluate(() => location.pathname + location.search),
    `${opened}&${SRC}&lines=200&level=err`);
  const api = hubSeen.filter((r) => r.url.startsWith('/plugins'));
  assert.ok(api.some((r) => r.url === `/plugins?plugin=logs?action=tail&lines=200&${SRC}&multiline=1&after=&node=alpha&id=7`));
  assert.ok(api.every((r) => !r.url.includes('level=')), 'the level never reaches the API');
  // The reload asks the hub for the page with the view; the program still serves the page.
  hubSeen.length = 0;
  const reply = await page.reload();
  assert.match(reply.headers()['content-type'], /^text\/html/);
  assert.equal(hubSeen[0].url, `${opened}&${SRC}&lines=200&level=err`);
  await page.waitForFunction(() => / err /.test(document.getElementById('fCount').textContent));
  assert.equal(await page.inputValue('#srcSel'), id(APP));
  assert.equal(await text(page, '#fCount'), '20 entries \u00b7 20 err \u00b7 0 warn');
  await context.close();

  // Framed by the host: the frame's own address carries the view; the host's stays.
  const framed = await open(hub + '/host?plugin=logs&embed=1');
  const inner = () => framed.page.frames().find((f) => f.url().includes('/viewer'));
  await framed.page.waitForFunction(() => window.requests === 1);
  await settled(inner());
  await inner().waitForFunction(() => location.search.includes('&level='));
  assert.equal(await inner().evaluate(() => location.search),
    '?plugin=logs&embed=1&src=event%3ASystem&lines=200&level=all');
  assert.equal(await inner().evaluate(() => document.documentElement.classList.contains('embedded')), true);
  assert.equal(new URL(framed.page.url()).search, '?plugin=logs&embed=1');
  await framed.context.close();
});
