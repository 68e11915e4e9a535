#pragma once

// The headless KWin desktop of the KWin tests (scripts/headless-kwin.sh): the desktop
// files that grant the tests' programs KWin's restricted interfaces, keys through
// the fake-input tool, screenshots through ScreenShot2, native GTK 3 windows.
//
//   if (!kwinDesktopAvailable()) GTEST_SKIP() << "no KWin desktop";
//   ASSERT_TRUE(grantTestPrograms());       // once per process
//   KWinKeyboard keyboard;                  // a keyboard on the seat, for the focus
//   KWinGtkWindow window({.title = "T"});   // focused once it has a pid
//   auto shot = kwinScreenshot({0, 0, 1920, 1080});
//
// Every helper is bounded in time and reports failure as an absent value or false.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Image.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/wayland/GtkTestWindow.h"

namespace zoba::testing::kwin {

using ScreenRect = wayland::LayoutRect;

// Whether the test runs on a KWin desktop: XDG_CURRENT_DESKTOP=KDE, WAYLAND_DISPLAY
// and the desktop's own data folder (ZOBA_KWIN_STATE), with the GTK interpreter.
bool kwinDesktopAvailable();

// Writes the desktop file `name`.desktop into the desktop's applications folder with
// Exec=`executable` and `grants` lines ("X-KDE-…=…"), and touches the folder so KWin
// reads it again.
bool writeDesktopFile(const std::string& name, const std::string& executable,
                      const std::vector<std::string>& grants);

// Grants ScreenShot2 to the helper and to this test program, and fake input to
// zoba-kwin-input; waits until KWin takes this program's screenshots. Once per
// process; false when KWin never did.
bool grantTestPrograms();

// ScreenShot2 CaptureArea of `area` (layout pixels): opaque 0xFFRRGGBB pixels, at
// the output's resolution (kwinScreenScale() of them per layout pixel).
std::optional<platform::Image> kwinScreenshot(const ScreenRect& area);
// The output's pixels per layout pixel (scripts/headless-kwin.sh's ZOBA_KWIN_SCALE);
// 0 when KWin took no screenshot.
double kwinScreenScale();
// `extent` layout pixels in the output's pixels, as KWin rounds them.
int outputPixels(int extent);

// The bounding box of the pixels of `image` near `rgb` (see pixelsNear), if any.
std::optional<ScreenRect> boundsOf(const platform::Image& image, std::uint32_t rgb, int tolerance = 8);
// Where `rgb` shows on the screen (1920 x 1080 from the origin), in layout pixels,
// once it shows there settled: an X11 window may have the focus before KWin shows it
// whole.
std::optional<ScreenRect> waitForColourOnScreen(std::uint32_t rgb,
                                                std::chrono::milliseconds timeout = std::chrono::seconds(5));

// zoba-kwin-input with `steps` ("+42", "s50", "-42", "m300,200", "b"); true when it
// ran and ended with 0.
bool kwinInput(const std::vector<std::string>& steps);
// The left and right key of `modifier` ("shift", "alt", "logo") held together and
// released, in a real keyboard's order.
bool kwinChord(const std::string& modifier = "shift", int holdMilliseconds = 50);

// A keyboard on the seat for as long as this lives: KWin gives no window the keyboard
// focus on a seat without one, and GTK announces its window only once focused.
class KWinKeyboard {
 public:
  KWinKeyboard();
  bool running() { return process_.started() && !process_.wait(std::chrono::milliseconds(0)); }

 private:
  ChildProcess process_;
};

// launchGtkWindow's window, ready once it announced its pid (GTK saw the keyboard
// focus).
using KWinGtkWindowOptions = wayland::WaylandWindowOptions;
class KWinGtkWindow {
 public:
  explicit KWinGtkWindow(const KWinGtkWindowOptions& options = {},
                         std::chrono::milliseconds timeout = std::chrono::seconds(15));
  std::optional<pid_t> pid() const { return pid_; }
  // Reads the window's lines ("clicked", "text TEXT") until one equals `line`.
  bool waitForLine(const std::string& line, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    return wayland::waitForLine(process_, line, timeout);
  }

 private:
  ChildProcess process_;
  std::optional<pid_t> pid_;
};

}  // namespace zoba::testing::kwin
