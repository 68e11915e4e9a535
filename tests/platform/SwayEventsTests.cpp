// The chord's source on sway against a stand-in for its socket: which bindings it
// adds and removes, the flags words a recorded stream of `binding` events becomes,
// and the guard that removes the bindings after the process has gone.
#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Events.h"
#include "Platform/linux/Backends.h"
#include "Platform/linux/wayland/sway/BindingGuard.h"
#include "ZobaCaptureCore/Chord.h"
#include "tests/platform/FakeSway.h"

namespace zoba::platform::linux_backend {
namespace {

using namespace std::chrono_literals;
using testing::FakeSway;
using wayland::BindingGuard;
namespace Flag = ModifierFlag;

constexpr std::uint32_t bindingEvent = 0x80000005u;

// A binding event as sway 1.7 sends it, for `command`.
std::string bindingEventPayload(const std::string& command, const std::string& symbol) {
  return R"({"change":"run","binding":{"command":")" + command +
         R"(","event_state_mask":["Shift"],"input_codes":[],"input_code":0,"symbols":[")" + symbol +
         R"("],"symbol":")" + symbol + R"(","input_type":"keyboard"}})";
}

class SwayEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* previous = std::getenv("SWAYSOCK");
    if (previous) saved_ = previous;
    ::setenv("SWAYSOCK", sway.path().c_str(), 1);
  }
  void TearDown() override {
    if (saved_) {
      ::setenv("SWAYSOCK", saved_->c_str(), 1);
    } else {
      ::unsetenv("SWAYSOCK");
    }
  }

  // Runs the default main context until `flags` holds `count` words or a second passed.
  void pumpUntil(std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + 1s;
    while (flags.size() < count && std::chrono::steady_clock::now() < deadline) {
      g_main_context_iteration(nullptr, FALSE);
      std::this_thread::sleep_for(1ms);
    }
  }

  std::string tag() const { return "zoba-chord-" + std::to_string(::getpid()); }

  FakeSway sway;
  std::vector<std::uint64_t> flags;

 private:
  std::optional<std::string> saved_;
};

TEST_F(SwayEventsTest, BindsThePresetsKeysAndTurnsItsBindingEventsIntoOneChordEach) {
  auto events = makeSwayEvents();
  ASSERT_TRUE(events);
  auto monitor = events->addGlobalFlagsChangedMonitor([this](std::uint64_t word) { flags.push_back(word); });
  ASSERT_TRUE(monitor);
  ASSERT_TRUE(sway.waitForCommands(1));
  // Until told, every pair is watched.
  EXPECT_NE(sway.commands()[0].find("Shift+Shift_R"), std::string::npos);
  EXPECT_NE(sway.commands()[0].find("Mod1+Alt_R"), std::string::npos);
  EXPECT_NE(sway.commands()[0].find("Mod4+Super_R"), std::string::npos);

  monitor->watchKeys(Flag::leftShift | Flag::rightShift);
  ASSERT_TRUE(sway.waitForCommands(3));
  EXPECT_EQ(sway.commands()[2], "bindsym --no-repeat --inhibited Shift+Shift_R nop " + tag() +
                                    " shift; bindsym --no-repeat --inhibited Shift+Shift_L nop " + tag() +
                                    " shift");
  monitor->watchKeys(Flag::leftShift | Flag::rightShift);  // the same keys: nothing to do
  EXPECT_FALSE(sway.waitForCommands(4, 100ms));

  // A recorded stream: our chord in both orders, the user's binding, another helper's.
  sway.emit(bindingEvent, bindingEventPayload("nop " + tag() + " shift", "Shift_R"));
  sway.emit(bindingEvent, bindingEventPayload("nop other", "x"));
  sway.emit(bindingEvent, bindingEventPayload("nop zoba-chord-1 shift", "Shift_R"));
  sway.emit(bindingEvent, bindingEventPayload("nop " + tag() + " shift", "Shift_L"));
  pumpUntil(4);
  const std::uint64_t chord = Flag::leftShift | Flag::rightShift | Flag::shift;
  EXPECT_EQ(flags, (std::vector<std::uint64_t>{chord, 0, chord, 0}));
  ChordDetector detector(ChordPreset::shift);
  int fired = 0;
  for (auto word : flags) fired += detector.update(word);
  EXPECT_EQ(fired, 2);

  monitor.reset();
  ASSERT_TRUE(sway.waitForCommands(4));
  EXPECT_EQ(sway.commands()[3], "unbindsym --inhibited Shift+Shift_R; unbindsym --inhibited Shift+Shift_L");
}

TEST_F(SwayEventsTest, AHandlerThatDropsItsMonitorGetsNoMoreWords) {
  auto events = makeSwayEvents();
  ASSERT_TRUE(events);
  std::unique_ptr<EventMonitor> monitor;
  monitor = events->addGlobalFlagsChangedMonitor([&](std::uint64_t word) {
    flags.push_back(word);
    monitor.reset();
  });
  ASSERT_TRUE(monitor);
  sway.emit(bindingEvent, bindingEventPayload("nop " + tag() + " option", "Alt_R"));
  pumpUntil(1);
  for (int i = 0; i < 20; ++i) g_main_context_iteration(nullptr, FALSE);
  EXPECT_EQ(flags, (std::vector<std::uint64_t>{Flag::leftOption | Flag::rightOption | Flag::option}));
  EXPECT_FALSE(monitor);
}

TEST_F(SwayEventsTest, NoSocketNoSource) {
  ::setenv("SWAYSOCK", "/nonexistent/sway.sock", 1);
  EXPECT_FALSE(makeSwayEvents());
}

TEST_F(SwayEventsTest, TheGuardRunsTheLastCleanupWhenItsProcessHasGone) {
  // Killed: no destructor runs, the guard still removes what was bound last.
  const pid_t helper = ::fork();
  ASSERT_GE(helper, 0);
  if (helper == 0) {
    auto guard = BindingGuard::start(sway.path());
    if (!guard || !guard->setCleanup("unbindsym --inhibited Shift+Shift_R") ||
        !guard->setCleanup("unbindsym --inhibited Mod1+Alt_R"))
      ::_exit(1);
    ::raise(SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(helper, &status, 0), helper);
  ASSERT_TRUE(WIFSIGNALED(status));
  ASSERT_TRUE(sway.waitForCommands(1));
  EXPECT_EQ(sway.commands(), std::vector<std::string>{"unbindsym --inhibited Mod1+Alt_R"});

  // Told there is nothing left to remove, it connects to nobody.
  {
    auto guard = BindingGuard::start(sway.path());
    ASSERT_TRUE(guard);
    ASSERT_TRUE(guard->setCleanup("unbindsym --inhibited Shift+Shift_L"));
    ASSERT_TRUE(guard->setCleanup(""));
    EXPECT_FALSE(guard->setCleanup(std::string(BindingGuard::maxCommands + 1, 'x')));
  }
  EXPECT_EQ(sway.commands().size(), 1u);
}

}  // namespace
}  // namespace zoba::platform::linux_backend
