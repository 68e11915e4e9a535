// LibreOffice Writer with its GTK 3 plugin on the test desktop, captured by the
// debug capture mode: the words of the document, the paragraph with the caret as
// the focus, nothing of its closed menus, and the application still running.
// Writer starts once for the suite: its start is the slow part.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <thread>

#include "tests/e2e/DebugCapture.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopWindow.h"
#include "tests/support/Keyboard.h"

namespace zoba::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* soffice = "/usr/lib/libreoffice/program/soffice";
constexpr const char* title = "minutes.fodt - LibreOffice Writer";
constexpr const char* paragraphs[] = {
    "Harbour minutes opened the meeting.",
    "Second paragraph about the lighthouse budget.",
    "Third paragraph closing with the ferry timetable.",
};

// Writer's process: the soffice script runs oosplash, which starts soffice.bin
// (again, once, when a fresh profile asks for a restart).
std::optional<pid_t> officeProcess(pid_t splash) {
  for (pid_t child : childrenOf(splash)) {
    auto arguments = argumentsOf(child);
    if (!arguments.empty() && arguments.front().ends_with("soffice.bin")) return child;
  }
  return std::nullopt;
}

class LibreOfficeWriter : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!desktopAvailable() || ::access(soffice, X_OK) != 0) return;
    directory = new fs::path(fs::temp_directory_path() / ("zoba-e2e-writer-" + std::to_string(::getpid())));
    fs::create_directories(*directory / "profile" / "user");
    // No tip of the day over the document.
    std::ofstream(*directory / "profile" / "user" / "registrymodifications.xcu")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
           "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
           "<item oor:path=\"/org.openoffice.Office.Common/Misc\"><prop oor:name=\"ShowTipOfTheDay\" "
           "oor:op=\"fuse\"><value>false</value></prop></item>\n"
           "</oor:items>\n";
    std::ofstream document(*directory / "minutes.fodt");
    document << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" office:version=\"1.2\" "
                "office:mimetype=\"application/vnd.oasis.opendocument.text\">\n"
                "<office:body><office:text>\n";
    for (const char* paragraph : paragraphs) document << "<text:p>" << paragraph << "</text:p>\n";
    document << "</office:text></office:body></office:document>\n";
    document.close();

    splash = new ChildProcess(
        soffice,
        {"--writer", "-env:UserInstallation=file://" + (*directory / "profile").string(), "--norestore",
         "--nologo", "--nofirststartwizard", (*directory / "minutes.fodt").string()},
        ChildEnvironment{{}, {{"SAL_USE_VCLPLUGIN", "gtk3"}}});
    // A fresh profile's first start takes 10 to 30 seconds on a slow machine.
    for (auto end = std::chrono::steady_clock::now() + 90s; std::chrono::steady_clock::now() < end;) {
      if (auto office = officeProcess(splash->pid()); office && waitUntilActive(*office, 1s, title)) {
        writer = *office;
        break;
      }
      if (splash->wait(0ms)) break;  // it gave up
      std::this_thread::sleep_for(100ms);
    }
  }

  static void TearDownTestSuite() {
    if (splash) {
      // oosplash does not end Writer when it is killed: end Writer first.
      if (auto office = officeProcess(splash->pid())) {
        ::kill(*office, SIGKILL);
        for (auto end = std::chrono::steady_clock::now() + 10s; ::kill(*office, 0) == 0 &&
                                                                !childrenOf(splash->pid()).empty() &&
                                                                std::chrono::steady_clock::now() < end;)
          std::this_thread::sleep_for(20ms);
      }
      delete splash;
      splash = nullptr;
    }
    if (directory) {
      fs::remove_all(*directory);
      delete directory;
      directory = nullptr;
    }
  }

  void SetUp() override {
    if (!desktopAvailable() || ::access(soffice, X_OK) != 0)
      GTEST_SKIP() << "needs an X display and LibreOffice";
    ASSERT_TRUE(writer) << "Writer did not show the document";
  }

  // The first outline whose focus line names `focused`; Writer moves its focus a
  // moment after the caret. Writer must be running after every capture.
  std::string captureFocusing(const std::string& focused) {
    std::string text;
    for (auto end = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < end;) {
      nlohmann::json line = debugCapture((*directory / "shot.png").string());
      EXPECT_EQ(::kill(*writer, 0), 0) << "the capture ended Writer";
      EXPECT_TRUE(line.contains("capture")) << line.dump();
      // The line holds the outline's beginning; the file holds all of it.
      std::ifstream file(*directory / "shot.png.txt");
      text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
      if (text.find("\nThe focused UI element is " + focused) != std::string::npos) break;
      std::this_thread::sleep_for(100ms);
    }
    return text;
  }

  static inline fs::path* directory = nullptr;
  static inline ChildProcess* splash = nullptr;
  static inline std::optional<pid_t> writer;
};

// One test, so that ctest, which runs every test in a process of its own, starts
// Writer once. Writer marks the panel around the document focused as well as the
// paragraph with the caret.
TEST_F(LibreOfficeWriter, ParagraphsReadAndTheOneWithTheCaretIsFocused) {
  std::string text = captureFocusing("paragraph, Value: ");
  for (const char* paragraph : paragraphs)
    EXPECT_NE(text.find(std::string("\tparagraph, Value: ") + paragraph + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\tdocument text "), std::string::npos) << text;
  // The menu bar is left out, and the items of its closed menus with it.
  EXPECT_EQ(text.find("menu item"), std::string::npos) << text;
  EXPECT_EQ(text.find("Save As..."), std::string::npos) << text;
  EXPECT_NE(text.find(std::string("\nThe focused UI element is paragraph, Value: ") + paragraphs[0]),
            std::string::npos)
      << text;

  Keyboard keys;
  ASSERT_TRUE(keys.connected());
  ASSERT_TRUE(waitUntilActive(*writer, 5s, title));
  ASSERT_TRUE(keys.press("Down") && keys.release("Down"));
  const std::string second = std::string("paragraph, Value: ") + paragraphs[1];
  text = captureFocusing(second);
  EXPECT_NE(text.find("\nThe focused UI element is " + second), std::string::npos) << text;
}

}  // namespace
}  // namespace zoba::testing
