// Which desktop entry names a running application, and that an entry installed while
// the helper runs is found once the main loop has heard of it.
#include <glib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "Platform/linux/session/DesktopEntry.h"

namespace zoba::platform::linux_backend {
namespace {

namespace fs = std::filesystem;

class DesktopEntryTest : public ::testing::Test {
 protected:
  // GLib reads the data folders once per process: each test is a process of its own.
  void SetUp() override {
    home = fs::temp_directory_path() / ("zoba-desktop-entry-" + std::to_string(::getpid()));
    fs::create_directories(home / "applications");
    fs::create_directories(home / "empty");
    ::setenv("XDG_DATA_HOME", home.c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (home / "empty").c_str(), 1);
  }
  void TearDown() override { fs::remove_all(home); }

  void install(const std::string& id, const std::string& name, const std::string& wmClass = {}) {
    std::ofstream file(home / "applications" / (id + ".desktop"));
    file << "[Desktop Entry]\nType=Application\nExec=true\nName=" << name << "\nIcon=" << id << "\n";
    if (!wmClass.empty()) file << "StartupWMClass=" << wmClass << "\n";
  }

  fs::path home;
};

TEST_F(DesktopEntryTest, TheWindowClassBeforeTheIdWithoutCase) {
  install("org.example.Editor", "Editor");
  install("org.example.Viewer", "Viewer", "viewer-window");
  install("terminal", "Terminal", "org.example.Editor");
  struct Case {
    std::optional<std::string> instance, className;
    std::optional<std::string> id;  // of the entry found
  };
  const Case cases[] = {
      {"viewer-window", std::nullopt, "org.example.Viewer"},
      {std::nullopt, "VIEWER-WINDOW", "org.example.Viewer"},
      {"org.example.viewer", "org.example.viewer", "org.example.Viewer"},
      // Another entry's StartupWMClass wins over the id.
      {"org.example.Editor", "org.example.Editor", "terminal"},
      {"unknown", "Unknown", std::nullopt},
      {std::nullopt, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.instance.value_or("-") + " / " + c.className.value_or("-"));
    auto entry = desktopEntryFor(c.instance, c.className);
    ASSERT_EQ(entry.has_value(), c.id.has_value());
    if (entry) {
      EXPECT_EQ(entry->id, *c.id);
    }
  }
  auto viewer = desktopEntryFor("viewer-window", std::nullopt);
  ASSERT_TRUE(viewer);
  EXPECT_EQ(viewer->name, "Viewer");
  EXPECT_EQ(viewer->icon, "org.example.Viewer");
}

TEST_F(DesktopEntryTest, AnEntryInstalledLaterIsFoundOnceTheMainLoopHeardOfIt) {
  install("org.example.First", "First");
  ASSERT_TRUE(desktopEntryFor("org.example.First", std::nullopt));
  ASSERT_FALSE(desktopEntryFor("org.example.Second", std::nullopt));
  install("org.example.Second", "Second");
  bool found = false;
  for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
       !found && std::chrono::steady_clock::now() < end;) {
    g_main_context_iteration(nullptr, FALSE);
    found = desktopEntryFor("org.example.Second", std::nullopt).has_value();
    if (!found) g_usleep(10000);
  }
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace zoba::platform::linux_backend
