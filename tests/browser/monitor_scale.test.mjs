// Ten thousand rovers from a load run fill the web monitor's grid, and the page scrolls through all
// of them without freezing: the longest gap between two frames while scrolling stays under a second
// (the caster and the load run share the machine with the browser, so the bound is loose).
//   node tests/browser/monitor_scale.test.mjs CASTER LOAD_TOOL SCREENSHOT_DIR
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { freePort, programDirectory, startCaster } from './support.mjs';

const [binary, loadTool, shots] = process.argv.slice(2);
const ROVERS = 10000;
const pageScript = path.join(path.dirname(fileURLToPath(import.meta.url)), '../../bench/monitor_page.mjs');

function run(command, args) {
  const child = spawn(command, args, { stdio: ['ignore', 'pipe', 'inherit'] });
  let output = '';
  child.stdout.on('data', (chunk) => { output += chunk; });
  const done = new Promise((resolve) => child.once('exit', (code) => resolve({ code, output })));
  return { child, done, output: () => output };
}

const port = await freePort();
const monitorPort = await freePort();
const caster = startCaster(binary, programDirectory(
  `[SYSTEMSERVER]\nPORT=${port}\nPORT2=0\n[MONITOR]\nPORT=${monitorPort}\n[NET]\nUseNet=0\n`));
fs.mkdirSync(shots, { recursive: true });
let failed = false;
try {
  await caster.waitFor(`PORT[${port}]`);
  // The rovers stay connected while the page lists and scrolls them; the load stops by itself.
  const load = run(loadTool, ['--port', String(port), '--sources', '1', '--rovers', String(ROVERS),
    '--rate', '400', '--chunk', '100', '--duration', '40', '--drain', '1', '--parallel', '256',
    '--connect-timeout', '30']);
  const page = run('node', [pageScript, '--leave', '--pace', '0', `http://127.0.0.1:${monitorPort}/`, String(ROVERS), '35',
    path.join(shots, 'monitor-10000-rows.png')]);
  const shown = await page.done;
  load.child.kill('SIGTERM');
  await load.done;
  if (shown.code !== 0) throw new Error(`the page script failed (${shown.code})`);
  const result = JSON.parse(shown.output.trim().split('\n').pop());
  console.log(JSON.stringify(result));
  if (result.rows < ROVERS) throw new Error(`only ${result.rows} rows listed`);
  if (!result.lastRowShown) throw new Error('no row drawn at the end of the grid');
  if (result.steps < ROVERS * 20 / 800) throw new Error(`scrolled only ${result.steps} screens`);
  if (result.maxFrameGapMs >= 1000) throw new Error(`a frame took ${result.maxFrameGapMs} ms`);
  console.log(`ok: ${result.rows} rows scrolled in ${result.steps} screens, longest frame gap ` +
    `${result.maxFrameGapMs} ms`);
} catch (error) {
  console.error(error.message);
  console.error(caster.output().slice(-2000));
  failed = true;
} finally {
  await caster.stop();
}
process.exit(failed ? 1 : 0);
