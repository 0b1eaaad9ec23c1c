// SPDX-License-Identifier: MIT
// The update through the bridge against the command-line tool's, each on a
// fresh `brivelton-sim --version 1FF`: the page's Check Device and Update
// Firmware from the first click to the result dialog, the tool's
// `update --yes` (its own Check Device, then the update) as a process.
//   node bench.mjs [RUNS]
// Prints "page_update_ms", "cli_update_ms" (medians) and their ratio, and
// "page_in_page_sim_ms": the page on its own simulated adapter.
import { performance } from 'node:perf_hooks';
import { serveSite, launchChromium, openPage, waitIdle, clickShown, waitShown, cli, simProgram } from './harness.mjs';
import { Bridge, Sim } from './bridge.mjs';

const runs = Number(process.argv[2] ?? 3);
const success = 'Firmware update done. Please re-pair device.';
const median = (v) => {
  const s = [...v].sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};

// Through the bridge, or with `inPage` on the page's own simulated adapter
// (the same start state): the difference is what the bridge and the
// browser's Web Serial path cost.
async function pageUpdate(browser, url, inPage) {
  const bridge = new Bridge();
  await bridge.listen();
  const sim = new Sim(simProgram, ['--version', '1FF']);
  bridge.target = await sim.start();
  const { context, page } = inPage ? await openPage(browser, `${url}?sim`)
    : await openPage(browser, url, { bridgeUrl: bridge.url });
  try {
    const t0 = performance.now();
    await page.click('#main-1001');
    await waitIdle(page);
    await page.click('#main-1002');
    await clickShown(page, 'confirm-1046');
    await waitShown(page, 'result', 120000);
    const ms = performance.now() - t0;
    const text = await page.textContent('#result-1054');
    if (text !== success) throw new Error(`the page's update ended with "${text}"`);
    return ms;
  } finally {
    await context.close();
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
const inPage = [];
const tool = [];
try {
  for (let i = 0; i < runs; i++) {
    page.push(await pageUpdate(browser, server.url, false));
    inPage.push(await pageUpdate(browser, server.url, true));
    tool.push(await cliUpdate());
  }
} finally {
  await browser.close();
  server.close();
}
const fmt = (v) => v.map((x) => x.toFixed(1)).join(' ');
console.log(`page_update_ms ${median(page).toFixed(1)} (${fmt(page)})`);
console.log(`page_in_page_sim_ms ${median(inPage).toFixed(1)} (${fmt(inPage)})`);
console.log(`cli_update_ms ${median(tool).toFixed(1)} (${fmt(tool)})`);
console.log(`page/cli ${(median(page) / median(tool)).toFixed(3)}`);
