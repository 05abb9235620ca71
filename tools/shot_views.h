// quillo-shot's second road: one view of the views interface (include/quillo/views.h), for
// the pictures the eight exports cannot make: a device scale other than 1 and a transparent
// page, written with its alpha or laid over a checkerboard.
#ifndef QUILLO_TOOLS_SHOT_VIEWS_H
#define QUILLO_TOOLS_SHOT_VIEWS_H

#include <csignal>
#include <string>

namespace quillo_tools {

struct ViewShot {
  std::string url;   // resolved; "quillo_htmlsource:<html>" is shown as HTML
  int cssWidth = 0;  // the page's size in CSS pixels; the PNG has them times scale
  int cssHeight = 0;
  double scale = 1.0;
  bool transparent = false;   // the page's transparent parts stay so (PNG with alpha)
  bool checkerboard = false;  // and the PNG shows them over a checkerboard, opaque
  bool swapRedBlue = false;   // RGBA memory instead of BGRA
  bool bottomUp = false;
  bool keepAlpha = false;  // an opaque page's PNG keeps its (all 255) alpha channel
  std::string out;
  double timeoutSeconds = 15.0;
  int settleMs = 500;
  bool debug = false;
  bool waitReady = true;  // the picture counts as settled only after the page's READY notice
};

// Shows the page in one view, waits until its picture has settled (its load has finished, the
// view said the page is ready unless waitReady is off, and no frame came for settleMs, or, for a
// page that keeps painting, 4 x settleMs after the load)
// or the timeout passed or *interrupted was set, writes the PNG, shuts the engine down and
// returns quillo-shot's exit code. Prints notices as quillo-shot does.
int ShootView(const ViewShot& shot, const volatile std::sig_atomic_t* interrupted);

}  // namespace quillo_tools

#endif  // QUILLO_TOOLS_SHOT_VIEWS_H
