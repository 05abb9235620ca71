// The focused-editable notice end to end: clicks into fields of several kinds on a scrolled page
// (a text input, an email input and a tel input with their inputmode, a password, a long
// textarea, a contenteditable element, and a button, which is not editable), at device scales 1
// and 2, and the view's own focus going and coming. Every field of every notice is checked: the
// sequence of gains and losses, the kind, the input mode, the rectangle in memory pixels, and the
// text around the caret against the page's own value and caret.
#include <algorithm>
#include <string>
#include <vector>

#include "support/views_fixture.h"

namespace quillo_test {
namespace {

struct Field {
  const char* id;
  const char* kind;        // the notice's detail
  const char* mode;        // its input_mode
  int top, width, height;  // CSS pixels; every field is at left 20
};

// Laid out from y = 150 on a page scrolled by 100 CSS pixels.
const Field kFields[] = {
    {"t", "text", "", 150, 200, 30},       {"e", "email", "email", 200, 200, 30},
    {"n", "tel", "numeric", 250, 200, 30}, {"p", "password", "", 300, 200, 30},
    {"a", "textarea", "", 350, 300, 60},   {"c", "contenteditable", "", 430, 200, 30},
};
constexpr int kScroll = 100;
constexpr int kButtonTop = 480;

// The textarea's value: 1600 characters with an emoji (two UTF-16 units) every 40th.
std::string LongText() {
  std::string text;
  for (int i = 0; i < 1600; ++i)
    text += i % 40 == 39 ? "\xF0\x9F\x98\x80" : std::string(1, char('a' + i % 26));
  return text;
}

std::string Page() {
  std::string page =
      "<!doctype html><body style='margin:0;height:3000px'><style>"
      "input, textarea, div, button { position: absolute; left: 20px; box-sizing: border-box;"
      " margin: 0 } textarea { font: 4px monospace; resize: none }</style>";
  auto style = [](const Field& f) {
    return " style='top:" + std::to_string(f.top) + "px;width:" + std::to_string(f.width) +
           "px;height:" + std::to_string(f.height) + "px'";
  };
  page += "<input id=t type=text value='hello world'" + style(kFields[0]) + ">";
  page += "<input id=e type=email inputmode=email value='me@example.org'" + style(kFields[1]) + ">";
  page += "<input id=n type=tel inputmode=numeric value='12345'" + style(kFields[2]) + ">";
  page += "<input id=p type=password value='secret'" + style(kFields[3]) + ">";
  page += "<textarea id=a" + style(kFields[4]) + ">" + LongText() + "</textarea>";
  page += "<div id=c contenteditable" + style(kFields[5]) + ">rich <b>text</b> here</div>";
  page += "<button id=b style='top:" + std::to_string(kButtonTop) +
          "px;width:100px;height:30px'>no</button><title>fields</title>";
  return page;
}

// The code points of UTF-8 text.
std::vector<uint32_t> CodePoints(const std::string& text) {
  std::vector<uint32_t> out;
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    uint32_t code = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n && i + k < text.size(); ++k)
      code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    out.push_back(code);
    i += n;
  }
  return out;
}

// The code point index of UTF-16 offset units in text.
size_t CodePointAt(const std::vector<uint32_t>& text, size_t units) {
  size_t i = 0;
  for (size_t seen = 0; i < text.size() && seen < units; ++i) seen += text[i] > 0xFFFF ? 2 : 1;
  return i;
}

class EditableFields {
 public:
  EditableFields(ViewsHost& host, const ViewsApi& api, ViewMemory& memory, double scale)
      : host_(host), api_(api), scale_(scale) {
    quillo_view_config config = ViewsHost::ConfigFor(memory);
    config.device_scale = scale;
    view_ = host.CreateHtml(config, Page());
  }

  quillo_view* view() const { return view_; }

  // Runs script and returns its SCRIPT_RESULT text.
  std::string Eval(const std::string& script) {
    const uint64_t id = ++evals_;
    EXPECT_EQ(api_.quillo_view_eval(view_, script.c_str(), id), QUILLO_OK);
    std::string result;
    EXPECT_TRUE(host_.PumpUntil(
        [&] {
          for (const ViewNotice& n : host_.Notices(view_))
            if (n.kind == QUILLO_NOTICE_SCRIPT_RESULT && n.id == id) {
              result = n.text;
              return true;
            }
          return false;
        },
        "the result of " + script));
    return result;
  }

  void Click(int cssX, int cssY) {
    const int x = static_cast<int>(cssX * scale_), y = static_cast<int>(cssY * scale_);
    ASSERT_EQ(api_.quillo_view_mouse_button(view_, QUILLO_BUTTON_LEFT, 1, x, y, 1, 0), QUILLO_OK);
    ASSERT_EQ(api_.quillo_view_mouse_button(view_, QUILLO_BUTTON_LEFT, 0, x, y, 1, 0), QUILLO_OK);
  }
  void ClickInto(const Field& f) { Click(20 + f.width / 2, f.top - kScroll + f.height / 2); }

  std::vector<ViewNotice> Editables() {
    std::vector<ViewNotice> out;
    for (const ViewNotice& n : host_.Notices(view_))
      if (n.kind == QUILLO_NOTICE_EDITABLE) out.push_back(n);
    return out;
  }
  ::testing::AssertionResult WaitForEditables(size_t count) {
    return host_.PumpUntil([&] { return Editables().size() >= count; },
                           std::to_string(count) + " EDITABLE notices");
  }

  // The notice's rectangle is the field's, in memory pixels.
  void ExpectRect(const ViewNotice& n, const Field& f) {
    EXPECT_EQ(n.rect.x, static_cast<int>(20 * scale_)) << Describe(n);
    EXPECT_EQ(n.rect.y, static_cast<int>((f.top - kScroll) * scale_)) << Describe(n);
    EXPECT_EQ(n.rect.width, static_cast<int>(f.width * scale_)) << Describe(n);
    EXPECT_EQ(n.rect.height, static_cast<int>(f.height * scale_)) << Describe(n);
  }

  // The notice's text is the part of value around the caret at UTF-16 offset caretUnits, with
  // id the caret's place in it, reaching at least `least` characters either way where value has
  // them.
  void ExpectAround(const ViewNotice& n, const std::string& value, size_t caretUnits,
                    size_t least) {
    const std::vector<uint32_t> all = CodePoints(value);
    const std::vector<uint32_t> part = CodePoints(n.text);
    const size_t caret = CodePointAt(all, caretUnits);
    ASSERT_LE(n.id, part.size()) << Describe(n);
    ASSERT_LE(n.id, caret) << Describe(n);
    const size_t start = caret - n.id;
    ASSERT_LE(start + part.size(), all.size()) << Describe(n);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), all.begin() + static_cast<long>(start)))
        << "not the value's text around the caret: " << Describe(n);
    EXPECT_GE(n.id, std::min(caret, least)) << Describe(n);
    EXPECT_GE(part.size() - n.id, std::min(all.size() - caret, least)) << Describe(n);
  }

 private:
  ViewsHost& host_;
  const ViewsApi& api_;
  const double scale_;
  quillo_view* view_ = nullptr;
  uint64_t evals_ = 0;
};

void ClickThroughTheFields(ViewsHost& host, const ViewsApi& api, ViewMemory& m, double scale) {
  EditableFields page(host, api, m, scale);
  quillo_view* view = page.view();
  ASSERT_TRUE(view);
  ASSERT_TRUE(host.WaitForTitle(view, "fields"));
  ASSERT_TRUE(host.WaitFor(view, QUILLO_NOTICE_READY));
  ASSERT_EQ(api.quillo_view_set_focus(view, 1), QUILLO_OK);
  EXPECT_EQ(page.Eval("scrollTo(0, " + std::to_string(kScroll) + "); scrollY"),
            std::to_string(kScroll));

  // Each field in turn: its gain, then (at the next click) its loss.
  size_t expected = 0;
  for (const Field& f : kFields) {
    SCOPED_TRACE(f.id);
    page.ClickInto(f);
    expected += expected == 0 ? 1 : 2;
    ASSERT_TRUE(page.WaitForEditables(expected));
    const std::vector<ViewNotice> got = page.Editables();
    ASSERT_EQ(got.size(), expected);
    const ViewNotice& gained = got.back();
    EXPECT_EQ(gained.code, 1) << Describe(gained);
    EXPECT_EQ(gained.detail, f.kind) << Describe(gained);
    EXPECT_EQ(gained.inputMode, f.mode) << Describe(gained);
    page.ExpectRect(gained, f);
    if (expected > 1) {
      const ViewNotice& lost = got[got.size() - 2];
      EXPECT_EQ(lost.code, 0) << Describe(lost);
      EXPECT_TRUE(lost.text.empty()) << Describe(lost);
    }
    const std::string kind = f.kind;
    if (kind == "password") {
      EXPECT_EQ(gained.text, "") << "a password's text reached the host";
      EXPECT_EQ(gained.id, 0u);
    } else if (kind == "email") {
      // No caret in an email field's API: the text whole, the caret at its end.
      EXPECT_EQ(gained.text, "me@example.org");
      EXPECT_EQ(gained.id, 14u);
    } else if (kind == "contenteditable") {
      EXPECT_EQ(gained.text, "rich text here");
      EXPECT_LE(gained.id, 14u);
    } else {
      const std::string value = kind == "text"  ? "hello world"
                                : kind == "tel" ? "12345"
                                                : LongText();
      const size_t caret =
          static_cast<size_t>(std::stoul(page.Eval(std::string(f.id) + ".selectionEnd")));
      page.ExpectAround(gained, value, caret, kind == "textarea" ? 200 : 1000);
      if (kind == "textarea") {
        // Clicked in its middle: the text is cut on both sides.
        EXPECT_LT(CodePoints(gained.text).size(), CodePoints(value).size()) << Describe(gained);
        EXPECT_LE(gained.text.size(), static_cast<size_t>(QUILLO_MAX_EDITABLE_TEXT));
      }
    }
  }
  // Onto the button: the contenteditable's loss alone.
  page.Click(20 + 50, kButtonTop - kScroll + 15);
  ASSERT_TRUE(page.WaitForEditables(expected + 1));
  host.PumpFor(std::chrono::milliseconds(300));
  std::vector<ViewNotice> got = page.Editables();
  ASSERT_EQ(got.size(), expected + 1) << "a button is not editable";
  EXPECT_EQ(got.back().code, 0);
  EXPECT_EQ(got.back().detail, "contenteditable");
  page.ExpectRect(got.back(), kFields[5]);

  // Back into the text field; the view's focus going and coming loses and gains it again.
  page.ClickInto(kFields[0]);
  ASSERT_TRUE(page.WaitForEditables(expected + 2));
  ASSERT_EQ(api.quillo_view_set_focus(view, 0), QUILLO_OK);
  ASSERT_TRUE(page.WaitForEditables(expected + 3));
  ASSERT_EQ(api.quillo_view_set_focus(view, 1), QUILLO_OK);
  ASSERT_TRUE(page.WaitForEditables(expected + 4));
  host.PumpFor(std::chrono::milliseconds(300));
  got = page.Editables();
  ASSERT_EQ(got.size(), expected + 4);
  for (size_t i = expected + 1; i < got.size(); ++i) {
    EXPECT_EQ(got[i].code, i % 2 == expected % 2 ? 0 : 1) << Describe(got[i]);
    EXPECT_EQ(got[i].detail, "text") << Describe(got[i]);
    page.ExpectRect(got[i], kFields[0]);
  }
  EXPECT_EQ(got.back().code, 1);
  EXPECT_EQ(got.back().text, "hello world");

  // A new page: the field's focus goes with the old one.
  const size_t before = got.size();
  ASSERT_EQ(api.quillo_view_load_html(view, "<title>next</title>"), QUILLO_OK);
  ASSERT_TRUE(page.WaitForEditables(before + 1));
  EXPECT_EQ(page.Editables().back().code, 0);
  EXPECT_TRUE(host.violations().empty());
}

TEST_F(ViewsTest, EditableFieldsAreToldWithKindModeRectAndTextAtScale1) {
  ClickThroughTheFields(host(), api(), NewMemory(400, 560), 1.0);
}

TEST_F(ViewsTest, EditableFieldsAreToldWithKindModeRectAndTextAtScale2) {
  ClickThroughTheFields(host(), api(), NewMemory(800, 1120), 2.0);
}

}  // namespace
}  // namespace quillo_test
