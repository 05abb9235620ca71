"""The engine's life in a process: one page at a time, the context manager's shutdown, and
closing and reopening the page."""

import pytest

import quillo
from quillo import EngineStopped
from pages import near, page


def test_context_manager_shuts_the_engine_down():
    with quillo.WebView(html=page("one", style="margin:0;background:rgb(0,0,255)"),
                        width=64, height=48) as view:
        with pytest.raises(RuntimeError, match="already open"):
            quillo.WebView(html=page("two"), width=64, height=48)
        view.wait_until(lambda: near(view.frame.pixel(32, 24), (0, 0, 255, 255)))
        assert view.is_open and not quillo.engine_stopped()
    assert quillo.engine_stopped()
    assert not view.is_open
    with pytest.raises(EngineStopped):
        view.click(1, 1)
    with pytest.raises(EngineStopped):
        quillo.WebView(html=page("three"), width=64, height=48)
    quillo.shutdown()  # a second shutdown is harmless
    # The memory keeps the last picture; nothing paints into it any more.
    assert near(view.frame.pixel(32, 24), (0, 0, 255, 255))


def test_close_then_reopen_with_new_arguments():
    first = quillo.WebView(html=page("first"), width=64, height=48)
    first.wait_for_title("first")
    first.close()
    assert not first.is_open
    with pytest.raises(RuntimeError, match="closed"):
        first.run_script("1")
    second = quillo.WebView(html=page("second", style="margin:0;background:rgb(0,255,0)"),
                            width=40, height=30, swap_red_blue=True)
    assert second.wait_for_title("second")
    second.wait_until(lambda: near(second.frame.pixel(39, 29), (0, 255, 0, 255)))
