// Keys: e, E, w and W move between err and warn rows; "/" goes to the search box, Escape leaves
// it, f toggles following; none of them acts in a text field or with a modifier held.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { choose, followTick, lines, logFixture, text } from './harness.mjs';

const fx = logFixture('pl-keys-');
const APP = fx.app;
const open = fx.open;

before(() => fx.serve());
after(() => fx.close());

// The marked rows by line number, with aria-current, and whether the first lies in the view.
const current = (page) => page.evaluate(() => {
  const log = document.getElementById('log').getBoundingClientRect();
  return [...document.querySelectorAll('#log .ln.current')].map((r) => {
    const b = r.getBoundingClientRect();
    return [Number(r.querySelector('.tx').textContent.split(' ')[2]), r.getAttribute('aria-current'),
      b.top >= log.top && b.bottom <= log.bottom];
  });
});
const scrollLog = (page, where) => page.$eval('#log', (l, w) => {
  l.scrollTop = w === 'top' ? 0 : l.scrollHeight;
}, where);

async function keyed(page) {
  await choose(page, APP);
  await page.focus('#log');
}

test('e, E, w and W move between err and warn rows from the current one, or from the top of the view', async () => {
  const { context, page } = await open(fx.direct + '/plugin_logs');
  await keyed(page);
  await scrollLog(page, 'top');
  // Lines 101 to 300 are shown: errors on every tenth, warnings on every other seventh.
  const steps = [
    // key, the row marked after it (none above the top of the view for W)
    ['W', []],
    ['e', [110]],
    ['e', [120]],
    ['E', [110]],
    ['E', [110]],
    ['w', [112]],
    ['w', [119]],
    ['W', [112]],
    ['W', [105]],
  ];
  for (const [key, want] of steps) {
    await page.keyboard.press(key === key.toUpperCase() ? `Shift+${key}` : key);
    assert.deepEqual(await current(page), want.map((n) => [n, 'true', true]), `after ${key}`);
  }
  // From the far end of the view the next row is brought into view.
  await scrollLog(page, 'end');
  await page.keyboard.press('e');
  await page.waitForTimeout(100);
  assert.deepEqual(await current(page), [[110, 'true', true]]);
  // Following has nothing new to show: the mark stays; moving paused nothing.
  assert.equal(await text(page, '#pState'), 'live 3s');
  await context.close();
});

test('without a current row, e starts at the top of the view', async () => {
  const { context, page } = await open(fx.direct + '/plugin_logs');
  await keyed(page);
  // The view ends at line 300; its first row is some way above.
  const top = await page.evaluate(() => {
    const log = document.getElementById('log').getBoundingClientRect();
    const row = [...document.querySelectorAll('#log .ln')].find((r) => r.getBoundingClientRect().bottom > log.top);
    return Number(row.querySelector('.tx').textContent.split(' ')[2]);
  });
  await page.keyboard.press('e');
  const [[line]] = await current(page);
  assert.equal(line, Math.ceil(top / 10) * 10);
  await page.keyboard.press('Shift+E');
  assert.equal((await current(page))[0][0], line - 10);
  await context.close();
});

test('the mark stays on its entry through follow ticks and a level change', async () => {
  fs.writeFileSync(APP, lines(300));
  const { context, page } = await open(fx.direct + '/plugin_logs', { clock: true });
  await keyed(page);
  await scrollLog(page, 'top');
  await page.keyboard.press('e');
  await page.keyboard.press('e');
  fs.appendFileSync(APP, lines(5, 301));
  await followTick(page);
  assert.deepEqual(await current(page), [[120, 'true', true]]);
  await page.click('#segLevel button[data-level="err"]');
  await page.focus('#log');
  assert.deepEqual(await current(page), [[120, 'true', true]], 'rebuilt under Err, still marked and in view');
  await page.keyboard.press('e');
  assert.deepEqual(await current(page), [[130, 'true', true]]);
  await page.keyboard.press('w');
  assert.deepEqual(await current(page), [[130, 'true', true]], 'no warn row is shown under Err');
  await context.close();
  fs.writeFileSync(APP, lines(300));
});

test('"/" goes to the search box, Escape empties it and returns to the tail, f toggles following', async () => {
  const { context, page } = await open(fx.direct + '/plugin_logs');
  await keyed(page);
  await page.keyboard.press('/');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'q');
  assert.equal(await page.inputValue('#q'), '', 'the key itself is not typed');
  // Keys typed into the box are text; Escape acts there.
  await page.keyboard.type('error f e');
  assert.equal(await page.inputValue('#q'), 'error f e');
  assert.deepEqual(await current(page), []);
  await page.fill('#q', 'error');
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => document.getElementById('pState').textContent === 'search');
  await page.keyboard.press('Escape');
  await page.waitForFunction(() => document.getElementById('fCount').textContent === '200 entries');
  assert.equal(await page.inputValue('#q'), '');
  assert.equal(await text(page, '#pState'), 'live 3s');
  assert.equal(await page.locator('#log mark').count(), 0);
  // Escape in the empty box hands the keys back to the log area.
  await page.keyboard.press('Escape');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'log');
  await page.keyboard.press('f');
  assert.equal(await text(page, '#btnFollow'), 'Paused');
  assert.equal(await text(page, '#pState'), 'paused');
  await page.keyboard.press('f');
  assert.equal(await text(page, '#btnFollow'), 'Follow');
  assert.equal(await text(page, '#pState'), 'live 3s');
  await context.close();
});

test('no key acts with Ctrl, Alt or Meta held, nor in the source select', async () => {
  const { context, page } = await open(fx.direct + '/plugin_logs');
  await keyed(page);
  await scrollLog(page, 'top');
  for (const mod of ['Control', 'Alt', 'Meta']) {
    for (const key of ['e', 'w', 'f', '/']) {
      await page.keyboard.press(`${mod}+${key}`);
      assert.deepEqual(await current(page), [], `${mod}+${key}`);
      assert.equal(await text(page, '#btnFollow'), 'Follow', `${mod}+${key}`);
      assert.equal(await page.evaluate(() => document.activeElement.id), 'log', `${mod}+${key}`);
    }
  }
  // Shift makes the character: F is not f.
  await page.keyboard.press('Shift+F');
  assert.equal(await text(page, '#btnFollow'), 'Follow');
  await page.focus('#srcSel');
  await page.keyboard.press('e');
  assert.deepEqual(await current(page), []);
  await page.keyboard.press('f');
  assert.equal(await text(page, '#btnFollow'), 'Follow');
  await context.close();
});
