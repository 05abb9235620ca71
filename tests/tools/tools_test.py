#!/usr/bin/python3
"""quillo-shot and quillo-view as their users run them, on one page with a transparent
background, a half-transparent white square, a red square that turns blue on a double click, and
a text field; its title reports its CSS width, devicePixelRatio, resize events and the field's
text.

  tools_test.py QUILLO_SHOT QUILLO_VIEW

1. quillo-shot --scale 2 --transparent writes a PNG twice the CSS size whose transparent parts
   have alpha 0, whose half-transparent white is white at half alpha (straight, as PNG stores
   it), and whose red is opaque; --checkerboard writes the same page laid over the checkerboard.
   Both of quillo-shot's roads (the eight exports, and a view at --scale 2) wait for a page to be
   ready: an image the page adds after its load event, which a local server answers late, is
   in the picture.
2. quillo-view --transparent --scale 2 under Xvfb: the window shows the checkerboard through the
   page; a double click of the X server's pointer turns the square blue; a click in the field
   and typed text reach the page; Ctrl+C puts the field's text on the X clipboard and Ctrl+V
   pastes it back; --mute mutes the page and Ctrl+Shift+M lets it be heard again, without a key
   reaching the page; the window resized by the X server lays the page out again at
   the new size without a reload (the text typed is still there); SIGINT ends it cleanly.
Exit 0 on success, 1 with a message; part 2 is skipped (said on the output) without Xvfb,
xdotool or xwd.
"""

import http.server
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
from xscreen import WAIT_SECONDS, Failure, near, screen, start_xvfb, xdotool  # noqa: E402

PAGE = """<!doctype html><meta charset="utf-8">
<body style="margin:0; background:transparent">
<div id="half" style="position:absolute; left:10px; top:10px; width:50px; height:50px;
  background:rgba(255,255,255,0.5)"></div>
<div id="box" style="position:absolute; left:70px; top:10px; width:50px; height:50px;
  background:rgb(255,0,0)"></div>
<input id="field" style="position:absolute; left:10px; top:70px; width:150px; height:24px;
  font:16px sans-serif; border:0; padding:0; background:white">
<script>
let resizes = 0;
function report() {
  document.title = `w=${innerWidth} dpr=${devicePixelRatio} resizes=${resizes} ` +
                   `text=${field.value}`;
}
addEventListener('resize', () => { resizes++; report(); });
box.addEventListener('dblclick', () => { box.style.background = 'rgb(0,0,255)'; });
field.addEventListener('input', report);
report();
</script>
"""

# The tools' checkerboard: 16-pixel squares, light (0xCC) in the top-left corner, dark 0x88.
def checker(x, y):
    return 0xCC if (x // 16 + y // 16) % 2 == 0 else 0x88


def over(channel, alpha, gray):
    return min(255, channel + (gray * (255 - alpha) + 127) // 255)


def read_png(path):
    """(width, height, channels, rows) of an 8-bit RGB or RGBA PNG, rows of bytes."""
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise Failure(f"{path} is no PNG")
    at, idat = 8, b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        at += 12 + length
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
        elif kind == b"IDAT":
            idat += body
    if depth != 8 or colour not in (2, 6):
        raise Failure(f"{path}: depth {depth}, colour type {colour}; want 8-bit RGB(A)")
    channels = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        line = raw[y * (stride + 1):(y + 1) * (stride + 1)]
        kind, row = line[0], bytearray(line[1:])
        for i in range(stride):
            left = row[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                row[i] = (row[i] + left) & 0xFF
            elif kind == 2:
                row[i] = (row[i] + up) & 0xFF
            elif kind == 3:
                row[i] = (row[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                pred = left if pa <= pb and pa <= pc else up if pb <= pc else corner
                row[i] = (row[i] + pred) & 0xFF
        rows.append(bytes(row))
        previous = row
    return width, height, channels, rows


def png_pixel(png, x, y):
    _, _, channels, rows = png
    return tuple(rows[y][x * channels:(x + 1) * channels])


def expect_near(got, want, what, tolerance=3):
    if len(got) != len(want) or any(abs(a - b) > tolerance for a, b in zip(got, want)):
        raise Failure(f"{what}: {got}, want {want}")


def run_shot(shot, page, out, *options):
    result = subprocess.run([shot, "--width", "200", "--height", "120", "--timeout", "60",
                             *options, "-o", out, page], capture_output=True, text=True,
                            timeout=WAIT_SECONDS * 2)
    if result.returncode != 0:
        raise Failure(f"quillo-shot {' '.join(options)} exited {result.returncode}:\n"
                      f"{result.stdout}{result.stderr}")
    if "title: w=200 dpr=2 " not in result.stdout:
        raise Failure(f"the page did not see 200 CSS pixels at scale 2:\n{result.stdout}")
    return read_png(out)


def check_shot(shot, page, scratch):
    png = run_shot(shot, page, os.path.join(scratch, "alpha.png"), "--scale", "2",
                   "--transparent")
    if png[:3] != (400, 240, 4):
        raise Failure(f"--scale 2 --transparent: a {png[0]}x{png[1]} PNG with {png[2]} "
                      "channels, want 400x240 RGBA")
    expect_near(png_pixel(png, 300, 200), (0, 0, 0, 0), "a transparent pixel", 0)
    expect_near(png_pixel(png, 70, 70), (255, 255, 255, 128), "half-transparent white", 2)
    expect_near(png_pixel(png, 190, 70), (255, 0, 0, 255), "the red square", 0)
    # The square's edge lies on device pixels 20 and 120: sharp at scale 2, no blur around it.
    expect_near(png_pixel(png, 19, 70), (0, 0, 0, 0), "left of the square's edge", 0)

    board = run_shot(shot, page, os.path.join(scratch, "board.png"), "--scale", "2",
                     "--checkerboard")
    if board[:3] != (400, 240, 3):
        raise Failure(f"--checkerboard: {board[0]}x{board[1]}x{board[2]}, want 400x240 RGB")
    for x, y in ((300, 200), (316, 200), (0, 0), (399, 239)):
        gray = checker(x, y)
        expect_near(png_pixel(board, x, y), (gray, gray, gray), f"checkerboard at ({x}, {y})", 0)
    for x, y in ((30, 30), (50, 30)):  # half-white over a light and a dark square
        want = over(128, 128, checker(x, y))
        expect_near(png_pixel(board, x, y), (want, want, want), f"half white at ({x}, {y})", 2)
    print("quillo-shot: scale 2, transparency and the checkerboard are right")


def bmp(width, height, rgb):
    """An uncompressed 24-bit BMP of one colour."""
    row = bytes((rgb[2], rgb[1], rgb[0])) * width
    row += b"\0" * (-len(row) % 4)
    pixels = row * height
    return (b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54) +
            struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835,
                        0, 0) + pixels)


LATE_PAGE = b"""<!doctype html><title>late</title><body style="margin:0;background:#fff">
<script>
addEventListener('load', () => {
  const image = new Image();
  image.style.cssText = 'position:absolute;left:0;top:0;width:60px;height:60px';
  image.src = '/late.bmp';
  document.body.append(image);
});
</script>"""


def check_shot_waits_for_ready(shot, scratch):
    """An image the page asks for after its load event, answered 1.5 s later, is in the picture
    of both roads, though the settle time is a tenth of that."""
    picture = bmp(8, 8, (0, 150, 70))

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            late = self.path == "/late.bmp"
            if late:
                time.sleep(1.5)
            body = picture if late else LATE_PAGE
            self.send_response(200)
            self.send_header("Content-Type", "image/bmp" if late else "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        url = f"http://127.0.0.1:{server.server_address[1]}/"
        for options, scale in (((), 1), (("--scale", "2"), 2)):
            out = os.path.join(scratch, f"late{scale}.png")
            result = subprocess.run([shot, "--width", "100", "--height", "80", "--timeout", "60",
                                     "--settle", "150", *options, "-o", out, url],
                                    capture_output=True, text=True, timeout=WAIT_SECONDS * 2)
            if result.returncode != 0:
                raise Failure(f"quillo-shot {' '.join(options)} exited {result.returncode}:\n"
                              f"{result.stdout}{result.stderr}")
            expect_near(png_pixel(read_png(out), 30 * scale, 30 * scale)[:3], (0, 150, 70),
                        f"the late image at scale {scale}")
    finally:
        server.shutdown()
        server.server_close()
    print("quillo-shot: both roads wait for the page's late image")


class Viewer:
    """quillo-view's process and its output lines, read as they come."""

    def __init__(self, argv, env):
        self.process = subprocess.Popen(argv, env=env, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True)
        self.lines = []
        self.lock = threading.Lock()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            with self.lock:
                self.lines.append(line.rstrip("\n"))

    def wait_for(self, pattern, what):
        deadline = time.monotonic() + WAIT_SECONDS
        while True:
            # Read after the end is known, so that the last lines are in.
            ended = self.process.poll() is not None
            time.sleep(0.05)
            with self.lock:
                seen = list(self.lines)
            for line in seen:
                if re.search(pattern, line):
                    return line
            if ended or time.monotonic() > deadline:
                why = f"ended ({self.process.returncode})" if ended else "still runs"
                raise Failure(f"no {what} from quillo-view, which {why}; its output:\n" +
                              "\n".join(seen[-40:]))


def wait_for_screen(display, x, y, want, what):
    deadline = time.monotonic() + WAIT_SECONDS
    while True:
        got = screen(display)[2](x, y)
        if near(got, want, 3):
            return
        if time.monotonic() > deadline:
            raise Failure(f"{what}: the screen shows {got} at ({x}, {y}), not {want}")
        time.sleep(0.1)


def check_viewer(view, page):
    missing = [tool for tool in ("Xvfb", "xdotool", "xwd") if not shutil.which(tool)]
    if missing:
        print(f"quillo-view: skipped, {', '.join(missing)} missing")
        return
    xvfb, display = start_xvfb()
    viewer = None
    try:
        env = {**os.environ, "DISPLAY": display}
        viewer = Viewer([view, "--transparent", "--scale", "2", "--width", "200", "--height",
                         "120", "--mute", page], env)
        viewer.wait_for(r"^muted: yes$", "the page muted from the start")
        viewer.wait_for(r"^size: 400x240$", "first frame at 400x240")
        viewer.wait_for(r"^title: w=200 dpr=2 resizes=0 text=$", "the page's first title")
        window = subprocess.run(["xdotool", "search", "--sync", "--name", "^w=200"], env=env,
                                check=True, capture_output=True, text=True).stdout.split()[0]
        geometry = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window], env=env,
                                  check=True, capture_output=True, text=True).stdout
        x0 = int(re.search(r"X=(-?\d+)", geometry).group(1))
        y0 = int(re.search(r"Y=(-?\d+)", geometry).group(1))

        gray = checker(300, 200)
        wait_for_screen(display, x0 + 300, y0 + 200, (gray, gray, gray),
                        "the checkerboard through the page")
        wait_for_screen(display, x0 + 190, y0 + 70, (255, 0, 0), "the red square")

        xdotool(display, "mousemove", "--sync", str(x0 + 190), str(y0 + 70))
        xdotool(display, "click", "--repeat", "2", "--delay", "60", "1")
        wait_for_screen(display, x0 + 190, y0 + 70, (0, 0, 255), "the square after a dblclick")

        xdotool(display, "mousemove", "--sync", str(x0 + 60), str(y0 + 164))
        xdotool(display, "click", "1")
        xdotool(display, "type", "--delay", "40", "Hi 7")
        viewer.wait_for(r"^title: w=200 dpr=2 resizes=0 text=Hi 7$", "the typed text")

        # The page's copy goes to the desktop's clipboard, and Ctrl+V pastes it back from there.
        xdotool(display, "key", "--delay", "60", "ctrl+a", "ctrl+c")
        viewer.wait_for(r"^clipboard: copy Hi 7$", "the copy on the clipboard")
        xdotool(display, "key", "--delay", "60", "End", "ctrl+v")
        viewer.wait_for(r"^title: w=200 dpr=2 resizes=0 text=Hi 7Hi 7$", "the pasted text")
        # Ctrl+Shift+M lets the page be heard again, and is the viewer's: the page gets no key.
        xdotool(display, "key", "ctrl+shift+m")
        viewer.wait_for(r"^muted: no$", "the page heard again")

        xdotool(display, "windowsize", window, "500", "300")
        viewer.wait_for(r"^size: 500x300$", "a frame at the new size")
        viewer.wait_for(r"^title: w=250 dpr=2 resizes=[1-9]\d* text=Hi 7Hi 7$",
                        "the page laid out again without a reload")
        gray = checker(460, 280)
        wait_for_screen(display, x0 + 460, y0 + 280, (gray, gray, gray),
                        "the checkerboard in the new part of the window")

        viewer.process.send_signal(signal.SIGINT)
        code = viewer.process.wait(timeout=WAIT_SECONDS)
        if code != 0:
            raise Failure(f"quillo-view exited {code} after SIGINT")
        print("quillo-view: checkerboard, dblclick, typing, the clipboard, muting and resizing are "
              "right")
    finally:
        if viewer and viewer.process.poll() is None:
            viewer.process.kill()
        xvfb.kill()
        xvfb.wait()


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    shot, view = sys.argv[1:]
    with tempfile.TemporaryDirectory() as scratch:
        page = os.path.join(scratch, "page.html")
        with open(page, "w", encoding="utf-8") as f:
            f.write(PAGE)
        try:
            check_shot(shot, page, scratch)
            check_shot_waits_for_ready(shot, scratch)
            check_viewer(view, page)
        except Failure as failure:
            print(f"FAILED: {failure}")
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
