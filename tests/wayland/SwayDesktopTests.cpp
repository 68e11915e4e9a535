// The headless sway desktop itself (scripts/headless-sway.sh): what the Wayland
// backend's tests rely on. Skipped off a sway desktop.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/support/ChildProcess.h"
#include "tests/support/wayland/SwayDesktop.h"

namespace zoba::testing::wayland {
namespace {

using namespace std::chrono_literals;

class SwayDesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!swayDesktopAvailable()) GTEST_SKIP() << "no sway desktop (scripts/headless-sway.sh run -- ...)";
  }
};

TEST_F(SwayDesktopTest, OneHeadlessOutputOf1920By1080) {
  auto outputs = swayMessage("get_outputs");
  ASSERT_TRUE(outputs.is_array()) << outputs;
  ASSERT_EQ(outputs.size(), 1u) << outputs;
  EXPECT_EQ(outputs[0].value("name", ""), "HEADLESS-1");
  auto rect = outputs[0].value("rect", nlohmann::json());
  EXPECT_EQ(rect.value("x", -1), 0);
  EXPECT_EQ(rect.value("y", -1), 0);
  EXPECT_EQ(rect.value("width", 0), 1920);
  EXPECT_EQ(rect.value("height", 0), 1080);
}

TEST_F(SwayDesktopTest, TheSeatHasAKeyboard) {
  auto inputs = swayMessage("get_inputs");
  ASSERT_TRUE(inputs.is_array()) << inputs;
  bool keyboard = false;
  for (const auto& input : inputs) keyboard = keyboard || input.value("type", "") == "keyboard";
  EXPECT_TRUE(keyboard) << inputs;
}

TEST_F(SwayDesktopTest, Gtk3WindowIsFocusedInTheTree) {
  WaylandWindow window;
  ASSERT_TRUE(window.pid()) << "the GTK 3 window did not come up focused";
  const auto& view = *window.view();
  EXPECT_EQ(view.pid, *window.pid());
  EXPECT_EQ(view.appId, "zoba-wayland-window");
  EXPECT_EQ(view.name, "Zoba Wayland window");
  EXPECT_EQ(view.shell, "xdg_shell");
  EXPECT_TRUE(view.focused);
  // Alone on the workspace it is tiled over the whole output.
  EXPECT_EQ(view.rect.x, 0);
  EXPECT_EQ(view.rect.width, 1920);
  EXPECT_EQ(view.rect.y + view.rect.height, 1080);
  EXPECT_GT(view.content.width, 1800) << describe(view.content);
  EXPECT_GT(view.content.height, 1000) << describe(view.content);
}

TEST_F(SwayDesktopTest, PlacedWindowHasTheRectAsked) {
  WaylandWindow window;
  ASSERT_TRUE(window.pid());
  const SwayRect wanted{200, 150, 640, 400};
  ASSERT_TRUE(window.place(wanted)) << describe(window.view()->content);
  auto focused = focusedView();
  ASSERT_TRUE(focused);
  EXPECT_EQ(focused->pid, *window.pid());
  EXPECT_EQ(focused->content, wanted) << describe(focused->content);
  EXPECT_EQ(focused->node.value("type", ""), "floating_con");
}

TEST_F(SwayDesktopTest, ScreenshotOfTheWindowShowsItsColour) {
  WaylandWindowOptions options;
  options.colour = 0xC03060;
  WaylandWindow window(options);
  ASSERT_TRUE(window.pid());
  const SwayRect content{300, 200, 640, 400};
  ASSERT_TRUE(window.place(content));
  // The top of the window is its background only; give it a frame to draw.
  const SwayRect area{content.x + 10, content.y + 10, 300, 150};
  std::optional<platform::Image> shot;
  for (auto end = std::chrono::steady_clock::now() + 3s; std::chrono::steady_clock::now() < end;) {
    shot = screenshot(area);
    if (shot && pixelsNear(*shot, options.colour) == shot->width() * shot->height()) break;
    std::this_thread::sleep_for(50ms);
  }
  ASSERT_TRUE(shot) << "grim failed";
  EXPECT_EQ(shot->width(), area.width);
  EXPECT_EQ(shot->height(), area.height);
  EXPECT_EQ(pixelsNear(*shot, options.colour), shot->width() * shot->height())
      << std::hex << "pixel (0,0): " << shot->pixel(0, 0);
  // Outside the window: not its colour.
  auto outside = screenshot({content.x + content.width + 20, content.y, 50, 50});
  ASSERT_TRUE(outside);
  EXPECT_EQ(pixelsNear(*outside, options.colour), 0);
}

TEST_F(SwayDesktopTest, Gtk3WindowJoinsTheAccessibilityBus) {
  ASSERT_FALSE(accessibilityBusAddress().empty());
  WaylandWindow window;
  ASSERT_TRUE(window.pid());
  auto application = waitForAccessibleApplication(*window.pid());
  ASSERT_TRUE(application) << "the window's process is not among the registry's children";
  auto frames = accessibleChildren(application->busName, "/org/a11y/atspi/accessible/root");
  ASSERT_FALSE(frames.empty());
  std::string frame = frames[0].substr(frames[0].find(' ') + 1);
  EXPECT_EQ(accessibleRoleName(application->busName, frame), "frame");
  EXPECT_EQ(accessibleName(application->busName, frame), "Zoba Wayland window");
  // On Wayland a client does not know where it is: "screen" extents are the window's own.
  auto screen = accessibleExtents(application->busName, frame, 0);
  auto inWindow = accessibleExtents(application->busName, frame, 1);
  ASSERT_TRUE(screen && inWindow);
  EXPECT_EQ(*screen, *inWindow) << describe(*screen) << " vs " << describe(*inWindow);
  EXPECT_EQ(screen->width, window.view()->content.width) << describe(*screen);
  EXPECT_EQ(screen->height, window.view()->content.height) << describe(*screen);
  auto label = findAccessible(application->busName, frame, "label");
  ASSERT_TRUE(label);
  EXPECT_EQ(accessibleName(application->busName, *label), "Wayland label");
  EXPECT_TRUE(findAccessible(application->busName, frame, "push button"));
}

TEST_F(SwayDesktopTest, TypedTextReachesTheFocusedEntry) {
  WaylandWindow window;
  ASSERT_TRUE(window.pid());
  ASSERT_TRUE(typeKeys({"hello wayland"}));
  EXPECT_TRUE(window.waitForLine("text hello wayland")) << "the entry did not get every key";
  // And the accessibility tree shows it.
  auto application = waitForAccessibleApplication(*window.pid());
  ASSERT_TRUE(application);
  auto entry = findAccessible(application->busName, "/org/a11y/atspi/accessible/root", "text");
  ASSERT_TRUE(entry);
  EXPECT_EQ(accessibleText(application->busName, *entry), "hello wayland");
}

// A click through the virtual pointer on the button, found through AT-SPI: on Wayland
// its extents count from the window's surface, which sway's tree places on screen.
TEST_F(SwayDesktopTest, ClickReachesTheButtonUnderThePointer) {
  if (!clickAvailable()) GTEST_SKIP() << "zoba-wl-click was not built";
  WaylandWindow window;
  ASSERT_TRUE(window.pid());
  const SwayRect content{240, 160, 640, 400};
  ASSERT_TRUE(window.place(content));
  auto application = waitForAccessibleApplication(*window.pid());
  ASSERT_TRUE(application);
  auto button = findAccessible(application->busName, "/org/a11y/atspi/accessible/root", "push button");
  ASSERT_TRUE(button);
  std::optional<SwayRect> extents;
  // The extents follow the new size once GTK has laid the window out again.
  for (auto end = std::chrono::steady_clock::now() + 3s; std::chrono::steady_clock::now() < end;) {
    extents = accessibleExtents(application->busName, *button, 1);
    if (extents && extents->width > 0 && extents->width <= content.width) break;
    std::this_thread::sleep_for(50ms);
  }
  ASSERT_TRUE(extents);
  ASSERT_TRUE(
      click(content.x + extents->x + extents->width / 2, content.y + extents->y + extents->height / 2));
  EXPECT_TRUE(window.waitForLine("clicked")) << describe(*extents);
}

// What the chord source over sway IPC sees: a binding added at run time fires once
// for left-then-right, and the focused window gets the left key but not the right.
TEST_F(SwayDesktopTest, ChordFiresABindingAddedAtRunTime) {
  WaylandWindowOptions options;
  options.reportKeys = true;
  WaylandWindow window(options);
  ASSERT_TRUE(window.pid());
  ASSERT_TRUE(swayCommand("bindsym --no-repeat Shift+Shift_R nop zoba-chord-test"));
  ChildProcess events("/usr/bin/swaymsg", {"-r", "-m", "-t", "subscribe", R"(["binding"])"});
  ASSERT_TRUE(events.started());
  // With -m -r swaymsg prints no reply to the subscription itself: give it a moment.
  std::this_thread::sleep_for(300ms);
  ASSERT_TRUE(pressChord("shift"));
  std::optional<nlohmann::json> binding;
  // swaymsg -r -m prints each event pretty-printed over several lines; gather them.
  std::string text;
  for (auto end = std::chrono::steady_clock::now() + 3s;
       std::chrono::steady_clock::now() < end && !binding;) {
    auto line = events.readLine(200ms);
    if (!line) continue;
    text += *line + "\n";
    auto parsed = nlohmann::json::parse(text, nullptr, false);
    if (!parsed.is_discarded()) {
      binding = parsed;
      text.clear();
    }
  }
  swayCommand("unbindsym --no-repeat Shift+Shift_R");
  ASSERT_TRUE(binding) << "no binding event";
  EXPECT_EQ((*binding)["binding"].value("command", ""), "nop zoba-chord-test") << *binding;
  EXPECT_EQ((*binding)["binding"].value("symbol", ""), "Shift_R") << *binding;
  EXPECT_TRUE(window.waitForLine("press Shift_L"));
  EXPECT_TRUE(window.waitForLine("release Shift_L"));
  // Typing goes on after the chord; nothing of Shift_R came before it.
  ASSERT_TRUE(typeKeys({"x"}));
  for (auto line = window.readLine(3s); line; line = window.readLine(3s)) {
    EXPECT_EQ(line->find("Shift_R"), std::string::npos) << *line;
    if (*line == "text x") break;
  }
}

}  // namespace
}  // namespace zoba::testing::wayland
