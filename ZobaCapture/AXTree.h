#pragma once

// Reading another application's live accessibility tree: small attribute readers,
// the populated-web-page probe and the bounded walk that flattens a window's tree
// into records for the text outline.

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Platform/Accessibility.h"
#include "ZobaCaptureCore/AXNodeRecord.h"
#include "ZobaCaptureCore/Rect.h"

namespace zoba {

// The records of one walk with the element each was read from, the first web
// page's address and whether the deadline cut the walk short.
struct AXSnapshot {
  std::vector<AXNodeRecord> nodes;
  std::vector<platform::AXElement> elements;  // one per record
  std::optional<std::string> url;
  bool timedOut = false;
  // The first element that said it was still loading (a web page, or where one
  // is about to show) when the walk read it: its tree may still be growing.
  std::optional<platform::AXElement> loadingPage;
};

namespace AXTree {

using platform::AXElement;
using platform::AXValue;

inline constexpr std::size_t maxRecords = 8000;
inline constexpr std::int64_t maxChildDepth = 63;  // children read up to here: records reach depth 64
inline constexpr std::size_t clockInterval = 50;   // the clock is read when the count is a multiple
inline constexpr std::size_t webAreaSearchLimit = 600;
inline constexpr std::int64_t webAreaSearchDepth = 24;

// Roles whose elements and subtrees never enter a snapshot.
const std::set<std::string, std::less<>>& skippedRoles();
// Roles whose elements enter a snapshot without their subtrees.
const std::set<std::string, std::less<>>& childlessRoles();
// Roles for which the walk asks whether "AXValue" can be set.
const std::set<std::string, std::less<>>& settableRoles();
// The attributes fetched for every element, read back by position.
std::span<const std::string> attributes();

// The attribute's value when it is an element / a string, else absent.
std::optional<AXElement> element(const AXElement& element, std::string_view attribute);
std::optional<std::string> string(const AXElement& element, std::string_view attribute);
// "AXPosition" and "AXSize" as a rectangle in top-left screen space.
std::optional<Rect> frame(const AXElement& element);
// True when a web area with at least one child lies within 600 elements and depth 24.
bool hasPopulatedWebArea(const AXElement& root);
// The depth-first walk of `window`, stopping at `deadline` (the run loop's clock).
AXSnapshot snapshot(const AXElement& window, const AXElement& application, double deadline);

// The same walk done in slices, so that the main thread can serve requests and
// timers between them. The records are those of snapshot(); only when the clock
// is read differs.
class Walk {
 public:
  Walk(const AXElement& window, const AXElement& application, double deadline);
  // Reads elements until the walk is done (true) or the clock has passed `until`
  // (false: call again to go on).
  bool advance(double until);
  AXSnapshot take() && { return std::move(result_); }

 private:
  AXElement application_;
  std::optional<AXElement> focused_;
  bool focusRead_ = false;
  double deadline_;
  std::vector<std::pair<AXElement, std::int64_t>> stack_;
  AXSnapshot result_;
  bool done_ = false;
  bool sliced_ = false;  // once walked in slices, the last slice (past the deadline) is one too
};
// Whether the element says it is still loading ("AXElementBusy").
bool isBusy(const AXElement& element);

// Marks the records the platform says lie outside the window's visible area, from
// one question to the window: "AXOnScreenDescendants". Where it cannot tell, every
// record stays on screen. Asked only for an outline that does not fit: the answer
// costs the application a search of the whole window.
void markOffScreen(AXSnapshot& snapshot, const AXElement& window);

// The text of a fetched attribute: strings as they are, numbers and booleans the
// way platform number objects print them, everything else absent.
std::optional<std::string> attributeText(const AXValue& value);
// "42" for integral values, else the shortest text that reads back the same.
std::string numberText(double number);

}  // namespace AXTree
}  // namespace zoba
