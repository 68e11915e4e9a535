// What a fetched element's children become once its answers are in: the entry a
// combo box holds, the children a user can see, and its text cut into runs
// around its embedded objects.
#include "Platform/linux/atspi/AtspiAccessibility.h"
#include "Platform/linux/atspi/AtspiReplies.h"
#include "Platform/linux/atspi/AtspiTextRuns.h"

namespace zoba::platform::linux_backend::atspi {

void AtspiAccessibility::findEntryChild(Fetch& fetch) {
  if (fetch.entryChild.has_value() || !fetch.role ||
      !dependsOnEntryChild(*fetch.role, fetch.states.value_or(StateSet{})))
    return;
  if (!fetch.children) {
    auto withChildren = this->fetch(fetch.element, wantChildren, false);
    if (!wait(withChildren) || !withChildren->children) return;
    fetch.children = withChildren->children;
  }
  // The walk's read-ahead has usually asked for these children already; they stay for the walk.
  std::vector<std::shared_ptr<Fetch>> children;
  for (const auto& child : *fetch.children) {
    auto it = prefetched_.find(child);
    children.push_back(it != prefetched_.end() ? it->second
                                               : start(child, fetch.wants & wantValue, false, fetch.role));
  }
  fetch.entryChild = false;
  waitAll(children);
  for (const auto& child : children) {
    if (child->failed || !child->role || !isEntry(*child->role)) continue;
    fetch.entryChild = true;
    // The box's value is what its entry holds.
    if (!fetch.text && child->text && *child->role != ATSPI_ROLE_PASSWORD_TEXT) fetch.text = child->text;
  }
}

void AtspiAccessibility::settleShownChildren(Fetch& fetch) {
  if (fetch.shownChildren || !fetch.children) return;
  // A walk's read-ahead has asked for the children already; they stay for the walk.
  std::vector<std::shared_ptr<Fetch>> children;
  children.reserve(fetch.children->size());
  for (const auto& child : *fetch.children) {
    auto it = prefetched_.find(child);
    if (it != prefetched_.end()) {
      children.push_back(it->second);
    } else {
      auto started = start(child, 0, false, fetch.role);
      if (prefetched_.size() < prefetchLimit) prefetched_.emplace(child, started);
      children.push_back(std::move(started));
    }
  }
  // Children asked for as the VISIBLE ones need their states only where SHOWING
  // matters too; a walk's read-ahead asked for those.
  auto needsStates = [&fetch](const Fetch& child) {
    return !fetch.visibleChildren ||
           (child.application->showingIsCurrent() && hiddenWhenNotShowing(*child.role));
  };
  // One bound for the children and their states together, not one each: thousands
  // of children that answer slowly or never must not hold the walk for thousands
  // of timeouts.
  const double deadline = monotonicSeconds() + 2 * fetch.application->timeout + 0.25;
  waitForAll(children, deadline);
  auto read = [](const Fetch& child) { return child.finished() && !child.failed; };
  auto pending = std::make_shared<int>(0);
  for (const auto& child : children) {
    if (!read(*child) || child->states || !needsStates(*child)) continue;
    ++*pending;
    call(
        child->application, child->element.path, accessibleInterface, "GetState", nullptr, "(au)",
        [child, pending](const Reply& reply) {
          --*pending;
          if (!reply) return;
          GVariantPtr array(g_variant_get_child_value(reply.value.get(), 0));
          child->states = statesOf(array.get());
        },
        child->key);
  }
  if (*pending > 0) bus_.waitUntil([&] { return *pending == 0; }, deadline);
  if (!fetch.application->showingIsCurrent()) leaveOutHiddenPages(fetch, children);
  // A drop-down's list is its pop-up, on screen only while the box is expanded;
  // Qt calls the closed one VISIBLE and SHOWING.
  const bool closedDropDown =
      fetch.role == ATSPI_ROLE_COMBO_BOX && fetch.states && !fetch.states->has(ATSPI_STATE_EXPANDED);
  std::vector<AXElement> shown;
  shown.reserve(children.size());
  for (const auto& child : children) {
    // An element that cannot be read (yet) is left to the reader to skip.
    if (read(*child) && child->states && needsStates(*child) &&
        hiddenFromUser(*child->role, *child->states, child->application->showingIsCurrent()))
      continue;
    if (closedDropDown && read(*child) && isPopUpList(*child->role)) continue;
    shown.push_back(child->element);
  }
  fetch.shownChildren = std::move(shown);
  placeTextRuns(fetch);
}

void AtspiAccessibility::placeTextRuns(Fetch& fetch) {
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

}  // namespace zoba::platform::linux_backend::atspi
