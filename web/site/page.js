// SPDX-License-Identifier: MIT
// The page's window: laid out from the dialog templates the WebAssembly
// hands over, converted from dialog units to pixels as the Windows dialog
// manager (and the Qt window) do, and the dialogs the core awaits.
"use strict";

(() => {
  const $ = id => document.getElementById(id);
  const root = document.documentElement;
  const host = window.briveltonHost;
  const kIdUpdateFirmware = 1002, kIdSetting = 1014, kIdCheckDevice = 1001, kIdMessageList = 1004;
  const kIdOk = 1, kIdCancel = 2;
  const busyNames = { [kIdCheckDevice]: "check", [kIdUpdateFirmware]: "update", [kIdSetting]: "setting" };

  let module = null;
  let texts = null;
  let units = null;
  let flashing = false;

  // Windows' MulDiv: a * b / c rounded half away from zero.
  function mulDiv(a, b, c) {
    const p = a * b;
    const r = Math.abs(p) / Math.abs(c);
    return Math.sign(p) * Math.sign(c) * Math.floor(r + 0.5);
  }

  // The average character width and the height of the template's font at
  // the pixel size Windows picks at 96 dpi.
  function baseUnits(font, points) {
    const px = mulDiv(points, 96, 72);
    const ctx = document.createElement("canvas").getContext("2d");
    ctx.font = `${px}px ${font}, "Liberation Sans", Helvetica, sans-serif`;
    const m = ctx.measureText("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const height = (m.fontBoundingBoxAscent && m.fontBoundingBoxDescent)
        ? Math.ceil(m.fontBoundingBoxAscent) + Math.ceil(m.fontBoundingBoxDescent) : Math.round(px * 1.15);
    return { x: Math.floor((Math.floor(Math.round(m.width) / 26) + 1) / 2), y: height, px };
  }
  const px = {
    x: v => mulDiv(v, units.x, 4),
    y: v => mulDiv(v, units.y, 8),
  };

  function place(el, x, y, w, h) {
    el.style.left = `${px.x(x)}px`;
    el.style.top = `${px.y(y)}px`;
    if (w !== null) el.style.width = `${px.x(w)}px`;
    if (h !== null) el.style.height = `${px.y(h)}px`;
  }

  // One dialog's window from its template; controls take ids PREFIX-ID.
  function buildDialog(box, prefix, t, onCommand) {
    let client = box.querySelector(".client");
    if (!box.querySelector(".title")) {
      const title = document.createElement("div");
      title.className = "title";
      const text = document.createElement("span");
      text.className = "title-text";
      title.append(text);
      box.append(title);
    }
    const titleText = box.querySelector(".title-text");
    titleText.textContent = t.title;
    if (!titleText.id) titleText.id = `${prefix}-title`;
    if (!client) {
      client = document.createElement("div");
      client.className = "client";
      box.append(client);
    }
    client.style.width = `${px.x(t.w)}px`;
    client.style.height = `${px.y(t.h)}px`;
    // A list's name is the text before it, as a screen reader of the
    // windows takes it.
    let lastLabel = null;
    t.controls.forEach((c, index) => {
      if (prefix === "main" && c.id === kIdCancel) return;  // a page can't close its tab
      let el;
      switch (c.kind) {
        case "label":
          el = document.createElement("div");
          el.className = "label";
          el.textContent = c.text;
          el.id = `${prefix}-label-${index}`;
          lastLabel = el;
          place(el, c.x, c.y, c.w, c.h);
          break;
        case "icon":
          el = document.createElement("img");
          el.src = "adapter-48.png";
          el.alt = "";
          el.width = el.height = 32;
          place(el, c.x, c.y, null, null);
          break;
        case "list":
          el = document.createElement("ul");
          el.className = "list";
          el.tabIndex = 0;
          if (prefix === "main") {
            el.setAttribute("role", "log");
            el.setAttribute("aria-label", "Messages");
          } else {
            el.setAttribute("aria-label", t.title);
          }
          place(el, c.x, c.y, c.w, c.h);
          break;
        case "button":
        case "default":
          el = document.createElement("button");
          el.type = "button";
          el.textContent = c.text;
          if (c.kind === "default") el.classList.add("default");
          el.addEventListener("click", () => onCommand(c.id));
          place(el, c.x, c.y, c.w, c.h);
          break;
        case "check": {
          el = document.createElement("label");
          el.className = "check";
          const box = document.createElement("input");
          box.type = "checkbox";
          box.id = `${prefix}-${c.id}`;
          el.append(box, document.createTextNode(c.text));
          place(el, c.x, c.y, c.w, c.h);
          break;
        }
        case "select":
          el = document.createElement("select");
          c.items.forEach((item, i) => el.append(new Option(item, String(i))));
          el.selectedIndex = -1;
          if (lastLabel) el.setAttribute("aria-labelledby", lastLabel.id);
          // The template's height is that of the open list.
          place(el, c.x, c.y, c.w, null);
          break;
        default:
          return;
      }
      if (c.id !== -1 && c.kind !== "check") el.id = `${prefix}-${c.id}`;
      if (!c.visible) el.hidden = true;
      client.append(el);
    });
    return client;
  }

  // Modal dialogs: one promise per showing, settled by its buttons.
  // Everything behind the top one is inert: neither Tab nor a click reaches
  // it. Closed, a dialog gives the focus back to what had it (or, when that
  // was a button disabled by the work, to it once the work is over).
  const open = [];
  let focusAfterWork = null;
  function behind() {
    const top = open[open.length - 1];
    $("page-main").inert = !!top;
    for (const box of open) box.inert = box !== top;
  }
  function showModal(box) {
    box.classList.remove("placed");
    box.returnTo = document.activeElement !== document.body ? document.activeElement : null;
    box.hidden = false;
    $("shade").hidden = false;
    open.push(box);
    behind();
    fit(box);
    const first = box.querySelector("button.default") || box.querySelector("button");
    if (first) first.focus();
  }
  function hideModal(box) {
    box.hidden = true;
    const i = open.indexOf(box);
    if (i >= 0) open.splice(i, 1);
    if (!open.length) $("shade").hidden = true;
    behind();
    const back = box.returnTo;
    box.returnTo = null;
    if (back && back.isConnected) {
      back.focus();
      if (document.activeElement !== back) focusAfterWork = back;
    }
  }
  function focusable(box) {
    return [...box.querySelectorAll("button, input, select, [tabindex]")].filter(
        el => !el.disabled && !el.hidden && el.tabIndex >= 0 && el.getClientRects().length);
  }
  let pending = {};
  function awaitDialog(name, box) {
    return new Promise(resolve => {
      pending[name] = value => {
        delete pending[name];
        hideModal(box);
        resolve(value);
      };
      showModal(box);
    });
  }
  document.addEventListener("keydown", e => {
    const box = open[open.length - 1];
    if (!box) return;
    if (e.key === "Tab") {
      const all = focusable(box);
      if (!all.length) return;
      const at = all.indexOf(document.activeElement);
      const next = e.shiftKey ? (at <= 0 ? all.length - 1 : at - 1)
                              : (at < 0 || at === all.length - 1 ? 0 : at + 1);
      e.preventDefault();
      all[next].focus();
    } else if (e.key === "Escape") {
      e.preventDefault();
      const cancel = box.querySelector(`button[id$="-${kIdCancel}"]`) ||
          box.querySelector("#address-cancel");
      if (cancel) cancel.click();
      else (box.querySelector("button.default") || box.querySelector("button")).click();
    } else if (e.key === "Enter" && !(e.target instanceof HTMLSelectElement)) {
      e.preventDefault();
      const focused = document.activeElement;
      if (focused instanceof HTMLButtonElement && box.contains(focused)) focused.click();
      else (box.querySelector("button.default") || box.querySelector("button")).click();
    }
  });

  function appendLog(line) {
    const list = $(`main-${kIdMessageList}`);
    const li = document.createElement("li");
    li.textContent = line;
    li.setAttribute("role", "none");
    list.append(li);
    // The newest 23 lines stay in view once there are more than 25 (a long
    // line wraps: its rows count as it shows them).
    const count = list.children.length;
    if (count > 25) list.scrollTop = list.children[count - 23].offsetTop - list.firstElementChild.offsetTop;
  }

  // The conversation controller's state: 0 idle, 1 busy, 2 flashing.
  // `attempt`: the attempt's account ("Attempt 2 of 20 failed: ...").
  function conversation(state, shown, value, text, notice, attempt) {
    const wasFlashing = flashing;
    flashing = state === 2;
    $("progress").hidden = !shown;
    $("progress-text").hidden = !shown;
    $("progress").value = value;
    $("progress-text").textContent = text;
    $("progress-notice").textContent = notice;
    $("progress-notice").hidden = !notice;
    $("progress-attempt").textContent = attempt || "";
    $("progress-attempt").hidden = !attempt;
    // From the first erase on the flash goes on in the background as well;
    // the screen stays on where the browser lets the page ask.
    if (shown && notice && state !== 0) note(kBackgroundNote);
    else if ($("main-note").textContent === kBackgroundNote) note("");
    if (flashing !== wasFlashing) wakeLock(flashing);
  }
  const kBackgroundNote = "The update goes on while this tab is in the background: you may " +
      "switch to another tab, but keep this one open and the adapter plugged in.";

  function note(text) {
    $("main-note").textContent = text;
    $("main-note").hidden = !text;
  }

  let lock = null;
  async function wakeLock(on) {
    if (!on) {
      const held = lock;
      lock = null;
      if (held) held.release().catch(() => {});
      return;
    }
    if (lock || !navigator.wakeLock || document.visibilityState !== "visible") return;
    try {
      lock = await navigator.wakeLock.request("screen");
      if (!flashing) wakeLock(false);
    } catch (e) {
      lock = null;  // refused (a saving mode, a policy): the flash goes on
    }
  }
  // A lock ends when the tab is hidden; it is asked again on return.
  document.addEventListener("visibilitychange", () => {
    if (flashing && document.visibilityState === "visible") { lock = null; wakeLock(true); }
  });

  window.addEventListener("beforeunload", e => {
    if (!flashing) return;
    e.preventDefault();
    e.returnValue = "";
  });

  const settingsIds = [1044, 1030, 1031, 1032, 1033, 1034, 1035, 1051, 1052, 1053];
  function putSettings(values) {
    settingsIds.forEach((id, i) => {
      const el = $(`settings-${id}`);
      if (el.type === "checkbox") el.checked = values[i] !== 0;
      else el.selectedIndex = values[i] >= 0 && values[i] < el.options.length ? values[i] : -1;
    });
  }
  function readSettings() {
    return settingsIds.map(id => {
      const el = $(`settings-${id}`);
      return el.type === "checkbox" ? (el.checked ? 1 : 0) : el.selectedIndex;
    });
  }
  let settingsDefaults = null;

  window.briveltonPage = {
    appendLog,
    showButton(id, show) {
      const el = $(`main-${id}`);
      if (el) el.hidden = !show;
    },
    confirmUpdate() {
      return awaitDialog("confirm", $("confirm"));
    },
    showResult(success) {
      $("result-1054").textContent = success ? texts.succeeded : texts.failed;
      return awaitDialog("result", $("result"));
    },
    editSettings(values, defaults) {
      settingsDefaults = defaults;
      putSettings(values);
      return awaitDialog("settings", $("settings"));
    },
    conversation,
    // Before an update erases a blank identity page that no single saved
    // address applies to: `candidates` ({ address, port, saved }) to pick
    // from, `problem` what was wrong with the last answer. Settles to
    // { answer: "given", text }, { answer: "without" } or { answer: "cancel" }.
    askAddress(text, candidates, problem, typed) {
      $("address-text").textContent = text;
      $("address-problem").textContent = problem || "";
      const list = $("address-candidates");
      list.replaceChildren();
      const input = $("address-input");
      input.value = typed || "";
      candidates.forEach((c, i) => {
        const row = document.createElement("label");
        row.className = "candidate";
        const pick = document.createElement("input");
        pick.type = "radio";
        pick.name = "address-candidate";
        pick.id = `address-candidate-${i}`;
        pick.value = c.address;
        pick.checked = input.value === c.address;
        pick.addEventListener("change", () => { input.value = c.address; });
        const shown = document.createElement("code");
        shown.textContent = c.address;
        row.append(pick, shown, document.createTextNode(
            `, saved from ${c.port}${c.saved ? ` at ${c.saved}` : ""}`));
        list.append(row);
      });
      list.hidden = !candidates.length;
      const answer = awaitDialog("address", $("address"));
      input.focus();
      input.select();
      return answer;
    },
  };

  function layout() {
    const d = texts.dialogs;
    units = baseUnits(d.main.font, d.main.points);
    const mainClient = buildDialog($("main"), "main", d.main, id => click(id));
    const bar = document.createElement("progress");
    bar.id = "progress";
    bar.max = 1000;
    bar.value = 0;
    bar.hidden = true;
    place(bar, 177, 80, 58, 10);
    bar.setAttribute("aria-labelledby", "progress-text");
    const barText = document.createElement("div");
    barText.id = "progress-text";
    barText.hidden = true;
    place(barText, 177, 92, 58, 10);
    const notice = document.createElement("div");
    notice.id = "progress-notice";
    notice.className = "label";
    notice.hidden = true;
    place(notice, 177, 104, 58, 24);
    const attempt = document.createElement("div");
    attempt.id = "progress-attempt";
    attempt.className = "label";
    attempt.setAttribute("role", "status");
    attempt.hidden = true;
    place(attempt, 177, 130, 58, 40);
    mainClient.append(bar, barText, notice, attempt);

    buildDialog($("about"), "about", d.about, () => hideModal($("about")));
    const confirmClient = buildDialog($("confirm"), "confirm", d.confirm, id => {
      if (id === 1046) pending.confirm(true);
      else if (id === kIdCancel) pending.confirm(false);
    });
    // Beside the template's warning, below its buttons.
    const placeholder = document.createElement("p");
    placeholder.id = "confirm-placeholder";
    placeholder.className = "window-note";
    placeholder.hidden = true;
    confirmClient.after(placeholder);
    $("confirm").setAttribute("aria-describedby", "confirm-placeholder");
    for (const label of confirmClient.querySelectorAll(".label")) {
      $("confirm").setAttribute("aria-describedby", `${label.id} confirm-placeholder`);
      break;
    }
    buildDialog($("result"), "result", d.result, () => pending.result());
    buildDialog($("settings"), "settings", d.settings, id => {
      if (id === kIdOk) pending.settings(readSettings());
      else if (id === kIdCancel) pending.settings(null);
      else if (id === 1040 && settingsDefaults) putSettings(settingsDefaults);
      else if (id === 1045) openHelp();
    });
    const helpClient = buildDialog($("help"), "help", d.help, () => hideModal($("help")));
    const helpList = helpClient.querySelector("ul");
    for (const line of texts.help) {
      const li = document.createElement("li");
      li.textContent = line;
      helpList.append(li);
    }
  }

  // Beside the parameter dialog, at the template's offset from its client
  // area, as far as the screen has room.
  function openHelp() {
    const help = $("help");
    const owner = $("settings").querySelector(".client").getBoundingClientRect();
    showModal(help);
    help.classList.add("placed");
    const size = help.getBoundingClientRect();
    const left = Math.round(owner.left) + px.x(texts.helpOffset[0]);
    const top = Math.round(owner.top) + px.y(texts.helpOffset[1]);
    help.style.left = `${Math.max(kMargin, Math.min(left, innerWidth - kMargin - size.width))}px`;
    help.style.top = `${Math.max(kMargin, Math.min(top, innerHeight - kMargin - size.height))}px`;
  }

  // A window wider than the screen is drawn smaller, whole; a dialog taller
  // than the screen scrolls inside. Nothing makes the page scroll sideways.
  const kMargin = 8;
  function scaleToWidth(el, room) {
    el.style.zoom = "";
    const width = el.getBoundingClientRect().width;
    if (width > room) el.style.zoom = String(Math.floor((room - 1) / width * 1000) / 1000);
  }
  function fit(box) {
    if (box.hidden) return;
    scaleToWidth(box, innerWidth - 2 * kMargin);
    const zoom = Number(box.style.zoom) || 1;
    box.style.maxHeight = `${Math.floor((innerHeight - 2 * kMargin) / zoom)}px`;
  }
  function fitAll() {
    const pad = parseFloat(getComputedStyle(document.body).paddingLeft) || 0;
    scaleToWidth($("main"), document.documentElement.clientWidth - 2 * pad);
    for (const box of open) fit(box);
  }
  window.addEventListener("resize", () => { if (texts) fitAll(); });

  function setBusy(name) {
    root.dataset.busy = name;
    for (const id of [kIdCheckDevice, kIdUpdateFirmware, kIdSetting])
      $(`main-${id}`).disabled = name !== "";
    for (const id of ["sim-start", "sim-stop", "firmware-file", "firmware-version",
                      "firmware-builtin", "guide-try"])
      $(id).disabled = name !== "";
    $("main-request").disabled = name !== "" || !navigator.serial;
  }

  let imageProblem = "";

  async function click(id) {
    if (root.dataset.busy !== "" || root.dataset.ready !== "yes") return;
    if (id === kIdUpdateFirmware && imageProblem) {
      $("image-status").textContent = imageProblem;
      note(`Nothing was written: the firmware file chosen in the panel is refused. ${imageProblem}`);
      return;
    }
    note("");
    $("guide").hidden = true;
    const clicked = $(`main-${id}`);
    setBusy(busyNames[id] || "");
    try {
      // The click is the user's gesture the chooser needs.
      if (id === kIdCheckDevice && !simRunning && navigator.serial) {
        let granted = [];
        try { granted = await navigator.serial.getPorts(); } catch (e) { granted = []; }
        if (!granted.length) await requestPort();
      }
      await module.ccall("web_button", null, ["number"], [id], { async: true });
    } catch (e) {
      console.error("The button's work stopped:", e);
    } finally {
      setBusy("");
      simStatus();
      keepSimFlash();
      const now = document.activeElement;
      if (focusAfterWork || !now || now === document.body || !now.getClientRects().length) {
        const back = focusAfterWork && !focusAfterWork.hidden ? focusAfterWork : clicked;
        focusAfterWork = null;
        if (back && !back.hidden) back.focus();
      }
      // Without Web Serial a search can only fail: say why where the user looks.
      if (id === kIdCheckDevice && !simRunning && !navigator.serial)
        note($("no-serial").textContent);
      showResume();
    }
  }

  async function requestPort() {
    try {
      await navigator.serial.requestPort({});
    } catch (e) {
      // Nothing picked: the search runs on what was granted before.
    }
  }

  // A change of what the window runs on closes the port it holds, which
  // awaits the browser: every such call is asynchronous, and one at a time.
  async function switchTo(name, returns, types, args) {
    if (root.dataset.busy !== "") return null;
    setBusy("switch");
    try {
      return await module.ccall(name, returns, types, args, { async: true });
    } finally {
      setBusy("");
    }
  }

  // The simulated adapter's start state and flash, kept for the tab's
  // session: a reload in the middle of its update finds it as it was left,
  // as a real adapter would be.
  const kSimKept = "brivelton-sim";
  let simRunning = false;
  let simStart = null;
  async function startSim(version, blank, address, flash) {
    const bytes = flash || new Uint8Array(0);
    const problem = await switchTo("web_sim_start", "string",
                                   ["string", "number", "string", "array", "number"],
                                   [version, blank ? 1 : 0, address, bytes, bytes.length]);
    if (problem === null) return false;
    if (problem) {
      $("sim-status").textContent = problem;
      return false;
    }
    simRunning = true;
    simStart = { version, blank, address };
    simStatus();
    keepSimFlash();
    $("sim-stop").hidden = false;
    $("guide").hidden = true;
    return true;
  }
  function keepSimFlash() {
    if (!module) return;
    try {
      if (!simRunning) {
        sessionStorage.removeItem(kSimKept);
        return;
      }
      const size = module._malloc(4);
      // The export itself: ccall, in the middle of a button's work, would
      // take this call for part of that work and give a promise.
      const at = module._web_sim_flash(size);
      const length = module.HEAP32[size >> 2];
      module._free(size);
      let text = "";
      const bytes = module.HEAPU8.subarray(at, at + length);
      for (let i = 0; i < bytes.length; i += 0x8000)
        text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
      sessionStorage.setItem(kSimKept, JSON.stringify({ ...simStart, flash: btoa(text) }));
    } catch (e) {
      // No session storage (a private mode's quota): a reload starts afresh.
    }
  }
  window.addEventListener("pagehide", keepSimFlash);
  function keptSim() {
    try {
      const kept = JSON.parse(sessionStorage.getItem(kSimKept) || "null");
      if (!kept) return null;
      const text = atob(kept.flash);
      const flash = new Uint8Array(text.length);
      for (let i = 0; i < text.length; i++) flash[i] = text.charCodeAt(i);
      return { ...kept, flash };
    } catch (e) {
      return null;
    }
  }

  // What the simulated adapter is now: an update changes its version and
  // can change its identity page.
  function simStatus() {
    if (!simRunning) return;
    let state;
    try {
      state = module.ccall("web_sim_state", "string", [], []);
    } catch (e) {
      return;  // the program stopped: the console says why
    }
    const [version, address] = state.split("\n");
    $("sim-status").textContent = `The simulated adapter runs: firmware ${version}, ` +
        `${address ? `address ${address}` : "identity page blank"}. Check Device finds it.`;
  }

  // A placeholder image says so wherever the image is described: here and
  // in the update's warning.
  function imageStatus() {
    const placeholder = module.ccall("web_image_note", "string", [], []);
    $("image-status").textContent = (usingUserImage
        ? `An update writes ${usingUserImage}`
        : `An update writes the page's firmware ${imageVersion}`) +
        (placeholder ? `: ${placeholder}.` : ".");
    $("confirm-placeholder").textContent = placeholder
        ? `The firmware this update writes is ${placeholder}.` : "";
    $("confirm-placeholder").hidden = !placeholder;
  }
  let usingUserImage = "";
  let imageVersion = "";

  async function takeUserImage() {
    const file = $("firmware-file").files[0];
    if (!file) return;
    const version = $("firmware-version").value.trim();
    const bytes = new Uint8Array(await file.arrayBuffer());
    const problem = await switchTo("web_take_user_image", "string",
                                   ["string", "array", "number", "string"],
                                   [file.name, bytes, bytes.length, version]);
    if (problem === null) return;
    if (problem) {
      imageProblem = `Not used: ${problem}.`;
      $("image-status").textContent = imageProblem;
      return;
    }
    imageProblem = "";
    usingUserImage = `${file.name} as firmware ${version.replace(/^0x/i, "").toUpperCase()}`;
    imageStatus();
  }

  function wire() {
    $("address-ok").addEventListener("click",
        () => pending.address({ answer: "given", text: $("address-input").value.trim() }));
    $("address-without").addEventListener("click", () => pending.address({ answer: "without" }));
    $("address-cancel").addEventListener("click", () => pending.address({ answer: "cancel" }));
    // A typed address that is no longer the one picked takes the pick away.
    $("address-input").addEventListener("input", () => {
      for (const pick of document.querySelectorAll("#address-candidates input"))
        pick.checked = pick.value === $("address-input").value.trim();
    });
    $("main-request").addEventListener("click", async () => {
      if (!navigator.serial || root.dataset.busy !== "") return;
      await requestPort();
    });
    // The windows' About entry, with F1 as on Linux.
    $("about-open").textContent = texts.aboutMenu.replace(/&(.)/g, "$1");
    $("about-open").addEventListener("click", e => {
      e.preventDefault();
      if (!open.length) showModal($("about"));
    });
    document.addEventListener("keydown", e => {
      if (e.key === "F1" && !open.length) {
        e.preventDefault();
        showModal($("about"));
      }
    });
    $("firmware-file").addEventListener("change", takeUserImage);
    $("firmware-version").addEventListener("change", takeUserImage);
    $("firmware-builtin").addEventListener("click", async () => {
      if (await switchTo("web_take_user_image", "string",
                         ["string", "number", "number", "string"], ["", 0, 0, ""]) !== "")
        return;
      $("firmware-file").value = "";
      $("firmware-version").value = "";
      imageProblem = "";
      usingUserImage = "";
      imageStatus();
    });
    const trySim = () => startSim($("sim-version").value.trim(), $("sim-blank").checked,
                                  $("sim-address").value.trim());
    $("sim-start").addEventListener("click", trySim);
    $("guide-try").addEventListener("click", trySim);
    $("sim-stop").addEventListener("click", async () => {
      if (await switchTo("web_sim_stop", "number", [], []) !== 0) return;
      simRunning = false;
      keepSimFlash();
      $("sim-stop").hidden = true;
      $("sim-status").textContent = "";
    });
  }

  // Nothing works without the program and its image: every control stays off.
  function fail(message) {
    root.dataset.ready = "error";
    for (const el of document.querySelectorAll("button, input, select")) el.disabled = true;
    $("image-status").textContent = "";
    $("load-error").textContent = message;
    $("load-error").hidden = false;
    host.settleReady.reject(new Error(message));
  }

  // The program from the response host.js asked for early, compiled as it
  // arrives; a host that serves it with another type than application/wasm
  // gets it compiled whole instead.
  async function instantiate(imports) {
    const response = await host.early.wasm;
    if (!response.ok) throw new Error(`brivelton.wasm could not be loaded (HTTP ${response.status})`);
    try {
      return await WebAssembly.instantiateStreaming(response.clone(), imports);
    } catch (e) {
      return WebAssembly.instantiate(await response.arrayBuffer(), imports);
    }
  }
  function startProgram() {
    let failed;
    const failure = new Promise((resolve, reject) => { failed = reject; });
    const started = createBrivelton({
      locateFile: file => file,
      instantiateWasm(imports, receive) {
        instantiate(imports).then(r => receive(r.instance, r.module), failed);
        return {};
      },
    });
    return Promise.race([started, failure]);
  }

  // An update cut short (a reload, a closed tab) left its adapter's address
  // in the browser's journal: say so until an update has written it back.
  async function showResume() {
    const names = (await host.storeList()).filter(n => n.startsWith("identity-"));
    const entries = [];
    for (const name of names) {
      const text = await host.storeRead(name);
      if (!text) continue;
      const fields = Object.fromEntries(text.split("\n").filter(l => l.includes("="))
          .map(l => [l.slice(0, l.indexOf("=")), l.slice(l.indexOf("=") + 1)]));
      if (fields.address) entries.push(fields);
    }
    const shown = entries.map(e =>
        `${e.address}${e.port ? ` (the adapter on ${e.port}${e.saved ? `, saved ${e.saved}` : ""})` : ""}`);
    $("resume").textContent = !entries.length ? ""
        : entries.length === 1
        ? `An update was cut short: the adapter on ${entries[0].port || "its port"} may have no ` +
          `working firmware. Its Bluetooth address ${entries[0].address} is saved in this browser. ` +
          "To finish the update, connect it and press Update Firmware (after Check Device)."
        : `Updates were cut short: Bluetooth addresses saved in this browser are ${shown.join(", ")}. ` +
          "To finish an update, connect its adapter and press Update Firmware (after Check Device).";
    $("resume").hidden = !entries.length;
  }

  // Inside another site's frame the page does nothing: that site could make
  // it talk to the user's ports.
  function framedElsewhere() {
    if (window.top === window.self) return false;
    try {
      return window.top.location.origin !== location.origin;
    } catch (e) {
      return true;
    }
  }

  async function start() {
    if (framedElsewhere()) {
      $("framed").textContent = "This page works only in a tab of its own, not inside another " +
          `site's page: open ${location.href} directly.`;
      $("framed").hidden = false;
      $("guide").hidden = true;
      $("desk").hidden = true;
      root.dataset.ready = "error";
      host.settleReady.reject(new Error($("framed").textContent));
      return;
    }
    const serial = !!navigator.serial;
    if (!serial) {
      // Browsers keep Web Serial from pages served over plain HTTP elsewhere
      // than this machine.
      if (!window.isSecureContext)
        $("no-serial").textContent = "This page reaches serial ports only when served over " +
            "HTTPS or from this computer (localhost). \"Try it without an adapter\" works here too.";
      $("no-serial").hidden = false;
      $("main-request").disabled = true;
    }
    const image = host.early.image.then(r => {
      if (!r.ok) throw new Error(`The firmware image beside this page could not be loaded (HTTP ${r.status}).`);
      return r.arrayBuffer();
    }, () => { throw new Error("The firmware image beside this page could not be loaded."); });
    image.catch(() => {});
    try {
      module = await startProgram();
    } catch (e) {
      fail(`The page's program could not start: ${e && e.message ? e.message : e}`);
      return;
    }
    texts = JSON.parse(module.ccall("web_templates", "string", [], []));
    layout();
    wire();
    fitAll();
    let bytes;
    try {
      bytes = new Uint8Array(await image);
    } catch (e) {
      fail(e.message);
      return;
    }
    const problem = module.ccall("web_take_page_image", "string", ["array", "number"],
                                 [bytes, bytes.length]);
    if (problem) {
      fail(problem);
      return;
    }
    imageVersion = module.ccall("web_image_version", "string", [], []);
    document.title = `${texts.dialogs.main.title}: ${imageVersion}`;
    $("main").querySelector(".title-text").textContent = document.title;
    imageStatus();
    const query = new URLSearchParams(location.search);
    if (query.has("trace")) await module.ccall("web_trace", "number", ["number"], [1], { async: true });
    const kept = keptSim();
    if (kept) {
      $("sim-version").value = kept.version;
      $("sim-blank").checked = kept.blank;
      $("sim-address").value = kept.address;
      await startSim(kept.version, kept.blank, kept.address, kept.flash);
    } else if (query.has("sim")) {
      $("sim-version").value = query.get("sim-version") || $("sim-version").value;
      $("sim-blank").checked = query.get("sim-blank") === "1";
      $("sim-address").value = query.get("sim-address") || $("sim-address").value;
      await startSim($("sim-version").value, $("sim-blank").checked, $("sim-address").value);
    }
    await showResume();
    root.dataset.ready = "yes";
    performance.mark("brivelton-ready");
    host.settleReady.resolve({ imageVersion, imageSize: bytes.length, webSerial: serial,
                               readyMs: Math.round(performance.now()) });
    if ("serviceWorker" in navigator && location.protocol !== "file:")
      navigator.serviceWorker.register("sw.js").catch(() => {});
  }

  start();
})();
