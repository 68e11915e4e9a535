#include "tests/e2e/DesktopWindow.h"

#include <unistd.h>

#include <cstdlib>

namespace zoba::testing {

namespace {
constexpr const char* gtkPython = "/usr/bin/python3";
}  // namespace

bool desktopAvailable() {
  const char* display = std::getenv("DISPLAY");
  return display && *display && ::access(gtkPython, X_OK) == 0;
}

DesktopWindow::DesktopWindow(const std::vector<std::string>& arguments)
    : process_(gtkPython, [&] {
        std::vector<std::string> all = {ZOBA_E2E_SOURCE_DIR "/gtk_window.py"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return all;
      }()) {
  if (auto line = process_.readLine(15s)) {
    char* end = nullptr;
    long value = std::strtol(line->c_str(), &end, 10);
    if (end != line->c_str() && value > 0) pid_ = static_cast<pid_t>(value);
  }
}

}  // namespace zoba::testing
