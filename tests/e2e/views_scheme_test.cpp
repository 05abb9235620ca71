// Pages the host serves from its own memory through a scheme of its own, end to end: a page
// with relative links to a style sheet, an image, a module script that imports another and
// fetches JSON, all answered by the host (the page itself in pieces over several pumps), one
// request refused, and the picture the page draws from them.
#include <map>
#include <set>

#include "support/views_fixture.h"

namespace quillo_test {
namespace {

struct Asset {
  const char* mime;
  std::string body;
};

// The host's "archive", by URL. missing.png is not in it: the host refuses it.
std::map<std::string, Asset> Archive() {
  return {
      {"app://game/ui/index.html",
       {"text/html",
        "<!doctype html><html><head><title>loading</title>"
        "<link rel=stylesheet href='style.css'>"
        "<script type=module src='js/main.js'></script></head>"
        "<body><img id=pic src='../img/red.svg' width=50 height=50><div id=box></div>"
        "</body></html>"}},
      {"app://game/ui/style.css",
       {"text/css",
        "html,body{margin:0;background:rgb(0,0,255)}"
        "#pic{position:absolute;left:0;top:0}"}},
      {"app://game/img/red.svg",
       {"image/svg+xml",
        "<svg xmlns='http://www.w3.org/2000/svg' width='50' height='50'>"
        "<rect width='50' height='50' fill='rgb(255,0,0)'/></svg>"}},
      {"app://game/ui/js/main.js",
       {"text/javascript",
        "import {seven} from './lib.js';\n"
        "const data = await (await fetch('data.json')).json();\n"
        "const missing = await new Promise(done => {\n"
        "  const image = new Image();\n"
        "  image.onload = () => done('loaded');\n"
        "  image.onerror = () => done('refused');\n"
        "  image.src = 'missing.png';\n"
        "});\n"
        "const box = document.getElementById('box');\n"
        "box.style.cssText = 'position:absolute;left:100px;top:0;width:50px;height:50px;"
        "background:' + data.color;\n"
        "requestAnimationFrame(() => requestAnimationFrame(() => {\n"
        "  document.title = ['ok', seven, data.n, missing, isSecureContext].join(' ');\n"
        "}));\n"}},
      {"app://game/ui/js/lib.js", {"text/javascript", "export const seven = 7;\n"}},
      {"app://game/ui/data.json", {"application/json", "{\"n\": 42, \"color\": \"rgb(0,255,0)\"}"}},
  };
}

TEST_F(ViewsTest, HostServedPagesWorkAsFromAWebServer) {
  // Careless registrations first: none of them registers anything.
  EXPECT_EQ(api().quillo_register_scheme(nullptr), QUILLO_ERROR_NULL_ARGUMENT);
  EXPECT_EQ(api().quillo_register_scheme("https"), QUILLO_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(api().quillo_register_scheme("App"), QUILLO_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(api().quillo_register_scheme(""), QUILLO_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(api().quillo_register_scheme("a b"), QUILLO_ERROR_BAD_ARGUMENT);
  ASSERT_EQ(api().quillo_register_scheme("app"), QUILLO_OK);
  EXPECT_EQ(api().quillo_register_scheme("app"), QUILLO_OK);  // again: nothing more

  ViewMemory& m = NewMemory(200, 100);
  quillo_view* view = host().Create(ViewsHost::ConfigFor(m), "app://game/ui/index.html");
  ASSERT_TRUE(view);

  const std::map<std::string, Asset> archive = Archive();
  std::set<std::string> asked;      // the URLs the page asked for
  std::set<uint64_t> seen;          // REQUEST notices answered (or being answered)
  std::vector<std::string> pieces;  // the page itself, one piece a pump
  uint64_t pageRequest = 0;
  bool checkedCareless = false;
  size_t read = 0;
  auto serve = [&] {
    const std::vector<ViewNotice>& notices = host().Notices(view);
    for (; read < notices.size(); ++read) {
      const ViewNotice& n = notices[read];
      if (n.kind != QUILLO_NOTICE_REQUEST || !seen.insert(n.id).second) continue;
      EXPECT_EQ(n.detail, "GET") << n.text;
      asked.insert(n.text);
      auto asset = archive.find(n.text);
      if (asset == archive.end()) {
        EXPECT_EQ(api().quillo_view_respond(view, n.id, 0, nullptr, nullptr, 0, 1), QUILLO_OK);
        EXPECT_EQ(api().quillo_view_respond(view, n.id, 200, "text/plain", "x", 1, 1),
                  QUILLO_ERROR_NOT_FOUND)
            << "a refused request took an answer";
        continue;
      }
      const std::string& body = asset->second.body;
      if (n.text == "app://game/ui/index.html") {
        // Careless answers leave the request open; then the page comes in three pieces, the
        // first now with the head of the response.
        EXPECT_EQ(api().quillo_view_respond(view, n.id, 42, "text/html", nullptr, 0, 0),
                  QUILLO_ERROR_BAD_ARGUMENT);
        EXPECT_EQ(api().quillo_view_respond(view, n.id, 200, "text/html", nullptr, 5, 0),
                  QUILLO_ERROR_NULL_ARGUMENT);
        EXPECT_EQ(api().quillo_view_respond(view, n.id, 200, "text/\x01", "x", 1, 0),
                  QUILLO_ERROR_BAD_ARGUMENT);
        checkedCareless = true;
        pageRequest = n.id;
        const size_t third = body.size() / 3;
        EXPECT_EQ(
            api().quillo_view_respond(view, n.id, 200, asset->second.mime, body.data(), third, 0),
            QUILLO_OK);
        pieces = {body.substr(third, third), body.substr(2 * third)};
        continue;
      }
      EXPECT_EQ(api().quillo_view_respond(view, n.id, 200, asset->second.mime, body.data(),
                                          body.size(), 1),
                QUILLO_OK)
          << n.text;
    }
    if (!pieces.empty()) {
      const std::string piece = pieces.front();
      pieces.erase(pieces.begin());
      // Status and type of later answers are not read.
      EXPECT_EQ(api().quillo_view_respond(view, pageRequest, 0, nullptr, piece.data(), piece.size(),
                                          pieces.empty() ? 1 : 0),
                QUILLO_OK);
    }
  };
  const std::string title = "ok 7 42 refused true";
  ASSERT_TRUE(host().PumpUntil(
      [&] {
        serve();
        for (const ViewNotice& n : host().Notices(view))
          if (n.kind == QUILLO_NOTICE_TITLE && n.text == title) return true;
        return false;
      },
      "the page's title from its module script"));
  EXPECT_TRUE(checkedCareless);

  // Every relative link was resolved against the page's own address, and asked for once.
  const std::set<std::string> expected = {"app://game/ui/index.html", "app://game/ui/style.css",
                                          "app://game/img/red.svg",   "app://game/ui/js/main.js",
                                          "app://game/ui/js/lib.js",  "app://game/ui/data.json",
                                          "app://game/ui/missing.png"};
  EXPECT_EQ(asked, expected);
  EXPECT_EQ(seen.size(), expected.size()) << "a resource was asked for more than once";
  // Ended requests and made-up ids take no answer.
  EXPECT_EQ(api().quillo_view_respond(view, pageRequest, 200, nullptr, nullptr, 0, 1),
            QUILLO_ERROR_NOT_FOUND);
  EXPECT_EQ(api().quillo_view_respond(view, 987654, 200, nullptr, nullptr, 0, 1),
            QUILLO_ERROR_NOT_FOUND);

  // The picture: the style sheet's blue, the image's red, the fetched colour's green.
  const std::array<uint8_t, 4> red{255, 0, 0, 255}, green{0, 255, 0, 255}, blue{0, 0, 255, 255};
  ASSERT_TRUE(host().PumpUntil(
      [&] {
        return NearRgba(m.Rgba(10, 10), red) && NearRgba(m.Rgba(120, 10), green) &&
               NearRgba(m.Rgba(170, 80), blue);
      },
      "red, green and blue where the page puts them"))
      << DescribeRgba(m.Rgba(10, 10)) << " " << DescribeRgba(m.Rgba(120, 10)) << " "
      << DescribeRgba(m.Rgba(170, 80));
  EXPECT_TRUE(m.Intact());
}

}  // namespace
}  // namespace quillo_test
