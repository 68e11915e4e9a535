#include "Platform/linux/atspi/AtspiChildren.h"

#include <algorithm>

#include "Platform/linux/atspi/AtspiEngine.h"
#include "Platform/linux/atspi/AtspiOffScreen.h"
#include "Platform/linux/atspi/AtspiReplies.h"

namespace zoba::platform::linux_backend::atspi {

namespace {

// A container that makes its children on demand (MANAGES_DESCENDANTS) cannot be
// searched: GTK 2's bridge hands out cells it has already freed. Its first
// children, more than a screen shows, are asked for one by one instead.
void askChildrenByIndex(Engine& engine, const std::shared_ptr<Fetch>& fetch) {
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
    engine.call(
        app, fetch->element.path, accessibleInterface, "GetChildAtIndex", g_variant_new("(i)", index),
        "((so))",
        [&engine, fetch, gathering, index](const Reply& reply) {
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
          if (fetch->cascade) engine.prefetchChildren(*fetch);
          engine.finishPart(fetch);
        },
        fetch->line());
  }
}

// One bound for the children and their states together, not one each: thousands
// of children that answer slowly or never must not hold the walk for thousands of
// timeouts. It runs from the first wait for them.
double childrenDeadline(Fetch& fetch) {
  if (!fetch.childrenAwaitedFrom) fetch.childrenAwaitedFrom = monotonicSeconds();
  return *fetch.childrenAwaitedFrom + 2 * fetch.application->timeout + 0.25;
}

// The fetches of the element's children: a walk's read-ahead has asked for them
// already, else they are asked now; they stay for the walk.
std::vector<std::shared_ptr<Fetch>> childFetches(Engine& engine, const Fetch& fetch) {
  std::vector<std::shared_ptr<Fetch>> children;
  children.reserve(fetch.children->size());
  for (const auto& child : *fetch.children) {
    if (auto ahead = engine.ahead(child)) {
      children.push_back(std::move(ahead));
    } else {
      auto started = engine.start(child, 0, false, fetch.role);
      engine.keepAhead(child, started);
      children.push_back(std::move(started));
    }
  }
  // The walk waits for them all before it goes on: their calls go ahead of the
  // read-ahead below the siblings before them.
  engine.hasten(children, fetch.line());
  return children;
}

}  // namespace

void findEntryChild(Engine& engine, Fetch& fetch) {
  if (fetch.entryChild.has_value() || !fetch.role ||
      !dependsOnEntryChild(*fetch.role, fetch.states.value_or(StateSet{})))
    return;
  if (!fetch.children) {
    auto withChildren = engine.fetch(fetch.element, wantChildren, false);
    if (!engine.wait(withChildren) || !withChildren->children) return;
    fetch.children = withChildren->children;
  }
  // The walk's read-ahead has usually asked for these children already; they stay for the walk.
  std::vector<std::shared_ptr<Fetch>> children;
  for (const auto& child : *fetch.children) {
    auto ahead = engine.ahead(child);
    children.push_back(ahead ? std::move(ahead)
                             : engine.start(child, fetch.wants & wantValue, false, fetch.role));
  }
  fetch.entryChild = false;
  engine.waitAll(children);
  for (const auto& child : children) {
    if (child->failed || !child->role || !isEntry(*child->role)) continue;
    fetch.entryChild = true;
    // The box's value is what its entry holds.
    if (!fetch.text && child->text && *child->role != ATSPI_ROLE_PASSWORD_TEXT) fetch.text = child->text;
  }
}

bool waitForChildren(Engine& engine, Fetch& fetch, double deadline) {
  if (fetch.shownChildren || !fetch.children) return true;
  const auto children = childFetches(engine, fetch);
  const double bound = childrenDeadline(fetch);
  engine.waitForAll(children, std::min(deadline, bound));
  return monotonicSeconds() >= bound || std::all_of(children.begin(), children.end(), [](const auto& child) {
           return child->finished() || child->application->stalled(monotonicSeconds());
         });
}

bool settleShownChildren(Engine& engine, Fetch& fetch) {
  if (fetch.shownChildren || !fetch.children) return false;
  auto children = childFetches(engine, fetch);
  // Children asked for as the VISIBLE ones need their states only where SHOWING
  // matters too; a walk's read-ahead asked for those.
  auto needsStates = [&fetch](const Fetch& child) {
    return !fetch.visibleChildren ||
           (child.application->showingIsCurrent() && hiddenWhenNotShowing(*child.role));
  };
  const double deadline = childrenDeadline(fetch);
  engine.waitForAll(children, deadline);
  auto read = [](const Fetch& child) { return child.finished() && !child.failed; };
  auto pending = std::make_shared<int>(0);
  for (const auto& child : children) {
    if (!read(*child) || child->states || !needsStates(*child)) continue;
    ++*pending;
    engine.call(
        child->application, child->element.path, accessibleInterface, "GetState", nullptr, "(au)",
        [child, pending](const Reply& reply) {
          --*pending;
          if (!reply) return;
          GVariantPtr array(g_variant_get_child_value(reply.value.get(), 0));
          child->states = statesOf(array.get());
        },
        fetch.line());
  }
  if (*pending > 0) engine.waitUntil([&] { return *pending == 0; }, deadline);
  if (!fetch.application->showingIsCurrent()) leaveOutOffScreen(engine, fetch, children);
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
  return true;
}

void askChildren(Engine& engine, const std::shared_ptr<Fetch>& fetch) {
  auto app = fetch->application;
  if (app->makesCellsOnDemand() && mayManageDescendants(*fetch->role)) {
    if (!fetch->states) {
      fetch->statesAsked = true;
      ++fetch->outstanding;
      engine.call(
          app, fetch->element.path, accessibleInterface, "GetState", nullptr, "(au)",
          [&engine, fetch](const Reply& reply) {
            if (reply) {
              GVariantPtr array(g_variant_get_child_value(reply.value.get(), 0));
              fetch->states = statesOf(array.get());
              askChildren(engine, fetch);
            }
            engine.finishPart(fetch);
          },
          fetch->line());
      return;
    }
    if (fetch->states->has(ATSPI_STATE_MANAGES_DESCENDANTS)) {
      askChildrenByIndex(engine, fetch);
      return;
    }
  }
  auto getChildren = [&engine](const std::shared_ptr<Fetch>& f) {
    engine.send(f, f->element.path, accessibleInterface, "GetChildren", nullptr, "(a(so))",
                [&engine](Fetch& g, GVariant* reply) {
                  GVariantPtr array(g_variant_get_child_value(reply, 0));
                  g.children = elementsOf(array.get(), g.element.application);
                  if (g.cascade) engine.prefetchChildren(g);
                });
  };
  // The application's windows are all its windows, shown or not.
  if (app->noCollection || fetch->element.path == rootPath) {
    getChildren(fetch);
    return;
  }
  ++fetch->outstanding;
  engine.call(
      app, fetch->element.path, collectionInterface, "GetMatches", statesQuery(app->shownState(), true),
      "(a(so))",
      [&engine, fetch, app, getChildren](const Reply& reply) {
        if (reply) {
          GVariantPtr array(g_variant_get_child_value(reply.value.get(), 0));
          fetch->children = elementsOf(array.get(), fetch->element.application);
          fetch->visibleChildren = true;
          if (fetch->cascade) engine.prefetchChildren(*fetch);
        } else if (!reply.timedOut) {
          if (reply.unknownMethod) app->noCollection = true;
          getChildren(fetch);
        }
        engine.finishPart(fetch);
      },
      fetch->line());
}

}  // namespace zoba::platform::linux_backend::atspi
