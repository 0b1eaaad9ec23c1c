// SPDX-License-Identifier: MIT
// The update through the bridge against the command-line tool's, each on a
// fresh `brivelton-sim --version 1FF`: the page's Check Device and Update
// Firmware from the first click to the result dialog, timed in the page, the
// tool's `update --yes` (its own Check Device, then the update) as a process.
//   node bench.mjs [RUNS]
// Prints "page_update_ms", "cli_update_ms" (medians, each run in brackets),
// "page_in_page_sim_ms" (the page on its own simulated adapter),
// "page_hidden_update_ms" (through the bridge with another tab in front, in a
// chromium without the timer-throttling switches), each run's page/tool
// ratio with their median, the ratio of the medians, and the hidden page's.
import { performance } from 'node:perf_hooks';
import {
  serveSite, launchChromium, launchPlainChromium, openPage, hideBehindTab, installDriver, cli,
  simProgram,
} from './harness.mjs';
import { Bridge, Sim } from './bridge.mjs';

const runs = Number(process.argv[2] ?? 3);
const success = 'Firmware update done. Please re-pair device.';
const median = (v) => {
  const s = [...v].sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};

// Through the bridge, or with `inPage` on the page's own simulated adapter
// (the same start state): the difference is what the bridge and the
// browser's Web Serial path cost. With `plain` (launchPlainChromium) the page
// runs in a tab behind another.
async function pageUpdate(browser, url, inPage, plain) {
  const bridge = new Bridge();
  await bridge.listen();
  const sim = new Sim(simProgram, ['--version', '1FF']);
  bridge.target = await sim.start();
  const { context, page } = inPage ? await openPage(browser, `${url}?sim`)
    : await openPage(browser, url, { bridgeUrl: bridge.url, context: plain?.context });
  let front = null;
  try {
    await page.evaluate(installDriver);
    if (plain) {
      front = await hideBehindTab(plain.context, page);
      await page.evaluate(() => document.getElementById('main-1001').click());
    } else {
      await page.click('#main-1001');
    }
    const ms = await page.evaluate(() => window.benchDone);
    const text = await page.textContent('#result-1054');
    if (text !== success) throw new Error(`the page's update ended with "${text}"`);
    return ms;
  } finally {
    if (plain) {
      await front?.close();
      await page.close();
    } else {
      await context.close();
    }
    await sim.stop();
    await bridge.close();
  }
}

async function cliUpdate() {
  const sim = new Sim(simProgram, ['--version', '1FF']);
  const tty = await sim.start();
  try {
    const t0 = performance.now();
    const run = await cli(['--port', tty, 'update', '--yes']);
    const ms = performance.now() - t0;
    if (run.lines.at(-1) !== success) throw new Error(`brivelton update failed:\n${run.lines.join('\n')}`);
    return ms;
  } finally {
    await sim.stop();
  }
}

const server = await serveSite();
const browser = await launchChromium();
const page = [];
const plain = await launchPlainChromium();
const inPage = [];
const hidden = [];
const tool = [];
try {
  for (let i = 0; i < runs; i++) {
    page.push(await pageUpdate(browser, server.url, false));
    inPage.push(await pageUpdate(browser, server.url, true));
    hidden.push(await pageUpdate(null, server.url, false, plain));
    tool.push(await cliUpdate());
  }
} finally {
  await plain.close();
  await browser.close();
  server.close();
}
const fmt = (v) => v.map((x) => x.toFixed(1)).join(' ');
console.log(`page_update_ms ${median(page).toFixed(1)} (${fmt(page)})`);
console.log(`page_in_page_sim_ms ${median(inPage).toFixed(1)} (${fmt(inPage)})`);
console.log(`page_hidden_update_ms ${median(hidden).toFixed(1)} (${fmt(hidden)})`);
console.log(`cli_update_ms ${median(tool).toFixed(1)} (${fmt(tool)})`);
// Each run's page against the tool's beside it, as the machine's load drifts.
const paired = page.map((p, i) => p / tool[i]);
console.log(`page/cli_per_run ${median(paired).toFixed(3)} (${paired.map((r) => r.toFixed(3)).join(' ')})`);
console.log(`page/cli ${(median(page) / median(tool)).toFixed(3)}`);
console.log(`page_hidden/cli ${(median(hidden) / median(tool)).toFixed(3)}`);
