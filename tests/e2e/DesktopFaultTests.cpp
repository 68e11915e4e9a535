// What the desktop and the host do to a running helper: the captured application
// dies, the host goes away mid-capture, the X server goes away.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopWindow.h"
#include "tests/support/JsonLine.h"
#include "tests/support/Keyboard.h"
#include "tests/support/PanelWindows.h"

namespace zoba::testing {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

bool alive(pid_t pid) { return pid > 0 && ::kill(pid, 0) == 0; }

// CPU seconds the process has used (user + system), from /proc/PID/stat.
double cpuSeconds(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  auto close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int index = 3; fields >> field; ++index) {
    if (index == 14 || index == 15) ticks += std::stod(field);
    if (index == 15) break;
  }
  return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

class DesktopFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!desktopAvailable() || !keyboard.connected()) GTEST_SKIP() << "needs an X display with XTEST";
  }
  void startHelper(const ChildEnvironment& environment = {}) {
    helper = std::make_unique<ChildProcess>(
        ZOBA_CAPTURE_PATH, std::vector<std::string>{"--host-pid", std::to_string(::getpid())}, environment);
    ready = parse(helper->readLine());
    ASSERT_EQ(ready.value("type", ""), "ready") << ready;
    auto children = childrenOf(helper->pid());
    ASSERT_EQ(children.size(), 1u);
    service = children.front();
  }
  void chord() { ASSERT_TRUE(keyboard.pressChord()); }
  // The next line of one of `types`, skipping others, within `bound`.
  json until(const std::vector<std::string>& types, std::chrono::milliseconds bound = 15s) {
    return nextLineOfType(*helper, types, bound);
  }
  void expectAnswers(const std::string& id) {
    ASSERT_TRUE(helper->writeLine(R"({"type":"status","id":")" + id + "\"}"));
    auto response = until({"response"});
    EXPECT_EQ(response.value("id", ""), id) << response;
  }

  Keyboard keyboard;
  std::unique_ptr<ChildProcess> helper;
  json ready;
  pid_t service = -1;
};

TEST_F(DesktopFaults, TheCapturedApplicationKilledAtTheChord) {
  DesktopWindow window({"--title", "Killed at the chord"});
  ASSERT_TRUE(window.pid());
  startHelper();
  chord();
  auto hotkey = until({"hotkey"});
  ASSERT_EQ(hotkey.value("target", ""), "capture") << hotkey;
  ASSERT_EQ(::kill(*window.pid(), SIGKILL), 0);
  // The capture ends one way or the other, and the helper goes on serving.
  auto end = until({"capture", "captureFailed"});
  EXPECT_EQ(end.value("captureId", ""), hotkey["captureId"]) << end;
  expectAnswers("after-kill");
  EXPECT_TRUE(alive(service));
}

TEST_F(DesktopFaults, TheHostClosingStdinMidCaptureEndsEverything) {
  DesktopWindow window({"--title", "Host goes away"});
  ASSERT_TRUE(window.pid());
  startHelper();
  chord();
  ASSERT_EQ(until({"hotkey"}).value("target", ""), "capture");
  // The overlay is up now.
  helper->closeStdin();
  EXPECT_EQ(helper->wait(10s), 0);
  const auto deadline = Clock::now() + 5s;
  while (alive(service) && Clock::now() < deadline) ::usleep(10'000);
  EXPECT_FALSE(alive(service)) << "the service outlived its host";
  EXPECT_TRUE(mappedPanelsOf(service).empty()) << "a panel stayed on screen";
}

// The helper on a private X server that then goes away: it keeps answering, with
// "screenRecording" false, and does not spin.
TEST_F(DesktopFaults, TheXServerGoingAwayLeavesTheHelperAnswering) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t xvfb = ::fork();
  ASSERT_GE(xvfb, 0);
  if (xvfb == 0) {
    ::close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0", "800x600x24",
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  std::string number;
  char c;
  while (::read(fds[0], &c, 1) == 1 && c != '\n') number.push_back(c);
  ::close(fds[0]);
  ASSERT_FALSE(number.empty()) << "Xvfb did not start";

  startHelper({.unset = {}, .set = {{"DISPLAY", ":" + number}}});
  EXPECT_EQ(ready["permissions"]["screenRecording"], true);
  ::kill(xvfb, SIGKILL);
  ::waitpid(xvfb, nullptr, 0);

  // A chord cannot come any more; requests still do, and say the screen is gone.
  const auto deadline = Clock::now() + 10s;
  json permissions;
  for (int round = 0; Clock::now() < deadline; ++round) {
    ASSERT_TRUE(helper->writeLine(R"({"type":"status","id":"s)" + std::to_string(round) + "\"}"));
    auto response = until({"response"}, 5s);
    ASSERT_TRUE(response.is_object()) << "no answer after the X server went away";
    permissions = response["result"]["permissions"];
    if (permissions["screenRecording"] == false) break;
    ::usleep(50'000);
  }
  EXPECT_EQ(permissions["screenRecording"], false);
  // Not spinning: well under half a core over one second.
  const double before = cpuSeconds(service);
  ::usleep(1'000'000);
  EXPECT_LT(cpuSeconds(service) - before, 0.5);
  expectAnswers("still-here");
  helper->closeStdin();
  EXPECT_EQ(helper->wait(10s), 0);
}

}  // namespace
}  // namespace zoba::testing
