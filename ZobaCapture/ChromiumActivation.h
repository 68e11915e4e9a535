#pragma once

// Asks an application built on Chromium (or Electron) to expose its accessibility
// tree, and waits a bounded time for its web page to appear in it.

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "Platform/Accessibility.h"
#include "Platform/Task.h"

namespace zoba {

class ChromiumActivation {
 public:
  static constexpr double waitSeconds = 1.5;
  static constexpr double pollSeconds = 0.1;
  // Registered on every observer, in this order; what they deliver is ignored.
  static constexpr std::array<std::string_view, 6> notifications{
      "AXFocusedUIElementChanged", "AXFocusedWindowChanged", "AXValueChanged", "AXTitleChanged",
      "AXSelectedChildrenChanged", "AXLayoutChanged"};

  // The one instance, kept for the life of the process.
  static ChromiumActivation& shared();

  // Switches the application's accessibility on, observes it once per process and
  // waits at most 1.5 s for a populated web page in its focused or main window.
  // Main thread only; never fails.
  Task<void> activate(platform::AXElement application, std::int32_t pid);

  bool isRegistered(std::int32_t pid) const { return observers_.contains(pid); }

 private:
  // ("register" is a reserved word in C++.)
  void registerObserver(const platform::AXElement& application, std::int32_t pid);

  std::unordered_map<std::int32_t, std::unique_ptr<platform::AXObserver>> observers_;
};

}  // namespace zoba
