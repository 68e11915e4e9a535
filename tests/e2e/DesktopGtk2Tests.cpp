// GTK 2's demo program (gtk2.0-examples) captured by the debug capture mode. Its
// tree view is a table that manages its descendants: GTK 2's bridge makes its cells
// on demand, and a search over them (Collection) hands out cells it has already freed
// (GLib warnings and criticals on the application's stderr, and an empty table). The
// rows on screen must be read, and the application must log nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/e2e/DebugCapture.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopWindow.h"

namespace zoba::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* gtkDemo = "/usr/bin/gtk-demo";

TEST(DesktopGtk2, ATableThatManagesItsDescendantsShowsItsRowsWithoutWarnings) {
  if (!desktopAvailable()) GTEST_SKIP() << "needs an X display and GTK";
  if (!fs::exists(gtkDemo)) GTEST_SKIP() << "needs gtk2.0-examples";
  const fs::path directory = fs::temp_directory_path() / ("zoba-e2e-gtk2-" + std::to_string(::getpid()));
  fs::create_directories(directory);

  // A desktop session loads GTK 2's bridge through GTK_MODULES (Debian's libatk-adaptor
  // sets it at login); GTK 3 and later have it built in.
  ChildProcess demo(gtkDemo, {},
                    {.unset = {}, .set = {{"GTK_MODULES", "gail:atk-bridge"}, {"LC_ALL", "C.UTF-8"}}});
  ASSERT_TRUE(waitUntilActive(demo.pid(), 30s));
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  do {
    text = debugCapture((directory / "shot.png").string())["capture"].value("text", "");
  } while (text.find("Button Boxes") == std::string::npos && std::chrono::steady_clock::now() < deadline);
  for (const char* row : {"Application main window", "Button Boxes", "Change Display", "Clipboard"})
    EXPECT_NE(text.find(row), std::string::npos) << row << " in\n" << text;
  // The notebook's Source page lies behind its Info page.
  EXPECT_EQ(text.find("#include"), std::string::npos) << text;
  EXPECT_TRUE(demo.kill(0)) << "the capture ended the GTK 2 application";

  demo.kill(SIGTERM);
  demo.wait(10s);
  std::string errors;
  while (auto line = demo.readErrorLine(1s)) errors += *line + "\n";
  for (const char* complaint : {"CRITICAL", "WARNING"})
    EXPECT_EQ(errors.find(complaint), std::string::npos) << errors;
  fs::remove_all(directory);
}

}  // namespace
}  // namespace zoba::testing
