"""The example script saves the page it shows."""

import importlib.util
import os
import subprocess
import sys

import pytest

SHOT = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "examples",
                    "shot.py")
PAGE = "<body style='margin:0;background:rgb(250,120,10)'></body>"


def shoot(out, *extra):
    env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")
    result = subprocess.run([sys.executable, SHOT, "--html", PAGE, "--width", "40",
                             "--height", "30", "--out", str(out), *extra],
                            capture_output=True, text=True, timeout=120, env=env)
    assert result.returncode == 0, result.stderr
    return result.stdout.split()[0]


def test_writes_a_ppm(tmp_path):
    written = shoot(tmp_path / "page.ppm")
    with open(written, "rb") as picture:
        data = picture.read()
    header = b"P6\n40 30\n255\n"
    assert data.startswith(header)
    pixels = data[len(header):]
    assert len(pixels) == 40 * 30 * 3
    assert all(abs(a - b) <= 2 for a, b in zip(pixels[:3], (250, 120, 10)))
    assert all(abs(a - b) <= 2 for a, b in zip(pixels[-3:], (250, 120, 10)))


@pytest.mark.skipif(importlib.util.find_spec("PIL") is None,
                    reason="Pillow (python3-pil) is not installed")
def test_writes_a_png(tmp_path):
    from PIL import Image
    written = shoot(tmp_path / "page.png")
    assert written.endswith(".png")
    with Image.open(written) as image:
        assert image.size == (40, 30)
        assert all(abs(a - b) <= 2 for a, b in zip(image.getpixel((39, 29)), (250, 120, 10)))


@pytest.mark.skipif(importlib.util.find_spec("PIL") is None,
                    reason="Pillow (python3-pil) is not installed")
def test_views_example_saves_both_views(tmp_path):
    from PIL import Image
    script = os.path.join(os.path.dirname(SHOT), "views.py")
    env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")
    result = subprocess.run([sys.executable, script, "--out-dir", str(tmp_path)],
                            capture_output=True, text=True, timeout=120, env=env)
    assert result.returncode == 0, result.stderr
    menu_path, hud_path = result.stdout.split()
    near = lambda a, b: all(abs(x - y) <= 2 for x, y in zip(a, b))  # noqa: E731
    with Image.open(menu_path) as menu:
        assert menu.size == (480, 270)
        assert near(menu.getpixel((5, 5)), (46, 134, 222, 255))   # Python's answer to the page
        assert near(menu.getpixel((40, 32)), (245, 176, 65, 255))  # the logo served from a dict
        assert near(menu.getpixel((400, 250)), (30, 30, 40, 255))  # the served style sheet
    with Image.open(hud_path) as hud:
        assert hud.size == (272, 112)  # device pixels at scale 2
        assert hud.getpixel((4, 4)) == (0, 0, 0, 0)
        assert near(hud.getpixel((24, 56)), (0, 0, 0, 153))  # 60 % black, alpha kept
