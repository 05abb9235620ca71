// The page quillo-shot shows when it is given no URL: text (with a line of each major script
// and colour emoji), exact colours, an image from a data: URL, form controls and a running CSS
// animation, all inside the page (no network).
#ifndef QUILLO_TOOLS_DEMO_PAGE_H
#define QUILLO_TOOLS_DEMO_PAGE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillo_tools {

// Standard base64 (RFC 4648) with padding, used to turn the picture below into a data: URL.
inline std::string Base64Encode(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t n = static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) << 16 |
                       static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 1])) << 8 |
                       static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 2]));
    out += kAlphabet[n >> 18 & 63];
    out += kAlphabet[n >> 12 & 63];
    out += kAlphabet[n >> 6 & 63];
    out += kAlphabet[n & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t n = static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) << 16;
    if (rest == 2) n |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 1])) << 8;
    out += kAlphabet[n >> 18 & 63];
    out += kAlphabet[n >> 12 & 63];
    out += rest == 2 ? kAlphabet[n >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

// A small landscape: sky gradient, sun, hills and a framed border. Shown through an <img>
// whose source is this picture as a base64 data: URL.
inline constexpr std::string_view kDemoPicture =
    R"SVG(<svg xmlns="http://www.w3.org/2000/svg" width="200" height="130" viewBox="0 0 200 130">
<defs><linearGradient id="sky" x1="0" y1="0" x2="0" y2="1">
<stop offset="0" stop-color="#3a7bd5"/><stop offset="1" stop-color="#cfe8ff"/></linearGradient></defs>
<rect width="200" height="130" fill="url(#sky)"/>
<circle cx="150" cy="38" r="20" fill="#ffd23f"/>
<path d="M0 100 Q50 60 100 95 T200 85 V130 H0 Z" fill="#2e8b57"/>
<path d="M0 115 Q60 90 120 112 T200 108 V130 H0 Z" fill="#1f6b40"/>
<rect x="1.5" y="1.5" width="197" height="127" fill="none" stroke="#222" stroke-width="3"/>
</svg>)SVG";

// The page's markup; the token @PICTURE@ is replaced by the picture's data: URL.
inline constexpr std::string_view kDemoTemplate = R"HTML(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>quillo-shot demo page</title>
<style>
  html, body { margin: 0; background: #f6f3ec; color: #1d1d1d; }
  body { font: 16px/1.45 sans-serif; }
  main { padding: 20px 32px; }
  h1 { margin: 0 0 6px; font-size: 34px; color: #14365d; }
  p { margin: 6px 0; max-width: 60em; }
  .row { display: flex; flex-wrap: wrap; gap: 28px; align-items: flex-start; margin-top: 14px; }
  .swatches { display: grid; grid-template-columns: repeat(5, 84px); gap: 26px 10px; }
  .swatch { height: 56px; border: 1px solid #0004; position: relative; }
  .swatch span { position: absolute; left: 0; right: 0; bottom: -18px; text-align: center;
                 font: 11px monospace; color: #333; }
  figure { margin: 0; }
  figcaption { font-size: 13px; color: #555; }
  form { display: grid; grid-template-columns: auto 220px; gap: 8px 12px; align-items: center;
         padding: 12px 16px; background: #fff; border: 1px solid #ccc; border-radius: 6px; }
  input[type=text], select { font: inherit; padding: 4px 6px; }
  .anim { display: flex; gap: 24px; align-items: center; margin-top: 30px; }
  .spinner { width: 44px; height: 44px; border-radius: 50%; border: 7px solid #d7d7d7;
             border-top-color: #e4572e; animation: spin 1s linear infinite; }
  .track { width: 260px; height: 14px; background: #ddd; border-radius: 7px; overflow: hidden; }
  .bar { width: 80px; height: 100%; background: #17a398; border-radius: 7px;
         animation: slide 1.6s ease-in-out infinite alternate; }
  @keyframes spin { to { transform: rotate(360deg); } }
  @keyframes slide { from { transform: translateX(0); } to { transform: translateX(180px); } }
  #info { font: 13px monospace; color: #444; margin-top: 16px; }
  .scripts { display: grid; grid-template-columns: repeat(4, auto); gap: 2px 22px;
             justify-content: start; margin-top: 12px; font-size: 15px; }
  .scripts span b { font-weight: normal; color: #666; font-size: 12px; margin-right: 6px; }
</style>
</head>
<body>
<main>
  <h1>quillo-shot</h1>
  <p>This page is built into <b>quillo-shot</b>. It was painted by the web engine straight into
  memory that the program owns, then written out as a PNG. Text comes in <b>bold</b>,
  <i>italic</i>, <u>underlined</u>, <code>monospace</code> and with a <a href="#top">link</a>;
  accents: déjà vu, Ærøskøbing, naïve, €&nbsp;42.</p>
  <div class="scripts">
    <span><b>Chinese</b><span lang="zh-CN">你好，世界</span></span>
    <span><b>Japanese</b><span lang="ja">こんにちは世界</span></span>
    <span><b>Korean</b><span lang="ko">안녕하세요 세계</span></span>
    <span><b>Thai</b><span lang="th">สวัสดีชาวโลก</span></span>
    <span><b>Hindi</b><span lang="hi">नमस्ते दुनिया</span></span>
    <span><b>Arabic</b><span lang="ar" dir="rtl">مرحبا بالعالم</span></span>
    <span><b>Hebrew</b><span lang="he" dir="rtl">שלום עולם</span></span>
    <span><b>Emoji</b>🍎 🌲 🚀 😀 🎉</span>
  </div>

  <div class="row">
    <div>
      <div class="swatches">
        <div class="swatch" style="background:#ff0000"><span>#ff0000</span></div>
        <div class="swatch" style="background:#ff8000"><span>#ff8000</span></div>
        <div class="swatch" style="background:#ffff00"><span>#ffff00</span></div>
        <div class="swatch" style="background:#00ff00"><span>#00ff00</span></div>
        <div class="swatch" style="background:#00ffff"><span>#00ffff</span></div>
        <div class="swatch" style="background:#0000ff"><span>#0000ff</span></div>
        <div class="swatch" style="background:#8000ff"><span>#8000ff</span></div>
        <div class="swatch" style="background:#000000"><span>#000000</span></div>
        <div class="swatch" style="background:#808080"><span>#808080</span></div>
        <div class="swatch" style="background:#ffffff"><span>#ffffff</span></div>
      </div>
    </div>
    <figure>
      <img src="@PICTURE@" width="200" height="130" alt="landscape picture">
      <figcaption>An SVG picture from a data: URL</figcaption>
    </figure>
    <form onsubmit="return false">
      <label for="name">Name</label>
      <input id="name" type="text" value="Ada Lovelace" placeholder="Your name">
      <label for="colour">Colour</label>
      <select id="colour">
        <option>Red</option><option selected>Green</option><option>Blue</option>
      </select>
      <label for="news">Newsletter</label>
      <span><input id="news" type="checkbox" checked> <button type="button">Send</button></span>
    </form>
  </div>

  <div class="anim">
    <div class="spinner" title="spinning"></div>
    <div class="track"><div class="bar"></div></div>
    <span>CSS animations keep running while the page is shown.</span>
  </div>
  <div id="info">viewport: unknown (script did not run)</div>
</main>
<script>
  document.getElementById('info').textContent =
      'viewport: ' + innerWidth + ' x ' + innerHeight + ' px, device pixel ratio ' +
      devicePixelRatio + ', navigator.languages: ' + (navigator.languages || []).join(', ');
</script>
</body>
</html>
)HTML";

// The whole demo page as HTML text.
inline std::string DemoPageHtml() {
  static constexpr std::string_view kToken = "@PICTURE@";
  std::string html(kDemoTemplate);
  const std::string picture = "data:image/svg+xml;base64," + Base64Encode(kDemoPicture);
  const size_t at = html.find(kToken);
  if (at != std::string::npos) html.replace(at, kToken.size(), picture);
  return html;
}

}  // namespace quillo_tools

#endif  // QUILLO_TOOLS_DEMO_PAGE_H
