#include "ZobaCaptureCore/Characters.h"

#include "ZobaCaptureCore/UnicodeText.h"

namespace zoba::Characters {

namespace {
// Calls `boundary(offset)` after each character; stops when it returns false.
template <typename Boundary>
void walk(std::string_view wellFormedText, Boundary boundary) {
  if (UnicodeText::isAscii(wellFormedText)) {
    // ASCII clusters are single bytes, except CR LF.
    for (std::size_t i = 0; i < wellFormedText.size(); ++i) {
      if (wellFormedText[i] == '\r' && i + 1 < wellFormedText.size() && wellFormedText[i + 1] == '\n') ++i;
      if (!boundary(i + 1)) return;
    }
    return;
  }
  auto& cursor = UnicodeText::GraphemeCursor::forThisThread();
  cursor.reset(wellFormedText);
  for (auto offset = cursor.next(); offset != UnicodeText::GraphemeCursor::npos; offset = cursor.next()) {
    if (offset == 0) continue;
    if (!boundary(offset)) return;
  }
}
}  // namespace

std::int64_t count(std::string_view text) {
  std::string storage;
  std::int64_t characters = 0;
  walk(UnicodeText::wellFormed(text, storage), [&](std::size_t) {
    ++characters;
    return true;
  });
  return characters;
}

std::string prefix(std::string_view text, std::int64_t limit) {
  std::string storage;
  const auto wellFormedText = UnicodeText::wellFormed(text, storage);
  if (limit <= 0) return {};
  std::int64_t characters = 0;
  std::size_t end = wellFormedText.size();
  walk(wellFormedText, [&](std::size_t offset) {
    if (++characters < limit) return true;
    end = offset;
    return false;
  });
  return std::string(wellFormedText.substr(0, end));
}

}  // namespace zoba::Characters
