// Shared by the browser tests: the program behind lighttpd's CGI, a stand-in for the hub, a
// headless chromium, and a page opened in a fresh context that records every API request with
// its password header.
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const HERE = path.dirname(fileURLToPath(import.meta.url));
export const REPO = path.resolve(HERE, '../..');
export const PROGRAM = process.env.PL_PROGRAM || path.join(REPO, 'build/linux/plugin_logs');
// With PL_PROGRAM naming another build (one whose API is ahead, say), PL_PAGE_FROM names the
// build whose page is shown: the page of one against the API of the other.
const PAGE_FROM = process.env.PL_PAGE_FROM || '';
export const OUT = path.join(HERE, 'output');
// The sample event tool that the run command puts first on the program's PATH.
export const SAMPLE_BIN = path.join(REPO, 'samples/bin');

export const id = (p) => 'file:' + p;
export const pause = (ms) => new Promise((r) => setTimeout(r, ms));

// A temporary folder, the servers started in it and the browser; close() ends them all.
export function workspace(prefix) {
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), prefix));
  const servers = [];
  let browser = null;
  return {
    tmp,
    servers,
    async browser() {
      browser = browser || await chromium.launch({
        executablePath: '/usr/bin/chromium',
        args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
          '--disable-background-networking', '--disable-component-update', '--disable-sync'],
        // Playwright gives every launch a fresh temporary profile (--user-data-dir) of its own.
      });
      return browser;
    },
    async close() {
      if (browser) await browser.close();
      for (const s of servers) s.kill();
      fs.rmSync(tmp, { recursive: true, force: true });
    },
  };
}

export function freePort() {
  return new Promise((resolve) => {
    const s = net.createServer().listen(0, '127.0.0.1', () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
  });
}

// lighttpd serving the program on loopback with DATA as LOCALAPPDATA; `bin` goes first on the
// program's PATH. Resolves to the base address once it answers.
export async function startLighttpd(ws, name, data, password = '', bin = '') {
  const port = await freePort();
  const dir = path.join(ws.tmp, name);
  fs.mkdirSync(dir);
  const conf = execFileSync('bash', [path.join(REPO, 'scripts/lighttpd_conf.sh'), dir,
    String(port), PROGRAM, data, password, bin]);
  fs.writeFileSync(path.join(dir, 'lighttpd.conf'), conf);
  const proc = spawn('lighttpd', ['-D', '-f', path.join(dir, 'lighttpd.conf')],
    { stdio: 'inherit' });
  ws.servers.push(proc);
  const base = `http://127.0.0.1:${port}`;
  for (let i = 0; i < 100; i++) {
    try { await fetch(base + '/plugin_logs?action=info'); return base; } catch { /* not yet */ }
    await pause(50);
  }
  throw new Error('lighttpd did not start');
}

// The hub stand-in in front of the program at TARGET: /plugins?plugin=NAME?API forwards API to
// it; /viewer?... serves the page as the hub would; /host?... frames the page and answers its
// theme request. Every request it gets goes into SEEN with its password header.
export function startHub(ws, target, seen) {
  const server = http.createServer((req, res) => {
    seen.push({ url: req.url, pwd: req.headers['x-zun-password'] });
    let forward = null;
    if (req.url.startsWith('/plugins?')) {
      const value = req.url.slice('/plugins?'.length);
      const second = value.indexOf('?');
      forward = '/plugin_logs?' + (second < 0 ? '' : value.slice(second + 1));
    } else if (req.url.startsWith('/viewer')) {
      forward = '/plugin_logs' + req.url.slice('/viewer'.length);
    } else if (req.url.startsWith('/host')) {
      const src = '/viewer' + req.url.slice('/host'.length);
      res.writeHead(200, { 'content-type': 'text/html' });
      res.end(`<!DOCTYPE html><html><body><iframe id=f src="${src}" width=900 height=600>` +
        `</iframe><script>window.requests=0;addEventListener('message',function(e){` +
        `if(e.data&&e.data.type==='wq-theme-request'){requests++;` +
        `e.source.postMessage({type:'wq-theme',theme:'light'},'*')}})</script></body></html>`);
      return;
    }
    if (!forward) { res.writeHead(404); res.end(); return; }
    const headers = {};
    if (req.headers['x-zun-password']) headers['x-zun-password'] = req.headers['x-zun-password'];
    const up = http.request(target + forward, { headers }, (r) => {
      res.writeHead(r.statusCode, r.headers);
      r.pipe(res);
    });
    up.on('error', () => { res.writeHead(502); res.end(); });
    up.end();
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => {
    ws.servers.push({ kill: () => server.close() });
    resolve(`http://127.0.0.1:${server.address().port}`);
  }));
}

// Log lines with ISO timestamps; every tenth an error, every seventh a warning.
export function lines(n, from = 1) {
  let s = '';
  for (let i = from; i < from + n; i++) {
    const sev = i % 10 === 0 ? 'error: disk failed' : i % 7 === 0 ? 'warning: slow' : 'ok';
    s += `2026-12-09T08:${String(i % 60).padStart(2, '0')}:00Z app: line ${i} ${sev}\n`;
  }
  return s;
}

// Opens the page in a fresh context; records every API request with its password header.
// `prepare` runs before the page loads (to route its requests, say).
export async function open(ws, url, { clock = false, storage = {}, scheme = 'dark', width = 1280,
  height = 900, init = null, grant = false, pageAuth = '', prepare = null } = {}) {
  const browser = await ws.browser();
  const context = await browser.newContext({ colorScheme: scheme, viewport: { width, height } });
  if (grant) await context.grantPermissions(['clipboard-read', 'clipboard-write']);
  const page = await context.newPage();
  const reqs = [];
  page.on('request', (r) => {
    if (r.url().includes('action=')) reqs.push({ url: r.url(), pwd: r.headers()['x-zun-password'] });
  });
  if (Object.keys(storage).length) {
    await page.addInitScript((s) => { for (const k in s) localStorage.setItem(k, s[k]); }, storage);
  }
  if (init) await page.addInitScript(init);
  if (clock) await page.clock.install();
  // A guarded node refuses the page itself too; the hub would send the password with it.
  if (pageAuth) {
    await page.route((u) => !u.search.includes('action='), (route) => route.continue({
      headers: { ...route.request().headers(), 'x-zun-password': pageAuth },
    }));
  }
  if (PAGE_FROM) {
    await page.route((u) => u.pathname !== '/host' && !u.search.includes('action='), (route) => {
      const query = new URL(route.request().url()).search.slice(1);
      const out = execFileSync(PAGE_FROM, [], { env: { QUERY_STRING: query } });
      const body = out.subarray(out.indexOf('\r\n\r\n') + 4);
      route.fulfill({ contentType: 'text/html; charset=utf-8', body });
    });
  }
  if (prepare) await prepare(page);
  await page.goto(url);
  return { context, page, reqs };
}

// One test file's logs and server: a data folder whose wendquil/app.log holds lines(300), with
// further files named relative to wendquil, served by lighttpd once serve() (in before())
// resolves; close() (in after()) ends it all.
export function logFixture(prefix, files = {}) {
  const ws = workspace(prefix);
  const data = path.join(ws.tmp, 'data');
  const fx = {
    ws,
    direct: '',
    app: path.join(data, 'wendquil', 'app.log'),
    file: (name) => path.join(data, 'wendquil', name),
    open: (url, options) => open(ws, url, options),
    async serve() {
      fs.mkdirSync(path.dirname(fx.app), { recursive: true });
      fs.writeFileSync(fx.app, lines(300));
      for (const [name, body] of Object.entries(files)) fs.writeFileSync(fx.file(name), body);
      fx.direct = await startLighttpd(ws, 'direct', data);
    },
    close: () => ws.close(),
  };
  return fx;
}

export const text = (page, sel) => page.locator(sel).textContent();

// Lets the follow timer fire once and waits for its tail to be answered and shown.
export async function followTick(page) {
  const answered = page.waitForResponse((r) => r.url().includes('action=tail'));
  await page.clock.runFor(3000);
  await answered;
  await pause(150);
}

export async function settled(page) {
  // The markup's placeholder option has an empty value; listed sources never do.
  await page.waitForFunction(() => document.querySelector("#srcSel option:not([value=''])") !== null);
}

// Selects a log file and waits until its tail is shown.
export async function choose(page, file) {
  await settled(page);
  await page.selectOption('#srcSel', id(file));
  await page.waitForFunction((l) => document.getElementById('pSrc').textContent === l,
    path.basename(file));
}
