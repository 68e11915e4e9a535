#pragma once

// Window-property texts as UTF-8.

#include <string>
#include <string_view>

namespace zoba::platform::linux_backend {

// A UTF8_STRING property; invalid bytes become U+FFFD.
std::string utf8FromUtf8Property(std::string_view bytes);
// A STRING property or, when `utf8`, a UTF8_STRING. STRING is Latin-1 by
// definition, but many programs put UTF-8 there, so valid UTF-8 is read as such.
// COMPOUND_TEXT is read the same way, which covers its ASCII texts.
std::string utf8FromTextProperty(std::string_view bytes, bool utf8);

}  // namespace zoba::platform::linux_backend
