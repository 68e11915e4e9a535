// The chord on KWin: from KWin having handled the second Shift key of the fake-input
// tool (its round trip done) to the "hotkey" line on the host's end of the pipe, the
// keys passing KWin, Xwayland and the helper's XInput2 listener; and from the
// tool's start (its process, its connection and the 50 ms between the keys). A plain
// X client's raw key press splits the first figure into the display servers' part
// (KWin passing the key to Xwayland, Xwayland to its clients) and the helper's. Then
// a whole road with a native window in front: chord -> "captureSnapshot" -> "capture".
// Run it on the KWin desktop:
//   scripts/headless-kwin.sh run -- build/default/bench/service/kwin_hotkey_bench
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "bench/Distribution.h"
#include "bench/service/RawKeyWatch.h"
#include "tests/kwin/KWinDesktop.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/wayland/ChordKeys.h"

using namespace zoba::testing;
using namespace zoba::testing::kwin;
using Clock = std::chrono::steady_clock;
using zoba::bench::milliseconds;
using zoba::bench::printDistribution;

namespace {

std::string typeOf(const std::optional<std::string>& line) {
  return line ? nlohmann::json::parse(*line, nullptr, false).value("type", "") : "";
}

}  // namespace

int main() {
  constexpr int chords = 30, roads = 15;
  if (!kwinDesktopAvailable() || !grantTestPrograms()) {
    std::fprintf(stderr, "needs the headless KWin desktop (scripts/headless-kwin.sh run -- ...)\n");
    return 2;
  }
  KWinKeyboard keyboard;
  KWinGtkWindow window;
  if (!window.pid()) {
    std::fprintf(stderr, "the GTK window did not come up focused\n");
    return 1;
  }
  const auto chord = *wayland::chordKeys("shift");
  const std::string left = std::to_string(chord.leftCode), right = std::to_string(chord.rightCode);
  const std::vector<std::string> keys = {"+" + left, "s50", "+" + right, "p", "s20", "-" + right, "-" + left};
  // X key codes are evdev's plus 8.
  const auto secondKey = static_cast<std::uint8_t>(chord.rightCode + 8);
  zoba::bench::RawKeyWatch watch;

  // The host's own window in front: "hotkey" with the host as its target, no capture.
  std::vector<double> fromHandled, fromStart, toPlainClient, plainClientToLine;
  {
    ChildProcess helper(ZOBA_CAPTURE_PATH, {"--host-pid", std::to_string(*window.pid())});
    if (typeOf(helper.readLine()) != "ready") return 1;
    for (int i = 0; i < chords; ++i) {
      const auto start = Clock::now();
      ChildProcess tool(ZOBA_KWIN_INPUT_PATH, keys);
      auto handled = tool.readLine(2s);
      const auto handledAt = Clock::now();
      auto line = helper.readLine(2s);
      const auto lineAt = Clock::now();
      tool.wait();
      if (!handled || typeOf(line) != "hotkey") {
        std::fprintf(stderr, "chord %d: no hotkey line\n", i);
        return 1;
      }
      fromHandled.push_back(milliseconds(lineAt - handledAt));
      fromStart.push_back(milliseconds(lineAt - start));
      if (auto raw = watch.pressAfter(secondKey, start, 100ms)) {
        toPlainClient.push_back(milliseconds(*raw - handledAt));
        plainClientToLine.push_back(milliseconds(lineAt - *raw));
      }
    }
  }

  // Another application in front: the whole capture, its card landing nowhere.
  std::vector<double> toCaptureHotkey, toSnapshot, toCapture;
  {
    ChildProcess helper(ZOBA_CAPTURE_PATH, {"--host-pid", std::to_string(getpid())});
    if (typeOf(helper.readLine()) != "ready") return 1;
    for (int i = 0; i < roads; ++i) {
      ChildProcess tool(ZOBA_KWIN_INPUT_PATH, keys);
      if (!tool.readLine(2s)) return 1;
      const auto handledAt = Clock::now();
      std::optional<Clock::time_point> hotkeyAt, snapshotAt, captureAt;
      for (auto end = Clock::now() + 10s; Clock::now() < end && !captureAt;) {
        const auto line = helper.readLine(100ms);
        const auto type = typeOf(line);
        if (type == "hotkey") hotkeyAt = Clock::now();
        if (type == "captureSnapshot") snapshotAt = Clock::now();
        if (type == "capture") captureAt = Clock::now();
      }
      tool.wait();
      if (!hotkeyAt || !snapshotAt || !captureAt) {
        std::fprintf(stderr, "road %d: no snapshot or capture\n", i);
        return 1;
      }
      toCaptureHotkey.push_back(milliseconds(*hotkeyAt - handledAt));
      toSnapshot.push_back(milliseconds(*snapshotAt - handledAt));
      toCapture.push_back(milliseconds(*captureAt - handledAt));
      // The overlay ends before the next chord.
      while (typeOf(helper.readLine(3s)) != "captureLanded") {
      }
    }
  }
  std::printf("KWin chord over %d chords, whole road over %d:\n", chords, roads);
  printDistribution("second key handled by KWin -> \"hotkey\" line", fromHandled, "(goal <= 5 ms)");
  printDistribution("tool start -> \"hotkey\" line (incl. 50 ms between the keys)", fromStart);
  printDistribution("second key handled -> raw press at a plain X client", toPlainClient);
  printDistribution("raw press at a plain X client -> \"hotkey\" line", plainClientToLine);
  printDistribution("second key handled -> \"hotkey\" (a capture)", toCaptureHotkey, "(goal <= 5 ms)");
  printDistribution("second key handled -> \"captureSnapshot\"", toSnapshot, "(goal <= 100 ms)");
  printDistribution("second key handled -> \"capture\" (with the outline)", toCapture, "(goal <= 250 ms)");
  return 0;
}
