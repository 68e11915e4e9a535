#pragma once

// A real GTK 3 window on the test desktop.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace zoba::testing {

// Whether DISPLAY is set and the GTK interpreter is installed.
bool desktopAvailable();

// Waits until the window manager names a window of `pid` the active one, and
// until that window has `title` when one is given.
bool waitUntilActive(pid_t pid, std::chrono::milliseconds timeout = 5s,
                     const std::optional<std::string>& title = std::nullopt);

// How many of the helper's panel windows are mapped now: override-redirect
// windows on the root carrying `pid` as their _NET_WM_PID.
int mappedPanelCount(pid_t pid);

// tests/support/apps/gtk_window.py: a window that announces its pid once it has the focus,
// and goes away with this object. Ready when the window manager names it active.
class DesktopWindow {
 public:
  explicit DesktopWindow(const std::vector<std::string>& arguments = {});
  // Absent when the window did not come up active in time.
  std::optional<pid_t> pid() const { return pid_; }
  // The window's lines after its pid ("--report-clicks").
  std::optional<std::string> readLine(std::chrono::milliseconds timeout) {
    return process_.readLine(timeout);
  }
  // Whether the window's process has ended (and is reaped).
  bool ended() { return process_.wait(0ms).has_value(); }

 private:
  ChildProcess process_;
  std::optional<pid_t> pid_;
};

}  // namespace zoba::testing
