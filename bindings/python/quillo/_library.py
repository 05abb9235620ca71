"""Finding and loading ``libquillo.so`` and declaring its eight C functions."""

import ctypes
import os
import threading

LIBRARY_NAME = "libquillo.so"
# The name the runtime package (libquillo0) installs; libquillo.so itself comes with the
# development package.
SONAME = "libquillo.so.0"
ENV_VAR = "QUILLO_LIBRARY"

_lock = threading.Lock()
_library = None
_library_path = None


class LibraryNotFound(OSError):
    """``libquillo.so`` could not be loaded from any of the places searched."""


def candidates():
    """The places searched for the library, in order, as a list of paths.

    ``$QUILLO_LIBRARY`` alone when it is set (a file, or a folder holding ``libquillo.so``);
    otherwise the package folder, the folder beside the package, and finally the bare names
    ``libquillo.so`` and ``libquillo.so.0``, which leave the search to the system loader
    (``LD_LIBRARY_PATH``, the ldconfig cache, ``/usr/lib``...).
    """
    configured = os.environ.get(ENV_VAR)
    if configured:
        if os.path.isdir(configured):
            configured = os.path.join(configured, LIBRARY_NAME)
        return [configured]
    package = os.path.dirname(os.path.abspath(__file__))
    return [
        os.path.join(package, LIBRARY_NAME),
        os.path.join(os.path.dirname(package), LIBRARY_NAME),
        LIBRARY_NAME,
        SONAME,
    ]


def _declare(lib):
    c_int, c_bool, c_void_p, c_char_p = ctypes.c_int, ctypes.c_bool, ctypes.c_void_p, ctypes.c_char_p
    signatures = {
        "LoadWeb": ([c_int, c_int, c_int, c_int, c_void_p, c_char_p, c_int, c_char_p], c_int),
        "UpdateWeb": ([ctypes.POINTER(c_void_p), ctypes.POINTER(c_int)], c_int),
        "UnloadWeb": ([c_bool], None),
        "InputWeb": ([c_int, c_int, c_int], None),
        "GoBackForwardHome": ([c_int], None),
        "ExecuteJavaScript": ([c_char_p], None),
        "ReserveInvalidRedirectUrlSchemes": ([c_char_p], None),
        "SetDebugEnable": ([c_bool], None),
    }
    for name, (argtypes, restype) in signatures.items():
        function = getattr(lib, name)
        function.argtypes = argtypes
        function.restype = restype


def load(path=None):
    """Loads the library once per process and returns the ``ctypes.CDLL``.

    ``path`` overrides the search (see :func:`candidates`). Loading a second, different file
    in the same process is refused: the library holds one engine per process.
    """
    global _library, _library_path
    with _lock:
        if _library is not None:
            if path is not None and os.path.realpath(path) != os.path.realpath(_library_path):
                raise RuntimeError(
                    f"quillo is already loaded from {_library_path}; cannot load {path} too")
            return _library
        errors = []
        for candidate in [os.fspath(path)] if path is not None else candidates():
            # A path with a folder must name an existing file; the bare name goes to dlopen.
            if os.sep in candidate and not os.path.exists(candidate):
                errors.append(f"{candidate}: no such file")
                continue
            try:
                lib = ctypes.CDLL(candidate)
            except OSError as error:
                errors.append(str(error))
                continue
            _declare(lib)
            _library, _library_path = lib, _resolved_path(lib, candidate)
            return _library
        raise LibraryNotFound("cannot load libquillo.so (set QUILLO_LIBRARY to its path): "
                              + "; ".join(errors))


def library_path():
    """The file the library was loaded from, or None before it is loaded."""
    return _library_path


def _resolved_path(lib, fallback):
    # dladdr on one of the exports names the file the loader actually opened, which the bare
    # name does not tell.
    class DlInfo(ctypes.Structure):
        _fields_ = [("dli_fname", ctypes.c_char_p), ("dli_fbase", ctypes.c_void_p),
                    ("dli_sname", ctypes.c_char_p), ("dli_saddr", ctypes.c_void_p)]

    try:
        libc = ctypes.CDLL(None)
        dladdr = libc.dladdr
        dladdr.argtypes = [ctypes.c_void_p, ctypes.POINTER(DlInfo)]
        dladdr.restype = ctypes.c_int
        info = DlInfo()
        address = ctypes.cast(lib.LoadWeb, ctypes.c_void_p)
        if dladdr(address, ctypes.byref(info)) and info.dli_fname:
            return os.path.abspath(os.fsdecode(info.dli_fname))
    except (AttributeError, OSError):
        pass
    return fallback
