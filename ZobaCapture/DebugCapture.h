#pragma once

// The debug capture mode: no host. After a delay it captures the frontmost
// application's window as the hotkey does, writes the screenshot and the text to
// files, prints one "debugCapture" line and ends the process.

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Task.h"
#include "Platform/Workspace.h"
#include "ZobaCapture/Message.h"
#include "ZobaCaptureCore/Rect.h"

namespace zoba {
class CaptureTransition;
}

namespace zoba::DebugCapture {

struct Options {
  std::string path;                            // the PNG; the text goes to path + ".txt"
  std::optional<std::string> delay;            // seconds as decimal text; 5 when absent or not a number
  bool transition = false;                     // play the overlay towards the test card
  std::optional<double> slow;                  // the overlay's time scale
  std::optional<std::string> framesDirectory;  // overlay frames; recorded only with the overlay
};

inline constexpr double defaultDelay = 5.0;
inline constexpr std::int64_t messageTextCharacters = 1500;
// The overlay's own timers end it within 4 time-scaled seconds; the mode waits a
// little longer, so that the landing and the last frame come first.
inline constexpr double finalWait = 5.0;
inline constexpr double slowest = 100;  // --slow values above this wait too long to be meant
// When the frame recorder samples, in tenths of a time-scaled second after it starts.
inline constexpr std::array<double, 8> samplingTimes = {0.3, 1.2, 2.5, 3.5, 4.5, 5.5, 6.5, 8.0};

// Starts the mode on the main loop and returns; the mode ends the process.
void start(Options options);

// The overlay's time scale for a "--slow" value: as given when it is a positive
// finite number up to `slowest`; larger values and +infinity give `slowest`; absent,
// zero, negative and NaN give 1 (normal speed). So no delay is divided by zero and
// none waits without end.
double timeScale(std::optional<double> slow);

// The overlay over the application's focused window, flying towards the test card,
// started; absent without a screen or a window frame.
std::shared_ptr<CaptureTransition> startTransition(const platform::RunningApplication& application);
// The test card: 160 × 96 points, 280 points left of the primary screen's right edge
// and 120 above its bottom (bottom-left space); absent without a screen.
std::optional<Rect> debugTarget();
// Writes the helper's overlay panel over the primary screen as PNG files into
// `directory` at the eight sampling times; a sample that fails is skipped.
Task<void> recordOverlayFrames(std::string directory);
// "frame-%02d-%.1fs.png" of the sample's index and its time-scaled time.
std::string frameFileName(int index, double seconds);

// The payload as the "debugCapture" line carries it, its files written: the
// image's Base64 becomes "<bytes> bytes written to <path>", the text is cut to its
// first 1500 characters beside "textLength". Returns the error text of a file that
// could not be written (the files before it stay).
std::optional<std::string> writeFiles(Message& payload, const std::string& path);

}  // namespace zoba::DebugCapture
