// SPDX-License-Identifier: MIT
// A test-only navigator.serial, installed before the page's scripts: one port
// (USB 0403:6001) whose bytes go over a WebSocket to the bridge, one socket
// per open, the baud rate in its address.
function installSerialStandIn(bridgeUrl) {
  class BridgedPort {
    constructor() {
      this.readable = null;
      this.writable = null;
      this.socket = null;
    }

    getInfo() {
      return { usbVendorId: 0x0403, usbProductId: 0x6001 };
    }

    async open(options) {
      if (this.socket) throw new DOMException('The port is already open.', 'InvalidStateError');
      const socket = new WebSocket(`${bridgeUrl}?baud=${options.baudRate}`);
      socket.binaryType = 'arraybuffer';
      this.socket = socket;
      let source;
      let ended = false;
      const end = () => {
        if (ended) return;
        ended = true;
        try { source.close(); } catch { /* cancelled by the page */ }
      };
      this.readable = new ReadableStream({
        start(controller) { source = controller; },
        cancel() { ended = true; },
      });
      this.writable = new WritableStream({
        write(chunk) { socket.send(chunk); },
      });
      this.closed = new Promise((resolve) => {
        socket.addEventListener('close', () => { end(); resolve(); });
      });
      await new Promise((resolve, reject) => {
        socket.addEventListener('message', (event) => {
          if (typeof event.data !== 'string') {
            if (!ended) source.enqueue(new Uint8Array(event.data));
          } else if (event.data === 'opened') {
            resolve();
          } else if (event.data.startsWith('error')) {
            reject(new DOMException(event.data, 'NetworkError'));
          }
        });
        socket.addEventListener('close', () => reject(new DOMException('bridge closed', 'NetworkError')));
      }).catch((e) => {
        this.socket = null;
        throw e;
      });
    }

    // Resolves once the bridge has let go of the terminal, so that a reopen
    // at another speed cannot meet bytes meant for this one.
    async close() {
      if (!this.socket) throw new DOMException('The port is already closed.', 'InvalidStateError');
      const socket = this.socket;
      if (socket.readyState === WebSocket.OPEN) socket.send('close');
      await this.closed;
      this.socket = null;
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
