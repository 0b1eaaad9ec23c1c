// SPDX-License-Identifier: MIT
// What the page's WebAssembly awaits of the browser: the Web Serial ports,
// IndexedDB, and the ready promise tests wait on (made first, before any
// other script of the page runs).
"use strict";

(() => {
  let settle;
  const ready = new Promise((resolve, reject) => { settle = { resolve, reject }; });
  ready.catch(() => {});  // the page shows the reason itself
  Object.defineProperty(window, "briveltonReady", { value: ready });

  // Chrome's errors of a port that stay with the read they hit: the port
  // gives a fresh stream after them.
  const kPassingReadErrors = new Set(["BreakError", "FramingError", "ParityError",
                                      "BufferOverrunError"]);
  const hex4 = n => n.toString(16).padStart(4, "0");

  // The names the log shows: "USB 0403:6001", numbered in list order when
  // several share one.
  function portNames(ports) {
    const bases = ports.map(port => {
      let info = {};
      try { info = port.getInfo() || {}; } catch (e) { info = {}; }
      return Number.isInteger(info.usbVendorId) && Number.isInteger(info.usbProductId)
          ? `USB ${hex4(info.usbVendorId)}:${hex4(info.usbProductId)}` : "Serial port";
    });
    const total = new Map(), seen = new Map();
    for (const b of bases) total.set(b, (total.get(b) || 0) + 1);
    return bases.map(b => {
      if (total.get(b) === 1) return b;
      seen.set(b, (seen.get(b) || 0) + 1);
      return `${b} #${seen.get(b)}`;
    });
  }

  function openErrorCode(e) {
    switch (e && e.name) {
      case "NotFoundError": return -1;
      case "InvalidStateError": case "NetworkError": return -2;
      case "SecurityError": case "NotAllowedError": return -3;
      default: return -4;
    }
  }

  // The program and the image are asked for at once, while the rest of the
  // page is still loading: they are most of the wait before it is ready.
  const early = (url, init) => {
    const response = fetch(url, init);
    response.catch(() => {});  // page.js awaits it and says what failed
    return response;
  };

  // Timers from a worker (timers.js): a hidden tab's own are held to about one
  // a second, which would stretch a flash's hundreds of waits tenfold. The
  // page's own timers stand in where no worker starts.
  const timers = { worker: null, next: 1, due: new Map() };
  try {
    timers.worker = new Worker("timers.js");
    timers.worker.onmessage = ({ data: id }) => {
      const due = timers.due.get(id);
      timers.due.delete(id);
      if (due) due.fire();
    };
    // A worker that did not start: what it was asked to time, the page times.
    timers.worker.onerror = () => {
      timers.worker = null;
      for (const { fire, ms } of timers.due.values()) setTimeout(fire, ms);
      timers.due.clear();
    };
  } catch (e) {
    timers.worker = null;
  }
  // Calls `fire` after `ms`; returns what cancels it.
  function after(ms, fire) {
    if (!timers.worker) {
      const t = setTimeout(fire, ms);
      return () => clearTimeout(t);
    }
    const id = timers.next++;
    timers.due.set(id, { fire, ms });
    timers.worker.postMessage([id, Math.max(0, ms)]);
    return () => {
      if (timers.due.delete(id)) timers.worker.postMessage([id, -1]);
    };
  }

  const host = {
    settleReady: settle,
    after,
    sleep: ms => new Promise(resolve => { after(ms, resolve); }),
    early: {
      wasm: early("brivelton.wasm", { credentials: "same-origin" }),
      image: early("firmware.bin", { cache: "no-cache" }),
    },
    listed: [],      // [{ name, port }] of the last listing
    conns: new Map(),
    nextHandle: 1,
    db: null,        // the promise of the open database

    async listPorts() {
      const serial = navigator.serial;
      let ports = [];
      if (serial) {
        try { ports = Array.from(await serial.getPorts()); } catch (e) { ports = []; }
      }
      // By name, so that the order holds from one visit to the next; ports
      // that share a name keep the browser's order, which numbers them.
      const named = ports.map((port, i) => ({ base: portNames([port])[0], port, i }));
      named.sort((a, b) => (a.base < b.base ? -1 : a.base > b.base ? 1 : a.i - b.i));
      const names = portNames(named.map(p => p.port));
      this.listed = named.map((p, i) => ({ name: names[i], port: p.port }));
      return names.join("\n");
    },

    portDetails(name) {
      const found = this.listed.find(p => p.name === name);
      if (!found) return "";
      let info = {};
      try { info = found.port.getInfo() || {}; } catch (e) { info = {}; }
      if (!Number.isInteger(info.usbVendorId) || !Number.isInteger(info.usbProductId)) return "";
      return `usb=${hex4(info.usbVendorId)}:${hex4(info.usbProductId)}`;
    },

    async openPort(port, baud) {
      await port.open({ baudRate: baud, dataBits: 8, stopBits: 1, parity: "none",
                        flowControl: "none", bufferSize: 65536 });
    },

    // A handle (> 0), or -1 not found, -2 busy, -3 no permission, -4 other.
    async open(name, baud) {
      const found = this.listed.find(p => p.name === name);
      if (!found) return -1;
      try {
        await this.openPort(found.port, baud);
      } catch (e) {
        return openErrorCode(e);
      }
      const handle = this.nextHandle++;
      this.conns.set(handle, { port: found.port, reader: null, pending: null, chunks: [],
                               dead: false, closing: false });
      return handle;
    },

    startRead(c) {
      if (!c.reader) {
        try {
          if (!c.port.readable) { c.dead = true; return; }
          c.reader = c.port.readable.getReader();
        } catch (e) {
          c.dead = true;
          return;
        }
      }
      const reader = c.reader;
      c.pending = reader.read().then(({ value, done }) => {
        c.pending = null;
        if (value && value.length) c.chunks.push(value);
        if (done) {
          try { reader.releaseLock(); } catch (e) { /* released */ }
          if (c.reader === reader) c.reader = null;
          if (!c.closing) c.dead = true;
        }
      }, e => {
        c.pending = null;
        try { reader.releaseLock(); } catch (e2) { /* released */ }
        if (c.reader === reader) c.reader = null;
        if (!c.closing && !kPassingReadErrors.has(e && e.name)) c.dead = true;
      });
    },

    take(handle, max) {
      const c = this.conns.get(handle);
      if (!c || !c.chunks.length) return new Uint8Array(0);
      const out = new Uint8Array(Math.min(max, c.chunks.reduce((n, b) => n + b.length, 0)));
      let at = 0;
      while (at < out.length) {
        const chunk = c.chunks[0];
        const n = Math.min(chunk.length, out.length - at);
        out.set(chunk.subarray(0, n), at);
        at += n;
        if (n === chunk.length) c.chunks.shift();
        else c.chunks[0] = chunk.subarray(n);
      }
      return out;
    },

    // 1 when bytes are waiting, 0 when `ms` passed first (-1: no limit),
    // -1 when the port is gone. A read still pending stays for the next call.
    async wait(handle, ms) {
      const c = this.conns.get(handle);
      if (!c || c.dead) return -1;
      if (c.chunks.length) return 1;
      if (!c.pending) this.startRead(c);
      if (c.pending) {
        let cancel = null;
        const waits = [c.pending];
        if (ms >= 0) waits.push(new Promise(resolve => { cancel = after(ms, resolve); }));
        await Promise.race(waits);
        if (cancel) cancel();
      }
      if (c.chunks.length) return 1;
      return c.dead ? -1 : 0;
    },

    // Bytes written (0 when `ms` passed first), or -1 when the port is gone.
    async write(handle, bytes, ms) {
      const c = this.conns.get(handle);
      if (!c || c.dead || !c.port.writable) return -1;
      let writer;
      try {
        writer = c.port.writable.getWriter();
      } catch (e) {
        return -1;
      }
      try {
        const written = writer.write(bytes).then(() => bytes.length);
        if (ms < 0) return await written;
        let cancel = null;
        const late = new Promise(resolve => { cancel = after(ms, () => resolve(0)); });
        const n = await Promise.race([written, late]);
        cancel();
        written.catch(() => {});
        return n;
      } catch (e) {
        c.dead = true;
        return -1;
      } finally {
        try { writer.releaseLock(); } catch (e) { /* released */ }
      }
    },

    purge(handle) {
      const c = this.conns.get(handle);
      if (!c || c.dead) return false;
      c.chunks = [];
      return true;
    },

    async shut(c) {
      c.closing = true;
      if (c.reader) {
        try { await c.reader.cancel(); } catch (e) { /* gone */ }
        try { c.reader.releaseLock(); } catch (e) { /* released */ }
        c.reader = null;
      }
      if (c.pending) { try { await c.pending; } catch (e) { /* settled */ } }
      try { await c.port.close(); } catch (e) { /* closed */ }
    },

    // Another speed: close, then open at it. Bytes already read stay queued.
    async reopen(handle, baud) {
      const c = this.conns.get(handle);
      if (!c || c.dead) return false;
      await this.shut(c);
      try {
        await this.openPort(c.port, baud);
      } catch (e) {
        c.dead = true;
        return false;
      }
      c.closing = false;
      return true;
    },

    async close(handle) {
      const c = this.conns.get(handle);
      if (!c) return;
      this.conns.delete(handle);
      await this.shut(c);
    },

    // IndexedDB: database "brivelton", object store "state", a string per name.
    // One opening for every caller; one that failed is tried again next time.
    database() {
      if (this.db) return this.db;
      if (!window.indexedDB) return Promise.reject(new Error("this browser keeps no storage for the page"));
      this.db = new Promise((resolve, reject) => {
        const request = indexedDB.open("brivelton", 1);
        request.onupgradeneeded = () => request.result.createObjectStore("state");
        request.onsuccess = () => resolve(request.result);
        request.onerror = () => reject(request.error);
        request.onblocked = () => reject(new Error("the storage is held by another tab"));
      });
      this.db.catch(() => { this.db = null; });
      return this.db;
    },

    async transact(mode, work) {
      const db = await this.database();
      return new Promise((resolve, reject) => {
        const tx = db.transaction("state", mode, { durability: "strict" });
        const request = work(tx.objectStore("state"));
        tx.oncomplete = () => resolve(request.result);
        tx.onerror = () => reject(tx.error);
        tx.onabort = () => reject(tx.error || new Error("the write was abandoned"));
      });
    },

    // "" once committed, else why not.
    async storeWrite(name, content) {
      try {
        await this.transact("readwrite", store => store.put(content, name));
        return "";
      } catch (e) {
        return `can't keep it in the browser's storage: ${e && e.message ? e.message : e}`;
      }
    },

    async storeRead(name) {
      try {
        const value = await this.transact("readonly", store => store.get(name));
        return typeof value === "string" ? value : null;
      } catch (e) {
        return null;
      }
    },

    async storeRemove(name) {
      try {
        await this.transact("readwrite", store => store.delete(name));
        return true;
      } catch (e) {
        return false;
      }
    },

    async storeList() {
      try {
        const keys = await this.transact("readonly", store => store.getAllKeys());
        return keys.filter(k => typeof k === "string");
      } catch (e) {
        return [];
      }
    },
  };
  Object.defineProperty(window, "briveltonHost", { value: host });
  // Opened while the program compiles: the page reads the journal before it
  // is ready (an update cut short).
  host.database().catch(() => {});
})();
