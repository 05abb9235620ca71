// Encoders. Pure functions, any thread.
#pragma once

#include <cstddef>

#include "cef_string.h"

// Standard base64 (with padding) of data_size bytes.
CefString CefBase64Encode(const void* data, size_t data_size);

// Percent-encodes the UTF-8 bytes of text, leaving only letters, digits and
// -_.~!*'() as they are; with use_plus, spaces become "+".
CefString CefURIEncode(const CefString& text, bool use_plus);
