/* three_views: a complete host of quillo's views interface, written from quillo/views.h and the
 * host guide. It shows three pages at once in a screen of its own (1280 x 720 pixels that it
 * composes itself, as a game composes its frame), and writes the screen as a PPM file at the end:
 *
 *   top left     a heads-up display: a transparent page at device scale 2, laid over the
 *                host's own scene (a checkerboard) with its premultiplied alpha;
 *   top right    a page whose view is resized every frame (its width swings between 320 and 640
 *                pixels), drawn at whatever size its latest frame has;
 *   bottom left  a game menu served from the host's memory (app://game/: a page, its style
 *                sheet and an image), whose script posts a message the host answers.
 *
 *   three_views [OUT.ppm]
 *
 * It ends when every view has shown what it should (exit 0) or after 30 seconds (exit 1, saying
 * what is missing). Plain C11 and POSIX; everything runs on the main thread. */
#define _POSIX_C_SOURCE 200809L

#include <quillo/views.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#define SCREEN_W 1280
#define SCREEN_H 720
#define PANE_W 640 /* each view has a quarter of the screen at most */
#define PANE_H 360
#define MIN_RESIZE_W 320
#define RESIZES_WANTED 60
#define SECONDS_AT_MOST 30

/* ---- The pages --------------------------------------------------------------------------- */

static const char HUD_HTML[] =
    "<!doctype html><meta charset=utf-8>"
    "<body style='margin:0; background:transparent; font:16px sans-serif; color:white'>"
    "<div style='position:absolute; left:10px; top:10px; width:160px; height:60px;"
    " background:rgba(0,0,128,0.5); border-radius:6px; padding:8px; box-sizing:border-box'>"
    "HUD <span id=clock></span></div>"
    "<script>setInterval(() => clock.textContent = new Date().toISOString().slice(11, 19),"
    " 500)</script>";

static const char RESIZED_HTML[] =
    "<!doctype html><meta charset=utf-8>"
    "<body style='margin:0; background:rgb(32,64,32); font:20px sans-serif; color:white'>"
    "<style>@keyframes spin { to { transform: rotate(1turn) } }</style>"
    "<div style='height:40px; background:rgb(0,200,0)'></div><p id=size></p>"
    "<div style='position:absolute; left:10px; top:100px; width:20px; height:20px;"
    " background:white; animation:spin 1s linear infinite'></div>"
    "<script>let resizes = 0;"
    "function show() { size.textContent = innerWidth + ' x ' + innerHeight +"
    " ' (' + resizes + ' resizes)'; document.title = innerWidth + 'x' + innerHeight; }"
    "addEventListener('resize', () => { resizes++; show(); });"
    "show();</script>";

/* The game menu's files, served from memory for app://game/... */
static const char MENU_HTML[] =
    "<!doctype html><meta charset=utf-8><link rel=stylesheet href=style.css>"
    "<img id=logo src=logo.svg width=64 height=64>"
    "<div id=answer>waiting for the game</div>"
    "<script>"
    "quilloPost('menu ready').then(reply => {"
    "  answer.textContent = reply; answer.className = 'answered';"
    "  document.title = 'answered: ' + reply;"
    "}, error => { document.title = 'refused: ' + error.message; });"
    "</script>";
static const char MENU_CSS[] =
    "body { margin: 0; background: rgb(40, 40, 90); font: 18px sans-serif; color: white }\n"
    "#logo { position: absolute; left: 20px; top: 20px }\n"
    "#answer { position: absolute; left: 20px; top: 120px; width: 300px; height: 40px;"
    " padding: 8px; box-sizing: border-box; background: rgb(90, 90, 90) }\n"
    "#answer.answered { background: rgb(255, 200, 0); color: black;"
    " outline: 4px solid white; animation: pulse 0.5s infinite alternate }\n"
    "@keyframes pulse { to { outline-color: black } }\n";
static const char MENU_LOGO[] =
    "<svg xmlns='http://www.w3.org/2000/svg' width='64' height='64'>"
    "<circle cx='32' cy='32' r='30' fill='rgb(255,128,0)'/></svg>";

struct asset {
  const char* url;
  const char* mime;
  const char* data;
};
static const struct asset ASSETS[] = {
    {"app://game/index.html", "text/html", MENU_HTML},
    {"app://game/style.css", "text/css", MENU_CSS},
    {"app://game/logo.svg", "image/svg+xml", MENU_LOGO},
};

/* ---- The host's own screen ------------------------------------------------------------------ */

static uint8_t screen[SCREEN_H][SCREEN_W][4]; /* B, G, R, A, opaque */

static uint8_t checker(int x, int y) {
  return ((x / 16 + y / 16) % 2) == 0 ? 0xCC : 0x88;
}

/* The host's scene under the heads-up display. */
static void draw_scene(int x0, int y0, int w, int h) {
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) {
      uint8_t* p = screen[y][x];
      p[0] = p[1] = p[2] = checker(x - x0, y - y0);
      p[3] = 0xFF;
    }
}

/* Copies w x h pixels of a view's memory to the screen at (x0, y0). Pixels are premultiplied:
 * over the scene, out = page + scene * (255 - alpha) / 255; an opaque page is simply copied. */
static void draw_view(const uint8_t* pixels, size_t stride, int w, int h, int x0, int y0,
                      int blend) {
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = pixels + (size_t)y * stride;
    for (int x = 0; x < w; ++x) {
      const uint8_t* in = row + (size_t)x * 4;
      uint8_t* out = screen[y0 + y][x0 + x];
      for (int c = 0; c < 3; ++c)
        out[c] = blend ? (uint8_t)(in[c] + (out[c] * (255 - in[3]) + 127) / 255) : in[c];
      out[3] = 0xFF;
    }
  }
}

static void fill(int x0, int y0, int w, int h, uint8_t gray) {
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) {
      memset(screen[y][x], gray, 3);
      screen[y][x][3] = 0xFF;
    }
}

static int write_ppm(const char* path) {
  FILE* f = fopen(path, "wb");
  if (!f) return 0;
  fprintf(f, "P6\n%d %d\n255\n", SCREEN_W, SCREEN_H);
  for (int y = 0; y < SCREEN_H; ++y)
    for (int x = 0; x < SCREEN_W; ++x) {
      const uint8_t rgb[3] = {screen[y][x][2], screen[y][x][1], screen[y][x][0]};
      fwrite(rgb, 1, 3, f);
    }
  return fclose(f) == 0;
}

/* ---- The views --------------------------------------------------------------------------------
 */

static uint8_t hud_memory[PANE_H][PANE_W][4];
/* The resized view gets fresh memory at each resize: two buffers in turn, rows PANE_W pixels
 * apart whatever the view's width (the stride need not be the width). */
static uint8_t resized_memory[2][PANE_H][PANE_W][4];
static uint8_t menu_memory[PANE_H][PANE_W][4];

static int check(int result, const char* what) {
  if (result != QUILLO_OK)
    fprintf(stderr, "three_views: %s: %s\n", what, quillo_result_text(result));
  return result == QUILLO_OK;
}

/* Answers a request for app://game/... from ASSETS, or refuses it. */
static void serve(quillo_view* view, const quillo_notice* n) {
  for (size_t i = 0; i < sizeof ASSETS / sizeof ASSETS[0]; ++i)
    if (strcmp(n->text, ASSETS[i].url) == 0) {
      check(quillo_view_respond(view, n->id, 200, ASSETS[i].mime, ASSETS[i].data,
                                strlen(ASSETS[i].data), 1),
            "respond");
      return;
    }
  printf("menu: no such file %s\n", n->text);
  check(quillo_view_respond(view, n->id, 404, "text/plain", "not found", 9, 1), "respond");
}

static void sleep_ms(long ms) {
  struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&t, NULL);
}

int main(int argc, char** argv) {
  const char* out = argc > 1 ? argv[1] : "three-views.ppm";
  quillo_view *hud = NULL, *resized = NULL, *menu = NULL;

  /* The menu's pages come from the host: register the scheme before its view loads. */
  if (!check(quillo_register_scheme("app"), "register app:")) return 1;

  quillo_view_config config = quillo_view_config_default();
  config.width = PANE_W; /* device pixels: 320 x 180 CSS pixels at scale 2 */
  config.height = PANE_H;
  config.pixels = hud_memory;
  config.transparent = 1;
  config.device_scale = 2;
  if (!check(quillo_view_create_html(&config, HUD_HTML, &hud), "create the HUD")) return 1;

  config = quillo_view_config_default();
  config.width = PANE_W;
  config.height = PANE_H;
  config.pixels = resized_memory[0];
  config.stride = PANE_W * 4;
  if (!check(quillo_view_create_html(&config, RESIZED_HTML, &resized), "create the resized view"))
    return 1;

  config = quillo_view_config_default();
  config.width = PANE_W;
  config.height = PANE_H;
  config.pixels = menu_memory;
  if (!check(quillo_view_create(&config, "app://game/index.html", &menu), "create the menu"))
    return 1;

  draw_scene(0, 0, PANE_W, PANE_H);
  fill(PANE_W, 0, PANE_W, PANE_H, 0x20);
  fill(0, PANE_H, PANE_W, PANE_H, 0x20);
  fill(PANE_W, PANE_H, PANE_W, PANE_H, 0x00);

  /* The menu's frames since the host heard its answer arrive: the answer's box pulses, so they
   * keep coming, and a few frames on, the frame shows the answer whatever was on its way. */
  int hud_frames = 0, resized_frames_at_size = 0, menu_answered = 0, menu_frames = 0;
  int laid_out = 0; /* the resized page has reported its last size */
  int resizes = 0, width = PANE_W, which = 0;
  quillo_notice n = quillo_notice_init();
  const time_t end = time(NULL) + SECONDS_AT_MOST;

  for (int frame = 0; time(NULL) < end; ++frame) {
    /* Once per host frame: the library copies each view's newest frame into its memory and
     * queues its notices; the memory then holds still until the next pump. */
    quillo_pump();

    while (quillo_view_next_notice(hud, &n) == 1)
      if (n.kind == QUILLO_NOTICE_FRAME) {
        draw_scene(0, 0, PANE_W, PANE_H);
        draw_view(&hud_memory[0][0][0], PANE_W * 4, PANE_W, PANE_H, 0, 0, 1);
        ++hud_frames;
      }

    int resized_frame = 0;
    while (quillo_view_next_notice(resized, &n) == 1) {
      if (n.kind == QUILLO_NOTICE_FRAME) {
        resized_frame = 1;
        if (laid_out) ++resized_frames_at_size;
      } else if (n.kind == QUILLO_NOTICE_TITLE && resizes >= RESIZES_WANTED) {
        /* The page reports its size once it has laid itself out at it. */
        char size[32];
        snprintf(size, sizeof size, "%dx%d", width, PANE_H);
        laid_out = strcmp(n.text, size) == 0;
      }
    }
    if (resized_frame) {
      /* A frame notice after a resize is a frame of the new size; on a busy machine the first
       * one may still show the page at its earlier width (the engine paints the new size before
       * the page has laid itself out again), so the host trusts the layout only a few frames
       * after the page has said it has its new size. */
      fill(PANE_W, 0, PANE_W, PANE_H, 0x20);
      draw_view(&resized_memory[which][0][0][0], PANE_W * 4, width, PANE_H, PANE_W, 0, 0);
    }

    while (quillo_view_next_notice(menu, &n) == 1) switch (n.kind) {
        case QUILLO_NOTICE_REQUEST: /* text = the URL, detail = the method */
          serve(menu, &n);
          break;
        case QUILLO_NOTICE_MESSAGE: /* the page awaits the answer to quilloPost(text) */
          printf("menu posted: %s\n", n.text);
          check(quillo_view_reply(menu, n.id, 1, "hello from the host"), "reply");
          break;
        case QUILLO_NOTICE_TITLE:
          printf("menu title: %s\n", n.text);
          if (strncmp(n.text, "answered: ", 10) == 0) menu_answered = 1;
          break;
        case QUILLO_NOTICE_LOAD_FAILED:
          printf("menu failed to load: %s %s\n", n.text, n.detail);
          break;
        case QUILLO_NOTICE_FRAME:
          draw_view(&menu_memory[0][0][0], PANE_W * 4, PANE_W, PANE_H, 0, PANE_H, 0);
          if (menu_answered) ++menu_frames;
          break;
        default:
          break;
      }

    if (hud_frames > 0 && resized_frames_at_size >= 3 && menu_frames >= 3) {
      printf("all three views shown after %d frames (%d resizes)\n", frame, resizes);
      break;
    }

    /* Resize the second view every frame until it has had its share; then leave it at the
     * last size so that its frame settles. Its old memory is never written once this returns. */
    if (resizes < RESIZES_WANTED) {
      width = MIN_RESIZE_W + (frame * 37) % (PANE_W - MIN_RESIZE_W + 1);
      which ^= 1;
      if (check(quillo_view_resize(resized, width, PANE_H, resized_memory[which], PANE_W * 4),
                "resize"))
        ++resizes;
    }
    sleep_ms(16); /* the rest of the host's frame */
  }

  /* Destroy returns after the view's last write into its memory; shutdown ends the engine. */
  quillo_view_destroy(hud);
  quillo_view_destroy(resized);
  quillo_view_destroy(menu);
  quillo_shutdown();

  if (!write_ppm(out)) {
    fprintf(stderr, "three_views: cannot write %s\n", out);
    return 1;
  }
  printf("screen: %s (resized view last %d pixels wide)\n", out, width);
  if (hud_frames == 0 || resized_frames_at_size < 3 || menu_frames < 3) {
    fprintf(stderr, "three_views: missing after %d s:%s%s%s\n", SECONDS_AT_MOST,
            hud_frames ? "" : " the HUD's frame",
            resized_frames_at_size >= 3 ? "" : " a resized frame",
            menu_frames >= 3 ? "" : " the menu's answer");
    return 1;
  }
  return 0;
}
