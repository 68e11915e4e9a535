// The frontmost application on a real X server, under whichever window manager
// the desktop runs (tests/platform/CMakeLists.txt runs these under several).
// Skipped without DISPLAY.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "Platform/linux/Backends.h"
#include "Platform/linux/session/DesktopSession.h"
#include "tests/platform/ColourWindow.h"

namespace zoba::platform {
namespace {

using namespace std::chrono_literals;

TEST(X11WorkspaceTest, TheFrontmostApplicationOwnsTheActiveWindow) {
  if (!hasDisplay()) GTEST_SKIP() << "no X display";
  auto workspace = linux_backend::makeWorkspace(linux_backend::detectDesktopSession());
  ColourWindow window(0x405060, 240, 200, 300, 200, "Front");
  std::optional<RunningApplication> front;
  // The window manager maps the window, then takes the request to activate it.
  for (int attempt = 0; attempt < 250; ++attempt) {
    window.focus();
    front = workspace->frontmostApplication();
    if (front && front->pid == getpid()) break;
    std::this_thread::sleep_for(20ms);
  }
  ASSERT_TRUE(front);
  EXPECT_EQ(front->pid, getpid());
}

}  // namespace
}  // namespace zoba::platform
