// With Language=English the caster installs its shipped English language file and the web monitor
// reads English: the view tabs, the grid columns, the settings form, the statistics and the log.
//   node tests/browser/english.test.mjs BINARY SCREENSHOT_DIR
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

const [binary, shots] = process.argv.slice(2);
const DEADLINE_MS = 10000;

function freePort() {
  return new Promise((resolve) => {
    const server = net.createServer().listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

function check(condition, what) {
  if (!condition) throw new Error(`failed: ${what}`);
  console.log(`ok: ${what}`);
}

const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kavro-english-'));
const port = await freePort();
const monitorPort = await freePort();
fs.mkdirSync(path.join(dir, 'INI'));
fs.writeFileSync(path.join(dir, 'INI', 'KavroServer.INI'),
  `[SYSTEM]\nLanguage=English\n[SYSTEMSERVER]\nPORT=${port}\nPORT2=0\n[MONITOR]\nPORT=${monitorPort}\n[NET]\nUseNet=0\n`);
fs.mkdirSync(shots, { recursive: true });
const caster = spawn(binary, ['--dir', dir], { stdio: ['ignore', 'pipe', 'inherit'] });
let output = '';
caster.stdout.on('data', (chunk) => { output += chunk; });
const browser = await chromium.launch({
  executablePath: process.env.KAVRO_CHROMIUM ?? '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-background-networking'],
});
let failed = false;
let page;
try {
  const start = Date.now();
  while (!output.includes(`PORT[${port}]`)) {
    if (Date.now() - start > DEADLINE_MS) throw new Error('the caster did not start');
    await new Promise((r) => setTimeout(r, 50));
  }
  check(fs.existsSync(path.join(dir, 'INI', 'Server_English.INI')), 'the English language file is installed');
  page = await browser.newPage({ viewport: { width: 1400, height: 800 } });
  await page.goto(`http://127.0.0.1:${monitorPort}/`);
  await page.waitForSelector('#link.online', { timeout: DEADLINE_MS });
  const tabs = await page.locator('.tab').allTextContents();
  check(tabs.join('|') === 'Settings|Details', `the view tabs read English (${tabs.join('|')})`);
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
} catch (error) {
  console.error(error.message);
  console.error(output.slice(-2000));
  await page?.screenshot({ path: path.join(shots, 'monitor-english-failed.png') }).catch(() => {});
  failed = true;
} finally {
  await browser.close();
  caster.kill('SIGTERM');
  await new Promise((r) => caster.once('exit', r));
  fs.rmSync(dir, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
