// Windows of the common toolkits on the test desktop, captured by the debug
// capture mode: what a person sees in them, which element has the focus, and the
// application still running afterwards.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/e2e/DebugCapture.h"
#include "tests/support/DesktopWindow.h"

namespace zoba::testing {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

class ToolkitWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!desktopAvailable()) GTEST_SKIP() << "needs an X display and the toolkits' Python";
    directory = fs::temp_directory_path() / ("zoba-e2e-toolkits-" + std::to_string(::getpid()));
    fs::create_directories(directory);
  }
  void TearDown() override { fs::remove_all(directory); }

  // The outline of a capture of the frontmost window.
  std::string outline() {
    json line = debugCapture((directory / "shot.png").string());
    EXPECT_TRUE(line.contains("capture")) << line.dump();
    return line.contains("capture") ? line["capture"].value("text", "") : std::string();
  }

  fs::path directory;
};

bool runs(const std::string& python) {
  return std::system(("/usr/bin/python3 -c \"" + python + "\" 2>/dev/null").c_str()) == 0;
}

bool importable(const char* module) { return runs("import " + std::string(module)); }

TEST_F(ToolkitWindows, QtWindowIsReadWholeAndStaysAlive) {
  if (!importable("PyQt5.QtWidgets")) GTEST_SKIP() << "needs python3-pyqt5";
  AppWindow qt("/usr/bin/python3", {ZOBA_TEST_SUPPORT_DIR "/apps/qt_window.py"});
  ASSERT_TRUE(qt.pid()) << "the Qt window did not come up";
  const std::string text = outline();
  for (const char* expected : {
           "\nframe Qt test window\n",
           "text (settable), Value: qt typed text\n",
           "push button Qt button\n",
           "combo box Qt schooner",
           "\nThe focused UI element is text (settable), Value: qt typed text",
       }) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << " in\n" << text;
  }
  // Qt calls the closed drop-down's list VISIBLE and SHOWING; it is not on screen.
  EXPECT_EQ(text.find("Qt sloop"), std::string::npos) << text;
  EXPECT_TRUE(qt.alive()) << "the capture killed the Qt application";
}

// GTK 4 has no Collection, marks every widget VISIBLE and only its windows SHOWING.
TEST_F(ToolkitWindows, Gtk4WindowShowsWhatIsOnScreenAndItsFocus) {
  if (!runs("import gi; gi.require_version('Gtk', '4.0')")) GTEST_SKIP() << "needs gir1.2-gtk-4.0";
  AppWindow gtk4("/usr/bin/python3", {ZOBA_TEST_SUPPORT_DIR "/apps/gtk4_window.py"});
  ASSERT_TRUE(gtk4.pid()) << "the GTK 4 window did not come up";
  const std::string text = outline();
  for (const char* expected : {
           "\nwindow GTK 4 test window\n",
           ", Value: gtk4 typed text\n",
           "\tbutton GTK 4 button\n",
           "label Shown stack page\n",
           "label Front stack page\n",
           "\nThe focused UI element is text box (settable), Value: gtk4 typed text",
       }) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << " in\n" << text;
  }
  // A page never shown, and one shown before its stack put another in front.
  EXPECT_EQ(text.find("Never shown page"), std::string::npos) << text;
  EXPECT_EQ(text.find("Put behind page"), std::string::npos) << text;
  // Widgets of no size: an info bar not revealed, a closed revealer, an empty list.
  for (const char* unseen : {"Info bar not revealed", "Revealer closed", "list"})
    EXPECT_EQ(text.find(unseen), std::string::npos) << unseen << " in\n" << text;
  // GTK 4 names unnamed widgets after their class; that is no name.
  EXPECT_EQ(text.find(" Gtk"), std::string::npos) << text;
  EXPECT_TRUE(gtk4.alive()) << "the capture ended the GTK 4 application";
}

TEST_F(ToolkitWindows, AHiddenGtkToolbarIsLeftOut) {
  DesktopWindow window({"--title", "Toolbar", "--hidden-toolbar"});
  ASSERT_TRUE(window.pid());
  const std::string text = outline();
  EXPECT_NE(text.find("\tpush button OK\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("Hidden"), std::string::npos) << text;
  EXPECT_EQ(text.find("tool bar"), std::string::npos) << text;
}

// A GTK 3 editor's menu bar is in its window: its titles are read, the items of its
// closed menus are not. Of its two tabs, the one behind (VISIBLE, not SHOWING) is
// left out with its text.
TEST_F(ToolkitWindows, AGtkMenuBarShowsItsTitlesNotItsClosedMenus) {
  if (!fs::exists("/usr/bin/mousepad")) GTEST_SKIP() << "needs mousepad";
  std::ofstream(directory / "behind.txt") << "words of the tab behind\n";
  std::ofstream(directory / "front.txt") << "words of the tab in front\n";
  AppWindow editor("/bin/sh", {"-c", "echo $$; exec /usr/bin/mousepad --disable-server \"$0\" \"$1\"",
                               (directory / "behind.txt").string(), (directory / "front.txt").string()});
  ASSERT_TRUE(editor.pid()) << "mousepad did not come up";
  const std::string text = outline();
  EXPECT_NE(text.find("words of the tab in front"), std::string::npos) << text;
  EXPECT_EQ(text.find("words of the tab behind"), std::string::npos) << text;
  EXPECT_NE(text.find("\n\tmenu File, "), std::string::npos) << text;
  for (const char* title : {"\tmenu Edit, ", "\tmenu Help, "})
    EXPECT_NE(text.find(title), std::string::npos) << title << " in\n" << text;
  for (const char* item : {"Save As", "Open Recent", "Undo", "About"})
    EXPECT_EQ(text.find(item), std::string::npos) << item;
}

}  // namespace
}  // namespace zoba::testing
