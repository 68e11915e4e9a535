#pragma once

// Attribute answers from what was fetched, and the application's own attributes:
// its windows and its focused element.

#include <optional>
#include <string_view>

#include "Platform/Accessibility.h"
#include "Platform/linux/atspi/AtspiFetch.h"

namespace zoba::platform::linux_backend::atspi {

class Engine;

// The answer for `attribute` from what `fetch` read; an error marker where it has none.
AXValue answer(const Fetch& fetch, std::string_view attribute);
// AXWindows, AXFocusedWindow, AXMainWindow or AXFocusedUIElement of the application `app`.
std::optional<AXValue> applicationAnswer(Engine& engine, const AXElement& app, std::string_view attribute);

}  // namespace zoba::platform::linux_backend::atspi
