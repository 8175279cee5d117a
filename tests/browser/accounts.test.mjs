// The account page in headless Chromium, served by the real caster with password protection on: the
// toolbar's Users button opens it, an account created in the form logs in over NTRIP and shows as
// online, an edit and a refused duplicate show, and after a confirmed delete the login is refused.
// The source's account comes from the command form, run beside the caster.
// Screenshots go to the folder named on the command line.
//   node tests/browser/accounts.test.mjs BINARY SCREENSHOT_DIR
import { spawnSync } from 'node:child_process';
import net from 'node:net';
import path from 'node:path';
import { DEADLINE_MS, browserTest, check, freePort, programDirectory } from './support.mjs';

const [binary, shots] = process.argv.slice(2);

// Connects, sends the request and resolves with the socket and the first reply bytes.
function login(port, request) {
  return new Promise((resolve, reject) => {
    const socket = net.connect(port, '127.0.0.1', () => socket.write(request));
    socket.once('data', (reply) => resolve({ socket, reply: reply.toString('latin1') }));
    socket.once('close', () => resolve({ socket, reply: '' }));
    socket.on('error', reject);
  });
}

function rover(port, user, password) {
  const credentials = Buffer.from(`${user}:${password}`).toString('base64');
  return login(port, `GET /SRC1 HTTP/1.0\r\nUser-Agent: NTRIP browser\r\nAuthorization: Basic ${credentials}\r\n\r\n`);
}

const port = await freePort();
const monitorPort = await freePort();
// SET digit 14: password protection.
const dir = programDirectory(`[SYSTEMSERVER]\nPORT=${port}\nSET=10000000000001000000\n[MONITOR]\nPORT=${monitorPort}\n`);
await browserTest({ binary, dir, ready: `PORT[${port}]`, shots, name: 'accounts' }, async ({ page, cleanups }) => {
  let alerts = 0;
  page.on('dialog', async (dialog) => { alerts += 1; await dialog.dismiss(); });
  const markup = '<img src=x onerror=alert(1)>';
  for (const words of [['add', 'SRC1', 'pw'], ['add', markup, 'pw']]) {
    const command = spawnSync(binary, ['--dir', dir, 'user', ...words], { encoding: 'utf8' });
    check(command.status === 0, `the command form adds ${words[1]} beside the running caster (${command.stderr.trim()})`);
  }

  await page.goto(`http://127.0.0.1:${monitorPort}/`);
  await page.waitForSelector('#link.online', { timeout: DEADLINE_MS });
  await page.click('#admin');
  await page.waitForSelector('#accounts-view:not([hidden]) tr[data-name="SRC1"]', { timeout: DEADLINE_MS });
  check(await page.locator('#grid-view').isHidden(), 'the Users button switches to the account page');
  check(alerts === 0 && (await page.locator('.accounts-table img').count()) === 0,
    'an account name holding markup shows as text');

  // A new account, every column through the form.
  const form = page.locator('.accounts-form');
  const values = {
    name: 'rover7', password: 's3cret', allowedSeconds: '7200', validUntil: '20991231', organisation: 'Survey Co',
    contact: 'Li Lei', telephone: '010-5555', area: 'North Yard', serial: 'SN-77', email: 'li@example.com',
  };
  for (const [key, value] of Object.entries(values)) await form.locator(`input[name="${key}"]`).fill(value);
  await form.locator('input[name="serialBinding"]').check();
  await form.locator('.accounts-services label', { hasText: '[RTD]' }).locator('input').uncheck();
  await form.locator('.accounts-save').click();
  const row = page.locator('tr[data-name="rover7"]');
  await row.waitFor({ timeout: DEADLINE_MS });
  const cells = await row.locator('td').allTextContents();
  check(cells.includes('Survey Co') && cells.includes('SN-77 (bound)') && cells.includes('20991231'),
    `the new account is listed with its columns (${cells.join(' | ')})`);
  check(cells.some((c) => c.includes('[RTCM30]') && !c.includes('[RTD]')), 'the denied service is left out');

  // The source and the new account log in over NTRIP; the rover then shows as online. Its serial
  // binding asks for the serial in the agent text.
  const source = await login(port, 'SOURCE pw /SRC1\r\nSource-Agent: NTRIP browser\r\n\r\n');
  cleanups.push(() => source.socket.destroy());
  check(source.reply.startsWith('ICY 200 OK'), 'the source with the account from the command form is accepted');
  await form.locator('input[name="serialBinding"]').uncheck();
  await form.locator('.accounts-save').click();
  await page.waitForFunction(() => document.querySelector('.accounts-message').textContent === 'rover7 saved', null,
    { timeout: DEADLINE_MS });
  const accepted = await rover(port, 'rover7', 's3cret');
  cleanups.push(() => accepted.socket.destroy());
  check(accepted.reply.startsWith('ICY 200 OK'), 'the account created in the page logs in');
  await page.locator('.accounts-search').fill('rover');
  await page.waitForSelector('tr[data-name="rover7"] .accounts-online.on', { timeout: DEADLINE_MS });
  check(await page.locator('tr[data-name="SRC1"]').count() === 0, 'the search narrows the list');
  check(true, 'the connected account is marked online');
  await page.screenshot({ path: path.join(shots, 'accounts-online.png') });

  // A second account of the same name is refused in the form.
  await page.locator('.accounts-new').click();
  await form.locator('input[name="name"]').fill('rover7');
  await form.locator('input[name="password"]').fill('other');
  await form.locator('.accounts-save').click();
  await page.waitForFunction(() => document.querySelector('.accounts-error').textContent !== '', null,
    { timeout: DEADLINE_MS });
  check(await page.locator('.accounts-error').textContent() === 'account rover7 exists already',
    'a taken name is refused with its reason');
  await page.screenshot({ path: path.join(shots, 'accounts-duplicate.png') });

  // Delete after the confirmation; a new login of the account is refused.
  accepted.socket.destroy();
  await row.locator('.accounts-delete').click();
  await page.waitForSelector('.accounts-confirm[open]', { timeout: DEADLINE_MS });
  check((await page.locator('.accounts-confirm p').textContent()).includes('rover7'), 'the delete asks first');
  await page.screenshot({ path: path.join(shots, 'accounts-confirm.png') });
  await page.locator('.accounts-confirm-yes').click();
  await row.waitFor({ state: 'detached', timeout: DEADLINE_MS });
  check(true, 'the deleted account leaves the list');
  const refused = await rover(port, 'rover7', 's3cret');
  refused.socket.destroy();
  check(!refused.reply.startsWith('ICY 200 OK'), `the deleted account's login is refused (${refused.reply.split('\r\n')[0]})`);
  await page.locator('.accounts-search').fill('');
  await page.waitForSelector('tr[data-name="SRC1"]', { timeout: DEADLINE_MS });
  await page.screenshot({ path: path.join(shots, 'accounts-list.png') });
});
