// What the browser tests share: free loopback ports, checks that print what they proved, a caster
// on a program directory of its own, and a run of a test body in headless Chromium that ends the
// caster and the browser whatever happens.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

export const DEADLINE_MS = 10000;

export function freePort() {
  return new Promise((resolve) => {
    const server = net.createServer().listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

export function check(condition, what) {
  if (!condition) throw new Error(`failed: ${what}`);
  console.log(`ok: ${what}`);
}

// A fresh program directory holding INI/KavroServer.INI with the settings text given.
export function programDirectory(settings) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kavro-browser-'));
  fs.mkdirSync(path.join(dir, 'INI'));
  fs.writeFileSync(path.join(dir, 'INI', 'KavroServer.INI'), settings);
  return dir;
}

// Starts the caster on dir; stop() ends it and removes dir.
export function startCaster(binary, dir, env = {}) {
  const child = spawn(binary, ['--dir', dir], { stdio: ['ignore', 'pipe', 'inherit'], env: { ...process.env, ...env } });
  let output = '';
  child.stdout.on('data', (chunk) => { output += chunk; });
  const exited = new Promise((resolve) => child.once('exit', resolve));
  return {
    output: () => output,
    // Waits until the caster printed text (its "PORT[n]" line once it listens).
    async waitFor(text) {
      const start = Date.now();
      while (!output.includes(text)) {
        if (Date.now() - start > DEADLINE_MS) throw new Error(`the caster did not print ${text}`);
        await new Promise((r) => setTimeout(r, 50));
      }
    },
    async stop() {
      child.kill('SIGTERM');
      await exited;
      fs.rmSync(dir, { recursive: true, force: true });
    },
  };
}

// Runs body({page, caster, cleanups}) against a caster on dir once it printed ready, then exits with
// the result. On failure the caster's last output and a screenshot NAME-failed.png are kept.
export async function browserTest({ binary, dir, env, ready, shots, name }, body) {
  fs.mkdirSync(shots, { recursive: true });
  const caster = startCaster(binary, dir, env);
  const browser = await chromium.launch({
    executablePath: process.env.KAVRO_CHROMIUM ?? '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-background-networking'],
  });
  const cleanups = [];
  let page;
  let failed = false;
  try {
    await caster.waitFor(ready);
    page = await browser.newPage({ viewport: { width: 1400, height: 800 } });
    await body({ page, caster, cleanups });
  } catch (error) {
    console.error(error.message);
    console.error(caster.output().slice(-2000));
    await page?.screenshot({ path: path.join(shots, `${name}-failed.png`) }).catch(() => {});
    failed = true;
  } finally {
    for (const cleanup of cleanups) cleanup();
    await browser.close();
    await caster.stop();
  }
  process.exit(failed ? 1 : 0);
}
