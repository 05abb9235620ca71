"""Input: keyboard text and named keys into a field, mouse clicks, drags and the wheel."""

import pytest

import quillo
from quillo import NoticeKind
from pages import page

FIELD = ("<input id='field' style='position:absolute;left:0;top:0;width:180px;height:30px'"
         " onfocus='document.title = \"field focused\"'"
         " oninput='document.title = \"value:\" + this.value'"
         " onkeydown='if (event.key === \"Enter\") document.title = \"enter:\" + this.value'>")


def test_typing_into_a_field():
    view = quillo.WebView(html=page("form", FIELD), width=200, height=120)
    view.wait_for_title("form")
    view.wait_for_frame()
    view.focus(True)
    assert view.wait_for(NoticeKind.FOCUS).value == 1
    assert view.focused
    # The engine queues mouse and key events apart, so keys sent at once could overtake the
    # click; type once the click has focused the field, as a person would.
    view.click(20, 15)
    view.wait_for_title("field focused")

    # Letters, Shift for capitals and punctuation, a Latin-1 letter, a character beyond the
    # Basic Multilingual Plane (two UTF-16 units).
    text = "Hello, World! \u00fc\U0001F600"
    view.type_text(text)
    assert view.wait_for_title("value:" + text)

    view.key("Backspace")  # removes the emoji, both of its UTF-16 units
    assert view.wait_for_title("value:Hello, World! \u00fc")
    view.key("Ctrl+A")  # select all; the next character replaces the selection
    view.type_text("x")
    assert view.wait_for_title("value:x")
    view.key("Left")
    view.type_text("y")
    assert view.wait_for_title("value:yx")
    view.key("Enter")
    assert view.wait_for_title("enter:yx")

    view.focus(False)
    assert view.wait_for(NoticeKind.FOCUS).value == 0
    with pytest.raises(ValueError):
        view.key("NoSuchKey")


def test_click_and_drag():
    # The library reports the latest title of those set between two polls, so each step
    # ends in a title of its own: the click that closes a drag names where the drag went.
    body = ("<div id='pad' style='position:absolute;left:0;top:0;width:200px;height:120px'"
            " onmousemove='if (event.buttons & 1) window.dragX = event.clientX'"
            " onclick='document.title = (window.dragX === undefined ? \"\" :"
            " \"drag \" + window.dragX + \" \") + \"click \" + event.clientX + \",\" +"
            " event.clientY'></div>")
    view = quillo.WebView(html=page("pad", body), width=200, height=120)
    view.wait_for_title("pad")
    view.wait_for_frame()
    view.click(37, 81)
    assert view.wait_for_title("click 37,81")
    view.drag(10, 10, 150, 10, steps=4)
    assert view.wait_for_title("drag 150 click 150,10")


def test_wheel_scrolls_with_windows_deltas():
    tall = "<div style='height:3000px;background:linear-gradient(red, blue)'></div>"
    view = quillo.WebView(html=page("tall", tall), width=200, height=120)
    view.wait_for_title("tall")
    view.wait_for_frame()
    view.move(100, 60)
    # Script and input travel on different threads: the wheel waits until the listener is in.
    view.run_script("addEventListener('scroll', () => document.title = 'y ' + scrollY);"
                    "document.title = 'listening'")
    view.wait_for_title("listening")
    view.wheel(-360)  # three notches towards the user: down
    view.wait_for(lambda n: n.kind is NoticeKind.TITLE and n.text.startswith("y ") and
                  int(n.text[2:]) > 0, timeout=10)
    view.wheel(720)  # back up, past the top
    assert view.wait_for_title("y 0")
