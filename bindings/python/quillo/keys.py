"""Windows virtual-key codes, which is what quillo's key events carry.

``NAMED_KEYS`` maps key names (case-insensitive, as :meth:`WebView.key` accepts them) to
``(virtual-key code, character)``; the character is what a Windows keyboard sends in the
CHAR event between KEYDOWN and KEYUP (0 for none). :func:`for_character` gives the key that
types a character on a US keyboard layout.
"""

VK_BACK = 0x08
VK_TAB = 0x09
VK_RETURN = 0x0D
VK_SHIFT = 0x10
VK_CONTROL = 0x11
VK_MENU = 0x12  # Alt
VK_ESCAPE = 0x1B
VK_SPACE = 0x20
VK_PACKET = 0xE7  # a character that no key of the layout types

NAMED_KEYS = {
    "backspace": (VK_BACK, 0x08),
    "tab": (VK_TAB, 0x09),
    "enter": (VK_RETURN, 0x0D),
    "return": (VK_RETURN, 0x0D),
    "shift": (VK_SHIFT, 0),
    "control": (VK_CONTROL, 0),
    "ctrl": (VK_CONTROL, 0),
    "alt": (VK_MENU, 0),
    "pause": (0x13, 0),
    "capslock": (0x14, 0),
    "escape": (VK_ESCAPE, 0x1B),
    "esc": (VK_ESCAPE, 0x1B),
    "space": (VK_SPACE, 0x20),
    "pageup": (0x21, 0),
    "pagedown": (0x22, 0),
    "end": (0x23, 0),
    "home": (0x24, 0),
    "left": (0x25, 0),
    "arrowleft": (0x25, 0),
    "up": (0x26, 0),
    "arrowup": (0x26, 0),
    "right": (0x27, 0),
    "arrowright": (0x27, 0),
    "down": (0x28, 0),
    "arrowdown": (0x28, 0),
    "insert": (0x2D, 0),
    "delete": (0x2E, 0),
    "del": (0x2E, 0),
    "menu": (0x5D, 0),
    "contextmenu": (0x5D, 0),
}
NAMED_KEYS.update({f"f{n}": (0x70 + n - 1, 0) for n in range(1, 25)})

# Punctuation on a US layout: character -> (virtual-key code, needs Shift).
_PUNCTUATION = {
    ";": (0xBA, False), ":": (0xBA, True),
    "=": (0xBB, False), "+": (0xBB, True),
    ",": (0xBC, False), "<": (0xBC, True),
    "-": (0xBD, False), "_": (0xBD, True),
    ".": (0xBE, False), ">": (0xBE, True),
    "/": (0xBF, False), "?": (0xBF, True),
    "`": (0xC0, False), "~": (0xC0, True),
    "[": (0xDB, False), "{": (0xDB, True),
    "\\": (0xDC, False), "|": (0xDC, True),
    "]": (0xDD, False), "}": (0xDD, True),
    "'": (0xDE, False), '"': (0xDE, True),
}
_SHIFTED_DIGITS = ")!@#$%^&*("  # Shift + 0 ... Shift + 9

MODIFIER_NAMES = {"shift": "shift", "ctrl": "ctrl", "control": "ctrl", "alt": "alt"}


def for_character(char):
    """``(virtual-key code, needs Shift)`` for one character on a US keyboard layout.

    Characters no key types (accented letters, emoji...) get ``VK_PACKET``, as Windows gives
    text that arrives without a key.
    """
    if "a" <= char <= "z":
        return ord(char.upper()), False
    if "A" <= char <= "Z":
        return ord(char), True
    if "0" <= char <= "9":
        return ord(char), False
    if char in _SHIFTED_DIGITS:
        return ord("0") + _SHIFTED_DIGITS.index(char), True
    if char == " ":
        return VK_SPACE, False
    if char in ("\n", "\r"):
        return VK_RETURN, False
    if char == "\t":
        return VK_TAB, False
    if char in _PUNCTUATION:
        return _PUNCTUATION[char]
    return VK_PACKET, False


def utf16_units(char):
    """The UTF-16 code units of one character (two for characters above U+FFFF)."""
    data = char.encode("utf-16-le", "surrogatepass")
    return [int.from_bytes(data[i:i + 2], "little") for i in range(0, len(data), 2)]
