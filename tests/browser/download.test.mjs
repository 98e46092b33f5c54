// Download of a whole log file, on each route and with each kind of password; the source list's
// "ago" text and the mark of a file changed within the hour.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { choose, id, lines, open as openIn, settled, startHub, startLighttpd, text, workspace } from './harness.mjs';

const ws = workspace('pl-download-');
const data = path.join(ws.tmp, 'data');
const logs = path.join(data, 'wendquil');
// A name and bytes beyond ASCII, CR LF line ends as a Windows writer leaves them, and a last
// line without its line feed: the saved file must be the log byte for byte.
const SYNC = path.join(logs, 'Synchronisation März.log');
const SYNC_BYTES = Buffer.from('2024-01-15 10:30:00.123 +01:00 [INF] Sync von „Bericht März.xlsx“ gestartet\r\n' +
  '2024-01-15 10:30:01.456 +01:00 [ERR] Zugriff verweigert: C:\\Users\\Zoë\\Documents\r\n' +
  '2024-01-15 10:30:02.789 +01:00 [WRN] Wiederholung in 30 s', 'utf8');
const OLD = path.join(logs, 'old.log');
const WEEK = path.join(logs, 'week.log');
const ASCII_PW = 'plain pw 42';
const UNICODE_PW = 'пароль€ 😀';
let direct, asciiGate, unicodeGate, hub;
const hubSeen = [];
const open = (url, options) => openIn(ws, url, options);

before(async () => {
  fs.mkdirSync(logs, { recursive: true });
  fs.writeFileSync(path.join(logs, 'app.log'), lines(50));
  fs.writeFileSync(SYNC, SYNC_BYTES);
  fs.writeFileSync(OLD, lines(3));
  fs.writeFileSync(WEEK, lines(3));
  direct = await startLighttpd(ws, 'direct', data);
  asciiGate = await startLighttpd(ws, 'ascii', data, ASCII_PW);
  unicodeGate = await startLighttpd(ws, 'unicode', data, UNICODE_PW);
  hub = await startHub(ws, direct, hubSeen);
});
after(() => ws.close());

// Clicks Download and returns the saved bytes with the name the browser was given.
async function downloaded(page) {
  const [dl] = await Promise.all([page.waitForEvent('download'), page.click('#btnDownload')]);
  const file = path.join(ws.tmp, 'saved-' + Date.now());
  await dl.saveAs(file);
  return { name: dl.suggestedFilename(), bytes: fs.readFileSync(file), url: dl.url() };
}

test('Download saves the whole log file on each route, the password where each route needs it', async () => {
  const dl = `action=download&src=${encodeURIComponent(id(SYNC))}`;
  const rows = [
    // name, page address, stored passwords, the download request as the server sees it, its header
    ['no password: a plain link', direct + '/plugin_logs', {}, `/plugin_logs?${dl}`, undefined],
    ['an ASCII password on the direct route: fetched with the header, never in the address',
      asciiGate + '/plugin_logs', { zun_active_pwd: ASCII_PW }, `/plugin_logs?${dl}`, ASCII_PW],
    ['a password the header cannot carry: the link carries pwd',
      unicodeGate + '/plugin_logs', { zun_active_pwd: UNICODE_PW },
      `/plugin_logs?${dl}&pwd=${encodeURIComponent(UNICODE_PW)}`, undefined],
    ['through the hub: the link on the hub\'s route with node, id and pwd',
      hub + '/viewer?plugin=logs&node=alpha&id=7', { zun_pwd_alpha: ASCII_PW },
      `/plugins?plugin=logs?${dl}&node=alpha&id=7&pwd=${encodeURIComponent(ASCII_PW)}`, undefined],
  ];
  for (const [name, url, storage, want, header] of rows) {
    const { context, page, reqs } = await open(url, { storage, pageAuth: storage.zun_active_pwd || '' });
    await choose(page, SYNC);
    assert.equal(await page.getAttribute('#btnDownload', 'aria-disabled'), 'false', name);
    const before = reqs.length;
    const got = await downloaded(page);
    assert.deepEqual(got.bytes, SYNC_BYTES, `${name}: the bytes`);
    assert.equal(got.name, 'Synchronisation März.log', `${name}: the name`);
    // A fetch is a request of the page, with its header; a link is the download's own address.
    const fetched = reqs.slice(before).find((r) => r.url.includes('action=download'));
    const sent = fetched ? fetched.url : got.url;
    assert.equal(sent.slice(sent.indexOf('/', 8)), want, name);
    if (header) assert.equal(fetched && fetched.pwd, header, `${name}: the header`);
    else assert.equal(fetched, undefined, `${name}: a link, not a fetch`);
    assert.ok(!(await page.evaluate(() => location.search)).includes('pwd'), name);
    await context.close();
  }
});

test('a refused download says why and saves nothing; an event log offers none', async () => {
  // A stale password: the gate refuses the fetch, and the page says so instead of saving the refusal.
  const { context, page } = await open(asciiGate + '/plugin_logs', { storage: { zun_active_pwd: ASCII_PW }, pageAuth: ASCII_PW });
  await choose(page, SYNC);
  await page.route((u) => u.search.includes('action=download'), (r) => r.continue({
    headers: { ...r.request().headers(), 'x-zun-password': 'stale' },
  }));
  let saved = false;
  page.on('download', () => { saved = true; });
  await page.click('#btnDownload');
  await page.waitForFunction(() => document.getElementById('btnDownload').textContent === 'Download failed');
  assert.equal(await text(page, '#fNote'), 'invalid node password');
  assert.equal(saved, false);
  await page.waitForFunction(() => document.getElementById('btnDownload').textContent === 'Download');

  await page.selectOption('#srcSel', 'event:System');
  // It stays reachable and says why it does nothing.
  assert.equal(await page.getAttribute('#btnDownload', 'aria-disabled'), 'true');
  assert.equal(await page.getAttribute('#btnDownload', 'title'), 'Only log files can be downloaded');
  const asked = [];
  page.on('request', (r) => { if (r.url().includes('action=download')) asked.push(r.url()); });
  await page.click('#btnDownload', { force: true });
  await page.waitForTimeout(300);
  assert.equal(saved, false);
  assert.deepEqual(asked, []);
  await context.close();
});

test('the source list says how long ago each log file changed and marks the last hour', async () => {
  const now = Date.now() / 1000;
  fs.utimesSync(SYNC, now - 125, now - 125);
  fs.utimesSync(OLD, now - 3 * 3600 - 100, now - 3 * 3600 - 100);
  fs.utimesSync(WEEK, now - 5 * 86400 - 100, now - 5 * 86400 - 100);
  const { context, page } = await open(direct + '/plugin_logs');
  await settled(page);
  const option = (file) => page.$eval(`#srcSel option[value="${id(file)}"]`, (o) => [o.textContent, o.getAttribute('aria-label')]);
  const [sync, syncName] = await option(SYNC);
  assert.match(sync, /^\u25cf Synchronisation März\.log {2}\(\d+ B\) {2}\u00b7 2 min ago$/);
  assert.match(syncName, /^Synchronisation März\.log, \d+ B, changed 2 min ago, within the last hour$/);
  const [old, oldName] = await option(OLD);
  assert.match(old, /^old\.log {2}\(\d+ B\) {2}\u00b7 3 h ago$/, 'no mark after an hour');
  assert.match(oldName, /changed 3 h ago$/);
  assert.match((await option(WEEK))[0], /^week\.log {2}\(\d+ B\) {2}\u00b7 5 d ago$/);
  // Event logs have no time of change.
  const [system, systemName] = await page.$eval("#srcSel option[value='event:System']",
    (o) => [o.textContent, o.getAttribute('aria-label')]);
  assert.doesNotMatch(system, /ago|\u25cf/);
  assert.equal(systemName, null);

  // Beside the list, the current file's age: a visible dot, and words for a screen reader.
  await choose(page, SYNC);
  const age = () => page.$eval('#srcAge', (a) => [a.textContent, a.classList.contains('recent'),
    getComputedStyle(a, '::before').content,
    [...a.childNodes].filter((c) => !(c.classList && c.classList.contains('vh'))).map((c) => c.textContent).join('')]);
  const [said, recent, dot, seen] = await age();
  assert.equal(said, 'Changed 2 min ago, within the last hour');
  assert.equal(recent, true);
  assert.notEqual(dot, 'none');
  assert.equal(seen, '2 min ago', 'the words for screen readers are not shown');
  await page.selectOption('#srcSel', id(OLD));
  assert.deepEqual((await age()).slice(0, 2), ['Changed 3 h ago', false]);
  await page.selectOption('#srcSel', 'event:System');
  assert.equal((await age())[0], '');
  await context.close();
});
