// A real Firefox ESR on the test desktop, its pages served over HTTP on the
// loopback, captured by the debug capture mode: what the tab in front shows and
// nothing of the tab behind it, and a page just opened in a new tab, whole.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "tests/e2e/DebugCapture.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopWindow.h"
#include "tests/support/FirefoxProfile.h"
#include "tests/support/Keyboard.h"

namespace zoba::testing {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr const char* firefox = "/usr/lib/firefox-esr/firefox-esr";

class FirefoxTabs : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!desktopAvailable() || ::access(firefox, X_OK) != 0)
      GTEST_SKIP() << "needs an X display and Firefox ESR";
    directory = fs::temp_directory_path() / ("zoba-e2e-firefox-" + std::to_string(::getpid()));
    writeQuietFirefoxProfile(directory / "profile");

    server = std::make_unique<ChildProcess>(
        "/usr/bin/python3",
        std::vector<std::string>{"-u", ZOBA_TEST_SUPPORT_DIR "/web_server.py", ZOBA_TEST_SUPPORT_DIR "/web"});
    auto banner = server->readLine(10s);
    std::smatch port;
    ASSERT_TRUE(banner && std::regex_search(*banner, port, std::regex("port ([0-9]+)")))
        << banner.value_or("");
    const std::string site = "http://127.0.0.1:" + port[1].str();
    privateURL = site + "/private.html";
    reportURL = site + "/report.html";

    // The private page opens first and in front; the report's tab is then brought
    // forward, so the tab behind comes first in the window's tree.
    browser = std::make_unique<ChildProcess>(
        firefox, std::vector<std::string>{"--no-remote", "--new-instance", "--profile",
                                          (directory / "profile").string(), privateURL, reportURL});
    ASSERT_TRUE(waitUntilActive(browser->pid(), 90s, "Zoba private page — Mozilla Firefox"))
        << "Firefox did not show the first tab";
    Keyboard keys;
    ASSERT_TRUE(keys.connected());
    ASSERT_TRUE(keys.press("Control_L") && keys.press("Tab") && keys.release("Tab") &&
                keys.release("Control_L"));
    ASSERT_TRUE(waitUntilActive(browser->pid(), 30s, "Zoba report page — Mozilla Firefox"))
        << "Firefox did not bring the second tab forward";
  }
  void TearDown() override {
    browser.reset();
    server.reset();
    fs::remove_all(directory);
  }

  // The first capture whose outline holds `shown`: Gecko names a page's elements
  // once it has laid the page out, a moment after the tab came forward. The
  // browser must be running after every capture.
  json captureShowing(const std::string& shown) {
    json captured;
    for (auto end = std::chrono::steady_clock::now() + 30s; std::chrono::steady_clock::now() < end;) {
      json line = debugCapture((directory / "page.png").string());
      EXPECT_TRUE(browser->wait(0ms) == std::nullopt) << "the capture ended the browser";
      captured = line.value("capture", json::object());
      if (captured.value("text", "").find(shown) != std::string::npos) break;
    }
    return captured;
  }

  std::unique_ptr<ChildProcess> server;
  std::unique_ptr<ChildProcess> browser;
  fs::path directory;
  std::string privateURL, reportURL;
};

TEST_F(FirefoxTabs, OnlyTheTabInFrontIsCaptured) {
  // Until Gecko has named the heading, its words read as a text run inside it.
  json captured = captureShowing("heading Quarterly report");
  EXPECT_EQ(captured.value("url", ""), reportURL);
  const std::string text = captured.value("text", "");
  EXPECT_NE(text.find("heading Quarterly report"), std::string::npos) << text;
  EXPECT_EQ(text.find("Private background words"), std::string::npos) << text;
  EXPECT_EQ(text.find(privateURL), std::string::npos) << text;
}

// Expects `text` to hold `expected` in this order.
void expectInOrder(const std::string& text, std::initializer_list<const char*> expected) {
  std::size_t at = 0;
  for (const char* piece : expected) {
    const std::size_t found = text.find(piece, at);
    ASSERT_NE(found, std::string::npos) << piece << " after offset " << at << " in\n" << text;
    at = found + std::strlen(piece);
  }
}

// Gecko keeps a paragraph's words in its Text interface around the objects inside
// it; they read as text lines in the order a person reads them. A page just opened
// in a new tab reads whole at its first capture, though Gecko is still building its
// tree: the server holds back a script the page loads after its heading.
TEST_F(FirefoxTabs, PageTextReadsInOrderAlsoInATabJustOpened) {
  json captured = captureShowing("in the third quarter.");
  expectInOrder(
      captured.value("text", ""),
      {"Quarterly report", "Revenue grew by", "12 percent", "in the third quarter.", "Region", "Sales",
       "North cell", "South cell", "First item", "Second item", "Read the", "annual summary", "for more."});

  Keyboard keys;
  ASSERT_TRUE(keys.connected());
  ASSERT_TRUE(keys.press("a") && keys.release("a"));  // the report page opens the timetable in a new tab
  ASSERT_TRUE(waitUntilActive(browser->pid(), 30s, "Zoba timetable page — Mozilla Firefox"))
      << "Firefox did not open the new tab";
  json line = debugCapture((directory / "fresh.png").string());
  const json fresh = line.value("capture", json::object());
  const std::string text = fresh.value("text", "");
  expectInOrder(text, {"Harbour timetable", "Ferries leave the", "east pier", "every hour.", "Boat", "Leaves",
                       "Morning ferry", "Seven", "Tickets aboard", "Bicycles free"});
  EXPECT_FALSE(fresh.value("textTruncated", true)) << text;
}

// A drop-down reads as the choice it shows, though its options live in a menu the
// walk leaves out; the address bar as the address it holds.
TEST_F(FirefoxTabs, ComboBoxesReadAsTheirValues) {
  // Gecko names the box after its label once the page is laid out.
  json captured = captureShowing("combo box Boat, Value: Schooner");
  const std::string text = captured.value("text", "");
  EXPECT_NE(text.find("combo box Boat, Value: Schooner"), std::string::npos) << text;
  EXPECT_EQ(text.find("Ketch"), std::string::npos) << text;
  // Its name follows the search engine: "Search or enter address", "Search with Google or enter address".
  const std::size_t value = text.find(", Value: " + reportURL + "\n");
  ASSERT_NE(value, std::string::npos) << text;
  const std::size_t line = text.rfind('\t', value) + 1;
  EXPECT_EQ(text.substr(line, value - line).find("combo box (settable) Search"), 0u) << text;
}

}  // namespace
}  // namespace zoba::testing
