#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>

#include "ZobaCaptureCore/AXNodeRecord.h"

namespace zoba::AXTreeFormatter {

struct Outline {
  std::string text;  // lines joined by '\n', no trailing line feed
  bool truncated = false;
  friend bool operator==(const Outline&, const Outline&) = default;
};

// Roles that always get a line, whatever texts they carry.
const std::set<std::string, std::less<>>& structuralRoles();

// The indented outline within `limit` UTF-16 code units, then the focus line. Text-only records that
// repeat the words of their nearest ancestor with words are left out. When not every line fits, the
// lines of records on screen are kept before those of records off screen, in tree order.
Outline format(std::span<const AXNodeRecord> nodes, std::int64_t limit);
// One record's line, without indentation.
std::string describe(const AXNodeRecord& node);
bool shouldPresent(const AXNodeRecord& node);
// Whitespace collapsed to single spaces, capped at `limit` grapheme clusters plus "…".
std::string clean(const std::optional<std::string>& text, std::int64_t limit);

}  // namespace zoba::AXTreeFormatter
