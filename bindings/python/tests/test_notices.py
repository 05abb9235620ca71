"""Notices: titles, URLs, script, history, load errors, refused navigations and popups."""

import socket

import quillo
from quillo import NoticeKind
from pages import page


def test_title_url_script_and_history(tmp_path):
    urls = {}
    for name in ("first", "second"):
        path = tmp_path / f"{name}.html"
        path.write_text(page(name), encoding="utf-8")
        urls[name] = path.as_uri()
    view = quillo.WebView(urls["first"], width=200, height=120)
    assert view.wait_for_title("first") == "first"
    assert view.url == urls["first"]

    view.load(urls["second"])
    view.wait_for(lambda n: n.kind is NoticeKind.URL and n.text == urls["second"])
    assert view.wait_for_title("second") == "second"
    assert view.url == urls["second"] and view.title == "second"

    view.run_script("document.title = 'script ' + (6 * 7)")
    assert view.wait_for_title("script 42") == "script 42"

    view.back()
    assert view.wait_for_title("first") == "first"
    view.forward()
    view.wait_for(lambda n: n.kind is NoticeKind.URL and n.text == urls["second"])
    view.home()  # the page the view was opened with
    view.wait_for(lambda n: n.kind is NoticeKind.URL and n.text == urls["first"])
    assert view.wait_for_title("first")


def test_refused_connection_is_a_load_error():
    # A bound socket that does not listen: connecting to it is refused at once.
    with socket.socket() as closed:
        closed.bind(("127.0.0.1", 0))
        port = closed.getsockname()[1]
        view = quillo.WebView(html=page("start"), width=200, height=120)
        view.wait_for_title("start")
        view.load(f"http://127.0.0.1:{port}/")
        error = view.wait_for(NoticeKind.LOAD_ERROR)
    assert error.value == -102, error
    assert "ERR_CONNECTION_REFUSED" in error.text


def test_refused_navigation_and_blocked_popup():
    link = ("<a href='about:blank' target='_blank' style='display:block;width:100px;"
            "height:40px;background:#ccc'>new window</a>")
    marker = "<script>window.marker = 'the links page'</script>"
    view = quillo.WebView(html=page("links", link + marker), width=200, height=120)
    view.wait_for_title("links")
    view.wait_for_frame()

    view.block_url_prefixes(["sms:", "tel:"])
    view.run_script("location.href = 'tel:+15550100'")
    refused = view.wait_for(lambda n: n.kind is NoticeKind.URL and n.text.startswith("tel:"))
    assert refused.text == "tel:+15550100"

    view.move(50, 20)
    cursor = view.wait_for(NoticeKind.CURSOR)
    assert cursor.cursor_name == "hand"
    view.click(50, 20)
    view.wait_for(NoticeKind.POPUP_BLOCKED)
    # The page itself stays where it was.
    view.run_script("document.title = 'still ' + window.marker")
    assert view.wait_for_title("still the links page")
