"""quillo.views end to end, the input beyond mouse and keys: an input method's compositions, the
clipboard both ways, a touch screen's fingers, and sound (the AUDIO notice, muting), each on a
real page that records what it sees."""

import time

import pytest

from quillo import views
from quillo.views import NoticeKind, Touch, Underline

DEADLINE_SECONDS = 60


def pump_until(condition, what):
    deadline = time.monotonic() + DEADLINE_SECONDS
    while not condition():
        assert time.monotonic() < deadline, f"timed out waiting for {what}"
        views.pump()
        time.sleep(0.002)


def wait_for_title(view, title):
    return view.wait_for(lambda n: n.kind is NoticeKind.TITLE and n.text == title)


# ---- composition input and the clipboard --------------------------------------------------------

TEXT_PAGE = """<!doctype html><meta charset=utf-8><body style="margin:0;font:20px sans-serif">
<input id=f style="position:absolute;left:10px;top:10px;width:260px;height:30px;border:0;
padding:0;font:20px sans-serif">
<p id=p style="position:absolute;left:10px;top:60px;margin:0">Hello <b>bold</b></p>
<script>
let log = [];
for (const t of ['compositionstart', 'compositionupdate', 'compositionend'])
  f.addEventListener(t, e => log.push(`${t} ${e.data}`));
f.addEventListener('input', e => log.push(`input ${e.inputType} ${e.isComposing} ${f.value}`));
document.addEventListener('paste', e => log.push(
    `paste ${e.clipboardData.getData('text/plain')} ${e.clipboardData.getData('text/html')}`));
document.title = 'ready';
</script></body>"""


def test_compositions_and_the_clipboard_go_both_ways():
    view = views.View(html=TEXT_PAGE, width=300, height=100)
    wait_for_title(view, "ready")
    view.set_focus(True)
    view.evaluate("f.focus()")

    # An input method composes: pre-edit texts (the caret at their end, or inside), underlined
    # parts, then the commit; the caret notice says where to put the candidate window.
    view.ime_set_composition("にほ")
    # (It may first be told at the composition's start, before the text is laid out.)
    caret = view.wait_for(lambda n: n.kind is NoticeKind.IME_CARET and n.code == 1 and
                          n.rect.x > 10)
    assert 40 < caret.rect.x < 80 and 10 <= caret.rect.y < 40 and caret.rect.height > 10, caret
    view.ime_set_composition("にほん", 1, underlines=[(0, 1), Underline(1, 3, 0xFF0000FF)])
    view.ime_commit("日本")
    pump_until(lambda: view.evaluate("f.value") == "日本", "the commit")
    # A second composition, cancelled: the field keeps the first's text.
    view.ime_set_composition("か")
    pump_until(lambda: view.evaluate("f.value") == "日本か", "the second composition")
    view.ime_cancel()
    pump_until(lambda: view.evaluate("f.value") == "日本", "the cancel")
    view.ime_commit("語")  # without a composition: typed
    pump_until(lambda: view.evaluate("f.value") == "日本語", "the typed commit")
    log = view.evaluate("log")
    assert log[:2] == ["compositionstart ", "compositionupdate にほ"], log
    assert "compositionend 日本" in log and log[-1] == "input insertText false 日本語", log
    assert "input insertCompositionText true にほん" in log, log

    # The page's copy reaches the host with its text and HTML; a cut too; the host's paste
    # reaches the page as a paste event and inserted text.
    view.evaluate("f.blur(); getSelection().selectAllChildren(p)")
    view.copy()
    copied = view.wait_for(NoticeKind.CLIPBOARD)
    assert (copied.code, copied.text) == (views.CLIPBOARD_COPY, "Hello bold"), copied
    assert "<b" in copied.detail, copied
    view.evaluate("f.focus(); f.select()")
    view.cut()
    cut = view.wait_for(NoticeKind.CLIPBOARD)
    assert (cut.code, cut.text, cut.detail) == (views.CLIPBOARD_CUT, "日本語", ""), cut
    view.paste("ペースト 😀", "<i>x</i>")
    pump_until(lambda: view.evaluate("f.value") == "ペースト 😀", "the paste")
    assert view.evaluate("log.filter(l => l.startsWith('paste'))") == [
        "paste ペースト 😀 <i>x</i>"]

    # Careless calls raise, and change nothing.
    for call in [lambda: view.ime_set_composition("ab", 3),
                 lambda: view.ime_set_composition("ab", 2, 1),
                 lambda: view.ime_set_composition("ab", underlines=[(1, 5)]),
                 lambda: view.ime_set_composition("x" * (views.MAX_COMPOSITION_BYTES + 1))]:
        with pytest.raises(views.ArgumentError):
            call()
    for call in [lambda: view.paste(None), lambda: view.ime_commit(b"x"),
                 lambda: view.ime_set_composition("ab", underlines=[(1,)]),
                 lambda: view.paste("x", html=1)]:
        with pytest.raises(TypeError):
            call()
    with pytest.raises(ValueError):
        view.ime_commit("\ud800")
    assert view.evaluate("f.value") == "ペースト 😀"


# ---- touch --------------------------------------------------------------------------------------

TOUCH_PAGE = """<!doctype html><title>loading</title>
<body style="margin:0;width:200px;height:100px;touch-action:none">
<div id=a style="position:absolute;left:0;top:0;width:100px;height:100px"></div>
<div id=b style="position:absolute;left:100px;top:0;width:100px;height:100px"></div>
<script>
let log = [], cancelTouches = true;
const at = p => `${Math.round(p.clientX)},${Math.round(p.clientY)}`;
for (const t of ['touchstart', 'touchmove', 'touchend', 'touchcancel'])
  addEventListener(t, e => {
    log.push(`${t} ${e.target.id} ${e.touches.length} ` +
             [...e.changedTouches].map(p => `${p.identifier}@${at(p)}`).join(' '));
    if (cancelTouches && t !== 'touchend') e.preventDefault();
  }, {passive: false});
for (const t of ['pointerdown', 'pointermove', 'pointerup', 'pointercancel'])
  addEventListener(t, e => log.push(`${t} ${e.target.id} ${e.pointerType} ${at(e)}`));
addEventListener('click', e => log.push(`click ${e.target.id} ${at(e)}`));
document.title = 'ready';
</script></body>"""


def test_fingers_reach_the_page_as_touch_and_pointer_events():
    # At scale 2: the host's positions are device pixels, the page's CSS pixels.
    view = views.View(html=TOUCH_PAGE, width=400, height=200, device_scale=2)
    wait_for_title(view, "ready")
    view.touch("start", 3, 40, 20)
    view.touch(Touch.START, 7, 300, 100)
    view.touch("move", 7, 320, 120)
    view.touch("end", 3, 40, 20)
    view.touch("cancel", 7, 0, 0)
    expected = ["pointerdown a touch 20,10", "touchstart a 1 3@20,10",
                "pointerdown b touch 150,50", "touchstart b 2 7@150,50",
                "pointermove b touch 160,60", "touchmove b 2 7@160,60",
                "pointerup a touch 20,10", "touchend a 1 3@20,10",
                "pointercancel b touch 160,60", "touchcancel b 0 7@160,60"]
    pump_until(lambda: len(view.evaluate("log")) >= len(expected), "the fingers' events")
    assert view.evaluate("log") == expected

    # A tap the page does not cancel clicks, once.
    view.evaluate("log = []; cancelTouches = false")
    view.tap(60, 40, finger=1)
    pump_until(lambda: "click a 30,20" in view.evaluate("log"), "the tap's click")
    assert view.evaluate("log") == ["pointerdown a touch 30,20", "touchstart a 1 1@30,20",
                                    "pointerup a touch 30,20", "touchend a 0 1@30,20",
                                    "click a 30,20"]

    # Careless fingers raise, and change nothing.
    view.touch("start", 0, 10, 10)
    for call in [lambda: view.touch("start", 0, 10, 10), lambda: view.touch("move", 5, 1, 1),
                 lambda: view.touch("end", 6, 1, 1), lambda: view.touch(9, 0, 1, 1),
                 lambda: view.touch("move", 0, views.MAX_SIDE + 1, 0),
                 lambda: view.touch("start", -1, 1, 1)]:
        with pytest.raises(views.ArgumentError):
            call()
    for finger in range(1, views.MAX_TOUCH_POINTS):
        view.touch("start", finger, 10, 10)
    with pytest.raises(views.ArgumentError):
        view.touch("start", 99, 10, 10)
    with pytest.raises(ValueError):
        view.touch("squeeze", 0, 1, 1)
    with pytest.raises(ValueError):
        view.touch("move", 0, 2 ** 31, 1)
    with pytest.raises(TypeError):
        view.touch("move", 0, 1.5, 1)
    view.touch("end", 0, 10, 10)


# ---- sound --------------------------------------------------------------------------------------

# Two seconds of a tone, a WAV file the page makes, played in a loop on demand.
SOUND_PAGE = """<!doctype html><title>loading</title><script>
const n = 16000, b = new DataView(new ArrayBuffer(44 + n * 2));
const w = (o, s) => [...s].forEach((c, i) => b.setUint8(o + i, c.charCodeAt(0)));
w(0, 'RIFF'); b.setUint32(4, 36 + n * 2, true); w(8, 'WAVEfmt ');
b.setUint32(16, 16, true); b.setUint16(20, 1, true); b.setUint16(22, 1, true);
b.setUint32(24, 8000, true); b.setUint32(28, 16000, true); b.setUint16(32, 2, true);
b.setUint16(34, 16, true); w(36, 'data'); b.setUint32(40, n * 2, true);
for (let i = 0; i < n; i++) b.setInt16(44 + i * 2, 8000 * Math.sin(i / 3), true);
const a = new Audio(URL.createObjectURL(new Blob([b], {type: 'audio/wav'})));
a.loop = true;
a.onplaying = () => document.title = 'playing';
a.onpause = () => document.title = 'paused';
document.title = 'ready';
</script>"""


def test_sound_is_told_and_muted():
    view = views.View(html=SOUND_PAGE, width=64, height=48)
    wait_for_title(view, "ready")
    assert view.muted is False
    view.set_muted(True)
    assert view.muted is True
    view.eval("a.play()")
    started = view.wait_for(NoticeKind.AUDIO)
    assert started.code == 1
    # Muted, the page plays on: its element's time goes on, its own muted and volume as they were.
    first = view.evaluate("a.currentTime")
    pump_until(lambda: view.evaluate("a.currentTime") > first + 0.2, "the element playing on")
    assert view.evaluate("[a.paused, a.muted, a.volume]") == [False, False, 1]
    view.set_muted(False)
    view.eval("a.pause()")
    assert view.wait_for(NoticeKind.AUDIO).code == 0
    assert not any(n.kind is NoticeKind.AUDIO for n in view.notices())
    with pytest.raises(TypeError):
        view.set_muted("yes")
    view.destroy()
    with pytest.raises(views.ViewClosed):
        view.set_muted(True)
