#!/usr/bin/env node
// chromium_driver.mjs: the benchmark runs of quillo-bench-host, made with Debian's headless
// Chromium. Chromium is started with a fresh profile and driven over the DevTools protocol on
// --remote-debugging-pipe (fd 3 carries commands to it, fd 4 its answers, each message JSON
// ended by a NUL byte). Frames reach this host through Page.startScreencast as PNG pictures,
// each acknowledged with Page.screencastFrameAck; the host decodes a picture only to look at
// the probe pixel. No dependencies beyond Node itself.
//
//   node chromium_driver.mjs WORKLOAD --url URL [options]   (see bench_common.h)
//
// Environment: QUILLO_BENCH_CHROMIUM (the browser binary), QUILLO_BENCH_PROCTREE (the
// quillo-bench-proctree program, for the idle workload).
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';

import { Devtools } from './devtools_pipe.mjs';

const CHROMIUM = process.env.QUILLO_BENCH_CHROMIUM || '/usr/lib/chromium/chromium';
const PROCTREE = process.env.QUILLO_BENCH_PROCTREE || 'quillo-bench-proctree';
const LOAD_TIMEOUT_MS = 30000;
const CLICK_TIMEOUT_MS = 3000;
const CLICK_SETTLE_MS = 300;
const CLICK_GAP_MS = 150;
const IDLE_SETTLE_MS = 1000;
const CLOSE_TIMEOUT_MS = 5000;
const RUN_TIMEOUT_MS = 120000;
const COLOUR_TOLERANCE = 6;

const nowNs = () => process.hrtime.bigint(); // CLOCK_MONOTONIC, as in the C++ programs
const msSince = (t) => Number(nowNs() - t) / 1e6;
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function parseArgs(argv) {
  const args = {
    workload: argv[0], url: '', width: 1280, height: 720, probe: [640, 360],
    colour: [0, 0, 0], colour2: [0, 0, 0], trials: 20, warmup: 2, window: 5,
  };
  const rgb = (hex) => {
    const m = /^#?([0-9a-f]{6})$/i.exec(hex);
    if (!m) throw new Error(`bad colour ${hex}`);
    const v = parseInt(m[1], 16);
    return [v >> 16, (v >> 8) & 0xff, v & 0xff];
  };
  if (!['first_frame', 'animation', 'click', 'idle'].includes(args.workload))
    throw new Error(`unknown workload '${args.workload}'`);
  for (let i = 1; i < argv.length; i += 2) {
    const [option, value] = [argv[i], argv[i + 1]];
    if (value === undefined) throw new Error(`${option} needs a value`);
    if (option === '--url') args.url = value;
    else if (option === '--probe') args.probe = value.split(',').map(Number);
    else if (option === '--colour') args.colour = rgb(value);
    else if (option === '--colour2') args.colour2 = rgb(value);
    else if (option === '--trials') args.trials = Number(value);
    else if (option === '--warmup') args.warmup = Number(value);
    else if (option === '--window') args.window = Number(value);
    else if (option === '--calls') { /* the poll workload has no Chromium counterpart */ }
    else throw new Error(`bad option ${option}`);
  }
  if (!args.url) throw new Error('--url is required');
  return args;
}

// ---- PNG: just enough to read one pixel of Chromium's screencast pictures -----------------

// Returns the [r, g, b] of pixel (x, y) of an 8-bit, non-interlaced PNG; rows are unfiltered
// only down to y.
function pngPixel(png, x, y) {
  let pos = 8;
  let width = 0, height = 0, channels = 0;
  const idat = [];
  while (pos + 8 <= png.length) {
    const length = png.readUInt32BE(pos);
    const type = png.toString('latin1', pos + 4, pos + 8);
    const data = png.subarray(pos + 8, pos + 8 + length);
    if (type === 'IHDR') {
      width = data.readUInt32BE(0);
      height = data.readUInt32BE(4);
      channels = { 0: 1, 2: 3, 4: 2, 6: 4 }[data[9]];
      if (data[8] !== 8 || data[12] !== 0 || !channels) throw new Error('unsupported PNG');
    } else if (type === 'IDAT') {
      idat.push(data);
    } else if (type === 'IEND') {
      break;
    }
    pos += 12 + length;
  }
  if (x < 0 || y < 0 || x >= width || y >= height) return null;
  const raw = zlib.inflateSync(Buffer.concat(idat));
  const stride = width * channels;
  let previous = new Uint8Array(stride);
  let row = new Uint8Array(stride);
  for (let r = 0; r <= y; r++) {
    const filter = raw[r * (stride + 1)];
    const line = raw.subarray(r * (stride + 1) + 1, (r + 1) * (stride + 1));
    for (let i = 0; i < stride; i++) {
      const left = i >= channels ? row[i - channels] : 0;
      const up = previous[i];
      const upLeft = i >= channels ? previous[i - channels] : 0;
      let predictor = 0;
      if (filter === 1) predictor = left;
      else if (filter === 2) predictor = up;
      else if (filter === 3) predictor = (left + up) >> 1;
      else if (filter === 4) {
        const p = left + up - upLeft;
        const pa = Math.abs(p - left), pb = Math.abs(p - up), pc = Math.abs(p - upLeft);
        predictor = pa <= pb && pa <= pc ? left : pb <= pc ? up : upLeft;
      }
      row[i] = (line[i] + predictor) & 0xff;
    }
    [previous, row] = [row, previous];
  }
  const at = x * channels;
  return channels >= 3 ? [previous[at], previous[at + 1], previous[at + 2]]
                       : [previous[at], previous[at], previous[at]];
}

const near = (pixel, want) =>
  pixel !== null && pixel.every((c, i) => Math.abs(c - want[i]) <= COLOUR_TOLERANCE);

// Resolves when check() holds, polling at a millisecond; rejects with why() after timeoutMs.
async function until(check, timeoutMs, why) {
  const deadline = Date.now() + timeoutMs;
  while (!check()) {
    if (Date.now() > deadline) throw new Error(why());
    await sleep(1);
  }
}

class Browser {
  constructor(args) {
    this.args = args;
    this.frames = 0; // screencast frames received
    this.latest = null; // the newest frame's PNG bytes and when it arrived
    this.onFrame = null;
  }

  async start() {
    this.profile = fs.mkdtempSync(path.join(os.tmpdir(), 'quillo-bench-chromium-'));
    const flags = [
      '--headless=new', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      `--user-data-dir=${this.profile}`, '--remote-debugging-pipe',
      `--window-size=${this.args.width},${this.args.height}`, this.args.url,
    ];
    this.startNs = nowNs();
    this.child = spawn(CHROMIUM, flags, { stdio: ['ignore', 'ignore', 'inherit', 'pipe', 'pipe'] });
    this.exited = new Promise((resolve) => this.child.on('exit', resolve));
    this.child.on('error', (error) => { this.failure = `cannot start ${CHROMIUM}: ${error.message}`; });
    this.devtools = new Devtools(this.child.stdio[3], this.child.stdio[4]);

    // The page target Chromium opened for the URL on its command line.
    const pageTarget = new Promise((resolve) => {
      this.devtools.on('Target.targetCreated', ({ targetInfo }) => {
        if (targetInfo.type === 'page') resolve(targetInfo.targetId);
      });
    });
    await this.devtools.send('Target.setDiscoverTargets', { discover: true });
    const targetId = await pageTarget;
    const { sessionId } = await this.devtools.send('Target.attachToTarget',
                                                   { targetId, flatten: true });
    this.session = sessionId;
    this.devtools.on('Page.screencastFrame', (params, frameSession) => {
      this.devtools.send('Page.screencastFrameAck', { sessionId: params.sessionId }, frameSession)
        .catch(() => {});
      this.frames++;
      this.latest = { data: params.data, metadata: params.metadata, at: nowNs() };
      if (!this.frameSize) {
        // The picture's own size, from its PNG header, to show the view is what was asked.
        const header = Buffer.from(params.data.slice(0, 32), 'base64');
        this.frameSize = `${header.readUInt32BE(16)}x${header.readUInt32BE(20)}`;
      }
      if (this.onFrame) this.onFrame(this.latest);
    });
    // Headless Chromium's window has room for browser controls; the page itself gets the
    // size the other systems' views have.
    await this.page('Emulation.setDeviceMetricsOverride', {
      width: this.args.width, height: this.args.height, deviceScaleFactor: 1, mobile: false,
    });
    await this.page('Page.enable');
    await this.page('Page.startScreencast', {
      format: 'png', everyNthFrame: 1, maxWidth: this.args.width, maxHeight: this.args.height,
    });
  }

  page(method, params = {}) {
    return this.devtools.send(method, params, this.session);
  }

  // The probe pixel of a frame; null for a picture of another size than the view's, which
  // does not count as showing the page.
  probe(frame) {
    const png = Buffer.from(frame.data, 'base64');
    if (png.readUInt32BE(16) !== this.args.width || png.readUInt32BE(20) !== this.args.height)
      return null;
    return pngPixel(png, this.args.probe[0], this.args.probe[1]);
  }

  // Resolves with the time the first frame after `since` whose probe shows colour arrived.
  waitForColour(colour, sinceNs, timeoutMs) {
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        this.onFrame = null;
        reject(new Error(`no frame showed the colour within ${timeoutMs} ms ` +
                         `(${this.frames} frames arrived)`));
      }, timeoutMs);
      const check = (frame) => {
        if (frame.at < sinceNs || !near(this.probe(frame), colour)) return false;
        clearTimeout(timer);
        this.onFrame = null;
        resolve(nowNs());
        return true;
      };
      if (this.latest && check(this.latest)) return;
      this.onFrame = check;
    });
  }

  async stop(result) {
    const start = nowNs();
    this.onFrame = null;
    try {
      await Promise.race([this.devtools.send('Browser.close'), sleep(CLOSE_TIMEOUT_MS)]);
    } catch { /* the browser went away first */ }
    const exited = await Promise.race([this.exited.then(() => true), sleep(CLOSE_TIMEOUT_MS)]);
    if (!exited) {
      this.child.kill('SIGKILL');
      await this.exited;
    }
    if (result) result.shutdown_ms = msSince(start);
    fs.rmSync(this.profile, { recursive: true, force: true });
  }
}

function treeUsage(pid) {
  return JSON.parse(execFileSync(PROCTREE, [String(pid)], { encoding: 'utf8' }));
}

const median = (values) => {
  const s = [...values].sort((a, b) => a - b);
  const n = s.length;
  return n === 0 ? null : n % 2 ? s[(n - 1) / 2] : (s[n / 2 - 1] + s[n / 2]) / 2;
};
const percentile = (values, p) => {
  const s = [...values].sort((a, b) => a - b);
  return s.length === 0 ? null : s[Math.min(Math.max(Math.ceil(p * s.length), 1), s.length) - 1];
};

// ---- the workloads -------------------------------------------------------------------------

const workloads = {
  async first_frame(browser, args, result) {
    await browser.waitForColour(args.colour, 0n, LOAD_TIMEOUT_MS);
    result.first_frame_ms = msSince(browser.startNs);
    result.frames = browser.frames;
  },

  async animation(browser, args, result) {
    await until(() => browser.frames > 0, LOAD_TIMEOUT_MS, () => 'no frame arrived');
    await sleep(args.warmup * 1000);
    const before = browser.frames;
    const start = nowNs();
    await sleep(args.window * 1000);
    result.fps = (browser.frames - before) / (Number(nowNs() - start) / 1e9);
    result.frames = browser.frames;
  },

  async click(browser, args, result) {
    await browser.waitForColour(args.colour, 0n, LOAD_TIMEOUT_MS);
    const [x, y] = args.probe;
    await browser.page('Input.dispatchMouseEvent', { type: 'mouseMoved', x, y });
    await sleep(CLICK_SETTLE_MS);
    const latencies = [];
    let missed = 0;
    for (let trial = 0; trial < args.trials; trial++) {
      // Each mousedown swaps the page between its two colours: expect the one not showing now.
      const showing = near(browser.probe(browser.latest), args.colour);
      const want = showing ? args.colour2 : args.colour;
      const sent = nowNs();
      const press = { x, y, button: 'left', buttons: 1, clickCount: 1 };
      // Both are sent at once, as quillo's host sends its two InputWeb calls.
      const down = browser.page('Input.dispatchMouseEvent', { type: 'mousePressed', ...press });
      const up = browser.page('Input.dispatchMouseEvent',
                              { type: 'mouseReleased', ...press, buttons: 0 });
      Promise.all([down, up]).catch(() => {});
      try {
        const seen = await browser.waitForColour(want, sent, CLICK_TIMEOUT_MS);
        latencies.push(Number(seen - sent) / 1e6);
      } catch {
        missed++;
      }
      await sleep(CLICK_GAP_MS);
    }
    result.click_ms_samples = latencies;
    result.click_missed = missed;
    result.click_median_ms = median(latencies);
    result.click_p90_ms = percentile(latencies, 0.9);
  },

  async idle(browser, args, result) {
    await browser.waitForColour(args.colour, 0n, LOAD_TIMEOUT_MS);
    await sleep(IDLE_SETTLE_MS);
    const before = treeUsage(browser.child.pid);
    const start = nowNs();
    await sleep(args.window * 1000);
    const seconds = Number(nowNs() - start) / 1e9;
    const after = treeUsage(browser.child.pid);
    result.idle_cpu_s = ((after.cpu_s - before.cpu_s) * args.window) / seconds;
    result.peak_rss_mib = after.peak_rss_mib;
    result.rss_mib = after.rss_mib;
    result.processes = after.processes;
  },
};

async function main() {
  let args;
  try {
    args = parseArgs(process.argv.slice(2));
  } catch (error) {
    process.stderr.write(`${error.message}\nusage: chromium_driver.mjs WORKLOAD --url URL ...\n`);
    process.exit(2);
  }
  const result = { system: 'chromium', workload: args.workload };
  const browser = new Browser(args);
  let code = 0;
  try {
    let watchdog;
    const expired = new Promise((resolve, reject) => {
      watchdog = setTimeout(() => reject(new Error('the run took too long')), RUN_TIMEOUT_MS);
    });
    await Promise.race([(async () => {
      await browser.start();
      await workloads[args.workload](browser, args, result);
    })(), expired]);
    clearTimeout(watchdog);
    result.ok = true;
  } catch (error) {
    result.ok = false;
    result.error = browser.failure || error.message;
    process.stderr.write(`bench: ${result.error}\n`);
    code = 1;
  }
  if (browser.frameSize) result.frame_size = browser.frameSize;
  await browser.stop(result);
  process.stdout.write(`BENCH_RESULT ${JSON.stringify(result)}\n`);
  process.exit(code);
}

main();
