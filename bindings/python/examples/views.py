#!/usr/bin/env python3
"""Renders two quillo views at once and saves each as a PNG.

    views.py [--out-dir DIR] [--timeout S]

The first view is a menu page served from Python's memory through an app: scheme (its style
sheet, logo and module script come from a dict); the page asks Python for its accent colour
with quilloPost() and paints the answer. The second is a transparent HUD at device scale 2,
saved with its alpha. Prints the paths written. Needs nothing beyond the binding: the PNGs are
written with zlib.
"""

import argparse
import os
import struct
import sys
import time
import zlib

# Run from the source tree without installing the binding.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

from quillo import views  # noqa: E402
from quillo.views import NoticeKind  # noqa: E402

ACCENT = "rgb(46,134,222)"

# The menu's files, by path: what a game would keep in its asset archive.
ASSETS = {
    "/menu/index.html": """<!doctype html><html><head><meta charset="utf-8"><title>menu</title>
<link rel="stylesheet" href="menu.css"><script type="module" src="menu.js"></script></head>
<body><header id="bar"><img src="logo.svg" width="48" height="48"> quillo</header>
<ul><li>Play</li><li>Options</li><li>Quit</li></ul></body></html>""",
    "/menu/menu.css": """html, body { margin: 0; height: 100%; background: #1e1e28; color: #eee;
  font: 24px sans-serif }
#bar { display: flex; align-items: center; gap: 12px; height: 64px; padding: 0 16px;
  background: #444 }
ul { list-style: none; margin: 24px 16px; padding: 0 } li { padding: 8px 0 }""",
    "/menu/logo.svg": """<svg xmlns="http://www.w3.org/2000/svg" width="48" height="48">
<circle cx="24" cy="24" r="22" fill="#f5b041"/></svg>""",
    "/menu/menu.js": """// Ask the host for the accent colour, paint it, then say the page is ready.
const accent = await quilloPost('accent?');
document.getElementById('bar').style.background = accent;
requestAnimationFrame(() => requestAnimationFrame(() => { document.title = 'ready'; }));""",
}

HUD = """<!doctype html><html style="background: transparent"><body style="margin: 0">
<div style="position: absolute; left: 8px; top: 8px; width: 120px; height: 40px;
  border-radius: 8px; background: rgba(0, 0, 0, 0.6); color: #fff; font: 16px sans-serif;
  display: flex; align-items: center; justify-content: center">HP 87</div>
<script>requestAnimationFrame(() => requestAnimationFrame(() => {
  document.title = 'ready'; }))</script></body></html>"""

# After a page says it is ready, it counts as painted once no new frame came for this long.
SETTLE_SECONDS = 0.5


def unpremultiply(rgba):
    """Straight alpha for a PNG, from the library's premultiplied pixels."""
    out = bytearray(rgba)
    for i in range(3, len(out), 4):
        alpha = out[i]
        if alpha and alpha != 255:
            for j in range(i - 3, i):
                out[j] = min(255, (out[j] * 255 + alpha // 2) // alpha)
    return bytes(out)


def write_png(path, frame, transparent):
    width, height = frame.width, frame.height
    rgba = frame.to_rgba()
    if transparent:
        rgba = unpremultiply(rgba)
    rows = b"".join(b"\0" + rgba[y * width * 4:(y + 1) * width * 4] for y in range(height))

    def chunk(tag, data):
        return (struct.pack(">I", len(data)) + tag + data
                + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF))

    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(rows, 6)))
        out.write(chunk(b"IEND", b""))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out-dir", default=".", help="folder for menu.png and hud.png")
    parser.add_argument("--timeout", type=float, default=30.0,
                        help="seconds to wait for both pages to be ready")
    args = parser.parse_args(argv)

    # Every app: request is answered from ASSETS (by its path) while views.pump() runs.
    views.register_scheme("app", ASSETS)
    menu = views.View("app://game/menu/index.html", width=480, height=270)
    hud = views.View(html=HUD, width=272, height=112, device_scale=2, transparent=True)

    deadline = time.monotonic() + args.timeout
    last_frame = None  # when the last frame came, once both pages are ready
    while last_frame is None or time.monotonic() - last_frame < SETTLE_SECONDS:
        if time.monotonic() >= deadline:
            print(f"the pages were not ready within {args.timeout} s", file=sys.stderr)
            views.shutdown()
            return 3
        views.pump()
        for view in (menu, hud):
            for notice in view.notices():
                if notice.kind is NoticeKind.MESSAGE:
                    notice.resolve(ACCENT)  # the page's  await quilloPost('accent?')
                elif notice.kind is NoticeKind.DIALOG:
                    notice.dismiss()  # a dialog would hold the page forever
                elif notice.kind is NoticeKind.LOAD_FAILED:
                    print(f"{notice.detail}: {notice.text}", file=sys.stderr)
                elif notice.kind is NoticeKind.FRAME and last_frame is not None:
                    last_frame = time.monotonic()
        if last_frame is None and menu.title == "ready" and hud.title == "ready":
            last_frame = time.monotonic()
        time.sleep(0.005)

    written = []
    for name, view in (("menu", menu), ("hud", hud)):
        path = os.path.join(args.out_dir, name + ".png")
        write_png(path, view.frame, view.transparent)
        written.append(path)
    views.shutdown()
    print("\n".join(written))
    return 0


if __name__ == "__main__":
    sys.exit(main())
