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

// Appends the words of a record's title, else of its value, without whitespace; false when its line
// would cut them at the cap (a cut line does not say them all). Clusters are not needed to compare
// words, and a text of at most `cap` scalars has at most `cap` clusters.
bool appendWords(std::string& out, const AXNodeRecord& node) {
  const bool titled = hasNonSeparator(node.title);
  const std::optional<std::string>& source = titled ? node.title : node.value;
  if (!source) return true;
  std::string storage;
  const std::string_view text = UnicodeText::wellFormed(*source, storage);
  const std::int64_t cap = titled ? titleCap : valueCap;
  if (static_cast<std::int64_t>(text.size()) > cap && UnicodeText::scalarCount(text) > cap) return false;
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const std::size_t size = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
    const bool space = byte < 0x80 ? UnicodeText::isAsciiWhiteSpace(text[i])
                                   : UnicodeText::isWhiteSpace(UnicodeText::scalarAt(text, i));
    if (!space) out.append(text, i, size);
    i += size;
  }
  return true;
}

// A line of text alone: leaving it out loses nothing its words do not carry.
bool onlyWords(const AXNodeRecord& node) {
  if (node.role != "AXStaticText" || node.focused || node.selected || node.settable) return false;
  if (hasNonSeparator(node.description) || hasNonSeparator(node.placeholder) || hasNonSeparator(node.url))
    return false;
  // A value other than the title shows beside it.
  if (!hasNonSeparator(node.title) || !hasNonSeparator(node.value) || *node.title == *node.value) return true;
  std::string title, value;
  appendClean(title, node.title, titleCap);
  appendClean(value, node.value, valueCap);
  return UnicodeText::canonicallyEqual(title, value);
}

// Which records repeat words their nearest ancestor with words already shows: a web engine names a
// heading, link or cell after its contents and keeps the contents as text children too. An ancestor's
// text-only descendants are repeats when the words of all its descendants, in order and whitespace
// aside, are exactly its own (those that reach it through ancestors without words count too; a
// descendant with words of its own speaks for its subtree). Anything short of that, words found only
// below, keeps them all. Records are read only as far as the answers asked for need: an outline that
// stops early does not pay for the rest of a large window.
class RepeatedWords {
 public:
  explicit RepeatedWords(std::span<const AXNodeRecord> nodes)
      : nodes_(nodes), state_(nodes.size(), State::open) {}

  bool operator()(std::size_t index) {
    while (state_[index] == State::open) step();
    return state_[index] == State::repeated;
  }

 private:
  enum class State : char { open, kept, repeated };
  struct Open {
    std::int64_t depth;
    std::string said;   // its words, where it has children; else empty
    std::string heard;  // its descendants' words in order, until they differ from `said` in length
    std::vector<std::size_t> pieces;
    std::size_t speaker;  // the stack index of the nearest record with words, itself included
    bool listening;       // its descendants' words may still be exactly its own
  };
  static constexpr std::size_t none = static_cast<std::size_t>(-1);

  void settle(Open& open, State state) {
    for (const std::size_t piece : open.pieces) state_[piece] = state;
    open.pieces.clear();
    open.listening = false;
  }
  void close() {
    Open& open = stack_.back();
    settle(open, open.listening && open.heard == open.said ? State::repeated : State::kept);
    stack_.pop_back();
  }
  void step() {
    if (next_ == nodes_.size()) {
      while (!stack_.empty()) close();
      return;
    }
    const std::size_t i = next_++;
    const std::int64_t depth = std::max<std::int64_t>(nodes_[i].depth, 0);
    while (!stack_.empty() && stack_.back().depth >= depth) close();
    const std::size_t speaker = stack_.empty() ? none : stack_.back().speaker;
    const bool hasChildren = i + 1 < nodes_.size() && std::max<std::int64_t>(nodes_[i + 1].depth, 0) > depth;
    Open open{depth, {}, {}, {}, speaker, false};
    // Only a record with children and whole words can be repeated below.
    const bool whole = !hasChildren || appendWords(open.said, nodes_[i]);
    if (!open.said.empty()) {
      open.speaker = stack_.size();
      open.listening = true;
    }
    state_[i] = State::kept;
    if (speaker != none && stack_[speaker].listening) {
      Open& listener = stack_[speaker];
      const std::size_t before = listener.heard.size();
      const bool heard = hasChildren ? whole : appendWords(listener.heard, nodes_[i]);
      if (hasChildren) listener.heard += open.said;
      if (!heard || listener.heard.size() > listener.said.size()) {
        settle(listener, State::kept);  // words it cannot compare, or more than its own
      } else if (listener.heard.size() > before && onlyWords(nodes_[i])) {
        listener.pieces.push_back(i);
        state_[i] = State::open;
      }
    }
    stack_.push_back(std::move(open));
  }

  std::span<const AXNodeRecord> nodes_;
  std::vector<State> state_;
  std::vector<Open> stack_;
  std::size_t next_ = 0;
};

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
  RepeatedWords repeated(nodes);

  // The stack holds, per depth met on the way down, the tabs for the children of the latest record of
  // that depth. Keyed by depth rather than indexed, so input that is not in pre-order stays safe: a
  // negative depth counts as 0, and a record deeper than its predecessor's child sits as if the
  // missing ancestors were hidden records (at its nearest shallower record's child level).
  struct Level {
    std::int64_t depth;
    std::int64_t tabs;
  };
  std::vector<Level> stack;
  // When not everything fits, the lines of records on screen are kept first, then those of records off
  // screen in the room left, each kind in tree order up to its first line that does not fit. Lines are
  // written while their kind is within the budget: a superset of those kept.
  struct Line {
    std::size_t start, size;
    std::int64_t cost;
    bool onScreen;
  };
  std::string written;
  std::vector<Line> lines;
  std::int64_t onScreenCost = 0, offScreenCost = 0, onScreenKept = 0;
  bool onScreenFull = false;
  const auto lastOffScreen =
      std::find_if(nodes.rbegin(), nodes.rend(), [](const auto& n) { return !n.onScreen; });
  const std::size_t offScreenEnd = static_cast<std::size_t>(nodes.rend() - lastOffScreen);
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    // Past the budget for records on screen and past the last record off screen, no line can be kept.
    if (onScreenFull && i >= offScreenEnd) break;
    const AXNodeRecord& node = nodes[i];
    const std::int64_t depth = std::max<std::int64_t>(node.depth, 0);
    while (!stack.empty() && stack.back().depth >= depth) stack.pop_back();
    const std::int64_t level = stack.empty() ? 0 : stack.back().tabs;
    if (repeated(i) || !shouldPresent(node)) {
      stack.push_back({depth, level});
      continue;
    }
    stack.push_back({depth, level + 1});

    std::int64_t& kindCost = node.onScreen ? onScreenCost : offScreenCost;
    if (kindCost > budget) {
      outline.truncated = true;
      // Neither kind can gain a line any more.
      if (onScreenCost > budget && offScreenCost > budget - onScreenKept) break;
      continue;
    }
    const std::size_t start = written.size();
    written.append(static_cast<std::size_t>(level), '\t');
    appendDescription(written, node);
    const std::int64_t cost = UnicodeText::utf16Length(std::string_view(written).substr(start)) + 1;
    kindCost += cost;
    if (kindCost > budget) {
      written.resize(start);
      outline.truncated = true;
      onScreenFull = onScreenFull || node.onScreen;
      continue;
    }
    if (node.onScreen) onScreenKept += cost;
    lines.push_back({start, written.size() - start, cost, node.onScreen});
  }

  std::string& text = outline.text;
  const std::int64_t offScreenRoom = budget - onScreenKept;
  std::int64_t offScreenUsed = 0;
  bool offScreenFull = false, anyLine = false;
  for (const Line& line : lines) {
    if (!line.onScreen) {
      offScreenFull = offScreenFull || offScreenUsed + line.cost > offScreenRoom;
      if (offScreenFull) continue;
      offScreenUsed += line.cost;
    }
    if (anyLine) text += '\n';
    text.append(written, line.start, line.size);
    anyLine = true;
  }
  if (offScreenFull) outline.truncated = true;

  if (showFocus) {
    if (anyLine) text += '\n';
    text += focusLine;
  }
  return outline;
}

}  // namespace zoba::AXTreeFormatter
