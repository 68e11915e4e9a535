// The debug capture of the real binary on the headless sway desktop: native
// Wayland GTK 3 and GTK 4 windows and an X11 one through Xwayland, each captured
// through the compositor (frame and screenshot) and AT-SPI (outline).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "Platform/Image.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Files.h"
#include "tests/support/wayland/SwayDesktop.h"

namespace zoba::testing::wayland {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// A GTK window of this test's own, started with `script`; ready once it announced
// its pid and sway focuses it.
struct OwnWindow {
  OwnWindow(const std::string& script, std::vector<std::string> arguments, const std::string& backend,
            const std::string& title)
      : process(
            "/usr/bin/python3",
            [&] {
              arguments.insert(arguments.begin(), script);
              return arguments;
            }(),
            backend == "wayland" ? ChildEnvironment{{"DISPLAY"}, {{"GDK_BACKEND", "wayland"}}}
                                 : ChildEnvironment{{"WAYLAND_DISPLAY"}, {{"GDK_BACKEND", "x11"}}}) {
    if (auto line = process.readLine(20s)) {
      const long value = std::strtol(line->c_str(), nullptr, 10);
      if (value > 0) view = waitUntilFocused(static_cast<pid_t>(value), 10s, title);
    }
  }
  ChildProcess process;
  std::optional<SwayView> view;
};

class WaylandCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!swayDesktopAvailable()) GTEST_SKIP() << "no sway desktop (scripts/headless-sway.sh run -- ...)";
    directory = fs::temp_directory_path() / ("zoba-wayland-capture-" + std::to_string(::getpid()));
    fs::create_directories(directory);
    path = directory / "shot.png";
  }
  void TearDown() override {
    if (!directory.empty()) fs::remove_all(directory);
  }

  // Once the application has joined the accessibility bus (its toolkit may still be
  // starting when its window shows, and Xwayland with it).
  json debugCaptureOf(pid_t pid) {
    EXPECT_TRUE(waitForAccessibleApplication(pid, 10s))
        << "the application did not join the accessibility bus";
    return debugCapture();
  }

  json debugCapture(const ChildEnvironment& environment = {}) {
    ChildProcess helper(ZOBA_CAPTURE_PATH, {"--debug-capture", path.string(), "--delay", "0"}, environment);
    auto lines = helper.readAllLines(30s);
    EXPECT_EQ(helper.wait(), 0);
    EXPECT_EQ(lines.size(), 1u);
    return lines.empty() ? json() : json::parse(lines.back(), nullptr, false);
  }

  // Waits, bounded, until the window shows its colour beside its widgets at its
  // tiled size: a client repaints at the size sway gave it a frame or two later.
  static void waitUntilPainted(const SwayView& view, std::uint32_t colour) {
    const SwayRect strip{view.content.x + view.content.width - 12, view.content.y + 140, 4, 20};
    for (auto end = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < end;) {
      auto shot = screenshot(strip);
      if (shot && pixelsNear(*shot, colour) == shot->width() * shot->height()) return;
      std::this_thread::sleep_for(50ms);
    }
  }

  // What every capture of a window on sway shows: the session, the window's title,
  // a screenshot of its size with its colour where no widget is, and its outline.
  void expectCaptured(const json& line, const SwayView& view, std::uint32_t colour,
                      const std::string& bundleId, const std::vector<std::string>& outline) {
    ASSERT_TRUE(line.contains("capture")) << line.dump();
    EXPECT_EQ(line["permissions"]["screenRecording"], true);
    EXPECT_EQ(line["session"]["type"], "wayland");
    EXPECT_EQ(line["session"]["desktop"], "sway");
    const json& capture = line["capture"];
    EXPECT_EQ(capture["windowTitle"], view.name);
    EXPECT_EQ(capture["app"]["bundleId"], bundleId);
    EXPECT_EQ(capture["image"]["width"], view.content.width);
    EXPECT_EQ(capture["image"]["height"], view.content.height);
    auto image = readPng(path);
    ASSERT_TRUE(image);
    // ZOBA_KEEP_CAPTURES=DIR keeps each screenshot there, to look at.
    if (const char* keep = std::getenv("ZOBA_KEEP_CAPTURES"))
      fs::copy_file(path, fs::path(keep) / (view.name + ".png"), fs::copy_options::overwrite_existing);
    ASSERT_EQ(image->width(), view.content.width);
    ASSERT_EQ(image->height(), view.content.height);
    // The colour area at the top-left, and the right edge beside the widgets.
    for (auto [x, y] : {std::pair{20, 20}, std::pair{200, 100}, std::pair{int(image->width()) - 10, 150}}) {
      EXPECT_EQ(image->pixel(x, y) & 0xFFFFFFu, colour) << "at " << x << "," << y;
    }
    const std::string text = fileContents(path.string() + ".txt");
    EXPECT_EQ(text.rfind("Window: \"" + view.name + "\", App: ", 0), 0u) << text;
    for (const auto& expected : outline)
      EXPECT_NE(text.find(expected), std::string::npos) << expected << " in\n" << text;
  }

  fs::path directory;
  fs::path path;
};

TEST_F(WaylandCapture, NativeGtk3WindowPlacedFloating) {
  WaylandWindowOptions options;
  options.title = "Wayland GTK 3 capture";
  options.colour = 0x2080C0;
  options.label = "Three label";
  options.button = "Three button";
  WaylandWindow window(options);
  ASSERT_TRUE(window.pid()) << "the GTK 3 window did not come up focused";
  ASSERT_TRUE(window.place({260, 180, 640, 400}));
  // The window repaints at its new size a frame or two after it moved.
  for (auto end = std::chrono::steady_clock::now() + 3s; std::chrono::steady_clock::now() < end;) {
    auto shot = screenshot({270, 190, 300, 150});
    if (shot && pixelsNear(*shot, 0x2080C0) == shot->width() * shot->height()) break;
    std::this_thread::sleep_for(50ms);
  }
  const json line = debugCaptureOf(*window.pid());
  expectCaptured(line, *window.view(), 0x2080C0, "zoba-wayland-window",
                 {"\nframe Wayland GTK 3 capture\n", "\tlabel Three label\n", "\tpush button Three button\n",
                  "\nThe focused UI element is text (settable)"});
}

TEST_F(WaylandCapture, NativeGtk4WindowTiled) {
  OwnWindow window(ZOBA_WAYLAND_TEST_DIR "/gtk4_wayland_window.py",
                   {"--title", "Wayland GTK 4 capture", "--colour", "c08020", "--label", "Four label",
                    "--button", "Four button"},
                   "wayland", "Wayland GTK 4 capture");
  ASSERT_TRUE(window.view) << "the GTK 4 window did not come up focused";
  waitUntilPainted(*window.view, 0xC08020);
  const json line = debugCaptureOf(window.view->pid);
  expectCaptured(line, *window.view, 0xC08020, "zoba-gtk4-window",
                 {"\nwindow Wayland GTK 4 capture\n", "\tlabel Four label\n", "\tbutton Four button\n",
                  "\nThe focused UI element is text box (settable)"});
}

TEST_F(WaylandCapture, X11WindowThroughXwayland) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no Xwayland";
  OwnWindow window(ZOBA_WAYLAND_TEST_DIR "/gtk3_wayland_window.py",
                   {"--title", "Xwayland capture", "--app-id", "zoba-xwayland-window", "--colour", "60a040",
                    "--label", "X label"},
                   "x11", "Xwayland capture");
  ASSERT_TRUE(window.view) << "the X11 window did not come up focused";
  EXPECT_EQ(window.view->shell, "xwayland");
  waitUntilPainted(*window.view, 0x60A040);
  const json line = debugCaptureOf(window.view->pid);
  expectCaptured(line, *window.view, 0x60A040, "zoba-xwayland-window", {"\tlabel X label\n"});
}

// The debug mode reads the overlay back: its frames show the shutter's flash, white
// over the window, which a read-back held like a capture's shot would never see.
TEST_F(WaylandCapture, DebugFramesShowTheFlashOverTheWindow) {
  WaylandWindowOptions options;
  options.title = "Wayland debug frames";
  options.colour = 0x2080C0;
  WaylandWindow window(options);
  ASSERT_TRUE(window.pid()) << "the GTK 3 window did not come up focused";
  ASSERT_TRUE(window.place({260, 180, 640, 400}));
  waitUntilPainted(*window.view(), 0x2080C0);
  ASSERT_TRUE(waitForAccessibleApplication(*window.pid(), 10s));
  const fs::path frames = directory / "frames";
  fs::create_directories(frames);
  // At a third of the speed the flash lasts from the first sample past the second.
  ChildProcess helper(ZOBA_CAPTURE_PATH,
                      {"--debug-capture", path.string(), "--delay", "0", "--debug-transition", "--slow", "3",
                       "--debug-frames", frames.string()});
  auto lines = helper.readAllLines(60s);
  EXPECT_EQ(helper.wait(), 0);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(json::parse(lines.back(), nullptr, false).contains("capture")) << lines.back().substr(0, 300);

  // Between the window's colour and white in every channel, well away from the window's.
  auto whitened = [](std::uint32_t pixel) {
    const int red = pixel >> 16 & 0xFF, green = pixel >> 8 & 0xFF, blue = pixel & 0xFF;
    return red >= 0x60 && green >= red && blue >= green;
  };
  int flashFrames = 0;
  int frameCount = 0;
  for (const auto& entry : fs::directory_iterator(frames)) {
    auto image = readPng(entry.path());
    ASSERT_TRUE(image) << entry.path();
    ++frameCount;
    if (const char* keep = std::getenv("ZOBA_KEEP_CAPTURES"))
      fs::copy_file(entry.path(), fs::path(keep) / entry.path().filename(),
                    fs::copy_options::overwrite_existing);
    ASSERT_GE(image->width(), 260 + 640);
    ASSERT_GE(image->height(), 180 + 400);
    int inside = 0, total = 0;
    // The window's plain colour area, above its widgets.
    for (int y = 190; y < 360; y += 10) {
      for (int x = 270; x < 890; x += 20, ++total) inside += whitened(image->pixel(x, y));
    }
    // Nothing of the flash outside the window.
    EXPECT_FALSE(whitened(image->pixel(100, 100))) << entry.path();
    if (inside * 10 >= total * 9) ++flashFrames;
  }
  EXPECT_GE(frameCount, 2);
  EXPECT_GE(flashFrames, 1);
}

// A Wayland desktop whose compositor says nothing of its windows (GNOME without
// extensions, here sway with its IPC socket hidden): reported, and nothing captured.
TEST_F(WaylandCapture, WithoutTheCompositorsWindowListNothingIsCaptured) {
  WaylandWindow window;
  ASSERT_TRUE(window.pid());
  const json line =
      debugCapture(ChildEnvironment{{"SWAYSOCK", "I3SOCK"}, {{"XDG_CURRENT_DESKTOP", "GNOME"}}});
  EXPECT_FALSE(line.contains("capture")) << line.dump();
  EXPECT_FALSE(line.contains("error")) << line.dump();
  EXPECT_EQ(line["session"]["type"], "wayland");
  EXPECT_EQ(line["session"]["desktop"], "gnome");
  EXPECT_EQ(line["session"]["unavailable"], (json{"hotkey", "frontmostWindow"})) << line.dump();
  EXPECT_FALSE(fs::exists(path));
}

}  // namespace
}  // namespace zoba::testing::wayland
