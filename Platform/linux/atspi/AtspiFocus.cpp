// The focused element of a window. Toolkits mark focused whatever holds the focus
// in its own sense (LibreOffice an enclosing panel as well as the paragraph with
// the caret), so the element is the deepest focused one.
#include "Platform/linux/atspi/AtspiFocus.h"

#include "Platform/linux/atspi/AtspiEngine.h"
#include "Platform/linux/atspi/AtspiReplies.h"

namespace zoba::platform::linux_backend::atspi {

namespace {

constexpr std::size_t searchLimit = 4000;  // elements a search without Collection reads at most

void sendSearch(Engine& engine, const std::shared_ptr<Application>& app, const FocusSearch& search) {
  engine.call(app, search.window.path, collectionInterface, "GetMatches",
              statesQuery(ATSPI_STATE_FOCUSED, false), "(a(so))",
              [outcome = search.outcome, app, bus = search.window.application](const Reply& reply) {
                outcome->done = true;
                outcome->answeredAt = monotonicSeconds();
                if (reply) {
                  GVariantPtr array(g_variant_get_child_value(reply.value.get(), 0));
                  outcome->matches = elementsOf(array.get(), bus);
                } else if (!reply.timedOut) {
                  app->noCollection = true;  // an error answer: the bridge has no such interface
                }
              });
}

std::optional<AXElement> searchFocus(Engine& engine, const std::shared_ptr<Application>& app,
                                     const AXElement& window, double deadline) {
  // Level by level with every call of a level in flight; what is hidden is not entered.
  struct Level {
    std::vector<AXElement> elements;
    std::vector<std::optional<StateSet>> states;
    std::vector<std::vector<AXElement>> children;
    int pending = 0;
  };
  std::optional<AXElement> deepest;
  // A place in line of its own, ahead of the walk's reads: the walk waits for the
  // focus. Whatever is still queued when the search gives up is dropped, or the
  // application would answer it before anything the walk asks.
  const CallKey key{0, ++app->searches};
  std::vector<AXElement> elements{window};
  std::size_t read = 0;
  while (!elements.empty() && read < searchLimit && monotonicSeconds() < deadline) {
    auto level = std::make_shared<Level>();
    level->elements = std::move(elements);
    level->states.resize(level->elements.size());
    level->children.resize(level->elements.size());
    read += level->elements.size();
    for (std::size_t i = 0; i < level->elements.size(); ++i) {
      const std::string& path = level->elements[i].path;
      level->pending += 2;
      engine.call(
          app, path, accessibleInterface, "GetState", nullptr, "(au)",
          [level, i](const Reply& reply) {
            --level->pending;
            if (!reply) return;
            GVariantPtr array(g_variant_get_child_value(reply.value.get(), 0));
            level->states[i] = statesOf(array.get());
          },
          key);
      engine.call(
          app, path, accessibleInterface, "GetChildren", nullptr, "(a(so))",
          [level, i, bus = window.application](const Reply& reply) {
            --level->pending;
            if (!reply) return;
            GVariantPtr array(g_variant_get_child_value(reply.value.get(), 0));
            level->children[i] = elementsOf(array.get(), bus);
          },
          key);
    }
    if (!engine.waitUntil([&] { return level->pending == 0; }, deadline)) engine.dropQueued(app, key);
    for (std::size_t i = 0; i < level->elements.size(); ++i) {
      const auto& states = level->states[i];
      if (!states || !states->has(ATSPI_STATE_VISIBLE)) continue;
      if (states->has(ATSPI_STATE_FOCUSED)) deepest = level->elements[i];
      for (auto& child : level->children[i]) elements.push_back(std::move(child));
    }
  }
  return deepest;
}

}  // namespace

std::optional<FocusSearch> startFocusSearch(Engine& engine, const AXElement& application,
                                            const AXElement& window) {
  auto app = engine.application(window.application);
  if (!app || app->noCollection) return std::nullopt;
  FocusSearch search{application, window};
  sendSearch(engine, app, search);
  return search;
}

bool waitForFocusSearch(Engine& engine, const FocusSearch& search, double deadline) {
  return engine.waitUntil([&] { return search.outcome->done; }, deadline);
}

std::optional<AXElement> focusedElement(Engine& engine, const AXElement& window, const FocusSearch* started) {
  auto app = engine.application(window.application);
  if (!app) return std::nullopt;
  const double deadline = monotonicSeconds() + app->timeout + 0.25;
  const bool ahead = started && started->window == window;
  if (ahead || !app->noCollection) {
    FocusSearch search;
    if (ahead) {
      search = *started;
    } else {
      search.window = window;
      sendSearch(engine, app, search);
    }
    waitForFocusSearch(engine, search, deadline);
    // Tree order puts a focused element after the focused elements around it.
    if (const auto& matches = search.outcome->matches) {
      if (matches->empty()) return std::nullopt;
      return matches->back();
    }
    if (!app->noCollection) return std::nullopt;  // not answering: a search would not be either
  }
  return searchFocus(engine, app, window, deadline);
}

}  // namespace zoba::platform::linux_backend::atspi
