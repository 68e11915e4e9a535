// Base64 through GLib, written straight into the result: a screenshot's text is
// megabytes, so it is never copied out of a GLib buffer.
#include <glib.h>

#include "Platform/Image.h"

namespace zoba::platform {

std::string base64Encode(std::span<const std::uint8_t> bytes) {
  std::string text;
  // GLib's bound for one step plus the closing bytes.
  text.resize((bytes.size() / 3 + 1) * 4 + 4);
  gint state = 0, save = 0;
  gsize length = g_base64_encode_step(bytes.data(), bytes.size(), FALSE, text.data(), &state, &save);
  length += g_base64_encode_close(FALSE, text.data() + length, &state, &save);
  text.resize(length);
  return text;
}

std::optional<Bytes> base64Decode(std::string_view text) {
  // GLib skips characters outside the alphabet; only strict, padded text counts.
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool letter =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
    if (c == '=') {
      if (i + 2 < text.size()) return std::nullopt;
      ++padding;
    } else if (!letter || padding > 0) {
      return std::nullopt;
    }
  }
  if (text.empty()) return Bytes{};
  Bytes bytes(text.size() / 4 * 3);
  gint state = 0;
  guint save = 0;
  bytes.resize(g_base64_decode_step(text.data(), text.size(), bytes.data(), &state, &save));
  return bytes;
}

}  // namespace zoba::platform
