"""quillo for Python: one live web page without a window, over ctypes.

    import quillo

    with quillo.WebView(html="<title>Hi</title><h1>Hello</h1>", width=640, height=480) as view:
        view.wait_for_frame()
        print(view.wait_for_title())          # "Hi"
        r, g, b, a = view.frame.pixel(10, 10)
        view.click(100, 40)
        view.type_text("hello")
        view.key("Enter")

The library is found through ``$QUILLO_LIBRARY`` (a path to ``libquillo.so``, or its
folder), else beside this package, else on the system loader path. The engine starts once
per process: after the context manager (or :func:`shutdown`) ends it, no page can be opened
again in the same process.
"""

from . import constants, keys
from ._library import LibraryNotFound, candidates, library_path
from ._library import load as load_library
from .view import (EngineStopped, Frame, Notice, NoticeKind, WebView, engine_stopped, set_debug,
                   shutdown)


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
    "EngineStopped", "Frame", "LibraryNotFound", "Notice", "NoticeKind", "WebView",
    "candidates", "constants", "engine_stopped", "keys", "library_path", "load_library",
    "set_debug", "shutdown",
]
