#pragma once

// The children GTK 4 does not show, which its states do not tell: GTK 4.8 marks
// every widget VISIBLE and none but its windows SHOWING.
// - A widget of no width or no height shows nothing: an info bar not revealed, a
//   closed revealer, an empty list. It is left out with what it holds.
// - A stack lists all its pages as its children, each with the stack's whole area
//   (a page keeps its last allocation once hidden, and one never shown has none).
//   Only the page on screen answers Component's Contains for a point inside its
//   own area: the hidden ones are not mapped.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace zoba::platform::linux_backend::atspi {

class Engine;
struct Fetch;

struct Extents {
  std::int32_t x = 0, y = 0, width = 0, height = 0;
  friend bool operator==(const Extents&, const Extents&) = default;
};

// The indices of siblings that share one area with at least one other sibling,
// one group per area, in order of their first member; empty areas and unknown
// ones belong to none.
std::vector<std::vector<std::size_t>> sharedAreas(const std::vector<std::optional<Extents>>& siblings);

// Whether a known area has no width or no height (a page never shown is 0 × 0).
bool noArea(const std::optional<Extents>& area);

// Which members of a group to leave out, from each one's answer to whether it
// contains its area's centre (absent: no answer). Only when one member says yes
// are those that say no left out; without a page on screen nothing is judged.
std::vector<bool> coveredPages(const std::vector<std::optional<bool>>& containsCentre);

// Leaves out of `children` (read, with their states) those of `parent` that are
// not on screen, from their areas.
void leaveOutOffScreen(Engine& engine, const Fetch& parent, std::vector<std::shared_ptr<Fetch>>& children);

}  // namespace zoba::platform::linux_backend::atspi
