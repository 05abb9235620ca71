/* A small quillo host built outside the source tree against an installed quillo, the way a
 * third-party program is: only <quillo.h> and libquillo.so.
 *
 *   quillo-install-host LIBDIR [WEBEXT_DIR]
 *
 * It shows an HTML page, polls UpdateWeb until a frame, the page's title and the page's
 * colour in the host's memory have all arrived, and shuts the engine down. It also checks
 * that the library it runs is the one in LIBDIR and, given WEBEXT_DIR, that the engine's web
 * process loaded the extension from there. Exit 0 on success, 1 with a message otherwise. */
#define _POSIX_C_SOURCE 200809L

#include <quillo.h>

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#define VIEW_WIDTH 64
#define VIEW_HEIGHT 48
#define DEADLINE_SECONDS 60.0

static const char kTitle[] = "quillo install check";
/* rgb(0, 128, 255) is stored B, G, R, A. */
static const unsigned char kExpectedPixel[4] = {255, 128, 0, 255};

static void Pause(void) {
  const struct timespec pause = {0, 2000000}; /* 2 ms between idle polls */
  nanosleep(&pause, NULL);
}

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

/* True when the memory map of process `pid` ("self" or a number) names a file under `path`. */
static int MapsMention(const char* pid, const char* path) {
  char name[64];
  snprintf(name, sizeof name, "/proc/%s/maps", pid);
  FILE* maps = fopen(name, "r");
  if (!maps) return 0;
  char line[4096];
  int found = 0;
  while (!found && fgets(line, sizeof line, maps)) found = strstr(line, path) != NULL;
  fclose(maps);
  return found;
}

/* True when some child process of this one has mapped a file under `path`. The engine's web
 * process is started by the library, so it is one of our children. */
static int ChildMapsMention(const char* path) {
  DIR* proc = opendir("/proc");
  if (!proc) return 0;
  int found = 0;
  struct dirent* entry;
  while (!found && (entry = readdir(proc)) != NULL) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    char name[300];
    snprintf(name, sizeof name, "/proc/%s/stat", entry->d_name);
    FILE* stat = fopen(name, "r");
    if (!stat) continue;
    int pid = 0, ppid = 0;
    /* pid (comm) state ppid: comm may hold spaces, so skip to the last ')'. */
    char buffer[1024];
    size_t n = fread(buffer, 1, sizeof buffer - 1, stat);
    fclose(stat);
    buffer[n] = '\0';
    const char* close = strrchr(buffer, ')');
    if (close && sscanf(buffer, "%d", &pid) == 1 && sscanf(close + 1, " %*c %d", &ppid) == 1 &&
        ppid == (int)getpid())
      found = MapsMention(entry->d_name, path);
  }
  closedir(proc);
  return found;
}

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    fprintf(stderr, "usage: %s LIBDIR [WEBEXT_DIR]\n", argv[0]);
    return 2;
  }
  char library[4096];
  snprintf(library, sizeof library, "%s/libquillo.so", argv[1]);
  const char* webext = argc > 2 ? argv[2] : NULL;

  unsigned char* pixels = calloc((size_t)VIEW_WIDTH * VIEW_HEIGHT, 4);
  if (!pixels) return 1;
  char url[512];
  snprintf(url, sizeof url,
           "quillo_htmlsource:<html><head><title>%s</title></head>"
           "<body style=\"margin:0;background:rgb(0,128,255)\"></body></html>",
           kTitle);
  LoadWeb(0, 0, VIEW_WIDTH, VIEW_HEIGHT, pixels, url, 0, "en-US");

  int frames = 0, titled = 0, painted = 0;
  const double deadline = Now() + DEADLINE_SECONDS;
  while (!(frames && titled && painted) && Now() < deadline) {
    void* text = NULL;
    int value = 0;
    int r = UpdateWeb(&text, &value);
    if (r == -1) {
      Pause();
      continue;
    }
    if (r & UPDATE_LOAD_ERROR) {
      fprintf(stderr, "host: load error %d: %s\n", value, text ? (const char*)text : "");
      break;
    }
    if (r & UPDATE_NEW_FRAME) ++frames;
    if ((r & UPDATE_TITLE) && text && strcmp((const char*)text, kTitle) == 0) titled = 1;
    const unsigned char* centre = pixels + ((VIEW_HEIGHT / 2) * VIEW_WIDTH + VIEW_WIDTH / 2) * 4;
    painted = frames && memcmp(centre, kExpectedPixel, 4) == 0;
    if (!r) Pause();
  }

  int ok = 1;
  if (!frames) {
    fprintf(stderr, "host: no frame arrived\n");
    ok = 0;
  }
  if (!titled) {
    fprintf(stderr, "host: the title \"%s\" never arrived\n", kTitle);
    ok = 0;
  }
  if (frames && !painted) {
    const unsigned char* c = pixels + ((VIEW_HEIGHT / 2) * VIEW_WIDTH + VIEW_WIDTH / 2) * 4;
    fprintf(stderr, "host: centre pixel is B,G,R,A %u,%u,%u,%u, expected 255,128,0,255\n", c[0],
            c[1], c[2], c[3]);
    ok = 0;
  }
  if (!MapsMention("self", library)) {
    fprintf(stderr, "host: %s is not the library this host runs\n", library);
    ok = 0;
  }
  if (webext && !ChildMapsMention(webext)) {
    fprintf(stderr, "host: no web process loaded the extension from %s\n", webext);
    ok = 0;
  }

  UnloadWeb(1);
  free(pixels); /* only after the engine has stopped painting into it */
  if (ok) printf("host: frame, title and pixel arrived from %s\n", library);
  return ok ? 0 : 1;
}
