// Walks a large GTK 3 window (with --gtk4 a GTK 4 one) in full detail and prints
// elements, milliseconds and D-Bus calls per element, for a cold walk (the toolkit
// builds its accessible objects as they are first asked for) and for warm ones.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "Platform/Platform.h"
#include "Platform/linux/Backends.h"
#include "Platform/linux/atspi/AtspiStats.h"
#include "WalkFigures.h"
#include "ZobaCapture/AXTree.h"
#include "ZobaCaptureCore/AXTreeFormatter.h"

using namespace zoba;
using namespace std::chrono_literals;

namespace {

pid_t openWindow(const char* rows, bool gtk4, bool grid) {
  int out[2];
  if (pipe(out) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    const std::string script = std::string(ZOBA_BENCH_SOURCE_DIR) + "/gtk_window.py";
    execl("/usr/bin/python3", "python3", script.c_str(), "120", rows, gtk4 ? "4" : "3",
          grid ? "grid" : "list", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  pollfd ready{out[0], POLLIN, 0};
  std::string line;
  char ch;
  while (poll(&ready, 1, 30000) > 0 && read(out[0], &ch, 1) == 1 && ch != '\n') line.push_back(ch);
  close(out[0]);
  return line == "ready" ? pid : -1;
}

}  // namespace

int main(int argc, char** argv) {
  // [rows] [--print] [--gtk4] [--grid]; --grid lays the rows out on screen at once
  const char* rows = "600";
  bool printOutline = false, gtk4 = false, grid = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--print")
      printOutline = true;
    else if (argument == "--gtk4")
      gtk4 = true;
    else if (argument == "--grid")
      grid = true;
    else
      rows = argv[i];
  }
  platform::install(platform::makePlatform());
  auto& ax = *platform::current().accessibility;
  auto& clock = *platform::current().runLoop;
  const auto* counter = dynamic_cast<const platform::linux_backend::atspi::CallCounter*>(&ax);

  pid_t pid = openWindow(rows, gtk4, grid);
  if (pid < 0) {
    std::fprintf(stderr, "ax_bench: the GTK window did not come up\n");
    return 1;
  }
  std::optional<platform::AXElement> app, window;
  for (int attempt = 0; attempt < 100 && !window; ++attempt) {
    if (!app) app = ax.applicationElement(pid);
    if (app) {
      window = AXTree::element(*app, "AXFocusedWindow");
      if (!window) window = AXTree::element(*app, "AXMainWindow");
    }
    if (!window) std::this_thread::sleep_for(100ms);
  }
  if (!window) {
    std::fprintf(stderr, "ax_bench: the window is not on the accessibility bus\n");
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return 1;
  }
  ax.setMessagingTimeout(*app, 0.5);

  std::printf("GTK %d window, %s %s rows\n", gtk4 ? 4 : 3, rows, grid ? "grid" : "list");
  bench::printWalkHeader();
  for (int walk = 0; walk < 5; ++walk) {
    const std::uint64_t callsBefore = counter ? counter->callsSent() : 0;
    const double started = clock.now();
    const double cpuBefore = bench::cpuSeconds();
    const double appBefore = bench::processCpuSeconds(pid);
    AXSnapshot snapshot = AXTree::snapshot(*window, *app, started + 30.0);
    const double seconds = clock.now() - started;
    const double cpu = bench::cpuSeconds() - cpuBefore;
    const double appCpu = bench::processCpuSeconds(pid) - appBefore;
    const std::uint64_t calls = (counter ? counter->callsSent() : 0) - callsBefore;
    bench::printWalkRow(walk == 0 ? "cold" : "warm", snapshot.nodes.size(), seconds, snapshot.timedOut, calls,
                        cpu, appCpu);
    std::this_thread::sleep_for(1100ms);  // past the read-ahead's lifetime: every walk reads afresh
  }
  if (printOutline) {
    AXSnapshot snapshot = AXTree::snapshot(*window, *app, clock.now() + 30.0);
    // Every field, so that two builds' walks can be compared line by line.
    auto text = [](const std::optional<std::string>& field) {
      return field ? "\"" + *field + "\"" : std::string("-");
    };
    for (const auto& node : snapshot.nodes) {
      std::printf("%*s%s rd=%s t=%s v=%s d=%s p=%s u=%s%s%s%s\n", static_cast<int>(node.depth * 2), "",
                  node.role.c_str(), text(node.roleDescription).c_str(), text(node.title).c_str(),
                  text(node.value).c_str(), text(node.description).c_str(), text(node.placeholder).c_str(),
                  text(node.url).c_str(), node.settable ? " settable" : "", node.selected ? " selected" : "",
                  node.focused ? " focused" : "");
    }
  }
  // The capture path's own budget.
  const double started = clock.now();
  AXSnapshot bounded = AXTree::snapshot(*window, *app, started + 1.2);
  std::printf("with the 1.2 s deadline: %zu elements in %.1f ms, timedOut %s\n", bounded.nodes.size(),
              (clock.now() - started) * 1000.0, bounded.timedOut ? "yes" : "no");

  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  return 0;
}
