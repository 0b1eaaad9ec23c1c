// SPDX-License-Identifier: MIT
// The web page in headless chromium: its message list against the command-line
// tool's for the same adapter, an update through the real wire protocol (the
// Web Serial stand-in, the bridge, brivelton-sim), and an update cut short by
// a reload that the browser's journal recovers.
import { describe, test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import http from 'node:http';
import { once } from 'node:events';
import { spawn } from 'node:child_process';
import readline from 'node:readline';
import {
  serveSite, launchChromium, launchPlainChromium, openPage, messages, waitIdle, waitShown,
  clickShown, screenshot, cli, simProgram, site, root, axeProblems, hideBehindTab, installDriver,
} from './harness.mjs';
import { Bridge, Sim } from './bridge.mjs';

const address = '001BDC0F217E';
const success = 'Firmware update done. Please re-pair device.';
let server;
let browser;
let scratch;

before(async () => {
  server = await serveSite();
  browser = await launchChromium();
  scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'brivelton-browser-'));
});
after(async () => {
  await browser?.close();
  server?.close();
  if (scratch) fs.rmSync(scratch, { recursive: true, force: true });
});

const doNotUnplug = 'Do not unplug the adapter or close this window.';

// The one place the two may differ in a step's lines: the port's name.
const portName = (lines, name) =>
  lines.map((l) => l.replace(/^( Found device on ).*$/, `$1${name}`));

// The lines a step added to the page's list.
async function step(page, action) {
  const before = (await messages(page)).length;
  await action();
  await waitIdle(page);
  return (await messages(page)).slice(before);
}

async function checkDevice(page) {
  return step(page, () => page.click('#main-1001'));
}

// How long an update may take before the test calls it hung: on a busy machine
// a reply late past the tool's patience costs an attempt and its pause, and
// the update still ends well.
const updateBound = 180000;

// Update Firmware through the warning; the lines and the result dialog's text.
async function updateFirmware(page, shot) {
  let result;
  const lines = await step(page, async () => {
    await page.click('#main-1002');
    await clickShown(page, 'confirm-1046');
    if (shot) {
      await page.waitForFunction(() => document.getElementById('progress').value > 300, null,
        { timeout: 60000 });
      await screenshot(page, `${shot}-progress`);
    }
    await waitShown(page, 'result', updateBound);
    result = await page.textContent('#result-1054');
    if (shot) await screenshot(page, `${shot}-result`);
    await page.click('#result-1');
  });
  return { lines, result };
}

const settingNames = {
  'settings-1044': 'caller-id', 'settings-1030': 'echo-cancel', 'settings-1031': 'media-audio',
  'settings-1032': 'dialtone-after-disconnect', 'settings-1033': 'reverse-tip-ring',
  'settings-1034': 'strong-ringing', 'settings-1035': 'led-debug',
  'settings-1051': 'dial-plan', 'settings-1052': 'offhook-power', 'settings-1053': 'hook-speed',
};
const choices = {
  'dial-plan': ['with-timeout', 'without-timeout', 'hash-key'],
  'offhook-power': ['low', 'medium', 'high', 'strong', 'strongest'],
  'hook-speed': ['30ms', '50ms', '70ms', '100ms'],
};
// The parameter dialog's values as the command line names them.
async function dialogValues(page) {
  const raw = await page.$$eval('#settings input[type=checkbox], #settings select',
    (els) => els.map((e) => [e.id, e.type === 'checkbox' ? e.checked : Number(e.value)]));
  return raw.filter(([id]) => settingNames[id]).map(([id, v]) => {
    const name = settingNames[id];
    return `${name}=${choices[name] ? choices[name][v] : (v ? 'on' : 'off')}`;
  });
}

// The command line's run split where its own Check Device ends: the empty
// line after its advice.
const adviceEnds = [' Update firmware before set parameters.', ' Click "Setting" to set parameters.'];
function afterCheck(lines) {
  const i = lines.findIndex((l) => adviceEnds.includes(l));
  assert.ok(i > 0 && lines[i + 1] === ' ', `no Check Device in ${JSON.stringify(lines)}`);
  return [lines.slice(0, i + 2), lines.slice(i + 2)];
}

// `body({ bridge, sim, dump, page })` with the page's Web Serial bridged to a
// simulator whose flash is dumped at exit.
async function withBridge(name, body) {
  const bridge = new Bridge();
  await bridge.listen();
  const dump = path.join(scratch, `${name}.flash`);
  const sim = new Sim(simProgram, ['--version', '1FF', '--address', address, '--dump-flash', dump]);
  bridge.target = await sim.start();
  const { context, page } = await openPage(browser, server.url, { bridgeUrl: bridge.url });
  try {
    await body({ bridge, sim, dump, page });
  } finally {
    await sim.stop();
    await context.close();
    await bridge.close();
  }
}

// The flash a command-line update leaves on an adapter in the same start
// state: one update for every test that asks, however many ask at once.
let expectedFlash;
const flashAfterCliUpdate = () => { expectedFlash ??= cliUpdateFlash(); return expectedFlash; };
async function cliUpdateFlash() {
  const dump = path.join(scratch, 'cli.flash');
  const sim = new Sim(simProgram, ['--version', '1FF', '--address', address, '--dump-flash', dump]);
  const tty = await sim.start();
  const run = await cli(['--port', tty, 'update', '--yes']);
  await sim.stop();
  assert.equal(run.lines.at(-1), success);
  const flash = fs.readFileSync(dump);
  // The image, then the identity page that starts with this adapter's address.
  const image = fs.readFileSync(path.join(site, 'firmware.bin'));
  assert.deepEqual(flash.subarray(0, image.length), image);
  assert.deepEqual(flash.subarray(image.length, image.length + 6), Buffer.from(address, 'hex'));
  return flash;
}

// Each dialog shown through the page's own calls, as the core shows it.
const dialogs = {
  about: (page) => page.click('#about-open'),
  confirm: (page) => page.evaluate(() => { window.briveltonPage.confirmUpdate(); }),
  result: (page) => page.evaluate(() => { window.briveltonPage.showResult(true); }),
  settings: (page) => page.evaluate(() => { window.briveltonPage.editSettings([1, 1, 0, 0, 1, 0, 0, 0, 1, 2], [1, 1, 0, 0, 1, 0, 0, 0, 1, 2]); }),
  help: (page) => page.click('#settings-1045'),
  address: (page) => page.evaluate(() => {
    window.briveltonPage.askAddress('This adapter\'s identity page holds no address of its own.',
      [{ address: '00:1B:DC:0F:21:7E', port: 'USB 0403:6001', saved: '2026-12-01T10:00:00Z' }], '', '');
  }),
};

// These mostly wait on the adapters' real time, so they run a few at once.
// Each has its own browser context (its own storage), simulator, bridge and
// scratch and screenshot names; the served site is only read.
describe('the page', { concurrency: 2 }, () => {
  test('in-page simulated adapter: each step says what brivelton says to the same adapter', async () => {
    const { context, page } = await openPage(browser, `${server.url}?sim`);
    await screenshot(page, '1-loaded');
    const sim = new Sim(simProgram, ['--version', '1FF', '--address', address]);
    const tty = await sim.start();
    try {
      // Check Device.
      const [pageCheck, cliCheck] = await Promise.all([checkDevice(page), cli(['--port', tty, 'check'])]);
      assert.equal(cliCheck.status, 0);
      assert.ok(pageCheck.includes(' Found device on Simulated adapter'), pageCheck.join('\n'));
      assert.deepEqual(portName(pageCheck, tty), cliCheck.lines);
      await screenshot(page, '2-check');

      // Update Firmware: the tool runs its own Check Device first and prints the
      // result the page shows in its dialog.
      const [pageUpdate, cliUpdate] = await Promise.all([
        updateFirmware(page, '3-update'), cli(['--port', tty, 'update', '--yes'])]);
      assert.equal(cliUpdate.status, 0);
      const [updateCheck, updateRest] = afterCheck(cliUpdate.lines);
      assert.deepEqual(updateCheck, cliCheck.lines);
      assert.equal(updateRest.at(-1), success);
      assert.equal(pageUpdate.result, success);
      assert.deepEqual(pageUpdate.lines, updateRest.slice(0, -1));
      // The panel tells what the update made of the adapter.
      assert.equal(await page.textContent('#sim-status'), 'The simulated adapter runs: firmware 204, ' +
        'address 00:1B:DC:0F:21:7E. Check Device finds it.');

      // Check Device again, then Setting with two values changed.
      const recheck = await checkDevice(page);
      await clickShown(page, 'main-1014');
      await waitShown(page, 'settings');
      const was = await dialogValues(page);
      await page.click('#settings-1030');
      const hook = await page.$eval('#settings-1053', (s) => Number(s.value));
      await page.selectOption('#settings-1053', String((hook + 1) % 4));
      const wanted = await dialogValues(page);
      const changed = wanted.filter((v, i) => v !== was[i]);
      assert.equal(changed.length, 2, `changed: ${changed}`);
      await screenshot(page, '4-settings');
      const pageSet = await step(page, () => page.click('#settings-1'));
      await screenshot(page, '5-set');
      const cliSet = await cli(['--port', tty, 'settings', ...changed]);
      assert.equal(cliSet.status, 0);
      const [setCheck, setRest] = afterCheck(cliSet.lines);
      assert.deepEqual(portName(recheck, tty), setCheck);
      // The tool prints the values it wrote; the page shows them in its dialog.
      assert.deepEqual(pageSet, setRest.slice(0, setRest.length - wanted.length));
      assert.deepEqual(setRest.slice(-wanted.length), wanted);
      // Reopened, the dialog reads the adapter back.
      await clickShown(page, 'main-1014');
      await waitShown(page, 'settings');
      assert.deepEqual(await dialogValues(page), wanted);
      await page.click('#settings-2');
      await waitIdle(page);
      assert.deepEqual(page.errors ?? [], []);
    } finally {
      await sim.stop();
      await context.close();
    }
  });

  test('through the bridge: Update at the adapter\'s speeds writes the image and keeps the address', async () => {
    await withBridge('bridge', async ({ bridge, sim, dump, page }) => {
      const check = await checkDevice(page);
      assert.ok(check.includes(' Found device on USB 0403:6001'), check.join('\n'));
      await screenshot(page, '6-bridge-check');
      const [{ result }, reference] = await Promise.all([updateFirmware(page, '7-bridge'),
        flashAfterCliUpdate()]);
      assert.equal(result, success);
      // The flash went at the boot loader's speed, the rest at the link's.
      assert.deepEqual([...new Set(bridge.opens.map((o) => o.baud))].sort(), [1000000, 115200]);
      const fast = bridge.opens.filter((o) => o.baud === 1000000);
      assert.ok(fast.some((o) => o.bytesToAdapter > 512000), JSON.stringify(bridge.opens));
      assert.equal(await sim.stop(), 0, sim.stderr);
      assert.ok(fs.readFileSync(dump).equals(reference), 'the flash differs from the command line\'s');
      assert.deepEqual(page.errors ?? [], []);
    });
  });

  test('a reload during the page writes: Update again restores the address from the browser\'s journal', async () => {
    await withBridge('reload', async ({ bridge, sim, dump, page }) => {
      // The tool's update runs while this one does; its flash is needed only at the end.
      const reference = flashAfterCliUpdate();
      await checkDevice(page);
      // Well into the page writes: the identity page is erased by then.
      const midWrite = new Promise((resolve) => {
        const off = bridge.onWrite((o) => {
          if (o.baud === 1000000 && o.bytesToAdapter > 200000) { off(); resolve(); }
        });
      });
      await page.click('#main-1002');
      await clickShown(page, 'confirm-1046');
      await midWrite;
      await screenshot(page, '8-reload-before');
      // The page asks before it goes (beforeunload); the harness accepts.
      await page.reload();
      assert.ok(page.dialogs.includes('beforeunload'), `dialogs: ${page.dialogs}`);
      assert.equal((await page.evaluate(() => window.briveltonReady)).imageSize, 512000);
      assert.deepEqual(await messages(page), []);
      // The page says at once what was cut short and what to do.
      const resume = await page.textContent('#resume:not([hidden])');
      assert.match(resume, /the adapter on USB 0403:6001 .*00:1B:DC:0F:21:7E is saved in this browser/);
      assert.match(resume, /connect it and press Update Firmware/);
      // One record for this adapter, with the port's USB identity as the browser gave it.
      const record = await page.evaluate((name) => window.briveltonHost.storeRead(name), `identity-${address}`);
      assert.match(record ?? '', /^port=USB 0403:6001\naddress=00:1B:DC:0F:21:7E\n(.*\n)*usb_vendor=0403\nusb_product=6001\n/);
      const again = await checkDevice(page);
      assert.ok(again.includes(' Found device on USB 0403:6001'), again.join('\n'));
      const { lines, result } = await updateFirmware(page, '9-reload-again');
      assert.equal(result, success);
      assert.ok(lines.some((l) => l.includes('the browser\'s storage (')), lines.join('\n'));
      assert.ok(await page.isHidden('#resume'));
      assert.equal(await sim.stop(), 0, sim.stderr);
      assert.ok(fs.readFileSync(dump).equals(await reference), 'the address was not restored');
    });
  });

  test('without Web Serial (Firefox, Safari): the page says so, and the simulated adapter still works', async () => {
    const context = await browser.newContext({ viewport: { width: 900, height: 700 },
      serviceWorkers: 'block' });
    await context.addInitScript({ content: 'delete Navigator.prototype.serial;' });
    const { page, ready } = await openPage(browser, server.url, { context });
    try {
      assert.equal(ready.webSerial, false);
      assert.equal(await page.textContent('#no-serial:not([hidden])'),
        'This browser cannot reach serial ports (it has no Web Serial): open this page in Chrome ' +
        'or Edge on a computer to service an adapter. "Try it without an adapter" works here too.');
      assert.ok(await page.isDisabled('#main-request'));
      // A newcomer's first line says what to do, with the way to try it first.
      assert.match(await page.textContent('#guide'), /press Check Device/);
      assert.ok(await page.isVisible('#guide-try'));
      await screenshot(page, '10-no-serial');

      // Check Device keeps the programs' words in the log and says beside the
      // window why nothing can be found here: the browser, not the cable.
      const none = await checkDevice(page);
      assert.ok(none.some((l) => l.startsWith(' No COM port available')), none.join('\n'));
      assert.match(await page.textContent('#main-note:not([hidden])'), /This browser cannot reach serial ports/);
      await screenshot(page, '10-no-serial-check');

      await page.click('#sim-start');
      await waitIdle(page);
      assert.equal(await page.textContent('#sim-status'), 'The simulated adapter runs: firmware 1FF, ' +
        'address 00:1B:DC:0F:21:7E. Check Device finds it.');
      const check = await checkDevice(page);
      assert.ok(check.includes(' Found device on Simulated adapter'), check.join('\n'));
      assert.ok(check.includes(' Device Firmware Version = 1FF'), check.join('\n'));
      assert.ok(await page.isHidden('#main-note'));
      assert.ok(await page.isDisabled('#main-request'));

      // A refused firmware file: Update says so in the window, and nothing starts.
      await page.setInputFiles('#firmware-file', { name: 'short.bin', mimeType: 'application/octet-stream',
        buffer: Buffer.alloc(1000, 0xAA) });
      await page.fill('#firmware-version', '204');
      await page.press('#firmware-version', 'Enter');
      await page.waitForFunction(() => document.getElementById('image-status').textContent.startsWith('Not used:'));
      await page.click('#main-1002');
      assert.match(await page.textContent('#main-note:not([hidden])'), /^Nothing was written: .*Not used:/);
      assert.ok(await page.isHidden('#confirm'));
      await screenshot(page, '10-no-serial-refused-image');
      assert.deepEqual(page.errors ?? [], []);
    } finally {
      await context.close();
    }
  });

  test('the address dialog: a blank page with two saved candidates asks; Cancel erases nothing, a picked one is written, "Continue without" goes on', async () => {
    const { context, page } = await openPage(browser, `${server.url}?sim&sim-blank=1`);
    try {
      // Two adapters' entries saved from this port, as two updates cut short
      // would leave them: neither is this adapter's for sure.
      const other = '00AABB112233';
      const plant = async (hex, saved) => {
        const colons = hex.match(/../g).join(':');
        assert.equal(await page.evaluate(([name, content]) => window.briveltonHost.storeWrite(name, content),
          [`identity-${hex}`, `port=Simulated adapter\naddress=${colons}\nname=\nsaved=${saved}\n`]), '');
      };
      await plant(address, '2026-12-01T10:00:00Z');
      await plant(other, '2026-12-02T10:00:00Z');
      await checkDevice(page);
      const ask = async () => {
        await page.click('#main-1002');
        await clickShown(page, 'confirm-1046');
        await waitShown(page, 'address');
      };

      const cancelled = await step(page, async () => {
        await ask();
        const offered = await page.$$eval('#address-candidates label', (ls) => ls.map((l) => l.textContent));
        assert.deepEqual(offered, [
          '00:1B:DC:0F:21:7E, saved from Simulated adapter at 2026-12-01T10:00:00Z',
          '00:AA:BB:11:22:33, saved from Simulated adapter at 2026-12-02T10:00:00Z']);
        await screenshot(page, '11-address');
        assert.deepEqual(await axeProblems(page), []);
        await page.click('#address-cancel');
      });
      // The hint lines are longer than the list is wide: they wrap, nothing cut.
      assert.deepEqual(await page.$$eval('#main-1004 > li', (lis) => lis
        .filter((li) => li.scrollWidth > li.clientWidth).map((li) => li.textContent)), []);
      assert.ok(await page.$$eval('#main-1004 > li', (lis) => lis.some((li) => li.getClientRects().length &&
        li.offsetHeight > 20)), 'no log line wraps');
      await screenshot(page, '12-address-wrapped');
      assert.ok(cancelled.includes(' Identity page blank; the address 00:AA:BB:11:22:33 saved for port ' +
        'Simulated adapter at 2026-12-02T10:00:00Z is not used. If it is this adapter\'s: pick ' +
        '00:AA:BB:11:22:33 in the address dialog'), cancelled.join('\n'));
      assert.equal(cancelled.at(-1), ' No address chosen: update cancelled, no erase sent (its identity page was blank already)');
      assert.ok(await page.isHidden('#result'));
      assert.match(await page.textContent('#sim-status'), /firmware 1FF, identity page blank/);

      // Asked again; what names no adapter is refused in the dialog.
      const written = await step(page, async () => {
        await ask();
        // Refused as the windows refuse it, in the same words.
        for (const [typed, problem] of [
          ['001BDC0F21', 'That is not an address: it takes 12 hexadecimal digits, such as 00:1B:DC:0F:21:7E.'],
          ['00:00:00:00:00:00', 'That address can\'t be written: all zeros is no adapter\'s address.'],
          ['', 'Type the adapter\'s 12 hexadecimal digits, or pick a saved address.']]) {
          await page.fill('#address-input', typed);
          await page.click('#address-ok');
          await page.waitForFunction((p) => document.getElementById('address-problem').textContent === p, problem);
          assert.ok(await page.isVisible('#address'));
        }
        await page.check('#address-candidate-1');
        assert.equal(await page.inputValue('#address-input'), '00:AA:BB:11:22:33');
        // Typed as a label prints it, dashes between the bytes, as the windows take it.
        await page.fill('#address-input', '00-AA-BB-11-22-33');
        await page.click('#address-ok');
        await waitShown(page, 'result');
        assert.equal(await page.textContent('#result-1054'), success);
        await page.click('#result-1');
      });
      assert.ok(written.includes(' Writing the address given: 00:AA:BB:11:22:33'), written.join('\n'));
      assert.equal(await page.textContent('#sim-status'), 'The simulated adapter runs: firmware 204, ' +
        'address 00:AA:BB:11:22:33. Check Device finds it.');
      // The verified update forgot the entry of the address it wrote, only that one.
      const kept = await page.evaluate(() => window.briveltonHost.storeList());
      assert.deepEqual(kept.filter((k) => k.startsWith('identity-')), [`identity-${address}`]);

      // A fresh blank adapter, two candidates again: "Continue without" goes on
      // to the flash with no address of the user's.
      await plant(other, '2026-12-03T10:00:00Z');
      await page.click('#sim-start');
      await waitIdle(page);
      await checkDevice(page);
      const before = (await messages(page)).length;
      await ask();
      await page.click('#address-without');
      await waitShown(page, 'progress');
      const went = (await messages(page)).slice(before);
      assert.ok(!went.some((l) => l.includes('Writing the address given') || l.includes('No address chosen')),
        went.join('\n'));
      assert.equal(went.at(-1), ' Erase flash ..........');
      assert.deepEqual(page.errors ?? [], []);
    } finally {
      await context.close();
    }
  });

  test('accessible: axe finds nothing critical or serious loaded, after Check Device, in each dialog and during the flash; a dialog keeps the focus and gives it back', async () => {
    const { context, page } = await openPage(browser, `${server.url}?sim`);
    try {
      const clean = async (when) => assert.deepEqual(await axeProblems(page), [], when);
      await clean('loaded');
      assert.equal(await page.getByRole('main').count(), 1);
      assert.equal(await page.getByRole('heading', { level: 1 }).count(), 1);
      assert.equal(await page.getByRole('log', { name: 'Messages' }).count(), 1);
      await checkDevice(page);
      await clean('after Check Device');

      // Tab goes round inside the dialog only; Escape gives the focus back.
      const tabsStayIn = async (id) => {
        for (let i = 0; i < 25; i++) {
          await page.keyboard.press('Tab');
          assert.ok(await page.evaluate((d) => document.getElementById(d).contains(document.activeElement), id),
            `Tab left #${id} for ${await page.evaluate(() => document.activeElement.outerHTML.slice(0, 80))}`);
        }
      };
      await page.focus('#about-open');
      await page.keyboard.press('Enter');
      await waitShown(page, 'about');
      await clean('About');
      await tabsStayIn('about');
      await page.keyboard.press('Escape');
      assert.equal(await page.evaluate(() => document.activeElement.id), 'about-open');

      await page.focus('#main-1002');
      await page.keyboard.press('Enter');
      await waitShown(page, 'confirm');
      assert.match(await page.textContent('#confirm-placeholder:not([hidden])'),
        /a placeholder for trying the utility, not firmware for a real adapter/);
      await clean('the update warning');
      await tabsStayIn('confirm');
      await page.keyboard.press('Escape');
      await waitIdle(page);
      assert.equal(await page.evaluate(() => document.activeElement.id), 'main-1002');

      // The flash: the bar named by its stage words, the warning readable.
      await page.click('#main-1002');
      await clickShown(page, 'confirm-1046');
      await page.waitForFunction(() => document.getElementById('progress').value > 100, null, { timeout: 60000 });
      assert.equal(await page.getByRole('progressbar', { name: /^(Erasing|Writing) \d+%$/ }).count(), 1);
      assert.equal(await page.textContent('#progress-notice'), doNotUnplug);
      assert.ok(await page.$eval('#progress-notice', (e) => parseFloat(getComputedStyle(e).fontSize)) >= 13);
      assert.match(await page.textContent('#main-note'), /goes on while this tab is in the background/);
      await clean('during the flash');
      await waitShown(page, 'result');
      await clean('the result');
      await page.click('#result-1');
      await waitIdle(page);

      await checkDevice(page);
      await page.focus('#main-1014');
      await page.keyboard.press('Enter');
      await waitShown(page, 'settings');
      for (const name of ['Dialing Plan', 'Off-Hook Power', 'Hook Detection Speed'])
        assert.equal(await page.getByRole('combobox', { name }).count(), 1, name);
      await clean('Setting');
      await tabsStayIn('settings');
      await page.click('#settings-1045');
      await waitShown(page, 'help');
      await clean('Help');
      await tabsStayIn('help');
      await page.click('#help-1');
      await page.click('#settings-2');
      await waitIdle(page);
      assert.equal(await page.evaluate(() => document.activeElement.id), 'main-1014');
      // The focus ring shows where the keyboard goes.
      await page.keyboard.press('Shift+Tab');
      assert.notEqual(await page.evaluate(() => getComputedStyle(document.activeElement).outlineStyle), 'none');
      assert.deepEqual(page.errors ?? [], []);
    } finally {
      await context.close();
    }
  });

  test('a reload during the in-page adapter\'s flash: the notice says what was cut short, the adapter keeps its flash, and Update restores it', async () => {
    const { context, page } = await openPage(browser, `${server.url}?sim`);
    try {
      await checkDevice(page);
      await page.click('#main-1002');
      await clickShown(page, 'confirm-1046');
      await page.waitForFunction(() => /^Writing/.test(document.getElementById('progress-text').textContent),
        null, { timeout: 60000 });
      await page.reload();
      await page.evaluate(() => window.briveltonReady);
      const resume = await page.textContent('#resume:not([hidden])');
      assert.match(resume, /the adapter on Simulated adapter may have no working firmware\. Its Bluetooth address 00:1B:DC:0F:21:7E is saved in this browser/);
      assert.match(resume, /connect it and press Update Firmware/);
      // The simulated adapter is the one the reload cut short, not a fresh one.
      assert.match(await page.textContent('#sim-status'), /^The simulated adapter runs: firmware/);
      assert.doesNotMatch(await page.textContent('#sim-status'), /address 00:1B:DC:0F:21:7E/);
      await screenshot(page, '13-reload-notice');
      await checkDevice(page);
      const { lines, result } = await updateFirmware(page);
      assert.equal(result, success);
      assert.ok(lines.some((l) => l.includes('the browser\'s storage (')), lines.join('\n'));
      assert.equal(await page.textContent('#sim-status'), 'The simulated adapter runs: firmware 204, ' +
        'address 00:1B:DC:0F:21:7E. Check Device finds it.');
      assert.ok(await page.isHidden('#resume'));
    } finally {
      await context.close();
    }
  });

  test('fits any screen: no sideways scroll, every dialog inside the window with each button reachable, centred when wide', async () => {
    for (const { name, viewport, deviceScaleFactor } of [
      { name: '360', viewport: { width: 360, height: 740 } },
      { name: '400', viewport: { width: 400, height: 740 } },
      { name: '800', viewport: { width: 800, height: 600 } },
      { name: '1600', viewport: { width: 1600, height: 900 } },
      // 1280x720 at 200%.
      { name: 'zoom200', viewport: { width: 640, height: 360 }, deviceScaleFactor: 2 },
    ]) {
      const { context, page } = await openPage(browser, `${server.url}?sim&sim-version=204`, { viewport, deviceScaleFactor });
      try {
        await checkDevice(page);
        const sideways = () => page.evaluate(() => document.documentElement.scrollWidth - innerWidth);
        assert.ok(await sideways() <= 0, `${name}: the page scrolls sideways`);
        if (name === '1600') {
          const [left, right] = await page.evaluate(() => {
            const a = document.getElementById('main').getBoundingClientRect();
            const b = document.getElementById('panel').getBoundingClientRect();
            return [Math.min(a.left, b.left), innerWidth - Math.max(a.right, b.right)];
          });
          assert.ok(Math.abs(left - right) <= 2, `${name}: ${left} px on the left, ${right} on the right`);
        }
        await screenshot(page, `14-screen-${name}`);
        for (const [id, show] of Object.entries(dialogs)) {
          await show(page);
          await waitShown(page, id);
          const box = await page.$eval(`#${id}`, (e) => {
            const r = e.getBoundingClientRect();
            return { left: r.left, top: r.top, right: r.right, bottom: r.bottom, w: innerWidth, h: innerHeight };
          });
          assert.ok(box.left >= 0 && box.top >= 0 && box.right <= box.w && box.bottom <= box.h,
            `${name}: #${id} at ${JSON.stringify(box)}`);
          for (const button of await page.$$(`#${id} button:not([hidden])`))
            await button.click({ trial: true, timeout: 5000 });
          assert.ok(await sideways() <= 0, `${name}: the page scrolls sideways under #${id}`);
          if (id === 'settings' || id === 'help') await screenshot(page, `14-screen-${name}-${id}`);
          // Help opens over the parameter dialog: both close after it.
          if (id === 'settings') continue;
          await page.keyboard.press('Escape');
          if (id === 'help') await page.keyboard.press('Escape');
          await page.waitForFunction((d) => document.getElementById(d).hidden, id, { timeout: 5000 })
            .catch((e) => { throw new Error(`${name}: #${id} stays open: ${e.message}`); });
        }
        assert.deepEqual(page.errors ?? [], []);
      } finally {
        await context.close();
      }
    }
  });

  test('not framed: inside another site\'s frame the page refuses to run and never reaches the serial ports; scripts/web forbids it', async () => {
    // Another origin (another port) that frames the page.
    const framer = http.createServer((req, res) => {
      res.writeHead(200, { 'Content-Type': 'text/html' });
      res.end(`<!DOCTYPE html><title>elsewhere</title><iframe id="f" src="${server.url}" width="800" height="600"></iframe>`);
    });
    framer.listen(0, '127.0.0.1');
    await once(framer, 'listening');
    const context = await browser.newContext({ serviceWorkers: 'block' });
    await context.addInitScript({ content: `
      window.serialCalls = 0;
      const count = () => { window.serialCalls++; return Promise.resolve([]); };
      Object.defineProperty(navigator, 'serial', { configurable: true,
        value: { getPorts: count, requestPort: count, addEventListener() {}, removeEventListener() {} } });` });
    const page = await context.newPage();
    try {
      await page.goto(`http://127.0.0.1:${framer.address().port}/`);
      const frame = await (await page.waitForSelector('#f')).contentFrame();
      await frame.waitForFunction(() => document.documentElement.dataset.ready === 'error');
      assert.match(await frame.textContent('#framed:not([hidden])'), /only in a tab of its own/);
      assert.ok(await frame.isHidden('#desk'));
      assert.equal(await frame.evaluate(() => window.serialCalls), 0);
      await screenshot(page, '15-framed');
    } finally {
      await context.close();
      framer.close();
    }

    // The header scripts/web's server sends, which keeps the frame from loading at all.
    const served = spawn('bash', [path.join(root, 'scripts/web'), '--port', '0'], { cwd: root,
      stdio: ['ignore', 'pipe', 'pipe'] });
    try {
      const lines = readline.createInterface({ input: served.stdout });
      let url = null;
      for await (const line of lines) {
        const m = line.match(/^Serving build-web\/site\/ at (\S+)$/);
        if (m) { url = m[1]; break; }
      }
      assert.ok(url, 'scripts/web printed no address');
      const response = await fetch(url);
      assert.equal(response.headers.get('content-security-policy'), "frame-ancestors 'self'");
    } finally {
      served.kill('SIGINT');
      await once(served, 'exit');
    }
  });

  test('a failed attempt: the pause says which attempt failed and why, with the warning kept and no "Failed"', async () => {
    const bridge = new Bridge();
    await bridge.listen();
    const sim = new Sim(simProgram, ['--version', '1FF', '--address', address, '--wrong-checksum',
      '--time-scale', '0.05']);
    bridge.target = await sim.start();
    const { context, page } = await openPage(browser, server.url, { bridgeUrl: bridge.url });
    try {
      await checkDevice(page);
      await page.click('#main-1002');
      await clickShown(page, 'confirm-1046');
      await page.waitForFunction(() => document.getElementById('progress-attempt').textContent.startsWith('Attempt 1 '),
        null, { timeout: 60000 });
      assert.equal(await page.textContent('#progress-attempt'),
        'Attempt 1 of 20 failed: the checksum did not match. Trying again in 3 s.');
      assert.notEqual(await page.textContent('#progress-text'), 'Failed');
      assert.equal(await page.textContent('#progress-notice:not([hidden])'), doNotUnplug);
      await screenshot(page, '16-attempt-failed');
      await page.waitForFunction(() => document.getElementById('progress-attempt').textContent === 'Attempt 2 of 20',
        null, { timeout: 60000 });
      assert.equal(await page.textContent('#progress-notice:not([hidden])'), doNotUnplug);
    } finally {
      await sim.stop();
      await context.close();
      await bridge.close();
    }
  });
});

// After the others and alone: it runs a browser of its own whose hidden tab's
// timers must be throttled as a user's are, and nothing else may take the
// processors from the update it watches.
test('in a tab behind another, without the timer-throttling switches: the update through the bridge keeps its pace', async (t) => {
  const plain = await launchPlainChromium();
  const bridge = new Bridge();
  await bridge.listen();
  const dump = path.join(scratch, 'hidden.flash');
  const sim = new Sim(simProgram, ['--version', '1FF', '--address', address, '--dump-flash', dump]);
  bridge.target = await sim.start();
  try {
    const reference = await flashAfterCliUpdate();
    // The page's own timers while it works on the update, counted.
    await plain.context.addInitScript({ content: `
      window.timersWhileUpdating = 0;
      const own = window.setTimeout;
      window.setTimeout = function (...args) {
        if (document.documentElement.dataset.busy === 'update') window.timersWhileUpdating++;
        return own.apply(this, args);
      };` });
    const { page } = await openPage(null, server.url, { bridgeUrl: bridge.url, context: plain.context });
    await page.evaluate(installDriver);
    await hideBehindTab(plain.context, page);
    // Hidden, the tab's own timers are held back, as for any user.
    const held = await page.evaluate(async () => {
      const t0 = performance.now();
      for (let i = 0; i < 3; i++) await new Promise((r) => { setTimeout(r, 10); });
      return performance.now() - t0;
    });
    assert.ok(held > 300, `three 10 ms timers took ${held} ms: the tab is not throttled`);
    await page.evaluate(() => document.getElementById('main-1001').click());
    const pageMs = await page.evaluate(() => window.benchDone);
    assert.equal(await page.evaluate(() => document.visibilityState), 'hidden');
    assert.equal(await page.textContent('#result-1054'), success);
    assert.equal(await page.evaluate(() => window.timersWhileUpdating), 0);
    assert.equal(await sim.stop(), 0, sim.stderr);
    assert.ok(fs.readFileSync(dump).equals(reference), 'the flash differs from the command line\'s');
    // The time against the tool's is the bench's figure (bench.mjs,
    // page_hidden/cli); here it is only reported.
    t.diagnostic(`hidden page update ${pageMs.toFixed(0)} ms`);
  } finally {
    await sim.stop();
    await bridge.close();
    await plain.close();
  }
});

