#!/usr/bin/python3
"""The Lua binding and the LÖVE example (examples/love) under Xvfb, with real clicks and keys
from the X server and the screen read back from it.

  love_example_test.py LIBRARY

It starts Xvfb and first runs the binding's own checks (tests/love/binding: text as LÖVE
delivers it, beyond U+FFFF too, Backspace, Enter, the wheel, the memory's layout, without a
window). Then it runs `love examples/love` with QUILLO_LIBRARY=LIBRARY and the game's report on
standard output, and, as a player would:
  1. waits until the game has shown the page, and checks the screen: the panel shows the page's
     own colours (its background and the orange paint button) where the page puts them;
  2. clicks the orange button with the X server's pointer: the page's refused game: link reaches
     the game, which paints the ship, and the ship on the screen turns orange;
  3. clicks the name field, types "Kite 7" with the X server's keyboard and presses Enter: the
     page sends the name and the game shows it;
  4. turns the wheel over the panel down and up (the page sees both), then clicks Launch: the
     page's confirm() dialog is drawn by the game; Escape cancels it, a second Launch and Enter
     accept it, and the ship is launched;
  5. clicks Quit: the game shuts the engine down and exits with 0.
Exit 0 on success, 1 with a message, 77 when love, Xvfb, xdotool or xwd is missing (skipped).
"""

import os
import queue
import shutil
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
from xscreen import (WAIT_SECONDS, Failure, click, near, screen, start_xvfb,  # noqa: E402
                     wait_for_pixel, xdotool)

GAME = os.path.join(ROOT, "examples", "love")
BINDING_CHECKS = os.path.join(ROOT, "tests", "love", "binding")
SKIP = 77

# Where panel.html puts its controls (page coordinates) and its colours.
ORANGE_BUTTON = (24 + 48, 64 + 24)
NAME_FIELD = (24 + 98, 164 + 17)
LAUNCH_BUTTON = (24 + 168, 232 + 28)
QUIT_BUTTON = (24 + 60, 320 + 20)
PAGE_BACKGROUND_AT = (420, 200)  # a point of the page with nothing on it
PAGE_BACKGROUND = (24, 40, 72)
ORANGE = (255, 128, 64)


class Game:
    """The game's process and the lines of its report."""

    def __init__(self, env):
        self.process = subprocess.Popen(["love", GAME], env=env, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True, bufsize=1)
        self.lines = queue.Queue()
        self.seen = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def mark(self):
        """A place in the report: wait_for(..., since=mark) also finds lines read after it."""
        return len(self.seen)

    def wait_for(self, prefix, what, since=None):
        """The first report line starting with prefix: among the lines read since the mark, if
        one is given, else among the lines still to come."""
        if since is not None:
            for line in self.seen[since:]:
                if line.startswith(prefix):
                    return line
        deadline = time.monotonic() + WAIT_SECONDS
        while True:
            try:
                line = self.lines.get(timeout=max(0.1, deadline - time.monotonic()))
            except queue.Empty:
                line = ""
            if line is None:
                raise Failure(f"the game ended before {what}; its output:\n" +
                              "\n".join(self.seen))
            if line:
                self.seen.append(line)
                if line.startswith(prefix):
                    return line
            if time.monotonic() > deadline:
                raise Failure(f"no '{prefix}' from the game ({what}); its output:\n" +
                              "\n".join(self.seen[-40:]))


def play(library):
    xvfb, display = start_xvfb()
    home = tempfile.mkdtemp(prefix="quillo-love.")
    game = None
    try:
        env = {key: value for key, value in os.environ.items()
               if key not in ("WAYLAND_DISPLAY", "LD_PRELOAD")}
        env.update(DISPLAY=display, QUILLO_LIBRARY=library, QUILLO_LOVE_REPORT="1", HOME=home,
                   XDG_DATA_HOME=os.path.join(home, "data"),
                   XDG_CACHE_HOME=os.path.join(home, "cache"),
                   XDG_CONFIG_HOME=os.path.join(home, "config"))
        checks = subprocess.run(["love", BINDING_CHECKS], env=env, capture_output=True, text=True,
                                timeout=WAIT_SECONDS * 2)
        if checks.returncode != 0 or "binding: passed" not in checks.stdout:
            raise Failure(f"the binding's checks (exit {checks.returncode}):\n{checks.stdout}"
                          f"{checks.stderr}")
        print("love test: the binding's checks passed", flush=True)

        game = Game(env)
        loaded = game.wait_for("library ", "the binding loaded the library")
        if os.path.realpath(loaded.split(" ", 1)[1]) != os.path.realpath(library):
            raise Failure(f"the binding loaded {loaded}, not {library}")
        ready = game.wait_for("ready panel", "the page's first frame and title")
        _, _, px, py, _, _, _, sx, sy = ready.split()
        px, py, sx, sy = int(px), int(py), int(sx), int(sy)
        print(f"love test: the panel is at ({px}, {py}), the ship at ({sx}, {sy})", flush=True)

        # 1. The page's pixels on the screen, where the page puts them.
        wait_for_pixel(display, px + PAGE_BACKGROUND_AT[0], py + PAGE_BACKGROUND_AT[1],
                       PAGE_BACKGROUND, "the panel's background")
        wait_for_pixel(display, px + ORANGE_BUTTON[0] + 40, py + ORANGE_BUTTON[1] - 18, ORANGE,
                       "the orange paint button")
        wait_for_pixel(display, sx, sy, (255, 255, 255), "the unpainted ship")
        print("love test: the screen shows the page in the panel", flush=True)

        # 2. A click on the page's button reaches the game as a refused game: link; the click
        # on the panel also gives the page the keyboard.
        first_click = game.mark()
        click(display, px + ORANGE_BUTTON[0], py + ORANGE_BUTTON[1])
        line = game.wait_for("ship colour", "the orange button's link")
        if line != "ship colour 255 128 64":
            raise Failure(f"the game painted the ship with '{line}'")
        wait_for_pixel(display, sx, sy, ORANGE, "the painted ship")
        print("love test: a click on the page's button painted the ship orange", flush=True)

        # 3. Typing into the page: the field gets the X server's keys through LÖVE.
        game.wait_for("page focus 1", "the page's keyboard focus", since=first_click)
        naming = game.mark()
        click(display, px + NAME_FIELD[0], py + NAME_FIELD[1])
        # Keys may overtake a click: type once the field has the focus (the page says so).
        game.wait_for("title Workshop - naming", "the name field's focus", since=naming)
        xdotool(display, "type", "--delay", "40", "Kite 7")
        xdotool(display, "key", "Return")
        line = game.wait_for("ship name", "the name typed into the page")
        if line != "ship name Kite 7":
            raise Failure(f"the page sent '{line}' for the name typed as 'Kite 7'")
        print("love test: text typed into the page named the ship", flush=True)

        # 4. The wheel, then a dialog drawn by the game: cancelled, then accepted.
        xdotool(display, "mousemove", "--sync", str(px + 420), str(py + 300))
        xdotool(display, "click", "5")
        game.wait_for("title Workshop - wheel down", "the wheel turned down over the panel")
        xdotool(display, "click", "4")
        game.wait_for("title Workshop - wheel up", "the wheel turned up over the panel")
        click(display, px + LAUNCH_BUTTON[0], py + LAUNCH_BUTTON[1])
        line = game.wait_for("dialog ", "the Launch button's confirm()")
        if line != "dialog confirm Launch the ship?":
            raise Failure(f"the game reported '{line}'")
        xdotool(display, "key", "Escape")
        game.wait_for("dialog answered cancel", "Escape on the dialog")
        click(display, px + LAUNCH_BUTTON[0], py + LAUNCH_BUTTON[1])
        game.wait_for("dialog confirm", "the second confirm()")
        xdotool(display, "key", "Return")
        game.wait_for("dialog answered ok", "Enter on the dialog")
        game.wait_for("ship launched", "the launch the accepted dialog allows")
        if any(line.startswith("ship launched") for line in game.seen[:-1]):
            raise Failure("the cancelled dialog launched the ship")
        print("love test: the page's confirm() was drawn by the game and answered", flush=True)

        # 5. Quit from the page: the game shuts the engine down and exits cleanly.
        click(display, px + QUIT_BUTTON[0], py + QUIT_BUTTON[1])
        game.wait_for("bye", "the engine's shutdown at quit")
        code = game.process.wait(timeout=WAIT_SECONDS)
        if code != 0:
            raise Failure(f"the game exited with {code}")
        errors = [line for line in game.seen if "Error" in line or "error" in line]
        if errors:
            raise Failure("the game reported errors: " + "; ".join(errors))
        print("love test: quit from the page; the game exited with 0", flush=True)
    finally:
        if game and game.process.poll() is None:
            game.process.kill()
            game.process.wait()
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(home, ignore_errors=True)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: love_example_test.py LIBRARY")
    missing = [tool for tool in ("love", "Xvfb", "xdotool", "xwd") if not shutil.which(tool)]
    if missing:
        print("love test skipped: not installed: " + ", ".join(missing) +
              " (apt-get install love xvfb xdotool x11-apps)")
        return SKIP
    try:
        play(os.path.abspath(sys.argv[1]))
    except (Failure, subprocess.SubprocessError) as error:
        print(f"love test: FAILED: {error}", flush=True)
        return 1
    print("love test: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
