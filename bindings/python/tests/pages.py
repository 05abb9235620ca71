"""HTML pages and pixel helpers shared by the binding's tests."""


def page(title, body="", style="margin:0"):
    """A page with ``title`` whose body has ``style`` and holds ``body``."""
    return (f"<!doctype html><html><head><meta charset='utf-8'><title>{title}</title></head>"
            f"<body style=\"{style}\">{body}</body></html>")


def near(actual, expected, tolerance=2):
    """Colours equal within ``tolerance`` per channel (the rasteriser may round)."""
    return len(actual) == len(expected) and all(
        abs(a - e) <= tolerance for a, e in zip(actual, expected))
