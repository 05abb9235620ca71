// quillo-parity-demo: prints the project's demo page (the one quillo-shot --demo shows), so that
// the parity check can show it from a file in both systems.
#include <cstdio>

#include "demo_page.h"

int main() {
  const std::string html = quillo_tools::DemoPageHtml();
  std::fwrite(html.data(), 1, html.size(), stdout);
  return 0;
}
