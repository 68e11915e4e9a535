// A PDF in Evince, a GTK 3 document viewer, captured by the debug capture mode:
// the page's words come from the page's Text interface, and the walk never asks
// for text an object does not offer (GTK's bridge logs a critical for that).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/e2e/DebugCapture.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopWindow.h"

namespace zoba::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* evince = "/usr/bin/evince";
constexpr const char* lines[] = {"Quarterly harbour report", "Tides rose along the northern quay"};

// Draws `lines` on one A4 page with Cairo.
bool writePdf(const fs::path& path) {
  std::string script =
      "import cairo, sys\n"
      "s = cairo.PDFSurface(sys.argv[1], 595, 842)\n"
      "c = cairo.Context(s)\n"
      "c.set_font_size(18)\n";
  int y = 100;
  for (const char* line : lines) {
    script += "c.move_to(60, " + std::to_string(y) + "); c.show_text('" + line + "')\n";
    y += 40;
  }
  script += "s.finish()\n";
  ChildProcess python("/usr/bin/python3", {"-c", script, path.string()});
  return python.wait(20s) == 0 && fs::exists(path);
}

TEST(DesktopDocumentViewer, ThePageTextIsReadWithoutCriticals) {
  if (!desktopAvailable()) GTEST_SKIP() << "needs an X display and GTK";
  if (!fs::exists(evince)) GTEST_SKIP() << "needs evince";
  const fs::path directory = fs::temp_directory_path() / ("zoba-e2e-pdf-" + std::to_string(::getpid()));
  fs::create_directories(directory);
  const fs::path pdf = directory / "report.pdf";
  ASSERT_TRUE(writePdf(pdf));

  ChildProcess viewer(evince, {pdf.string()}, {.unset = {}, .set = {{"LC_ALL", "C.UTF-8"}}});
  ASSERT_TRUE(waitUntilActive(viewer.pid(), 30s));
  // The page's text arrives once the document is loaded: capture until it is there.
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  do {
    text = debugCapture((directory / "shot.png").string())["capture"].value("text", "");
  } while (text.find(lines[1]) == std::string::npos && std::chrono::steady_clock::now() < deadline);
  for (const char* line : lines) EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;

  viewer.kill(SIGTERM);
  viewer.wait(10s);
  std::string errors;
  while (auto line = viewer.readErrorLine(1s)) errors += *line + "\n";
  EXPECT_EQ(errors.find("CRITICAL"), std::string::npos) << errors;
  fs::remove_all(directory);
}

}  // namespace
}  // namespace zoba::testing
