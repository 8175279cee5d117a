// With Language=English the caster installs its shipped English language file and the web monitor
// reads English: the view tabs, the grid columns, the settings form, the statistics and the log.
//   node tests/browser/english.test.mjs BINARY SCREENSHOT_DIR
import fs from 'node:fs';
import path from 'node:path';
import { DEADLINE_MS, browserTest, check, freePort, programDirectory } from './support.mjs';

const [binary, shots] = process.argv.slice(2);
const port = await freePort();
const monitorPort = await freePort();
const dir = programDirectory(
  `[SYSTEM]\nLanguage=English\n[SYSTEMSERVER]\nPORT=${port}\nPORT2=0\n[MONITOR]\nPORT=${monitorPort}\n[NET]\nUseNet=0\n`);
await browserTest({ binary, dir, ready: `PORT[${port}]`, shots, name: 'english' }, async ({ page }) => {
  check(fs.existsSync(path.join(dir, 'INI', 'Server_English.INI')), 'the English language file is installed');
  await page.goto(`http://127.0.0.1:${monitorPort}/`);
  await page.waitForSelector('#link.online', { timeout: DEADLINE_MS });
  const tabs = await page.locator('.tab').allTextContents();
  check(tabs.join('|') === 'Settings|Details|Map|Accounts', `the view tabs read English (${tabs.join('|')})`);
  const head = await page.locator('#grid-head').textContent();
  check(head.includes('User') && head.includes('Online time'), 'the grid columns read English');
  check((await page.locator('#stats').textContent()).includes('Running time'), 'the statistics read English');
  await page.waitForFunction(() => document.querySelector('#log').textContent.includes('Server IP'), null,
    { timeout: DEADLINE_MS });
  check(true, 'the log reads English');
  await page.click('.tab[data-tab=settings]');
  await page.waitForFunction(() => document.querySelector('#settings-view').textContent
    .includes('Start service automatically'), null, { timeout: DEADLINE_MS });
  check(!(await page.locator('#settings-view').textContent()).includes('自动开启服务'),
    'the settings form reads English');
  await page.screenshot({ path: path.join(shots, 'monitor-english-settings.png') });
});
