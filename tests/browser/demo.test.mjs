// The run command as a newcomer meets it: `bash scripts/run.sh` serves events, log files and a
// tail that grows, and Ctrl-C stops the server and the writer behind the growing log.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { REPO, freePort, pause, text, workspace } from './harness.mjs';

const ws = workspace('pl-demo-');
let run = null;

// Whether any process of the run command's group is left.
function alive(group) {
  try { process.kill(-group, 0); return true; } catch { return false; }
}

after(async () => {
  if (run && alive(run.pid)) process.kill(-run.pid, 'SIGKILL');
  await ws.close();
});

test('the run command serves events, files and a growing tail, and stops on Ctrl-C', async () => {
  const port = await freePort();
  const base = `http://127.0.0.1:${port}/plugin_logs`;
  // Its own process group, as a terminal gives it, so that SIGINT reaches all of it.
  run = spawn('bash', [path.join(REPO, 'scripts/run.sh'), '--port', String(port)],
    { detached: true, stdio: ['ignore', 'pipe', 'inherit'] });
  let said = '';
  run.stdout.on('data', (d) => { said += d; });
  // The first run builds the program, which takes a while on a small machine.
  let sources = null;
  for (let i = 0; i < 1200 && !sources; i++) {
    try { sources = await (await fetch(base + '?action=sources')).json(); } catch { await pause(250); }
  }
  assert.ok(sources, 'the run command never answered');
  assert.match(said, new RegExp(`http://127\\.0\\.0\\.1:${port}/plugin_logs`));
  const ids = sources.sources.map((s) => s.id);
  assert.deepEqual(ids.slice(0, 2), ['event:System', 'event:Application']);
  const app = ids.find((i) => i.endsWith('/wendquil/app.log'));
  assert.ok(app && !app.startsWith('file:' + path.join(REPO, 'samples')), `not a copy: ${app}`);

  const { context, page } = await (async () => {
    const browser = await ws.browser();
    const c = await browser.newContext({ viewport: { width: 1280, height: 900 } });
    const p = await c.newPage();
    await p.goto(base);
    return { context: c, page: p };
  })();
  // The first source is the System event log, and the sample tool gives it records.
  await page.waitForFunction(() => document.querySelectorAll('#log .ln').length > 0);
  assert.equal(await page.inputValue('#srcSel'), 'event:System');
  assert.match(await text(page, '#log'), /Print Spooler service entered the running state/);
  assert.equal(await page.locator('#log .ln.err').count() > 0, true);
  const groups = await page.$$eval('#srcSel optgroup', (g) => g.map((x) => x.label));
  assert.deepEqual(groups, ['Log files', 'Event logs']);

  // The tail of app.log moves while following.
  await page.selectOption('#srcSel', app);
  await page.waitForFunction(() => document.getElementById('pSrc').textContent === 'app.log');
  const first = await page.$eval('#log', (l) => l.lastChild.textContent);
  await page.waitForFunction((f) => document.getElementById('log').lastChild.textContent !== f,
    first, { timeout: 10000 });
  assert.equal(await text(page, '#pState'), 'live 3s');
  await context.close();

  // Ctrl-C: the server and the writer stop; the log stops growing.
  const log = app.slice('file:'.length);
  process.kill(-run.pid, 'SIGINT');
  for (let i = 0; i < 40 && alive(run.pid); i++) await pause(100);
  assert.equal(alive(run.pid), false, 'a process of the run command outlived Ctrl-C');
  const size = fs.statSync(log).size;
  await pause(1500);
  assert.equal(fs.statSync(log).size, size, 'the log still grows');
  await assert.rejects(fetch(base + '?action=info'));
});
