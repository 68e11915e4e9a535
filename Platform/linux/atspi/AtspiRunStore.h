#pragma once

// The runs of text a walk placed among an element's children (AtspiTextRuns.h):
// elements of our own making, answered from here without a call.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "Platform/Accessibility.h"
#include "Platform/linux/atspi/AtspiFetch.h"

namespace zoba::platform::linux_backend::atspi {

class RunStore {
 public:
  // Puts the runs of the element's own text among its shown children, in text order.
  void place(Fetch& fetch);
  bool contains(const AXElement& run) const { return runs_.contains(run); }
  // The answer for a run, from what was placed; absent for an unknown run or attribute.
  std::optional<AXValue> answer(const AXElement& run, std::string_view attribute) const;
  void clear() { runs_.clear(); }
  // The runs placed among the children of any of `parents`.
  std::vector<AXElement> placedIn(const std::unordered_set<AXElement>& parents) const;

 private:
  struct TextRun {
    std::string text;
    AXElement parent;
  };
  static constexpr std::size_t runsLimit = 50000;
  std::unordered_map<AXElement, TextRun> runs_;
};

}  // namespace zoba::platform::linux_backend::atspi
