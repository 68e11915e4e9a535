#pragma once

// What a plain client of KWin's ScreenShot2 does for a window's PNG, the benchmark's
// point of comparison: CaptureActiveWindow over GDBus, the raw pixels read from the
// pipe, a PNG encode.

#include <optional>

namespace zoba::bench {

// Milliseconds for one active-window screenshot and its PNG; absent when KWin refused.
std::optional<double> kwinPlainShotMs();

}  // namespace zoba::bench
