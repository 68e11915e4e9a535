// A VTE terminal (sakura) captured by the debug capture mode: the terminal's value
// is the rows on screen, not the scroll-back above them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/e2e/DebugCapture.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopWindow.h"

namespace zoba::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* sakura = "/usr/bin/sakura";

TEST(DesktopTerminal, TheValueIsTheRowsOnScreen) {
  if (!desktopAvailable()) GTEST_SKIP() << "needs an X display and GTK";
  if (!fs::exists(sakura)) GTEST_SKIP() << "needs sakura";
  const fs::path directory = fs::temp_directory_path() / ("zoba-e2e-terminal-" + std::to_string(::getpid()));
  fs::create_directories(directory);
  const fs::path script = directory / "rows.sh";
  // 80 numbered rows: more than the screen's 24, so the first ones are scroll-back.
  std::ofstream(script)
      << "#!/bin/sh\nfor i in $(seq 1 80); do printf 'line-%03d\\n' $i; done\nexec sleep 600\n";
  fs::permissions(script, fs::perms::owner_all);

  ChildProcess terminal(sakura, {"-e", script.string()});
  ASSERT_TRUE(waitUntilActive(terminal.pid(), 30s));
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  do {
    text = debugCapture((directory / "shot.png").string())["capture"].value("text", "");
  } while (text.find("line-080") == std::string::npos && std::chrono::steady_clock::now() < deadline);
  EXPECT_NE(text.find("\tterminal Terminal, Value: "), std::string::npos) << text;
  EXPECT_NE(text.find("line-070 line-071"), std::string::npos) << text;
  EXPECT_EQ(text.find("line-001"), std::string::npos) << "the scroll-back is left out:\n" << text;
  terminal.kill(SIGTERM);
  fs::remove_all(directory);
}

}  // namespace
}  // namespace zoba::testing
