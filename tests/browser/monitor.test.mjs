// The web monitor in headless Chromium, served by the real caster: the page loads, a source and a
// rover (whose user name holds markup) appear in the grid, a log line shows in its colour, the
// console and the station dialog open on a row, and the service stops and starts from the toolbar.
// Screenshots go to the folder named on the command line.
//   node tests/browser/monitor.test.mjs BINARY SCREENSHOT_DIR
import net from 'node:net';
import path from 'node:path';
import { DEADLINE_MS, browserTest, check, freePort, programDirectory } from './support.mjs';

const [binary, shots] = process.argv.slice(2);

// A client socket that logs in with a request and keeps the connection.
function login(port, request) {
  return new Promise((resolve, reject) => {
    const socket = net.connect(port, '127.0.0.1', () => socket.write(request));
    socket.once('data', (reply) => resolve({ socket, reply: reply.toString('latin1') }));
    socket.on('error', reject);
  });
}

const port = await freePort();
const monitorPort = await freePort();
const refusingPort = await freePort();  // the link slot's server: nobody listens there
const dir = programDirectory(`[SYSTEMSERVER]\nPORT=${port}\n[MONITOR]\nPORT=${monitorPort}\n` +
  `[NET]\nUseNet=11\nIP1=127.0.0.1\nPORT1=${refusingPort}\n`);
await browserTest({ binary, dir, ready: `PORT[${port}]`, shots, name: 'monitor' }, async ({ page, cleanups }) => {
  let dialogs = 0;
  page.on('dialog', async (dialog) => { dialogs += 1; await dialog.dismiss(); });
  await page.goto(`http://127.0.0.1:${monitorPort}/`);
  await page.waitForSelector('#link.online', { timeout: DEADLINE_MS });
  check(await page.locator('#stop').isEnabled(), 'stop is enabled while the service runs');

  const source = await login(port, 'SOURCE pw /SRC1\r\nSource-Agent: NTRIP browser\r\n\r\n');
  cleanups.push(() => source.socket.destroy());
  check(source.reply.startsWith('ICY 200 OK'), 'the source is accepted');
  const markup = '<script>alert(1)</script>';
  const credentials = Buffer.from(`${markup}:pw`).toString('base64');
  const rover = await login(port,
    `GET /SRC1 HTTP/1.0\r\nUser-Agent: NTRIP browser\r\nAuthorization: Basic ${credentials}\r\n\r\n`);
  cleanups.push(() => rover.socket.destroy());
  check(rover.reply.startsWith('ICY 200 OK'), 'the rover is accepted');
  // Like real clients both keep sending: a row shows a connection's name once its counters change.
  const gga = '$GPGGA,021505.00,4807.03800,N,01131.00000,E,4,08,0.9,545.4,M,0.0,M,1.0,0000*5C\r\n';
  const traffic = setInterval(() => {
    source.socket.write(Buffer.alloc(100, 0x41));
    rover.socket.write(gga);
  }, 250);
  cleanups.push(() => clearInterval(traffic));
  const shown = Date.now();
  await page.waitForFunction(
    (name) => [...document.querySelectorAll('.grid-row')].some((r) => r.textContent.includes(name)),
    markup, { timeout: DEADLINE_MS });
  await page.waitForFunction(
    () => [...document.querySelectorAll('.grid-row')].some((r) => r.textContent.includes('SRC1')),
    null, { timeout: DEADLINE_MS });
  check(Date.now() - shown < 2500, 'source and rover appear in the grid within about two ticks');
  check(dialogs === 0 && (await page.locator('.grid-row script').count()) === 0,
    'a user name holding <script> shows as text');
  await page.waitForFunction(() => document.querySelector('#log').textContent.includes('SRC1'), null,
    { timeout: DEADLINE_MS });
  await page.screenshot({ path: path.join(shots, 'monitor-grid.png') });

  // The debug console on the rover: its GGA shows, and typed text reaches it as typed (CR LF breaks).
  let received = '';
  rover.socket.on('data', (chunk) => { received += chunk.toString('latin1'); });
  // The row whose user-name cell (after the icon and the socket) is the rover's.
  await page.locator('.grid-row')
    .filter({ has: page.locator('span:nth-child(3)', { hasText: markup }) }).dblclick();
  await page.waitForFunction(() => document.querySelector('.console-lines').textContent.includes('$GPGGA'), null,
    { timeout: DEADLINE_MS });
  check(await page.locator('.console-name').textContent() === markup, 'the console watches the rover');
  await page.fill('.console-text', 'VORAN,HELLO\nSECOND');
  await page.click('.console-send');
  const sent = Date.now();
  while (!received.includes('VORAN,HELLO\r\nSECOND') && Date.now() - sent < DEADLINE_MS) {
    await new Promise((r) => setTimeout(r, 50));
  }
  check(received.includes('VORAN,HELLO\r\nSECOND'), 'console text reaches the rover as typed');
  // A log line in its colour: the failed link attempt is red. A log row opens the console by name.
  const failColour = await page.locator('#log div', { hasText: 'QVO Link Fail' }).first()
    .evaluate((row) => getComputedStyle(row).color);
  check(failColour === 'rgb(255, 0, 0)', `a red log line shows in red (${failColour})`);
  await page.locator('#log div', { hasText: 'NTRIP SERVER SRC1' }).first().dblclick();
  await page.waitForFunction(() => document.querySelector('.console-name').textContent === 'SRC1', null,
    { timeout: DEADLINE_MS });
  check(true, 'a double-clicked log row opens the console on its connection');
  await page.screenshot({ path: path.join(shots, 'monitor-console.png') });

  // A right-button double-click shows the station dialog of that row's connection.
  await page.locator('.grid-row')
    .filter({ has: page.locator('span:nth-child(3)', { hasText: 'SRC1' }) }).dblclick({ button: 'right' });
  await page.waitForSelector('#station[open]', { timeout: DEADLINE_MS });
  check((await page.locator('#station .station-cells').textContent()).includes('SRC1'),
    'the station dialog shows the connection');
  await page.screenshot({ path: path.join(shots, 'monitor-station.png') });
  await page.click('#station button[value=ok]');
  check(!(await page.locator('#station').evaluate((d) => d.open)), 'OK hides the station dialog');
  const indicators = await page.locator('#links span').evaluateAll((s) => s.map((i) => i.className));
  check(indicators.length === 4 && indicators.every((c) => c === ''), 'four link indicators, dark while no link is up');

  await page.click('#stop');
  await page.waitForFunction(() => !document.querySelector('#start').disabled, null, { timeout: DEADLINE_MS });
  check(await page.locator('#stop').isDisabled(), 'stop from the toolbar');
  await page.waitForFunction(() => document.querySelectorAll('.grid-row:not([hidden])').length === 0, null,
    { timeout: DEADLINE_MS });
  check(true, 'the stop closes every connection and empties the grid');
  await page.waitForFunction(() => [...document.querySelectorAll('#stats div')]
    .some((d) => d.textContent === '在线用户数0'), null, { timeout: DEADLINE_MS });
  check(true, 'the statistics show nobody online once stopped');
  const red = await page.locator('.log *').evaluateAll((rows) => rows.map((r) => getComputedStyle(r).color));
  check(red.length > 0, 'log rows are shown');
  await page.screenshot({ path: path.join(shots, 'monitor-stopped.png') });
  await page.click('#start');
  await page.waitForFunction(() => !document.querySelector('#stop').disabled, null, { timeout: DEADLINE_MS });
  check(true, 'start from the toolbar');
  await page.waitForFunction(() => document.querySelector('#tree').textContent.includes('[RTCM30]'), null,
    { timeout: DEADLINE_MS });
  check(true, 'the tree shows its format groups again after the start');
  await page.screenshot({ path: path.join(shots, 'monitor-started.png') });
});
