// Main-thread time of the viewer's follow ticks with 2000 rows shown, in headless chromium
// against the program behind lighttpd's CGI. Reports figures only; run by hand:
//   node bench/browser.mjs [program[@page_program] ...]      (default build/linux/plugin_logs)
// Several programs (say, builds of two versions of the page) are measured in turns, each with
// a log of its own. program@page_program shows page_program's page against program's API (this
// page against a server built from another branch, say). Needs the browser tests' packages: (cd tests/browser && npm ci).
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const REPO = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const require = createRequire(path.join(REPO, 'tests/browser/package.json'));
const { chromium } = require('playwright-core');

const ROUNDS = Number(process.env.BENCH_ROUNDS || 15);
const ROWS = 2000;
const ADDED = 3;
const programs = process.argv.slice(2).map((p) => p.split('@').map((x) => path.resolve(x)));
if (!programs.length) programs.push([path.join(REPO, 'build/linux/plugin_logs')]);

const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'pl-bench-browser-'));
const servers = [];
let next = 1;

function lines(n) {
  let s = '';
  for (let i = 0; i < n; i++, next++) {
    const sev = next % 10 === 0 ? 'error: disk failed' : next % 7 === 0 ? 'warning: slow' : 'ok';
    s += `2026-12-09T08:${String(next % 60).padStart(2, '0')}:00.123Z app: request ${next} ` +
      `served from 10.0.0.${next % 250} in ${next % 97} ms, ${sev}\n`;
  }
  return s;
}

function freePort() {
  return new Promise((resolve) => {
    const s = net.createServer().listen(0, '127.0.0.1', () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
  });
}

async function serve(name, program, data) {
  const port = await freePort();
  const dir = path.join(tmp, name);
  fs.mkdirSync(dir);
  const conf = execFileSync('bash', [path.join(REPO, 'scripts/lighttpd_conf.sh'), dir,
    String(port), program, data, '']);
  fs.writeFileSync(path.join(dir, 'lighttpd.conf'), conf);
  servers.push(spawn('lighttpd', ['-D', '-f', path.join(dir, 'lighttpd.conf')], { stdio: 'inherit' }));
  const base = `http://127.0.0.1:${port}`;
  for (let i = 0; i < 100; i++) {
    try { await fetch(base + '/plugin_logs?action=info'); return base; } catch { /* not yet */ }
    await new Promise((r) => setTimeout(r, 50));
  }
  throw new Error('lighttpd did not start');
}

// One viewer following a 2000-row tail of its own log, with the follow timer under our clock.
async function viewer(browser, [program, pageFrom], n) {
  const data = path.join(tmp, `data${n}`);
  const log = path.join(data, 'wendquil', 'bench.log');
  fs.mkdirSync(path.dirname(log), { recursive: true });
  fs.writeFileSync(log, lines(ROWS + 500));
  const base = await serve(`server${n}`, program, data);
  const context = await browser.newContext({ viewport: { width: 1280, height: 900 } });
  const page = await context.newPage();
  // Settles once the page has parsed the last answer and run what it chains on it.
  await page.addInitScript(() => {
    const json = Response.prototype.json;
    Response.prototype.json = function () {
      const p = json.call(this);
      window.parsed = p.then(() => new Promise((r) => setTimeout(r, 0)));
      return p;
    };
  });
  if (pageFrom) {
    await page.route((u) => !u.search.includes('action='), (route) => {
      const out = execFileSync(pageFrom, [], { env: { QUERY_STRING: '' } });
      route.fulfill({ contentType: 'text/html; charset=utf-8', body: out.subarray(out.indexOf('\r\n\r\n') + 4) });
    });
  }
  await page.clock.install();
  await page.goto(base + '/plugin_logs');
  await page.waitForFunction(() => document.querySelectorAll('#srcSel option').length > 0);
  await page.selectOption('#srcSel', 'file:' + log);
  await page.click('#segLines button[data-n="2000"]');
  await page.waitForFunction((n) => document.getElementById('fCount').textContent === n + ' entries', ROWS);
  const cdp = await context.newCDPSession(page);
  await cdp.send('Performance.enable');
  return { program: pageFrom ? `${program} with the page of ${pageFrom}` : program, log, page, cdp };
}

// Main-thread time so far in ms: all tasks, and the script, style and layout parts of it.
const PARTS = ['TaskDuration', 'ScriptDuration', 'RecalcStyleDuration', 'LayoutDuration'];
async function mainThread(v) {
  const { metrics } = await v.cdp.send('Performance.getMetrics');
  return PARTS.map((name) => metrics.find((m) => m.name === name).value * 1000);
}

async function since(v, before) {
  return (await mainThread(v)).map((x, i) => x - before[i]);
}

// Two frames after the answer: style, layout and paint of what it changed are done.
async function frames(page) {
  await page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));
}

// Main-thread time of one tick; with `added`, the log grows first.
async function tick(v, added) {
  if (added) fs.appendFileSync(v.log, lines(added));
  await frames(v.page);
  const before = await mainThread(v);
  const answered = v.page.waitForResponse((r) => r.url().includes('action=tail'));
  await v.page.clock.runFor(3000);
  await answered;
  await v.page.evaluate(() => window.parsed);
  await frames(v.page);
  return since(v, before);
}

// The harness's own share: the same calls without a tick.
async function idle(v) {
  await frames(v.page);
  const before = await mainThread(v);
  await v.page.evaluate(() => window.parsed);
  await frames(v.page);
  return since(v, before);
}

const median = (a) => [...a].sort((x, y) => x - y)[Math.floor((a.length - 1) / 2)];

// "total ms (script, style, layout)": medians of each part over the runs.
function figure(runs) {
  const m = PARTS.map((_, i) => median(runs.map((r) => r[i])).toFixed(1));
  const totals = runs.map((r) => r[0]);
  return `${m[0]} ms (min ${Math.min(...totals).toFixed(1)}, max ${Math.max(...totals).toFixed(1)}; ` +
    `script ${m[1]}, style ${m[2]}, layout ${m[3]})`;
}

const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium',
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
try {
  const viewers = [];
  for (const [i, p] of programs.entries()) viewers.push(await viewer(browser, p, i));
  const figures = viewers.map(() => ({ same: [], added: [], idle: [] }));
  for (const v of viewers) { await tick(v, 0); await tick(v, ADDED); }
  for (let r = 0; r < ROUNDS; r++) {
    for (const [i, v] of viewers.entries()) {
      figures[i].same.push(await tick(v, 0));
      figures[i].added.push(await tick(v, ADDED));
      figures[i].idle.push(await idle(v));
    }
  }
  console.log(`main-thread time per follow tick, ${ROWS} rows shown, median of ${ROUNDS} ` +
    `(chromium ${browser.version()}, ${os.cpus().length} cores)`);
  for (const [i, v] of viewers.entries()) {
    const f = figures[i];
    console.log(`${v.program}:`);
    console.log(`  nothing new     ${figure(f.same)}`);
    console.log(`  ${ADDED} lines added   ${figure(f.added)}`);
    console.log(`  harness alone   ${figure(f.idle)}`);
  }
} finally {
  await browser.close();
  for (const s of servers) s.kill();
  fs.rmSync(tmp, { recursive: true, force: true });
}
