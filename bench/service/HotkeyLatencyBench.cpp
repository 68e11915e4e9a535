// From the XTEST press of the chord's second key to the "hotkey" line on the
// host's end of the pipe, on a real display with the host's window in front.
// Run it on a desktop: scripts/headless-desktop.sh run -- build/default/bench/service/hotkey_latency_bench
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopWindow.h"
#include "tests/support/Keyboard.h"

using namespace zoba::testing;
using Clock = std::chrono::steady_clock;

int main() {
  constexpr int chords = 50;
  Keyboard keyboard;
  if (!desktopAvailable() || !keyboard.connected()) {
    std::fprintf(stderr, "needs an X display with XTEST and /usr/bin/python3 with GTK\n");
    return 2;
  }
  DesktopWindow window;
  if (!window.pid()) {
    std::fprintf(stderr, "the GTK window did not come up focused\n");
    return 1;
  }
  ChildProcess helper(ZOBA_CAPTURE_PATH, {"--host-pid", std::to_string(*window.pid())});
  if (!helper.readLine()) return 1;  // "ready": the monitor is in place

  std::vector<double> latencies;
  for (int i = 0; i < chords; ++i) {
    Clock::time_point start, end;
    std::optional<std::string> line;
    keyboard.pressChord([&] { start = Clock::now(); },
                        [&] {
                          line = helper.readLine(2s);
                          end = Clock::now();
                        });
    if (!line || nlohmann::json::parse(*line, nullptr, false).value("type", "") != "hotkey") {
      std::fprintf(stderr, "chord %d: no hotkey line\n", i);
      return 1;
    }
    latencies.push_back(std::chrono::duration<double, std::milli>(end - start).count());
  }
  std::sort(latencies.begin(), latencies.end());
  std::printf("hotkey latency over %d chords (second key press to line read, incl. the XTEST round trip):\n",
              chords);
  std::printf("  median %.3f ms, p90 %.3f ms, max %.3f ms, min %.3f ms\n", latencies[chords / 2],
              latencies[chords * 9 / 10], latencies.back(), latencies.front());
  return 0;
}
