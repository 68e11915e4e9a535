#include "Platform/linux/x11/WindowText.h"

#include <glib.h>

#include "Platform/linux/handles/GLibPtr.h"

namespace zoba::platform::linux_backend {

namespace {
// Properties may carry trailing NULs (lists of texts); the first text counts.
std::string_view firstText(std::string_view bytes) { return bytes.substr(0, bytes.find('\0')); }
}  // namespace

std::string utf8FromUtf8Property(std::string_view bytes) {
  bytes = firstText(bytes);
  GCharPtr valid(g_utf8_make_valid(bytes.data(), static_cast<gssize>(bytes.size())));
  return valid ? std::string(valid.get()) : std::string();
}

std::string utf8FromTextProperty(std::string_view bytes, bool utf8) {
  bytes = firstText(bytes);
  if (utf8 || g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr)) {
    return utf8FromUtf8Property(bytes);
  }
  std::string text;
  text.reserve(bytes.size() * 2);
  for (unsigned char byte : bytes) {
    if (byte < 0x80) {
      text.push_back(static_cast<char>(byte));
    } else {
      text.push_back(static_cast<char>(0xC0 | (byte >> 6)));
      text.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
  return text;
}

}  // namespace zoba::platform::linux_backend
