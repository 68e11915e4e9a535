// An element's children: how they are asked for (a search for the ones shown, all
// of them, or one by one), the read-ahead of their answers, and what they become
// once the answers are in: the entry a combo box holds, the children a user can
// see, and the text cut into runs around its embedded objects.
#include <algorithm>

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

void AtspiAccessibility::requestChildren(const std::shared_ptr<Fetch>& fetch) {
  auto app = fetch->application;
  if (app->makesCellsOnDemand() && mayManageDescendants(*fetch->role)) {
    if (!fetch->states) {
      fetch->statesAsked = true;
      ++fetch->outstanding;
      call(
          app, fetch->element.path, accessibleInterface, "GetState", nullptr, "(au)",
          [this, fetch](const Reply& reply) {
            if (reply) {
              GVariantPtr array(g_variant_get_child_value(reply.value.get(), 0));
              fetch->states = statesOf(array.get());
              requestChildren(fetch);
            }
            finishPart(fetch);
          },
          fetch->key);
      return;
    }
    if (fetch->states->has(ATSPI_STATE_MANAGES_DESCENDANTS)) {
      requestChildrenByIndex(fetch);
      return;
    }
  }
  auto getChildren = [this](const std::shared_ptr<Fetch>& f) {
    send(f, f->element.path, accessibleInterface, "GetChildren", nullptr, "(a(so))",
         [this](Fetch& g, GVariant* reply) {
           GVariantPtr array(g_variant_get_child_value(reply, 0));
           g.children = elementsOf(array.get(), g.element.application);
           if (g.cascade) prefetchChildren(g);
         });
  };
  // The application's windows are all its windows, shown or not.
  if (app->noCollection || fetch->element.path == rootPath) {
    getChildren(fetch);
    return;
  }
  ++fetch->outstanding;
  call(
      app, fetch->element.path, collectionInterface, "GetMatches", statesQuery(app->shownState(), true),
      "(a(so))",
      [this, fetch, app, getChildren](const Reply& reply) {
        if (reply) {
          GVariantPtr array(g_variant_get_child_value(reply.value.get(), 0));
          fetch->children = elementsOf(array.get(), fetch->element.application);
          fetch->visibleChildren = true;
          if (fetch->cascade) prefetchChildren(*fetch);
        } else if (!reply.timedOut) {
          if (reply.unknownMethod) app->noCollection = true;
          getChildren(fetch);
        }
        finishPart(fetch);
      },
      fetch->key);
}

void AtspiAccessibility::requestChildrenByIndex(const std::shared_ptr<Fetch>& fetch) {
  auto app = fetch->application;
  const auto count = std::min<std::int32_t>(fetch->childCount, maxManagedChildren);
  if (count <= 0) {
    fetch->children.emplace();
    return;
  }
  struct Gathering {
    std::vector<std::optional<AXElement>> slots;
    std::int32_t left = 0;
  };
  auto gathering = std::make_shared<Gathering>();
  gathering->slots.resize(static_cast<std::size_t>(count));
  gathering->left = count;
  ++fetch->outstanding;
  for (std::int32_t index = 0; index < count; ++index) {
    call(
        app, fetch->element.path, accessibleInterface, "GetChildAtIndex", g_variant_new("(i)", index),
        "((so))",
        [this, fetch, gathering, index](const Reply& reply) {
          if (reply) {
            const char* bus = nullptr;
            const char* path = nullptr;
            g_variant_get(reply.value.get(), "((&s&o))", &bus, &path);
            gathering->slots[static_cast<std::size_t>(index)] =
                AXElement{*bus ? bus : fetch->element.application, path};
          }
          if (--gathering->left > 0) return;
          auto& children = fetch->children.emplace();
          for (auto& slot : gathering->slots)
            if (slot && slot->path != nullPath) children.push_back(std::move(*slot));
          if (fetch->cascade) prefetchChildren(*fetch);
          finishPart(fetch);
        },
        fetch->key);
  }
}

void AtspiAccessibility::prefetchChildren(const Fetch& parent) {
  if (!parent.children) return;
  std::uint32_t index = 0;
  for (const auto& child : *parent.children) {
    if (prefetched_.size() >= prefetchLimit) return;
    CallKey key = parent.key;
    key.push_back(index++);
    auto existing = prefetched_.find(child);
    if (existing != prefetched_.end() && monotonicSeconds() - existing->second->startedAt < prefetchLifetime)
      continue;
    prefetched_.insert_or_assign(child, start(child, walkWants, true, parent.role, std::move(key)));
  }
}

std::shared_ptr<Fetch> AtspiAccessibility::fetch(const AXElement& element, unsigned wants, bool cascade) {
  if (auto it = prefetched_.find(element); it != prefetched_.end()) {
    auto found = std::move(it->second);
    prefetched_.erase(it);  // each answer serves once, so a later read sees fresh values
    if ((found->wants & wants) == wants && monotonicSeconds() - found->startedAt < prefetchLifetime) {
      if (cascade && !found->cascade) {
        found->cascade = true;
        if (found->children) prefetchChildren(*found);
      }
      return found;
    }
  }
  auto app = application(element.application);
  if (app && cascade) loadCache(app);
  return start(element, wants, cascade);
}

bool AtspiAccessibility::wait(const std::shared_ptr<Fetch>& fetch) {
  if (fetch->finished()) return !fetch->failed;
  Application& app = *fetch->application;
  // Every call is bounded by the timeout; the margin covers a second round sent late.
  const double deadline = monotonicSeconds() + 2 * app.timeout + 0.25;
  bus_.waitUntil([&] { return fetch->finished() || app.stalled(monotonicSeconds()); }, deadline);
  if (!fetch->finished()) fetch->failed = true;
  return !fetch->failed;
}

}  // namespace zoba::platform::linux_backend::atspi
