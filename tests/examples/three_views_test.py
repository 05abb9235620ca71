#!/usr/bin/python3
"""The example host examples/views/three_views.c, run as it stands, and the screen it composes
read back: three views at once, each as its page and the host made it.

  three_views_test.py THREE_VIEWS

Checks, in the PPM the example writes:
  - top left, the transparent heads-up display at scale 2 laid over the host's checkerboard: the
    checkerboard where the page is transparent, the half-transparent navy panel blended over it
    (premultiplied), the panel's corner where the page's CSS pixels put it at twice the size;
  - top right, the view resized every frame: its green bar ends exactly at the last width the
    example reports, the host's gray beyond it;
  - bottom left, the menu served from app://: the style sheet's background, the SVG logo, and
    the answer box in the style the page gives it once the host's reply to its post has come.
Exit 0 on success, 1 with a message.
"""

import os
import re
import subprocess
import sys
import tempfile

SCREEN_W, SCREEN_H = 1280, 720


def checker(x, y):
    return 0xCC if (x // 16 + y // 16) % 2 == 0 else 0x88


def read_ppm(path):
    data = open(path, "rb").read()
    match = re.match(rb"P6\n(\d+) (\d+)\n255\n", data)
    if not match:
        raise AssertionError(f"{path} is no PPM")
    width, height = int(match.group(1)), int(match.group(2))
    body = data[match.end():]

    def pixel(x, y):
        at = (y * width + x) * 3
        return tuple(body[at:at + 3])

    return width, height, pixel


def main():
    example = sys.argv[1]
    failures = []

    def expect(pixel, x, y, want, what, tolerance=3):
        got = pixel(x, y)
        if any(abs(a - b) > tolerance for a, b in zip(got, want)):
            failures.append(f"{what} at ({x}, {y}): {got}, want {want}")

    with tempfile.TemporaryDirectory() as scratch:
        out = os.path.join(scratch, "screen.ppm")
        run = subprocess.run([example, out], capture_output=True, text=True, timeout=300)
        print(run.stdout, run.stderr, sep="")
        if run.returncode != 0:
            print(f"FAILED: three_views exited {run.returncode}")
            return 1
        width = int(re.search(r"last (\d+) pixels wide", run.stdout).group(1))
        w, h, pixel = read_ppm(out)
        if (w, h) != (SCREEN_W, SCREEN_H):
            print(f"FAILED: a {w}x{h} screen")
            return 1

    # The HUD: the panel is rgba(0,0,128,0.5) from CSS (10,10) to (170,70), so device pixels
    # (20,20) to (340,140) at scale 2; premultiplied navy over the checkerboard elsewhere.
    for x, y in ((400, 300), (630, 350), (5, 5), (345, 100)):
        gray = checker(x, y)
        expect(pixel, x, y, (gray, gray, gray), "the checkerboard through the HUD")
    for x, y in ((200, 130), (330, 100)):
        gray = checker(x, y)
        tint = (gray * 127 + 127) // 255
        expect(pixel, x, y, (tint, tint, 64 + tint), "the HUD's panel over the checkerboard", 4)
    expect(pixel, 200, 145, (checker(200, 145),) * 3, "below the panel (it is twice as big)")

    # The resized view: its green bar (40 CSS pixels high) spans its last width exactly.
    expect(pixel, 640, 20, (0, 200, 0), "the resized view's bar, left end")
    expect(pixel, 640 + width - 1, 20, (0, 200, 0), "the resized view's bar, right end")
    if width < 640:
        expect(pixel, 640 + width, 20, (0x20, 0x20, 0x20), "the host's gray beyond the view")
    expect(pixel, 640 + width // 2, 200, (32, 64, 32), "the resized page's background")

    # The menu, from app://game/: style sheet, logo, and the host's answer.
    expect(pixel, 500, 360 + 300, (40, 40, 90), "the style sheet's background")
    expect(pixel, 20 + 32, 360 + 20 + 32, (255, 128, 0), "the SVG logo")
    expect(pixel, 300, 360 + 150, (255, 200, 0), "the answer box after the host's reply")

    if failures:
        print("FAILED:\n  " + "\n  ".join(failures))
        return 1
    print("three views: the HUD, the resized view and the menu are as the host made them")
    return 0


if __name__ == "__main__":
    sys.exit(main())
