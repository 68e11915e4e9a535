#pragma once

// The debug capture mode of the real binary, run once at once: its one line.

#include <nlohmann/json.hpp>
#include <string>

#include "tests/support/ChildProcess.h"

namespace zoba::testing {

// Runs `--debug-capture path --delay 0` and returns its line parsed; null JSON
// when it printed no line. The process must end with 0.
nlohmann::json debugCapture(const std::string& path, const ChildEnvironment& environment = {});

// A program that shows one window and prints its pid once shown (a toolkit test
// window, or an application started by a wrapper): ready once the window manager
// names a window of that pid active, with `title` when one is given.
class AppWindow {
 public:
  AppWindow(const std::string& program, const std::vector<std::string>& arguments,
            std::chrono::milliseconds timeout = 30s);
  std::optional<pid_t> pid() const { return pid_; }
  // Whether the process still runs (it has not ended or been killed).
  bool alive() { return pid_ && process_.wait(0ms) == std::nullopt; }

 private:
  ChildProcess process_;
  std::optional<pid_t> pid_;
};

}  // namespace zoba::testing
