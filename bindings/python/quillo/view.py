"""The Pythonic layer: :class:`WebView`, :class:`Notice` and :class:`Frame`."""

import atexit
import collections
import ctypes
import enum
import threading
import time
from dataclasses import dataclass
from typing import Deque, Iterator, List, Optional

from . import _library, keys
from .constants import (
    CURSOR_NAMES, DIALOG_TYPES, HISTORY_BACK, HISTORY_FORWARD, HISTORY_HOME, HTML_SOURCE_PREFIX,
    INPUT_ALT, INPUT_CONTROL, INPUT_DIALOG, INPUT_FOCUS_IN, INPUT_FOCUS_OUT, INPUT_KEY,
    INPUT_KEY_CHAR, INPUT_KEY_DOWN, INPUT_KEY_UP, INPUT_MOUSE, INPUT_MOUSE_DOWN, INPUT_MOUSE_MOVE,
    INPUT_MOUSE_UP, INPUT_MOUSE_WHEEL, INPUT_SHIFT, LOAD_DELETE_COOKIES, PAINT_BOTTOM_UP,
    PAINT_SWAP_RED_BLUE, UPDATE_CURSOR_MASK, UPDATE_FOCUSED, UPDATE_JS_DIALOG, UPDATE_LOAD_ERROR,
    UPDATE_NEW_FRAME, UPDATE_POPUP_BLOCKED, UPDATE_TITLE, UPDATE_URL)

# The most pixels a side the library lays a view out at.
MAX_SIDE = 8192
# Pause between polls that brought nothing, in the waiting helpers.
IDLE_POLL_SECONDS = 0.002
# Notices kept for the waiting helpers before the oldest are dropped.
PENDING_LIMIT = 1024


class EngineStopped(RuntimeError):
    """The engine was shut down (``UnloadWeb(1)``); it cannot start again in this process."""


class NoticeKind(enum.Enum):
    """What one :class:`Notice` reports."""

    FRAME = "frame"                  #: new pixels are in the frame memory
    URL = "url"                      #: a navigation starts or was refused; text = the URL
    TITLE = "title"                  #: the title changed; text = the title
    DIALOG = "dialog"                #: a script dialog waits; text = message, value = type
    LOAD_ERROR = "load_error"        #: a load failed; text = error, value = network error code
    POPUP_BLOCKED = "popup_blocked"  #: the page asked for a new window and was refused
    CURSOR = "cursor"                #: the cursor changed; value = engine cursor type
    FOCUS = "focus"                  #: keyboard focus came or went; value = 1 or 0


@dataclass(frozen=True)
class Notice:
    """One thing the page reported through ``UpdateWeb``."""

    kind: NoticeKind
    text: Optional[str] = None
    value: Optional[int] = None

    @property
    def dialog_type(self) -> Optional[str]:
        """``"alert"``, ``"confirm"`` or ``"prompt"`` for a dialog notice, else None."""
        if self.kind is not NoticeKind.DIALOG:
            return None
        return DIALOG_TYPES.get(self.value, f"type {self.value}")

    @property
    def cursor_name(self) -> Optional[str]:
        """A name such as ``"hand"`` or ``"ibeam"`` for a cursor notice, else None."""
        if self.kind is not NoticeKind.CURSOR:
            return None
        return CURSOR_NAMES.get(self.value, f"type {self.value}")


class Frame:
    """Pixels laid out as the library writes them: 4 bytes a pixel, rows ``stride`` bytes apart
    (``width * 4`` unless given).

    ``layout`` is ``"BGRA"`` (the default) or ``"RGBA"`` (``swap_red_blue``); with
    ``bottom_up`` the bottom row of the page is stored first. :meth:`pixel`,
    :meth:`to_rgba` and :meth:`to_rgb` undo both (and drop the bytes past each row's pixels),
    so callers can think in page coordinates. The bytes are what the library wrote: a
    transparent view's are premultiplied by alpha.
    """

    def __init__(self, data, width: int, height: int, swap_red_blue=False, bottom_up=False,
                 stride=None):
        self.data = memoryview(data).cast("B")
        self.width = width
        self.height = height
        self.stride = width * 4 if stride is None else int(stride)
        self.layout = "RGBA" if swap_red_blue else "BGRA"
        self.bottom_up = bool(bottom_up)
        if self.stride < width * 4:
            raise ValueError("frame stride is smaller than width * 4")
        if len(self.data) < self.stride * height:
            raise ValueError("frame memory is smaller than stride * height")

    def row_offset(self, y: int) -> int:
        """Byte offset of page row ``y`` (0 = top) in :attr:`data`."""
        return (self.height - 1 - y if self.bottom_up else y) * self.stride

    def pixel(self, x: int, y: int):
        """``(r, g, b, a)`` of the pixel at page position ``(x, y)``."""
        if not (0 <= x < self.width and 0 <= y < self.height):
            raise IndexError(f"pixel ({x}, {y}) is outside {self.width}x{self.height}")
        offset = self.row_offset(y) + x * 4
        c0, c1, c2, alpha = self.data[offset:offset + 4]
        return (c0, c1, c2, alpha) if self.layout == "RGBA" else (c2, c1, c0, alpha)

    def tobytes(self) -> bytes:
        """A copy of the memory exactly as laid out."""
        return self.data[:self.stride * self.height].tobytes()

    def copy(self) -> "Frame":
        """A snapshot that later painting does not change."""
        return Frame(self.tobytes(), self.width, self.height, self.layout == "RGBA",
                     self.bottom_up, self.stride)

    def _top_down(self) -> bytes:
        # The rows top first, each width * 4 bytes (a longer stride's padding dropped).
        raw = self.tobytes()
        s, w = self.stride, self.width * 4
        if s == w and not self.bottom_up:
            return raw
        rows = range(self.height - 1, -1, -1) if self.bottom_up else range(self.height)
        return b"".join(raw[y * s:y * s + w] for y in rows)

    def to_rgba(self) -> bytes:
        """R, G, B, A bytes, top row first (what PIL's ``Image.frombytes("RGBA", ...)`` takes)."""
        raw = self._top_down()
        if self.layout == "RGBA":
            return raw
        out = bytearray(raw)
        out[0::4], out[2::4] = raw[2::4], raw[0::4]
        return bytes(out)

    def to_rgb(self) -> bytes:
        """R, G, B bytes, top row first (alpha dropped)."""
        rgba = self.to_rgba()
        out = bytearray(len(rgba) // 4 * 3)
        out[0::3], out[1::3], out[2::3] = rgba[0::4], rgba[1::4], rgba[2::4]
        return bytes(out)


# The engine runs once per process, so its state is the module's, not a view's.
_engine_lock = threading.Lock()
_engine = {"started": False, "stopped": False, "view": None}
# Pixel memory of closed views: the library may still paint into it until the asynchronous
# close has finished, so it is kept until the engine has stopped.
_retired_buffers: List[object] = []


def engine_stopped() -> bool:
    """True once the engine was shut down in this process."""
    return _engine["stopped"]


def set_debug(enabled: bool, library=None) -> None:
    """Turns the library's diagnostic log on or off (``SetDebugEnable``).

    The log goes to ``tavlo_cef.log`` beside ``libquillo.so`` and to standard error.
    """
    _library.load(library).SetDebugEnable(bool(enabled))


def shutdown() -> None:
    """Stops the engine for the rest of the process (``UnloadWeb(1)``); waits for its threads.

    Safe to call more than once and before anything was opened.
    """
    with _engine_lock:
        if not _engine["started"] or _engine["stopped"]:
            return
        _library.load().UnloadWeb(True)
        _engine["stopped"] = True
        view = _engine["view"]
        _engine["view"] = None
        if view is not None:
            view._open = False
        _retired_buffers.clear()


def _encode(text: str) -> bytes:
    return text.encode("utf-8")


class WebView:
    """The one live page of this process, painted into memory this object owns.

    ``WebView("https://example.org/", 800, 600)`` or ``WebView(html="<h1>Hi</h1>")`` opens
    the page (the first one starts the engine). Then call :meth:`poll` regularly, or use the
    waiting helpers (:meth:`notices`, :meth:`wait_for`, :meth:`wait_until`): each poll lets
    the engine do one unit of work. :attr:`frame` is the live pixel memory.

    Used as a context manager, the engine is shut down on exit (``UnloadWeb(1)``), after which
    no page can be opened again in this process; :meth:`close` closes the page only, and a
    new ``WebView`` may be opened after it.

    Options: ``language`` is the accept-language (at most 9 characters are used);
    ``swap_red_blue`` stores R, G, B, A instead of B, G, R, A; ``bottom_up`` stores the bottom
    row first; ``delete_cookies`` deletes every cookie before the page is created;
    ``library`` is a path to ``libquillo.so`` (otherwise ``$QUILLO_LIBRARY``, then beside the
    package, then the system loader path).
    """

    def __init__(self, url: Optional[str] = None, width: int = 800, height: int = 600, *,
                 html: Optional[str] = None, language: str = "en-US",
                 swap_red_blue: bool = False, bottom_up: bool = False,
                 delete_cookies: bool = False, position=(0, 0), library=None):
        if (url is None) == (html is None):
            raise ValueError("give exactly one of url and html")
        if not (1 <= width <= MAX_SIDE and 1 <= height <= MAX_SIDE):
            raise ValueError(f"width and height must be 1 to {MAX_SIDE}")
        self._lib = _library.load(library)
        self.width, self.height = int(width), int(height)
        self.swap_red_blue, self.bottom_up = bool(swap_red_blue), bool(bottom_up)
        options = ((PAINT_SWAP_RED_BLUE if swap_red_blue else 0)
                   | (PAINT_BOTTOM_UP if bottom_up else 0)
                   | (LOAD_DELETE_COOKIES if delete_cookies else 0))
        # Zeroed host memory; it must outlive every paint the engine may still do.
        self._buffer = (ctypes.c_ubyte * (self.width * self.height * 4))()
        self._open = False
        #: Whether the engine has answered a poll yet (UpdateWeb stops returning -1).
        self.ready = False
        #: The last title, URL and cursor type the page reported, or None.
        self.title: Optional[str] = None
        self.url: Optional[str] = None
        self.cursor: Optional[int] = None
        #: Whether the page holds keyboard focus, as the library reports it.
        self.focused = False
        #: How many polls have brought new pixels.
        self.frame_count = 0
        #: The dialog notice waiting for an answer, or None.
        self.dialog: Optional[Notice] = None
        # Notices that arrived but were not handed out yet, oldest first; the oldest go when
        # it is full (a long animation brings a frame notice on nearly every poll).
        self._pending: Deque[Notice] = collections.deque(maxlen=PENDING_LIMIT)

        from . import views  # here: views imports this module
        if views.holds_engine():
            raise RuntimeError("quillo.views holds this process's engine; LoadWeb cannot use it")
        with _engine_lock:
            if _engine["stopped"]:
                raise EngineStopped("the engine was shut down; it starts once per process")
            if _engine["view"] is not None:
                raise RuntimeError("a page is already open; close() it first (one per process)")
            first = url if url is not None else HTML_SOURCE_PREFIX + html
            self._lib.LoadWeb(int(position[0]), int(position[1]), self.width, self.height,
                              ctypes.addressof(self._buffer), _encode(first), options,
                              _encode(language) if language is not None else None)
            if not _engine["started"]:
                _engine["started"] = True
                atexit.register(shutdown)  # the library must be stopped before the host exits
            _engine["view"] = self
            self._open = True

    # ---- lifetime ---------------------------------------------------------------------------

    def __enter__(self) -> "WebView":
        return self

    def __exit__(self, *exc_info) -> None:
        shutdown()

    @property
    def is_open(self) -> bool:
        """True until :meth:`close` or the engine's shutdown."""
        return self._open

    def close(self) -> None:
        """Closes the page, not the engine (``UnloadWeb(0)``); a new WebView may follow.

        The library carries the close out asynchronously; a new WebView opened at once waits
        until it is done (milliseconds) and then opens with all its own arguments.
        """
        with _engine_lock:
            if not self._open:
                return
            self._lib.UnloadWeb(False)
            self._open = False
            _engine["view"] = None
            _retired_buffers.append(self._buffer)

    def shutdown(self) -> None:
        """Stops the engine for the rest of the process (``UnloadWeb(1)``)."""
        shutdown()

    def _require_open(self) -> None:
        if self._open:
            return
        if _engine["stopped"]:
            raise EngineStopped("the engine was shut down; it starts once per process")
        raise RuntimeError("the page is closed")

    # ---- navigation and script --------------------------------------------------------------

    def load(self, url: str) -> None:
        """Loads ``url`` in the open page (the other LoadWeb arguments are kept)."""
        self._require_open()
        self._lib.LoadWeb(0, 0, self.width, self.height, ctypes.addressof(self._buffer),
                          _encode(url), 0, None)

    def load_html(self, html: str) -> None:
        """Shows ``html`` in the open page."""
        self.load(HTML_SOURCE_PREFIX + html)

    def run_script(self, script: str) -> None:
        """Runs ``script`` in the page's main frame (``ExecuteJavaScript``); no result comes back.

        To read a value, have the script put it somewhere a notice shows, e.g.
        ``document.title``.
        """
        self._require_open()
        self._lib.ExecuteJavaScript(_encode(script))

    def back(self) -> None:
        """Goes back in the page's history."""
        self._require_open()
        self._lib.GoBackForwardHome(HISTORY_BACK)

    def forward(self) -> None:
        """Goes forward in the page's history."""
        self._require_open()
        self._lib.GoBackForwardHome(HISTORY_FORWARD)

    def home(self) -> None:
        """Loads the URL the page was opened with."""
        self._require_open()
        self._lib.GoBackForwardHome(HISTORY_HOME)

    def block_url_prefixes(self, prefixes) -> None:
        """Refuses navigations to URLs starting with any of ``prefixes`` (e.g. ``["tel:"]``).

        Replaces the previous list. A refused navigation arrives as a URL notice. ``mailto:``
        is always refused, silently.
        """
        text = prefixes if isinstance(prefixes, str) else ";".join(prefixes)
        self._lib.ReserveInvalidRedirectUrlSchemes(_encode(text))

    # ---- notices ----------------------------------------------------------------------------

    def _update(self) -> int:
        """One UpdateWeb call; its notices join the pending queue. Returns how many (-1 while
        the engine is starting)."""
        text = ctypes.c_void_p()
        value = ctypes.c_int(0)
        word = self._lib.UpdateWeb(ctypes.byref(text), ctypes.byref(value))
        if word == -1:
            return -1
        self.ready = True
        # The text is the library's until the next UpdateWeb: decode it now.
        string = None
        if text.value and word & (UPDATE_URL | UPDATE_TITLE | UPDATE_JS_DIALOG | UPDATE_LOAD_ERROR):
            string = ctypes.string_at(text.value).decode("utf-8", "replace")
        notices = []
        if word & UPDATE_LOAD_ERROR:
            notices.append(Notice(NoticeKind.LOAD_ERROR, string, value.value))
        if word & UPDATE_URL:
            self.url = string
            notices.append(Notice(NoticeKind.URL, string))
        if word & UPDATE_TITLE:
            self.title = string
            notices.append(Notice(NoticeKind.TITLE, string))
        if word & UPDATE_JS_DIALOG:
            self.dialog = Notice(NoticeKind.DIALOG, string, value.value)
            notices.append(self.dialog)
        if word & UPDATE_NEW_FRAME:
            self.frame_count += 1
            notices.append(Notice(NoticeKind.FRAME))
        if word & UPDATE_POPUP_BLOCKED:
            notices.append(Notice(NoticeKind.POPUP_BLOCKED))
        if word & UPDATE_CURSOR_MASK:
            self.cursor = (word & UPDATE_CURSOR_MASK) - 1
            notices.append(Notice(NoticeKind.CURSOR, value=self.cursor))
        focused = bool(word & UPDATE_FOCUSED)  # a state, reported on every call while true
        if focused != self.focused:
            self.focused = focused
            notices.append(Notice(NoticeKind.FOCUS, value=int(focused)))
        self._pending.extend(notices)
        return len(notices)

    def poll(self) -> List[Notice]:
        """Calls ``UpdateWeb`` once and returns every notice not handed out yet, oldest first
        (empty while the engine starts or when nothing happened).

        Also keeps :attr:`title`, :attr:`url`, :attr:`focused`, :attr:`cursor`,
        :attr:`dialog` and :attr:`frame_count` current.
        """
        self._update()
        notices = list(self._pending)
        self._pending.clear()
        return notices

    def discard_notices(self) -> None:
        """Forgets the notices that arrived but were not handed out yet."""
        self._pending.clear()

    def notices(self, timeout: Optional[float] = None) -> Iterator[Notice]:
        """Polls and yields notices one by one as they come, for ``timeout`` seconds (None:
        for as long as the caller iterates)."""
        deadline = None if timeout is None else time.monotonic() + timeout
        while True:
            while self._pending:
                yield self._pending.popleft()
            if deadline is not None and time.monotonic() >= deadline:
                return
            if self._update() <= 0:
                time.sleep(IDLE_POLL_SECONDS)

    def wait_for(self, match, timeout: float = 30.0) -> Notice:
        """Returns the oldest notice that matches, polling until one comes; ``TimeoutError``
        after ``timeout`` seconds.

        ``match`` is a :class:`NoticeKind`, its value (``"title"``) or a function of a
        notice. Notices that do not match stay pending, in order, for later calls.
        """
        if isinstance(match, str):
            match = NoticeKind(match)
        test = (lambda n: n.kind is match) if isinstance(match, NoticeKind) else match
        deadline = time.monotonic() + timeout
        checked = 0  # pending notices already tested
        while True:
            for index in range(checked, len(self._pending)):
                if test(self._pending[index]):
                    notice = self._pending[index]
                    del self._pending[index]
                    return notice
            checked = len(self._pending)
            if time.monotonic() >= deadline:
                seen = list(self._pending)[-20:]
                raise TimeoutError(f"no matching notice within {timeout} s; latest: {seen}")
            added = self._update()
            if added <= 0:
                time.sleep(IDLE_POLL_SECONDS)
            else:
                # A full queue dropped its oldest entries, which shifts the tested ones left.
                dropped = checked + added - len(self._pending)
                checked = max(0, checked - dropped)

    def wait_until(self, condition, timeout: float = 30.0) -> None:
        """Polls until ``condition()`` is true (the notices stay pending); ``TimeoutError``
        after ``timeout`` seconds."""
        deadline = time.monotonic() + timeout
        while not condition():
            if time.monotonic() >= deadline:
                raise TimeoutError(f"condition not met within {timeout} s")
            if self._update() <= 0:
                time.sleep(IDLE_POLL_SECONDS)

    def wait_for_frame(self, timeout: float = 30.0) -> Frame:
        """Waits for the next pending or new frame notice and returns :attr:`frame`."""
        self.wait_for(NoticeKind.FRAME, timeout)
        return self.frame

    def wait_for_title(self, title: Optional[str] = None, timeout: float = 30.0) -> str:
        """Waits for a title notice (with the text ``title``, if given) and returns the title."""
        return self.wait_for(lambda n: n.kind is NoticeKind.TITLE and
                             (title is None or n.text == title), timeout).text

    def wait_for_dialog(self, timeout: float = 30.0) -> Notice:
        """Waits until a script dialog waits for an answer and returns its notice."""
        return self.wait_for(NoticeKind.DIALOG, timeout)

    # ---- pixels -----------------------------------------------------------------------------

    @property
    def frame(self) -> Frame:
        """The live pixel memory as a :class:`Frame` (use ``.copy()`` for a snapshot)."""
        return Frame(self._buffer, self.width, self.height, self.swap_red_blue, self.bottom_up)

    @property
    def pixels(self) -> memoryview:
        """The live pixel memory as a flat read-only ``memoryview`` of bytes."""
        return memoryview(self._buffer).cast("B").toreadonly()

    # ---- dialogs ----------------------------------------------------------------------------

    def answer_dialog(self, accept: bool = True) -> None:
        """Answers the waiting script dialog: OK (``accept``) or Cancel."""
        self._require_open()
        self._lib.InputWeb(INPUT_DIALOG, 1 if accept else 0, 0)
        self.dialog = None

    def accept_dialog(self) -> None:
        """Presses OK on the waiting script dialog."""
        self.answer_dialog(True)

    def dismiss_dialog(self) -> None:
        """Presses Cancel on the waiting script dialog."""
        self.answer_dialog(False)

    # ---- mouse ------------------------------------------------------------------------------

    def _input(self, event: int, a: int, b: int) -> None:
        self._require_open()
        self._lib.InputWeb(event, int(a), int(b))

    def move(self, x: int, y: int, *, button: bool = False) -> None:
        """Moves the pointer to ``(x, y)``; ``button``: the left button is held (a drag)."""
        self._input(INPUT_MOUSE | INPUT_MOUSE_MOVE | (INPUT_SHIFT if button else 0), x, y)

    def mouse_down(self, x: int, y: int) -> None:
        """Presses the left button at ``(x, y)``."""
        self._input(INPUT_MOUSE | INPUT_MOUSE_DOWN, x, y)

    def mouse_up(self, x: int, y: int) -> None:
        """Releases the left button at ``(x, y)``."""
        self._input(INPUT_MOUSE | INPUT_MOUSE_UP, x, y)

    def click(self, x: int, y: int) -> None:
        """Moves to ``(x, y)`` and clicks the left button there."""
        self.move(x, y)
        self.mouse_down(x, y)
        self.mouse_up(x, y)

    def drag(self, x0: int, y0: int, x1: int, y1: int, steps: int = 8) -> None:
        """Presses at ``(x0, y0)``, moves in ``steps`` steps to ``(x1, y1)`` and releases."""
        self.move(x0, y0)
        self.mouse_down(x0, y0)
        for i in range(1, steps + 1):
            self.move(x0 + (x1 - x0) * i // steps, y0 + (y1 - y0) * i // steps, button=True)
        self.mouse_up(x1, y1)

    def wheel(self, dy: int, dx: int = 0) -> None:
        """Turns the wheel at the last pointer position, in Windows units.

        120 is one notch; positive ``dy`` scrolls up (towards the top of the page), negative
        scrolls down; positive ``dx`` scrolls left.
        """
        self._input(INPUT_MOUSE | INPUT_MOUSE_WHEEL, dx, dy)

    # ---- keyboard ---------------------------------------------------------------------------

    def focus(self, focused: bool = True) -> None:
        """Gives the page keyboard focus (or takes it away)."""
        self._input(INPUT_KEY | (INPUT_FOCUS_IN if focused else INPUT_FOCUS_OUT), 0, 0)

    @staticmethod
    def _modifiers(shift=False, ctrl=False, alt=False) -> int:
        return ((INPUT_SHIFT if shift else 0) | (INPUT_CONTROL if ctrl else 0)
                | (INPUT_ALT if alt else 0))

    def key_down(self, vk: int, char: int = 0, *, shift=False, ctrl=False, alt=False) -> None:
        """Sends one KEYDOWN: Windows virtual-key code ``vk``, UTF-16 unit ``char``."""
        self._input(INPUT_KEY | INPUT_KEY_DOWN | self._modifiers(shift, ctrl, alt), vk, char)

    def key_up(self, vk: int, char: int = 0, *, shift=False, ctrl=False, alt=False) -> None:
        """Sends one KEYUP."""
        self._input(INPUT_KEY | INPUT_KEY_UP | self._modifiers(shift, ctrl, alt), vk, char)

    def key_char(self, char: int, vk: int = 0, *, shift=False, ctrl=False, alt=False) -> None:
        """Sends one CHAR event carrying the UTF-16 unit ``char``."""
        self._input(INPUT_KEY | INPUT_KEY_CHAR | self._modifiers(shift, ctrl, alt), vk, char)

    def type_text(self, text: str) -> None:
        """Types ``text`` as a Windows keyboard would: KEYDOWN, CHAR, KEYUP per character.

        Letters, digits and US-layout punctuation get their own keys (with Shift where the
        layout needs it); other characters come as ``VK_PACKET`` with their UTF-16 units
        (two CHAR events above U+FFFF). ``"\\n"`` presses Enter and ``"\\t"`` Tab.
        """
        for char in text:
            if char in "\r\n":
                self.key("Enter")
                continue
            if char == "\t":
                self.key("Tab")
                continue
            vk, shift = keys.for_character(char)
            units = keys.utf16_units(char)
            self.key_down(vk, units[0], shift=shift)
            for unit in units:
                self.key_char(unit, vk, shift=shift)
            self.key_up(vk, units[0], shift=shift)

    def key(self, name: str, *, shift=False, ctrl=False, alt=False) -> None:
        """Presses and releases a key by name: ``"Enter"``, ``"Backspace"``, ``"Left"``,
        ``"F5"``, a single character such as ``"a"``, or a combination such as
        ``"Ctrl+A"`` or ``"Shift+Tab"`` (names are case-insensitive).

        The CHAR event a Windows keyboard sends in between is sent too, except for Control
        shortcuts, which type no text.
        """
        parts = name.split("+") if len(name) > 1 else [name]
        if parts[-1] == "" and len(parts) > 1:  # "Ctrl++"
            parts = parts[:-2] + ["+"]
        *modifier_names, key_name = parts
        flags = {"shift": shift, "ctrl": ctrl, "alt": alt}
        for modifier in modifier_names:
            canonical = keys.MODIFIER_NAMES.get(modifier.strip().lower())
            if canonical is None:
                raise ValueError(f"unknown modifier {modifier!r} in {name!r}")
            flags[canonical] = True
        if len(key_name) == 1:
            vk, needs_shift = keys.for_character(key_name)
            char = keys.utf16_units(key_name)[0]
            if key_name.isalpha() and flags["ctrl"]:
                needs_shift = False  # Ctrl+A and Ctrl+a are the same shortcut
            flags["shift"] = flags["shift"] or needs_shift
        else:
            try:
                vk, char = keys.NAMED_KEYS[key_name.strip().lower()]
            except KeyError:
                raise ValueError(f"unknown key name {key_name!r}") from None
        self.key_down(vk, char, **flags)
        if char and not (flags["ctrl"] and not flags["alt"]):
            self.key_char(char, vk, **flags)
        self.key_up(vk, char, **flags)
