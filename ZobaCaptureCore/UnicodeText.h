#pragma once

// The Unicode rules the accessibility outline is stated in, on UTF-8 text, through ICU.
// Internal to the core library.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct UText;

namespace zoba::UnicodeText {

inline bool isAscii(std::string_view text) {
  unsigned char any = 0;
  for (const char c : text) any |= static_cast<unsigned char>(c);
  return any < 0x80;
}

// Tab, line feed, vertical tab, form feed, carriage return and space: every ASCII White_Space character.
inline bool isAsciiWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool isWhiteSpace(char32_t scalar);

// `text` itself when it is well-formed UTF-8; otherwise a copy in `storage` in which every ill-formed
// sequence (each maximal subpart) became U+FFFD.
std::string_view wellFormed(std::string_view text, std::string& storage);

// The scalar starting at byte `offset` of well-formed text.
char32_t scalarAt(std::string_view wellFormedText, std::size_t offset);

// Counts of well-formed text, in one pass over its bytes.
std::int64_t scalarCount(std::string_view wellFormedText);
std::int64_t utf16Length(std::string_view wellFormedText);

// Canonical equivalence (a precomposed letter equals the letter with a combining mark). Ill-formed
// bytes read as U+FFFD.
bool canonicallyEqual(std::string_view a, std::string_view b);

// The locale-independent default lower-case mapping of `text`, appended to `out`.
void appendLowercase(std::string& out, std::string_view text);

// Extended grapheme cluster boundaries of well-formed UTF-8 text. Building an ICU break iterator is
// expensive, so each thread keeps one (see `forThisThread`); a cursor walks one text at a time.
class GraphemeCursor {
 public:
  static GraphemeCursor& forThisThread();

  GraphemeCursor();
  ~GraphemeCursor();
  GraphemeCursor(const GraphemeCursor&) = delete;
  GraphemeCursor& operator=(const GraphemeCursor&) = delete;

  // Starts at the beginning of `wellFormedText`, which must outlive the walk.
  void reset(std::string_view wellFormedText);
  // The byte offset of the next boundary after the current one, or npos past the end.
  std::size_t next();

  static constexpr std::size_t npos = std::string_view::npos;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zoba::UnicodeText
