#pragma once

// The pages of a stack that its application does not show. GTK 4.8 marks every
// widget VISIBLE and none but its windows SHOWING, and lists all pages of a stack
// as the stack's children, each with the stack's whole area (a page keeps its
// last allocation once hidden, and one never shown has none). Only the page on
// screen answers Component's Contains for a point inside its own area: the
// hidden ones are not mapped.

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

// A page never shown has never been given an area: GTK 4 reports it 0 × 0.
bool neverPlaced(const std::optional<Extents>& area);

// Which members of a group to leave out, from each one's answer to whether it
// contains its area's centre (absent: no answer). Only when one member says yes
// are those that say no left out; without a page on screen nothing is judged.
std::vector<bool> coveredPages(const std::vector<std::optional<bool>>& containsCentre);

// Leaves out of `children` (read, with their states) the pages of the stack
// `parent` that are not on screen, where the toolkit's states do not tell.
void leaveOutHiddenPages(Engine& engine, const Fetch& parent, std::vector<std::shared_ptr<Fetch>>& children);

}  // namespace zoba::platform::linux_backend::atspi
