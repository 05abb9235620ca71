/* quillo: one live web page painted into memory the host owns.
 *
 * The host calls every function from one thread of its own. The page is
 * driven by UpdateWeb: each call that does not return -1 lets the engine do
 * one unit of work, so call it regularly (for example once per frame).
 *
 * Typical use:
 *   uint8_t *pixels = malloc(w * h * 4);
 *   LoadWeb(0, 0, w, h, pixels, "https://example.org/", 0, "en-US");
 *   for (;;) {
 *     void *text; int value;
 *     int r = UpdateWeb(&text, &value);
 *     if (r != -1 && (r & UPDATE_NEW_FRAME)) show(pixels);
 *     ...
 *   }
 *   UnloadWeb(1);   // once, before the library is unloaded (at exit it is done for you)
 *
 * The host's pixel memory is written only inside UpdateWeb, on the host's
 * thread. Once the host's last UpdateWeb has returned, or UnloadWeb (either
 * value) has returned, nothing is written into it again: the host may free or
 * unmap it then, and end its process at any moment after (return from main,
 * or exit() on any thread), with or without UnloadWeb.
 */
#ifndef QUILLO_H
#define QUILLO_H

#include <stdbool.h>

#if defined(_WIN32)
#define QUILLO_API __declspec(dllimport)
#else
#define QUILLO_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- UpdateWeb result bits (a result of -1 means "not ready yet") ------- */

/* Low byte: engine cursor type + 1 of the last cursor change, 0 = no change.
 * Types: 0 pointer, 1 cross, 2 hand, 3 I-beam, 4 wait, 5 help, ... */
#define UPDATE_CURSOR_MASK 0x000000FF
/* A new frame is in the host's memory. The library writes that memory only
 * inside an UpdateWeb call that returns this bit, and then always one whole
 * frame: from that return until the host's next UpdateWeb call not one byte
 * of it changes, however long the host takes to upload, encode or compare it.
 * A host that polls more slowly than the page paints is given fewer frames,
 * each of them whole (the ones in between are skipped, never mixed). Only the
 * pixels that differ from the frame the host had are written; pixels the page
 * has never painted keep what the host put there. An open <select> list is
 * part of each frame, drawn over the page at its place. */
#define UPDATE_NEW_FRAME 0x100
/* A main-frame navigation is starting, or a navigation was refused by the
 * prefix list of ReserveInvalidRedirectUrlSchemes; *text = the URL. */
#define UPDATE_URL 0x200
/* The page holds keyboard focus (reported on every call while true). */
#define UPDATE_FOCUSED 0x400
/* A script dialog waits for InputWeb(INPUT_DIALOG, accept, 0);
 * *text = its message, *value = 0 alert, 1 confirm, 2 prompt. */
#define UPDATE_JS_DIALOG 0x800
/* A load failed; always returned alone. *text = error text such as
 * "net::ERR_CONNECTION_REFUSED", *value = network error code (negative). */
#define UPDATE_LOAD_ERROR 0x1000
/* The page title changed; *text = the title. */
#define UPDATE_TITLE 0x2000
/* The page asked for a new window and was refused (no text). */
#define UPDATE_POPUP_BLOCKED 0x4000

/* ---- InputWeb event word: class | action | modifiers --------------------- */

#define INPUT_CLASS_MASK 0xF000
#define INPUT_MOUSE 0x1000  /* a = x, b = y (wheel: a = dx, b = dy) */
#define INPUT_KEY 0x2000    /* a = Windows virtual-key code, b = UTF-16 char */
#define INPUT_DIALOG 0x4000 /* a = 1 accepts the waiting dialog, else cancel */

#define INPUT_ACTION_MASK 0x00F0
#define INPUT_MOUSE_DOWN 0x10 /* left button pressed at (a, b) */
#define INPUT_MOUSE_UP 0x20   /* left button released at (a, b) */
#define INPUT_MOUSE_MOVE 0x30 /* pointer moved to (a, b) */
/* Wheel at the last pointer position: a = horizontal, b = vertical delta,
 * 120 a notch, positive towards the top and the left of the page (pass
 * WM_MOUSEWHEEL's delta as it is, WM_MOUSEHWHEEL's negated). */
#define INPUT_MOUSE_WHEEL 0x40
#define INPUT_KEY_DOWN 0x10
#define INPUT_KEY_UP 0x20
#define INPUT_KEY_CHAR 0x50
#define INPUT_FOCUS_IN 0x60
#define INPUT_FOCUS_OUT 0x70

#define INPUT_SHIFT 0x100   /* keys: Shift; mouse moves: left button held */
#define INPUT_ALT 0x200     /* keys: Alt */
#define INPUT_CONTROL 0x400 /* keys: Control */

/* ---- LoadWeb option bits ------------------------------------------------- */

/* Pixels are B, G, R, A by default; this stores R, G, B, A. */
#define PAINT_SWAP_RED_BLUE 0x1
/* Rows are stored top row first by default; this stores the bottom row first. */
#define PAINT_BOTTOM_UP 0x2
/* Delete every cookie each time the browser is created (the first time and
 * after each UnloadWeb(0)). Cookies only: local storage, session storage and
 * IndexedDB are kept for the rest of the process. Nothing a page stores is
 * ever written to disk; all of it goes when the process ends. */
#define LOAD_DELETE_COOKIES 0x8

/* ---- GoBackForwardHome directions ---------------------------------------- */
#define HISTORY_HOME 0
#define HISTORY_BACK 1
#define HISTORY_FORWARD 2 /* any value other than 0 and 1 moves forward */

/* Shows url (or HTML after the prefix "quillo_htmlsource:") in a view of
 * width x height pixels. pixels: width*height*4 bytes, stride width*4, owned
 * by the host. The library writes it only inside UpdateWeb calls (see
 * UPDATE_NEW_FRAME), never from a thread of its own and never after UnloadWeb
 * (either value) has returned: the host may free it once it calls UpdateWeb
 * no more, or once UnloadWeb returned; a later LoadWeb after UnloadWeb(0)
 * hands over new memory. acceptLanguage: at most 9 characters,
 * e.g. "en-US"; a longer text is cut to 9. The first call starts the engine;
 * a call while the page is open or still starting only loads url (the other
 * arguments are kept, and the last url asked for is shown); a call after
 * UnloadWeb(0) opens the page again with all new arguments. From the first
 * call on the library stays loaded until the process ends (dlclose does not
 * unload it). In the child of a fork() every function does nothing; end the
 * child with exec or _exit, as POSIX asks of the child of a threaded process:
 * exit() there runs the engine's exit handlers, which can wait forever for a
 * lock that one of the parent's engine threads held at the fork.
 * Always returns 0: failures arrive through UpdateWeb. */
QUILLO_API int LoadWeb(int x, int y, int width, int height, void* pixels, const char* url,
                       int options, const char* acceptLanguage);

/* Returns -1 while the engine is starting (text and value untouched), else a
 * word of UPDATE_* bits. With UPDATE_URL, UPDATE_TITLE, UPDATE_JS_DIALOG or
 * UPDATE_LOAD_ERROR, *text receives a NUL-terminated UTF-8 string owned by
 * the library, valid until the next UpdateWeb call; copy it if needed.
 * *value is written only with UPDATE_LOAD_ERROR and UPDATE_JS_DIALOG. */
QUILLO_API int UpdateWeb(void** text, int* value);

/* shutdown 1: close the page, stop the engine for the rest of the process and
 * close the log; returns when the library's own threads have ended. Some of
 * the engine's threads stay, asleep, until the process ends (GLib's worker,
 * the memory-pressure monitor, IPC receive queues, the web data store's), so
 * the library stays mapped even after dlclose. Any other value closes the
 * page only, asynchronously (a page still starting is not opened); a later
 * LoadWeb opens it again. Either way the host's pixel memory is not written
 * again once this call returns. */
QUILLO_API void UnloadWeb(bool shutdown);

/* Forwards one input event (INPUT_* word, see above). Blocks only while ten
 * earlier events are still waiting to be delivered. */
QUILLO_API void InputWeb(int event, int a, int b);

/* 0: load the URL the page was opened with; 1: back; other: forward. */
QUILLO_API void GoBackForwardHome(int direction);

/* Runs UTF-8 script in the page's main frame. */
QUILLO_API void ExecuteJavaScript(const char* script);

/* Replaces the list of URL prefixes the page may not navigate to:
 * ";"-separated, compared byte for byte with the start of each URL,
 * e.g. "tel:;sms:". mailto: URLs are always refused, silently. */
QUILLO_API void ReserveInvalidRedirectUrlSchemes(const char* schemes);

/* 1 turns the diagnostic log (quillo's "tavlo_cef.log" beside the library,
 * and standard error) on; any other value turns it off. */
QUILLO_API void SetDebugEnable(bool enable);

#ifdef __cplusplus
}
#endif

#endif /* QUILLO_H */
