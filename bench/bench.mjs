#!/usr/bin/env node
// bench.mjs: runs quillo, the raw engine and headless Chromium side by side on the same pages
// and prints one table of their figures. ./run bench builds the programs and calls this.
//
//   node bench/bench.mjs --build DIR [--quick] [--busy] [--rounds N] [--out DIR] [--only W1,W2]
//                        [--also LIBDIR[=TITLE] ...]
//
// Each workload runs every system once per round, in turn (quillo, raw, raw at 60 Hz, Chromium,
// quillo, ...), each run a fresh process; the workloads of a group (the views': 1, 4 and 16
// views, the resize storm, the script round trip) take turns within each round, and --only
// takes a group's name too. --busy keeps one core busy with a CPU-bound process
// of its own for the whole run (results go to bench/results-busy unless --out says otherwise).
// --also (repeatable) runs another build of libquillo.so (the folder holding it) as one more
// system beside quillo. Every run prints one "BENCH_RESULT {json}" line; this script keeps
// those as samples, and writes under --out (default bench/results): results.md (the table),
// samples.json (every run's result), bench.png (frame rate and latency, drawn by gnuplot),
// pages/ (the pages shown) and logs/ (each run's standard error).
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const HERE = path.dirname(fileURLToPath(import.meta.url));
const RUN_TIMEOUT_MS = 150000;
const GROUP_GRACE_MS = 5000;
const WIDTH = 1280;
const HEIGHT = 720;
// Between runs the machine should be idle: a pause this long measures whether it is, and a
// median share of busy CPU time above BUSY_MEDIAN (or any above BUSY_MAX) is reported.
// The share is measured just before each run, so it includes the previous run's last helper
// processes still exiting.
const QUIET_PROBE_MS = 300;
const BUSY_MEDIAN = 0.05;
const BUSY_MAX = 0.25;
// How long a run waits for a busy machine to become quiet before it starts anyway.
const QUIET_WAIT_MS = 10000;

// ---- the pages -----------------------------------------------------------------------------

const BOX = '1e90ff'; // the static page's box
const SCROLL_TOP = 'f0a020'; // the scroll page's first 400 pixels
const CLICK_A = '20c040'; // the click page before the first mousedown...
const CLICK_B = 'c02080'; // ...and after it

const head = (title, style) =>
  `<!doctype html><html><head><meta charset="utf-8"><title>${title}</title><style>` +
  `html,body{margin:0;width:100%;height:100%;overflow:hidden}${style}</style></head>`;

const PAGES = {
  'static.html': head('static',
    'body{background:#fff;color:#222;font:18px/1.5 sans-serif}' +
    `#box{position:absolute;left:100px;top:100px;width:200px;height:200px;background:#${BOX}}` +
    '#text{position:absolute;left:340px;top:90px;width:840px}') +
    '<body><div id="box"></div><div id="text"><h1>A static page</h1>' +
    '<p>This page has a heading, a few paragraphs of text and one coloured box. It does not ' +
    'change after it has loaded, so a browser showing it should do no work at all.</p>' +
    '<p>The quick brown fox jumps over the lazy dog. Pack my box with five dozen liquor jugs. ' +
    'How vexingly quick daft zebras jump! Sphinx of black quartz, judge my vow.</p>' +
    '<p><b>Bold</b>, <i>italic</i>, <code>monospace</code> and a <a href="#">link</a>.</p>' +
    '</div></body></html>',
  'animation.html': head('animation',
    'body{background:#fff}' +
    '#box{position:absolute;left:0;top:260px;width:200px;height:200px;background:#e0301e}') +
    '<body><div id="box"></div><script>' +
    'const box = document.getElementById("box");' +
    // 500 pixels a second across the page, whatever the frame rate.
    'function step(t) { box.style.transform = "translateX(" + (t / 2) % 1080 + "px)";' +
    ' requestAnimationFrame(step); }' +
    'requestAnimationFrame(step);</script></body></html>',
  // A long page of text: 1500 paragraphs, a coloured band at the top to tell it has loaded.
  'scroll.html': '<!doctype html><html><head><meta charset="utf-8"><title>scroll</title><style>' +
    'html,body{margin:0}body{background:#fff;color:#222;font:18px/1.5 sans-serif}' +
    `#top{height:400px;background:#${SCROLL_TOP}}` +
    'p{margin:0 40px 12px;padding:8px;border-left:6px solid #4a7ebb;background:#f4f6fa}' +
    '</style></head><body><div id="top"></div><script>' +
    'const words = "The quick brown fox jumps over the lazy dog. Pack my box with five dozen ' +
    'liquor jugs. How vexingly quick daft zebras jump! Sphinx of black quartz, judge my vow.";' +
    'for (let i = 0; i < 1500; i++) { const p = document.createElement("p");' +
    ' p.textContent = i + ": " + words + " " + words; document.body.appendChild(p); }' +
    '</script></body></html>',
  'click.html': head('click', `body{background:#${CLICK_A}}`) +
    '<body><script>let on = false;' +
    'document.addEventListener("mousedown", () => { on = !on;' +
    ` document.body.style.background = on ? "#${CLICK_B}" : "#${CLICK_A}"; });` +
    '</script></body></html>',
};

// ---- workloads and figures -----------------------------------------------------------------

const HOSTS = ['quillo', 'raw', 'raw60']; // the programs that copy frames into host memory
// The views' rows: quillo-bench-views (quillo/views.h) beside quillo-bench-raw-views (WPE
// WebKit driven directly, its web views sharing one web context), both on the 60 Hz grid. Each
// view is 640x360: sixteen of them are as many pixels as four pages at 1280x720, which two
// cores still animate at a rate worth comparing.
const VIEW_SYSTEMS = ['quillo', 'raw60'];
const VIEW_SIZE = '640x360';
const VIEW_COUNTS = [1, 4, 16];
// One frame of the 60 Hz grid, in milliseconds.
const FRAME_MS = 1000 / 60;
const WORKLOADS = [
  { name: 'first_frame', page: 'static.html', args: ['--probe', '200,200', '--colour', BOX],
    systems: ['quillo', 'raw', 'chromium'] },
  // The first frame once more, quillo with its log on to time each stage (raw times its own).
  { name: 'first_frame_stages', page: 'static.html',
    args: ['--probe', '200,200', '--colour', BOX], systems: ['quillo', 'raw'] },
  { name: 'animation', page: 'animation.html', args: ['--warmup', '2', '--window', '5'] },
  { name: 'scroll', page: 'scroll.html',
    args: ['--probe', '640,200', '--colour', SCROLL_TOP, '--window', '5'], systems: HOSTS },
  { name: 'click', page: 'click.html',
    args: ['--probe', '640,360', '--colour', CLICK_A, '--colour2', CLICK_B, '--trials', '20'] },
  { name: 'idle', page: 'static.html',
    args: ['--probe', '200,200', '--colour', BOX, '--window', '10'] },
  { name: 'poll', page: 'animation.html', args: ['--calls', '1000000'], systems: ['quillo', 'raw'] },
  // A host polling at its own pace on the animation; the raw engine acknowledges on that grid.
  ...[60, 30, 15].map((hz) => ({
    name: `paced${hz}`, program: 'paced', page: 'animation.html',
    args: ['--poll-hz', String(hz), '--warmup', '2', '--window', '5'],
    rawArgs: ['--fps', String(hz)], systems: ['quillo', 'raw'] })),
  // The views, all of the group taking turns within each round (1, 4 and 16 views, the resize
  // storm and the script round trip), so that the memory per added view compares runs of one
  // round.
  ...VIEW_COUNTS.map((n) => ({
    name: `views${n}`, program: 'views', views: true, group: 'views', page: 'animation.html',
    args: ['--views', String(n), '--size', VIEW_SIZE, '--warmup', '2', '--window', '5'],
    systems: VIEW_SYSTEMS })),
  { name: 'resize', views: true, group: 'views', page: 'animation.html',
    args: ['--size', VIEW_SIZE, '--warmup', '1', '--window', '5'], systems: VIEW_SYSTEMS },
  { name: 'eval', views: true, group: 'views', page: 'static.html',
    args: ['--size', VIEW_SIZE, '--trials', '50'], systems: VIEW_SYSTEMS },
];

// The targets of the views' rows, judged on the medians: met, missed, or null without figures.
const TARGETS = {
  ratioAtLeast: (least) => ({
    text: `quillo >= ${least}x raw 60 Hz`,
    met: (s) => ratioOf(s.quillo, s.raw60) === null ? null : ratioOf(s.quillo, s.raw60) >= least }),
  ratioAtMost: (most) => ({
    text: `quillo <= ${most}x raw 60 Hz`,
    met: (s) => ratioOf(s.quillo, s.raw60) === null ? null : ratioOf(s.quillo, s.raw60) <= most }),
  rawPlusFrame: () => ({
    text: 'quillo <= raw 60 Hz + 1 frame (16.7 ms)',
    met: (s) => s.quillo.median === null || s.raw60.median === null ? null
      : s.quillo.median <= s.raw60.median + FRAME_MS }),
  atMost: (most, unit) => ({
    text: `quillo <= ${most} ${unit}`,
    met: (s) => s.quillo.median === null ? null : s.quillo.median <= most }),
};

const FIGURES = [
  { key: 'first_frame_ms', workload: 'first_frame', unit: 'ms',
    label: 'first frame: process start to the box in host memory' },
  { key: 'loadweb_returned_ms', workload: 'first_frame_stages', unit: 'ms',
    label: 'first frame stages: LoadWeb returned', systems: ['quillo'] },
  { key: 'engine_initialised_ms', workload: 'first_frame_stages', unit: 'ms',
    label: '  engine initialised', systems: ['quillo', 'raw'] },
  { key: 'view_created_ms', workload: 'first_frame_stages', unit: 'ms',
    label: '  view created', systems: ['quillo', 'raw'] },
  { key: 'first_buffer_ms', workload: 'first_frame_stages', unit: 'ms',
    label: '  first buffer from the engine', systems: ['quillo', 'raw'] },
  { key: 'stages_first_frame_ms', workload: 'first_frame_stages', unit: 'ms',
    label: '  first frame in host memory', systems: ['quillo', 'raw'] },
  { key: 'first_buffer_to_host_ms', workload: 'first_frame_stages', unit: 'ms',
    label: '  the last stage: first buffer to host memory', systems: ['quillo', 'raw'] },
  { key: 'fps', workload: 'animation', unit: 'frames/s', label: 'frame rate, 200x200 rAF box' },
  { key: 'cpu_ms_per_frame', workload: 'animation', unit: 'CPU ms',
    label: 'CPU of the process tree per delivered frame', systems: HOSTS },
  { key: 'copy_kib_per_frame', workload: 'animation', unit: 'KiB',
    label: 'copied into host memory per frame', systems: HOSTS },
  { key: 'scroll_fps', workload: 'scroll', unit: 'frames/s',
    label: 'scroll: long page, a wheel notch per 60th s', systems: HOSTS },
  { key: 'scroll_copy_kib_per_frame', workload: 'scroll', unit: 'KiB',
    label: 'scroll: copied into host memory per frame', systems: HOSTS },
  { key: 'scroll_cpu_ms_per_frame', workload: 'scroll', unit: 'CPU ms',
    label: 'scroll: CPU of the tree per delivered frame', systems: HOSTS },
  { key: 'click_median_ms', workload: 'click', unit: 'ms', label: 'click to pixel, median of 20' },
  { key: 'click_p90_ms', workload: 'click', unit: 'ms', label: 'click to pixel, p90 of 20' },
  ...[['taken', 'input thread took it'], ['dispatched', 'handed to the engine'],
      ['exported', 'frame showing it came from the web process'],
      ['published', 'frame ready for the host (raw: copied into its memory)'],
      ['delivered', 'frame in host memory, notice handed over']].map(([stage, what]) => (
    { key: `click_stage_${stage}_ms`, workload: 'click', unit: 'ms',
      label: `  click stage: ${what}, median since InputWeb`, systems: HOSTS })),
  { key: 'idle_cpu_s', workload: 'idle', unit: 'CPU s',
    label: 'idle: CPU of the process tree over 10 s' },
  { key: 'host_idle_cpu_s', workload: 'idle', unit: 'CPU s',
    label: 'idle: CPU of the host process alone over 10 s', systems: HOSTS },
  { key: 'peak_rss_mib', workload: 'idle', unit: 'MiB',
    label: 'idle: peak resident memory of the tree' },
  { key: 'poll_median_ns', workload: 'poll', unit: 'ns', label: 'one poll call, median of 10^6',
    systems: ['quillo', 'raw'] },
  { key: 'poll_max_us', workload: 'poll', unit: 'µs', label: 'longest poll call',
    systems: ['quillo', 'raw'] },
  ...[60, 30, 15].flatMap((hz) => [
    { id: `paced${hz}_fps`, key: 'paced_fps', workload: `paced${hz}`, unit: 'frames/s',
      label: `host polling at ${hz} Hz: frames delivered`, systems: ['quillo', 'raw'] },
    { id: `paced${hz}_cpu`, key: 'paced_cpu_ms_per_frame', workload: `paced${hz}`,
      unit: 'CPU ms', label: `host polling at ${hz} Hz: CPU of the tree per frame`,
      systems: ['quillo', 'raw'] }]),
  ...VIEW_COUNTS.flatMap((n) => [
    { id: `views${n}_fps`, key: 'views_fps', workload: `views${n}`, unit: 'frames/s',
      label: `${n} view${n > 1 ? 's' : ''} animating at ${VIEW_SIZE}: frames/s per view ` +
             '(median of the views)', systems: VIEW_SYSTEMS,
      ...(n === 4 ? { target: TARGETS.ratioAtLeast(0.95) } : {}) },
    { id: `views${n}_cpu`, key: 'cpu_ms_per_frame', workload: `views${n}`, unit: 'CPU ms',
      label: `  ${n} view${n > 1 ? 's' : ''}: CPU of the tree per frame (all views' frames)`,
      systems: VIEW_SYSTEMS },
    { id: `views${n}_rss`, key: 'rss_mib', workload: `views${n}`, unit: 'MiB',
      label: `  ${n} view${n > 1 ? 's' : ''}: resident memory of the tree (sum of VmRSS)`,
      systems: VIEW_SYSTEMS }]),
  // Per added view: within each round, (the figure with n views - with 1 view) / (n - 1).
  ...VIEW_COUNTS.filter((n) => n > 1).flatMap((n) => [
    { id: `views${n}_rss_per_view`, derive: { key: 'rss_mib', one: 'views1', many: `views${n}`, n },
      workload: `views${n}`, unit: 'MiB',
      label: `resident memory per added view, ${n} views: (RSS ${n} - RSS 1) / ${n - 1}`,
      systems: VIEW_SYSTEMS, target: TARGETS.ratioAtMost(1.05) },
    { id: `views${n}_pss_per_view`, derive: { key: 'pss_mib', one: 'views1', many: `views${n}`, n },
      workload: `views${n}`, unit: 'MiB',
      label: `  the same in proportional set size (shared pages split among their sharers)`,
      systems: VIEW_SYSTEMS }]),
  { key: 'resizes_per_s', workload: 'resize', unit: '1/s',
    label: `resize storm: resizes a second (the next as soon as a frame of the size came)`,
    systems: VIEW_SYSTEMS },
  { key: 'resize_median_ms', workload: 'resize', unit: 'ms',
    label: '  resize call to the first frame at the new size in host memory, median',
    systems: VIEW_SYSTEMS, target: TARGETS.rawPlusFrame() },
  { key: 'resize_p90_ms', workload: 'resize', unit: 'ms', label: '  the same, p90',
    systems: VIEW_SYSTEMS },
  { key: 'eval_median_ms', workload: 'eval', unit: 'ms',
    label: 'script round trip on a still page (call to its result in the host), median of 50',
    systems: VIEW_SYSTEMS, target: TARGETS.atMost(2, 'ms') },
  { key: 'eval_p90_ms', workload: 'eval', unit: 'ms', label: '  the same, p90 of 50',
    systems: VIEW_SYSTEMS },
];
// A figure's own name in the summary (several workloads report the same key).
const figureId = (figure) => figure.id || figure.key;

const SYSTEMS = ['quillo', 'raw', 'raw60', 'chromium'];
const TITLES = { quillo: 'quillo', raw: 'raw WPE', raw60: 'raw WPE 60 Hz', chromium: 'Chromium' };
// --also DIR[=TITLE]: other builds of libquillo.so (their folders), measured as "quillo2",
// "quillo3", ... wherever quillo is, for comparing ways of building the library in one run.
const OTHER_BUILDS = {};  // system -> folder of its libquillo.so

function addOtherBuild(spec) {
  const [dir, title] = spec.split('=');
  const system = `quillo${Object.keys(OTHER_BUILDS).length + 2}`;
  OTHER_BUILDS[system] = path.resolve(dir);
  SYSTEMS.splice(Object.keys(OTHER_BUILDS).length, 0, system);
  TITLES[system] = title || `quillo (${dir})`;
  for (const item of [...WORKLOADS, ...FIGURES])
    if (item.systems && item.systems.includes('quillo')) item.systems = [...item.systems, system];
}

// ---- command line --------------------------------------------------------------------------

function parseArgs(argv) {
  const args = { build: '', out: '', rounds: 0, quick: false, busy: false, only: null,
                 also: [] };
  for (let i = 0; i < argv.length; i++) {
    const option = argv[i];
    const value = () => {
      if (i + 1 >= argv.length) throw new Error(`${option} needs a value`);
      return argv[++i];
    };
    if (option === '--quick') args.quick = true;
    else if (option === '--busy') args.busy = true;
    else if (option === '--build') args.build = path.resolve(value());
    else if (option === '--out') args.out = path.resolve(value());
    else if (option === '--rounds') args.rounds = Number(value());
    else if (option === '--only') args.only = value().split(',');
    else if (option === '--also') args.also.push(value());
    else if (option === '--help' || option === '-h') args.help = true;
    else throw new Error(`unknown option ${option}`);
  }
  if (!args.rounds) args.rounds = args.quick ? 2 : 5;
  if (!args.out) args.out = path.join(HERE, args.busy ? 'results-busy' : 'results');
  if (!Number.isInteger(args.rounds) || args.rounds < 1) throw new Error('bad --rounds');
  if (!args.help && !args.build) throw new Error('--build DIR is required');
  return args;
}

// ---- running one program -------------------------------------------------------------------

function commandFor(system, build, workload) {
  const bin = path.join(build, 'bench');
  if (workload.views)
    return [path.join(bin, system.startsWith('raw') ? 'quillo-bench-raw-views' : 'quillo-bench-views')];
  if (system === 'quillo' || OTHER_BUILDS[system]) return [path.join(bin, 'quillo-bench-host')];
  if (system === 'raw' || system === 'raw60') return [path.join(bin, 'quillo-bench-raw')];
  return [process.execPath, path.join(HERE, 'chromium_driver.mjs')];
}

// The process group of the run in progress, ended with this script on Ctrl-C.
let currentGroup = 0;
for (const signal of ['SIGINT', 'SIGTERM']) {
  process.on(signal, () => {
    if (currentGroup) {
      try { process.kill(-currentGroup, 'SIGKILL'); } catch { /* already gone */ }
    }
    process.exit(130);
  });
}

function groupAlive(group) {
  try {
    process.kill(-group, 0);
    return true;
  } catch {
    return false;
  }
}

// Runs one program in a process group of its own and resolves with its result line (or a
// failure record). The start time handed over is taken just before the spawn.
function runOnce(system, workload, url, build, logFile) {
  return new Promise((resolve) => {
    const [program, ...pre] = commandFor(system, build, workload);
    const argv = [...pre, workload.program || workload.name, '--url', url, ...workload.args,
                  ...(system === 'raw60' ? ['--fps', '60'] : []),
                  ...(system === 'raw' && workload.rawArgs ? workload.rawArgs : [])];
    const log = fs.openSync(logFile, 'w');
    const env = {
      ...process.env,
      QUILLO_BENCH_PROCTREE: path.join(build, 'bench', 'quillo-bench-proctree'),
    };
    // The second build's library is found before the one the host program was linked with.
    if (OTHER_BUILDS[system]) env.LD_LIBRARY_PATH = OTHER_BUILDS[system];
    const started = process.hrtime.bigint();
    env.QUILLO_BENCH_T0_NS = String(started);
    const child = spawn(program, argv, { env, detached: true, stdio: ['ignore', 'pipe', log] });
    currentGroup = child.pid;
    let stdout = '';
    child.stdout.on('data', (chunk) => { stdout += chunk; });
    const timer = setTimeout(() => {
      try { process.kill(-child.pid, 'SIGKILL'); } catch { /* already gone */ }
    }, RUN_TIMEOUT_MS);
    let finished = false;
    const finish = (code, signal, error) => {
      if (finished) return;
      finished = true;
      clearTimeout(timer);
      fs.closeSync(log);
      const wall = Number(process.hrtime.bigint() - started) / 1e9;
      const line = stdout.split('\n').find((l) => l.startsWith('BENCH_RESULT '));
      let result = null;
      if (line) {
        try { result = JSON.parse(line.slice('BENCH_RESULT '.length)); } catch { /* kept null */ }
      }
      if (!result) {
        result = { system, workload: workload.name, ok: false,
                   error: error ? error.message
                               : `no result (exit ${code ?? signal}); see ${logFile}` };
      }
      resolve({ system, workload: workload.name, exit: code ?? signal, wall_s: wall, result });
    };
    child.on('error', (error) => finish(null, null, error));
    // The next run starts only once every process of this one (the engine's helpers too, all
    // in the group) has gone; a straggler is killed after a grace period. 'close' comes once
    // the program has exited and all its output has been read.
    child.on('close', async (code, signal) => {
      for (const until = Date.now() + GROUP_GRACE_MS; groupAlive(child.pid);) {
        if (Date.now() > until) {
          try { process.kill(-child.pid, 'SIGKILL'); } catch { /* gone meanwhile */ }
          break;
        }
        await new Promise((r) => setTimeout(r, 20));
      }
      currentGroup = 0;
      finish(code, signal, null);
    });
  });
}

// ---- statistics and the table --------------------------------------------------------------

const median = (values) => {
  const s = [...values].sort((a, b) => a - b);
  const n = s.length;
  return n % 2 ? s[(n - 1) / 2] : (s[n / 2 - 1] + s[n / 2]) / 2;
};

// A figure per added view, one value a round: (key with n views - key with one) / (n - 1), from
// the two runs of that round.
function derived({ key, one, many, n }, runs, system) {
  const of = (workload, round) => runs.find((r) => r.system === system &&
    r.workload === workload && r.round === round && r.result.ok)?.result[key];
  const rounds = [...new Set(runs.filter((r) => r.workload === many).map((r) => r.round))];
  return rounds.map((round) => {
    const a = of(one, round), b = of(many, round);
    return typeof a === 'number' && typeof b === 'number' ? (b - a) / (n - 1) : NaN;
  });
}

function summarise(runs) {
  const summary = {};
  for (const figure of FIGURES) {
    const id = figureId(figure);
    summary[id] = {};
    for (const system of SYSTEMS) {
      if (figure.systems && !figure.systems.includes(system)) {
        summary[id][system] = { median: null, runs: 0, why: 'not applicable' };
        continue;
      }
      const mine = runs.filter((r) => r.system === system && r.workload === figure.workload);
      const values = (figure.derive ? derived(figure.derive, runs, system)
                                    : mine.map((r) => r.result[figure.key]))
                         .filter((v) => typeof v === 'number' && Number.isFinite(v));
      const why = mine.map((r) => r.result.error || r.result.click_note || r.result.copy_note)
                      .find(Boolean);
      summary[id][system] = values.length
        ? { median: median(values), min: Math.min(...values), max: Math.max(...values),
            n: values.length, runs: mine.length }
        : { median: null, runs: mine.length, why: mine.length ? why || 'no value' : null };
    }
  }
  return summary;
}

// Three significant figures, without exponent notation for everyday sizes.
function fmt(value) {
  if (value === null || value === undefined || !Number.isFinite(value)) return '—';
  const digits = Math.abs(value) >= 100 ? 0 : Math.abs(value) >= 10 ? 1 : Math.abs(value) >= 1 ? 2 : 3;
  return value.toFixed(digits);
}

function cell(stat) {
  if (stat.median === null) return stat.runs ? 'missing' : 'n/a';
  const spread = `${fmt(stat.median)} (${fmt(stat.min)}–${fmt(stat.max)})`;
  return stat.n < stat.runs ? `${spread} n=${stat.n}/${stat.runs}` : spread;
}

function ratioOf(a, b) {
  if (!a || !b || a.median === null || b.median === null || b.median === 0) return null;
  return a.median / b.median;
}

function ratio(a, b) {
  const r = ratioOf(a, b);
  return r === null ? '—' : `${r.toFixed(2)}×`;
}

function targetCell(figure, s) {
  if (!figure.target) return '';
  const met = figure.target.met(s);
  return `${figure.target.text}: ${met === null ? 'no figures' : met ? 'met' : 'MISSED'}`;
}

// The rows of the figures whose workloads ran.
function table(summary, ran) {
  const others = Object.keys(OTHER_BUILDS);
  const header = ['figure', 'unit', ...SYSTEMS.map((s) => `${TITLES[s]} median (min–max)`),
                  'quillo/raw', 'quillo/raw 60 Hz', 'quillo/Chromium',
                  ...others.flatMap((o) => [`${TITLES[o]}/raw`, `${TITLES[o]}/quillo`]),
                  'target'];
  const rows = FIGURES.filter((figure) => ran.has(figure.workload)).map((figure) => {
    const s = summary[figureId(figure)];
    return [figure.label, figure.unit, ...SYSTEMS.map((system) => cell(s[system])),
            ratio(s.quillo, s.raw), ratio(s.quillo, s.raw60), ratio(s.quillo, s.chromium),
            ...others.flatMap((o) => [ratio(s[o], s.raw), ratio(s[o], s.quillo)]),
            targetCell(figure, s)];
  });
  return { header, rows };
}

function markdown({ header, rows }) {
  const line = (cells) => `| ${cells.join(' | ')} |`;
  return [line(header), line(header.map((_, i) => (i < 2 ? '---' : '---:'))),
          ...rows.map(line)].join('\n');
}

function plainText({ header, rows }) {
  const all = [header, ...rows];
  const widths = header.map((_, i) => Math.max(...all.map((r) => [...r[i]].length)));
  const pad = (text, i) => (i < 2 ? text.padEnd(widths[i]) : text.padStart(widths[i]));
  const render = (r) => r.map(pad).join('  ');
  return [render(header), widths.map((w) => '-'.repeat(w)).join('  '), ...rows.map(render)]
    .join('\n');
}

// Things the figures alone do not say: notices that came before their pixels, missed clicks,
// runs that failed.
function observations(runs) {
  const notes = [];
  const clicks = runs.filter((r) => r.workload === 'click' && r.result.ok);
  for (const system of SYSTEMS) {
    const mine = clicks.filter((r) => r.system === system);
    const missed = mine.reduce((n, r) => n + (r.result.click_missed || 0), 0);
    const trials = mine.reduce((n, r) => n + (r.result.click_ms_samples || []).length, 0) + missed;
    if (missed) notes.push(`${TITLES[system]}: ${missed} of ${trials} clicks never showed ` +
                           'their colour within 3 s (left out of the latency figures).');
    const late = mine.reduce((n, r) => n + (r.result.click_late_pixels || 0), 0);
    if (late) notes.push(`${TITLES[system]}: in ${late} of ${trials} clicks UPDATE_NEW_FRAME ` +
                         'was reported before the new pixels were in host memory; the latency ' +
                         'runs until the pixels were there, seen at a later UpdateWeb.');
  }
  for (const system of SYSTEMS) {
    const polls = runs.filter((r) => r.workload === 'poll' && r.system === system && r.result.ok);
    const slow = polls.reduce((n, r) => n + (r.result.poll_over_100us || 0), 0);
    const preempted = polls.reduce((n, r) => n + (r.result.poll_preempted || 0), 0);
    if (slow) notes.push(`${TITLES[system]} poll: ${slow} of ${polls.length} × 10^6 calls took ` +
                         `over 100 µs; the polling thread was preempted ${preempted} times ` +
                         'during those loops (2 cores shared with the engine).');
  }
  const busy = runs.map((r) => r.background_busy).filter(Number.isFinite);
  if (!BUSY_MODE && busy.length && (median(busy) > BUSY_MEDIAN || Math.max(...busy) > BUSY_MAX))
    notes.push('The machine was busy with other work: between runs, with nothing of the ' +
               `benchmark running, ${(100 * median(busy)).toFixed(0)} % of its CPU time was in use ` +
               `(median; up to ${(100 * Math.max(...busy)).toFixed(0)} %). These figures are ` +
               'noisy; run again on a quiet machine to compare.');
  for (const r of runs.filter((r) => r.result.resize_missed))
    notes.push(`${TITLES[r.system]} resize, round ${r.round}: ${r.result.resize_missed} resizes ` +
               'showed no frame at their size within 3 s (left out of the figures).');
  for (const r of runs.filter((r) => r.result.eval_missed || r.result.eval_wrong))
    notes.push(`${TITLES[r.system]} eval, round ${r.round}: ${r.result.eval_missed || 0} scripts ` +
               `without a result within 3 s, ${r.result.eval_wrong || 0} with a wrong one` +
               `${r.result.eval_note ? ` (${r.result.eval_note})` : ''}.`);
  const stuck = runs.filter((r) => r.workload === 'scroll' && r.result.scroll_note);
  for (const r of stuck) notes.push(`${TITLES[r.system]} scroll: ${r.result.scroll_note}.`);
  for (const r of runs.filter((r) => !r.result.ok))
    notes.push(`${TITLES[r.system]} ${r.workload}: run failed: ${r.result.error}`);
  return notes;
}

const NOTES = [
  'Each cell: median over the runs, with the smallest and largest run in brackets; the ' +
  'click rows take each run\'s own median or p90 of its 20 clicks.',
  'quillo delivers at most 60 frames a second by design (its frame-complete pacing); the raw ' +
  'program acknowledges every frame at once, and as "raw WPE 60 Hz" on the same 60 Hz grid as ' +
  'quillo; Chromium\'s frames are screencast pictures, each encoded as PNG and acknowledged ' +
  'on arrival.',
  'CPU per delivered frame: user and system time of the whole process tree over the 5 s ' +
  'window, divided by the frames that reached host memory in it. Idle, host process alone: ' +
  'the CPU time of the host\'s own process (all its threads; the engine\'s child processes ' +
  'not counted).',
  'First frame stages: a separate run of the first frame; quillo with its log switched on, ' +
  'each log line stamped as it arrives (engine initialised: OnContextInitialized; view ' +
  'created: OnAfterCreated; first buffer: the first frame the engine exported), raw with its ' +
  'own clock readings at the same points. All from just before the process was spawned.',
  'Scroll: a page of 1500 paragraphs; after it shows, one wheel notch (120 pixels down) every ' +
  '60th of a second for 5 s at the centre, the hosts polling every millisecond in between.',
  'Hosts poll every millisecond while they wait for a frame or a colour, and at 60 Hz during ' +
  'the idle window. The raw program sleeps in its main loop instead (idle: drains it at 60 Hz).',
  'Chromium\'s click and first-frame times include decoding the PNG picture in the driver; ' +
  'its process tree is the browser and its children (the Node driver is not counted).',
  'Copy: quillo\'s own count of bytes written into host memory, from its log at shutdown ' +
  '("=> paints[N] bytes copied[K] KiB"), divided by the paints; raw copies every frame ' +
  'whole. Chromium hands over encoded pictures, not host memory: n/a.',
  'Poll: quillo is one UpdateWeb call on a page that animates; raw is one non-blocking ' +
  'g_main_context_iteration on the same page; Chromium has no polling call: n/a. Each call ' +
  'is timed on its own with CLOCK_MONOTONIC (about 20 ns of that is the clock).',
  'Peak memory is the sum of each process\'s peak resident set (VmHWM), so shared pages ' +
  'count once per process.',
];

// What the views' rows need said.
const VIEW_NOTES = [
  'Targets (views rows): judged on the medians, as the table shows them; a target says ' +
  'MISSED when the figures of this run miss it.',
  `Views: N pages of ${VIEW_SIZE} in one process, quillo through quillo/views.h (the host ` +
  'pumps every millisecond and reads every view\'s notices after each pump), raw as N WPE web ' +
  'views sharing one web context, each with its own export and frame loop; both acknowledge ' +
  'frames on the 60 Hz grid. A frame counts when it changed the host\'s memory: quillo ' +
  'announces only those, and the raw program compares each buffer with its memory (the engine ' +
  'exports many buffers equal to the one before). Frames/s: each view\'s frames over the 5 s ' +
  'window, the median of the views; CPU per frame: the whole tree\'s CPU over the window ' +
  'divided by the frames of all views; memory: the tree\'s (every web process, the network ' +
  'process and the host), the median of samples each second of the window (an animating ' +
  'page\'s memory goes up and down with its garbage). Summed VmRSS counts the pages of ' +
  'shared libraries once per process; the proportional set size splits them among their ' +
  'sharers. Per added view: within each round, the ' +
  'memory with N views less the memory with one, over N - 1.',
  'Resize storm: one view at about ' + VIEW_SIZE + ' on the animation page, resized to the ' +
  'next of a cycle of sizes as soon as a frame of the size before has reached host memory, ' +
  'for 5 s; the time runs from the resize call (quillo_view_resize; raw: new memory and ' +
  'wpe_view_backend_dispatch_set_size) to the first frame at the new size in host memory.',
  'Script round trip: 50 scripts, one at a time, 20 ms apart, on the static page: quillo ' +
  'from quillo_view_eval to its SCRIPT_RESULT notice (the host pumping every millisecond); raw ' +
  'from webkit_web_view_run_javascript to its callback (its value turned into JSON text as ' +
  'quillo does), the raw program asleep in its main loop in between.',
];

// ---- the plot ------------------------------------------------------------------------------

function plot(summary, out) {
  const pick = (key, system) => {
    const s = summary[key][system];
    return s.median === null ? ['NaN', 'NaN', 'NaN'] : [s.median, s.min, s.max].map(String);
  };
  const rows = SYSTEMS.map((system) => [
    `"${TITLES[system]}"`, ...pick('fps', system), ...pick('click_median_ms', system),
    ...pick('first_frame_ms', system)].join(' '));
  fs.writeFileSync(path.join(out, 'plot.dat'),
                   '# system fps(med min max) click_ms(med min max) first_frame_ms(med min max)\n' +
                   rows.join('\n') + '\n');
  // A panel whose figure has no value in any system still gets its frame and title.
  const panel = (key, column, title) => {
    if (SYSTEMS.every((system) => summary[key][system].median === null))
      return `set title "${title}"\nset yrange [0:1]\n` +
             'set label 1 "no data" at graph 0.5,0.5 center\nplot 1/0 notitle\n' +
             'unset label 1\nset yrange [0:*]\n';
    return `set title "${title}"\n` +
      `plot "plot.dat" using 0:${column} with boxes lc rgb "#4a7ebb" notitle, \\\n` +
      `     "" using 0:${column}:${column + 1}:${column + 2} with yerrorbars lc rgb "#222222" ` +
      'pt 0 notitle\n';
  };
  const script =
    'set terminal pngcairo size 1700,520 font "sans,11"\n' +
    'set output "bench.png"\n' +
    'set datafile missing "NaN"\n' +
    'set style fill solid 0.7 border -1\n' +
    'set boxwidth 0.6\n' +
    `set xrange [-0.6:${SYSTEMS.length - 0.4}]\n` +
    `set xtics (${SYSTEMS.map((system, i) => `"${TITLES[system]}" ${i}`).join(', ')})\n` +
    'set yrange [0:*]\n' +
    'set grid ytics\n' +
    `set multiplot layout 1,3 title "quillo, raw WPE WebKit and headless Chromium at ${WIDTH}x${HEIGHT}` +
    ' (median, bars: min to max over runs)"\n' +
    panel('fps', 2, 'frame rate (frames/s, higher is better)') +
    panel('click_median_ms', 5, 'click to pixel, median (ms, lower is better)') +
    panel('first_frame_ms', 8, 'first frame (ms, lower is better)') +
    'unset multiplot\n';
  fs.writeFileSync(path.join(out, 'plot.gp'), script);
  execFileSync('gnuplot', ['plot.gp'], { cwd: out, stdio: ['ignore', 'inherit', 'inherit'] });
  return path.join(out, 'bench.png');
}

// ---- the machine ---------------------------------------------------------------------------

function machine() {
  const version = (pkg) => {
    try {
      return execFileSync('dpkg-query', ['-W', '-f=${Version}', pkg], { encoding: 'utf8' });
    } catch {
      return 'unknown';
    }
  };
  return {
    cpu: os.cpus()[0]?.model?.trim() || 'unknown',
    cores: os.cpus().length,
    memory_gib: Math.round(os.totalmem() / 2 ** 30),
    kernel: os.release(),
    wpewebkit: version('libwpewebkit-1.1-0'),
    wpebackend_fdo: version('libwpebackend-fdo-1.0-1'),
    chromium: version('chromium'),
    node: process.version,
    date: new Date().toISOString(),
  };
}

// How busy the machine is while none of the benchmark's programs runs: the share of all
// cores' time that was not idle over a short pause. Other work on the machine shows up here.
async function backgroundBusy() {
  const sample = () => {
    const fields = fs.readFileSync('/proc/stat', 'utf8').split('\n')[0].trim().split(/\s+/)
      .slice(1).map(Number);
    // Idle and iowait; work at a lower priority (nice) counts as idle too: it gets only the
    // time the benchmark leaves.
    const idle = fields[3] + (fields[4] || 0) + fields[1];
    return { idle, total: fields.reduce((a, b) => a + b, 0) };
  };
  try {
    const before = sample();
    await new Promise((resolve) => setTimeout(resolve, QUIET_PROBE_MS));
    const after = sample();
    const total = after.total - before.total;
    return total > 0 ? 1 - (after.idle - before.idle) / total : NaN;
  } catch {
    return NaN;
  }
}

// ---- the busy machine ----------------------------------------------------------------------

let BUSY_MODE = false;
let burner = null;

// One CPU-bound process for the whole run (--busy): a busy loop in a Node child of its own.
function startBurner() {
  burner = spawn(process.execPath, ['-e', 'for (;;) {}'], { stdio: 'ignore' });
  const stop = () => { if (burner) { try { burner.kill('SIGKILL'); } catch { /* gone */ } } };
  process.on('exit', stop);
  return stop;
}

// ---- main ----------------------------------------------------------------------------------

async function main() {
  let args;
  try {
    args = parseArgs(process.argv.slice(2));
  } catch (error) {
    process.stderr.write(`bench.mjs: ${error.message}\n`);
    process.exit(2);
  }
  if (args.help) {
    process.stdout.write(fs.readFileSync(fileURLToPath(import.meta.url), 'utf8')
      .split('\n').slice(1, 19).map((l) => l.replace(/^\/\/ ?/, '')).join('\n') + '\n');
    return;
  }
  const pages = path.join(args.out, 'pages');
  const logs = path.join(args.out, 'logs');
  fs.rmSync(logs, { recursive: true, force: true });
  fs.mkdirSync(pages, { recursive: true });
  fs.mkdirSync(logs, { recursive: true });
  for (const [name, html] of Object.entries(PAGES)) fs.writeFileSync(path.join(pages, name), html);

  for (const spec of args.also) addOtherBuild(spec);
  // --only takes workloads' names and groups' names ("views": every row of the views).
  const workloads = WORKLOADS.filter((w) => !args.only || args.only.includes(w.name) ||
                                            args.only.includes(w.group));
  BUSY_MODE = args.busy;
  const stopBurner = args.busy ? startBurner() : () => {};
  const started = Date.now();
  const runs = [];
  // Workloads of one group take turns within each round; the others run all their rounds in
  // a row.
  const blocks = [];
  for (const workload of workloads) {
    const last = blocks[blocks.length - 1];
    if (workload.group && last && last[0].group === workload.group) last.push(workload);
    else blocks.push([workload]);
  }
  const load = () => os.loadavg().map((l) => l.toFixed(1)).join(' ');
  const loadAtStart = load();
  for (const block of blocks) {
    for (let round = 1; round <= args.rounds; round++) {
      for (const workload of block) {
        const systems = workload.systems || SYSTEMS;
        const url = `file://${path.join(pages, workload.page)}`;
        for (const system of systems) {
          const logFile = path.join(logs, `${workload.name}-${system}-${round}.log`);
          // A short burst of other work passes: wait a little for the machine to be quiet
          // (unless it is kept busy on purpose).
          let busy = await backgroundBusy();
          for (const until = Date.now() + QUIET_WAIT_MS;
            !args.busy && busy > BUSY_MAX && Date.now() < until;)
            busy = await backgroundBusy();
          const run = await runOnce(system, workload, url, args.build, logFile);
          run.round = round;
          run.background_busy = busy;
          run.load1 = os.loadavg()[0];
          runs.push(run);
          const r = run.result;
          const shown = FIGURES.filter((f) => f.workload === workload.name && !f.derive)
            .map((f) => `${f.key}=${fmt(r[f.key])}`).join(' ');
          process.stderr.write(`bench: ${workload.name} round ${round}/${args.rounds} ` +
                               `${system.padEnd(8)} ${r.ok ? shown : `FAILED: ${r.error}`} ` +
                               `(${run.wall_s.toFixed(1)} s, machine ` +
                               `${(100 * busy).toFixed(0)} % busy before, load ` +
                               `${run.load1.toFixed(1)})\n`);
        }
      }
    }
  }

  stopBurner();
  const summary = summarise(runs);
  const t = table(summary, new Set(workloads.map((w) => w.name)));
  const notes = [...observations(runs),
                 ...(workloads.some((w) => !w.views) ? NOTES : []),
                 ...(workloads.some((w) => w.views) ? VIEW_NOTES : [])];
  const info = machine();
  const heading = `quillo benchmarks${args.busy ? ' on a busy machine (one core kept busy by ' +
    'a CPU-bound process)' : ''}, ${WIDTH}x${HEIGHT} (the views: ${VIEW_SIZE} each), ` +
    `${args.rounds} round(s) per workload ` +
    `(${((Date.now() - started) / 1000).toFixed(0)} s), ${info.cores} cores (${info.cpu}), ` +
    `WPE WebKit ${info.wpewebkit}, Chromium ${info.chromium}; load average (1, 5, 15 min) ` +
    `${loadAtStart} at the start, ${load()} at the end`;
  process.stdout.write(`\n${heading}\n\n${plainText(t)}\n\n` +
                       notes.map((n) => `- ${n}`).join('\n') + '\n');

  fs.writeFileSync(path.join(args.out, 'results.md'),
                   `# ${heading}\n\n${markdown(t)}\n\n${notes.map((n) => `- ${n}`).join('\n')}\n`);
  fs.writeFileSync(path.join(args.out, 'samples.json'), JSON.stringify(
    { machine: info, rounds: args.rounds, quick: args.quick, busy: args.busy, summary, runs },
    null, 1) + '\n');
  let picture = '';
  try {
    picture = plot(summary, args.out);
  } catch (error) {
    process.stderr.write(`bench: gnuplot failed: ${error.message}\n`);
  }
  process.stdout.write(`\ntable: ${path.join(args.out, 'results.md')}\n` +
                       `samples: ${path.join(args.out, 'samples.json')}\n` +
                       (picture ? `plot: ${picture}\n` : ''));
}

main();
