"""quillo views: any number of live web pages, each painted into memory a Python object owns.

A thin layer over the views interface of ``libquillo.so`` (``quillo/views.h``)::

    from quillo import views

    views.register_scheme("app", {"index.html": "<link rel=stylesheet href=ui.css>...",
                                  "ui.css": "body { background: #123 }"})
    view = views.View("app://game/index.html", width=1280, height=720, device_scale=2,
                      transparent=True)
    while running:                        # once per host frame
        views.pump()                      # the engine works, pixels land, notices come
        for notice in view.notices():     # every notice, in order, as a Python object
            if notice.kind is views.NoticeKind.FRAME:
                upload(view.frame, notice.rect)
            elif notice.kind is views.NoticeKind.MESSAGE:
                notice.resolve("ok")      # the page's  await quilloPost(...)  gets "ok"
    view.destroy()
    views.shutdown()

Threads. The first call of this module that reaches the library (anything but
:func:`result_text` and :func:`set_log`) makes the calling thread the host's thread. Every later
call must come from that thread: from another one it raises :class:`WrongThread` and changes
nothing, in Python or in the library. The library runs the engine on a thread of its own and
never calls into Python: scheme handlers run on the host's thread, inside :func:`pump` and the
notice reads.

Memory. A :class:`View` owns its pixel memory (a ctypes array), or holds the writable buffer it
was handed (a ``bytearray``, an ``array.array``, a NumPy array...), which stays exported, so it
cannot be resized or freed under the library. The library writes a view's memory only inside
:func:`pump`. The module keeps every open view alive, so a view dropped without
:meth:`View.destroy` stays open (and its memory with it) until :func:`shutdown`.
:meth:`View.resize` hands over new memory: the old is kept until the call has returned, after
which the library never writes it again. After ``destroy()`` or ``shutdown()`` the memory still
holds the last picture, and the view object can be dropped.

Texts. The library's notice texts are valid only until the next call on the view, so every
notice is copied into Python ``str`` objects the moment it is taken from the library.

Notices. :func:`pump` takes each open view's new notices from the library into the view's own
queue (at most :data:`PENDING_LIMIT` waiting; past that they wait in the library, whose frames
then wait too), answering requests of schemes that have a handler as it goes. Nothing is dropped
or merged: :meth:`View.notices` and :meth:`View.next_notice` hand out every notice once, in the
order it happened; the waiting helpers (:meth:`View.wait_for`, :meth:`View.evaluate`) leave the
notices they do not match queued, in order.

Errors. A call the library refuses raises a :class:`QuilloError` whose ``code`` is the
library's result (``ERROR_*``) and whose text is the library's; arguments that are not of the
C types the call takes raise ``TypeError`` (or ``ValueError`` for a text holding a NUL, or a
number that does not fit) before the library is called.
"""

import atexit
import collections
import ctypes
import enum
import json
import logging
import mimetypes
import numbers
import operator
import threading
import time
import urllib.parse
from collections.abc import Mapping
from dataclasses import dataclass, field
from typing import Any, Callable, Deque, Dict, Iterator, List, NamedTuple, Optional, Union

from . import _library, keys
from .view import EngineStopped, Frame

_log = logging.getLogger("quillo.views")

# ---- the header's constants ---------------------------------------------------------------------

OK = 0
ERROR_NULL_ARGUMENT = -1
ERROR_BAD_HANDLE = -2
ERROR_BAD_SIZE = -3
ERROR_BAD_STRIDE = -4
ERROR_BAD_CONFIG = -5
ERROR_BAD_ARGUMENT = -6
ERROR_WRONG_THREAD = -7
ERROR_SHUT_DOWN = -8
ERROR_ENGINE_IN_USE = -9
ERROR_NO_MEMORY = -10
ERROR_LIMIT = -11
ERROR_NOT_FOUND = -12
ERROR_FORKED = -13

MAX_SIDE = 16384
MAX_VIEWS = 256
MAX_SCHEMES = 16
MAX_AUTO_RELOADS = 100
MAX_EDITABLE_TEXT = 2048

FORMAT_BGRA = 0
FORMAT_RGBA = 1

KEY_DOWN = 1
KEY_UP = 2

#: The most bytes of a composition's text, of a commit's, of a paste's (and its HTML), and the
#: most underlines of a composition.
MAX_COMPOSITION_BYTES = 4096
MAX_COMMIT_BYTES = 1048576
MAX_PASTE_BYTES = 16777216
MAX_IME_UNDERLINES = 64

CLIPBOARD_COPY = 0
CLIPBOARD_CUT = 1

#: The most fingers down at once (:meth:`View.touch`).
MAX_TOUCH_POINTS = 10

#: The most notices a view's Python queue holds before :func:`pump` leaves the rest in the
#: library (which then holds the view's frames back too, so nothing is lost).
PENDING_LIMIT = 4096
# Pause after a pump that brought nothing, in the waiting helpers (pump itself never blocks).
IDLE_PUMP_SECONDS = 0.002


class NoticeKind(enum.IntEnum):
    """What a :class:`Notice` reports (``QUILLO_NOTICE_*``)."""

    FRAME = 1          #: new pixels are in memory: rect, id = frame number
    URL = 2            #: the page's address changed: text = URL
    TITLE = 3          #: text = the title
    LOAD_STARTED = 4   #: text = URL
    LOAD_FINISHED = 5  #: text = URL, code = HTTP status (0 when none)
    LOAD_FAILED = 6    #: code = network error, text = "net::ERR_...", detail = URL
    DIALOG = 7         #: id, code = DialogType, text = message, detail = default prompt text
    NEW_WINDOW = 8     #: a new window was asked for and refused: text = URL
    CURSOR = 9         #: code = cursor type
    FOCUS = 10         #: code = 1 the page took the focus, 0 it lost it
    MESSAGE = 11       #: the page posted: id, text = the string posted
    SCRIPT_RESULT = 12  #: id = request id, code = 1 value (JSON text) / 0 exception, text
    PROCESS_GONE = 13  #: the page's web process ended: code = Gone
    REQUEST = 14       #: a page asks for a resource of a registered scheme: id, text = URL,
    #: detail = method
    CLOSED = 15        #: the page closed itself (window.close()): destroy the view
    IME_CARET = 24     #: the caret moved: rect = the caret (memory pixels), code = 1 composing
    CLIPBOARD = 25     #: the page copied (code CLIPBOARD_COPY) or cut: text, detail = the HTML
    AUDIO = 26         #: the page started (code 1) or stopped (0) playing sound
    REQUEST_ENDED = 30  #: the page let go of the open request id before the host ended it
    READY = 16         #: the page's fonts and images are in and the frame showing them is in
    #: memory: right after that frame's FRAME notice, id = its number, text = URL
    AUTO_RELOAD = 17   #: the view reloads by itself (``auto_reload``): code = attempt,
    #: id = the wait in milliseconds
    AUTO_RELOAD_STOPPED = 18  #: the process ended again after ``auto_reload`` attempts: code
    EDITABLE = 19      #: an editable element gained (code 1) or lost (0) the focus: detail =
    #: its kind, input_mode, rect (memory pixels), text around the caret, id = the caret


class DialogType(enum.IntEnum):
    ALERT = 0
    CONFIRM = 1
    PROMPT = 2


class Gone(enum.IntEnum):
    CRASHED = 0
    OUT_OF_MEMORY = 1
    ENDED = 2  #: ended on purpose, by the library's stuck-page guard


class Button(enum.IntEnum):
    LEFT = 0
    MIDDLE = 1
    RIGHT = 2


class Touch(enum.IntEnum):
    """What a finger did (``QUILLO_TOUCH_*``), for :meth:`View.touch`."""

    START = 1
    MOVE = 2
    END = 3
    CANCEL = 4


class Underline(NamedTuple):
    """A part of a composition's text the input method marks: characters ``start`` up to
    ``end``, in ``color`` (0xAARRGGBB; 0 the text's colour)."""

    start: int
    end: int
    color: int = 0


class Mod(enum.IntFlag):
    """Modifier keys held during an input event."""

    NONE = 0
    SHIFT = 0x1
    CONTROL = 0x2
    ALT = 0x4
    META = 0x8


# ---- errors -------------------------------------------------------------------------------------


class QuilloError(RuntimeError):
    """A call the library refused (it changed nothing). ``code`` is the ``ERROR_*`` result,
    ``function`` the C function refused."""

    def __init__(self, code: int, function: str = "", detail: str = ""):
        self.code = code
        self.function = function
        try:
            text = result_text(code)
        except OSError:  # no library to ask (it could not be loaded)
            text = f"error {code}"
        message = f"{function}: {text}" if function else text
        super().__init__(f"{message} ({detail})" if detail else message)


class ArgumentError(QuilloError, ValueError):
    """An argument out of its range: a size, stride, config field, id or name the header
    refuses (``ERROR_NULL_ARGUMENT``, ``ERROR_BAD_SIZE``, ``ERROR_BAD_STRIDE``,
    ``ERROR_BAD_CONFIG``, ``ERROR_BAD_ARGUMENT``)."""


class ViewClosed(QuilloError):
    """The view was destroyed (or closed by :func:`shutdown`): ``ERROR_BAD_HANDLE``."""


class WrongThread(QuilloError):
    """Called from a thread that is not the host's: ``ERROR_WRONG_THREAD``."""


class EngineShutDown(QuilloError, EngineStopped):
    """After :func:`shutdown`, or the engine stopped: ``ERROR_SHUT_DOWN``."""


class EngineInUse(QuilloError):
    """The eight functions of ``quillo.h`` (:class:`quillo.WebView`) hold this process's
    engine: ``ERROR_ENGINE_IN_USE``."""


class LimitReached(QuilloError):
    """:data:`MAX_VIEWS` views or :data:`MAX_SCHEMES` schemes exist: ``ERROR_LIMIT``."""


class NotFound(QuilloError, LookupError):
    """No open dialog, unanswered message or open request with that id: ``ERROR_NOT_FOUND``."""


class Forked(QuilloError):
    """Called in the child of a ``fork()``: ``ERROR_FORKED``."""


class ScriptError(Exception):
    """The script :meth:`View.evaluate` ran threw; the message is the exception's."""


_ERRORS = {
    ERROR_NULL_ARGUMENT: ArgumentError, ERROR_BAD_HANDLE: ViewClosed,
    ERROR_BAD_SIZE: ArgumentError, ERROR_BAD_STRIDE: ArgumentError,
    ERROR_BAD_CONFIG: ArgumentError, ERROR_BAD_ARGUMENT: ArgumentError,
    ERROR_WRONG_THREAD: WrongThread, ERROR_SHUT_DOWN: EngineShutDown,
    ERROR_ENGINE_IN_USE: EngineInUse, ERROR_NO_MEMORY: QuilloError, ERROR_LIMIT: LimitReached,
    ERROR_NOT_FOUND: NotFound, ERROR_FORKED: Forked,
}


def _error(code: int, function: str, detail: str = "") -> QuilloError:
    return _ERRORS.get(code, QuilloError)(code, function, detail)


# ---- the C declarations -------------------------------------------------------------------------


class _Config(ctypes.Structure):
    _fields_ = [("size", ctypes.c_size_t), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("pixels", ctypes.c_void_p), ("stride", ctypes.c_size_t),
                ("format", ctypes.c_int), ("bottom_up", ctypes.c_int),
                ("transparent", ctypes.c_int), ("device_scale", ctypes.c_double),
                ("max_frame_rate", ctypes.c_int), ("hidden", ctypes.c_int),
                ("zoom", ctypes.c_double), ("user_agent", ctypes.c_char_p),
                ("post_function", ctypes.c_char_p), ("auto_reload", ctypes.c_int)]


class _Rect(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                ("height", ctypes.c_int)]


class _Underline(ctypes.Structure):
    _fields_ = [("start", ctypes.c_int), ("end", ctypes.c_int), ("color", ctypes.c_uint32)]


class _Notice(ctypes.Structure):
    # text and detail as c_char_p: reading the field copies the library's bytes at once.
    _fields_ = [("size", ctypes.c_size_t), ("kind", ctypes.c_int), ("code", ctypes.c_int),
                ("id", ctypes.c_uint64), ("rect", _Rect), ("text", ctypes.c_char_p),
                ("detail", ctypes.c_char_p), ("headers", ctypes.c_char_p),
                ("input_mode", ctypes.c_char_p)]


def _signatures():
    i, u, d, p, s = ctypes.c_int, ctypes.c_uint, ctypes.c_double, ctypes.c_void_p, ctypes.c_char_p
    z, q = ctypes.c_size_t, ctypes.c_uint64
    return {
        "quillo_result_text": ([i], s),
        "quillo_set_log": ([i], None),
        "quillo_view_create": ([ctypes.POINTER(_Config), s, ctypes.POINTER(p)], i),
        "quillo_view_create_html": ([ctypes.POINTER(_Config), s, ctypes.POINTER(p)], i),
        "quillo_view_destroy": ([p], i),
        "quillo_pump": ([], i),
        "quillo_shutdown": ([], i),
        "quillo_view_next_notice": ([p, ctypes.POINTER(_Notice)], i),
        "quillo_view_resize": ([p, i, i, p, z], i),
        "quillo_view_set_device_scale": ([p, d], i),
        "quillo_view_set_zoom": ([p, d], i),
        "quillo_view_set_frame_rate": ([p, i], i),
        "quillo_view_set_hidden": ([p, i], i),
        "quillo_view_set_user_agent": ([p, s], i),
        "quillo_view_load_url": ([p, s], i),
        "quillo_view_load_html": ([p, s], i),
        "quillo_view_go_back": ([p], i),
        "quillo_view_go_forward": ([p], i),
        "quillo_view_reload": ([p], i),
        "quillo_view_stop": ([p], i),
        "quillo_view_mouse_move": ([p, i, i, u], i),
        "quillo_view_mouse_button": ([p, i, i, i, i, i, u], i),
        "quillo_view_mouse_wheel": ([p, i, i, i, i, u], i),
        "quillo_view_key": ([p, i, i, u, s], i),
        "quillo_view_set_focus": ([p, i], i),
        "quillo_view_answer_dialog": ([p, q, i, s], i),
        "quillo_view_eval": ([p, s, q], i),
        "quillo_view_reply": ([p, q, i, s], i),
        "quillo_register_scheme": ([s], i),
        "quillo_view_respond": ([p, q, i, s, s, z, i], i),
        "quillo_view_ime_set_composition": ([p, s, ctypes.POINTER(_Underline), z, i, i], i),
        "quillo_view_ime_commit": ([p, s], i),
        "quillo_view_ime_cancel": ([p], i),
        "quillo_view_copy": ([p], i),
        "quillo_view_cut": ([p], i),
        "quillo_view_paste": ([p, s, s], i),
        "quillo_view_touch": ([p, i, i, i, i, u], i),
        "quillo_view_set_muted": ([p, i], i),
    }


_api_lock = threading.Lock()
_api = None


def _lib():
    """The loaded library with the views functions declared (loaded on first use)."""
    global _api
    if _api is None:
        with _api_lock:
            if _api is None:
                lib = _library.load()
                try:
                    for name, (argtypes, restype) in _signatures().items():
                        function = getattr(lib, name)
                        function.argtypes, function.restype = argtypes, restype
                except AttributeError as missing:
                    raise _library.LibraryNotFound(
                        f"{_library.library_path()} has no views interface ({missing})") from None
                _api = lib
    return _api


# ---- module state (the host's thread only, but for the host-thread claim itself) ----------------


class _State:
    def __init__(self):
        self.claim_lock = threading.Lock()  # guards host_thread's first assignment only
        self.host_thread: Optional[int] = None
        self.used = False       # a call has reached the library
        self.created = False    # a view was created: the views hold the process's engine
        self.shut_down = False  # shutdown() returned
        self.views: Dict[int, "View"] = {}    # open views by handle: keeps them and their memory
        self.schemes: Dict[str, Any] = {}     # registered schemes -> handler (None: the host's)
        self.streams: List["_Stream"] = []    # responses sent one piece a pump
        self.atexit = False


_state = _State()


def _enter(function: str):
    """The library, after the checks every call makes: not shut down, the host's thread (the
    first caller's becomes it)."""
    if _state.shut_down:
        raise _error(ERROR_SHUT_DOWN, function, "quillo.views.shutdown() was called")
    me = threading.get_ident()
    if _state.host_thread != me:
        with _state.claim_lock:
            if _state.host_thread is None:
                _state.host_thread = me
        if _state.host_thread != me:
            raise _error(ERROR_WRONG_THREAD, function,
                         "the host's thread is the one that first called quillo.views")
    lib = _lib()
    _state.used = True
    if not _state.atexit:
        _state.atexit = True
        atexit.register(_shutdown_at_exit)
    return lib


def _check(result: int, function: str) -> int:
    if result < 0:
        raise _error(result, function)
    return result


def _shutdown_at_exit():
    # The engine's threads end while Python still runs; only the host's thread may do it.
    if not _state.shut_down and _state.host_thread == threading.get_ident():
        try:
            shutdown()
        except QuilloError:
            pass


# ---- argument conversion (TypeError / ValueError before the library is called) ------------------

_INT_MIN, _INT_MAX = -2 ** 31, 2 ** 31 - 1


def _int(value, name: str, low: int = _INT_MIN, high: int = _INT_MAX) -> int:
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an int, not {type(value).__name__}") from None
    if not low <= number <= high:
        raise ValueError(f"{name} {number} does not fit the C type ({low}..{high})")
    return number


def _uint64(value, name: str) -> int:
    return _int(value, name, 0, 2 ** 64 - 1)


def _flag(value, name: str) -> int:
    if not isinstance(value, (bool, int)):
        raise TypeError(f"{name} must be a bool, not {type(value).__name__}")
    return 1 if value else 0


def _real(value, name: str) -> float:
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    return float(value)


def _text(value, name: str, nullable: bool = False) -> Optional[bytes]:
    if value is None and nullable:
        return None
    if not isinstance(value, str):
        raise TypeError(f"{name} must be a str{' or None' if nullable else ''}, "
                        f"not {type(value).__name__}")
    if "\0" in value:
        raise ValueError(f"{name} holds a NUL character, which C text cannot carry")
    return value.encode("utf-8")  # a lone surrogate raises UnicodeEncodeError, a ValueError


def _bytes(value, name: str) -> bytes:
    if isinstance(value, str):
        return value.encode("utf-8")
    if isinstance(value, (bytes, bytearray, memoryview)):
        return bytes(value)
    raise TypeError(f"{name} must be bytes-like or str, not {type(value).__name__}")


def _modifiers(value) -> int:
    return _int(value, "modifiers", 0, 2 ** 32 - 1)


def _button(value) -> int:
    if isinstance(value, str):
        try:
            return Button[value.upper()]
        except KeyError:
            raise ValueError(f"unknown button {value!r} (left, middle or right)") from None
    return _int(value, "button")


def _touch_action(value) -> int:
    if isinstance(value, str):
        try:
            return Touch[value.upper()]
        except KeyError:
            raise ValueError(f"unknown touch action {value!r} (start, move, end or cancel)") from None
    return _int(value, "action")


def _format(value) -> int:
    if isinstance(value, str):
        names = {"BGRA": FORMAT_BGRA, "RGBA": FORMAT_RGBA}
        if value.upper() not in names:
            raise ValueError(f"unknown format {value!r} (BGRA or RGBA)")
        return names[value.upper()]
    return _int(value, "format")


def _decode(raw: Optional[bytes]) -> str:
    return raw.decode("utf-8", "replace") if raw else ""


class _Memory:
    """A view's pixel memory: height rows stride bytes apart, owned by this object (or the
    exported buffer of the host's object, held until this object goes)."""

    def __init__(self, width, height, stride, buffer):
        self.width = _int(width, "width")
        self.height = _int(height, "height")
        self.stride = _int(0 if stride is None else stride, "stride", 0, 2 ** 63 - 1)
        # Refused here as the library would, before memory of a refused size is allocated.
        if not (1 <= self.width <= MAX_SIDE and 1 <= self.height <= MAX_SIDE):
            raise _error(ERROR_BAD_SIZE, "", f"{self.width}x{self.height}: each side 1..{MAX_SIDE}")
        if self.stride == 0:
            self.stride = self.width * 4
        if self.stride < self.width * 4:
            raise _error(ERROR_BAD_STRIDE, "", f"stride {self.stride} < width * 4")
        size = self.stride * self.height
        if buffer is None:
            self.array = (ctypes.c_ubyte * size)()
            self.owner = self.array
        else:
            try:
                self.array = (ctypes.c_ubyte * size).from_buffer(buffer)
            except TypeError as why:
                raise TypeError(f"buffer must be a writable, contiguous buffer ({why})") from None
            except ValueError:
                raise ValueError(f"buffer holds {memoryview(buffer).nbytes} bytes; "
                                 f"{self.width}x{self.height} at stride {self.stride} needs "
                                 f"{size}") from None
            self.owner = buffer

    @property
    def address(self) -> int:
        return ctypes.addressof(self.array)


# ---- notices ------------------------------------------------------------------------------------


class Rect(NamedTuple):
    x: int
    y: int
    width: int
    height: int


@dataclass(frozen=True)
class Notice:
    """One thing a view reported, copied out of the library when it was taken.

    ``kind`` is a :class:`NoticeKind` (a plain int for a kind this binding does not know);
    ``code``, ``id``, ``rect``, ``text``, ``detail`` and ``input_mode`` are as the kind says
    (see :class:`NoticeKind`). ``answered`` is true for a REQUEST the scheme's handler answered.
    The helpers answer the notice on its view (host's thread).
    """

    kind: Union[NoticeKind, int]
    code: int = 0
    id: int = 0
    rect: Rect = Rect(0, 0, 0, 0)
    text: str = ""
    detail: str = ""
    answered: bool = False
    view: Optional["View"] = field(default=None, repr=False, compare=False)
    input_mode: str = ""

    def _expect(self, kind: NoticeKind, what: str) -> "View":
        if self.kind != kind:
            raise ValueError(f"{what} needs a {kind.name} notice, not {self.kind!r}")
        return self.view

    @property
    def dialog_type(self) -> Union[DialogType, int, None]:
        """The dialog's type for a DIALOG notice (a plain int for one this binding does not
        know), else None."""
        if self.kind != NoticeKind.DIALOG:
            return None
        return DialogType(self.code) if self.code in DialogType.__members__.values() else self.code

    def result(self) -> Any:
        """A SCRIPT_RESULT's value parsed from its JSON text (None for "", which the library
        sends for undefined, functions, nodes...); raises :class:`ScriptError` with the
        exception's message when the script threw."""
        self._expect(NoticeKind.SCRIPT_RESULT, "result()")
        if self.code != 1:
            raise ScriptError(self.text)
        return json.loads(self.text) if self.text else None

    def resolve(self, text: str = "") -> None:
        """Resolves the page's promise of this MESSAGE with ``text``."""
        self._expect(NoticeKind.MESSAGE, "resolve()").reply(self.id, text, ok=True)

    def reject(self, message: str = "") -> None:
        """Rejects the page's promise of this MESSAGE with an Error whose message is
        ``message``."""
        self._expect(NoticeKind.MESSAGE, "reject()").reply(self.id, message, ok=False)

    def accept(self, prompt_text: Optional[str] = None) -> None:
        """Answers this DIALOG with OK (a prompt's answer: ``prompt_text``)."""
        self._expect(NoticeKind.DIALOG, "accept()").answer_dialog(self.id, True, prompt_text)

    def dismiss(self) -> None:
        """Answers this DIALOG with Cancel."""
        self._expect(NoticeKind.DIALOG, "dismiss()").answer_dialog(self.id, False)

    def respond(self, data=b"", status: int = 200, mime_type: Optional[str] = None,
                done: bool = True) -> None:
        """Answers this REQUEST (see :meth:`View.respond`)."""
        self._expect(NoticeKind.REQUEST, "respond()").respond(self.id, data, status, mime_type,
                                                              done)


# ---- host-served resources ----------------------------------------------------------------------


@dataclass(frozen=True)
class Request:
    """A page's request for a resource of a registered scheme, as a handler gets it."""

    view: "View" = field(repr=False)
    id: int
    url: str
    method: str

    @property
    def path(self) -> str:
        """The URL's path, without query or fragment (``"/ui/index.html"``)."""
        return urllib.parse.urlsplit(self.url).path

    def respond(self, data=b"", status: int = 200, mime_type: Optional[str] = None,
                done: bool = True) -> None:
        """Answers the request (or adds a piece to its answer); see :meth:`View.respond`."""
        self.view.respond(self.id, data, status, mime_type, done)


@dataclass
class Response:
    """What a scheme handler answers with. ``body``: bytes-like or str (UTF-8), sent whole; or
    an iterable of such pieces, sent one piece a :func:`pump`, the page reading them as they
    come. ``status`` 100..599, or 0 to refuse (the page sees a network error).
    ``mime_type``: None guesses it from the URL's extension (and leaves it to the engine when
    that fails)."""

    body: Any = b""
    status: int = 200
    mime_type: Optional[str] = None


#: A handler's answer that refuses the request (the page sees a network error).
REFUSE = Response(status=0)

# Types the web needs that Python's table may lack or name otherwise.
_WEB_TYPES = {".js": "text/javascript", ".mjs": "text/javascript", ".css": "text/css",
              ".html": "text/html", ".htm": "text/html", ".json": "application/json",
              ".svg": "image/svg+xml", ".wasm": "application/wasm", ".png": "image/png",
              ".webp": "image/webp", ".woff2": "font/woff2"}


def guess_type(url: str) -> Optional[str]:
    """The MIME type of ``url`` by its extension, or None."""
    path = urllib.parse.urlsplit(url).path
    dot = path.rfind(".")
    if dot >= 0 and path[dot:].lower() in _WEB_TYPES:
        return _WEB_TYPES[path[dot:].lower()]
    return mimetypes.guess_type(path)[0]


def _from_mapping(assets, request: Request):
    # Keys tried: the whole URL (no query or fragment), then host and path, then the path with
    # and without its leading "/".
    parts = urllib.parse.urlsplit(request.url)
    whole = urllib.parse.urlunsplit((parts.scheme, parts.netloc, parts.path, "", ""))
    for key in (whole, parts.netloc + parts.path, parts.path, parts.path.lstrip("/")):
        if key in assets:
            return assets[key]
    return Response(b"not found", 404, "text/plain")


class _Stream:
    def __init__(self, view: "View", request_id: int, pieces: Iterator):
        self.view, self.id, self.pieces = view, request_id, pieces


_END = object()


def _serve(view: "View", request: Request) -> bool:
    """Answers request with its scheme's handler; False when there is none, or the handler
    left the request to the host (returned None)."""
    scheme = request.url.split(":", 1)[0].lower()
    handler = _state.schemes.get(scheme)
    if handler is None:
        return False
    try:
        answer = handler(request) if callable(handler) else _from_mapping(handler, request)
    except Exception:
        _log.exception("the %s: handler failed on %s", scheme, request.url)
        answer = Response(b"the host's handler failed", 500, "text/plain")
    if answer is None:
        return False
    if not isinstance(answer, Response):
        answer = Response(answer)
    body, status = answer.body, answer.status
    mime = answer.mime_type if answer.mime_type is not None else guess_type(request.url)
    try:
        if isinstance(body, (bytes, bytearray, memoryview, str)) or status == 0:
            view.respond(request.id, body if status else b"", status, mime, True)
        else:
            view.respond(request.id, b"", status, mime, False)  # the head now, the body later
            _state.streams.append(_Stream(view, request.id, iter(body)))
    except (QuilloError, TypeError, ValueError) as why:
        # A handler's answer the library refuses (a status of 42, a body of ints...): the page
        # is not left waiting for it.
        _log.error("the %s: handler's answer to %s was refused: %s", scheme, request.url, why)
        if not isinstance(why, (ViewClosed, NotFound)):
            try:
                view.respond(request.id, b"", 0, None, True)
            except QuilloError:
                pass
    return True


def _advance_streams() -> None:
    """One piece of every streamed response (the end when its pieces are out)."""
    for stream in list(_state.streams):
        finished = True
        try:
            if stream.view._open:
                piece = next(stream.pieces, _END)
                if piece is _END:
                    stream.view.respond(stream.id, b"", 0, None, True)
                else:
                    stream.view.respond(stream.id, piece, 0, None, False)
                    finished = False
        except (ViewClosed, NotFound):
            pass  # the view or its page went; nobody reads the rest
        except Exception:
            _log.exception("a streamed response failed; it ends here")
            try:
                stream.view.respond(stream.id, b"", 0, None, True)
            except QuilloError:
                pass
        if finished:
            _state.streams.remove(stream)


def register_scheme(scheme: str, handler=None) -> None:
    """Lets the pages of every view (now and to come) load ``scheme:`` URLs, served by Python.

    The scheme is secure and CORS-enabled: pages from it work as pages from an https server
    (relative links, style sheets, images, module scripts, fetch). Names: 1 to 32 of a-z, 0-9,
    ``+ - .``, starting with a letter, not one of the web's own (http, https, file, data...).

    ``handler`` answers each request, on the host's thread, as :func:`pump` takes it:

    * a mapping (a dict of asset name -> ``bytes``, ``str`` or :class:`Response`): the keys
      tried are the whole URL without query or fragment (``"app://game/ui/a.css"``), host and
      path (``"game/ui/a.css"``), then the path (``"/ui/a.css"``, ``"ui/a.css"``); a name not
      there is answered 404;
    * a callable taking a :class:`Request` and returning ``bytes``, ``str``, a
      :class:`Response` (:data:`REFUSE` refuses), or None to leave the request to the host
      (answered later with :meth:`Request.respond` / :meth:`View.respond`). A handler that
      raises is logged and answered 500;
    * None: every request is left to the host, which reads REQUEST notices and answers them.

    Registering a scheme again replaces its handler.
    """
    name = _text(scheme, "scheme")
    if handler is not None and not callable(handler) and not isinstance(handler, Mapping):
        raise TypeError("handler must be a mapping, a callable or None")
    lib = _enter("quillo_register_scheme")
    _check(lib.quillo_register_scheme(name), "quillo_register_scheme")
    _state.schemes[scheme] = handler


# ---- the engine ---------------------------------------------------------------------------------


def result_text(code: int) -> str:
    """A short English text for a result code (any thread)."""
    return _decode(_lib().quillo_result_text(_int(code, "code")))


def set_log(enable: bool) -> None:
    """Turns the library's diagnostic log on or off (standard error, and ``tavlo_cef.log``
    beside the library once the engine has started). Any thread."""
    _lib().quillo_set_log(_flag(enable, "enable"))


def pump() -> None:
    """Drives the engine for every view once: the engine gets the calls since the last pump,
    each view's newest whole frame is copied into its memory, and each open view's new notices
    are taken into its queue (scheme requests with a handler are answered as they are taken,
    and streamed responses get their next piece). Never blocks. Call it regularly, for
    example once per host frame: without pumps pages neither load nor paint. Host's thread."""
    lib = _enter("quillo_pump")
    _check(lib.quillo_pump(), "quillo_pump")
    for view in list(_state.views.values()):
        try:
            view._drain(PENDING_LIMIT)
        except ViewClosed:
            pass
    _advance_streams()


def shutdown() -> None:
    """Stops the engine for the rest of the process: every view is closed, the library's
    threads end, and later calls raise :class:`EngineShutDown`. The views' memory is never
    written again (their last pictures stay readable). A second call does nothing; a process
    that exits with the engine running shuts it down at exit. Host's thread."""
    if _state.shut_down:
        return
    lib = _enter("quillo_shutdown")
    result = lib.quillo_shutdown()
    if result < 0 and result != ERROR_SHUT_DOWN:
        raise _error(result, "quillo_shutdown")
    _state.shut_down = True
    for view in list(_state.views.values()):
        view._closed()
    _state.streams.clear()


def is_shut_down() -> bool:
    """Whether :func:`shutdown` has run in this process."""
    return _state.shut_down


def was_used() -> bool:
    """Whether a call of this module has reached the library in this process."""
    return _state.used


def holds_engine() -> bool:
    """Whether a view was created in this process (then :class:`quillo.WebView` cannot open)."""
    return _state.created


def open_views() -> List["View"]:
    """The views not destroyed yet, oldest first."""
    return list(_state.views.values())


# ---- views --------------------------------------------------------------------------------------


class View:
    """One live page, painted into memory this object owns (see the module's notes on threads
    and memory). Every method runs on the host's thread.

    ``View(url)`` loads ``url`` (None: about:blank); ``View(html=...)`` shows HTML as a page of
    its own (a data: address: relative links lead nowhere, so serve linked pages from a
    scheme, :func:`register_scheme`). The first view starts the engine.

    Geometry: ``width`` x ``height`` device pixels (1..:data:`MAX_SIDE`), rows ``stride`` bytes
    apart (None: ``width * 4``), ``format`` ``"BGRA"`` or ``"RGBA"``, ``bottom_up``; the page
    is laid out at ``width / device_scale`` x ``height / device_scale`` CSS pixels (scale
    0.25..8). ``buffer``: a writable buffer of at least ``stride * height`` bytes to paint into
    instead of memory of the view's own. ``transparent``: the page's transparent parts stay
    transparent, pixels premultiplied by alpha; otherwise opaque, on white.

    Also ``max_frame_rate`` (1..240), ``hidden``, ``zoom`` (0.25..5), ``user_agent`` (None:
    the engine's), ``post_function`` (the name of the page's global function that posts to
    the host; None: ``quilloPost``; ``""``: none), ``auto_reload`` (0..:data:`MAX_AUTO_RELOADS`:
    after its web process ends the view reloads its page by itself at most this many times in
    a row, announced by AUTO_RELOAD notices; 0: never).

    Used as a context manager, the view is destroyed on exit.
    """

    def __init__(self, url: Optional[str] = None, *, html: Optional[str] = None,
                 width: int = 800, height: int = 600, device_scale: float = 1.0,
                 transparent: bool = False, format="BGRA", bottom_up: bool = False,
                 max_frame_rate: int = 60, hidden: bool = False, zoom: float = 1.0,
                 user_agent: Optional[str] = None, post_function: Optional[str] = None,
                 stride: Optional[int] = None, buffer=None, auto_reload: int = 0):
        self._open = False
        self._handle = 0
        if url is not None and html is not None:
            raise ValueError("give url or html, not both")
        source = _text(html, "html") if html is not None else _text(url, "url", nullable=True)
        memory = _Memory(width, height, stride, buffer)
        config = _Config()
        config.size = ctypes.sizeof(_Config)
        config.width, config.height = memory.width, memory.height
        config.pixels, config.stride = memory.address, memory.stride
        config.format = _format(format)
        config.bottom_up = _flag(bottom_up, "bottom_up")
        config.transparent = _flag(transparent, "transparent")
        config.device_scale = _real(device_scale, "device_scale")
        config.max_frame_rate = _int(max_frame_rate, "max_frame_rate")
        config.hidden = _flag(hidden, "hidden")
        config.zoom = _real(zoom, "zoom")
        config.user_agent = _text(user_agent, "user_agent", nullable=True)
        config.post_function = _text(post_function, "post_function", nullable=True)
        config.auto_reload = _int(auto_reload, "auto_reload")

        function = "quillo_view_create_html" if html is not None else "quillo_view_create"
        lib = _enter(function)
        handle = ctypes.c_void_p()
        _check(getattr(lib, function)(ctypes.byref(config), source, ctypes.byref(handle)),
               function)
        self._handle = handle.value
        self._memory = memory
        self._open = True
        _state.created = True
        self.format = "RGBA" if config.format == FORMAT_RGBA else "BGRA"
        self.bottom_up = bool(config.bottom_up)
        self.transparent = bool(config.transparent)
        self.device_scale = config.device_scale or 1.0
        self.zoom = config.zoom or 1.0
        self.hidden = bool(config.hidden)
        #: Whether :meth:`set_muted` last muted the view's sound.
        self.muted = False
        #: The page's last URL and title, and the number of its last frame, from the notices
        #: taken so far.
        self.url: Optional[str] = None
        self.title: Optional[str] = None
        self.frame_number = 0
        self._pending: Deque[Notice] = collections.deque()
        self._next_request_id = 1
        _state.views[self._handle] = self

    # ---- lifetime -------------------------------------------------------------------------------

    def __enter__(self) -> "View":
        return self

    def __exit__(self, *exc_info) -> None:
        self.destroy()

    def __repr__(self) -> str:
        if not self._handle:
            return "<quillo.views.View (not created)>"
        state = "open" if self._open else "closed"
        return (f"<quillo.views.View {self.width}x{self.height} {self.format} "
                f"{state} {self.url or ''}>")

    @property
    def is_open(self) -> bool:
        """True until :meth:`destroy` or :func:`shutdown`."""
        return self._open

    @property
    def handle(self) -> int:
        """The library's handle (a number, never an address)."""
        return self._handle

    def destroy(self) -> None:
        """Closes the view. When this returns the library writes its memory no more, its
        queued notices are gone, and every other method raises :class:`ViewClosed`. The last
        picture stays in :attr:`frame`. A second call does nothing."""
        if not self._open:
            return
        lib = _enter("quillo_view_destroy")
        _check(lib.quillo_view_destroy(self._handle), "quillo_view_destroy")
        self._closed()

    def _closed(self) -> None:
        self._open = False
        self._pending.clear()
        _state.views.pop(self._handle, None)
        _state.streams[:] = [s for s in _state.streams if s.view is not self]

    def _call(self, function: str, *args) -> int:
        lib = _enter(function)
        result = getattr(lib, function)(self._handle, *args)
        if result == ERROR_BAD_HANDLE and self._open:
            self._closed()  # the library closed it (its engine stopped)
        return _check(result, function)

    # ---- memory ---------------------------------------------------------------------------------

    @property
    def width(self) -> int:
        return self._memory.width

    @property
    def height(self) -> int:
        return self._memory.height

    @property
    def stride(self) -> int:
        return self._memory.stride

    @property
    def buffer(self):
        """The object holding the pixel memory: the buffer handed in, or a ctypes array."""
        return self._memory.owner

    @property
    def frame(self) -> Frame:
        """The live memory as a :class:`quillo.Frame` (``.copy()`` for a snapshot). The
        library changes it only inside :func:`pump`."""
        return Frame(self._memory.array, self.width, self.height, self.format == "RGBA",
                     self.bottom_up, self.stride)

    @property
    def pixels(self) -> memoryview:
        """The live memory as a flat read-only ``memoryview`` of ``stride * height`` bytes."""
        return memoryview(self._memory.array).cast("B").toreadonly()

    def resize(self, width: int, height: int, *, stride: Optional[int] = None,
               buffer=None) -> None:
        """Hands the view new memory of ``width`` x ``height`` device pixels (``stride``,
        ``buffer`` as for the view; the format stays). The page is laid out again without a
        reload: its script state, scroll position and form fields stay. The old memory is kept
        until the library has let go of it (when this returns); the new memory keeps what is
        in it until the first frame at the new size."""
        memory = _Memory(width, height, stride, buffer)
        self._call("quillo_view_resize", memory.width, memory.height, memory.address,
                   memory.stride)
        self._memory = memory  # the old memory may go: the library writes it no more

    def set_device_scale(self, scale: float) -> None:
        """devicePixelRatio, 0.25..8; the memory stays, the page's CSS size changes."""
        value = _real(scale, "scale")
        self._call("quillo_view_set_device_scale", value)
        self.device_scale = value

    def set_zoom(self, zoom: float) -> None:
        """Page zoom, 0.25..5 (1 = 100 %)."""
        value = _real(zoom, "zoom")
        self._call("quillo_view_set_zoom", value)
        self.zoom = value

    def set_frame_rate(self, frames_per_second: int) -> None:
        """The most frames a second the page paints, 1..240."""
        self._call("quillo_view_set_frame_rate", _int(frames_per_second, "frames_per_second"))

    def set_hidden(self, hidden: bool) -> None:
        """Hides the view (it paints nothing, its timers are throttled) or shows it again."""
        value = _flag(hidden, "hidden")
        self._call("quillo_view_set_hidden", value)
        self.hidden = bool(value)

    def set_user_agent(self, user_agent: Optional[str]) -> None:
        """The User-Agent of the view's next requests; None: the engine's own."""
        self._call("quillo_view_set_user_agent", _text(user_agent, "user_agent", nullable=True))

    # ---- navigation -----------------------------------------------------------------------------

    def load_url(self, url: str) -> None:
        self._call("quillo_view_load_url", _text(url, "url"))

    def load_html(self, html: str) -> None:
        """Shows ``html`` as a page of its own (a new history entry)."""
        self._call("quillo_view_load_html", _text(html, "html"))

    def go_back(self) -> None:
        self._call("quillo_view_go_back")

    def go_forward(self) -> None:
        self._call("quillo_view_go_forward")

    def reload(self) -> None:
        self._call("quillo_view_reload")

    def stop(self) -> None:
        self._call("quillo_view_stop")

    # ---- input (positions in device pixels, the memory's, from the page's top-left) -------------

    def mouse_move(self, x: int, y: int, modifiers=0) -> None:
        self._call("quillo_view_mouse_move", _int(x, "x"), _int(y, "y"), _modifiers(modifiers))

    def mouse_button(self, button, down: bool, x: int, y: int, click_count: int = 1,
                     modifiers=0) -> None:
        """A button (:class:`Button` or ``"left"``, ``"middle"``, ``"right"``) went down or
        up; ``click_count`` 1..3 counts the presses of a quick series."""
        self._call("quillo_view_mouse_button", _button(button), _flag(down, "down"),
                   _int(x, "x"), _int(y, "y"), _int(click_count, "click_count"),
                   _modifiers(modifiers))

    def click(self, x: int, y: int, button="left", count: int = 1, modifiers=0) -> None:
        """Moves to ``(x, y)`` and presses and releases ``button`` ``count`` times, as a quick
        series (``count`` 2: the page gets "dblclick")."""
        count = _int(count, "count")
        if not 1 <= count <= 3:  # refused before the first press is sent
            raise ArgumentError(ERROR_BAD_ARGUMENT, "click", f"count {count} is outside 1..3")
        self.mouse_move(x, y, modifiers)
        for press in range(1, count + 1):
            self.mouse_button(button, True, x, y, press, modifiers)
            self.mouse_button(button, False, x, y, press, modifiers)

    def wheel(self, x: int, y: int, delta_x: int = 0, delta_y: int = 0, modifiers=0) -> None:
        """The wheel at ``(x, y)``, deltas in device pixels as WheelEvent counts them
        (positive ``delta_y`` scrolls towards the end of the page)."""
        self._call("quillo_view_mouse_wheel", _int(x, "x"), _int(y, "y"),
                   _int(delta_x, "delta_x"), _int(delta_y, "delta_y"), _modifiers(modifiers))

    def key(self, action: int, key_code: int, modifiers=0, text: Optional[str] = None) -> None:
        """A key went down (:data:`KEY_DOWN`) or up (:data:`KEY_UP`): ``key_code`` a Windows
        virtual-key code (:mod:`quillo.keys`), or 0 for text alone; ``text`` what the press
        types."""
        self._call("quillo_view_key", _int(action, "action"), _int(key_code, "key_code"),
                   _modifiers(modifiers), _text(text, "text", nullable=True))

    def press(self, key, text: Optional[str] = None, modifiers=0) -> None:
        """Presses and releases one key: a virtual-key code, a name of
        ``quillo.keys.NAMED_KEYS`` (``"Enter"``, ``"Left"``, ``"F5"``) or one character,
        which sends its US-layout key (with Shift where needed) and types it."""
        mods = _modifiers(modifiers)
        if isinstance(key, str) and len(key) == 1:
            code, shift = keys.for_character(key)
            text = key if text is None else text
            mods |= Mod.SHIFT if shift else 0
        elif isinstance(key, str):
            try:
                code, char = keys.NAMED_KEYS[key.lower()]
            except KeyError:
                raise ValueError(f"unknown key name {key!r}") from None
            if text is None and char >= 0x20:
                text = chr(char)
        else:
            code = _int(key, "key")
        self.key(KEY_DOWN, code, mods, text)
        self.key(KEY_UP, code, mods)

    def type_text(self, text: str) -> None:
        """Types ``text`` without key events, as an input method would."""
        self.key(KEY_DOWN, 0, 0, text)

    def set_focus(self, focused: bool = True) -> None:
        """Gives the page the keyboard focus (its focused element shows a caret), or takes
        it away."""
        self._call("quillo_view_set_focus", _flag(focused, "focused"))

    def touch(self, action, finger: int, x: int, y: int, modifiers=0) -> None:
        """A finger of a touch screen went down (:class:`Touch` ``START`` or ``"start"``) at
        ``(x, y)`` device pixels, moved there (``MOVE``), lifted there (``END``), or was taken
        away (``CANCEL``; the position is not read). ``finger`` (0 or more) names it from its
        start to its end; up to :data:`MAX_TOUCH_POINTS` are down at once. The page gets touch
        events and the pointer events of a touch (pointerType "touch"). A start of a finger
        down, a change of one that is not, and positions beyond +-:data:`MAX_SIDE` raise
        :class:`ArgumentError`."""
        self._call("quillo_view_touch", _touch_action(action), _int(finger, "finger"),
                   _int(x, "x"), _int(y, "y"), _modifiers(modifiers))

    def tap(self, x: int, y: int, finger: int = 0, modifiers=0) -> None:
        """A finger goes down at ``(x, y)`` and lifts there: a tap (which clicks, unless the
        page cancels its touchstart)."""
        self.touch(Touch.START, finger, x, y, modifiers)
        self.touch(Touch.END, finger, x, y, modifiers)

    def set_muted(self, muted: bool = True) -> None:
        """Mutes the view's sound (its pages play on, unheard), or lets it be heard again.
        :class:`NoticeKind` ``AUDIO`` notices say when the page starts and stops playing
        sound."""
        value = _flag(muted, "muted")
        self._call("quillo_view_set_muted", value)
        self.muted = bool(value)

    # ---- composition input and the clipboard ----------------------------------------------------

    def ime_set_composition(self, text: str, selection_start: Optional[int] = None,
                            selection_end: Optional[int] = None, underlines=()) -> None:
        """Shows an input method's pre-edit ``text`` in the focused field, composing (the page
        gets compositionstart, compositionupdate, and input events with isComposing), or
        changes the composition to it; an empty text cancels it. The caret is at character
        ``selection_start`` (None: the text's end; characters are code points, as Python
        counts them), ``selection_end`` as far (None: the same); ``underlines`` are
        :class:`Underline` values or ``(start, end[, color])`` tuples (none: all of it
        underlined). Where the caret is comes as an ``IME_CARET`` notice."""
        data = _text(text, "text")
        start = len(text) if selection_start is None else _int(selection_start, "selection_start")
        end = start if selection_end is None else _int(selection_end, "selection_end")
        marks = []
        for mark in underlines:
            try:
                mark = Underline(*mark)
            except TypeError:
                raise TypeError("an underline is (start, end) or (start, end, color), not "
                                f"{mark!r}") from None
            marks.append((_int(mark.start, "underline start"), _int(mark.end, "underline end"),
                          _int(mark.color, "underline color", 0, 2 ** 32 - 1)))
        array = (_Underline * max(len(marks), 1))(*marks)
        self._call("quillo_view_ime_set_composition", data, array if marks else None,
                   len(marks), start, end)

    def ime_commit(self, text: str) -> None:
        """Ends the composition with ``text`` in place of its pre-edit text; without one,
        types ``text`` as an input method's commit."""
        self._call("quillo_view_ime_commit", _text(text, "text"))

    def ime_cancel(self) -> None:
        """Ends the composition and removes its pre-edit text (nothing without one)."""
        self._call("quillo_view_ime_cancel")

    def copy(self) -> None:
        """Copies the page's selection, as Ctrl+C: a ``CLIPBOARD`` notice brings the text
        (and HTML in ``detail``) when something was copied."""
        self._call("quillo_view_copy")

    def cut(self) -> None:
        """Cuts the page's selection, as Ctrl+X (a ``CLIPBOARD`` notice with code
        :data:`CLIPBOARD_CUT`)."""
        self._call("quillo_view_cut")

    def paste(self, text: str, html: Optional[str] = None) -> None:
        """Pastes ``text`` (and ``html`` into elements that take rich text) into the focused
        element: the page gets a "paste" event whose clipboardData holds them, then, unless
        it cancels it, the text inserted."""
        self._call("quillo_view_paste", _text(text, "text"), _text(html, "html", nullable=True))

    # ---- dialogs, script, page messages, resources ----------------------------------------------

    def answer_dialog(self, dialog_id: int, accept: bool = True,
                      prompt_text: Optional[str] = None) -> None:
        """Answers the DIALOG notice ``dialog_id``: OK or Cancel; a prompt's answer."""
        self._call("quillo_view_answer_dialog", _uint64(dialog_id, "dialog_id"),
                   _flag(accept, "accept"), _text(prompt_text, "prompt_text", nullable=True))

    def eval(self, script: str, request_id: Optional[int] = None) -> int:
        """Runs ``script`` in the page's main frame; a SCRIPT_RESULT notice with the returned
        id follows (results come in the order of the calls). Without ``request_id`` the
        view numbers the requests 1, 2, 3...; mixing in ids of your own may repeat one."""
        if request_id is None:
            request_id = self._next_request_id
        request_id = _uint64(request_id, "request_id")
        self._call("quillo_view_eval", _text(script, "script"), request_id)
        self._next_request_id = max(self._next_request_id, request_id + 1)
        return request_id

    def evaluate(self, script: str, timeout: float = 30.0) -> Any:
        """Runs ``script`` and pumps until its result comes: the value (from JSON; None for
        undefined and what JSON has no form for), or :class:`ScriptError` with the exception's
        message. Other notices stay queued."""
        request_id = self.eval(script)
        notice = self.wait_for(lambda n: n.kind == NoticeKind.SCRIPT_RESULT and n.id == request_id,
                               timeout)
        return notice.result()

    def reply(self, message_id: int, text: str = "", ok: bool = True) -> None:
        """Answers the MESSAGE notice ``message_id``: ``ok`` resolves the page's promise with
        ``text``, otherwise it is rejected with an Error whose message is ``text``."""
        self._call("quillo_view_reply", _uint64(message_id, "message_id"), _flag(ok, "ok"),
                   _text(text, "text"))

    def respond(self, request_id: int, data=b"", status: int = 200,
                mime_type: Optional[str] = None, done: bool = True) -> None:
        """Answers the REQUEST notice ``request_id``. The first answer gives ``status``
        (100..599; 0 refuses the request) and ``mime_type`` (None: the engine guesses); every
        answer adds ``data`` (bytes-like, or str as UTF-8) to the response, and ``done`` ends
        it. :class:`NotFound` once the request has ended."""
        payload = _bytes(data, "data")
        self._call("quillo_view_respond", _uint64(request_id, "request_id"),
                   _int(status, "status"), _text(mime_type, "mime_type", nullable=True),
                   payload, len(payload), _flag(done, "done"))

    # ---- notices --------------------------------------------------------------------------------

    def _take(self) -> Optional[Notice]:
        """The library's oldest notice for this view, copied into Python, or None."""
        raw = _Notice()
        raw.size = ctypes.sizeof(_Notice)
        if self._call("quillo_view_next_notice", ctypes.byref(raw)) == 0:
            return None
        try:
            kind = NoticeKind(raw.kind)
        except ValueError:
            kind = raw.kind
        text, detail = _decode(raw.text), _decode(raw.detail)
        rect = Rect(raw.rect.x, raw.rect.y, raw.rect.width, raw.rect.height)
        answered = False
        if kind == NoticeKind.URL:
            self.url = text
        elif kind == NoticeKind.TITLE:
            self.title = text
        elif kind == NoticeKind.FRAME:
            self.frame_number = raw.id
        elif kind == NoticeKind.REQUEST:
            answered = _serve(self, Request(self, raw.id, text, detail))
        return Notice(kind, raw.code, raw.id, rect, text, detail, answered, self,
                      _decode(raw.input_mode))

    def _drain(self, limit: Optional[int]) -> int:
        """Moves the library's notices into the queue (up to ``limit`` queued); how many."""
        moved = 0
        while self._open and (limit is None or len(self._pending) < limit):
            notice = self._take()
            if notice is None:
                break
            self._pending.append(notice)
            moved += 1
        return moved

    def next_notice(self) -> Optional[Notice]:
        """The view's oldest notice not handed out yet, or None when there is none.
        :class:`ViewClosed` once the view is destroyed."""
        _enter("quillo_view_next_notice")
        if self._pending:
            return self._pending.popleft()
        return self._take()

    def notices(self) -> Iterator[Notice]:
        """Hands out the notices that have come, oldest first, until there are none left (it
        does not pump). Destroying the view inside the loop ends it."""
        while self._open:
            notice = self.next_notice()
            if notice is None:
                return
            yield notice

    def wait_for(self, match, timeout: float = 30.0) -> Notice:
        """Pumps until a notice matches and returns it; ``TimeoutError`` after ``timeout``
        seconds. ``match`` is a :class:`NoticeKind` or a function of a notice. Notices that
        do not match stay queued, in order, for later reads."""
        test = (lambda n: n.kind == match) if isinstance(match, NoticeKind) else match
        deadline = time.monotonic() + timeout
        checked = 0
        while True:
            if not self._open:
                raise ViewClosed(ERROR_BAD_HANDLE, "wait_for", "the view was destroyed")
            self._drain(None)
            for index in range(checked, len(self._pending)):
                if test(self._pending[index]):
                    notice = self._pending[index]
                    del self._pending[index]
                    return notice
            checked = len(self._pending)
            if time.monotonic() >= deadline:
                latest = list(self._pending)[-10:]
                raise TimeoutError(f"no matching notice within {timeout} s; latest: {latest}")
            pump()
            if not self._open or self._drain(None) == 0:
                time.sleep(IDLE_PUMP_SECONDS)

    def wait_ready(self, timeout: float = 30.0) -> Notice:
        """Pumps until the page is ready (its READY notice: fonts and images in, and the frame
        that shows them in memory; a READY taken by this call leaves that frame in memory until
        the next pump) and returns that notice; ``TimeoutError`` after ``timeout`` seconds.
        Other notices stay queued."""
        return self.wait_for(NoticeKind.READY, timeout)

    def wait_until(self, condition: Callable[[], bool], timeout: float = 30.0) -> None:
        """Pumps until ``condition()`` is true (notices stay queued); ``TimeoutError`` after
        ``timeout`` seconds."""
        deadline = time.monotonic() + timeout
        while not condition():
            if time.monotonic() >= deadline:
                raise TimeoutError(f"condition not met within {timeout} s")
            pump()
            time.sleep(IDLE_PUMP_SECONDS)
