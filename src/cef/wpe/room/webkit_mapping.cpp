#include "wpe/room/webkit_mapping.h"

#include "cef_string.h"

namespace quillo::engine {

cef_transition_type_t TransitionOf(WebKitNavigationAction* action) {
  int type = TT_EXPLICIT;
  switch (webkit_navigation_action_get_navigation_type(action)) {
    case WEBKIT_NAVIGATION_TYPE_LINK_CLICKED:
      type = TT_LINK;
      break;
    case WEBKIT_NAVIGATION_TYPE_FORM_SUBMITTED:
    case WEBKIT_NAVIGATION_TYPE_FORM_RESUBMITTED:
      type = TT_FORM_SUBMIT;
      break;
    case WEBKIT_NAVIGATION_TYPE_BACK_FORWARD:
      type = TT_EXPLICIT | TT_FORWARD_BACK_FLAG;
      break;
    case WEBKIT_NAVIGATION_TYPE_RELOAD:
      type = TT_RELOAD;
      break;
    default:
      break;
  }
  if (webkit_navigation_action_is_redirect(action)) type |= TT_SERVER_REDIRECT_FLAG;
  return static_cast<cef_transition_type_t>(type);
}

cef_navigation_type_t NavigationTypeOf(WebKitNavigationAction* action) {
  switch (webkit_navigation_action_get_navigation_type(action)) {
    case WEBKIT_NAVIGATION_TYPE_LINK_CLICKED:
      return NAVIGATION_LINK_CLICKED;
    case WEBKIT_NAVIGATION_TYPE_FORM_SUBMITTED:
      return NAVIGATION_FORM_SUBMITTED;
    case WEBKIT_NAVIGATION_TYPE_BACK_FORWARD:
      return NAVIGATION_BACK_FORWARD;
    case WEBKIT_NAVIGATION_TYPE_RELOAD:
      return NAVIGATION_RELOAD;
    case WEBKIT_NAVIGATION_TYPE_FORM_RESUBMITTED:
      return NAVIGATION_FORM_RESUBMITTED;
    default:
      return NAVIGATION_OTHER;
  }
}

cef_cursor_type_t CursorOf(WebKitHitTestResult* hit) {
  if (webkit_hit_test_result_context_is_link(hit)) return CT_HAND;
  if (webkit_hit_test_result_context_is_editable(hit)) return CT_IBEAM;
  return CT_POINTER;
}

std::u16string ToU16(const char* utf8) {
  return CefString(utf8 ? utf8 : "").ToString16();
}

}  // namespace quillo::engine
