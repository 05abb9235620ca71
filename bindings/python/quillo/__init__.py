"""quillo for Python: one live web page without a window, over ctypes.

    import quillo

    with quillo.WebView(html="<title>Hi</title><h1>Hello</h1>", width=640, height=480) as view:
        view.wait_for_frame()
        print(view.wait_for_title())          # "Hi"
        r, g, b, a = view.frame.pixel(10, 10)
        view.click(100, 40)
        view.type_text("hello")
        view.key("Enter")

For any number of pages at once (each resizable, transparent, at any device scale, with
scripts that return results, pages that await the host's answers, and pages served from the
host's memory) use :mod:`quillo.views` and its :class:`View` instead of :class:`WebView`; one
process uses one or the other.

The library is found through ``$QUILLO_LIBRARY`` (a path to ``libquillo.so``, or its
folder), else beside this package, else on the system loader path. The engine starts once
per process: after the context manager (or :func:`shutdown`) ends it, no page can be opened
again in the same process.
"""

from . import constants, keys, views
from ._library import LibraryNotFound, candidates, library_path
from ._library import load as load_library
from .view import (EngineStopped, Frame, Notice, NoticeKind, WebView, engine_stopped, set_debug,
                   shutdown)
from .views import View


def _read_version():
    # The project's one version: the file VERSION in this package (in the source tree a link
    # to the top-level VERSION; in a wheel or a Debian package a copy).
    import os
    try:
        with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "VERSION")) as f:
            return f.read().strip()
    except OSError:
        return "unknown"


__version__ = _read_version()

__all__ = [
    "EngineStopped", "Frame", "LibraryNotFound", "Notice", "NoticeKind", "View", "WebView",
    "candidates", "constants", "engine_stopped", "keys", "library_path", "load_library",
    "set_debug", "shutdown", "views",
]
