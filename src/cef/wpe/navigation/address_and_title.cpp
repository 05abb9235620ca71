#include "wpe/navigation/address_and_title.h"

#include <memory>
#include <string>
#include <utility>

#include "wpe/navigation/display_title.h"
#include "wpe/process/ui_thread.h"
#include "wpe/room/browser_side.h"
#include "wpe/room/frame_impl.h"
#include "wpe/room/webkit_mapping.h"

namespace quillo::engine {
namespace {

AddressAndTitle* Room(gpointer self) {
  return static_cast<AddressAndTitle*>(self);
}

void OnUriNotify(GObject*, GParamSpec*, gpointer self) {
  Room(self)->UriChanged();
}

void OnTitleNotify(GObject*, GParamSpec*, gpointer self) {
  Room(self)->TitleChanged();
}

// Tells the display handler the page's title; a page that names none shows
// its address.
void ReportTitle(BrowserSide& browser, WebKitWebView* view) {
  CefRefPtr<CefDisplayHandler> display = browser.Client().GetDisplayHandler();
  if (!display) return;
  const gchar* title = webkit_web_view_get_title(view);
  if (title != nullptr && *title != '\0') {
    display->OnTitleChange(browser.Browser(), CefString(title));
    return;
  }
  // A view without an address (its web process has just ended) has nothing to show yet: the
  // next page's title follows.
  const gchar* uri = webkit_web_view_get_uri(view);
  const std::string shown = DisplayTitleForUrl(uri ? uri : "");
  if (!shown.empty()) display->OnTitleChange(browser.Browser(), CefString(shown));
}

}  // namespace

void AddressAndTitle::Attach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  g_signal_connect(view, "notify::title", G_CALLBACK(OnTitleNotify), this);
  g_signal_connect(view, "notify::uri", G_CALLBACK(OnUriNotify), this);
}

void AddressAndTitle::Detach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  g_signal_handlers_disconnect_by_data(view, this);
}

void AddressAndTitle::ReportAddressIfUntitled() {
  QUILLO_REQUIRE_UI_THREAD();
  // The engine hands a page's title to this side from a task of its own, which may come after
  // the load has finished; the page itself knows at once. So the page is asked for its title
  // (in the layer's own script world, which shares the document), and its address is shown
  // only when it has none.
  WebKitWebView* view = m_browser.View();
  const gchar* uri = webkit_web_view_get_uri(view);
  // The browser is held until the answer comes, so this room is still there then.
  struct Asked {
    AddressAndTitle* room;
    CefRefPtr<CefBrowser> hold;
    std::string uri;
  };
  auto* asked = new Asked{this, m_browser.Browser(), uri ? uri : ""};
  webkit_web_view_run_javascript_in_world(
      view, "document.title", "quillo", nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Asked> asked(static_cast<Asked*>(data));
        auto* view = WEBKIT_WEB_VIEW(source);
        WebKitJavascriptResult* value =
            webkit_web_view_run_javascript_in_world_finish(view, result, nullptr);
        bool pageHasTitle = false;
        if (value) {
          JSCValue* js = webkit_javascript_result_get_js_value(value);
          if (jsc_value_is_string(js)) {
            gchar* text = jsc_value_to_string(js);
            pageHasTitle = text != nullptr && *text != '\0';
            g_free(text);
          }
          webkit_javascript_result_unref(value);
        }
        BrowserSide& browser = asked->room->m_browser;
        const gchar* title = webkit_web_view_get_title(view);
        const gchar* now = webkit_web_view_get_uri(view);
        if (pageHasTitle || browser.ViewGone() || browser.State().isLoading.load() ||
            (title != nullptr && *title != '\0') || asked->uri != (now ? now : ""))
          return;
        ReportTitle(browser, view);
      },
      asked);
}

void AddressAndTitle::TitleChanged() {
  QUILLO_REQUIRE_UI_THREAD();
  const gchar* title = webkit_web_view_get_title(m_browser.View());
  // The engine empties the title when a new document starts; the new page's
  // own title, or its address once it has loaded, follows.
  if ((title == nullptr || *title == '\0') && m_browser.State().isLoading.load()) return;
  ReportTitle(m_browser, m_browser.View());
}

void AddressAndTitle::UriChanged() {
  QUILLO_REQUIRE_UI_THREAD();
  const gchar* uri = webkit_web_view_get_uri(m_browser.View());
  m_browser.MainFrame().SetURL(ToU16(uri));
  if (CefRefPtr<CefDisplayHandler> display = m_browser.Client().GetDisplayHandler())
    display->OnAddressChange(m_browser.Browser(), &m_browser.MainFrame(),
                             CefString(uri ? uri : ""));
}

}  // namespace quillo::engine
