// The title a browser shows for a page that names none: its address, written
// the way Chromium writes it on a tab ("127.0.0.1:8080/a" for
// "http://127.0.0.1:8080/a", the file name for a file: URL, other addresses as
// they stand).
#pragma once

#include <string>

namespace quillo::engine {

std::string DisplayTitleForUrl(const std::string& url);

}  // namespace quillo::engine
