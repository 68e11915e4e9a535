// What other programs' accessibility can do to a running helper: the accessibility
// bus goes away and comes back, and an application puts a hostile tree on it
// (tests/support/apps/hostile_tree.py).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/DebugCapture.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopWindow.h"
#include "tests/support/JsonLine.h"
#include "tests/support/Keyboard.h"

namespace zoba::testing {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

const std::string desktopScript = ZOBA_E2E_SOURCE_DIR "/../../scripts/headless-desktop.sh";

// A field of /proc/PID/status in kilobytes; -1 when absent.
long statusKilobytes(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  }
  return -1;
}

// The helper as a host runs it, with the chord pressed through XTEST.
class HelperSession {
 public:
  HelperSession() {
    helper = std::make_unique<ChildProcess>(
        ZOBA_CAPTURE_PATH, std::vector<std::string>{"--host-pid", std::to_string(::getpid())});
    auto ready = parse(helper->readLine(15s));
    EXPECT_EQ(field(ready, "type"), "ready") << ready;
    auto children = childrenOf(helper->pid());
    if (children.size() == 1) service = children.front();
  }
  bool chord() { return keyboard.pressChord(); }
  // The next line of one of `types`, skipping others, within `bound`.
  json until(const std::vector<std::string>& types, std::chrono::milliseconds bound = 15s) {
    return nextLineOfType(*helper, types, bound);
  }
  bool answers(const std::string& id) {
    if (!helper->writeLine(R"({"type":"status","id":")" + id + "\"}")) return false;
    return field(until({"response"}, 10s), "id") == id;
  }
  // Presses the chord and returns how the capture ended ("capture" or
  // "captureFailed"), after its overlay has landed; null when it did not start.
  json capture() {
    if (!chord()) return json();
    auto hotkey = until({"hotkey"}, 30s);
    if (field(hotkey, "target") != "capture") {
      ADD_FAILURE() << "no capture started: " << hotkey;
      return json();
    }
    hotkeyAt = Clock::now();
    auto end = until({"captureSnapshot", "capture", "captureFailed"}, 30s);
    if (field(end, "type") == "captureSnapshot") {
      snapshotAt = Clock::now();
      end = until({"capture", "captureFailed"}, 30s);
    }
    endedAt = Clock::now();
    EXPECT_EQ(field(end, "captureId"), field(hotkey, "captureId")) << end;
    if (hotkey.value("animated", false) && field(end, "type") == "capture") until({"captureLanded"});
    return end;
  }

  Keyboard keyboard;
  std::unique_ptr<ChildProcess> helper;
  pid_t service = -1;
  Clock::time_point hotkeyAt, snapshotAt, endedAt;
};

// The capture's outline: the text after its header line, or empty.
std::string outlineOf(const json& end) {
  const std::string text =
      end.is_object() && end.contains("capture") ? field(end["capture"], "text") : std::string();
  auto feed = text.find('\n');
  return feed == std::string::npos ? "" : text.substr(feed + 1);
}

// ---- the accessibility bus goes away and comes back ---------------------------

// A desktop of the test's own, so that taking its accessibility bus away disturbs
// no other test: the test process and its children use it while the test runs.
class PrivateDesktop {
 public:
  PrivateDesktop() {
    ChildProcess start(desktopScript, {"start"}, {.unset = {"ZOBA_DESKTOP_STATE"}, .set = {}});
    for (const auto& line : start.readAllLines(60s)) {
      const std::string prefix = "export ";
      auto equals = line.find('=');
      if (line.rfind(prefix, 0) != 0 || equals == std::string::npos) continue;
      std::string name = line.substr(prefix.size(), equals - prefix.size());
      const char* old = std::getenv(name.c_str());
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      ::setenv(name.c_str(), line.substr(equals + 1).c_str(), 1);
      if (name == "ZOBA_DESKTOP_STATE") state_ = line.substr(equals + 1);
    }
    start.wait(10s);
  }
  ~PrivateDesktop() {
    if (!state_.empty()) ChildProcess(desktopScript, {"stop", state_}).wait(30s);
    for (const auto& [name, value] : saved_) {
      if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
  }
  bool started() const { return !state_.empty(); }

  // The accessibility bus's launcher, its daemon and the registry of this desktop.
  std::vector<pid_t> accessibilityProcesses() const {
    std::vector<pid_t> found;
    const std::string marker = "ZOBA_DESKTOP_STATE=" + state_;
    for (const auto& entry : fs::directory_iterator("/proc")) {
      const std::string name = entry.path().filename();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      const pid_t pid = std::stoi(name);
      auto arguments = argumentsOf(pid);
      if (arguments.empty()) continue;
      const std::string program = fs::path(arguments.front()).filename();
      const bool accessibilityBus = program == "dbus-daemon" &&
                                    std::any_of(arguments.begin(), arguments.end(), [](const std::string& a) {
                                      return a.find("accessibility.conf") != std::string::npos;
                                    });
      if (!accessibilityBus && program != "at-spi-bus-launcher" && program != "at-spi2-registryd") continue;
      std::ifstream environ(entry.path() / "environ");
      std::string variable;
      while (std::getline(environ, variable, '\0')) {
        if (variable == marker) {
          found.push_back(pid);
          break;
        }
      }
    }
    return found;
  }

 private:
  std::string state_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(AccessibilityBusFaults, TheBusGoingAwayAndComingBack) {
  if (!desktopAvailable()) GTEST_SKIP() << "needs an X display and GTK";
  PrivateDesktop desktop;
  ASSERT_TRUE(desktop.started());
  auto window =
      std::make_unique<DesktopWindow>(std::vector<std::string>{"--title", "Before the bus went away"});
  ASSERT_TRUE(window->pid());
  HelperSession session;
  ASSERT_TRUE(session.keyboard.connected());
  // The helper holds its connection to the bus from this capture on.
  auto first = session.capture();
  ASSERT_EQ(field(first, "type"), "capture") << first;
  EXPECT_NE(outlineOf(first).find("Hello from GTK"), std::string::npos) << first;

  auto bus = desktop.accessibilityProcesses();
  ASSERT_GE(bus.size(), 2u) << "the accessibility bus and registry are not running";
  for (pid_t pid : bus) ::kill(pid, SIGKILL);
  const auto gone = Clock::now() + 5s;
  while (!desktop.accessibilityProcesses().empty() && Clock::now() < gone) ::usleep(20'000);
  ASSERT_TRUE(desktop.accessibilityProcesses().empty());

  // Without the bus a chord still ends in what a host can follow. The application
  // may end with its bus: GTK's accessibility bridge aborts when it cannot reconnect
  // at once. With no application in front, a chord does nothing.
  ASSERT_TRUE(session.chord());
  json hotkey;
  for (const auto bound = Clock::now() + 30s; hotkey.is_null() && Clock::now() < bound && !window->ended();) {
    hotkey = session.until({"hotkey"}, 500ms);
  }
  if (hotkey.is_null()) hotkey = session.until({"hotkey"}, 2s);  // said before the application ended
  if (hotkey.is_null()) {
    EXPECT_TRUE(window->ended()) << "no answer to the chord while the application runs";
    std::printf("[ no bus   ] the application ended with its bus; the chord found nothing in front\n");
  } else if (field(hotkey, "target") == "capture") {
    auto end = session.until({"capture", "captureFailed"}, 30s);
    EXPECT_EQ(field(end, "captureId"), field(hotkey, "captureId")) << end;
    std::printf("[ no bus   ] %s %s\n", field(end, "type").c_str(), field(end, "error").c_str());
  } else {
    EXPECT_EQ(field(hotkey, "target"), "setup") << hotkey;
  }
  // And it keeps answering the host.
  EXPECT_TRUE(session.answers("without-bus"));

  ASSERT_EQ(ChildProcess(desktopScript, {"accessibility"}).wait(30s), 0);
  // An application that joins the new bus is read again.
  window.reset();
  DesktopWindow again({"--title", "After the bus came back", "--text", "Read again"});
  ASSERT_TRUE(again.pid());
  auto after = session.capture();
  ASSERT_EQ(field(after, "type"), "capture") << after;
  EXPECT_NE(outlineOf(after).find("Read again"), std::string::npos) << after;
  EXPECT_TRUE(session.answers("after-bus"));
  session.helper->closeStdin();
  EXPECT_EQ(session.helper->wait(10s), 0);
}

// ---- hostile trees ------------------------------------------------------------

struct HostileCase {
  const char* tree;
  const char* expected;  // a line the outline must hold
  // The application itself, sending 100,000 children or a 10 MB name from Python, may
  // answer too late on a loaded machine or under ThreadSanitizer: then no more than
  // the window is read.
  bool mayStopAtTheWindow = false;
};
void PrintTo(const HostileCase& c, std::ostream* out) { *out << c.tree; }

class HostileTrees : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileTrees, TheWalkStaysInsideItsBounds) {
  if (!desktopAvailable()) GTEST_SKIP() << "needs an X display and GTK";
  AppWindow app("/usr/bin/python3", {ZOBA_TEST_SUPPORT_DIR "/apps/hostile_tree.py", GetParam().tree});
  ASSERT_TRUE(app.pid()) << "the hostile application did not come up";
  HelperSession session;
  ASSERT_TRUE(session.keyboard.connected());
  auto end = session.capture();
  ASSERT_EQ(field(end, "type"), "capture") << end;
  const std::string text = field(end["capture"], "text");
  const std::string outline = outlineOf(end);

  // Records up to depth 64 (a tab per level), at most 8,000 of them, and the text
  // within its budget of 40,000 UTF-16 units (a UTF-8 byte count bounds them).
  std::size_t lines = 0, deepest = 0;
  for (std::size_t at = 0; at < outline.size();) {
    auto feed = std::min(outline.find('\n', at), outline.size());
    deepest = std::max(deepest, outline.find_first_not_of('\t', at) - at);
    ++lines;
    at = feed + 1;
  }
  EXPECT_LE(deepest, 64u);
  EXPECT_LE(lines, 8001u);  // and the focus line
  EXPECT_LE(text.size(), 4u * 40000u);
  const auto units = std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; });
  EXPECT_LE(units, 40000);
  if (!(GetParam().mayStopAtTheWindow && lines <= 1)) {
    EXPECT_NE(outline.find(GetParam().expected), std::string::npos) << text.substr(0, 2000);
  }

  // Nothing waits past the walk's deadline by more than the calls in flight when it
  // passes: 1.2 s of walk, the application's set-up calls before it, the overlay's
  // wait and scheduling on a loaded machine.
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(session.endedAt - session.hotkeyAt);
  EXPECT_LT(took, 6s);
  const long peak = statusKilobytes(session.service, "VmHWM");
  std::printf("[ hostile  ] %s: %zu lines, depth %zu, %lld ms from the chord, peak resident %ld KiB\n",
              GetParam().tree, lines, deepest, static_cast<long long>(took.count()), peak);
  EXPECT_TRUE(session.answers("after-hostile"));
}

INSTANTIATE_TEST_SUITE_P(Desktop, HostileTrees,
                         ::testing::Values(HostileCase{"name", "label hostile hostile", true},
                                           HostileCase{"wide", "Many", true},
                                           HostileCase{"cycle", "panel Cycle B"},
                                           HostileCase{"deep", "panel Level 20"},
                                           HostileCase{"mute", "Button 18"}),
                         [](const auto& info) { return std::string(info.param.tree); });

// GTK 4 answers a call in about a millisecond once the window is large, has no
// Collection (the focus is searched for element by element) and builds its
// accessible objects as they are first asked for. The capture still ends at the
// walk's deadline, with the window's first elements: neither the focus search's
// leftovers nor the read-ahead of the grid's rows may hold what the walk waits for.
TEST(SlowApplication, ALargeGtk4WindowIsCapturedWithinTheWalksDeadline) {
  if (!desktopAvailable()) GTEST_SKIP() << "needs an X display and GTK";
  if (ChildProcess("/usr/bin/python3", {"-c", "import gi; gi.require_version('Gtk', '4.0')"}).wait(30s) != 0)
    GTEST_SKIP() << "needs gir1.2-gtk-4.0";
  AppWindow app("/usr/bin/python3", {ZOBA_TEST_SUPPORT_DIR "/apps/gtk4_window.py", "600"});
  ASSERT_TRUE(app.pid()) << "the GTK 4 window did not come up";
  HelperSession session;
  ASSERT_TRUE(session.keyboard.connected());
  // The first questions find GTK 4 still making the window's objects, past the
  // call timeout: the first capture may find no window. The second is the case.
  ASSERT_EQ(field(session.capture(), "type"), "capture");
  auto end = session.capture();
  ASSERT_EQ(field(end, "type"), "capture") << end;
  const std::string outline = outlineOf(end);
  EXPECT_NE(outline.find(", Value: gtk4 typed text\n"), std::string::npos) << outline.substr(0, 2000);
  // The walk begins after the preview, at the overlay's reveal (0.1 s after the
  // chord) at the latest, and ends 1.2 s later, the focus search inside it.
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  ASSERT_GT(session.snapshotAt, session.hotkeyAt) << "no preview";
  const auto took = duration_cast<milliseconds>(session.endedAt - session.snapshotAt);
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
  constexpr auto bound = 2500ms;  // instrumented, the PNG between the preview and the walk takes longer
#else
  constexpr auto bound = 1500ms;
#endif
  EXPECT_LT(took, bound);
  std::printf(
      "[ slow     ] GTK 4, 2,400 labels: %zu bytes of outline, %lld ms from the chord, %lld from the "
      "preview\n",
      outline.size(),
      static_cast<long long>(duration_cast<milliseconds>(session.endedAt - session.hotkeyAt).count()),
      static_cast<long long>(took.count()));
  EXPECT_TRUE(session.answers("after-slow"));
}

}  // namespace
}  // namespace zoba::testing
