#!/usr/bin/python3
"""Real pages, pixel for pixel: quillo against the raw engine it stands on.

For each page, the raw engine (quillo-parity-raw) and quillo hosts (quillo-parity-host, one per
memory layout) show it at the same size, receive the same pointer move, wheel steps (down
several screens, then back up) and a reload from a script, and at each checkpoint, once every
one of them is still, the host's memory must equal the raw engine's frame byte for byte in the
host's layout. A mismatch writes both pictures and their difference as PNGs and names the
first differing rectangle.

  parity.py --build BUILD [--short] [--corpus DIR]... [--layouts all|rotate] [--out DIR]
            [--pages N] [--quiet MS]

--layouts all compares every checkpoint in all four layouts (four quillo hosts at once);
rotate gives each page one layout, in turn. --short: the demo page and a handful of corpus
pages, one layout each. Prints the pages, checkpoints, mismatches and pages per second of each
system; exits 1 on any mismatch or failure.
"""

import argparse
import glob
import os
import select
import subprocess
import sys
import tempfile
import time

from PIL import Image

WIDTH, HEIGHT = 1280, 720
SWAP_RED_BLUE, BOTTOM_UP = 0x1, 0x2
LAYOUTS = [0, SWAP_RED_BLUE, BOTTOM_UP, SWAP_RED_BLUE | BOTTOM_UP]
LAYOUT_NAMES = {0: "bgra-top-down", SWAP_RED_BLUE: "rgba-top-down",
                BOTTOM_UP: "bgra-bottom-up", SWAP_RED_BLUE | BOTTOM_UP: "rgba-bottom-up"}
NOTCH = 120
# Checkpoints after the load: wheel notches (negative scrolls down) or a reload.
STEPS = [("down 5", [-NOTCH] * 5), ("down 10", [-NOTCH] * 10), ("up 6", [NOTCH] * 6),
         ("reload", None)]
# Corpus pages the short version takes when the corpus is there: long text with code blocks,
# tables, a page with images, and the index with its script-driven search box.
SHORT_PAGES = ["library/stdtypes.html", "reference/datamodel.html", "howto/logging.html",
               "index.html"]
# Freezes the demo page's endless CSS animations at a fixed moment in both systems, so that the
# page can become still; a running animation has no moment at which both draw the same.
FREEZE_ANIMATIONS = ("<style>*,*::before,*::after{animation-play-state:paused!important;"
                     "animation-delay:-0.4s!important}</style>")
SETTLE_LIMIT_MS = 60000
# A difference is confirmed only after a settle this long in which no picture changed: longer
# than the engine's longest pause before a change nobody asked for (overlay scroll bars, shown
# by a scroll, begin to fade out 2 s after it), so that two pages caught at different moments
# of such a pause are not taken for a difference.
CONFIRM_QUIET_MS = 3000
# Settles of CONFIRM_QUIET_MS a match waits through for a change the input must make.
MUST_CHANGE_SETTLES = 10


class Child:
    """One child program speaking the line protocol of parity_child.h."""

    def __init__(self, name, argv, frame_path, log):
        self.name = name
        self.frame_path = frame_path
        self.busy_ms = 0   # summed over the checkpoints: from the settle to the last change
        self.changes = 0   # pictures that differed from the one before, as its last settle said
        self.pages = 0
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=log, text=True, bufsize=1)

    def send(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def answer(self, timeout_s=120):
        ready, _, _ = select.select([self.proc.stdout], [], [], timeout_s)
        if not ready:
            raise RuntimeError(f"{self.name}: no answer in {timeout_s} s")
        line = self.proc.stdout.readline()
        if not line:
            raise RuntimeError(f"{self.name}: ended (exit {self.proc.wait()})")
        line = line.rstrip("\n")
        if line.startswith("error"):
            raise RuntimeError(f"{self.name}: {line}")
        return line

    def command(self, line):
        self.send(line)
        return self.answer()

    def frame(self):
        with open(self.frame_path, "rb") as f:
            return f.read()

    def close(self):
        try:
            self.send("quit")
            self.proc.stdin.close()
            self.proc.wait(timeout=60)
        except (OSError, subprocess.TimeoutExpired, ValueError):
            self.proc.kill()
            self.proc.wait()


class NotStill(Exception):
    pass


def settle_all(children, quiet_ms):
    """Settles the children side by side; returns {child: (still, changes)}."""
    for child in children:
        child.send(f"settle {quiet_ms} {SETTLE_LIMIT_MS}")
    result = {}
    for child in children:
        state, changes, last_ms, _ = child.answer(SETTLE_LIMIT_MS / 1000 + 60).split()
        child.busy_ms += int(last_ms)
        child.changes = int(changes)
        result[child] = (state == "still", int(changes))
    return result


def to_canonical(memory, layout):
    """Host memory in the given layout as B,G,R,A, top row first (the raw engine's order)."""
    data = memory
    if layout & BOTTOM_UP:
        stride = WIDTH * 4
        data = b"".join(data[y * stride:(y + 1) * stride] for y in range(HEIGHT - 1, -1, -1))
    if layout & SWAP_RED_BLUE:
        swapped = bytearray(data)
        swapped[0::4], swapped[2::4] = data[2::4], data[0::4]
        data = bytes(swapped)
    return data


def first_difference(a, b):
    """The first run of differing rows and the columns it spans: (x, y, w, h), or None."""
    stride = WIDTH * 4
    top = None
    left, right = WIDTH, 0
    for y in range(HEIGHT):
        ra, rb = a[y * stride:(y + 1) * stride], b[y * stride:(y + 1) * stride]
        if ra == rb:
            if top is not None:
                return (left, top, right - left, y - top)
            continue
        if top is None:
            top = y
        x0 = next(x for x in range(WIDTH) if ra[x * 4:x * 4 + 4] != rb[x * 4:x * 4 + 4])
        x1 = next(x for x in range(WIDTH - 1, -1, -1) if ra[x * 4:x * 4 + 4] != rb[x * 4:x * 4 + 4])
        left, right = min(left, x0), max(right, x1 + 1)
    return None if top is None else (left, top, right - left, HEIGHT - top)


def write_mismatch(out, stem, raw, host):
    raw_img = Image.frombytes("RGBA", (WIDTH, HEIGHT), raw, "raw", "BGRA").convert("RGB")
    host_img = Image.frombytes("RGBA", (WIDTH, HEIGHT), host, "raw", "BGRA").convert("RGB")
    # Differing pixels in red over a faded copy of the raw engine's picture.
    diff = Image.blend(raw_img, Image.new("RGB", raw_img.size, "white"), 0.75)
    mask = Image.frombytes("L", (WIDTH, HEIGHT), bytes(
        255 if raw[i:i + 4] != host[i:i + 4] else 0 for i in range(0, len(raw), 4)))
    diff.paste(Image.new("RGB", raw_img.size, (255, 0, 0)), mask=mask)
    paths = [os.path.join(out, f"{stem}-{kind}.png") for kind in ("raw", "quillo", "diff")]
    for img, path in zip((raw_img, host_img, diff), paths):
        img.save(path)
    return paths


def demo_page(build, out):
    html = subprocess.run([os.path.join(build, "tests/parity/quillo-parity-demo")],
                          check=True, capture_output=True, text=True).stdout
    path = os.path.join(out, "demo.html")
    with open(path, "w") as f:
        f.write(html.replace("</head>", FREEZE_ANIMATIONS + "</head>", 1))
    return path


def default_corpus():
    """The HTML documentation of Debian's python3-doc (the newest Python's), or none."""
    def version(path):
        minor = os.path.basename(os.path.dirname(path)).rpartition(".")[2]
        return int(minor) if minor.isdigit() else -1

    found = sorted((d for d in glob.glob("/usr/share/doc/python3.*/html") if os.path.isdir(d)),
                   key=version)
    return found[-1:]


def corpus_pages(dirs):
    pages = []
    for top in dirs:
        for root, subdirs, files in os.walk(top):
            subdirs.sort()
            # Sphinx keeps page sources and downloads beside the pages; they are not pages.
            subdirs[:] = [d for d in subdirs if d not in ("_sources", "_downloads")]
            pages += [os.path.join(root, f) for f in sorted(files) if f.endswith(".html")]
    return pages


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--corpus", action="append", default=[],
                        help="a folder of HTML pages (default: Debian's python3-doc)")
    parser.add_argument("--short", action="store_true")
    parser.add_argument("--layouts", choices=["all", "rotate"], default="all")
    parser.add_argument("--pages", type=int, default=0, help="at most this many corpus pages")
    parser.add_argument("--page", action="append", default=[],
                        help="only this corpus page (a path below the corpus folder)")
    parser.add_argument("--quiet", type=int, default=300, help="ms without a change = still")
    parser.add_argument("--out", default=None)
    parser.add_argument("--skew", action="store_true",
                        help="give the quillo hosts one wheel notch fewer than the raw engine at "
                             "the first wheel step: the check must then report mismatches")
    args = parser.parse_args()

    out = args.out or tempfile.mkdtemp(prefix="quillo-parity.")
    os.makedirs(out, exist_ok=True)
    corpus = [d for d in args.corpus or default_corpus() if os.path.isdir(d)]
    pages = corpus_pages(corpus)
    if args.short:
        chosen = [os.path.join(corpus[0], want) for want in SHORT_PAGES
                  if corpus and os.path.join(corpus[0], want) in pages]
        pages = chosen or pages[:3]
        args.layouts = "rotate"
    if args.page:
        pages = [p for p in pages if corpus and os.path.relpath(p, corpus[0]) in args.page]
    if args.pages:
        pages = pages[:args.pages]
    pages = [demo_page(args.build, out)] + pages
    if not corpus:
        if args.skew:
            # The demo page does not scroll, so a skewed wheel changes nothing on it.
            print("parity: skipped: --skew needs the corpus's long pages "
                  "(apt-get install python3-doc)")
            return 0
        print("parity: no corpus directory found; only the demo page is checked")

    log = open(os.path.join(out, "children.log"), "w")
    shm = tempfile.mkdtemp(prefix="quillo-parity.", dir="/dev/shm")
    size = ["--width", str(WIDTH), "--height", str(HEIGHT)]
    raw = Child("raw", [os.path.join(args.build, "tests/parity/quillo-parity-raw"), *size,
                        "--frame", os.path.join(shm, "raw")], os.path.join(shm, "raw"), log)
    hosts = {}
    for layout in LAYOUTS:
        frame = os.path.join(shm, f"quillo-{layout}")
        hosts[layout] = Child(f"quillo {LAYOUT_NAMES[layout]}",
                              [os.path.join(args.build, "tests/parity/quillo-parity-host"), *size,
                               "--frame", frame, "--options", str(layout)], frame, log)

    checkpoints = mismatches = failures = checked = 0
    start = time.monotonic()
    try:
        for index, page in enumerate(pages):
            url = "file://" + page
            layouts = LAYOUTS if args.layouts == "all" else [LAYOUTS[index % len(LAYOUTS)]]
            children = [raw] + [hosts[layout] for layout in layouts]
            name = os.path.relpath(page, corpus[0]) if corpus and page.startswith(corpus[0]) \
                else os.path.basename(page)
            for child in children:
                child.pages += 1
            try:
                for child in children:
                    child.command(f"load {url}")
                    child.command(f"move {WIDTH // 2} {HEIGHT // 2}")
                steps = [("load", None)] + STEPS
                for step, (label, notches) in enumerate(steps):
                    changes_before = {child: child.changes for child in children}
                    if step > 0:
                        for child in children:
                            if notches is None:
                                child.command("reload")
                            skew = args.skew and step == 1 and child is not raw
                            for delta in (notches or [])[1 if skew else 0:]:
                                child.command(f"wheel 0 {delta}")
                    # The corpus's pages are long: every wheel step scrolls them (the demo
                    # page does not scroll).
                    scrolls = bool(notches) and index > 0
                    found = compare(children, raw, layouts, hosts, args.quiet, out,
                                    f"{index:04d}-{label.replace(' ', '')}", name, label,
                                    changes_before if notches else None, scrolls)
                    checkpoints += len(layouts)
                    mismatches += found
            except NotStill as error:
                failures += 1
                print(f"parity: FAILED {name}: {error}", flush=True)
            except RuntimeError as error:
                failures += 1
                print(f"parity: FAILED {name}: {error}", flush=True)
                break
            checked += 1
            if (index + 1) % 25 == 0 or args.short:
                print(f"parity: {index + 1}/{len(pages)} pages, {mismatches} mismatches "
                      f"({time.monotonic() - start:.0f} s)", flush=True)
    finally:
        wall = time.monotonic() - start
        for child in [raw, *hosts.values()]:
            child.close()
        for f in os.listdir(shm):
            os.unlink(os.path.join(shm, f))
        os.rmdir(shm)

    print(f"parity: pages {checked}, checkpoints {checkpoints}, mismatches {mismatches}, "
          f"failures {failures}, {wall:.0f} s")
    for child in [raw] + [h for h in hosts.values() if h.pages > 0]:
        seconds = child.busy_ms / 1000
        rate = child.pages / seconds if seconds > 0 else float("nan")
        print(f"parity: {child.name}: {child.pages} pages, {seconds:.1f} s from the steps to "
              f"their last new pictures, {rate:.2f} pages/s")
    print(f"parity: pictures in {out}")
    return 0 if mismatches == 0 and failures == 0 else 1


def compare(children, raw, layouts, hosts, quiet_ms, out, stem, name, label,
            changes_before=None, must_change=False):
    """Settles all children and compares; a difference counts only when it survives a second
    settle in which no child's picture changed. After input (changes_before: each child's
    count of changed pictures before it), a match with a child whose picture has not changed
    since counts only when it survives such a settle too: on a busy machine the input's effect
    may come later than the quiet time, and pictures from before it match whatever the input
    was (the skewed wheel went unseen so). When the input must change every picture
    (must_change: a wheel step on a long page), such a match waits through up to
    MUST_CHANGE_SETTLES settles for the change: on a heavily loaded machine a scroll can come
    later than one settle."""
    for attempt in range(4):
        states = settle_all(children, quiet_ms * (1 + attempt))
        moving = [c.name for c, (still, _) in states.items() if not still]
        if moving:
            raise NotStill(f"{label}: not still after {SETTLE_LIMIT_MS} ms: {moving}")
        reference = raw.frame()
        differing = [layout for layout in layouts
                     if to_canonical(hosts[layout].frame(), layout) != reference]
        if not differing:
            unchanged = changes_before and any(
                states[c][1] == changes_before[c] for c in children)
            if not unchanged:
                return 0
            for _ in range(MUST_CHANGE_SETTLES if must_change else 1):
                again = settle_all(children, max(quiet_ms * 2, CONFIRM_QUIET_MS))
                if any(again[c][1] != states[c][1] for c in children):
                    break
            else:
                return 0
            changes_before = None  # the input's effect came: compare what it left
            continue
        again = settle_all(children, max(quiet_ms * 2, CONFIRM_QUIET_MS))
        if all(again[c][1] == states[c][1] for c in children):
            break
    found = 0
    for layout in differing:
        host = to_canonical(hosts[layout].frame(), layout)
        if host == reference:
            continue
        found += 1
        rect = first_difference(reference, host)
        paths = write_mismatch(out, f"{stem}-{layout}", reference, host)
        print(f"parity: MISMATCH {name} at '{label}' in {LAYOUT_NAMES[layout]}: first differing "
              f"rectangle x={rect[0]} y={rect[1]} w={rect[2]} h={rect[3]}; {' '.join(paths)}",
              flush=True)
    return found


if __name__ == "__main__":
    sys.exit(main())
