// Accessibility: axe-core against WCAG 2.1 A and AA in both themes, with rows shown (a filter on,
// a current row, the new-entries button up), in search mode, and with entries of several lines
// and event rows; the controls by their names.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import { choose, followTick, lines, logFixture } from './harness.mjs';

const AXE = createRequire(import.meta.url).resolve('axe-core/axe.min.js');
// 600 hits for "order": a whole-file search shows "Older matches".
const fx = logFixture('pl-a11y-', { 'orders.log': Array.from({ length: 600 },
  (_, i) => `2024-01-15 10:30:00,000 [4] INFO  App.Orders - order ${i + 1} für Zoë\n`).join('') });
const APP = fx.app;
const open = fx.open;

before(() => fx.serve());
after(() => fx.close());

// The serious and critical violations, one line each with the elements they concern.
async function audit(page) {
  await page.addScriptTag({ path: AXE });
  const result = await page.evaluate(() => window.axe.run(document, {
    runOnly: { type: 'tag', values: ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa'] },
  }));
  return result.violations.filter((v) => v.impact === 'serious' || v.impact === 'critical')
    .map((v) => `${v.id}: ${v.nodes.slice(0, 3).map((n) => n.target.join(' ')).join(', ')}` +
      ` (${v.nodes[0].any.concat(v.nodes[0].all)[0]?.message || v.help})`);
}

test('no serious or critical WCAG 2.1 A/AA violation in either theme, with rows and in search mode', async () => {
  for (const theme of ['dark', 'light']) {
    for (const width of [1280, 480]) {
      fs.writeFileSync(APP, lines(300));
      const where = `${theme} at ${width}px`;
      const { context, page } = await open(fx.direct + `/plugin_logs?theme=${theme}`, { clock: true, width, height: 800 });
      await choose(page, APP);
      await page.click('#segLevel button[data-level="warn"]');
      await page.$eval('#log', (l) => { l.scrollTop = 0; });
      fs.appendFileSync(APP, lines(10, 301));
      await followTick(page);
      await page.focus('#log');
      await page.keyboard.press('e');
      assert.equal(await page.locator('#btnNew').isVisible(), true, where);
      assert.equal(await page.locator('#log .ln.current').count(), 1, where);
      assert.deepEqual(await audit(page), [], `rows, ${where}`);

      await page.click('#segLevel button[data-level="all"]');
      await page.fill('#q', 'line 2');
      await page.press('#q', 'Enter');
      await page.waitForFunction(() => / hits of /.test(document.getElementById('fCount').textContent));
      // Marks in plain, warn and err rows.
      for (const sev of ['info', 'warn', 'err']) {
        assert.ok(await page.locator(`#log .ln.${sev} mark`).count() > 0, `${sev} marks, ${where}`);
      }
      assert.deepEqual(await audit(page), [], `search, ${where}`);
      await context.close();
    }
  }
  fs.writeFileSync(APP, lines(300));
});

// Event records as the server writes them: Source, Event ID, descriptions of several lines.
const RECORDS = [
  { ts: '2024-01-15T10:28:41.9030000Z', unit: 'Application Error', sev: 'err',
    text: 'Faulting application name: wendquil-sync.exe\nException code: 0xc0000005\nFault offset: 0x2e9a1', event_id: 1000 },
  { ts: '2024-01-15T09:45:02.0810000Z', unit: 'Wendquil Sync', sev: 'warn',
    text: 'Datei „Bericht März.xlsx“ ist gesperrt;\nneuer Versuch in 30 s.', event_id: 210 },
  { ts: '2024-01-15T09:02:17.3300000Z', unit: 'MsiInstaller', sev: 'info',
    text: 'Product: Wendquil Desktop -- Installation completed successfully.', event_id: 11707 },
  { ts: '2024-01-15T08:06:40.5000000Z', unit: 'Wendquil Sync', sev: 'info',
    text: 'Sync service started,\nwatching C:\\Users\\Zoë\\Documents\\Wendquil.', event_id: 100 },
];

test('no serious or critical violation with entries of several lines, one open and current, and event rows', async () => {
  for (const theme of ['dark', 'light']) {
    for (const width of [1280, 480]) {
      const where = `${theme} at ${width}px`;
      const { context, page } = await open(fx.direct + `/plugin_logs?theme=${theme}`, {
        width, height: 800,
        prepare: (p) => p.route('**/plugin_logs?action=tail*', (r) => r.fulfill({
          contentType: 'application/json',
          body: JSON.stringify({ ok: true, label: 'Windows Application log', entries: RECORDS }),
        })),
      });
      await page.waitForFunction(() => document.querySelectorAll('#log .ln.multi').length === 3);
      await page.click('#log .ln:first-child .more');
      await page.focus('#log .ln:first-child');
      assert.equal(await page.locator('#log .ln.open.current').count(), 1, where);
      assert.deepEqual(await audit(page), [], `entries, ${where}`);
      // The control is a button with its state, named by what it shows.
      assert.equal(await page.getByRole('button', { name: '\u22122 lines', expanded: true }).count(), 1, where);
      assert.equal(await page.getByRole('button', { name: '+1 line', expanded: false }).count(), 2, where);
      await context.close();
    }
  }
});

test('the source select, the log area and the groups of buttons have names; the log area takes focus', async () => {
  const { context, page } = await open(fx.direct + '/plugin_logs');
  await choose(page, APP);
  assert.equal(await page.getByLabel('Log source', { exact: true }).evaluate((e) => e.id), 'srcSel');
  const log = page.getByRole('region', { name: 'Log entries' });
  assert.equal(await log.evaluate((e) => e.id), 'log');
  assert.equal(await page.getByRole('group', { name: 'Entries to show' }).evaluate((e) => e.id), 'segLines');
  assert.equal(await page.getByRole('group', { name: 'Levels to show' }).evaluate((e) => e.id), 'segLevel');
  assert.equal(await page.getByRole('button', { name: 'Warn+', pressed: false }).count(), 1);
  // Tab reaches the log area after the toolbar, and the arrow keys scroll it.
  await page.focus('#btnReload');
  await page.keyboard.press('Tab');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'log');
  await page.$eval('#log', (l) => { l.scrollTop = 0; });
  await page.keyboard.press('PageDown');
  await page.waitForFunction(() => document.getElementById('log').scrollTop > 0);
  await context.close();
});

test('no serious or critical violation with the time range closed, Older matches, a source age and Download off', async () => {
  for (const theme of ['dark', 'light']) {
    for (const width of [1280, 480]) {
      const where = `${theme} at ${width}px`;
      const { context, page } = await open(fx.direct + `/plugin_logs?theme=${theme}&since=2024-01-15T10:00&until=2024-01-15T11:00`,
        { width, height: 800 });
      await choose(page, fx.file('orders.log'));
      await page.fill('#q', 'order');
      await page.press('#q', 'Enter');
      await page.waitForFunction(() => !document.getElementById('btnOlder').hidden);
      assert.equal(await page.getAttribute('#btnFollow', 'aria-disabled'), 'true', where);
      assert.equal(await page.locator('#srcAge.recent').count(), 1, where);
      assert.deepEqual(await audit(page), [], `range and older, ${where}`);
      await page.selectOption('#srcSel', 'event:System');
      assert.equal(await page.getAttribute('#btnDownload', 'aria-disabled'), 'true', where);
      assert.deepEqual(await audit(page), [], `event source, ${where}`);
      await context.close();
    }
  }
});

test('the new controls have names and Tab reaches each of them', async () => {
  const { context, page } = await open(fx.direct + '/plugin_logs');
  await choose(page, fx.file('orders.log'));
  assert.equal(await page.getByRole('group', { name: 'Time range' }).evaluate((e) => e.id), 'segRange');
  assert.equal(await page.getByLabel('From', { exact: true }).evaluate((e) => e.id), 'tFrom');
  assert.equal(await page.getByLabel('To', { exact: true }).evaluate((e) => e.id), 'tTo');
  await page.fill('#q', 'order');
  await page.press('#q', 'Enter');
  await page.waitForFunction(() => !document.getElementById('btnOlder').hidden);
  await page.fill('#tTo', '2030-01-01T00:00');
  // Tab from the source list: every control in turn, the Follow button too while it is off.
  await page.focus('#srcSel');
  const reached = new Set();
  for (let i = 0; i < 40; i++) {
    await page.keyboard.press('Tab');
    reached.add(await page.evaluate(() => document.activeElement.id || document.activeElement.textContent));
  }
  for (const want of ['Last 15 min', 'Last hour', 'Last 24 h', 'tFrom', 'tTo', 'btnAnyTime', 'btnFollow',
    'btnDownload', 'btnOlder']) {
    assert.ok(reached.has(want), `${want} not reached: ${[...reached].join(', ')}`);
  }
  // Enter on Older matches asks for them.
  const asked = page.waitForRequest((r) => r.url().includes('before='));
  await page.focus('#btnOlder');
  await page.keyboard.press('Enter');
  await asked;
  await context.close();
});
