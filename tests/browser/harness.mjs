// SPDX-License-Identifier: MIT
// What the browser tests and the bench share: the built page served on
// 127.0.0.1, Debian's chromium driven by playwright-core, the built programs.
import http from 'node:http';
import fs from 'node:fs';
import path from 'node:path';
import { once } from 'node:events';
import { execFile } from 'node:child_process';
import { promisify } from 'node:util';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

export const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
export const site = process.env.BRIVELTON_SITE ?? path.join(root, 'build-web/site');
const build = process.env.BRIVELTON_BUILD ?? path.join(root, 'build');
export const cliProgram = path.join(build, 'src/cli/brivelton');
export const simProgram = path.join(build, 'src/sim/brivelton-sim');
export const screens = path.join(root, 'build-web/screens');

const types = {
  '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm',
  '.webmanifest': 'application/manifest+json', '.png': 'image/png', '.bin': 'application/octet-stream',
};

export async function serveSite() {
  for (const f of ['index.html', 'firmware.bin']) {
    if (!fs.existsSync(path.join(site, f))) throw new Error(`${site}/${f} is missing: build the page first (bash scripts/web --no-serve)`);
  }
  const server = http.createServer((req, res) => {
    const name = decodeURIComponent(new URL(req.url, 'http://x').pathname);
    const file = path.join(site, name.endsWith('/') ? `${name}index.html` : name);
    if (!file.startsWith(site) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      res.writeHead(404).end();
      return;
    }
    res.writeHead(200, { 'Content-Type': types[path.extname(file)] ?? 'application/octet-stream',
      'Cache-Control': 'no-cache' });
    fs.createReadStream(file).pipe(res);
  });
  server.listen(0, '127.0.0.1');
  await once(server, 'listening');
  return { url: `http://127.0.0.1:${server.address().port}/`, close: () => server.close() };
}

// Without the background-networking flags chromium keeps trying hosts this
// machine cannot reach; the throttling ones keep a hidden page's timers on time.
export function launchChromium() {
  return chromium.launch({
    executablePath: process.env.BRIVELTON_CHROMIUM ?? '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--disable-background-timer-throttling', '--disable-renderer-backgrounding',
      '--disable-backgrounding-occluded-windows'],
  });
}

const standIn = fs.readFileSync(new URL('./stand_in.js', import.meta.url), 'utf8');

// A fresh profile (its own IndexedDB) with the page loaded and ready. With
// `bridgeUrl` the page's navigator.serial is the bridge's stand-in.
export async function openPage(browser, url, { bridgeUrl, context } = {}) {
  context ??= await browser.newContext({ viewport: { width: 900, height: 700 },
    bypassCSP: Boolean(bridgeUrl), serviceWorkers: 'block' });
  if (bridgeUrl) {
    await context.addInitScript({ content: `${standIn}\ninstallSerialStandIn(${JSON.stringify(bridgeUrl)});` });
  }
  const page = await context.newPage();
  page.on('pageerror', (e) => { page.errors = [...(page.errors ?? []), e]; });
  page.dialogs = [];
  page.on('dialog', (d) => {
    page.dialogs.push(d.type());
    d.accept();
  });
  await page.goto(url);
  const ready = await page.evaluate(() => window.briveltonReady);
  return { context, page, ready };
}

export const messages = (page) =>
  page.$$eval('#main-1004 > li', (lis) => lis.map((li) => li.textContent));

export async function waitIdle(page, timeout = 60000) {
  await page.waitForFunction(() => document.documentElement.dataset.busy === '', null, { timeout });
}
export const waitShown = (page, id, timeout = 60000) =>
  page.waitForSelector(`#${id}:not([hidden])`, { state: 'visible', timeout });
export async function clickShown(page, id) {
  await waitShown(page, id);
  await page.click(`#${id}`);
}

export async function screenshot(page, name) {
  fs.mkdirSync(screens, { recursive: true });
  await page.screenshot({ path: path.join(screens, `${name}.png`), fullPage: true });
}

// `brivelton ARGS...`: its stdout's lines and exit status.
export async function cli(args) {
  try {
    const { stdout } = await promisify(execFile)(cliProgram, args);
    return { status: 0, lines: stdout.split('\n').slice(0, -1) };
  } catch (e) {
    if (typeof e.code !== 'number') throw e;
    return { status: e.code, lines: e.stdout.split('\n').slice(0, -1) };
  }
}
