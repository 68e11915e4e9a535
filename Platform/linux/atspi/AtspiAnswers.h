#pragma once

// Attribute answers from what was fetched, and the application's own attributes:
// its windows and its focused element.

#include <optional>
#include <string_view>

#include "Platform/Accessibility.h"
#include "Platform/linux/atspi/AtspiFetch.h"

namespace zoba::platform::linux_backend::atspi {

class Engine;
class RunStore;

// The answer for `attribute` from what `fetch` read; an error marker where it has none.
AXValue answer(const Fetch& fetch, std::string_view attribute);
// AXWindows, AXFocusedWindow, AXMainWindow or AXFocusedUIElement of the application `app`.
std::optional<AXValue> applicationAnswer(Engine& engine, const AXElement& app, std::string_view attribute);
// The window whose focus is the application's: the active one, else the one showing.
std::optional<AXElement> focusWindow(Engine& engine, const AXElement& app);
// The element's descendants on screen (SHOWING), with the runs of text placed in
// them, from one search; absent where the toolkit's SHOWING does not follow the
// screen or the bridge cannot search.
std::optional<AXValue> onScreenDescendants(Engine& engine, const RunStore& runs, const AXElement& element);

}  // namespace zoba::platform::linux_backend::atspi
