#pragma once

// The focused element of a window.

#include <optional>

#include "Platform/Accessibility.h"

namespace zoba::platform::linux_backend::atspi {

class Engine;

// The deepest focused element below `window`: the bridge's search where it has
// one, else a bounded walk of what is visible.
std::optional<AXElement> focusedElement(Engine& engine, const AXElement& window);

}  // namespace zoba::platform::linux_backend::atspi
