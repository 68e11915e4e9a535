// Walks hostile accessibility trees (tests/support/apps/hostile_tree.py) the way a capture
// does, with its deadline and call timeout, and prints per tree the records, the
// deepest record, the wall time, the outline's length and this process's peak
// resident memory during the walk.
//   scripts/headless-desktop.sh run -- build/<dir>/bench/ax/ax_hostile_bench [CASE...]
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Platform.h"
#include "ZobaCapture/AXTree.h"
#include "ZobaCapture/WindowCapture.h"
#include "ZobaCaptureCore/AXTreeFormatter.h"

using namespace zoba;
using namespace std::chrono_literals;

namespace {

struct App {
  pid_t pid = -1;
  int input = -1;  // the app ends when this closes
};

App openHostile(const std::string& name) {
  int out[2], in[2];
  if (pipe(out) != 0 || pipe(in) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(in[0], 0);
    close(in[1]);
    execl("/usr/bin/python3", "python3", ZOBA_HOSTILE_SCRIPT, name.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  close(in[0]);
  pollfd ready{out[0], POLLIN, 0};
  std::string line;
  char ch;
  while (poll(&ready, 1, 30000) > 0 && read(out[0], &ch, 1) == 1 && ch != '\n') line.push_back(ch);
  close(out[0]);
  return {line.empty() ? -1 : pid, in[1]};
}

// Kilobytes of a /proc/self/status field.
long statusKilobytes(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  }
  return -1;
}

// Starts the peak resident size afresh from the current one.
void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> cases(argv + 1, argv + argc);
  if (cases.empty()) cases = {"name", "wide", "cycle", "deep", "mute"};
  platform::install(platform::makePlatform());
  auto& ax = *platform::current().accessibility;
  auto& clock = *platform::current().runLoop;

  std::printf("deadline %.1f s, call timeout %.2f s, %zu records, depth %lld\n",
              WindowCapture::snapshotSeconds, WindowCapture::captureMessagingTimeout, AXTree::maxRecords,
              static_cast<long long>(AXTree::maxChildDepth + 1));
  std::printf("%-6s %8s %6s %9s %9s %9s %9s %9s\n", "tree", "records", "depth", "walk ms", "timedOut", "text",
              "RSS MB", "peak MB");
  for (const auto& name : cases) {
    App hostile = openHostile(name);
    std::optional<platform::AXElement> app, window;
    for (int attempt = 0; hostile.pid > 0 && attempt < 50 && !window; ++attempt) {
      app = ax.applicationElement(hostile.pid);
      if (app) {
        ax.setMessagingTimeout(*app, WindowCapture::captureMessagingTimeout);
        window = AXTree::element(*app, "AXFocusedWindow");
      }
      if (!window) std::this_thread::sleep_for(100ms);
    }
    if (!window) {
      std::printf("%-6s the hostile application did not come up\n", name.c_str());
    } else {
      resetPeak();
      const double started = clock.now();
      AXSnapshot snapshot = AXTree::snapshot(*window, *app, started + WindowCapture::snapshotSeconds);
      const double seconds = clock.now() - started;
      std::int64_t depth = 0;
      for (const auto& node : snapshot.nodes) depth = std::max(depth, node.depth);
      const auto outline = AXTreeFormatter::format(snapshot.nodes, WindowCapture::textBudget);
      std::printf("%-6s %8zu %6lld %9.0f %9s %9zu %9.1f %9.1f\n", name.c_str(), snapshot.nodes.size(),
                  static_cast<long long>(depth), seconds * 1000.0, snapshot.timedOut ? "yes" : "no",
                  outline.text.size(), static_cast<double>(statusKilobytes("VmRSS")) / 1024.0,
                  static_cast<double>(statusKilobytes("VmHWM")) / 1024.0);
    }
    if (hostile.input >= 0) close(hostile.input);
    if (hostile.pid > 0) {
      kill(hostile.pid, SIGTERM);
      waitpid(hostile.pid, nullptr, 0);
    }
  }
  return 0;
}
