#pragma once

// The text an element holds around its child objects. Gecko and LibreOffice keep
// a paragraph's words in its Text interface, with one U+FFFC standing for each
// child object, and create no objects for the words themselves; the reader sees
// them as static-text children in text order.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zoba::platform::linux_backend::atspi {

// A run of text, or (with `child`) the place of the next child object.
struct TextPiece {
  bool child = false;
  std::string run;
  friend bool operator==(const TextPiece&, const TextPiece&) = default;
};

// The pieces of `text` (UTF-8) in order: each maximal run between U+FFFC
// characters that is not white space alone, and one child piece per U+FFFC.
// Absent when the text holds nothing but U+FFFC characters.
std::optional<std::vector<TextPiece>> textRuns(std::string_view text);

// `text` without its U+FFFC characters.
std::string withoutObjects(std::string_view text);

// The path of the `index`th run of the element at `parentPath`, and back. Real
// object paths never hold '#'.
// The last `maxRows` lines of a terminal's text without the blank lines below the
// prompt: a terminal whose Text holds its scroll-back gives no more than a screen.
std::string terminalRows(std::string_view text, std::size_t maxRows);

std::string runPath(const std::string& parentPath, std::size_t index);
bool isRunPath(std::string_view path);

}  // namespace zoba::platform::linux_backend::atspi
