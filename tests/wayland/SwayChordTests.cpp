// The hotkey chord on the headless sway desktop: the real helper binds the preset's
// keys over sway's IPC, with a native Wayland GTK 3 window in front that reports the
// keys it gets, and removes the bindings when the preset changes and when it ends.
// The "hotkey" lines need the Wayland workspace (the frontmost application from sway's
// tree); without it the helper sees the chord but finds nothing in front and says nothing.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/wayland/SwayDesktop.h"

namespace zoba::testing::wayland {
namespace {

using nlohmann::json;

json parse(const std::optional<std::string>& line) {
  return line ? json::parse(*line, nullptr, false) : json();
}

// Whether `pid` has ended (a zombie counts: its parent is gone and init reaps late).
bool ended(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(") ");
  return text.empty() || close == std::string::npos || text[close + 2] == 'Z';
}

bool waitUntilEnded(pid_t pid, std::chrono::milliseconds timeout = 5s) {
  for (auto end = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < end;) {
    if (ended(pid)) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

class SwayChord : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!swayDesktopAvailable()) GTEST_SKIP() << "needs the headless sway desktop (scripts/headless-sway.sh)";
    WaylandWindowOptions options;
    options.reportKeys = true;
    window = std::make_unique<WaylandWindow>(options);
    ASSERT_TRUE(window->pid()) << "the GTK window did not come up focused";
  }

  std::unique_ptr<ChildProcess> startHelper(pid_t hostPid) {
    auto helper = std::make_unique<ChildProcess>(
        ZOBA_CAPTURE_PATH, std::vector<std::string>{"--host-pid", std::to_string(hostPid)});
    EXPECT_EQ(parse(helper->readLine()).value("type", ""), "ready");
    return helper;
  }

  // The window's key lines until `last` (inclusive) or a second without a line.
  std::vector<std::string> windowKeys(const std::string& last) {
    std::vector<std::string> lines;
    while (auto line = window->readLine(1s)) {
      lines.push_back(*line);
      if (*line == last) break;
    }
    return lines;
  }

  // After the helper has gone and its guard has run, the chord is an ordinary pair of
  // keys again: the window gets all four.
  void expectNothingBound(pid_t guard) {
    ASSERT_TRUE(waitUntilEnded(guard)) << "the guard did not end";
    ASSERT_TRUE(pressChord("shift"));
    EXPECT_EQ(
        windowKeys("release Shift_L"),
        (std::vector<std::string>{"press Shift_L", "press Shift_R", "release Shift_R", "release Shift_L"}));
  }

  // The launcher's one child is the service, and the service's one child its guard.
  static std::optional<pid_t> onlyChild(pid_t parent) {
    auto children = childrenOf(parent);
    if (children.size() != 1) return std::nullopt;
    return children.front();
  }
  static std::optional<pid_t> serviceOf(const ChildProcess& helper) { return onlyChild(helper.pid()); }
  static std::optional<pid_t> guardOf(const ChildProcess& helper) {
    auto service = serviceOf(helper);
    return service ? onlyChild(*service) : std::nullopt;
  }

  std::unique_ptr<WaylandWindow> window;
};

TEST_F(SwayChord, BothShiftKeysFireOnceAndSwayKeepsTheSecondKeyFromTheWindow) {
  auto helper = startHelper(*window->pid());
  ASSERT_TRUE(pressChord("shift"));
  EXPECT_EQ(parse(helper->readLine(5s)), (json{{"type", "hotkey"}, {"target", "host"}}));
  EXPECT_EQ(helper->readLine(300ms), std::nullopt);
  // The binding consumed the right key's press and its release; the left key and the
  // modifier state still reach the window.
  EXPECT_EQ(windowKeys("release Shift_L"), (std::vector<std::string>{"press Shift_L", "release Shift_L"}));

  // The mirror order fires too.
  ASSERT_TRUE(typeKeys({"-P", "Shift_R", "-M", "shift", "-s", "50", "-P", "Shift_L", "-s", "50", "-p",
                        "Shift_L", "-m", "shift", "-p", "Shift_R"}));
  EXPECT_EQ(parse(helper->readLine(5s)), (json{{"type", "hotkey"}, {"target", "host"}}));

  // One Shift key alone is no chord, and reaches the window.
  ASSERT_TRUE(typeKeys({"-P", "Shift_L", "-M", "shift", "-s", "50", "-m", "shift", "-p", "Shift_L"}));
  EXPECT_EQ(helper->readLine(300ms), std::nullopt);
  EXPECT_TRUE(window->waitForLine("release Shift_L"));
}

// The frontmost application decides each chord anew: the host's own window in front
// is the host's business, any other window is captured.
TEST_F(SwayChord, OnlyTheHostInFrontIsAnsweredHost) {
  auto helper = startHelper(*window->pid());
  WaylandWindowOptions other;
  other.title = "Not the host";
  other.appId = "zoba-not-the-host";
  WaylandWindow otherWindow(other);
  ASSERT_TRUE(otherWindow.pid()) << "the second window did not come up focused";
  ASSERT_TRUE(pressChord("shift"));
  EXPECT_EQ(parse(helper->readLine(5s)).value("target", ""), "capture");

  ASSERT_TRUE(window->view());
  ASSERT_TRUE(swayCommand("[con_id=" + std::to_string(window->view()->id) + "] focus"));
  ASSERT_TRUE(waitUntilFocused(*window->pid()));
  ASSERT_TRUE(pressChord("shift"));
  // Lines of the capture still under way may come first.
  bool host = false;
  while (auto line = helper->readLine(5s)) {
    const json message = parse(line);
    if (message.value("type", "") != "hotkey") continue;
    host = message == json{{"type", "hotkey"}, {"target", "host"}};
    break;
  }
  EXPECT_TRUE(host);
}

TEST_F(SwayChord, AnotherPresetRebindsAndShutdownRemovesTheBindings) {
  auto helper = startHelper(*window->pid());
  auto guard = guardOf(*helper);
  ASSERT_TRUE(guard) << "no guard process";
  helper->writeLine(R"({"type":"setHotkey","id":"h","hotkey":"option"})");
  EXPECT_EQ(parse(helper->readLine())["result"], (json{{"hotkey", "option"}}));

  ASSERT_TRUE(pressChord("alt"));
  EXPECT_EQ(parse(helper->readLine(5s)), (json{{"type", "hotkey"}, {"target", "host"}}));
  // Shift is no longer bound: nothing fires, the window gets every key.
  window->waitForLine("release Alt_L", 1s);
  ASSERT_TRUE(pressChord("shift"));
  EXPECT_EQ(helper->readLine(300ms), std::nullopt);
  EXPECT_EQ(windowKeys("release Shift_L"), (std::vector<std::string>{"press Shift_L", "press Shift_R",
                                                                     "release Shift_R", "release Shift_L"}));

  helper->writeLine(R"({"type":"shutdown"})");
  EXPECT_EQ(helper->wait(), 0);
  // The guard holds none of the helper's descriptors: the host sees the output end.
  EXPECT_TRUE(helper->stdoutEnds(2s));
  ASSERT_TRUE(waitUntilEnded(*guard));
  ASSERT_TRUE(pressChord("alt"));
  EXPECT_EQ(windowKeys("release Alt_L"),
            (std::vector<std::string>{"press Alt_L", "press Alt_R", "release Alt_R", "release Alt_L"}));
}

TEST_F(SwayChord, AKilledHelpersBindingsAreRemovedAndDoNotHinderTheNextOne) {
  // The host's SIGTERM reaches the service through the launcher; SIGKILL of the service
  // stands for a crash.
  for (int signal : {SIGTERM, SIGKILL}) {
    SCOPED_TRACE(signal);
    auto helper = startHelper(*window->pid());
    auto service = serviceOf(*helper);
    auto guard = guardOf(*helper);
    ASSERT_TRUE(service && guard) << "no service or no guard process";
    if (signal == SIGTERM) {
      ASSERT_TRUE(helper->kill(signal));
    } else {
      ASSERT_EQ(::kill(*service, signal), 0);
    }
    EXPECT_TRUE(helper->wait());
    expectNothingBound(*guard);
  }
  // Two helpers in turn: the second's bindings replace the first's.
  auto first = startHelper(*window->pid());
  auto second = startHelper(*window->pid());
  ASSERT_TRUE(pressChord("shift"));
  EXPECT_EQ(parse(second->readLine(5s)), (json{{"type", "hotkey"}, {"target", "host"}}));
  EXPECT_EQ(first->readLine(300ms), std::nullopt);
}

}  // namespace
}  // namespace zoba::testing::wayland
