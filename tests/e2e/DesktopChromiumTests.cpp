// A real Chromium on the test desktop, its page served over HTTP on the loopback,
// captured by the debug capture mode: the page's address and its web content. The
// page holds more text than an outline does, mostly below the window's bottom edge.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>

#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopWindow.h"
#include "tests/support/Files.h"

namespace zoba::testing {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr const char* chromium = "/usr/bin/chromium";

class ChromiumPage : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!desktopAvailable() || ::access(chromium, X_OK) != 0)
      GTEST_SKIP() << "needs an X display and Chromium";
    directory = fs::temp_directory_path() / ("zoba-e2e-chromium-" + std::to_string(::getpid()));
    fs::create_directories(directory);

    // Port 0: the server takes a free one and names it.
    server = std::make_unique<ChildProcess>(
        "/usr/bin/python3", std::vector<std::string>{"-u", "-m", "http.server", "0", "--bind", "127.0.0.1",
                                                     "--directory", ZOBA_TEST_SUPPORT_DIR "/web"});
    auto banner = server->readLine(10s);
    std::smatch port;
    ASSERT_TRUE(banner && std::regex_search(*banner, port, std::regex("port ([0-9]+)")))
        << banner.value_or("");
    url = "http://127.0.0.1:" + port[1].str() + "/index.html";

    browser = std::make_unique<ChildProcess>(
        chromium,
        std::vector<std::string>{"--no-sandbox", "--user-data-dir=" + (directory / "profile").string(),
                                 "--no-first-run", "--no-default-browser-check", "--disable-gpu",
                                 "--window-size=1024,768", "--app=" + url});
    // The window shows the address until the page has loaded and named it.
    ASSERT_TRUE(waitUntilActive(browser->pid(), 60s, "Zoba test page")) << "Chromium did not show the page";
  }
  void TearDown() override {
    browser.reset();
    server.reset();
    fs::remove_all(directory);
  }

  std::unique_ptr<ChildProcess> server;
  std::unique_ptr<ChildProcess> browser;
  fs::path directory;
  std::string url;
};

TEST_F(ChromiumPage, TheCaptureCarriesThePageAddressAndItsContent) {
  const std::string path = (directory / "page.png").string();
  ChildProcess helper(ZOBA_CAPTURE_PATH, {"--debug-capture", path, "--delay", "0"});
  auto lines = helper.readAllLines(30s);
  EXPECT_EQ(helper.wait(), 0);
  ASSERT_EQ(lines.size(), 1u);
  json capture = json::parse(lines.front(), nullptr, false)["capture"];
  ASSERT_TRUE(capture.is_object()) << lines.front();

  EXPECT_EQ(capture["url"], url);
  EXPECT_EQ(capture["windowTitle"], "Zoba test page");
  EXPECT_EQ(capture["textTruncated"], true);
  // The message carries the text's beginning; the whole text is in the file beside the image.
  const std::string text = fileContents(path + ".txt");
  const std::string site = url.substr(0, url.rfind('/'));
  for (const std::string& expected : std::vector<std::string>{
           "\tdocument web Zoba test page, URL: " + url + "\n",
           "\t\theading Zoba heading\n",
           "\t\tstatic Some words on the page.\n",
           "\t\tlink Other page, URL: " + site + "/other.html\n",
           "\t\tcombo box Boat, Value: Schooner\n",
           // On screen but last in tree order: kept before the paragraphs scrolled away.
           "\t\tstatic Sidebar words\n",
           "\t\tlink Sidebar link, URL: " + site + "/side.html\n",
       }) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << " in\n" << text;
  }
  EXPECT_EQ(text.find("Long paragraph 240 "), std::string::npos) << text;
  // A heading, link or paragraph named after its words does not repeat them as text below.
  for (const std::string words : {"Zoba heading", "a link inside", "Sidebar link", "Long paragraph 1 "}) {
    const auto first = text.find(words);
    EXPECT_NE(first, std::string::npos) << words << " in\n" << text;
    EXPECT_EQ(text.find(words, first + 1), std::string::npos) << words << " twice in\n" << text;
  }
  EXPECT_TRUE(fs::exists(path));

  // The walk asks nothing the browser's bridge answers with a GLib critical.
  browser->kill(SIGTERM);
  browser->wait(10s);
  std::string criticals;
  while (auto line = browser->readErrorLine(1s))
    if (line->find("CRITICAL") != std::string::npos) criticals += *line + "\n";
  EXPECT_EQ(criticals, "");
}

}  // namespace
}  // namespace zoba::testing
