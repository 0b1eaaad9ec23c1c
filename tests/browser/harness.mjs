// SPDX-License-Identifier: MIT
// What the browser tests and the bench share: the built page served on
// 127.0.0.1, Debian's chromium driven by playwright-core, the built programs.
import http from 'node:http';
import fs from 'node:fs';
import path from 'node:path';
import { once } from 'node:events';
import { execFile, spawn } from 'node:child_process';
import os from 'node:os';
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

// Chromium as a user runs it: a hidden tab's timers throttled, no switch
// against it, and no playwright focus emulation (which keeps every tab
// shown). Pages open as tabs of one window in its own profile; `close()`
// ends it all.
export async function launchPlainChromium() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'brivelton-chromium-'));
  const proc = spawn(process.env.BRIVELTON_CHROMIUM ?? '/usr/bin/chromium', ['--headless',
    '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
    '--remote-debugging-port=0', `--user-data-dir=${profile}`, 'about:blank'],
  // Its own process group, so that its helpers go with it.
  { stdio: ['ignore', 'ignore', 'pipe'], detached: true });
  let said = '';
  const endpoint = await new Promise((resolve, reject) => {
    proc.stderr.on('data', (d) => {
      said += d;
      const m = said.match(/DevTools listening on (ws:\S+)/);
      if (m) resolve(m[1]);
    });
    proc.on('exit', () => reject(new Error(`chromium ended: ${said}`)));
  });
  const browser = await chromium.connectOverCDP(endpoint, { noDefaults: true });
  return {
    browser,
    context: browser.contexts()[0],
    async close() {
      await browser.close().catch(() => {});
      const ended = proc.exitCode !== null || proc.signalCode !== null ? null : once(proc, 'exit');
      try { process.kill(-proc.pid, 'SIGKILL'); } catch { /* gone already */ }
      await ended?.catch(() => {});
      // A helper that outlived the group may still write for a moment; a
      // profile left in /tmp is no test's failure.
      try {
        fs.rmSync(profile, { recursive: true, force: true, maxRetries: 20, retryDelay: 250 });
      } catch (e) {
        console.error(`left ${profile}: ${e.message}`);
      }
    },
  };
}

const standIn = fs.readFileSync(new URL('./stand_in.js', import.meta.url), 'utf8');

// A fresh profile (its own IndexedDB) with the page loaded and ready. With
// `bridgeUrl` the page's navigator.serial is the bridge's stand-in.
export async function openPage(browser, url, { bridgeUrl, context, viewport, deviceScaleFactor } = {}) {
  const plain = Boolean(context);
  context ??= await browser.newContext({ viewport: viewport ?? { width: 900, height: 700 },
    deviceScaleFactor, bypassCSP: Boolean(bridgeUrl), serviceWorkers: 'block' });
  if (bridgeUrl) {
    await context.addInitScript({ content: `${standIn}\ninstallSerialStandIn(${JSON.stringify(bridgeUrl)});` });
  }
  const page = await context.newPage();
  // A context of our own making (a plain browser's) takes the bridge this way.
  if (bridgeUrl && plain) await (await context.newCDPSession(page)).send('Page.setBypassCSP', { enabled: true });
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

// In the page: from the moment the Check Device click reaches it, through
// Update Firmware and its warning, to the result dialog. The clicks after the
// first are made by the page's own script the moment each is possible, as
// `--yes` answers the tool's question: the figure is the page's time, not the
// round trips of the program driving the browser. Resolves with the
// milliseconds (a promise kept in the page until awaited).
export function installDriver() {
  window.benchDone = new Promise((resolve, reject) => {
    const $ = (id) => document.getElementById(id);
    const shown = (id) => $(id) && !$(id).hidden;
    let t0 = null;
    let stage = 'check';
    let wasBusy = false;
    const step = () => {
      if (t0 === null) return;
      const busy = document.documentElement.dataset.busy;
      if (stage === 'check') {
        if (busy) wasBusy = true;
        else if (wasBusy) {
          stage = 'confirm';
          $('main-1002').click();
        }
      } else if (stage === 'confirm' && shown('confirm') && $('confirm-1046')) {
        stage = 'result';
        $('confirm-1046').click();
      } else if (stage === 'result' && shown('result')) {
        stage = 'done';
        observer.disconnect();
        resolve(performance.now() - t0);
      }
    };
    const observer = new MutationObserver(step);
    observer.observe(document, { subtree: true, childList: true, attributes: true });
    $('main-1001').addEventListener('click', () => {
      t0 = performance.now();
      queueMicrotask(step);
    }, { capture: true, once: true });
    setTimeout(() => reject(new Error(`the page's update stopped at ${stage}`)), 120000);
  });
}

// Puts another tab in front of `page` (in a plain browser's context) and
// waits until the page is hidden; returns that tab.
export async function hideBehindTab(context, page) {
  const front = await context.newPage();
  await front.goto('about:blank');
  await front.bringToFront();
  await page.waitForFunction(() => document.visibilityState === 'hidden');
  return front;
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

// axe-core's default rules on the page as it is now: the violations that
// are critical or serious, as "rule: target" lines.
const axeSource = fs.readFileSync(path.join(path.dirname(fileURLToPath(import.meta.url)),
  'node_modules/axe-core/axe.min.js'), 'utf8');
export async function axeProblems(page) {
  if (!await page.evaluate(() => Boolean(window.axe))) await page.evaluate(axeSource);
  const found = await page.evaluate(async () => (await window.axe.run(document)).violations
    .filter((v) => v.impact === 'critical' || v.impact === 'serious')
    .flatMap((v) => v.nodes.map((n) => `${v.id} (${v.impact}): ${n.target.join(' ')}`)));
  return found;
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
