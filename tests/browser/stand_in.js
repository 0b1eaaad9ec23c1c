// SPDX-License-Identifier: MIT
// A test-only navigator.serial, installed before the page's scripts: one port
// (USB 0403:6001) whose bytes go over a WebSocket to the bridge. The socket is
// made at the first open and kept: an open ("open BAUD") or a close is a
// message on it, as quick as on a real port.
function installSerialStandIn(bridgeUrl) {
  class BridgedPort {
    constructor() {
      this.readable = null;
      this.writable = null;
      this.socket = null;  // a promise of the open socket
      this.opened = false;
      this.source = null;  // the readable's controller while open
      this.answer = null;  // settles the open or close waiting for the bridge
    }

    getInfo() {
      return { usbVendorId: 0x0403, usbProductId: 0x6001 };
    }

    connect() {
      if (this.socket) return this.socket;
      const socket = new WebSocket(bridgeUrl);
      socket.binaryType = 'arraybuffer';
      this.socket = new Promise((resolve, reject) => {
        socket.addEventListener('open', () => resolve(socket));
        socket.addEventListener('close', () => {
          reject(new DOMException('bridge closed', 'NetworkError'));
          this.socket = null;
          this.lost();
        });
      });
      socket.addEventListener('message', (event) => {
        if (typeof event.data !== 'string') {
          if (this.source) this.source.enqueue(new Uint8Array(event.data));
        } else if (this.answer) {
          const settle = this.answer;
          this.answer = null;
          settle(event.data);
        }
      });
      return this.socket;
    }

    // The bridge's answer to `message`.
    async ask(message) {
      const socket = await this.connect();
      const answer = new Promise((resolve) => { this.answer = resolve; });
      socket.send(message);
      return answer;
    }

    async open(options) {
      if (this.opened) throw new DOMException('The port is already open.', 'InvalidStateError');
      this.opened = true;
      let answer;
      try {
        answer = await this.ask(`open ${options.baudRate}`);
      } catch (e) {
        this.opened = false;
        throw e;
      }
      if (answer !== 'opened') {
        this.opened = false;
        throw new DOMException(answer, 'NetworkError');
      }
      const port = this;
      let source = null;
      this.readable = new ReadableStream({
        start(controller) {
          source = controller;
          port.source = controller;
        },
        cancel() {
          if (port.source === source) port.source = null;
        },
      });
      this.writable = new WritableStream({
        async write(chunk) {
          if (!port.socket) throw new DOMException('bridge closed', 'NetworkError');
          (await port.socket).send(chunk);
        },
      });
    }

    // The socket went away with the port open: the port is gone.
    lost() {
      if (this.answer) {
        const settle = this.answer;
        this.answer = null;
        settle('error bridge closed');
      }
      this.end();
      this.opened = false;
    }

    end() {
      const source = this.source;
      this.source = null;
      try { source?.close(); } catch { /* cancelled by the page */ }
    }

    // Resolves once the bridge has let go of the terminal, so that a reopen
    // at another speed cannot meet bytes meant for this one.
    async close() {
      if (!this.opened) throw new DOMException('The port is already closed.', 'InvalidStateError');
      this.end();
      try { await this.ask('close'); } catch { /* the bridge is gone: so is the line */ }
      this.opened = false;
      this.readable = null;
      this.writable = null;
    }
  }

  const port = new BridgedPort();
  const serial = {
    async getPorts() { return [port]; },
    async requestPort() { return port; },
    addEventListener() {},
    removeEventListener() {},
  };
  Object.defineProperty(navigator, 'serial', { value: serial, configurable: true });
}
