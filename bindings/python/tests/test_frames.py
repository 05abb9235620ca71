"""Pixels: the host memory a WebView owns is painted in the layout it asked for, and Frame
reads it back in page coordinates."""

import pytest

import quillo
from pages import near, page

TOP = (200, 30, 60)  # every channel different, so swapped red and blue show
BOTTOM = (20, 90, 240)
WIDTH, HEIGHT = 96, 64
# Page positions near the corners and the split line, with the colour expected there.
PROBES = {(0, 0): TOP, (WIDTH - 1, HEIGHT // 2 - 1): TOP,
          (0, HEIGHT // 2): BOTTOM, (WIDTH - 1, HEIGHT - 1): BOTTOM}


def split_page(top, bottom):
    return page("split", f"<div style='height:{HEIGHT // 2}px;background:rgb{top}'></div>"
                         f"<div style='height:{HEIGHT - HEIGHT // 2}px;background:rgb{bottom}'>"
                         "</div>")


@pytest.mark.parametrize("swap,bottom_up", [(False, False), (True, False), (False, True),
                                            (True, True)],
                         ids=["bgra", "rgba", "bgra-bottom-up", "rgba-bottom-up"])
def test_memory_follows_the_requested_layout(swap, bottom_up):
    view = quillo.WebView(html=split_page(TOP, BOTTOM), width=WIDTH, height=HEIGHT,
                          swap_red_blue=swap, bottom_up=bottom_up)

    # How a host reads the raw memory, worked out here from the header's rules alone.
    def stored(x, y):
        row = HEIGHT - 1 - y if bottom_up else y
        offset = row * WIDTH * 4 + x * 4
        return tuple(view.pixels[offset:offset + 4])

    def expected_bytes(rgb):
        r, g, b = rgb
        return (r, g, b, 255) if swap else (b, g, r, 255)

    view.wait_until(lambda: all(near(stored(x, y), expected_bytes(c))
                                for (x, y), c in PROBES.items()), timeout=30)
    # Pixels can land in memory before the poll that reports them as a new frame.
    view.wait_until(lambda: view.frame_count >= 1, timeout=30)

    frame = view.frame
    assert (frame.width, frame.height, frame.stride) == (WIDTH, HEIGHT, WIDTH * 4)
    assert frame.layout == ("RGBA" if swap else "BGRA")
    assert frame.bottom_up == bottom_up
    for (x, y), colour in PROBES.items():
        assert near(frame.pixel(x, y), colour + (255,)), (x, y)
    rgba = frame.to_rgba()
    assert len(rgba) == WIDTH * HEIGHT * 4
    assert near(rgba[:4], TOP + (255,)) and near(rgba[-4:], BOTTOM + (255,))
    rgb = frame.to_rgb()
    assert len(rgb) == WIDTH * HEIGHT * 3
    assert near(rgb[:3], TOP) and near(rgb[-3:], BOTTOM)
    with pytest.raises(IndexError):
        frame.pixel(WIDTH, 0)

    # A snapshot keeps its pixels while the live memory shows the next page.
    snapshot = frame.copy()
    view.load_html(split_page(BOTTOM, TOP))
    view.wait_until(lambda: near(view.frame.pixel(0, 0), BOTTOM + (255,)), timeout=30)
    assert near(snapshot.pixel(0, 0), TOP + (255,))
    assert near(view.frame.pixel(WIDTH - 1, HEIGHT - 1), TOP + (255,))
