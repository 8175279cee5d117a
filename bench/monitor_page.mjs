// Keeps the web monitor open in headless Chromium for a while, as an operator would, and measures
// how the page copes: it waits for the grid to hold ROWS rows, then scrolls the grid one screen a
// step and reports the longest gap between two animation frames while doing so. With --pace MS (the
// default 500) it reads like an operator: a screen every MS milliseconds for 10 screens, then a drag
// to the end; with --pace 0 it runs through the whole grid as fast as frames come. Loopback only;
// stops by itself after SECONDS, or right after the scroll with --leave.
// --nice N gives the browser the CPU share of niceness N.
//   node bench/monitor_page.mjs [--leave] [--pace MS] [--nice N] URL ROWS SECONDS [SCREENSHOT]
// Prints "ready" once the page is live, then one JSON line: {rows, steps, maxFrameGapMs, longTasks,
// seconds}.
import fs from 'node:fs';
import { chromium } from 'playwright-core';

const options = process.argv.slice(2);
const leave = options.includes('--leave');
const paceAt = options.indexOf('--pace');
const pace = paceAt >= 0 ? Number(options.splice(paceAt, 2)[1]) : 500;
const niceAt = options.indexOf('--nice');
const niceness = niceAt >= 0 ? Number(options.splice(niceAt, 2)[1]) : 0;
const [url, rowsWanted, seconds, screenshot] = options.filter((a) => a !== '--leave');
const host = new URL(url).hostname;
if (!['127.0.0.1', 'localhost', '[::1]'].includes(host)) {
  console.error('loopback addresses only');
  process.exit(2);
}
const deadline = Date.now() + Number(seconds) * 1000;
const browser = await chromium.launch({
  executablePath: process.env.KAVRO_CHROMIUM ?? '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-background-networking'],
});
if (niceness > 0) {
  // Chromium runs in a session of its own, so the scheduler shares the CPU between its process group
  // and the caller's as equals whatever each process's niceness: the group's own niceness is set.
  for (const entry of fs.readdirSync('/proc').filter((name) => /^\d+$/.test(name))) {
    try {
      // Field 4 of /proc/PID/stat, after the command in parentheses, is the parent's PID.
      const parent = Number(fs.readFileSync(`/proc/${entry}/stat`, 'utf8').split(') ')[1].split(' ')[1]);
      if (parent === process.pid) fs.writeFileSync(`/proc/${entry}/autogroup`, String(niceness));
    } catch {
      // A process that ended meanwhile.
    }
  }
}
let result = { rows: 0, steps: 0, maxFrameGapMs: 0, longTasks: 0, seconds: 0 };
const started = Date.now();
try {
  const page = await browser.newPage({ viewport: { width: 1400, height: 800 } });
  await page.goto(url);
  await page.waitForSelector('#link.online', { timeout: 20000 });
  // The page is open and live: a caller may start its load now.
  console.log('ready');
  // Rows known to the page: the grid's spacer is one row height per row.
  const rows = () => page.evaluate(() => Math.round(document.querySelector('#grid-spacer').offsetHeight / 20));
  while ((await rows()) < Number(rowsWanted) && Date.now() < deadline) await page.waitForTimeout(250);
  result.rows = await rows();
  // Scroll the whole grid a screen at a time, timing the frames in the page itself.
  const scrolled = await page.evaluate(async (pace) => {
    const body = document.querySelector('#grid-body');
    let longTasks = 0;
    new PerformanceObserver((list) => { longTasks += list.getEntries().length; })
      .observe({ type: 'longtask', buffered: false });
    let last = performance.now();
    let maxGap = 0;
    let steps = 0;
    const frame = async () => {
      await new Promise((r) => requestAnimationFrame(r));
      const now = performance.now();
      maxGap = Math.max(maxGap, now - last);
      last = now;
    };
    const atEnd = () => body.scrollTop + body.clientHeight >= body.scrollHeight - 1;
    while (!atEnd() && (pace === 0 || steps < 10)) {
      body.scrollTop += body.clientHeight;
      await frame();
      steps += 1;
      // Frames keep being timed during the pause.
      for (const until = performance.now() + pace; performance.now() < until;) await frame();
    }
    if (!atEnd()) {
      body.scrollTop = body.scrollHeight;
      await frame();
      steps += 1;
    }
    // The rows at the end come from the caster once the page asks for them.
    const shownRow = () => [...document.querySelectorAll('.grid-row:not([hidden])')].pop()?.textContent ?? '';
    for (let i = 0; i < 100 && shownRow() === ''; i += 1) await new Promise((r) => setTimeout(r, 20));
    return { steps, maxGap, longTasks, lastRow: shownRow() };
  }, pace);
  result.steps = scrolled.steps;
  result.maxFrameGapMs = Math.round(scrolled.maxGap);
  result.longTasks = scrolled.longTasks;
  result.lastRowShown = scrolled.lastRow.length > 0;
  if (screenshot) await page.screenshot({ path: screenshot });
  // Then stay attached, receiving the events, until the time is up.
  while (!leave && Date.now() < deadline) await page.waitForTimeout(250);
} finally {
  await browser.close();
}
result.seconds = (Date.now() - started) / 1000;
console.log(JSON.stringify(result));
