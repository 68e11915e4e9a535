#pragma once

// The debug capture mode: no host. After a delay it captures the frontmost
// application's window as the hotkey does, writes the screenshot and the text to
// files, prints one "debugCapture" line and ends the process.

#include <optional>
#include <string>

#include "ZobaCapture/Message.h"

namespace zoba::DebugCapture {

struct Options {
  std::string path;                            // the PNG; the text goes to path + ".txt"
  std::optional<std::string> delay;            // seconds as decimal text; 5 when absent or not a number
  bool transition = false;                     // play the overlay (not built yet: ignored)
  std::optional<double> slow;                  // the overlay's time scale
  std::optional<std::string> framesDirectory;  // overlay frames (not built yet: ignored)
};

inline constexpr double defaultDelay = 5.0;
inline constexpr std::int64_t messageTextCharacters = 1500;

// Starts the mode on the main loop and returns; the mode ends the process.
void start(Options options);

// The payload as the "debugCapture" line carries it, its files written: the
// image's Base64 becomes "<bytes> bytes written to <path>", the text is cut to its
// first 1500 characters beside "textLength". Returns the error text of a file that
// could not be written (the files before it stay).
std::optional<std::string> writeFiles(Message& payload, const std::string& path);

}  // namespace zoba::DebugCapture
