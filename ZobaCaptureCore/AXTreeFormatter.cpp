#include "ZobaCaptureCore/AXTreeFormatter.h"

#include <algorithm>
#include <vector>

#include "ZobaCaptureCore/UnicodeText.h"

namespace zoba::AXTreeFormatter {

namespace {

using UnicodeText::GraphemeCursor;

constexpr std::string_view ellipsis = "\u2026";
constexpr std::string_view focusPrefix = "The focused UI element is ";

constexpr std::int64_t roleDescriptionCap = 60;
constexpr std::int64_t titleCap = 240;
constexpr std::int64_t descriptionCap = 240;
constexpr std::int64_t valueCap = 500;
constexpr std::int64_t placeholderCap = 240;
constexpr std::int64_t urlCap = 500;

// Pure ASCII has no multi-character clusters but CR LF, and that is a separator, so a character is a
// byte. Returns false, leaving `out` as it was, at the first byte that is not ASCII.
bool appendCleanAscii(std::string& out, std::string_view text, std::int64_t limit) {
  const std::size_t base = out.size();
  bool pendingSpace = false;
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      out.resize(base);
      return false;
    }
    if (UnicodeText::isAsciiWhiteSpace(c)) {
      pendingSpace = out.size() > base;
      continue;
    }
    if (pendingSpace) {
      out += ' ';
      pendingSpace = false;
    }
    out += c;
    // One character past the cap proves the cut; the rest of the text cannot change it.
    if (static_cast<std::int64_t>(out.size() - base) > limit) {
      out.resize(base + static_cast<std::size_t>(limit));
      out += ellipsis;
      return true;
    }
  }
  return true;
}

// Splits at separator clusters of the text as given, then counts and cuts clusters of the joined text:
// a join can merge clusters (a space takes a following combining mark), so the two may differ.
void appendCleanGeneral(std::string& out, std::string_view text, std::int64_t limit) {
  const std::size_t base = out.size();
  GraphemeCursor& cursor = GraphemeCursor::forThisThread();
  cursor.reset(text);
  bool pendingSpace = false;
  std::int64_t pieces = 0;  // clusters copied, plus the spaces put between words
  std::size_t start = 0;
  for (std::size_t end = cursor.next(); end != GraphemeCursor::npos; start = end, end = cursor.next()) {
    if (UnicodeText::isWhiteSpace(UnicodeText::scalarAt(text, start))) {
      pendingSpace = out.size() > base;
      continue;
    }
    if (pendingSpace) {
      out += ' ';
      ++pieces;
      pendingSpace = false;
    }
    out.append(text.substr(start, end - start));
    ++pieces;
    // A joined cluster spans at most three pieces (prepended mark, space, combining mark), so this
    // many pieces already hold more than `limit` characters: the rest of a huge value goes unread.
    if (pieces / 3 > limit) break;
  }

  const std::string_view joined(out.data() + base, out.size() - base);
  if (UnicodeText::scalarCount(joined) <= limit) return;
  cursor.reset(joined);
  std::size_t cut = 0;
  for (std::int64_t n = 0; n < limit; ++n) {
    cut = cursor.next();
    if (cut == GraphemeCursor::npos) return;
  }
  if (cut < joined.size()) {
    out.resize(base + cut);
    out += ellipsis;
  }
}

// Appends clean(text, limit); a negative limit counts as 0.
void appendClean(std::string& out, const std::optional<std::string>& text, std::int64_t limit) {
  if (!text || text->empty()) return;
  limit = std::max<std::int64_t>(limit, 0);
  if (appendCleanAscii(out, *text, limit)) return;
  std::string storage;
  appendCleanGeneral(out, UnicodeText::wellFormed(*text, storage), limit);
}

// Whether some character (cluster) of `text` does not begin with a White_Space scalar.
bool hasNonSeparator(const std::optional<std::string>& text) {
  if (!text) return false;
  bool ascii = true;
  for (const char c : *text) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
    // After ASCII separators every ASCII character starts a cluster.
    if (!UnicodeText::isAsciiWhiteSpace(c)) return true;
  }
  if (ascii) return false;

  std::string storage;
  const std::string_view valid = UnicodeText::wellFormed(*text, storage);
  GraphemeCursor& cursor = GraphemeCursor::forThisThread();
  cursor.reset(valid);
  std::size_t start = 0;
  for (std::size_t end = cursor.next(); end != GraphemeCursor::npos; start = end, end = cursor.next()) {
    if (!UnicodeText::isWhiteSpace(UnicodeText::scalarAt(valid, start))) return true;
  }
  return false;
}

void appendDescription(std::string& out, const AXNodeRecord& node) {
  const std::size_t kindStart = out.size();
  appendClean(out, node.roleDescription, roleDescriptionCap);
  if (out.size() == kindStart) {
    std::string_view role = node.role;
    if (role.starts_with("AX")) role.remove_prefix(2);
    UnicodeText::appendLowercase(out, role);
  }

  if (node.settable || node.selected) {
    out += " (";
    if (node.settable) out += "settable";
    if (node.settable && node.selected) out += ", ";
    if (node.selected) out += "selected";
    out += ')';
  }

  // Each cleaned text is appended in place and taken back when it is empty or repeats an earlier one;
  // offsets, not views, because `out` may reallocate.
  struct Span {
    std::size_t start = 0, size = 0;
  };
  const auto view = [&out](Span s) { return std::string_view(out).substr(s.start, s.size); };
  const auto appendPiece = [&out](std::string_view prefix, const std::optional<std::string>& text,
                                  std::int64_t cap) {
    const std::size_t mark = out.size();
    out += prefix;
    const std::size_t start = out.size();
    appendClean(out, text, cap);
    if (out.size() == start) out.resize(mark);
    return Span{start, out.size() == mark ? 0 : out.size() - start};
  };
  const auto takeBack = [&out](Span& s, std::size_t prefixSize) {
    out.resize(s.start - prefixSize);
    s.size = 0;
  };

  const Span title = appendPiece(" ", node.title, titleCap);

  constexpr std::string_view descriptionPrefix = ", Description: ";
  Span description = appendPiece(descriptionPrefix, node.description, descriptionCap);
  if (description.size && title.size && UnicodeText::canonicallyEqual(view(description), view(title))) {
    takeBack(description, descriptionPrefix.size());
  }

  // A description left out for equalling the title would only repeat the title comparison.
  constexpr std::string_view valuePrefix = ", Value: ";
  Span value = appendPiece(valuePrefix, node.value, valueCap);
  if (value.size && ((title.size && UnicodeText::canonicallyEqual(view(value), view(title))) ||
                     (description.size && UnicodeText::canonicallyEqual(view(value), view(description))))) {
    takeBack(value, valuePrefix.size());
  }

  appendPiece(", Placeholder: ", node.placeholder, placeholderCap);
  appendPiece(", URL: ", node.url, urlCap);
}

}  // namespace

const std::set<std::string, std::less<>>& structuralRoles() {
  static const std::set<std::string, std::less<>> roles{"AXWebArea", "AXToolbar", "AXTabGroup",
                                                        "AXTable",   "AXList",    "AXOutline"};
  return roles;
}

std::string clean(const std::optional<std::string>& text, std::int64_t limit) {
  std::string out;
  appendClean(out, text, limit);
  return out;
}

bool shouldPresent(const AXNodeRecord& node) {
  // A negative depth is outside the walk's contract; it is read as the window's own depth.
  if (node.depth <= 0) return true;
  if (node.focused || node.selected || node.settable) return true;
  if (structuralRoles().contains(node.role)) return true;
  return hasNonSeparator(node.title) || hasNonSeparator(node.value) || hasNonSeparator(node.description) ||
         hasNonSeparator(node.placeholder);
}

std::string describe(const AXNodeRecord& node) {
  std::string line;
  appendDescription(line, node);
  return line;
}

Outline format(std::span<const AXNodeRecord> nodes, std::int64_t limit) {
  Outline outline;

  std::string focusLine;
  std::int64_t focusCost = 0;
  const auto focused = std::find_if(nodes.rbegin(), nodes.rend(), [](const auto& n) { return n.focused; });
  if (focused != nodes.rend()) {
    focusLine = focusPrefix;
    appendDescription(focusLine, *focused);
    focusCost = UnicodeText::utf16Length(focusLine) + 1;
  }
  const bool showFocus = focusCost > 0 && limit >= focusCost;
  const std::int64_t budget = showFocus ? limit - focusCost : limit;

  // The stack holds, per depth met on the way down, the tabs for the children of the latest record of
  // that depth. Keyed by depth rather than indexed, so input that is not in pre-order stays safe: a
  // negative depth counts as 0, and a record deeper than its predecessor's child sits as if the
  // missing ancestors were hidden records (at its nearest shallower record's child level).
  struct Level {
    std::int64_t depth;
    std::int64_t tabs;
  };
  std::vector<Level> stack;
  std::string& text = outline.text;
  std::int64_t used = 0;
  bool anyLine = false;
  for (const AXNodeRecord& node : nodes) {
    const std::int64_t depth = std::max<std::int64_t>(node.depth, 0);
    while (!stack.empty() && stack.back().depth >= depth) stack.pop_back();
    const std::int64_t level = stack.empty() ? 0 : stack.back().tabs;
    if (!shouldPresent(node)) {
      stack.push_back({depth, level});
      continue;
    }
    stack.push_back({depth, level + 1});

    const std::size_t mark = text.size();
    if (anyLine) text += '\n';
    const std::size_t lineStart = text.size();
    text.append(static_cast<std::size_t>(level), '\t');
    appendDescription(text, node);
    const std::int64_t next = used + UnicodeText::utf16Length(std::string_view(text).substr(lineStart)) + 1;
    if (next > budget) {
      text.resize(mark);
      outline.truncated = true;
      break;
    }
    used = next;
    anyLine = true;
  }

  if (showFocus) {
    if (anyLine) text += '\n';
    text += focusLine;
  }
  return outline;
}

}  // namespace zoba::AXTreeFormatter
