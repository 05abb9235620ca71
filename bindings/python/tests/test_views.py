"""quillo.views end to end: pages served from Python that post to Python and paint its answers,
a transparent view at scale 2 resized without losing its page, and careless calls (a seeded
random host among them) that raise Python exceptions and never crash."""

import gc
import random
import threading
import time

import pytest

import quillo
from quillo import views
from quillo.views import NoticeKind
from pages import near

DEADLINE_SECONDS = 60


def pump_until(condition, what, step=None):
    """Pumps (and runs step once a pump) until condition() holds."""
    deadline = time.monotonic() + DEADLINE_SECONDS
    while not condition():
        assert time.monotonic() < deadline, f"timed out waiting for {what}"
        views.pump()
        if step:
            step()
        time.sleep(0.002)


# ---- pages served from Python, posting to Python ------------------------------------------------

GAME_MAIN_JS = """
import {seven} from './lib.js';
const data = await (await fetch('data.json')).json();
document.getElementById('data').style.background = data.color;
const missing = (await fetch('nope.json')).status;
const answer = await quilloPost('colour?');
document.getElementById('answer').style.background = answer;
let refusal;
try { await quilloPost('fail'); refusal = 'resolved'; } catch (e) { refusal = e.message; }
document.getElementById('refusal').style.background =
    refusal === 'no' ? 'rgb(255,0,255)' : 'rgb(0,0,0)';
requestAnimationFrame(() => requestAnimationFrame(() => {
  document.title = ['done', seven, missing, refusal].join(' ');
}));
"""

# Keys in each of the forms a mapping may use: the whole URL, host and path, the path, and the
# path without its "/".
GAME_ASSETS = {
    "app://game/ui/index.html":
        "<!doctype html><html><head><title>loading</title>"
        "<link rel=stylesheet href='style.css'><script type=module src='js/main.js'></script>"
        "</head><body><img id=tile src='../img/tile.svg' width=40 height=40>"
        "<div id=data class=box></div><div id=answer class=box></div>"
        "<div id=refusal class=box></div></body></html>",
    "game/ui/style.css":
        "html,body{margin:0;background:rgb(0,0,255)}#tile{position:absolute;left:0;top:0}"
        ".box{position:absolute;top:0;width:40px;height:40px}#data{left:50px}"
        "#answer{left:100px}#refusal{left:150px}",
    "/img/tile.svg": views.Response(
        b"<svg xmlns='http://www.w3.org/2000/svg' width='40' height='40'>"
        b"<rect width='40' height='40' fill='rgb(255,0,0)'/></svg>", 200, "image/svg+xml"),
    "ui/js/main.js": GAME_MAIN_JS,
    "ui/js/lib.js": "export const seven = 7;",
    "ui/data.json": b'{"color": "rgb(0,255,0)"}',
}

STREAM_PAGE = """<!doctype html><title>b</title><body style="margin:0"><script>
(async () => {
  const name = prompt('name?', 'nobody');
  const colour = await (await fetch('stream.txt')).text();
  document.body.style.background = colour;
  const later = await (await fetch('later.txt')).text();
  const boom = (await fetch('boom.txt')).status;
  let refused;
  try { await fetch('other.txt'); refused = 'fetched'; } catch (e) { refused = 'refused'; }
  requestAnimationFrame(() => requestAnimationFrame(() => {
    document.title = [name, colour, later, boom, refused].join(' ');
  }));
})();
</script></body>"""


def test_pages_served_from_python_post_to_python_and_paint_its_answers():
    # View a: pages of the app: scheme from a dict. View b: the gen: scheme from a callable that
    # streams one answer a piece a pump, leaves one request to the host, fails on one and
    # refuses one.
    views.register_scheme("app", GAME_ASSETS)
    pumps = 0
    pulled = []  # the pump during which each streamed piece was taken
    asked = []

    def pieces():
        for piece in ["rgb(", "0,128", ",255)"]:
            pulled.append(pumps)
            yield piece

    def serve(request):
        asked.append((request.path, request.method))
        if request.path == "/index.html":
            return STREAM_PAGE
        if request.path == "/stream.txt":
            return views.Response(pieces(), mime_type="text/plain")
        if request.path == "/later.txt":
            return None
        if request.path == "/boom.txt":
            raise RuntimeError("a handler's bug")
        return views.REFUSE

    views.register_scheme("gen", serve)
    a = views.View("app://game/ui/index.html", width=200, height=80)
    b = views.View("gen://stream/index.html", width=64, height=48, format="RGBA")
    seen = {a: [], b: []}

    def answer():
        for view in (a, b):
            for n in view.notices():
                assert n.view is view
                seen[view].append(n)
                if n.kind is NoticeKind.DIALOG:
                    assert (n.dialog_type, n.text, n.detail) == (
                        views.DialogType.PROMPT, "name?", "nobody")
                    n.accept("Ada")
                elif n.kind is NoticeKind.MESSAGE and n.text == "colour?":
                    n.resolve("rgb(255,255,0)")
                elif n.kind is NoticeKind.MESSAGE:
                    n.reject("no")
                elif n.kind is NoticeKind.REQUEST and not n.answered:
                    n.respond("later!", mime_type="text/plain")

    def count_pump():
        nonlocal pumps
        pumps += 1
        answer()

    pump_until(lambda: a.title == "done 7 404 no" and b.title == "Ada rgb(0,128,255) later! 500 "
               "refused", "both pages' titles", count_pump)

    red, green, blue = (255, 0, 0, 255), (0, 255, 0, 255), (0, 0, 255, 255)
    yellow, magenta = (255, 255, 0, 255), (255, 0, 255, 255)
    probes = {(20, 20): red, (70, 20): green, (120, 20): yellow, (170, 20): magenta,
              (190, 70): blue}
    pump_until(lambda: all(near(a.frame.pixel(x, y), c) for (x, y), c in probes.items())
               and near(b.frame.pixel(32, 24), (0, 128, 255, 255)), "the answers' colours")

    # Every asset asked for once, each answered from the dict as it was taken.
    requests = [n for n in seen[a] if n.kind is NoticeKind.REQUEST]
    assert sorted(n.text for n in requests) == sorted([
        "app://game/ui/index.html", "app://game/ui/style.css", "app://game/img/tile.svg",
        "app://game/ui/js/main.js", "app://game/ui/js/lib.js", "app://game/ui/data.json",
        "app://game/ui/nope.json"])
    assert all(n.answered and n.detail == "GET" for n in requests)
    # The page's posts came in order, each once; answered ones take no second answer.
    messages = [n for n in seen[a] if n.kind is NoticeKind.MESSAGE]
    assert [n.text for n in messages] == ["colour?", "fail"]
    with pytest.raises(views.NotFound):
        messages[0].resolve("again")
    # The callable saw each request; only later.txt was left to the host.
    assert [p for p, _ in asked] == ["/index.html", "/stream.txt", "/later.txt", "/boom.txt",
                                     "/other.txt"]
    left = [n.text for n in seen[b] if n.kind is NoticeKind.REQUEST and not n.answered]
    assert left == ["gen://stream/later.txt"]
    # The stream went out one piece a pump.
    assert len(pulled) == 3 and len(set(pulled)) == 3, pulled
    # Frame numbers grow; every frame lies inside its view.
    for view in (a, b):
        frames = [n for n in seen[view] if n.kind is NoticeKind.FRAME]
        assert frames and all(x.id < y.id for x, y in zip(frames, frames[1:]))
        assert all(0 <= f.rect.x and f.rect.x + f.rect.width <= view.width and
                   0 <= f.rect.y and f.rect.y + f.rect.height <= view.height for f in frames)


# ---- transparency, device scale, resize ----------------------------------------------------------

GLASS_PAGE = """<!doctype html><html style="background:transparent"><head><style>
body { margin: 0; height: 2000px } ::-webkit-scrollbar { display: none }
#glass { position: fixed; left: 0; top: 0; width: 100%; height: 10px;
         background: rgba(255,255,255,0.5) }
#red { position: fixed; left: 0; top: 20px; width: 10px; height: 10px; background: #f00 }
#field { position: fixed; left: 30px; top: 20px; width: 20px; height: 10px; border: 0;
         padding: 0; outline: none; background: transparent; color: transparent;
         caret-color: transparent }
</style></head><body><div id=glass></div><div id=red></div><input id=field>
<script>window.token = Math.random()</script></body></html>"""

HALF_WHITE = (128, 128, 128, 128)  # 50 % white, premultiplied
NOTHING = (0, 0, 0, 0)
RED = (255, 0, 0, 255)


def raw_rgba(memory, stride, height, x, y):
    """The bytes of RGBA, bottom-up memory at page position (x, y), read from the header's
    rules alone."""
    offset = (height - 1 - y) * stride + x * 4
    return tuple(memory[offset:offset + 4])


def test_a_transparent_view_at_scale_2_resizes_keeping_its_page():
    view = views.View(html=GLASS_PAGE, width=160, height=100, device_scale=2, transparent=True,
                      format="RGBA", bottom_up=True)
    # Memory in device pixels; the page laid out in CSS pixels.
    assert len(view.pixels) == 160 * 100 * 4 and view.stride == 640
    assert view.evaluate("[innerWidth, innerHeight, devicePixelRatio]") == [80, 50, 2]

    def shows_page(width, height):
        f = view.frame
        return (near(f.pixel(width - 1, 5), HALF_WHITE) and near(f.pixel(5, 45), RED) and
                f.pixel(width - 10, height - 10) == NOTHING and
                near(f.pixel(19, 59), RED) and f.pixel(20, 59)[3] == 0)

    pump_until(lambda: shows_page(160, 100), "the page on glass at 160x100")
    assert raw_rgba(view.pixels, 640, 100, 5, 5) == view.frame.pixel(5, 5)

    # State to keep: text typed into the field (a key with text, then text alone), the page
    # scrolled, a script's value. Input positions are device pixels.
    view.click(80, 50)
    view.set_focus(True)
    view.wait_for(lambda n: n.kind is NoticeKind.FOCUS and n.code == 1)
    view.press("a")
    view.type_text("é")
    pump_until(lambda: view.evaluate("field.value") == "aé", "the text typed")
    view.wheel(120, 80, 0, 200)
    pump_until(lambda: view.evaluate("scrollY") > 0, "the page scrolled")
    state = view.evaluate("[token, field.value, scrollY]")
    list(view.notices())  # what came before the resize

    # New memory of the host's (a bytearray, rows 32 bytes longer than the pixels).
    old = view.frame
    stride = 240 * 4 + 32
    host_memory = bytearray(stride * 140)
    view.resize(240, 140, stride=stride, buffer=host_memory)
    old.data[:] = b"\x5a" * len(old.data)  # the library writes it no more
    pump_until(lambda: view.evaluate("[innerWidth, innerHeight, devicePixelRatio]") ==
               [120, 70, 2], "the page laid out at 120x70 CSS pixels")
    pump_until(lambda: shows_page(240, 140), "the page on glass at 240x140")
    assert view.evaluate("[token, field.value, scrollY]") == state
    assert not any(n.kind is NoticeKind.LOAD_STARTED for n in view.notices()), "a reload"
    for _ in range(20):
        views.pump()
    assert old.data.tobytes() == b"\x5a" * len(old.data)
    # The picture is in the host's bytearray, which cannot be reallocated while the view has it.
    assert view.buffer is host_memory and len(view.pixels) == stride * 140
    assert raw_rgba(host_memory, stride, 140, 239, 5) == view.frame.pixel(239, 5)
    assert near(raw_rgba(host_memory, stride, 140, 5, 45), RED)
    with pytest.raises(BufferError):
        host_memory.append(0)
    # Destroyed, the view keeps the last picture; dropped, it lets go of the bytearray.
    view.destroy()
    assert near(view.frame.pixel(5, 45), RED)
    view = old = None
    gc.collect()
    host_memory.append(0)


# ---- careless hosts -----------------------------------------------------------------------------


def test_careless_calls_raise_python_exceptions_and_never_crash():
    view = views.View(html="<body style='margin:0;background:rgb(0,90,0)'>", width=32, height=24)
    with pytest.raises(RuntimeError, match="views holds"):
        quillo.WebView(html="<p>x</p>", width=32, height=24)

    # Wrong types and values that do not fit the C call: refused before the library is called.
    for call in [lambda: view.mouse_move("1", 2), lambda: view.eval(b"1"),
                 lambda: view.resize(10.5, 10), lambda: views.View(width="100"),
                 lambda: views.register_scheme(b"app"), lambda: view.respond(1, data=[1, 2]),
                 lambda: view.set_zoom("2"), lambda: view.set_hidden(None),
                 lambda: views.View(buffer=b"\0" * 800 * 600 * 4), lambda: view.reply(1.0, "x"),
                 lambda: views.register_scheme("x", handler=42)]:
        with pytest.raises(TypeError):
            call()
    for call in [lambda: view.eval("1\0"), lambda: view.mouse_move(2 ** 31, 0),
                 lambda: view.reply(-1, "x"), lambda: views.View(format="XRGB"),
                 lambda: view.type_text("\ud800"), lambda: view.click(1, 1, count=4),
                 lambda: views.View(width=8, height=8, buffer=bytearray(100))]:
        with pytest.raises(ValueError):
            call()
    # Values the library refuses, with its code.
    refused = [(lambda: views.View(width=0, height=10), views.ERROR_BAD_SIZE),
               (lambda: views.View(width=16385, height=10), views.ERROR_BAD_SIZE),
               (lambda: views.View(width=10, height=10, stride=39), views.ERROR_BAD_STRIDE),
               (lambda: views.View(format=7), views.ERROR_BAD_CONFIG),
               (lambda: views.View(device_scale=9), views.ERROR_BAD_CONFIG),
               (lambda: view.set_device_scale(float("nan")), views.ERROR_BAD_ARGUMENT),
               (lambda: view.set_frame_rate(0), views.ERROR_BAD_ARGUMENT),
               (lambda: view.mouse_button(9, True, 1, 1), views.ERROR_BAD_ARGUMENT),
               (lambda: view.key(5, 0x41), views.ERROR_BAD_ARGUMENT),
               (lambda: views.register_scheme("https"), views.ERROR_BAD_ARGUMENT),
               (lambda: view.reply(987654, "x"), views.ERROR_NOT_FOUND),
               (lambda: view.respond(987654, b"x"), views.ERROR_NOT_FOUND),
               (lambda: view.answer_dialog(987654), views.ERROR_NOT_FOUND)]
    for call, code in refused:
        with pytest.raises(views.QuilloError) as refusal:
            call()
        assert refusal.value.code == code, refusal.value
    assert views.open_views() == [view]

    # Another thread: refused, and nothing changes.
    outcomes = []

    def elsewhere():
        for call in [views.pump, view.reload, view.destroy, lambda: views.View(width=8, height=8),
                     view.next_notice]:
            try:
                call()
                outcomes.append("done")
            except views.WrongThread:
                outcomes.append("refused")

    worker = threading.Thread(target=elsewhere)
    worker.start()
    worker.join()
    assert outcomes == ["refused"] * 5
    assert view.is_open and views.open_views() == [view]
    pump_until(lambda: near(view.frame.pixel(5, 5), (0, 90, 0, 255)), "the page")

    # A destroyed view: every call refused; its notices loop ends; its memory keeps the picture.
    other = views.View(html="<title>x</title>", width=16, height=16)
    other.wait_for(NoticeKind.FRAME)
    other.load_html("<title>y</title>")
    looped = 0
    for _ in other.notices():
        looped += 1
        other.destroy()
    assert looped == 1 and not other.is_open
    other.destroy()  # again: nothing
    for call in [other.next_notice, other.reload, lambda: other.eval("1"),
                 lambda: other.resize(8, 8), lambda: other.mouse_move(1, 1),
                 lambda: other.press("a"), lambda: other.set_focus(), lambda: other.set_zoom(2),
                 lambda: other.reply(1, "x"), lambda: other.respond(1), other.go_back]:
        with pytest.raises(views.ViewClosed):
            call()

    random_host(random.Random(22), view)

    views.shutdown()
    views.shutdown()  # again: nothing
    assert not view.is_open and views.open_views() == []
    for call in [views.pump, view.reload, lambda: views.View(width=8, height=8),
                 lambda: views.register_scheme("late")]:
        with pytest.raises(views.EngineShutDown):
            call()
    with pytest.raises(quillo.EngineStopped):
        view.next_notice()


def random_host(rng, first):
    """Drives up to four views through every call in random order, each call either sound or
    with one fault whose exception is known beforehand; at the end every open view still shows
    a page it is given."""
    live, dead = [first], []
    sizes = {first: (first.width, first.height)}  # the largest size each view had

    def pick():
        if dead and rng.random() < 0.2:
            return rng.choice(dead), views.ViewClosed
        return (rng.choice(live), None) if live else (None, None)

    def create():
        if len(live) >= 4:
            return None
        w, h = rng.randint(8, 160), rng.randint(8, 120)
        fault, args = (None, {}) if rng.random() < 0.6 else rng.choice([
            (views.ArgumentError, {"width": 0}),
            (views.ArgumentError, {"height": views.MAX_SIDE + 1}),
            (TypeError, {"width": float(w)}), (views.ArgumentError, {"device_scale": 0.1}),
            (views.ArgumentError, {"stride": w * 4 - 1})])
        settings = dict(width=w, height=h, device_scale=rng.choice([1, 1.5, 2]),
                        format=rng.choice(["BGRA", "RGBA"]), bottom_up=rng.random() < 0.5,
                        transparent=rng.random() < 0.5)
        settings.update(args)
        if fault:
            return fault, lambda: views.View(html="<p>x</p>", **settings)

        def make():
            view = views.View(html="<p>random</p>", **settings)
            live.append(view)
            sizes[view] = (view.width, view.height)
        return None, make

    def destroy():
        view, _ = pick()
        if view is None:
            return None

        def go():
            view.destroy()  # a destroyed view's second destroy does nothing
            if view in live:
                live.remove(view)
                dead.append(view)
        return None, go

    def resize():
        view, fault = pick()
        if view is None:
            return None
        w, h = rng.randint(8, 160), rng.randint(8, 120)
        stride = rng.choice([None, w * 4 + 12])
        if fault is None and rng.random() < 0.3:
            fault, w = rng.choice([(views.ArgumentError, 0), (TypeError, "8")])

        def go():
            view.resize(w, h, stride=stride)
            sizes[view] = tuple(map(max, sizes[view], (w, h)))
        return fault, go

    def view_call():
        view, fault = pick()
        if view is None:
            return None
        x, y = rng.randint(0, 200), rng.randint(0, 200)
        sound = [lambda: view.mouse_move(x, y),
                 lambda: view.click(x, y, rng.choice(["left", "middle", "right"]),
                                    rng.randint(1, 3)),
                 lambda: view.wheel(x, y, rng.randint(-50, 50), rng.randint(-50, 50)),
                 lambda: view.press(rng.choice(["a", "Enter", "Left", 0x42])),
                 lambda: view.type_text("zé"), lambda: view.set_focus(rng.random() < 0.5),
                 lambda: view.eval(rng.choice(["1", "throw 1", "document.title"])),
                 lambda: view.set_zoom(rng.choice([0.5, 1, 2])),
                 lambda: view.set_frame_rate(rng.randint(1, 240)),
                 lambda: view.set_hidden(rng.random() < 0.3),
                 lambda: view.load_html("<p>next</p>"), view.reload, view.go_back]
        faulty = [(views.ArgumentError, lambda: view.set_zoom(9)),
                  (views.ArgumentError, lambda: view.mouse_button(3, True, x, y)),
                  (views.ArgumentError, lambda: view.mouse_button("left", True, x, y, 0)),
                  (views.ArgumentError, lambda: view.key(0, 0x41)),
                  (views.NotFound, lambda: view.reply(10 ** 9 + x, "x")),
                  (views.NotFound, lambda: view.respond(10 ** 9 + x, b"x")),
                  (views.NotFound, lambda: view.answer_dialog(10 ** 9 + x)),
                  (ValueError, lambda: view.wheel(x, y, 2 ** 40, 0)),
                  (TypeError, lambda: view.key(views.KEY_DOWN, "A"))]
        if fault is None and rng.random() < 0.4:
            return rng.choice(faulty)
        return fault, rng.choice(sound)

    def read():
        def go():
            views.pump()
            for view in list(live):
                for n in view.notices():
                    if n.kind is NoticeKind.FRAME:
                        w, h = sizes[view]
                        assert n.rect.x + n.rect.width <= w and n.rect.y + n.rect.height <= h, n
        return None, go

    steps = {"create": create, "destroy": destroy, "resize": resize, "call": view_call,
             "read": read}
    weights = [3, 1, 2, 6, 4]
    for step in range(400):
        planned = rng.choices(list(steps.values()), weights)[0]()
        if planned is None:
            continue
        fault, call = planned
        if fault is None:
            call()
        else:
            with pytest.raises(fault):
                call()
                print(f"step {step}: expected {fault.__name__}")

    # Every view still open shows a page it is given, at its size now.
    assert len(live) >= 2 and len(dead) >= 2, "the seed no longer gives a host worth checking"
    for i, view in enumerate(live):
        view.set_hidden(False)
        view.set_zoom(1)
        colour = (40 * i, 200, 255 - 40 * i)
        view.load_html(f"<body style='margin:0;background:rgb{colour}'>")
    pump_until(lambda: all(near(v.frame.pixel(v.width - 1, v.height - 1), (*c, 255))
                           for v, c in ((v, (40 * i, 200, 255 - 40 * i))
                                        for i, v in enumerate(live))),
               "every open view's last page")
    assert views.open_views() == live
    assert all(v.evaluate("6 * 7") == 42 for v in live)


def test_the_eight_exports_holding_the_engine_refuse_views():
    page = quillo.WebView(html="<title>one</title>", width=32, height=24)
    page.wait_for_title("one")
    with pytest.raises(views.EngineInUse):
        views.View(html="<p>two</p>", width=32, height=24)
    assert views.open_views() == []


# ---- a page that says it is ready, fields that say they have the focus -------------------------

READY_PAGE = (
    "<!doctype html><title>p</title><body style='margin:0;background:#fff'>"
    "<img src=pic.svg style='position:absolute;left:0;top:50px;width:40px;height:40px'>"
    "<input inputmode=numeric value=42 style='position:absolute;left:60px;top:10px;"
    "width:100px;height:30px;box-sizing:border-box;margin:0'>")
READY_SVG = (b"<svg xmlns='http://www.w3.org/2000/svg' width='40' height='40'>"
             b"<rect width='40' height='40' fill='rgb(255,0,0)'/></svg>")


def test_ready_waits_for_a_late_image_and_fields_tell_their_focus():
    """READY comes once the image Python answers late is in, right after the frame that shows
    it; a click into a field gives an EDITABLE notice with its kind, input mode, rectangle in
    memory pixels and text; auto_reload is a config field with its range."""
    late = []

    def serve(request):
        if request.url.endswith("/pic.svg"):
            late.append(request)  # answered below, many pumps later
            return None
        return views.Response(READY_PAGE, 200, "text/html")

    views.register_scheme("late", serve)
    view = views.View("late://p/index.html", width=400, height=240, device_scale=2,
                      auto_reload=1)
    pump_until(lambda: late, "the image's request")
    for _ in range(50):
        views.pump()
        time.sleep(0.002)
    assert NoticeKind.READY not in [n.kind for n in view.notices()]
    late[0].respond(READY_SVG, 200, "image/svg+xml")
    ready = view.wait_ready()
    assert ready.text == "late://p/index.html"
    assert ready.id == view.frame_number  # the frame in memory now
    assert near(view.frame.pixel(40, 140), (255, 0, 0, 255))

    view.set_focus(True)
    view.click(220, 50)
    gained = view.wait_for(lambda n: n.kind == NoticeKind.EDITABLE)
    assert (gained.code, gained.detail, gained.input_mode) == (1, "text", "numeric")
    assert gained.rect == views.Rect(120, 20, 200, 60)
    assert gained.text == "42" and 0 <= gained.id <= 2

    for bad in (-1, views.MAX_AUTO_RELOADS + 1):
        with pytest.raises(views.ArgumentError):
            views.View(html="x", width=8, height=8, auto_reload=bad)
