"""The constants of ``quillo.h``, with the same names and values."""

# UpdateWeb result bits (a result of -1 means "not ready yet").
UPDATE_CURSOR_MASK = 0x000000FF
UPDATE_NEW_FRAME = 0x100
UPDATE_URL = 0x200
UPDATE_FOCUSED = 0x400
UPDATE_JS_DIALOG = 0x800
UPDATE_LOAD_ERROR = 0x1000
UPDATE_TITLE = 0x2000
UPDATE_POPUP_BLOCKED = 0x4000

# InputWeb event word: class | action | modifiers.
INPUT_CLASS_MASK = 0xF000
INPUT_MOUSE = 0x1000
INPUT_KEY = 0x2000
INPUT_DIALOG = 0x4000

INPUT_ACTION_MASK = 0x00F0
INPUT_MOUSE_DOWN = 0x10
INPUT_MOUSE_UP = 0x20
INPUT_MOUSE_MOVE = 0x30
INPUT_MOUSE_WHEEL = 0x40
INPUT_KEY_DOWN = 0x10
INPUT_KEY_UP = 0x20
INPUT_KEY_CHAR = 0x50
INPUT_FOCUS_IN = 0x60
INPUT_FOCUS_OUT = 0x70

INPUT_SHIFT = 0x100  # keys: Shift; mouse moves: left button held
INPUT_ALT = 0x200
INPUT_CONTROL = 0x400

# LoadWeb option bits.
PAINT_SWAP_RED_BLUE = 0x1
PAINT_BOTTOM_UP = 0x2
LOAD_DELETE_COOKIES = 0x8

# GoBackForwardHome directions.
HISTORY_HOME = 0
HISTORY_BACK = 1
HISTORY_FORWARD = 2

# The URL prefix that makes LoadWeb show the rest of the text as HTML.
HTML_SOURCE_PREFIX = "quillo_htmlsource:"

# Script dialog types reported with UPDATE_JS_DIALOG.
DIALOG_TYPES = {0: "alert", 1: "confirm", 2: "prompt"}

# Engine cursor types reported in the low byte of UpdateWeb's result (minus one).
CURSOR_NAMES = {0: "pointer", 1: "cross", 2: "hand", 3: "ibeam", 4: "wait", 5: "help"}
