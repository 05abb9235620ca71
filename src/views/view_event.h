// What the engine thread tells the host's thread about a view: one record per notice, in the
// order the engine saw them, carried by the views engine's event queue and queued by the view's
// host side until the host takes it. A plain value that owns its texts.
#pragma once

#include <cstdint>
#include <string>

#include "cef_types.h"

namespace quillo::views {

// Kinds beyond the public QUILLO_NOTICE_* ones, which the host's side handles itself and never
// hands out.
enum InternalEvent : int {
  // The engine let go of the view (its browser closed); nothing more comes for it.
  kEventReleased = -1,
  // A dialog the host was told of closed without the host's answer (its page went).
  kEventDialogGone = -2,
  // The page let go of an open request of a host-served scheme (id) before the host ended it.
  kEventRequestGone = -3,
  // The page is ready: its READY notice follows the FRAME notice of the first frame numbered id
  // or later of the frames current after code resizes (text = the page's URL).
  kEventReady = -4,
};

struct ViewEvent {
  uint64_t view = 0;  // the view's handle
  int kind = 0;       // QUILLO_NOTICE_* or InternalEvent
  int code = 0;
  uint64_t id = 0;
  CefRect rect;
  std::string text;
  std::string detail;
  std::string headers;    // REQUEST: the request's headers, "Name: value\n" lines
  std::string inputMode;  // EDITABLE: the element's inputmode
};

}  // namespace quillo::views
