// Random records through the formatter: it must never crash, must write valid
// UTF-8, and a non-empty text must stay below the limit in UTF-16 code units.
#include <unicode/utf8.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ZobaCaptureCore/AXTreeFormatter.h"

namespace {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return offset_ >= size_; }
  std::uint8_t byte() { return empty() ? 0 : data_[offset_++]; }
  std::string text() {
    const std::size_t length = byte() % 24;
    std::string out;
    for (std::size_t i = 0; i < length && !empty(); ++i) out.push_back(static_cast<char>(byte()));
    return out;
  }
  std::optional<std::string> optionalText() {
    if (byte() % 3 == 0) return std::nullopt;
    return text();
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
};

// UTF-16 length of valid UTF-8; aborts on invalid UTF-8.
std::int64_t utf16Length(const std::string& text) {
  std::int64_t units = 0;
  std::int32_t i = 0;
  const auto length = static_cast<std::int32_t>(text.size());
  while (i < length) {
    UChar32 c;
    U8_NEXT(text.data(), i, length, c);
    if (c < 0) std::abort();
    units += U16_LENGTH(c);
  }
  return units;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input(data, size);
  const std::int64_t limit = static_cast<std::int64_t>(input.byte()) * 4 - 40;
  std::vector<zoba::AXNodeRecord> nodes;
  while (!input.empty() && nodes.size() < 200) {
    zoba::AXNodeRecord node;
    node.depth = static_cast<std::int8_t>(input.byte()) % 8;
    node.role = input.text();
    node.roleDescription = input.optionalText();
    node.title = input.optionalText();
    node.value = input.optionalText();
    node.description = input.optionalText();
    node.placeholder = input.optionalText();
    node.url = input.optionalText();
    const std::uint8_t flags = input.byte();
    node.settable = flags & 1;
    node.selected = flags & 2;
    node.focused = flags & 4;
    node.onScreen = !(flags & 8);
    nodes.push_back(std::move(node));
  }
  const auto outline = zoba::AXTreeFormatter::format(nodes, limit);
  const std::int64_t units = utf16Length(outline.text);
  if (!outline.text.empty() && units > limit - 1) std::abort();
  for (const auto& node : nodes) utf16Length(zoba::AXTreeFormatter::describe(node));
  return 0;
}
