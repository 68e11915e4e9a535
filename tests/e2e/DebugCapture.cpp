#include "tests/e2e/DebugCapture.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/DesktopWindow.h"

namespace zoba::testing {

nlohmann::json debugCapture(const std::string& path, const ChildEnvironment& environment) {
  ChildProcess helper(ZOBA_CAPTURE_PATH, {"--debug-capture", path, "--delay", "0"}, environment);
  auto lines = helper.readAllLines(30s);
  EXPECT_EQ(helper.wait(), 0);
  EXPECT_EQ(lines.size(), 1u);
  return lines.empty() ? nlohmann::json() : nlohmann::json::parse(lines.front(), nullptr, false);
}

AppWindow::AppWindow(const std::string& program, const std::vector<std::string>& arguments,
                     std::chrono::milliseconds timeout)
    : process_(program, arguments) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  if (auto line = process_.readLine(timeout)) {
    char* stop = nullptr;
    const long value = std::strtol(line->c_str(), &stop, 10);
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (stop != line->c_str() && value > 0 &&
        waitUntilActive(static_cast<pid_t>(value), std::max(left, 1000ms)))
      pid_ = static_cast<pid_t>(value);
  }
}

}  // namespace zoba::testing
