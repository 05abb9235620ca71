"""An X server of the tests' own (Xvfb), what it shows (read back with xwd) and its pointer and
keyboard (xdotool): the helpers of the tests that drive windowed hosts as a user would."""

import os
import struct
import subprocess
import time

# Generous: the shared test machine may be busy; a wait never decides the result by its length,
# only gives up.
WAIT_SECONDS = 90


class Failure(Exception):
    pass


def read_xwd(data):
    """(width, height, pixel(x, y) -> (r, g, b)) of an xwd dump of a true-colour screen."""
    fields = struct.unpack(">25I", data[:100])
    header_size, _, pixmap_format, depth, width, height = fields[:6]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    red_mask, green_mask, blue_mask = fields[14:17]
    colours = fields[19]
    if pixmap_format != 2 or bits_per_pixel not in (24, 32) or depth < 24:
        raise Failure(f"unexpected xwd format {pixmap_format}, depth {depth}, {bits_per_pixel} bpp")
    start = header_size + colours * 12
    size = bits_per_pixel // 8
    order = "little" if byte_order == 0 else "big"

    def shift(mask):
        return (mask & -mask).bit_length() - 1

    shifts = [(mask, shift(mask)) for mask in (red_mask, green_mask, blue_mask)]

    def pixel(x, y):
        at = start + y * bytes_per_line + x * size
        value = int.from_bytes(data[at:at + size], order)
        return tuple((value & mask) >> s for mask, s in shifts)

    return width, height, pixel


def screen(display):
    dump = subprocess.run(["xwd", "-root", "-silent", "-display", display], check=True,
                          capture_output=True).stdout
    return read_xwd(dump)


def near(colour, want, tolerance=6):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, want))


def wait_for_pixel(display, x, y, want, what):
    deadline = time.monotonic() + WAIT_SECONDS
    while True:
        _, _, pixel = screen(display)
        got = pixel(x, y)
        if near(got, want):
            return
        if time.monotonic() > deadline:
            raise Failure(f"{what}: the screen shows {got} at ({x}, {y}), not {want}")
        time.sleep(0.1)


def xdotool(display, *args):
    subprocess.run(["xdotool", *args], check=True, env={**os.environ, "DISPLAY": display})


def click(display, x, y):
    xdotool(display, "mousemove", "--sync", str(x), str(y))
    xdotool(display, "click", "1")


def start_xvfb():
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x700x24",
                             "-nolisten", "tcp"], pass_fds=[write], stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as f:
        number = f.readline().strip()
    if not number:
        xvfb.kill()
        raise Failure("Xvfb did not start")
    return xvfb, ":" + number
