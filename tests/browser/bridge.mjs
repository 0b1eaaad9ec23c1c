// SPDX-License-Identifier: MIT
// Carries a page's Web Serial bytes over a WebSocket to a brivelton-sim
// pseudo-terminal. Each WebSocket is one open of the port: the terminal is
// opened at the baud rate in its address (?baud=N), and closed, on the page's
// "close" message, before the bridge answers "closed"; a later open at another
// speed meets the adapter as a reopened port would.
import { spawn, execFile } from 'node:child_process';
import fs from 'node:fs';
import tty from 'node:tty';
import { once } from 'node:events';
import { promisify } from 'node:util';
import { WebSocketServer } from 'ws';

const run = promisify(execFile);

// brivelton-sim for one test: `start` resolves once its terminal is there.
export class Sim {
  constructor(program, args) {
    this.program = program;
    this.args = args;
    this.stderr = '';
  }

  async start() {
    this.proc = spawn(this.program, this.args, { stdio: ['ignore', 'pipe', 'pipe'] });
    this.proc.stderr.on('data', (d) => { this.stderr += d; });
    this.exited = once(this.proc, 'exit');
    let out = '';
    for await (const chunk of this.proc.stdout) {
      out += chunk;
      const nl = out.indexOf('\n');
      if (nl >= 0) {
        this.path = out.slice(0, nl);
        // Keep draining: a full pipe would stop the simulator.
        this.proc.stdout.resume();
        return this.path;
      }
    }
    throw new Error(`brivelton-sim ${this.args.join(' ')} printed no terminal: ${this.stderr}`);
  }

  // SIGTERM: the simulator writes its dumps on the way out.
  async stop() {
    if (this.proc.exitCode === null && this.proc.signalCode === null) this.proc.kill('SIGTERM');
    const [code] = await this.exited;
    return code;
  }
}

// One open of the terminal at `baud`: bytes from it go to `onData`.
class Line {
  constructor(path, baud, onData) {
    this.path = path;
    this.baud = baud;
    this.onData = onData;
    this.writes = Promise.resolve();
  }

  async open() {
    // The simulator holds the line raw; only the speed is ours to set.
    await run('stty', ['-F', this.path, String(this.baud)]);
    const flags = fs.constants.O_RDWR | fs.constants.O_NOCTTY;
    this.writeFd = fs.openSync(this.path, flags);
    this.reader = new tty.ReadStream(fs.openSync(this.path, flags));
    this.reader.on('data', (d) => this.onData(d));
    this.reader.on('error', () => {});
  }

  // In order, off the event loop: a full terminal blocks a worker, not the bridge.
  write(bytes) {
    this.writes = this.writes.then(() => writeAll(this.writeFd, bytes));
    return this.writes;
  }

  async close() {
    await this.writes.catch(() => {});
    this.reader.destroy();
    await once(this.reader, 'close');
    fs.closeSync(this.writeFd);
  }
}

async function writeAll(fd, bytes) {
  let done = 0;
  while (done < bytes.length) {
    const { bytesWritten } = await promisify(fs.write)(fd, bytes, done, bytes.length - done);
    done += bytesWritten;
  }
}

// The bridge: `target` is the terminal the next open reaches. `opens` records
// every open as { baud, bytesToAdapter, bytesFromAdapter }.
export class Bridge {
  constructor() {
    this.target = null;
    this.opens = [];
    this.listeners = new Set();
  }

  async listen() {
    this.server = new WebSocketServer({ host: '127.0.0.1', port: 0 });
    await once(this.server, 'listening');
    this.server.on('connection', (ws, req) => this.serve(ws, req));
    this.url = `ws://127.0.0.1:${this.server.address().port}/`;
    return this.url;
  }

  serve(ws, req) {
    const baud = Number(new URL(req.url, this.url).searchParams.get('baud'));
    const record = { baud, bytesToAdapter: 0, bytesFromAdapter: 0, closed: false };
    let line = null;
    let closing = null;
    const closeLine = () => {
      closing ??= (line ? line.close() : Promise.resolve()).then(() => { record.closed = true; });
      return closing;
    };
    const opened = (async () => {
      if (!this.target) throw new Error('no simulator attached to the bridge');
      line = new Line(this.target, baud, (d) => {
        record.bytesFromAdapter += d.length;
        ws.send(d);
      });
      await line.open();
      this.opens.push(record);
      ws.send('opened');
    })().catch((e) => {
      ws.send(`error ${e.message}`);
      ws.close();
    });
    ws.on('message', async (data, isBinary) => {
      await opened;
      if (isBinary) {
        record.bytesToAdapter += data.length;
        for (const l of this.listeners) l(record);
        line.write(data).catch(() => {});
      } else if (String(data) === 'close') {
        await closeLine();
        ws.send('closed');
        ws.close();
      }
    });
    // A page that goes away (a reload) lets go of the port without asking.
    ws.on('close', () => { opened.then(closeLine); });
  }

  // Calls `fn(record)` after every write the page makes.
  onWrite(fn) {
    this.listeners.add(fn);
    return () => this.listeners.delete(fn);
  }

  async close() {
    for (const ws of this.server.clients) ws.terminate();
    this.server.close();
  }
}
