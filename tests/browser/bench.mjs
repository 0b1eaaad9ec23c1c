// SPDX-License-Identifier: MIT
// The update through the bridge against the command-line tool's, each on a
// fresh `brivelton-sim --version 1FF`: the page's Check Device and Update
// Firmware from the first click to the result dialog, timed in the page, the
// tool's `update --yes` (its own Check Device, then the update) as a process.
//   node bench.mjs [RUNS]
// Prints "page_update_ms", "cli_update_ms" (medians, each run in brackets),
// "page_in_page_sim_ms" (the page on its own simulated adapter), each run's
// page/tool ratio with their median, and last the ratio of the medians.
import { performance } from 'node:perf_hooks';
import { serveSite, launchChromium, openPage, cli, simProgram } from './harness.mjs';
import { Bridge, Sim } from './bridge.mjs';

const runs = Number(process.argv[2] ?? 3);
const success = 'Firmware update done. Please re-pair device.';
const median = (v) => {
  const s = [...v].sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};

// In the page: from the moment the Check Device click reaches it, through
// Update Firmware and its warning, to the result dialog. The clicks after the
// first are made by the page's own script the moment each is possible, as
// `--yes` answers the tool's question: the figure is the page's time, not the
// round trips of the program driving the browser. Resolves with the
// milliseconds (a promise kept in the page until awaited).
function installDriver() {
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
    await page.evaluate(installDriver);
    await page.click('#main-1001');
    const ms = await page.evaluate(() => window.benchDone);
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
// Each run's page against the tool's beside it, as the machine's load drifts.
const paired = page.map((p, i) => p / tool[i]);
console.log(`page/cli_per_run ${median(paired).toFixed(3)} (${paired.map((r) => r.toFixed(3)).join(' ')})`);
console.log(`page/cli ${(median(page) / median(tool)).toFixed(3)}`);
