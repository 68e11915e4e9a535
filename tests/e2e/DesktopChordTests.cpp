// The hotkey chord on a real X display: keys pressed through XTEST reach the
// helper's raw-key monitor, whatever window has the focus.
#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopWindow.h"
#include "tests/support/JsonLine.h"
#include "tests/support/Keyboard.h"

namespace zoba::testing {
namespace {

using nlohmann::json;

// "+Shift_L" presses a key, "-Shift_L" releases it.
::testing::AssertionResult keys(Keyboard& keyboard, std::initializer_list<std::string_view> steps) {
  for (auto step : steps) {
    bool sent = step[0] == '+' ? keyboard.press(step.substr(1)) : keyboard.release(step.substr(1));
    if (!sent) return ::testing::AssertionFailure() << "could not send " << step;
  }
  return ::testing::AssertionSuccess();
}

class Chord : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!desktopAvailable() || !keyboard.connected()) GTEST_SKIP() << "needs an X display with XTEST";
    window = std::make_unique<DesktopWindow>();
    ASSERT_TRUE(window->pid()) << "the GTK window did not come up focused";
  }

  // The helper serving `hostPid`, once it has said "ready" (its monitor is in place).
  std::unique_ptr<ChildProcess> startHelper(pid_t hostPid, const ChildEnvironment& environment = {}) {
    auto helper = std::make_unique<ChildProcess>(
        ZOBA_CAPTURE_PATH, std::vector<std::string>{"--host-pid", std::to_string(hostPid)}, environment);
    auto ready = parse(helper->readLine());
    EXPECT_EQ(ready.value("type", ""), "ready") << ready;
    return helper;
  }

  Keyboard keyboard;
  std::unique_ptr<DesktopWindow> window;
};

TEST_F(Chord, BothShiftKeysWithTheHostInFrontTellTheHostOnce) {
  auto helper = startHelper(*window->pid());
  ASSERT_TRUE(keys(keyboard, {"+Shift_L", "+Shift_R"}));
  EXPECT_EQ(parse(helper->readLine()), (json{{"type", "hotkey"}, {"target", "host"}}));

  // One key up and down again is not a new chord while the other is held.
  ASSERT_TRUE(keys(keyboard, {"-Shift_R", "+Shift_R", "-Shift_R", "-Shift_L"}));
  EXPECT_EQ(helper->readLine(300ms), std::nullopt);

  // Another preset: shift does nothing, both Alt keys fire.
  helper->writeLine(R"({"type":"setHotkey","id":"h","hotkey":"option"})");
  EXPECT_EQ(parse(helper->readLine())["result"], (json{{"hotkey", "option"}}));
  ASSERT_TRUE(keys(keyboard, {"+Shift_L", "+Shift_R", "-Shift_R", "-Shift_L"}));
  EXPECT_EQ(helper->readLine(300ms), std::nullopt);
  ASSERT_TRUE(keys(keyboard, {"+Alt_L", "+Alt_R", "-Alt_R", "-Alt_L"}));
  EXPECT_EQ(parse(helper->readLine()), (json{{"type", "hotkey"}, {"target", "host"}}));
}

TEST_F(Chord, AnotherApplicationInFrontWithoutAccessibilityAsksForSetup) {
  // No session bus: accessibility cannot be reached, the display still can.
  const ChildEnvironment noBus{{"XDG_RUNTIME_DIR", "AT_SPI_BUS_ADDRESS"},
                               {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/zoba-bus"}}};
  auto helper = startHelper(::getpid(), noBus);
  ASSERT_TRUE(keys(keyboard, {"+Shift_L", "+Shift_R", "-Shift_R", "-Shift_L"}));
  EXPECT_EQ(parse(helper->readLine()),
            (json{{"type", "hotkey"},
                  {"target", "setup"},
                  {"permissions", {{"screenRecording", true}, {"accessibility", false}}}}));
}

TEST_F(Chord, AnotherApplicationInFrontWithBothPermissionsStartsACapture) {
  auto helper = startHelper(::getpid());
  ASSERT_TRUE(keys(keyboard, {"+Shift_L", "+Shift_R", "-Shift_R", "-Shift_L"}));
  auto hotkey = parse(helper->readLine());
  EXPECT_EQ(hotkey.value("type", ""), "hotkey");
  EXPECT_EQ(hotkey.value("target", ""), "capture");
}

}  // namespace
}  // namespace zoba::testing
