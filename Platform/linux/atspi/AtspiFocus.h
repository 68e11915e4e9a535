#pragma once

// The focused element of a window.

#include <memory>
#include <optional>
#include <vector>

#include "Platform/Accessibility.h"

namespace zoba::platform::linux_backend::atspi {

class Engine;

// The bridge's search for the focused elements of a window, sent ahead of the
// question so that the asker can serve other work while the application searches.
struct FocusSearch {
  struct Outcome {
    bool done = false;
    double answeredAt = 0;
    std::optional<std::vector<AXElement>> matches;  // absent when the search failed
  };
  // How long an answer stands for the focus: the focus moves as a user types.
  static constexpr double answerLifetime = 0.5;

  AXElement application;
  AXElement window;
  std::shared_ptr<Outcome> outcome = std::make_shared<Outcome>();

  // Still on its way, or answered a moment ago.
  bool fresh(double now) const { return !outcome->done || now - outcome->answeredAt < answerLifetime; }
};

// Sends the bridge's search of `window`; absent where the bridge has none.
std::optional<FocusSearch> startFocusSearch(Engine& engine, const AXElement& application,
                                            const AXElement& window);
// Serves replies until the search's answer is in or `deadline` passes: whether it is.
bool waitForFocusSearch(Engine& engine, const FocusSearch& search, double deadline);

// The deepest focused element below `window`: the bridge's search where it has
// one (`started`, when it was sent ahead for this window), else a bounded walk of
// what is visible.
std::optional<AXElement> focusedElement(Engine& engine, const AXElement& window,
                                        const FocusSearch* started = nullptr);

}  // namespace zoba::platform::linux_backend::atspi
