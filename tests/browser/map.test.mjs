// The map tab in headless Chromium, served by the real caster: two bases that report their position
// are drawn where they are with their symbol kinds, a rover that moves leaves a trail that is emptied
// once it grows past "Disp_num", the view follows the rover until follow is switched off, the layer
// control hides a layer, the zoom tools zoom by their factors, tiles come from the TileURL the
// operator set (a tile server of the test on loopback), and the picture is saved as PNG. Screenshots go to the folder named on the
// command line.
//   node tests/browser/map.test.mjs BINARY SCREENSHOT_DIR
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import path from 'node:path';
import { DEADLINE_MS, browserTest, check, freePort, programDirectory } from './support.mjs';

const [binary, shots] = process.argv.slice(2);
const DISP_NUM = 5;

function connect(port, text) {
  return new Promise((resolve, reject) => {
    const socket = net.connect(port, '127.0.0.1', () => socket.write(text));
    socket.once('data', (reply) => resolve({ socket, reply: reply.toString('latin1') }));
    socket.on('error', reject);
  });
}

// A GGA sentence with an RTK fix at a position in degrees.
function gga(latitude, longitude) {
  const part = (degrees, width) => {
    const whole = Math.floor(degrees);
    return `${String(whole).padStart(width, '0')}${((degrees - whole) * 60).toFixed(5).padStart(8, '0')}`;
  };
  const body = `GPGGA,021505.00,${part(latitude, 2)},N,${part(longitude, 3)},E,4,08,0.9,45.4,M,0.0,M,1.0,0000`;
  let sum = 0;
  for (const c of body) sum ^= c.charCodeAt(0);
  return `$${body}*${sum.toString(16).toUpperCase().padStart(2, '0')}\r\n`;
}

// The map coordinates the page shows with the mouse at a point of the page.
async function coordinatesAt(page, x, y) {
  await page.mouse.move(x, y);
  const text = await page.locator('.map-coordinates').textContent();
  const match = /^L:(-?\d+\.\d{6}) B:(-?\d+\.\d{6})$/.exec(text);
  if (!match) throw new Error(`coordinate text ${text}`);
  return { lon: Number(match[1]), lat: Number(match[2]) };
}

async function centreOf(locator) {
  const box = await locator.boundingBox();
  return box && { x: box.x + box.width / 2, y: box.y + box.height / 2 };
}

// A tile server: every tile is one grey pixel; the requests are counted.
const TILE = Buffer.from('iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==', 'base64');
let tileRequests = 0;
const tiles = http.createServer((request, response) => {
  tileRequests += 1;
  response.writeHead(200, { 'Content-Type': 'image/png', 'Access-Control-Allow-Origin': '*' });
  response.end(TILE);
});
const tilePort = await new Promise((resolve) => tiles.listen(0, '127.0.0.1', () => resolve(tiles.address().port)));

const port = await freePort();
const monitorPort = await freePort();
const dir = programDirectory(`[SYSTEMSERVER]\nPORT=${port}\nDisp_num=${DISP_NUM}\n[MONITOR]\nPORT=${monitorPort}\n` +
  `TileURL=http://127.0.0.1:${tilePort}/{z}/{x}/{y}.png\n`);
await browserTest({ binary, dir, ready: `PORT[${port}]`, shots, name: 'map' }, async ({ page, cleanups }) => {
  cleanups.push(() => {
    tiles.closeAllConnections();
    tiles.close();
  });
  await page.goto(`http://127.0.0.1:${monitorPort}/`);
  await page.waitForSelector('#link.online', { timeout: DEADLINE_MS });
  await page.click('.tab[data-tab=map]');
  await page.waitForSelector('.map-surface.leaflet-container', { timeout: DEADLINE_MS });
  check(true, 'the map tab shows a Leaflet map served by the caster');
  await page.waitForSelector('.leaflet-tile-loaded', { timeout: DEADLINE_MS });
  check(tileRequests > 0, `tiles come from the TileURL set (${tileRequests} requests)`);

  // Two bases of the device protocol report their positions.
  const bases = [
    { name: 'BASEA', agent: 'CORS-Reference', lat: 39.9, lon: 116.4, kind: '8' },
    { name: 'BASEB', agent: 'RTK base 1', lat: 39.95, lon: 116.5, kind: '0' },
  ];
  for (const base of bases) {
    const device = await connect(port, `VORAN,BASE,${base.name},${base.agent},OK,0\r\n`);
    cleanups.push(() => device.socket.destroy());
    device.socket.write(`VORAN,FIXPOSITIONBLH,${base.lat},${base.lon},50\r\n`);
  }
  for (const base of bases) {
    await page.waitForSelector(`path[data-name="${base.name}"]`, { timeout: DEADLINE_MS });
  }
  // Whole map: the extent of everything drawn.
  await page.click('button[data-command="32777"]');
  for (const base of bases) {
    const symbol = page.locator(`path[data-name="${base.name}"]`);
    check(await symbol.getAttribute('data-symbol') === base.kind, `${base.name} has symbol kind ${base.kind}`);
    const at = await centreOf(symbol);
    const shown = await coordinatesAt(page, at.x, at.y);
    check(Math.abs(shown.lat - base.lat) < 0.002 && Math.abs(shown.lon - base.lon) < 0.002,
      `${base.name} is drawn at its position (L:${shown.lon} B:${shown.lat})`);
  }
  await page.screenshot({ path: path.join(shots, 'map-bases.png') });

  // A rover on a source's mountpoint moves north-east, one GGA at a time.
  const source = await connect(port, 'SOURCE pw /SRC1\r\nSource-Agent: NTRIP browser\r\n\r\n');
  cleanups.push(() => source.socket.destroy());
  const credentials = Buffer.from('rover1:pw').toString('base64');
  const rover = await connect(port, `GET /SRC1 HTTP/1.0\r\nUser-Agent: NTRIP browser\r\nAuthorization: Basic ${credentials}\r\n\r\n`);
  cleanups.push(() => rover.socket.destroy());
  check(rover.reply.startsWith('ICY 200 OK'), 'the rover is accepted');
  let step = 0;
  const position = () => ({ lat: 39.8 + step * 0.002, lon: 116.3 + step * 0.002 });
  const move = async () => {
    const { lat, lon } = position();
    rover.socket.write(gga(lat, lon));
    step += 1;
    // One position per tick, so that every one reaches the map.
    await new Promise((r) => setTimeout(r, 350));
  };
  const trail = () => page.locator('path[data-symbol="13"]').count();
  await move();
  await page.waitForSelector('path[data-name="rover1"][data-layer="ROVE"]', { timeout: DEADLINE_MS });
  let most = 0;
  while (step <= DISP_NUM + 1) {
    await move();
    most = Math.max(most, await trail());
  }
  await page.waitForFunction((n) => document.querySelectorAll('path[data-symbol="13"]').length === n,
    DISP_NUM + 1, { timeout: DEADLINE_MS });
  check(true, `the trail holds ${DISP_NUM + 1} past positions, one more than Disp_num`);
  const roverSymbol = page.locator('path[data-name="rover1"][data-layer="ROVE"]');
  check(await roverSymbol.getAttribute('data-symbol') === '5', 'an RTK-fixed rover has symbol kind 5');
  // Follow is on: the view holds the rover and its trail.
  const surface = await page.locator('.map-surface').boundingBox();
  const inView = async () => {
    const at = await centreOf(roverSymbol);
    return at && at.x > surface.x && at.x < surface.x + surface.width && at.y > surface.y &&
      at.y < surface.y + surface.height;
  };
  check(await inView(), 'with follow on, the view shows the rover');
  const last = { lat: 39.8 + (step - 1) * 0.002, lon: 116.3 + (step - 1) * 0.002 };
  const at = await centreOf(roverSymbol);
  const shown = await coordinatesAt(page, at.x, at.y);
  check(Math.abs(shown.lat - last.lat) < 0.0005 && Math.abs(shown.lon - last.lon) < 0.0005,
    `the rover is drawn at its last position (L:${shown.lon} B:${shown.lat})`);
  await page.screenshot({ path: path.join(shots, 'map-trail.png') });
  await move();  // past Disp_num: the trail is emptied, then this move's previous position is added
  await page.waitForFunction(() => document.querySelectorAll('path[data-symbol="13"]').length === 1, null,
    { timeout: DEADLINE_MS });
  check(most <= DISP_NUM + 1, 'the trail was emptied once it held more than Disp_num points');

  // Follow off: the rover runs away and the view stays where it is.
  await page.click('button[data-command="32803"]');
  await page.waitForFunction(() => document.querySelector('button[data-command="32803"]').getAttribute('aria-pressed') === 'false',
    null, { timeout: DEADLINE_MS });
  const middle = { x: surface.x + surface.width / 2, y: surface.y + surface.height / 2 };
  const before = await coordinatesAt(page, middle.x, middle.y);
  step += 100;
  await move();
  await move();
  const moved = Date.now();
  while ((await inView()) && Date.now() - moved < DEADLINE_MS) await new Promise((r) => setTimeout(r, 100));
  check(!(await inView()), 'with follow off the moved rover leaves the view');
  const after = await coordinatesAt(page, middle.x, middle.y);
  check(before.lat === after.lat && before.lon === after.lon, 'with follow off the view does not move');
  await page.screenshot({ path: path.join(shots, 'map-follow-off.png') });
  await page.click('button[data-command="32803"]');
  await page.waitForFunction(() => document.querySelector('button[data-command="32803"]').getAttribute('aria-pressed') === 'true',
    null, { timeout: DEADLINE_MS });
  const followed = Date.now();
  while (!(await inView()) && Date.now() - followed < DEADLINE_MS) await new Promise((r) => setTimeout(r, 100));
  check(await inView(), 'follow on again brings the rover into view');

  // The layer control (right button): switching BASE off hides the bases.
  await page.mouse.click(middle.x, middle.y, { button: 'right' });
  await page.waitForSelector('dialog.map-layers[open]', { timeout: DEADLINE_MS });
  const names = await page.locator('.map-layers td.map-layer-name').allTextContents();
  check(['ROVE', 'BASE', 'ROVEOLD', 'BASEOLD', 'Kavro_Base', 'Scope'].every((n) => names.includes(n)),
    'the layer control lists the six built-in layers');
  check((await page.locator('.map-layers th').allTextContents()).join(',') === '层名,显示,选择,标注,编辑',
    'the layer control has its five columns');
  await page.screenshot({ path: path.join(shots, 'map-layers.png') });
  const baseRow = page.locator('.map-layers tr', { has: page.locator('td.map-layer-name', { hasText: /^BASE$/ }) });
  await baseRow.locator('input[data-key=display]').uncheck();
  await page.click('.map-layers button[value=ok]');
  await page.waitForFunction(() => document.querySelectorAll('path[data-layer="BASE"]').length === 0, null,
    { timeout: DEADLINE_MS });
  check(true, 'with its display switch off the BASE layer is not drawn');

  // The zoom tools: a click with "zoom at a point" zooms in by 1.625, a click (a drag under six
  // pixels) with "zoom out" zooms out by 1.6; measured from the coordinates the page shows.
  const degreesPerPixel = async () => {
    const a = await coordinatesAt(page, middle.x - 100, middle.y);
    const b = await coordinatesAt(page, middle.x + 100, middle.y);
    return (b.lon - a.lon) / 200;
  };
  await page.click('button[data-command="32803"]');  // follow off, so that only the tools move the view
  const start = await degreesPerPixel();
  await page.click('button[data-command="32776"]');
  await page.mouse.click(middle.x, middle.y);
  const zoomedIn = await degreesPerPixel();
  check(Math.abs(start / zoomedIn - 1.625) < 0.02, `zoom at a point by 1.625 (${(start / zoomedIn).toFixed(3)})`);
  await page.click('button[data-command="32775"]');
  await page.mouse.move(middle.x, middle.y);
  await page.mouse.down();
  await page.mouse.move(middle.x + 3, middle.y + 2);
  await page.mouse.up();
  const zoomedOut = await degreesPerPixel();
  check(Math.abs(zoomedOut / zoomedIn - 1.6) < 0.02, `a drag under 6 pixels zooms out by 1.6 (${(zoomedOut / zoomedIn).toFixed(3)})`);
  await page.screenshot({ path: path.join(shots, 'map-zoomed.png') });

  // Save the picture.
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('button[data-command="32794"]')]);
  const file = path.join(shots, 'map-saved.png');
  await download.saveAs(file);
  const signature = fs.readFileSync(file).subarray(0, 8).toString('hex');
  check(download.suggestedFilename() === 'map.png' && signature === '89504e470d0a1a0a', 'the map is saved as PNG');
});
