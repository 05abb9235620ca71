// quillo-frame-check: the frames a host is told of are whole and hold still until it polls
// again. The page repaints a large block, a small moving block and a strip of black and white
// squares that spells a frame counter, all in solid colours, at every animation frame. At every
// new-frame notice this host copies its memory (as a host uploads it), decodes the counter from
// the copy and compares the whole picture with the one the page must show for that counter;
// then it holds the frame as a slow host does (--hold) and checks at the end of the hold that
// not one byte of its memory moved. A wrong picture is written as a PNG and judged by whether
// the memory changed meanwhile, or in a pause after that without polls:
//  - unchanged: a row the dirty rectangles missed (stale);
//  - changed, the counter still the same: the notice came before its paint was complete;
//  - changed to a new counter: the next frame was written while the host read this one (torn).
// Each is a failure, as is a frame that moved during its hold.
//
//   quillo-frame-check [--frames N] [--width W] [--height H] [--options PAINT_BITS]
//                      [--seed S] [--out DIR] [--hold MS|random] [--hogs N]
// --hold: after each new frame, wait MS milliseconds (or a random 0 to 60 each time) before the
// next poll. --hogs: start N CPU-bound processes for the run (0: one per core), as the game a
// host runs keeps the machine busy.
// Prints "frame check: N frames, counters A..B, S skipped counters, T torn, W wrong, M moved"
// and exits 1 on any wrong, torn or moved frame, or when the frames do not come.
#include <quillo.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "png_writer.h"

namespace {

// The page's geometry and colours; the host draws the same picture from these.
constexpr int kBits = 20;   // counter bits in the strip
constexpr int kSquare = 8;  // strip square size
constexpr int kStripY = 4;  // strip top
constexpr int kBigX = 40, kBigY = 40, kBigW = 400, kBigH = 240;
constexpr int kSmall = 24;
constexpr int kSmallTop = 300;
constexpr uint32_t kPalette[] = {0xE03020, 0x20A040, 0x2040D0, 0xF0C000,
                                 0x8020A0, 0x00A0A0, 0x603010, 0x909090};
constexpr int kPaletteSize = sizeof kPalette / sizeof kPalette[0];

struct Rect {
  int x, y, w, h;
  uint32_t rgb;
};

// The blocks of counter n, over a white page, in painting order.
std::vector<Rect> Blocks(uint32_t n, int width, int height) {
  std::vector<Rect> blocks;
  for (int bit = 0; bit < kBits; ++bit)
    blocks.push_back(
        {4 + bit * kSquare, kStripY, kSquare, kSquare, (n >> bit) & 1 ? 0x000000u : 0xFFFFFFu});
  blocks.push_back({kBigX, kBigY, kBigW, kBigH, kPalette[n % kPaletteSize]});
  // The small block moves over the lower part of the view, row by row.
  const int spanX = width - kSmall, spanY = height - kSmallTop - kSmall;
  blocks.push_back({static_cast<int>((n * 37) % spanX),
                    kSmallTop + static_cast<int>((n * 11) % spanY), kSmall, kSmall,
                    kPalette[(n * 3 + 1) % kPaletteSize]});
  return blocks;
}

// The page: the same blocks as divs, moved at each animation frame. Its first frame shows
// counter 1; it counts one per animation frame for as long as it runs.
std::string PageHtml(int width, int height) {
  std::string palette;
  for (uint32_t c : kPalette) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "'#%06x',", c);
    palette += hex;
  }
  char page[4096];
  std::snprintf(page, sizeof page, R"(<!doctype html><html><head><style>
html,body{margin:0;background:#fff;overflow:hidden}
div{position:absolute;margin:0;border:0;padding:0}
</style></head><body><script>
const P=[%s], B=%d, S=%d, W=%d, H=%d;
const strip=[];
for(let i=0;i<B;i++){const d=document.createElement('div');
 d.style.cssText=`left:${4+i*S}px;top:%dpx;width:${S}px;height:${S}px`;document.body.appendChild(d);strip.push(d);}
const big=document.createElement('div');
big.style.cssText='left:%dpx;top:%dpx;width:%dpx;height:%dpx';document.body.appendChild(big);
const small=document.createElement('div');
small.style.cssText='width:%dpx;height:%dpx';document.body.appendChild(small);
let n=0;
function show(){n++;
 for(let i=0;i<B;i++)strip[i].style.background=(n>>i)&1?'#000':'#fff';
 big.style.background=P[n%%P.length];
 small.style.left=((n*37)%%(W-%d))+'px';small.style.top=(%d+(n*11)%%(H-%d-%d))+'px';
 small.style.background=P[(n*3+1)%%P.length];
 requestAnimationFrame(show);}
show();
</script></body></html>)",
                palette.c_str(), kBits, kSquare, width, height, kStripY, kBigX, kBigY, kBigW, kBigH,
                kSmall, kSmall, kSmall, kSmallTop, kSmallTop, kSmall);
  return page;
}

struct Layout {
  bool swap = false;
  bool bottomUp = false;
};

// Pixel (x, y) of the view, as 0xRRGGBB, read from host memory in its layout.
uint32_t ReadPixel(const uint8_t* memory, int width, int height, Layout layout, int x, int y) {
  const int row = layout.bottomUp ? height - 1 - y : y;
  const uint8_t* p = memory + (static_cast<size_t>(row) * width + x) * 4;
  const uint32_t b = layout.swap ? p[2] : p[0], g = p[1], r = layout.swap ? p[0] : p[2];
  return (r << 16) | (g << 8) | b;
}

// Reads the counter from the strip; false when a square is neither black nor white.
bool DecodeCounter(const uint8_t* memory, int width, int height, Layout layout, uint32_t& n) {
  n = 0;
  for (int bit = 0; bit < kBits; ++bit) {
    const uint32_t c = ReadPixel(memory, width, height, layout, 4 + bit * kSquare + kSquare / 2,
                                 kStripY + kSquare / 2);
    if (c == 0x000000)
      n |= 1u << bit;
    else if (c != 0xFFFFFF)
      return false;
  }
  return true;
}

// The picture of counter n in canonical form (0xRRGGBB per pixel, top row first).
void Expected(uint32_t n, int width, int height, std::vector<uint32_t>& picture) {
  picture.assign(static_cast<size_t>(width) * height, 0xFFFFFF);
  for (const Rect& r : Blocks(n, width, height))
    for (int y = std::max(r.y, 0); y < std::min(r.y + r.h, height); ++y)
      for (int x = std::max(r.x, 0); x < std::min(r.x + r.w, width); ++x)
        picture[static_cast<size_t>(y) * width + x] = r.rgb;
}

// The rows in which memory differs from picture: first and last, or -1 when none.
std::pair<int, int> DifferingRows(const uint8_t* memory, int width, int height, Layout layout,
                                  const std::vector<uint32_t>& picture) {
  int first = -1, last = -1;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if (ReadPixel(memory, width, height, layout, x, y) !=
          picture[static_cast<size_t>(y) * width + x]) {
        if (first < 0) first = y;
        last = y;
        break;
      }
  return {first, last};
}

void SleepUs(int64_t us) {
  timespec ts{static_cast<time_t>(us / 1'000'000), static_cast<long>(us % 1'000'000) * 1000};
  nanosleep(&ts, nullptr);
}

int64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

// CPU-bound child processes, ended with the run.
class Hogs {
 public:
  explicit Hogs(int count) {
    if (count == 0) count = static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
    for (int i = 0; i < count; ++i) {
      const pid_t pid = fork();
      if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives the check
        if (getppid() == 1) _exit(0);
        volatile uint64_t spin = 0;
        for (;;) spin = spin + 1;
      }
      if (pid > 0) m_pids.push_back(pid);
    }
  }
  ~Hogs() {
    for (pid_t pid : m_pids) kill(pid, SIGKILL);
    for (pid_t pid : m_pids) waitpid(pid, nullptr, 0);
  }

 private:
  std::vector<pid_t> m_pids;
};

}  // namespace

int main(int argc, char** argv) {
  int frames = 300, width = 640, height = 480, options = 0;
  unsigned seed = 1;
  std::string out = ".";
  int holdMs = 0, hogs = -1;  // hogs -1: none
  bool randomHold = false;
  for (int i = 1; i < argc; i += 2) {
    const std::string name = argv[i];
    if (i + 1 >= argc) {
      std::fprintf(stderr, "frame check: %s needs a value\n", name.c_str());
      return 2;
    }
    if (name == "--frames")
      frames = std::atoi(argv[i + 1]);
    else if (name == "--width")
      width = std::atoi(argv[i + 1]);
    else if (name == "--height")
      height = std::atoi(argv[i + 1]);
    else if (name == "--options")
      options = std::atoi(argv[i + 1]);
    else if (name == "--seed")
      seed = static_cast<unsigned>(std::atoi(argv[i + 1]));
    else if (name == "--out")
      out = argv[i + 1];
    else if (name == "--hold" && std::string(argv[i + 1]) == "random")
      randomHold = true;
    else if (name == "--hold")
      holdMs = std::atoi(argv[i + 1]);
    else if (name == "--hogs")
      hogs = std::atoi(argv[i + 1]);
    else {
      std::fprintf(stderr, "frame check: unknown option %s\n", name.c_str());
      return 2;
    }
  }
  if (width < kBigX + kBigW + kSmall || height < kSmallTop + 2 * kSmall || frames <= 0) {
    std::fprintf(stderr, "frame check: view too small\n");
    return 2;
  }
  const Layout layout{(options & PAINT_SWAP_RED_BLUE) != 0, (options & PAINT_BOTTOM_UP) != 0};
  std::vector<uint8_t> memory(static_cast<size_t>(width) * height * 4, 0);
  // Started before the engine, so that its threads are never alone on a core.
  std::optional<Hogs> busy;
  if (hogs >= 0) busy.emplace(hogs);
  const std::string url = "quillo_htmlsource:" + PageHtml(width, height);
  LoadWeb(0, 0, width, height, memory.data(), url.c_str(), options, "en-US");

  // Polls at random gaps of 0 to 6 ms, as a host with an uneven frame loop does.
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> gapUs(0, 6000);
  std::uniform_int_distribution<int> randomHoldUs(0, 60'000);
  std::vector<uint32_t> picture;
  std::vector<uint8_t> copy(memory.size());
  int checked = 0, torn = 0, wrong = 0, skipped = 0, moved = 0;
  uint32_t firstCounter = 0, lastCounter = 0;
  const int64_t deadline = NowMs() + 60'000 + frames * (100 + (randomHold ? 60 : holdMs));
  while (checked < frames && NowMs() < deadline) {
    void* text = nullptr;
    int value = 0;
    const int r = UpdateWeb(&text, &value);
    if (r != -1 && (r & UPDATE_NEW_FRAME)) {
      std::memcpy(copy.data(), memory.data(), memory.size());
      uint32_t n = 0;
      bool ok = DecodeCounter(copy.data(), width, height, layout, n) && n > 0;
      std::pair<int, int> rows{0, height - 1};
      if (ok) {
        Expected(n, width, height, picture);
        rows = DifferingRows(copy.data(), width, height, layout, picture);
        ok = rows.first < 0;
      }
      // The white page before the script's first frame carries no counter yet.
      const bool blank = !ok && checked == 0 && n == 0;
      if (!ok && !blank) {
        // Did the library write while the copy was made and checked, and was that the next
        // paint or the rest of the one announced? A paint writes the strip (its first band)
        // first, so the next paint shows as a new counter in the memory now, or, when it had
        // already begun at the notice (announced: the paint before), as a counter in the copy
        // that skips the one after the last counter seen.
        // Looked at after a pause without polls: no new paint can start meanwhile, and one
        // already under way (its thread perhaps preempted while the host checked) can finish.
        SleepUs(200'000);
        uint32_t now = n;
        std::vector<uint8_t> later(memory);
        const bool changed = std::memcmp(copy.data(), later.data(), later.size()) != 0;
        const bool newCounter =
            !(DecodeCounter(later.data(), width, height, layout, now) && now == n);
        const bool next = changed && (newCounter || (checked > 0 && n > lastCounter + 1));
        ++(next ? torn : wrong);
        const std::string path = out + "/frame-check-" + std::to_string(options) + "-" +
                                 std::to_string(checked) + ".png";
        std::string error;
        const std::vector<uint8_t> rgb = quillo_tools::HostPixelsToRgb(
            copy.data(), width, height, {layout.swap, layout.bottomUp}, false);
        quillo_tools::WritePng(path, rgb, width, height, false, &error);
        std::fprintf(stderr,
                     "frame check: notice %d shows counter %u but rows %d..%d differ from its "
                     "picture; %s; written to %s %s\n",
                     checked, n, rows.first, rows.second,
                     next      ? "torn: the next frame was painted while the host read this one"
                     : changed ? "the notice came before the paint was complete"
                               : "stale: nothing was written meanwhile",
                     path.c_str(), error.c_str());
        if (wrong + torn >= 20) break;
      }
      if (!blank) {
        if (checked > 0 && n > lastCounter + 1) skipped += static_cast<int>(n - lastCounter - 1);
        if (checked == 0) firstCounter = n;
        lastCounter = n;
        ++checked;
      }
      // The host works with the frame for a while (uploads, encodes); it must not move.
      const int64_t holdUs = randomHold ? randomHoldUs(random) : int64_t{holdMs} * 1000;
      if (holdUs > 0) {
        SleepUs(holdUs);
        if (std::memcmp(copy.data(), memory.data(), memory.size()) != 0) {
          ++moved;
          std::fprintf(stderr,
                       "frame check: notice %d (counter %u) moved during its %lld us hold\n",
                       checked, n, static_cast<long long>(holdUs));
          if (moved >= 20) break;
        }
        continue;  // the next poll at once, as a host whose frame work took the hold
      }
    }
    if (r != -1 && (r & UPDATE_LOAD_ERROR)) {
      std::fprintf(stderr, "frame check: load error %d %s\n", value,
                   text ? static_cast<const char*>(text) : "");
      break;
    }
    SleepUs(gapUs(random));
  }
  UnloadWeb(1);
  busy.reset();
  std::printf(
      "frame check: %d frames, counters %u..%u, %d skipped counters, %d torn, %d wrong, %d "
      "moved\n",
      checked, firstCounter, lastCounter, skipped, torn, wrong, moved);
  if (checked < frames && wrong + torn < 20 && moved < 20) {
    std::fprintf(stderr, "frame check: only %d of %d frames came\n", checked, frames);
    return 1;
  }
  return wrong == 0 && torn == 0 && moved == 0 ? 0 : 1;
}
