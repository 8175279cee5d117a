// The settings form of the web monitor in headless Chromium, served by the real caster: values
// saved from the form reach the settings file, a bad number is reported next to its field, the
// service ports unlock when the service stops, and a start uses the port just typed.
// Screenshots go to the folder named on the command line.
//   node tests/browser/settings.test.mjs BINARY SCREENSHOT_DIR
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { DEADLINE_MS, browserTest, check, freePort, programDirectory } from './support.mjs';

const [binary, shots] = process.argv.slice(2);

function connects(port) {
  return new Promise((resolve) => {
    const socket = net.connect(port, '127.0.0.1', () => { socket.destroy(); resolve(true); });
    socket.on('error', () => resolve(false));
  });
}

const port = await freePort();
const monitorPort = await freePort();
const refusingPort = await freePort();
const dir = programDirectory(
  `[SYSTEMSERVER]\nPORT=${port}\n[MONITOR]\nPORT=${monitorPort}\n[NET]\nUseNet=11\nIP1=127.0.0.1\nPORT1=${refusingPort}\n`);
const iniFile = path.join(dir, 'INI', 'KavroServer.INI');
const autostart = path.join(dir, 'config', 'autostart', 'KavroServer.desktop');
let page;
const field = (id) => page.locator(`.settings-row[data-id="${id}"] input`);
const button = (id) => page.locator(`.settings-row[data-id="${id}"] button`);
// Presses a form button and waits until the page has drawn the answer.
async function act(id, action) {
  const answers = await page.locator('#settings-view').evaluate((form) => Number(form.dataset.answers ?? 0));
  await Promise.all([
    page.waitForResponse((r) => r.url().endsWith(`/api/settings/${action}`), { timeout: DEADLINE_MS }),
    button(id).click(),
  ]);
  await page.waitForFunction((n) => Number(document.querySelector('#settings-view').dataset.answers) > n, answers,
    { timeout: DEADLINE_MS });
}
// The log-on entry goes to the test's own folder, never to the user's.
const env = { XDG_CONFIG_HOME: path.join(dir, 'config') };
await browserTest({ binary, dir, env, ready: `PORT[${port}]`, shots, name: 'settings' }, async (test) => {
  page = test.page;
  await page.goto(`http://127.0.0.1:${monitorPort}/`);
  await page.waitForSelector('#link.online', { timeout: DEADLINE_MS });
  check(await page.locator('.tab.active').textContent() === '详细情况', 'the grid tab is selected at start');
  await page.click('.tab[data-tab="settings"]');
  await field(1019).waitFor({ timeout: DEADLINE_MS });
  check(await page.locator('#grid-view').isHidden(), 'the settings tab hides the grid');
  check(await page.locator('.settings-group legend').allTextContents().then((t) => t.join('|')) ===
    '网络参数|系统设置|Microsoft SQL|运行情况', 'four group boxes with their texts');
  check(await field(1006).inputValue() === String(port), 'the service port shows');
  check(await field(1006).isDisabled() && await field(1007).isDisabled(), 'ports locked while the service runs');
  check(await field(1031).getAttribute('type') === 'password', 'the SQL password is masked');
  check(/^\d{4}\/[ \d]\d\/[ \d]\d [ \d]\d:[ \d]\d:[ \d]\d$/.test(
    await page.locator('.settings-row[data-id="1015"] output').textContent()), 'the form shows when it was opened');

  await field(1019).fill('321');
  await field(1021).fill('FRA');
  await page.locator('.settings-row[data-id="1038"] input').uncheck();
  await act(1009, 'save');
  let ini = fs.readFileSync(iniFile, 'utf8');
  check(ini.includes('Disp_num=321') && ini.includes('MountLocal=FRA'), 'Save writes Disp_num and MountLocal');
  check(/SET=\d{5}1/.test(ini), 'an unchecked 自动生成用户 stores 1 in SET digit 6');
  check(ini.includes('UseSQL=0') && ini.includes(`PORT1=${refusingPort}`), 'the SQL and NET sections are written too');
  check(fs.readFileSync(autostart, 'utf8').includes(`--dir "${dir}/"`), 'the log-on entry is written');

  await field(1019).fill('12x');
  await field(1021).fill('USA');
  await act(1009, 'save');
  const error = await page.locator('.settings-row[data-id="1019"] .settings-error').textContent();
  check(error.length > 0, `a bad number is reported next to its field (${error})`);
  ini = fs.readFileSync(iniFile, 'utf8');
  check(ini.includes('Disp_num=321') && ini.includes('MountLocal=FRA'), 'the bad field and the later ones keep their values');
  await page.locator('.settings-row[data-id="1016"] input').uncheck();
  await field(1019).fill('322');
  await act(1009, 'save');
  check(!fs.existsSync(autostart), 'the log-on entry is removed when 程序开机自启动 is cleared');

  await act(1037, 'stop');
  await page.waitForFunction(() => !document.querySelector('#start').disabled, null, { timeout: DEADLINE_MS });
  check(await field(1006).isEnabled() && await field(1026).isEnabled(), 'stopping unlocks the ports');
  check(await button(1036).isEnabled() && await button(1037).isDisabled(), 'start enabled, stop disabled');
  const sqlBox = page.locator('.settings-row[data-id="1020"] input');
  await sqlBox.check();
  check(await field(1028).isEnabled() && await field(1032).isEnabled(), '使用SQL unlocks the SQL fields');
  await sqlBox.uncheck();
  check(await field(1028).isDisabled() && await field(1029).isDisabled(), 'clearing 使用SQL locks them at once');

  const newPort = await freePort();
  await field(1006).fill(String(newPort));
  await act(1036, 'start');
  await page.waitForFunction(() => !document.querySelector('#stop').disabled, null, { timeout: DEADLINE_MS });
  check(await field(1006).isDisabled(), 'starting locks the ports again');
  check(await connects(newPort), 'the start uses the port just typed');
  check(fs.readFileSync(iniFile, 'utf8').includes(`\nPORT=${newPort}`), 'and saved it first');
  await page.screenshot({ path: path.join(shots, 'monitor-settings.png') });
});
