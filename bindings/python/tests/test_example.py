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
