// SPDX-License-Identifier: MIT
// Carries a page's Web Serial bytes over a WebSocket to a brivelton-sim
// pseudo-terminal. One socket serves a page's port for the page's life; on it
// "open BAUD" opens the terminal at that speed (answered "opened"), and
// "close" closes it before the bridge answers "closed", so that a later open
// at another speed meets the adapter as a reopened port would. A socket that
// goes away (a reload) lets go of the terminal.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import tty from 'node:tty';
import { once } from 'node:events';
import readline from 'node:readline';
import { WebSocketServer } from 'ws';

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

// Sets a terminal's speed, one Python process for the bridge's life: an
// `stty` for every open would cost a process start each time, which is no part
// of opening a port.
const speedScript = `
import os, sys, termios
print("ready", flush=True)
for line in sys.stdin:
    path, baud = line.split()
    try:
        fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        try:
            tio = termios.tcgetattr(fd)
            tio[4] = tio[5] = getattr(termios, "B" + baud)
            termios.tcsetattr(fd, termios.TCSANOW, tio)
        finally:
            os.close(fd)
        print("ok", flush=True)
    except Exception as e:
        print("error", e, flush=True)
`;

class SpeedSetter {
  constructor() {
    this.proc = spawn('python3', ['-c', speedScript], { stdio: ['pipe', 'pipe', 'inherit'] });
    this.answers = [];
    // Its first line says it has started: the bridge is ready from then on.
    this.ready = new Promise((resolve) => { this.answers.push(resolve); });
    readline.createInterface({ input: this.proc.stdout }).on('line', (l) => this.answers.shift()?.(l));
    const ended = () => { for (const a of this.answers.splice(0)) a('error python3 ended'); };
    this.proc.on('exit', ended);
    this.proc.on('error', ended);
  }

  set(path, baud) {
    if (!Number.isInteger(baud) || baud <= 0) return Promise.reject(new Error(`no speed ${baud}`));
    return new Promise((resolve, reject) => {
      this.answers.push((answer) => (answer === 'ok' ? resolve() : reject(new Error(`${path} at ${baud}: ${answer}`))));
      this.proc.stdin.write(`${path} ${baud}\n`);
    });
  }

  close() { this.proc.stdin.end(); }
}

// One open of the terminal at `baud`: bytes from it go to `onData`.
class Line {
  constructor(path, baud, onData) {
    this.path = path;
    this.baud = baud;
    this.onData = onData;
    this.writes = Promise.resolve();
  }

  // The speed is set once the line is ours: the simulator then sees one
  // holder from open to close.
  async open(speeds) {
    const flags = fs.constants.O_RDWR | fs.constants.O_NOCTTY;
    this.writeFd = fs.openSync(this.path, flags | fs.constants.O_NONBLOCK);
    this.reader = new tty.ReadStream(fs.openSync(this.path, flags));
    this.reader.on('data', (d) => this.onData(d));
    this.reader.on('error', () => {});
    try {
      await speeds.set(this.path, this.baud);
    } catch (e) {
      await this.close();
      throw e;
    }
  }

  // In order, and never blocking the bridge on a full terminal.
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

// At once while the terminal takes the bytes (it nearly always does: the page
// waits for each reply), a moment later where it is full.
async function writeAll(fd, bytes) {
  let done = 0;
  while (done < bytes.length) {
    try {
      done += fs.writeSync(fd, bytes, done, bytes.length - done);
    } catch (e) {
      if (e.code !== 'EAGAIN') throw e;
      await new Promise((resolve) => { setTimeout(resolve, 1); });
    }
  }
}

// The bridge: `target` is the terminal the next open reaches. `opens` records
// every open as { baud, bytesToAdapter, bytesFromAdapter, closed }.
export class Bridge {
  constructor() {
    this.target = null;
    this.opens = [];
    this.listeners = new Set();
  }

  async listen() {
    this.speeds = new SpeedSetter();
    if (await this.speeds.ready !== 'ready') throw new Error('python3 could not set terminal speeds');
    this.server = new WebSocketServer({ host: '127.0.0.1', port: 0 });
    await once(this.server, 'listening');
    this.server.on('connection', (ws) => this.serve(ws));
    this.url = `ws://127.0.0.1:${this.server.address().port}/`;
    return this.url;
  }

  serve(ws) {
    let line = null;
    let record = null;
    // One message at a time: an open is done before the bytes after it.
    let queue = Promise.resolve();
    const closeLine = async () => {
      if (!line) return;
      const closing = line;
      line = null;
      await closing.close();
      record.closed = true;
    };
    const open = async (baud) => {
      if (line) throw new Error('the port is already open');
      if (!this.target) throw new Error('no simulator attached to the bridge');
      const opening = { baud, bytesToAdapter: 0, bytesFromAdapter: 0, closed: false };
      const l = new Line(this.target, baud, (d) => {
        opening.bytesFromAdapter += d.length;
        ws.send(d);
      });
      await l.open(this.speeds);
      line = l;
      record = opening;
      this.opens.push(record);
    };
    const handle = async (data, isBinary) => {
      if (isBinary) {
        if (!line) return;
        record.bytesToAdapter += data.length;
        for (const l of this.listeners) l(record);
        line.write(data).catch(() => {});
        return;
      }
      const [word, arg] = String(data).split(' ');
      if (word === 'open') {
        try {
          await open(Number(arg));
          ws.send('opened');
        } catch (e) {
          ws.send(`error ${e.message}`);
        }
      } else if (word === 'close') {
        await closeLine();
        ws.send('closed');
      }
    };
    ws.on('message', (data, isBinary) => {
      queue = queue.then(() => handle(data, isBinary)).catch(() => {});
    });
    // A page that goes away (a reload) lets go of the port without asking.
    ws.on('close', () => { queue = queue.then(closeLine).catch(() => {}); });
  }

  // Calls `fn(record)` after every write the page makes.
  onWrite(fn) {
    this.listeners.add(fn);
    return () => this.listeners.delete(fn);
  }

  async close() {
    for (const ws of this.server.clients) ws.terminate();
    this.server.close();
    this.speeds.close();
  }
}
