// The work-area dialogs in headless Chromium, served by the real caster: an area is added (a second
// one of the same name is refused and the name dialog stays open), its corners are picked by a
// rectangle dragged on the map and saved to the database, its delete is refused while an account uses
// it, and it is deleted once none does. Screenshots go to the folder named on the command line.
//   node tests/browser/areas.test.mjs BINARY SCREENSHOT_DIR
import { spawnSync } from 'node:child_process';
import path from 'node:path';
import { DEADLINE_MS, browserTest, check, freePort, programDirectory } from './support.mjs';

const [binary, shots] = process.argv.slice(2);

const port = await freePort();
const monitorPort = await freePort();
const dir = programDirectory(`[SYSTEMSERVER]\nPORT=${port}\n[MONITOR]\nPORT=${monitorPort}\n[NET]\nUseNet=0\n`);
await browserTest({ binary, dir, ready: `PORT[${port}]`, shots, name: 'areas' }, async ({ page }) => {
  await page.goto(`http://127.0.0.1:${monitorPort}/`);
  await page.waitForSelector('#link.online', { timeout: DEADLINE_MS });
  const dialog = page.locator('#areas');
  await page.click('#areas-open');
  await page.waitForSelector('#areas[open] h3:text("工作区范围设置")', { timeout: DEADLINE_MS });

  const add = async (name) => {
    await dialog.locator('.areas-buttons button', { hasText: '增加' }).click();
    await page.fill('.areas-name input', name);
    const answered = page.waitForResponse((r) => r.url().endsWith('/api/areas/add'));
    await page.click('.areas-name button:text("OK")');
    return (await answered).status();
  };
  check(await add('Zone1') === 200, 'an area is added');
  await page.waitForFunction(() => document.querySelector('.areas-list').value === 'Zone1', null,
    { timeout: DEADLINE_MS });
  check(await add('Zone1') === 409, 'the same name again is refused');
  await page.waitForFunction(() => document.querySelector('.areas-name .areas-error').textContent === 'Repeat Name',
    null, { timeout: DEADLINE_MS });
  check(await page.locator('.areas-name').evaluate((d) => d.open), 'the name dialog stays open on "Repeat Name"');
  await page.click('.areas-name button:text("取消")');
  check(await page.locator('.areas-list option').count() === 1, 'the list keeps one entry of the name');

  // Pick the corners: the map tab opens, a rectangle is dragged on it.
  await dialog.locator('.areas-buttons button', { hasText: '坐标选取' }).click();
  await page.waitForSelector('.map-surface.leaflet-container', { timeout: DEADLINE_MS });
  const surface = await page.locator('.map-surface').boundingBox();
  const from = { x: surface.x + 120, y: surface.y + surface.height - 80 };
  const to = { x: surface.x + 420, y: surface.y + surface.height - 260 };
  const picked = page.waitForResponse((r) => r.url().endsWith('/api/areas/pick'));
  await page.mouse.move(from.x, from.y);
  await page.mouse.down();
  await page.mouse.move((from.x + to.x) / 2, (from.y + to.y) / 2);
  await page.mouse.move(to.x, to.y);
  await page.mouse.up();
  const state = await (await picked).json();
  const [b1, b2, l1, l2] = state.bounds;
  check(b1 < b2 && l1 < l2 && b1 !== 0, `the picked corners fill the fields (B ${b1}..${b2}, L ${l1}..${l2})`);
  check([b1, b2, l1, l2].every((v) => Math.abs(v * 1e6 - Math.round(v * 1e6)) < 1e-3),
    'the corners are kept to six decimals');
  // The inputs in order: B2 (1049), L2 (1050), B1 (1047), L1 (1048), then the parameters.
  await page.waitForFunction(([north, south]) => {
    const inputs = document.querySelectorAll('.areas-fields input');
    return Number(inputs[0].value) === north && Number(inputs[2].value) === south;
  }, [b2, b1], { timeout: DEADLINE_MS });
  check(true, 'the dialog shows the picked latitudes');
  const savedAnswer = page.waitForResponse((r) => r.url().endsWith('/api/areas/save'));
  await dialog.locator('.areas-buttons button', { hasText: '编辑完成' }).click();
  check((await savedAnswer).status() === 200, 'the corners are saved');
  // Read back from the database: selecting the area reads it again.
  const saved = await page.evaluate(async () => (await fetch('/api/areas/select', {
    method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify({ name: 'Zone1' }),
  })).json());
  check(JSON.stringify(saved.bounds) === JSON.stringify(state.bounds), 'the corners were saved to the database');
  await page.waitForSelector('path[data-layer="Scope"]', { timeout: DEADLINE_MS });
  check(true, 'the work area is drawn on the map');
  await page.screenshot({ path: path.join(shots, 'areas-picked.png') });

  // An account in the area (made with the command form while the caster runs): its delete is refused.
  const user = (...words) => spawnSync(binary, ['--dir', dir, 'user', ...words], { encoding: 'utf8' });
  check(user('add', 'surveyor', 'pw', '--area', 'Zone1').status === 0, 'an account in Zone1 is added');
  const remove = async () => {
    page.once('dialog', (question) => question.accept());
    const answer = page.waitForResponse((r) => r.url().endsWith('/api/areas/delete'));
    await dialog.locator('.areas-buttons button', { hasText: '删除' }).click();
    return (await answer).status();
  };
  check(await remove() === 409, 'the delete of a work area in use is refused');
  // The page draws an answer after it arrived: wait for the drawing, not just the answer.
  await page.waitForFunction(() => document.querySelector('#areas > .areas-error').textContent.startsWith('Not deleted'),
    null, { timeout: DEADLINE_MS });
  check(true, 'and the dialog says why');
  check(await page.locator('.areas-list option').count() === 1, 'the area stays in the list');
  await page.screenshot({ path: path.join(shots, 'areas-refused-delete.png') });
  check(user('delete', 'surveyor').status === 0, 'the account is deleted');
  check(await remove() === 200, 'then the work area is deleted');
  await page.waitForFunction(() => document.querySelectorAll('.areas-list option').length === 0, null,
    { timeout: DEADLINE_MS });
  check(true, 'and leaves the list');
});
