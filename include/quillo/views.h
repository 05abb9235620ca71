/* quillo views: any number of live web pages, each painted into memory the host owns.
 *
 * A second interface of libquillo.so beside the eight functions of quillo.h, for hosts that need
 * more than one fixed page: several views at once, resizing, transparency, device scale, every
 * notice in order, scripts with results, pages that call the host and await its answer, and
 * pages served from the host's memory.
 *
 * Typical use:
 *   quillo_view_config cfg = quillo_view_config_default();
 *   cfg.width = 1280; cfg.height = 720; cfg.pixels = mem; cfg.stride = 1280 * 4;
 *   quillo_view* view;
 *   if (quillo_view_create(&cfg, "https://example.org/", &view) != QUILLO_OK) ...;
 *   for (;;) {                                    // once per host frame
 *     quillo_pump();
 *     quillo_notice n = quillo_notice_init();
 *     while (quillo_view_next_notice(view, &n) == 1)
 *       if (n.kind == QUILLO_NOTICE_FRAME) upload(mem, n.rect);
 *   }
 *   quillo_view_destroy(view);
 *   quillo_shutdown();
 *
 * ---- Threads ------------------------------------------------------------------------------
 * The first call of a function of this header (other than the three marked "any thread") makes
 * the calling thread the host's thread. Every later call must come from that thread: a call from
 * another one does nothing and returns QUILLO_ERROR_WRONG_THREAD (with a log line). The library
 * runs the engine on a thread of its own; it never calls into the host's code and never writes
 * the host's memory from that thread.
 *
 * ---- One engine per process -------------------------------------------------------------
 * A process has one engine. Views share it: the first quillo_view_create starts it, and
 * quillo_shutdown stops it for the rest of the process. The eight functions of quillo.h and this
 * header cannot both be used in one process: whichever starts the engine first keeps it. A
 * quillo_view_create after LoadWeb returns QUILLO_ERROR_ENGINE_IN_USE; a LoadWeb after the first
 * quillo_view_create loads nothing, writes a log line, and its next UpdateWeb reports
 * UPDATE_LOAD_ERROR with -2 and "net::ERR_FAILED" (later calls return -1).
 *
 * ---- Memory ------------------------------------------------------------------------------
 * The host owns each view's pixel memory: height rows, stride bytes apart, 4 bytes a pixel. The
 * library writes it only inside quillo_pump, one whole frame at a time: the pixels a FRAME
 * notice reports do not change until the host's next quillo_pump, however long the host takes.
 * Pixels are premultiplied by alpha (an opaque page has alpha 255 everywhere). Once
 * quillo_view_resize, quillo_view_destroy or quillo_shutdown returns, the memory handed over
 * before is never written again.
 *
 * Texts the library hands out (notice texts) are NUL-terminated UTF-8 owned by the library,
 * valid until the next call that names the same view (and, after quillo_shutdown, not at all);
 * copy them if needed. Texts the host passes in are read during the call only.
 *
 * ---- Errors ------------------------------------------------------------------------------
 * Every function returns QUILLO_OK (0) or a negative QUILLO_ERROR_*; a refused call changes
 * nothing and writes a log line (see quillo_set_log). A null, destroyed or made-up handle is
 * never followed: it gives QUILLO_ERROR_BAD_HANDLE.
 *
 * In the child of a fork() every function returns QUILLO_ERROR_FORKED and does nothing. End
 * the child with exec or _exit: exit() there runs the engine's exit handlers, which can wait
 * forever for a lock that one of the parent's engine threads held at the fork.
 */
#ifndef QUILLO_VIEWS_H
#define QUILLO_VIEWS_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#if defined(_WIN32)
#define QUILLO_VIEWS_API __declspec(dllimport)
#else
#define QUILLO_VIEWS_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Results ---------------------------------------------------------------------------- */

#define QUILLO_OK 0
#define QUILLO_ERROR_NULL_ARGUMENT -1 /* a pointer the call needs is null */
#define QUILLO_ERROR_BAD_HANDLE -2    /* a null, destroyed or foreign view handle */
#define QUILLO_ERROR_BAD_SIZE -3      /* a width or height below 1 or above QUILLO_MAX_SIDE */
#define QUILLO_ERROR_BAD_STRIDE -4    /* a stride below width * 4 */
#define QUILLO_ERROR_BAD_CONFIG -5    /* an unknown config size or a field out of its range */
#define QUILLO_ERROR_BAD_ARGUMENT -6  /* another argument out of its range */
#define QUILLO_ERROR_WRONG_THREAD -7  /* not the host's thread (see Threads above) */
#define QUILLO_ERROR_SHUT_DOWN -8     /* after quillo_shutdown, or the engine has stopped */
#define QUILLO_ERROR_ENGINE_IN_USE -9 /* the eight functions of quillo.h hold the engine */
#define QUILLO_ERROR_NO_MEMORY -10    /* the library could not allocate what the call needs */
#define QUILLO_ERROR_LIMIT -11        /* QUILLO_MAX_VIEWS views (or schemes) exist already */
#define QUILLO_ERROR_NOT_FOUND -12    /* no open dialog, message or request with that id */
#define QUILLO_ERROR_FORKED -13       /* in the child of a fork() */

/* The largest width and height of a view, in pixels. */
#define QUILLO_MAX_SIDE 16384
/* The most views that exist at once. */
#define QUILLO_MAX_VIEWS 256

/* Any thread: a short English text for a result ("QUILLO_ERROR_BAD_HANDLE: ..."), static. */
QUILLO_VIEWS_API const char* quillo_result_text(int result);

/* Any thread: 1 turns the diagnostic log on (standard error, and the file tavlo_cef.log beside
 * the library once the engine has started), 0 off. The same switch as SetDebugEnable. */
QUILLO_VIEWS_API void quillo_set_log(int enable);

/* ---- Views ------------------------------------------------------------------------------ */

typedef struct quillo_view quillo_view; /* opaque; never dereferenced by the host */

/* Pixel formats: the bytes of each pixel in memory order. */
#define QUILLO_FORMAT_BGRA 0
#define QUILLO_FORMAT_RGBA 1

typedef struct quillo_view_config {
  /* sizeof(quillo_view_config) as the host was compiled; set by quillo_view_config_default.
   * The library reads no field beyond it (later fields keep their defaults), and refuses a size
   * smaller than the first version's or one whose extra bytes are not all zero. */
  size_t size;
  /* The memory: width x height pixels (1..QUILLO_MAX_SIDE), rows stride bytes apart (at least
   * width * 4; 0 means width * 4), owned by the host, never null. Device pixels: with a
   * device_scale of 2 the page is laid out at width / 2 x height / 2 CSS pixels. */
  int width;
  int height;
  void* pixels;
  size_t stride;
  int format;    /* QUILLO_FORMAT_BGRA (default) or QUILLO_FORMAT_RGBA */
  int bottom_up; /* 1: the bottom row comes first in memory; 0 (default): the top row */
  /* 1: the page's transparent parts stay transparent (alpha 0 where the page draws nothing, and
   * partly transparent colours keep their alpha, premultiplied). 0 (default): opaque, on white. */
  int transparent;
  /* The page's devicePixelRatio, 0.25..8; 0 means 1. Text and images are drawn at this many
   * device pixels per CSS pixel; the page is laid out at width / device_scale (rounded up, at
   * most QUILLO_MAX_SIDE) x height / device_scale CSS pixels. */
  double device_scale;
  /* The most frames a second the page paints, 1..240; 0 means 60. */
  int max_frame_rate;
  /* 1: the view starts hidden (see quillo_view_set_hidden). */
  int hidden;
  /* The page's zoom level, 0.25..5; 0 means 1. */
  double zoom;
  /* The User-Agent text the view's requests and navigator.userAgent carry; null: the engine's. */
  const char* user_agent;
  /* The name of the global function every page of the view gets for posting to the host
   * (QUILLO_NOTICE_MESSAGE), an identifier of 1 to 64 letters, digits, '_' or '$'; null means
   * "quilloPost". Empty text: no such function. */
  const char* post_function;
  /* Fields below were added after the first version of this struct: a host compiled before
   * them has a smaller size, and they keep their defaults for it. */
  /* 1..QUILLO_MAX_AUTO_RELOADS: the view reloads its page by itself after its web process ends
   * (QUILLO_NOTICE_PROCESS_GONE), at most this many times in a row; 0 (default): never, the host
   * reloads (see QUILLO_NOTICE_AUTO_RELOAD). */
  int auto_reload;
} quillo_view_config;

/* The defaults, with size set. Header-only, any thread. */
static inline quillo_view_config quillo_view_config_default(void) {
  quillo_view_config config;
  memset(&config, 0, sizeof config);
  config.size = sizeof config;
  return config;
}

/* Creates a view of config that loads url (UTF-8; null or empty: about:blank), and stores its
 * handle in *view. The first call starts the engine. The page loads, paints and reports while the
 * host pumps. Memory: see config. The config and url are read during the call only. */
QUILLO_VIEWS_API int quillo_view_create(const quillo_view_config* config, const char* url,
                                        quillo_view** view);
/* As quillo_view_create, showing html (UTF-8) as a page of its own, with a "data:" address
 * (relative links lead nowhere: serve pages that link to others from a scheme of the host's). */
QUILLO_VIEWS_API int quillo_view_create_html(const quillo_view_config* config, const char* html,
                                             quillo_view** view);

/* Closes the view. When this returns the library writes the view's memory no more (the host
 * may free it), its notices and their texts are gone, and the handle is invalid
 * (QUILLO_ERROR_BAD_HANDLE from then on, also inside a loop over its notices). The page's own
 * teardown ends on the engine's thread later. */
QUILLO_VIEWS_API int quillo_view_destroy(quillo_view* view);

/* Drives the engine for every view, once: hands the engine the host's calls since the last pump
 * and lets it do one unit of work when it has some, copies each view's newest whole frame into
 * its memory where it differs from the frame the host has, and queues the notices that came.
 * While the host keeps pumping (a pump in the last half second), the engine also works between
 * pumps whenever it has something to do, so a script's result, a page's message or a new frame
 * is ready at the next pump. Never blocks (it waits for no other thread). Call it regularly, for
 * example once per frame: without pumps pages neither load nor paint. */
QUILLO_VIEWS_API int quillo_pump(void);

/* Stops the engine for the rest of the process: every view is closed (its handle becomes
 * invalid), and the library's own threads end before this returns. Later calls return
 * QUILLO_ERROR_SHUT_DOWN. A process that exits without it shuts the engine down at exit. */
QUILLO_VIEWS_API int quillo_shutdown(void);

/* ---- Notices ------------------------------------------------------------------------------ */

#define QUILLO_NOTICE_FRAME 1         /* a new frame is in memory: rect, id = frame number */
#define QUILLO_NOTICE_URL 2           /* the page's address changed: text = URL */
#define QUILLO_NOTICE_TITLE 3         /* text = the title */
#define QUILLO_NOTICE_LOAD_STARTED 4  /* text = URL */
#define QUILLO_NOTICE_LOAD_FINISHED 5 /* text = URL, code = HTTP status (0 when none) */
/* code = network error, text = "net::ERR_...", detail = URL */
#define QUILLO_NOTICE_LOAD_FAILED 6
#define QUILLO_NOTICE_DIALOG 7 /* id, code = QUILLO_DIALOG_*, text = message, detail = default */
#define QUILLO_NOTICE_NEW_WINDOW 8     /* a new window was asked for and refused: text = URL */
#define QUILLO_NOTICE_CURSOR 9         /* code = cursor type, as UPDATE_CURSOR_MASK's types */
#define QUILLO_NOTICE_FOCUS 10         /* code = 1 the page took the focus, 0 it lost it */
#define QUILLO_NOTICE_MESSAGE 11       /* the page posted: id, text = the string posted */
#define QUILLO_NOTICE_SCRIPT_RESULT 12 /* id = request id, code = 1 value / 0 exception, text */
/* The page's web process ended: code = QUILLO_GONE_*. The view keeps its last whole frame in its
 * memory: nothing is painted over it until the page of a new process has loaded (its load event
 * fired) and painted. A LOAD_FAILED (-2, "net::ERR_FAILED") follows. quillo_view_reload loads
 * the page that was shown again, in a new process; so does the view with config.auto_reload. */
#define QUILLO_NOTICE_PROCESS_GONE 13
/* a page asks for a host-served resource: id, text = URL, detail = method, headers */
#define QUILLO_NOTICE_REQUEST 14
#define QUILLO_NOTICE_CLOSED 15 /* the page closed itself (window.close()): destroy the view */
/* The page is ready to be captured: its load has finished, its web fonts are in, its images
 * (the main document's, also those its load handlers add) are loaded and decoded, and the frame
 * that shows them is in the view's memory. It comes right after that frame's FRAME notice, in
 * the same pump: id = that frame's number, text = the page's URL. Once per document loaded (a
 * load, reload or history move to another document arms it again). Images with loading="lazy"
 * out of view are not waited for. A page whose fonts or images never come, and a hidden view,
 * give none until they get there. */
#define QUILLO_NOTICE_READY 16
/* With config.auto_reload: the view will reload its page by itself after its web process ended.
 * code = the attempt (1 for the first since the view was last up), id = the wait before it in
 * milliseconds: 500 for the first, twice the wait before for each next, at most 30000. The
 * reload is left out when a load has started meanwhile (the host's own, or the library's retry
 * of a load the process had not finished). A page that loads again and keeps its process for
 * 10 seconds starts the count anew. */
#define QUILLO_NOTICE_AUTO_RELOAD 17
/* With config.auto_reload: the web process ended again after config.auto_reload attempts in a
 * row; the view reloads no more by itself (until it has been up for 10 seconds again) and keeps
 * its last frame: the host decides. code = the attempts made. */
#define QUILLO_NOTICE_AUTO_RELOAD_STOPPED 18
/* An editable element of the page (an input of type text, search, url, tel, email, password or
 * number; a textarea; a contenteditable element) gained (code 1) or lost (code 0) the keyboard
 * focus, so that the host can raise its own keyboard and keep the field in sight. Moving the
 * focus from one field to another gives the first's loss, then the second's gain; the view
 * losing the focus (quillo_view_set_focus 0), a new page or the web process's end loses it too.
 * Elements inside frames are not reported. detail = the kind: the input's type, "textarea" or
 * "contenteditable"; input_mode = its inputmode ("numeric", "email", ...; "" when none);
 * rect = the element in the view's memory pixels (device pixels from the page's top-left corner,
 * with the page's scroll, zoom and device scale applied; it may lie partly outside the memory);
 * text = up to about 256 characters of its text either side of the caret (valid UTF-8, at most
 * QUILLO_MAX_EDITABLE_TEXT bytes; "" for a password field and for a loss); id = the caret's place
 * in text, in characters (code points). */
#define QUILLO_NOTICE_EDITABLE 19
#define QUILLO_MAX_EDITABLE_TEXT 2048
/* The most attempts config.auto_reload may name. */
#define QUILLO_MAX_AUTO_RELOADS 100
/* The page let go of an open request (REQUEST notice id) before the host ended it: it navigated
 * away, aborted a fetch, or a video seeked elsewhere. id = the request's id; answers to it are
 * refused (QUILLO_ERROR_NOT_FOUND) from now on, so a host sending a response in pieces stops. */
#define QUILLO_NOTICE_REQUEST_ENDED 30

#define QUILLO_DIALOG_ALERT 0
#define QUILLO_DIALOG_CONFIRM 1
#define QUILLO_DIALOG_PROMPT 2

#define QUILLO_GONE_CRASHED 0
#define QUILLO_GONE_OUT_OF_MEMORY 1
#define QUILLO_GONE_ENDED 2 /* ended on purpose (by the library's stuck-page guard) */

typedef struct quillo_rect {
  int x, y, width, height;
} quillo_rect;

typedef struct quillo_notice {
  /* sizeof(quillo_notice) as the host was compiled; set by quillo_notice_init. The library
   * writes no byte beyond it. */
  size_t size;
  int kind; /* QUILLO_NOTICE_* */
  int code; /* as each kind says; else 0 */
  /* FRAME: the frame's number (grows by one for each frame the page paints; frames the host did
   * not pump for in time are skipped, so it may grow by more). DIALOG, MESSAGE, REQUEST: the
   * library's id to answer by (unique within the view). SCRIPT_RESULT: the host's request id.
   * READY: the frame's number. AUTO_RELOAD: the wait in milliseconds. EDITABLE: the caret. */
  uint64_t id;
  /* FRAME: the part of memory that changed since the frame before (its bounding box), in pixels
   * from the page's top-left corner whatever the row order. Else zero. */
  quillo_rect rect;
  const char* text;   /* never null: "" when the kind has no text */
  const char* detail; /* never null: "" when the kind has none */
  /* REQUEST: the request's headers, a "Name: value" line each, every line ending in "\n" (for
   * example "Range: bytes=1000-\n"); never null, "" for other kinds. Added after the first
   * version of this struct: a host compiled before it has a smaller size, and the library
   * writes no byte beyond that size. */
  const char* headers;
  /* EDITABLE: the element's inputmode; never null, "" for other kinds. Added after headers,
   * likewise. */
  const char* input_mode;
} quillo_notice;

static inline quillo_notice quillo_notice_init(void) {
  quillo_notice notice;
  memset(&notice, 0, sizeof notice);
  notice.size = sizeof notice;
  return notice;
}

/* Takes the view's oldest notice into *notice: returns 1 when one was taken, 0 when there is
 * none (notice untouched), or an error. Notices come in the order they happened, each one once,
 * none merged with another; they wait for the host however long it takes to read them. Texts:
 * valid until the next call that names this view. A FRAME notice is queued by quillo_pump after
 * the notices that came before the frame was copied. */
QUILLO_VIEWS_API int quillo_view_next_notice(quillo_view* view, quillo_notice* notice);

/* ---- Size, scale, looks -------------------------------------------------------------------- */

/* Hands the view new memory of width x height device pixels (stride as in the config; the
 * format stays). The page is laid out again at the new size without being reloaded: its script
 * state, scroll position and form fields stay. When this returns, the memory handed over before
 * is never written again; the new memory is written from the first frame the page paints at the
 * new size (its pixels keep what the host put there until then). */
QUILLO_VIEWS_API int quillo_view_resize(quillo_view* view, int width, int height, void* pixels,
                                        size_t stride);
/* devicePixelRatio, 0.25..8; the memory keeps its size and place, the page's CSS size changes
 * (and the page is laid out again, without a reload). */
QUILLO_VIEWS_API int quillo_view_set_device_scale(quillo_view* view, double scale);
/* Page zoom, 0.25..5 (1 = 100 %). */
QUILLO_VIEWS_API int quillo_view_set_zoom(quillo_view* view, double zoom);
/* The most frames a second the page paints, 1..240. */
QUILLO_VIEWS_API int quillo_view_set_frame_rate(quillo_view* view, int frames_per_second);
/* 1: hidden. A hidden page paints nothing and its animations and timers are throttled as in a
 * background tab, so it costs next to no processor time; 0 shows it again (no reload). */
QUILLO_VIEWS_API int quillo_view_set_hidden(quillo_view* view, int hidden);
/* The User-Agent text for the view's next requests; null: the engine's own. */
QUILLO_VIEWS_API int quillo_view_set_user_agent(quillo_view* view, const char* user_agent);

/* ---- Navigation --------------------------------------------------------------------------- */

QUILLO_VIEWS_API int quillo_view_load_url(quillo_view* view, const char* url);
/* As quillo_view_create_html, in the view (a new history entry). */
QUILLO_VIEWS_API int quillo_view_load_html(quillo_view* view, const char* html);
QUILLO_VIEWS_API int quillo_view_go_back(quillo_view* view);    /* nothing when it cannot */
QUILLO_VIEWS_API int quillo_view_go_forward(quillo_view* view); /* nothing when it cannot */
QUILLO_VIEWS_API int quillo_view_reload(quillo_view* view);
QUILLO_VIEWS_API int quillo_view_stop(quillo_view* view);

/* ---- Input ---------------------------------------------------------------------------------
 * Positions are in the view's memory pixels (device pixels) from the page's top-left corner; the
 * page sees them divided by the device scale (CSS pixels). The pointer's events (moves, buttons,
 * wheel) reach the page in the order of the calls, and so do the keys; a key waits for the
 * button releases sent before it (a click, then typing, types into the field clicked), but may
 * overtake a wheel event. Input sent before the page has shown its first frame waits for it. */

#define QUILLO_MOD_SHIFT 0x1
#define QUILLO_MOD_CONTROL 0x2
#define QUILLO_MOD_ALT 0x4
#define QUILLO_MOD_META 0x8

#define QUILLO_BUTTON_LEFT 0
#define QUILLO_BUTTON_MIDDLE 1
#define QUILLO_BUTTON_RIGHT 2

/* The pointer moved to (x, y). Buttons held down (see quillo_view_mouse_button) go with it. */
QUILLO_VIEWS_API int quillo_view_mouse_move(quillo_view* view, int x, int y, unsigned modifiers);
/* A button went down (down = 1) or up (0) at (x, y). click_count 1..3 counts the presses of a
 * quick series, as the host's system counts them: the second press and release of a
 * double-click carry 2, and the page gets "dblclick" after that release. */
QUILLO_VIEWS_API int quillo_view_mouse_button(quillo_view* view, int button, int down, int x, int y,
                                              int click_count, unsigned modifiers);
/* The wheel at (x, y): delta_x, delta_y in device pixels, as the page's WheelEvent deltaX and
 * deltaY count them (positive delta_y scrolls towards the end of the page). */
QUILLO_VIEWS_API int quillo_view_mouse_wheel(quillo_view* view, int x, int y, int delta_x,
                                             int delta_y, unsigned modifiers);

#define QUILLO_KEY_DOWN 1
#define QUILLO_KEY_UP 2

/* A key went down or up. key_code: the Windows virtual-key code (VK_RETURN 0x0D, 'A' 0x41, ...)
 * or 0 for text alone. text (UTF-8, may be null): what the key press types, as the host's
 * keyboard layout produced it; the page gets "keydown", then the text ("keypress",
 * "beforeinput", "input"), and at QUILLO_KEY_UP "keyup". Text with key_code 0 is typed without
 * key events (for text from an input method). */
QUILLO_VIEWS_API int quillo_view_key(quillo_view* view, int action, int key_code,
                                     unsigned modifiers, const char* text);
/* 1: the page gets the keyboard focus (its focused element shows a caret); 0: it loses it. */
QUILLO_VIEWS_API int quillo_view_set_focus(quillo_view* view, int focused);

/* ---- Touch ---------------------------------------------------------------------------------
 * The fingers on a touch screen, one finger's change a call: a finger goes down (START), moves
 * (MOVE), lifts (END), or the system takes it away (CANCEL: the gesture was taken over, the
 * screen lost it). id names a finger from its START to its END or CANCEL (any number from 0, as
 * the host's system numbers them); up to QUILLO_MAX_TOUCH_POINTS fingers are down at once.
 * Positions are the view's memory pixels, as for the mouse (a finger may go off the view while
 * it is down: x and y within -QUILLO_MAX_SIDE..QUILLO_MAX_SIDE).
 *
 * The page gets what Chromium on a touch screen fires: "touchstart", "touchmove", "touchend"
 * and "touchcancel", whose touches list every finger down and changedTouches the one that
 * changed, each after the pointer events of a touch (pointerType "touch"; pointerover,
 * pointerenter, pointerdown; gotpointercapture, pointermove; pointerup or pointercancel,
 * lostpointercapture, pointerout, pointerleave; the first finger down is the primary one). A tap
 * the page does not cancel (preventDefault on its touchstart) then clicks at the finger's place
 * (mousemove, mousedown, mouseup, click); a drag it does not cancel scrolls the page. Where this
 * engine differs: the pointer events of a touch and "touchcancel" are the library's own
 * (isTrusted false); a drag the page lets scroll keeps its touchmove events cancelable (Chromium
 * makes them uncancelable once it scrolls); Touch.radiusX/Y and force are 0 and pointer events
 * say width and height 1, pressure 0.5 while down (no contact size or pressure is passed);
 * navigator.maxTouchPoints is 0 (pages that look there for a touch screen find none;
 * "ontouchstart" in window is true).
 *
 * Touch goes in order with itself (not with the mouse or the keys), and waits for the page's
 * first frame. A START of an id that is down, a MOVE, END or CANCEL of one that is not, a START
 * beyond QUILLO_MAX_TOUCH_POINTS, an unknown action and a position out of range are refused
 * (QUILLO_ERROR_BAD_ARGUMENT, a log line). */

#define QUILLO_TOUCH_START 1
#define QUILLO_TOUCH_MOVE 2
#define QUILLO_TOUCH_END 3
#define QUILLO_TOUCH_CANCEL 4

/* The most fingers down at once. */
#define QUILLO_MAX_TOUCH_POINTS 10

/* Finger id went down at (x, y), moved there, lifted there, or was cancelled (a CANCEL's x and y
 * are checked but not read: the page hears of the finger where it last was). See above. Host's
 * thread. */
QUILLO_VIEWS_API int quillo_view_touch(quillo_view* view, int action, int id, int x, int y,
                                       unsigned modifiers);

/* ---- Sound -----------------------------------------------------------------------------------
 * A view's pages play sound (media elements, Web Audio) through the engine, which plays it
 * through the system's sound server (PulseAudio or PipeWire, with GStreamer's automatic audio
 * output; see the host guide for routing a view's sound). On a machine with no sound server or
 * device the pages play on and nothing is heard. */

/* 1: the view's pages are muted (they play on, unheard; a page's own element.muted is its own
 * and stays as it is); 0: heard again. Views start heard. Host's thread. */
QUILLO_VIEWS_API int quillo_view_set_muted(quillo_view* view, int muted);

/* The view's page started (code 1) or stopped (code 0) playing sound: a media element with an
 * audio track plays, or the last one pauses, ends, or goes with its page. Each change is one
 * notice, starts and stops in turn. A muted view reports its playing as an unmuted one does, and
 * this engine counts an element the page muted (element.muted) as playing sound too. */
#define QUILLO_NOTICE_AUDIO 26

/* ---- Dialogs, script, page messages --------------------------------------------------------- */

/* Answers the DIALOG notice dialog_id: accept 1 (OK) or 0 (Cancel); prompt_text (UTF-8, may be
 * null) is a prompt's answer when accepted. QUILLO_ERROR_NOT_FOUND when that dialog is not open
 * (answered before, or gone with its page). */
QUILLO_VIEWS_API int quillo_view_answer_dialog(quillo_view* view, uint64_t dialog_id, int accept,
                                               const char* prompt_text);

/* Runs script (UTF-8) in the page's main frame; a SCRIPT_RESULT notice with id request_id
 * follows: code 1 and the value as JSON text ("" for undefined, a function, a promise, a node or
 * anything else JSON has no form for), or code 0 and the exception's message. Results come in
 * the order of the calls. */
QUILLO_VIEWS_API int quillo_view_eval(quillo_view* view, const char* script, uint64_t request_id);

/* The page posts with the function config.post_function names, for example
 *   const answer = await quilloPost("buy:sword");
 * Each post is a MESSAGE notice (id, text = the string, String(x) of anything else), and the
 * promise the call returned waits for the host: ok 1 resolves it with text (a string), ok 0
 * rejects it with an Error whose message is text. QUILLO_ERROR_NOT_FOUND when the message was
 * answered before. A page left before the answer drops its promises; answering them is harmless. */
QUILLO_VIEWS_API int quillo_view_reply(quillo_view* view, uint64_t message_id, int ok,
                                       const char* text);

/* ---- Host-served resources ----------------------------------------------------------------
 * quillo_register_scheme("app") lets the pages of every view load app: URLs, which the host
 * serves from its own memory (an asset archive, generated data). The scheme is secure and
 * CORS-enabled, so pages from it work as pages from an https server: relative links, images,
 * style sheets, scripts and module scripts, fetch, <video> and <audio> that seek. Each request
 * is a REQUEST notice of the view whose page asked (id, text = the URL, detail = the method,
 * headers = the request's headers); the host answers it with quillo_view_respond or
 * quillo_view_respond_range, in the same pump or any later one, in one piece or in many.
 *
 * Ranges. A request may carry a Range header ("Range: bytes=1000-" in its headers): a page's
 * fetch may ask for a part of a file, and <video> and <audio> elements read their files in
 * parts, always with a Range ("bytes=0-" first), asking from a later byte when the page seeks
 * (their reads are REQUEST notices like any other; a read the player stops needing, as when it
 * seeks elsewhere, gets a REQUEST_ENDED). The library answers ranges for the host, as a web
 * server answers them for a static file:
 *  - an answer of status 200 given whole (one quillo_view_respond with done 1) is cut to the
 *    range asked for: the page gets 206 with that part and its Content-Range, or 416 when the
 *    range starts past the end; so a host that answers from memory in one piece serves ranges
 *    with no change;
 *  - quillo_view_respond_range answers with the part of a resource of a size the host names,
 *    from the whole in memory or piece by piece, so that a large file is never handed over whole.
 * Both say "Accept-Ranges: bytes" and the body's Content-Length. A Range of several ranges, of
 * another unit, of bad syntax, or with If-Range is answered with the whole resource (200), as
 * HTTP allows. Answers in several pieces with quillo_view_respond are sent as given (200): a
 * media element then skips the bytes before the ones it asked for, and can seek only when the
 * answer said its length. Media elements of a scheme need GStreamer in the web process: once a
 * scheme is registered, each web process starts it at once (some tens of milliseconds and a
 * few megabytes a process).
 *
 * Open requests. A request is open from its REQUEST notice until the host ends it (done 1, or
 * refused) or the page lets go of it. At most QUILLO_MAX_OPEN_REQUESTS requests of a view are
 * open at once: the page's further requests are refused at once (the page sees a network error,
 * as for a refusal), with a log line, until the host has ended some. When the page lets go of an
 * open request (it navigated away, aborted a fetch, or a video seeked elsewhere) the request
 * ends at once and a REQUEST_ENDED notice says so. Destroying the view ends its requests. A
 * request the host leaves without an answer keeps its page waiting (its load does not finish);
 * a log line names it once it has waited 30 seconds. */

#define QUILLO_MAX_SCHEMES 16
/* The most requests of one view that are open at once. */
#define QUILLO_MAX_OPEN_REQUESTS 1024

/* Registers scheme (1 to 32 of a-z, 0-9, '+', '-', '.', starting with a letter; not one of the
 * web's own: http, https, file, data, about, blob, ws, wss, ftp, javascript) for every view, now
 * and to come, until quillo_shutdown. Registering it again does nothing. */
QUILLO_VIEWS_API int quillo_register_scheme(const char* scheme);

/* Answers the REQUEST notice request_id. The first answer gives the status (100..599; 0
 * refuses the request, which the page sees as a network error) and mime_type (null or "": the
 * engine guesses); later answers' status and mime_type are not read. Every answer adds size
 * bytes of data (copied during the call; data may be null when size is 0) to the response, which
 * the page reads as they come; done 1 ends it. A first answer of status 200 with done 1 is the
 * whole resource: the part a Range header asks for is cut from it (see "Ranges" above).
 * QUILLO_ERROR_NOT_FOUND when the request has ended (done, refused, or REQUEST_ENDED) or never
 * was. */
QUILLO_VIEWS_API int quillo_view_respond(quillo_view* view, uint64_t request_id, int status,
                                         const char* mime_type, const void* data, size_t size,
                                         int done);

/* ---- Composition input (input methods) ------------------------------------------------------
 * Text from the host's input method (Chinese, Japanese, Korean, ...) goes to the element of the
 * page that has the keyboard focus: the host shows the input method's pre-edit text in the page
 * with quillo_view_ime_set_composition as the user composes, and ends the composition with
 * quillo_view_ime_commit (the text chosen) or quillo_view_ime_cancel. The page sees what a
 * browser fires for a composition: "compositionstart", "compositionupdate" for each pre-edit
 * text, "compositionend", and "beforeinput" and "input" events whose isComposing is true while
 * the composition lasts; this engine also fires a "keydown" (key "Unidentified", keyCode 229)
 * before each step, as browsers do for a desktop's input method.
 *
 * A composition needs an editable element with the keyboard focus in a view that has the focus
 * (quillo_view_set_focus). These calls go in order with the keys (quillo_view_key) and after the
 * button releases sent before them, so a click into a field and then a composition composes in
 * that field; a call sent before an editable element has the focus waits for one up to a second,
 * then is dropped with a log line. The view tells where its caret is (QUILLO_NOTICE_IME_CARET)
 * so that the host can place its input method's candidate window there.
 *
 * Character positions below count Unicode characters (code points) of the UTF-8 text. */

/* The caret of the focused editable element moved, or a composition's caret did: rect = the
 * caret in the view's memory pixels (device pixels from the page's top-left corner; it may lie
 * outside the memory when the element is scrolled away), code = 1 while a composition is in
 * progress, else 0. Moves of less than about 10 CSS pixels are not reported. */
#define QUILLO_NOTICE_IME_CARET 24

/* The most bytes of a composition's text, of a commit's, and the most underlines. */
#define QUILLO_MAX_COMPOSITION_BYTES 4096
#define QUILLO_MAX_COMMIT_BYTES 1048576
#define QUILLO_MAX_IME_UNDERLINES 64

typedef struct quillo_ime_underline {
  int start; /* the first character underlined (0-based) */
  int end;   /* one past the last; start < end <= the text's length in characters */
  /* 0xAARRGGBB, or 0 for the text's colour. */
  uint32_t color;
} quillo_ime_underline;

/* Starts a composition with text (UTF-8, at most QUILLO_MAX_COMPOSITION_BYTES), or changes the
 * one in progress to it: the page shows text in place, underlined as underlines say
 * (underline_count of them, at most QUILLO_MAX_IME_UNDERLINES; none: all of it underlined),
 * with the caret at character selection_start (0 <= selection_start <= selection_end <= the
 * text's length; this engine keeps no selected part, and marks the one character after a caret
 * that is not at the end). Empty text cancels the composition, as quillo_view_ime_cancel does.
 * Host's thread; underlines and text are read during the call only. */
QUILLO_VIEWS_API int quillo_view_ime_set_composition(quillo_view* view, const char* text,
                                                     const quillo_ime_underline* underlines,
                                                     size_t underline_count, int selection_start,
                                                     int selection_end);
/* Ends the composition in progress with text (UTF-8, at most QUILLO_MAX_COMMIT_BYTES) in place
 * of its pre-edit text (this engine fires "beforeinput" and "input" with "deleteCompositionText"
 * and then "insertFromComposition", then "compositionend"). Without a composition, types text
 * ("beforeinput" and "input" with "insertText", no composition or key events), as an input
 * method does for a character it commits at once. Host's thread; text read during the call. */
QUILLO_VIEWS_API int quillo_view_ime_commit(quillo_view* view, const char* text);
/* Ends the composition in progress and removes its pre-edit text (the page gets
 * "deleteCompositionText" and a "compositionend" with ""); nothing without one. Host's thread. */
QUILLO_VIEWS_API int quillo_view_ime_cancel(quillo_view* view);

/* ---- The clipboard -----------------------------------------------------------------------------
 * The engine keeps one clipboard for the process, its own (no X server, no other program's
 * selection): a copy or cut in any view's page (the user's Ctrl+C or Ctrl+X as keys, the page's
 * document.execCommand('copy') from a click or key handler, quillo_view_copy) fills it, and the
 * view tells the host with a CLIPBOARD notice, so the host can put the text on the desktop's
 * clipboard. The host pastes its own clipboard's text into a page with quillo_view_paste.
 *
 * Pastes the page gets (quillo_view_paste, and Ctrl+V as keys, which pastes the engine's
 * clipboard) are events the library makes, as a browser would: a "paste" event at the focused
 * element whose clipboardData holds "text/plain" (and "text/html"), then, unless the page
 * cancels it, the text inserted at the caret, the HTML in elements that take rich text
 * ("beforeinput" and "input" with "insertText"; a browser says "insertFromPaste"). The event's
 * isTrusted is false: this engine's own paste hands pages text beyond ASCII in the wrong
 * encoding. */

/* A copy or cut in the page filled the engine's clipboard: code = QUILLO_CLIPBOARD_COPY or
 * QUILLO_CLIPBOARD_CUT, text = the plain text, detail = the HTML ("" when there is none; a
 * page's own copy handler may set HTML alone, then text is ""). */
#define QUILLO_NOTICE_CLIPBOARD 25
#define QUILLO_CLIPBOARD_COPY 0
#define QUILLO_CLIPBOARD_CUT 1

/* The most bytes of a paste's text, and of its HTML. */
#define QUILLO_MAX_PASTE_BYTES 16777216

/* Copies (or cuts) the page's selection, as the user's Ctrl+C (Ctrl+X) does: the page gets its
 * "copy" ("cut") event, and a CLIPBOARD notice follows when something was copied. In order with
 * the keys. Host's thread. */
QUILLO_VIEWS_API int quillo_view_copy(quillo_view* view);
QUILLO_VIEWS_API int quillo_view_cut(quillo_view* view);
/* Pastes text (UTF-8, may be empty) and html (UTF-8, or null for none) into the element with
 * the keyboard focus, as described above (html goes into elements that take rich text, text
 * into the others); each at most QUILLO_MAX_PASTE_BYTES. In order with the keys. Host's thread;
 * both read during the call only. */
QUILLO_VIEWS_API int quillo_view_paste(quillo_view* view, const char* text, const char* html);
/* The first answer to the REQUEST notice request_id for a resource of total_size bytes: the
 * library works out the part the request's Range header asks for (see "Ranges" above) and
 * stores its first byte and its length in *first and *count (either may be null):
 *  - 206, a part: first and count as the range asks (count at least 1);
 *  - 200, the whole resource: first 0, count total_size (no Range, or one answered whole);
 *  - 416, nothing: count 0, the range starts past the end.
 * A count of 0 (416, or an empty resource) ends the request with this call.
 * mime_type as in quillo_view_respond. With data (the whole resource, total_size bytes, read
 * during the call) the part is copied from it and the response ends; a part above 256 MiB is
 * refused that way (send it in pieces). With data null only the head goes out, and the host then
 * sends exactly count bytes, those from first on, with quillo_view_respond (status and mime_type
 * not read), done 1 with the last: bytes beyond count are refused (QUILLO_ERROR_BAD_ARGUMENT), and
 * a response ended short leaves the page short (and writes a log line). QUILLO_ERROR_BAD_ARGUMENT
 * when the request was answered before; QUILLO_ERROR_NOT_FOUND as for quillo_view_respond. */
QUILLO_VIEWS_API int quillo_view_respond_range(quillo_view* view, uint64_t request_id,
                                               const char* mime_type, const void* data,
                                               uint64_t total_size, uint64_t* first,
                                               uint64_t* count);

#ifdef __cplusplus
}
#endif

#endif /* QUILLO_VIEWS_H */
