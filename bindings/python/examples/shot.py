#!/usr/bin/env python3
"""Shows one page with quillo and saves its picture.

    shot.py [URL] [--html TEXT] [--width N] [--height N] [--out FILE] [--timeout S]

Without a URL a small built-in page is shown. The picture is a PNG when Pillow is
installed (Debian: python3-pil), otherwise, or when FILE ends in .ppm, a plain PPM
(a .png name then becomes .ppm). The picture is taken once the page has loaded and painted
what it loaded, and then stopped painting for a moment (or, for a page that never stops,
after a few seconds).
Prints the path written.
"""

import argparse
import os
import sys
import time

# Run from the source tree without installing the binding.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

import quillo  # noqa: E402

DEMO_PAGE = """<!doctype html><html><head><meta charset="utf-8"><title>quillo from Python</title>
<style>
  body { margin: 0; font: 28px sans-serif; color: #fff;
         background: linear-gradient(135deg, #1b4f72, #7d3c98); height: 100vh;
         display: flex; align-items: center; justify-content: center; }
  .card { padding: 24px 36px; border-radius: 16px; background: rgba(255,255,255,0.15); }
</style></head>
<body><div class="card">Hello from <b>quillo</b> and Python</div></body></html>"""

# Run once the page has loaded (its title notice): two animation frames later the loaded page
# has been painted into the memory, and the page says so with an alert, answered here.
PROBE = "shot.py: painted"
PROBE_SCRIPT = ("requestAnimationFrame(() => requestAnimationFrame(() => alert(%s)))"
                % repr(PROBE))
# The page counts as settled after this long without new pixels...
SETTLE_SECONDS = 0.3
# ...or, if it keeps painting, this long after its first frame.
BUSY_PAGE_SECONDS = 3.0


def write_ppm(path, frame):
    with open(path, "wb") as out:
        out.write(b"P6\n%d %d\n255\n" % (frame.width, frame.height))
        out.write(frame.to_rgb())


def write_png(path, frame):
    from PIL import Image  # only here: the PPM path needs nothing beyond the binding
    # Pillow reads the library's B, G, R, A memory directly ("BGRA" raw mode).
    image = Image.frombuffer("RGBA", (frame.width, frame.height), frame.tobytes(), "raw",
                             frame.layout, frame.stride, -1 if frame.bottom_up else 1)
    image.convert("RGB").save(path)


def have_pillow():
    try:
        import PIL.Image  # noqa: F401
    except ImportError:
        return False
    return True


def settle(view, timeout):
    """Polls until the page has loaded and painted, then until the painting pauses; returns
    False on timeout. A wait for a pause alone can take a blank frame from before the load for
    the page on a busy machine."""
    deadline = time.monotonic() + timeout
    probed = painted = False
    while not painted:
        if time.monotonic() >= deadline:
            return False
        for notice in view.poll():
            if notice.kind is quillo.NoticeKind.TITLE and not probed:
                view.run_script(PROBE_SCRIPT)  # every page gets a title notice once loaded
                probed = True
            elif notice.kind is quillo.NoticeKind.DIALOG:
                painted = painted or (probed and notice.text == PROBE)
                view.accept_dialog()  # a dialog would hold the page forever
            elif notice.kind is quillo.NoticeKind.LOAD_ERROR:
                print(f"load error {notice.value}: {notice.text}", file=sys.stderr)
        time.sleep(0.005)
    first = last = time.monotonic()
    while True:
        now = time.monotonic()
        if now - last >= SETTLE_SECONDS or now - first >= BUSY_PAGE_SECONDS:
            return True
        for notice in view.poll():
            if notice.kind is quillo.NoticeKind.FRAME:
                last = time.monotonic()
            elif notice.kind is quillo.NoticeKind.DIALOG:
                view.accept_dialog()  # a dialog would hold the page forever
            elif notice.kind is quillo.NoticeKind.LOAD_ERROR:
                print(f"load error {notice.value}: {notice.text}", file=sys.stderr)
        time.sleep(0.005)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("url", nargs="?", help="page to show (default: a built-in page)")
    parser.add_argument("--html", help="HTML to show instead of a URL")
    parser.add_argument("--width", type=int, default=800)
    parser.add_argument("--height", type=int, default=450)
    parser.add_argument("--out", default="quillo-shot.png", help="picture file (.png or .ppm)")
    parser.add_argument("--timeout", type=float, default=30.0,
                        help="seconds to wait for the page to load and paint")
    args = parser.parse_args(argv)
    if args.url and args.html:
        parser.error("give a URL or --html, not both")

    out = args.out
    use_png = not out.lower().endswith(".ppm") and have_pillow()
    if not use_png and not out.lower().endswith(".ppm"):
        out = os.path.splitext(out)[0] + ".ppm"
        print("Pillow is not installed: writing a PPM instead", file=sys.stderr)

    source = {"url": args.url} if args.url else {"html": args.html or DEMO_PAGE}
    with quillo.WebView(width=args.width, height=args.height, **source) as view:
        if not settle(view, args.timeout):
            print(f"the page did not load and paint within {args.timeout} s", file=sys.stderr)
            return 3
        frame = view.frame.copy()
        title = view.title
    (write_png if use_png else write_ppm)(out, frame)
    print(out + (f"  ({title})" if title else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
