// SPDX-License-Identifier: MIT
// The web page in headless chromium: its message list against the command-line
// tool's for the same adapter, an update through the real wire protocol (the
// Web Serial stand-in, the bridge, brivelton-sim), and an update cut short by
// a reload that the browser's journal recovers.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {
  serveSite, launchChromium, openPage, messages, waitIdle, waitShown, clickShown, screenshot,
  cli, simProgram, site,
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
    await waitShown(page, 'result');
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

// The flash a command-line update leaves on an adapter in the same start state.
let expectedFlash;
async function flashAfterCliUpdate() {
  if (expectedFlash) return expectedFlash;
  const dump = path.join(scratch, 'cli.flash');
  const sim = new Sim(simProgram, ['--version', '1FF', '--address', address, '--dump-flash', dump]);
  const tty = await sim.start();
  const run = await cli(['--port', tty, 'update', '--yes']);
  await sim.stop();
  assert.equal(run.lines.at(-1), success);
  expectedFlash = fs.readFileSync(dump);
  // The image, then the identity page that starts with this adapter's address.
  const image = fs.readFileSync(path.join(site, 'firmware.bin'));
  assert.deepEqual(expectedFlash.subarray(0, image.length), image);
  assert.deepEqual(expectedFlash.subarray(image.length, image.length + 6), Buffer.from(address, 'hex'));
  return expectedFlash;
}

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
    const reference = await flashAfterCliUpdate();
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
    // One record for this adapter, with the port's USB identity as the browser gave it.
    const record = await page.evaluate((name) => window.briveltonHost.storeRead(name), `identity-${address}`);
    assert.match(record ?? '', /^port=USB 0403:6001\naddress=00:1B:DC:0F:21:7E\n(.*\n)*usb_vendor=0403\nusb_product=6001\n/);
    const again = await checkDevice(page);
    assert.ok(again.includes(' Found device on USB 0403:6001'), again.join('\n'));
    const { lines, result } = await updateFirmware(page, '9-reload-again');
    assert.equal(result, success);
    assert.ok(lines.some((l) => l.includes('the browser\'s storage (')), lines.join('\n'));
    assert.equal(await sim.stop(), 0, sim.stderr);
    assert.ok(fs.readFileSync(dump).equals(reference), 'the address was not restored');
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
    await screenshot(page, '10-no-serial');

    await page.click('#sim-start');
    await waitIdle(page);
    assert.equal(await page.textContent('#sim-status'), 'The simulated adapter runs: firmware 1FF, ' +
      'address 00:1B:DC:0F:21:7E. Check Device finds it.');
    const check = await checkDevice(page);
    assert.ok(check.includes(' Found device on Simulated adapter'), check.join('\n'));
    assert.ok(check.includes(' Device Firmware Version = 1FF'), check.join('\n'));
    assert.ok(await page.isDisabled('#main-request'));
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
      await page.click('#address-cancel');
    });
    assert.ok(cancelled.includes(' Identity page blank; the address 00:AA:BB:11:22:33 saved for port ' +
      'Simulated adapter at 2026-12-02T10:00:00Z is not used. If it is this adapter\'s: pick ' +
      '00:AA:BB:11:22:33 in the address dialog'), cancelled.join('\n'));
    assert.equal(cancelled.at(-1), ' No address chosen: update cancelled, no erase sent (its identity page was blank already)');
    assert.ok(await page.isHidden('#result'));
    assert.match(await page.textContent('#sim-status'), /firmware 1FF, identity page blank/);

    // Asked again; what names no adapter is refused in the dialog.
    const written = await step(page, async () => {
      await ask();
      for (const [typed, problem] of [['001BDC0F21', '"001BDC0F21" is not 12 hexadecimal digits.'],
        ['00:00:00:00:00:00', 'All zeros is no adapter\'s address.']]) {
        await page.fill('#address-input', typed);
        await page.click('#address-ok');
        await page.waitForFunction((p) => document.getElementById('address-problem').textContent === p, problem);
        assert.ok(await page.isVisible('#address'));
      }
      await page.check('#address-candidate-1');
      assert.equal(await page.inputValue('#address-input'), '00:AA:BB:11:22:33');
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
