// Plain types and enumerations of the engine layer, with CEF's names and
// values.
#pragma once

#include <cstdint>
#include <vector>

#include "cef_string.h"

typedef int64_t int64;
typedef uint32_t uint32;
typedef uint16_t char16;

class CefRect {
 public:
  CefRect() = default;
  CefRect(int x, int y, int width, int height) : x(x), y(y), width(width), height(height) {}
  void Set(int nx, int ny, int nwidth, int nheight) {
    x = nx, y = ny, width = nwidth, height = nheight;
  }
  bool IsEmpty() const { return width <= 0 || height <= 0; }
  bool operator==(const CefRect& o) const {
    return x == o.x && y == o.y && width == o.width && height == o.height;
  }
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

struct CefPoint {
  int x = 0;
  int y = 0;
};

typedef enum {
  STATE_DEFAULT = 0,
  STATE_ENABLED,
  STATE_DISABLED,
} cef_state_t;

typedef enum {
  PET_VIEW = 0,
  PET_POPUP,
} cef_paint_element_type_t;

typedef enum {
  MBT_LEFT = 0,
  MBT_MIDDLE,
  MBT_RIGHT,
} cef_mouse_button_type_t;

typedef enum {
  EVENTFLAG_NONE = 0,
  EVENTFLAG_CAPS_LOCK_ON = 1 << 0,
  EVENTFLAG_SHIFT_DOWN = 1 << 1,
  EVENTFLAG_CONTROL_DOWN = 1 << 2,
  EVENTFLAG_ALT_DOWN = 1 << 3,
  EVENTFLAG_LEFT_MOUSE_BUTTON = 1 << 4,
  EVENTFLAG_MIDDLE_MOUSE_BUTTON = 1 << 5,
  EVENTFLAG_RIGHT_MOUSE_BUTTON = 1 << 6,
  EVENTFLAG_COMMAND_DOWN = 1 << 7,
  EVENTFLAG_NUM_LOCK_ON = 1 << 8,
  EVENTFLAG_IS_KEY_PAD = 1 << 9,
  EVENTFLAG_IS_LEFT = 1 << 10,
  EVENTFLAG_IS_RIGHT = 1 << 11,
} cef_event_flags_t;

typedef enum {
  KEYEVENT_RAWKEYDOWN = 0,
  KEYEVENT_KEYDOWN,
  KEYEVENT_KEYUP,
  KEYEVENT_CHAR,
} cef_key_event_type_t;

struct CefMouseEvent {
  int x = 0;
  int y = 0;
  uint32 modifiers = 0;
};

// ---- Touch ------------------------------------------------------------------------------

typedef enum {
  CEF_TET_RELEASED = 0,
  CEF_TET_PRESSED,
  CEF_TET_MOVED,
  CEF_TET_CANCELLED,
} cef_touch_event_type_t;

typedef enum {
  CEF_POINTER_TYPE_TOUCH = 0,
  CEF_POINTER_TYPE_MOUSE,
  CEF_POINTER_TYPE_PEN,
  CEF_POINTER_TYPE_ERASER,
  CEF_POINTER_TYPE_UNKNOWN,
} cef_pointer_type_t;

// One touch point's change: id names the finger from its press to its release or cancel, x and y
// are in view coordinates. This engine carries no contact size, angle or pressure to the page
// (radius_x, radius_y, rotation_angle and pressure are not read) and takes touch points only.
struct CefTouchEvent {
  int id = 0;
  float x = 0;
  float y = 0;
  float radius_x = 0;
  float radius_y = 0;
  float rotation_angle = 0;
  float pressure = 0;
  cef_touch_event_type_t type = CEF_TET_RELEASED;
  uint32 modifiers = 0;
  cef_pointer_type_t pointer_type = CEF_POINTER_TYPE_TOUCH;
};

struct CefKeyEvent {
  cef_key_event_type_t type = KEYEVENT_RAWKEYDOWN;
  uint32 modifiers = 0;
  int windows_key_code = 0;
  int native_key_code = 0;
  int is_system_key = 0;
  char16 character = 0;
  char16 unmodified_character = 0;
  int focus_on_editable_field = 0;
};

typedef enum {
  CT_POINTER = 0,
  CT_CROSS,
  CT_HAND,
  CT_IBEAM,
  CT_WAIT,
  CT_HELP,
  CT_EASTRESIZE,
  CT_NORTHRESIZE,
  CT_NORTHEASTRESIZE,
  CT_NORTHWESTRESIZE,
  CT_SOUTHRESIZE,
  CT_SOUTHEASTRESIZE,
  CT_SOUTHWESTRESIZE,
  CT_WESTRESIZE,
  CT_NORTHSOUTHRESIZE,
  CT_EASTWESTRESIZE,
  CT_NORTHEASTSOUTHWESTRESIZE,
  CT_NORTHWESTSOUTHEASTRESIZE,
  CT_COLUMNRESIZE,
  CT_ROWRESIZE,
  CT_MIDDLEPANNING,
  CT_EASTPANNING,
  CT_NORTHPANNING,
  CT_NORTHEASTPANNING,
  CT_NORTHWESTPANNING,
  CT_SOUTHPANNING,
  CT_SOUTHEASTPANNING,
  CT_SOUTHWESTPANNING,
  CT_WESTPANNING,
  CT_MOVE,
  CT_VERTICALTEXT,
  CT_CELL,
  CT_CONTEXTMENU,
  CT_ALIAS,
  CT_PROGRESS,
  CT_NODROP,
  CT_COPY,
  CT_NONE,
  CT_NOTALLOWED,
  CT_ZOOMIN,
  CT_ZOOMOUT,
  CT_GRAB,
  CT_GRABBING,
  CT_CUSTOM,
} cef_cursor_type_t;

typedef void* CefCursorHandle;

struct CefCursorInfo {
  CefPoint hotspot;
  float image_scale_factor = 1.0f;
  void* buffer = nullptr;
  int width = 0;
  int height = 0;
};

struct CefScreenInfo {
  float device_scale_factor = 1.0f;
  int depth = 24;
  int depth_per_component = 8;
  bool is_monochrome = false;
  CefRect rect;
  CefRect available_rect;
};

typedef enum {
  JSDIALOGTYPE_ALERT = 0,
  JSDIALOGTYPE_CONFIRM,
  JSDIALOGTYPE_PROMPT,
} cef_jsdialog_type_t;

typedef enum {
  RV_CANCEL = 0,
  RV_CONTINUE,
  RV_CONTINUE_ASYNC,
} cef_return_value_t;

typedef enum {
  WOD_UNKNOWN = 0,
  WOD_CURRENT_TAB,
  WOD_SINGLETON_TAB,
  WOD_NEW_FOREGROUND_TAB,
  WOD_NEW_BACKGROUND_TAB,
  WOD_NEW_POPUP,
  WOD_NEW_WINDOW,
  WOD_SAVE_TO_DISK,
  WOD_OFF_THE_RECORD,
  WOD_IGNORE_ACTION,
} cef_window_open_disposition_t;

typedef enum {
  TT_LINK = 0,
  TT_EXPLICIT = 1,
  TT_AUTO_SUBFRAME = 3,
  TT_MANUAL_SUBFRAME = 4,
  TT_FORM_SUBMIT = 7,
  TT_RELOAD = 8,
  TT_SOURCE_MASK = 0xFF,
  TT_BLOCKED_FLAG = 0x00800000,
  TT_FORWARD_BACK_FLAG = 0x01000000,
  TT_CHAIN_START_FLAG = 0x10000000,
  TT_CHAIN_END_FLAG = 0x20000000,
  TT_CLIENT_REDIRECT_FLAG = 0x40000000,
  TT_SERVER_REDIRECT_FLAG = 0x80000000,
  TT_IS_REDIRECT_MASK = 0xC0000000,
  TT_QUALIFIER_MASK = 0xFFFFFF00,
} cef_transition_type_t;

typedef enum {
  NAVIGATION_LINK_CLICKED = 0,
  NAVIGATION_FORM_SUBMITTED,
  NAVIGATION_BACK_FORWARD,
  NAVIGATION_RELOAD,
  NAVIGATION_FORM_RESUBMITTED,
  NAVIGATION_OTHER,
} cef_navigation_type_t;

typedef enum {
  FOCUS_SOURCE_NAVIGATION = 0,
  FOCUS_SOURCE_SYSTEM,
} cef_focus_source_t;

typedef enum {
  TS_ABNORMAL_TERMINATION = 0,
  TS_PROCESS_WAS_KILLED,
  TS_PROCESS_CRASHED,
  TS_PROCESS_OOM,
} cef_termination_status_t;

typedef enum {
  PID_BROWSER = 0,
  PID_RENDERER,
} cef_process_id_t;

typedef enum {
  ERR_NONE = 0,
  ERR_FAILED = -2,
  ERR_ABORTED = -3,
  ERR_INVALID_ARGUMENT = -4,
  ERR_INVALID_HANDLE = -5,
  ERR_FILE_NOT_FOUND = -6,
  ERR_TIMED_OUT = -7,
  ERR_FILE_TOO_BIG = -8,
  ERR_UNEXPECTED = -9,
  ERR_ACCESS_DENIED = -10,
  ERR_NOT_IMPLEMENTED = -11,
  ERR_FILE_NO_SPACE = -18,
  ERR_CONNECTION_CLOSED = -100,
  ERR_CONNECTION_RESET = -101,
  ERR_CONNECTION_REFUSED = -102,
  ERR_CONNECTION_ABORTED = -103,
  ERR_CONNECTION_FAILED = -104,
  ERR_NAME_NOT_RESOLVED = -105,
  ERR_INTERNET_DISCONNECTED = -106,
  ERR_SSL_PROTOCOL_ERROR = -107,
  ERR_ADDRESS_INVALID = -108,
  ERR_ADDRESS_UNREACHABLE = -109,
  ERR_SSL_CLIENT_AUTH_CERT_NEEDED = -110,
  ERR_TUNNEL_CONNECTION_FAILED = -111,
  ERR_NO_SSL_VERSIONS_ENABLED = -112,
  ERR_SSL_VERSION_OR_CIPHER_MISMATCH = -113,
  ERR_SSL_RENEGOTIATION_REQUESTED = -114,
  ERR_CERT_COMMON_NAME_INVALID = -200,
  ERR_CERT_DATE_INVALID = -201,
  ERR_CERT_AUTHORITY_INVALID = -202,
  ERR_CERT_CONTAINS_ERRORS = -203,
  ERR_CERT_NO_REVOCATION_MECHANISM = -204,
  ERR_CERT_UNABLE_TO_CHECK_REVOCATION = -205,
  ERR_CERT_REVOKED = -206,
  ERR_CERT_INVALID = -207,
  ERR_CERT_END = -213,
  ERR_INVALID_URL = -300,
  ERR_DISALLOWED_URL_SCHEME = -301,
  ERR_UNKNOWN_URL_SCHEME = -302,
  ERR_TOO_MANY_REDIRECTS = -310,
  ERR_UNSAFE_REDIRECT = -311,
  ERR_UNSAFE_PORT = -312,
  ERR_INVALID_RESPONSE = -320,
  ERR_INVALID_CHUNKED_ENCODING = -321,
  ERR_METHOD_NOT_SUPPORTED = -322,
  ERR_UNEXPECTED_PROXY_AUTH = -323,
  ERR_EMPTY_RESPONSE = -324,
  ERR_RESPONSE_HEADERS_TOO_BIG = -325,
  ERR_CACHE_MISS = -400,
  ERR_INSECURE_RESPONSE = -501,
} cef_errorcode_t;

// Why a download stopped before it was complete (the subset this layer reports).
typedef enum {
  CEF_DOWNLOAD_INTERRUPT_REASON_NONE = 0,
  CEF_DOWNLOAD_INTERRUPT_REASON_FILE_FAILED = 1,
  CEF_DOWNLOAD_INTERRUPT_REASON_FILE_ACCESS_DENIED = 2,
  CEF_DOWNLOAD_INTERRUPT_REASON_FILE_NO_SPACE = 3,
  CEF_DOWNLOAD_INTERRUPT_REASON_NETWORK_FAILED = 20,
  CEF_DOWNLOAD_INTERRUPT_REASON_USER_CANCELED = 40,
} cef_download_interrupt_reason_t;

typedef enum {
  LOGSEVERITY_DEFAULT = 0,
  LOGSEVERITY_VERBOSE,
  LOGSEVERITY_INFO,
  LOGSEVERITY_WARNING,
  LOGSEVERITY_ERROR,
  LOGSEVERITY_DISABLE = 99,
} cef_log_severity_t;

typedef void* CefWindowHandle;

// ---- Composition input (input methods) -----------------------------------------------------

// A range of text positions in UTF-16 code units, from up to (not including) to: CEF's
// cef_range_t. InvalidRange() stands for none.
class CefRange {
 public:
  CefRange() = default;
  CefRange(uint32 from, uint32 to) : from(from), to(to) {}
  static CefRange InvalidRange() { return CefRange(UINT32_MAX, UINT32_MAX); }
  bool IsValid() const { return from != UINT32_MAX && to != UINT32_MAX; }
  bool operator==(const CefRange& o) const { return from == o.from && to == o.to; }
  uint32 from = 0;
  uint32 to = 0;
};

// 0xAARRGGBB.
typedef uint32 cef_color_t;

typedef enum {
  CEF_CUS_SOLID = 0,
  CEF_CUS_DOT,
  CEF_CUS_DASH,
  CEF_CUS_NONE,
} cef_composition_underline_style_t;

// How a part of the composition text is underlined while it is composed.
struct CefCompositionUnderline {
  size_t size = sizeof(CefCompositionUnderline);
  CefRange range;         // within the composition text
  cef_color_t color = 0;  // 0: the text's colour
  cef_color_t background_color = 0;
  int thick = 0;
  cef_composition_underline_style_t style = CEF_CUS_SOLID;
};
