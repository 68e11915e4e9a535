// The debug capture mode of the real binary on the test desktop.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "Platform/Image.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopWindow.h"
#include "tests/support/Files.h"

namespace zoba::testing {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// Width and height from a PNG's IHDR chunk; {0, 0} when it is no PNG.
std::pair<std::uint32_t, std::uint32_t> pngSize(const std::string& png) {
  if (png.size() < 24 || png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || png.compare(12, 4, "IHDR") != 0)
    return {};
  auto word = [&](std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(png[at + i]);
    return value;
  };
  return {word(16), word(20)};
}

std::string base64Decode(std::string_view text) {
  static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string bytes;
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    auto value = alphabet.find(c);
    if (value == std::string::npos) break;
    bits = bits << 6 | static_cast<std::uint32_t>(value);
    if ((count += 6) >= 8) bytes.push_back(static_cast<char>(bits >> (count -= 8)));
  }
  return bytes;
}

class DebugCaptureMode : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!desktopAvailable()) GTEST_SKIP() << "needs an X display and GTK";
    directory = fs::temp_directory_path() / ("zoba-e2e-debug-" + std::to_string(::getpid()));
    fs::create_directories(directory);
    path = (directory / "shot.png").string();
  }
  void TearDown() override { fs::remove_all(directory); }

  // Runs the mode at once and returns its one line; the process must end with 0.
  json debugCapture(const std::string& target, const ChildEnvironment& environment = {}) {
    ChildProcess helper(ZOBA_CAPTURE_PATH, {"--debug-capture", target, "--delay", "0"}, environment);
    auto lines = helper.readAllLines(20s);
    EXPECT_EQ(helper.wait(), 0);
    EXPECT_EQ(lines.size(), 1u);
    return lines.empty() ? json() : json::parse(lines.front(), nullptr, false);
  }

  fs::path directory;
  std::string path;
};

TEST_F(DebugCaptureMode, CapturesTheFocusedWindowToFiles) {
  DesktopWindow window({"--title", "Debug capture test", "--colour", "2080C0"});
  ASSERT_TRUE(window.pid());
  json line = debugCapture(path);
  ASSERT_TRUE(line.contains("capture")) << line.dump();
  const json& capture = line["capture"];
  EXPECT_EQ(line["permissions"], (json{{"screenRecording", true}, {"accessibility", true}}));
  EXPECT_EQ(capture["windowTitle"], "Debug capture test");
  // No desktop entry: the window's class names the application.
  EXPECT_EQ(capture["app"]["bundleId"], "zoba-test-window");
  EXPECT_EQ(capture["app"]["name"], "Zoba-test-window");
  EXPECT_EQ(pngSize(base64Decode(capture["app"].value("iconBase64", ""))),
            (std::pair<std::uint32_t, std::uint32_t>{64, 64}));

  const std::string png = fileContents(path);
  EXPECT_EQ(capture["image"]["base64"], std::to_string(png.size()) + " bytes written to " + path);
  auto [width, height] = pngSize(png);
  EXPECT_EQ(capture["image"]["width"], width);
  EXPECT_EQ(capture["image"]["height"], height);
  EXPECT_EQ(width, 480u);
  EXPECT_EQ(height, 320u);
  // The window's own pixels: its background where no widget is.
  auto image = platform::decodePNG({reinterpret_cast<const std::uint8_t*>(png.data()), png.size()});
  ASSERT_TRUE(image);
  EXPECT_EQ(image->pixel(width - 8, height - 8), 0xFF2080C0u);

  const std::string text = fileContents(path + ".txt");
  EXPECT_EQ(text.rfind("Window: \"Debug capture test\", App: ", 0), 0u) << text;
  EXPECT_EQ(capture["text"], text);
  EXPECT_EQ(capture["textLength"], text.size());
}

TEST_F(DebugCaptureMode, TheOutlineDescribesTheWidgetsAndNeverAPassword) {
  DesktopWindow window({"--title", "Form", "--form"});
  ASSERT_TRUE(window.pid());
  json line = debugCapture(path);
  const std::string text = line["capture"].value("text", "");
  for (const char* expected : {
           "\nframe Form\n",
           "\n\tlabel Hello from GTK\n",
           "\n\ttext (settable), Value: editable text\n",
           "\n\tpush button OK\n",
           "\n\ttext (settable), Placeholder: Where to?\n",
           "\n\tcheck box (settable) Remember me, Value: 1\n",
           "\nThe focused UI element is text (settable), Value: editable text",
       }) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << " in\n" << text;
  }
  EXPECT_EQ(text.find("hunter2"), std::string::npos) << text;
}

TEST_F(DebugCaptureMode, AnApplicationWithoutAccessibilitySaysSoOnTheLastLine) {
  // xterm draws its own widgets and never joins the accessibility bus.
  if (!fs::exists("/usr/bin/xterm")) GTEST_SKIP() << "needs xterm";
  ChildProcess xterm("/usr/bin/xterm", {"-T", "Plain terminal", "-e", "sleep", "60"});
  ASSERT_TRUE(waitUntilActive(xterm.pid(), 10s));
  json line = debugCapture(path);
  EXPECT_EQ(line["capture"].value("text", ""),
            "Window: \"Plain terminal\", App: XTerm.\nThe application exposes no accessibility information.")
      << line.dump();
  xterm.kill(SIGTERM);
}

TEST_F(DebugCaptureMode, AStoppedApplicationDoesNotHoldTheCapture) {
  DesktopWindow window({"--title", "Stopped"});
  ASSERT_TRUE(window.pid());
  ASSERT_EQ(::kill(*window.pid(), SIGSTOP), 0);
  const auto start = std::chrono::steady_clock::now();
  json line = debugCapture(path);
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ::kill(*window.pid(), SIGCONT);
  // The X server still has the window: the screenshot and the title come without the application.
  ASSERT_TRUE(line.contains("capture")) << line.dump();
  EXPECT_EQ(line["capture"]["windowTitle"], "Stopped");
  EXPECT_TRUE(fs::exists(path));
  // Not a speed figure: a hang guard. Every accessibility call is bounded by its timeout.
  EXPECT_LT(seconds, 8.0);
}

TEST_F(DebugCaptureMode, TheDesktopEntryNamesTheApplication) {
  const fs::path data = directory / "data";
  fs::create_directories(data / "applications");
  std::ofstream(data / "applications" / "org.zoba.TestWindow.desktop")
      << "[Desktop Entry]\nType=Application\nName=Zoba Test Window\nName[fr]=Fenêtre de test\n"
         "Exec=true\nStartupWMClass=Zoba-test-window\n";
  DesktopWindow window;
  ASSERT_TRUE(window.pid());
  json line =
      debugCapture(path, {{}, {{"XDG_DATA_HOME", data.string()}, {"LANGUAGE", "fr"}, {"LC_ALL", "C.UTF-8"}}});
  EXPECT_EQ(line["capture"]["app"], (json{{"name", "Fenêtre de test"},
                                          {"bundleId", "org.zoba.TestWindow"},
                                          {"iconBase64", line["capture"]["app"].value("iconBase64", "")}}))
      << line.dump();
}

TEST_F(DebugCaptureMode, AnUnwritablePathIsTheError) {
  DesktopWindow window;
  ASSERT_TRUE(window.pid());
  const std::string missing = (directory / "missing" / "shot.png").string();
  json line = debugCapture(missing);
  EXPECT_FALSE(line.contains("capture")) << line;
  EXPECT_EQ(line.value("error", "").rfind("Could not write " + missing, 0), 0u) << line;
}

TEST_F(DebugCaptureMode, WithoutAccessibilityOnlyThePermissionsAreReported) {
  DesktopWindow window;
  ASSERT_TRUE(window.pid());
  const ChildEnvironment noBus{{"XDG_RUNTIME_DIR", "AT_SPI_BUS_ADDRESS"},
                               {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/zoba-bus"}}};
  json line = debugCapture(path, noBus);
  EXPECT_EQ(line["session"]["type"], "x11") << line;
  line.erase("session");
  EXPECT_EQ(line, (json{{"type", "debugCapture"},
                        {"permissions", {{"screenRecording", true}, {"accessibility", false}}}}));
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(DebugCaptureMode, NoFrontmostApplicationCapturesNothing) {
  // No window is open: the window manager names no active window.
  json line = debugCapture(path);
  EXPECT_EQ(line["session"],
            (json{{"type", "x11"}, {"desktop", line["session"]["desktop"]}, {"unavailable", json::array()}}))
      << line;
  line.erase("session");
  EXPECT_EQ(line, (json{{"type", "debugCapture"},
                        {"permissions", {{"screenRecording", true}, {"accessibility", true}}}}));
  EXPECT_FALSE(fs::exists(path));
}

}  // namespace
}  // namespace zoba::testing
