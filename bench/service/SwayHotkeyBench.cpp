// The chord on sway: from sway's `binding` event (sway has just taken the second key's
// press) to the "hotkey" line on the host's end of the pipe, and from wtype's start to
// that line (wtype's process start, its keyboard, and the 50 ms between the keys
// included), with a native GTK 3 window of the host in front.
// Run it on the sway desktop:
//   scripts/headless-sway.sh run -- build/default/bench/service/sway_hotkey_bench
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "Platform/linux/wayland/sway/SwayIpc.h"
#include "bench/Distribution.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/wayland/SwayDesktop.h"

using namespace zoba::testing;
using namespace zoba::testing::wayland;
using zoba::platform::linux_backend::wayland::SwayIpc;
namespace SwayMessage = zoba::platform::linux_backend::wayland::SwayMessage;
using Clock = std::chrono::steady_clock;
using zoba::bench::milliseconds;
using zoba::bench::printDistribution;

int main() {
  constexpr int chords = 40;
  if (!swayDesktopAvailable()) {
    std::fprintf(stderr, "needs the headless sway desktop (scripts/headless-sway.sh run -- ...)\n");
    return 2;
  }
  WaylandWindow window;
  if (!window.pid()) {
    std::fprintf(stderr, "the GTK window did not come up focused\n");
    return 1;
  }
  ChildProcess helper(ZOBA_CAPTURE_PATH, {"--host-pid", std::to_string(*window.pid())});
  if (!helper.readLine()) return 1;  // "ready": the bindings are in place
  auto events = SwayIpc::connect();
  if (!events || !events->request(SwayMessage::subscribe, R"(["binding"])")) {
    std::fprintf(stderr, "no sway IPC\n");
    return 1;
  }

  std::vector<double> fromEvent, fromStart;
  for (int i = 0; i < chords; ++i) {
    const auto start = Clock::now();
    ChildProcess keys("/usr/bin/wtype", {"-P", "Shift_L", "-M", "shift", "-s", "50", "-P", "Shift_R", "-s",
                                         "20", "-p", "Shift_R", "-m", "shift", "-p", "Shift_L"});
    auto event = events->read(std::chrono::milliseconds(2000));
    const auto eventAt = Clock::now();
    auto line = helper.readLine(2s);
    const auto lineAt = Clock::now();
    keys.wait();
    if (!event || event->type != SwayMessage::bindingEvent || !line ||
        nlohmann::json::parse(*line, nullptr, false).value("type", "") != "hotkey") {
      std::fprintf(stderr, "chord %d: no binding event or no hotkey line\n", i);
      return 1;
    }
    fromEvent.push_back(milliseconds(lineAt - eventAt));
    fromStart.push_back(milliseconds(lineAt - start));
  }
  std::printf("sway chord over %d chords:\n", chords);
  printDistribution("binding event -> \"hotkey\" line", fromEvent);
  printDistribution("wtype start -> \"hotkey\" line (incl. 50 ms between the keys)", fromStart);
  return 0;
}
