#include "Platform/linux/atspi/AtspiRunStore.h"

#include "Platform/linux/atspi/AtspiTextRuns.h"

namespace zoba::platform::linux_backend::atspi {

void RunStore::place(Fetch& fetch) {
  if (!fetch.ownText) return;
  if (paragraphOfDocument(*fetch.role, fetch.parentRole)) {
    fetch.text = withoutObjects(*fetch.ownText);  // its objects stay its children
    return;
  }
  auto pieces = textRuns(*fetch.ownText);
  if (!pieces) return;
  // A text that is the element's name alone (a heading, a link, a cell) is read as its title.
  if (pieces->size() == 1 && !pieces->front().child && fetch.name && pieces->front().run == *fetch.name &&
      fetch.shownChildren->empty())
    return;
  if (runs_.size() > runsLimit) runs_.clear();  // a helper runs for days; old walks' runs go
  const std::vector<AXElement>& objects = *fetch.shownChildren;
  std::vector<AXElement> children;
  children.reserve(pieces->size() + objects.size());
  std::size_t nextObject = 0, runIndex = 0;
  for (auto& piece : *pieces) {
    if (piece.child) {
      if (nextObject < objects.size()) children.push_back(objects[nextObject++]);
      continue;
    }
    AXElement run{fetch.element.application, runPath(fetch.element.path, runIndex++)};
    runs_.insert_or_assign(run, TextRun{std::move(piece.run), fetch.element});
    children.push_back(std::move(run));
  }
  // Objects the text has no place for follow it.
  children.insert(children.end(), objects.begin() + static_cast<std::ptrdiff_t>(nextObject), objects.end());
  fetch.shownChildren = std::move(children);
}

std::optional<AXValue> RunStore::answer(const AXElement& run, std::string_view attribute) const {
  auto it = runs_.find(run);
  if (it == runs_.end()) return std::nullopt;
  const TextRun& found = it->second;
  if (attribute == "AXRole") return std::string("AXStaticText");
  if (attribute == "AXRoleDescription") return std::string("text");
  if (attribute == "AXValue") return found.text;
  if (attribute == "AXParent") return found.parent;
  if (attribute == "AXChildren") return AXArray{};
  if (attribute == "AXSelected" || attribute == "AXFocused") return false;
  if (attribute == "AXEnabled") return true;
  return std::nullopt;
}

std::vector<AXElement> RunStore::placedIn(const std::unordered_set<AXElement>& parents) const {
  std::vector<AXElement> placed;
  for (const auto& [run, found] : runs_) {
    if (parents.contains(found.parent)) placed.push_back(run);
  }
  return placed;
}

}  // namespace zoba::platform::linux_backend::atspi
