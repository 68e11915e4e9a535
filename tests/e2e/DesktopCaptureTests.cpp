// The hotkey capture of the real binary on the test desktop: a real GTK window in
// front, chords through XTEST, and every line the host gets for one capture.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Image.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopWindow.h"
#include "tests/support/JsonLine.h"
#include "tests/support/Keyboard.h"

namespace zoba::testing {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

bool isCaptureId(const json& id) {
  static const std::regex uuid("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
  return id.is_string() && std::regex_match(id.get<std::string>(), uuid);
}

struct Received {
  json message;
  Clock::duration at;  // since the chord
};

class HotkeyCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!desktopAvailable() || !keyboard.connected()) GTEST_SKIP() << "needs an X display with XTEST";
  }

  void front(const std::vector<std::string>& arguments) {
    window = std::make_unique<DesktopWindow>(arguments);
    ASSERT_TRUE(window->pid()) << "the GTK window did not come up focused";
  }
  // The helper with this test as its host, once it has said "ready".
  void startHelper(const ChildEnvironment& environment = {}) {
    helper = std::make_unique<ChildProcess>(
        ZOBA_CAPTURE_PATH, std::vector<std::string>{"--host-pid", std::to_string(::getpid())}, environment);
    auto ready = parse(helper->readLine());
    ASSERT_EQ(ready.value("type", ""), "ready") << ready;
  }
  void chord() {
    ASSERT_TRUE(keyboard.pressChord());
    chordAt = Clock::now();
  }
  // Lines until `done` holds for what has arrived, or until the bound.
  template <typename Done>
  std::vector<Received> readUntil(Done done, std::chrono::milliseconds bound = 15s) {
    std::vector<Received> lines;
    const auto deadline = Clock::now() + bound;
    while (!done(lines)) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left <= 0ms) break;
      auto line = helper->readLine(left);
      if (!line) break;
      lines.push_back({parse(line), Clock::now() - chordAt});
    }
    return lines;
  }
  static auto sawTypes(std::vector<std::string> types) {
    return [types](const std::vector<Received>& lines) {
      for (const auto& type : types) {
        bool seen = false;
        for (const auto& line : lines) seen = seen || line.message.value("type", "") == type;
        if (!seen) return false;
      }
      return true;
    };
  }
  static std::vector<std::string> typesOf(const std::vector<Received>& lines) {
    std::vector<std::string> types;
    for (const auto& line : lines) types.push_back(line.message.value("type", ""));
    return types;
  }

  Keyboard keyboard;
  std::unique_ptr<DesktopWindow> window;
  std::unique_ptr<ChildProcess> helper;
  Clock::time_point chordAt;
};

TEST_F(HotkeyCapture, ACardAnsweredAtOnceGetsTheWholeRoad) {
  front({"--title", "Road of one capture", "--colour", "2080C0"});
  startHelper();
  chord();
  auto hotkey = parse(helper->readLine());
  ASSERT_EQ(hotkey.value("target", ""), "capture") << hotkey;
  const json id = hotkey["captureId"];
  EXPECT_TRUE(isCaptureId(id)) << id;
  EXPECT_EQ(hotkey, (json{{"type", "hotkey"}, {"target", "capture"}, {"captureId", id}, {"animated", true}}));
  helper->writeLine(json{{"type", "captureTarget"},
                         {"id", "card"},
                         {"captureId", id},
                         {"frame", {{"x", 1500}, {"y", 900}, {"width", 160}, {"height", 96}}}}
                        .dump());

  auto lines = readUntil(sawTypes({"capture", "captureLanded"}));
  // Nothing else follows.
  EXPECT_EQ(helper->readLine(500ms), std::nullopt);
  std::vector<std::string> types = typesOf(lines);
  std::erase(types, "response");
  ASSERT_EQ(types.size(), 3u) << ::testing::PrintToString(typesOf(lines));
  EXPECT_EQ(types[0], "captureSnapshot");
  EXPECT_TRUE((types[1] == "capture" && types[2] == "captureLanded") ||
              (types[1] == "captureLanded" && types[2] == "capture"));

  for (const auto& [message, at] : lines) {
    const std::string type = message.value("type", "");
    if (type == "response") {
      EXPECT_EQ(message,
                (json{{"type", "response"}, {"id", "card"}, {"ok", true}, {"result", json::object()}}));
      continue;
    }
    EXPECT_EQ(message["captureId"], id) << type;
    if (type == "captureSnapshot") {
      const auto& snapshot = message["snapshot"];
      const std::string prefix = "data:image/jpeg;base64,";
      const std::string url = snapshot.value("dataUrl", "");
      ASSERT_TRUE(url.starts_with(prefix));
      auto jpeg = platform::base64Decode(std::string_view(url).substr(prefix.size()));
      ASSERT_TRUE(jpeg);
      auto size = platform::jpegSize(*jpeg);
      ASSERT_TRUE(size);
      EXPECT_LE(std::max(size->first, size->second), 640);
      EXPECT_FALSE(snapshot.value("appName", "").empty());
      EXPECT_EQ(snapshot["windowTitle"], "Road of one capture");
      auto icon = platform::base64Decode(snapshot.value("iconBase64", ""));
      ASSERT_TRUE(icon);
      auto iconImage = platform::decodePNG(*icon);
      ASSERT_TRUE(iconImage);
      EXPECT_EQ(iconImage->width(), 64);
      EXPECT_EQ(iconImage->height(), 64);
    }
    if (type == "capture") {
      EXPECT_EQ(message["capture"]["windowTitle"], "Road of one capture");
      // The white shutter is over the window when the screenshot is taken; the
      // screenshot still shows the window's own background.
      auto png = platform::base64Decode(message["capture"]["image"].value("base64", ""));
      ASSERT_TRUE(png);
      auto image = platform::decodePNG(*png);
      ASSERT_TRUE(image);
      const std::uint32_t pixel = image->pixel(image->width() / 2, image->height() - 10);
      EXPECT_NEAR(int(pixel >> 16 & 0xFF), 0x20, 2);
      EXPECT_NEAR(int(pixel >> 8 & 0xFF), 0x80, 2);
      EXPECT_NEAR(int(pixel & 0xFF), 0xC0, 2);
    }
    if (type == "captureLanded") {
      EXPECT_EQ(message, (json{{"type", "captureLanded"}, {"captureId", id}}));
    }
  }
}

TEST_F(HotkeyCapture, WithoutACardTheOverlayStillLandsAfterItsWait) {
  front({"--title", "No card"});
  startHelper();
  chord();
  auto lines = readUntil(sawTypes({"hotkey", "capture", "captureLanded"}));
  ASSERT_TRUE(sawTypes({"hotkey", "capture", "captureLanded"})(lines))
      << ::testing::PrintToString(typesOf(lines));
  for (const auto& [message, at] : lines) {
    if (message["type"] != "captureLanded") continue;
    EXPECT_EQ(message["captureId"], lines.front().message["captureId"]);
    // Shown at 0.1 s at the earliest, 1.2 s of waiting for a card, a 0.28 s fade.
    EXPECT_GE(at, 1580ms);
  }
}

TEST_F(HotkeyCapture, AWindowTooSmallFailsWithoutLandingAndTheNextChordCapturesAgain) {
  front({"--title", "Tiny", "--tiny"});
  startHelper();
  std::vector<json> ids;
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    chord();
    auto lines = readUntil(sawTypes({"captureFailed"}));
    ASSERT_EQ(typesOf(lines), (std::vector<std::string>{"hotkey", "captureFailed"}));
    const json id = lines[0].message["captureId"];
    EXPECT_EQ(lines[1].message,
              (json{{"type", "captureFailed"}, {"captureId", id}, {"error", "No capturable window"}}));
    ids.push_back(id);
    // The overlay was cancelled: no landing, not even after its safety timer.
    EXPECT_EQ(helper->readLine(4500ms), std::nullopt);
  }
  EXPECT_NE(ids[0], ids[1]);
}

TEST_F(HotkeyCapture, TwoChordsInQuickSuccessionGiveOneCapture) {
  front({"--title", "Twice"});
  startHelper();
  chord();
  chord();
  auto lines = readUntil(sawTypes({"capture", "captureLanded"}));
  EXPECT_EQ(helper->readLine(500ms), std::nullopt);
  auto types = typesOf(lines);
  EXPECT_EQ(std::count(types.begin(), types.end(), "hotkey"), 1) << ::testing::PrintToString(types);
  EXPECT_EQ(std::count(types.begin(), types.end(), "capture"), 1);
  EXPECT_EQ(std::count(types.begin(), types.end(), "captureLanded"), 1);
}

TEST_F(HotkeyCapture, AChordAfterTheCaptureBeforeTheLandingStartsASecondCaptureAndBothLand) {
  front({"--title", "Again"});
  startHelper();
  chord();
  auto first = readUntil(sawTypes({"capture"}));
  ASSERT_TRUE(sawTypes({"hotkey", "capture"})(first)) << ::testing::PrintToString(typesOf(first));
  // Without a card the first overlay lands only after its 1.2 s wait.
  ASSERT_FALSE(sawTypes({"captureLanded"})(first));
  chord();
  auto second = readUntil([](const std::vector<Received>& lines) {
    int landed = 0, captured = 0;
    for (const auto& line : lines) {
      landed += line.message.value("type", "") == "captureLanded";
      captured += line.message.value("type", "") == "capture";
    }
    return landed == 2 && captured == 1;
  });
  const json firstId = first.front().message["captureId"];
  std::vector<json> secondIds, landedIds;
  for (const auto& [message, at] : second) {
    const std::string type = message.value("type", "");
    if (type == "hotkey" || type == "capture") secondIds.push_back(message["captureId"]);
    if (type == "captureLanded") landedIds.push_back(message["captureId"]);
    EXPECT_NE(type, "captureFailed") << message;
  }
  ASSERT_EQ(secondIds.size(), 2u) << ::testing::PrintToString(typesOf(second));
  EXPECT_TRUE(isCaptureId(secondIds[0]));
  EXPECT_NE(secondIds[0], firstId);
  EXPECT_EQ(secondIds[1], secondIds[0]);
  ASSERT_EQ(landedIds.size(), 2u);
  EXPECT_EQ(landedIds[0], firstId);
  EXPECT_EQ(landedIds[1], secondIds[0]);
}

TEST_F(HotkeyCapture, AStoppedApplicationStillEndsTheCaptureAndTheNextChordWorks) {
  front({"--title", "Stopped"});
  startHelper();
  chord();
  auto hotkey = parse(helper->readLine());
  ASSERT_EQ(hotkey.value("target", ""), "capture") << hotkey;
  ASSERT_EQ(::kill(*window->pid(), SIGSTOP), 0);
  const auto stoppedAt = Clock::now();
  auto lines = readUntil([](const std::vector<Received>& lines) {
    for (const auto& line : lines) {
      const std::string type = line.message.value("type", "");
      if (type == "capture" || type == "captureFailed") return true;
    }
    return false;
  });
  const auto endedAfter = Clock::now() - stoppedAt;
  ::kill(*window->pid(), SIGCONT);
  ASSERT_FALSE(lines.empty());
  const std::string ended = lines.back().message.value("type", "");
  ASSERT_TRUE(ended == "capture" || ended == "captureFailed") << ::testing::PrintToString(typesOf(lines));
  // The walk's 1.2 s deadline, the 0.5 s call in flight when it passes, the 0.5 s
  // call for the window before the walk, and scheduling on a loaded machine.
  EXPECT_LT(endedAfter, 2700ms);
  // The overlay of the first capture ends before the next chord.
  if (ended == "capture") readUntil(sawTypes({"captureLanded"}));

  chord();
  auto next = parse(helper->readLine());
  ASSERT_EQ(next.value("target", ""), "capture") << next;
  EXPECT_NE(next["captureId"], hotkey["captureId"]);
  // The application answers the requests queued while it was stopped first; when
  // the window's frame comes too late there is no overlay, and so no landing.
  const bool animated = next.value("animated", false);
  auto rest = readUntil(animated ? sawTypes({"capture", "captureLanded"}) : sawTypes({"capture"}));
  EXPECT_TRUE(animated ? sawTypes({"capture", "captureLanded"})(rest) : sawTypes({"capture"})(rest))
      << ::testing::PrintToString(typesOf(rest));
}

TEST_F(HotkeyCapture, ClicksPassThroughTheOverlayAndNoPanelOutlivesTheLanding) {
  front({"--title", "Clicks", "--report-clicks"});
  auto button = window->readLine(5s);
  ASSERT_TRUE(button && button->starts_with("button ")) << button.value_or("(none)");
  int x = 0, y = 0;
  ASSERT_EQ(std::sscanf(button->c_str(), "button %d %d", &x, &y), 2);
  startHelper();
  chord();
  auto hotkey = parse(helper->readLine());
  ASSERT_EQ(hotkey.value("target", ""), "capture") << hotkey;
  // The launcher's child draws the panels (the helper disclaimed by its launcher).
  auto panels = [this] {
    int mapped = mappedPanelCount(helper->pid());
    for (pid_t child : childrenOf(helper->pid())) mapped += mappedPanelCount(child);
    return mapped;
  };
  // The overlay waits 1.2 s for a card that never comes: time enough to click.
  const auto mappedBy = Clock::now() + 3s;
  while (panels() == 0 && Clock::now() < mappedBy) std::this_thread::sleep_for(5ms);
  ASSERT_GT(panels(), 0) << "no panel of the helper was mapped";
  ASSERT_TRUE(keyboard.click(x, y));
  EXPECT_EQ(window->readLine(5s), "clicked");

  auto lines = readUntil(sawTypes({"capture", "captureLanded"}));
  ASSERT_TRUE(sawTypes({"capture", "captureLanded"})(lines)) << ::testing::PrintToString(typesOf(lines));
  // The render thread takes its windows down after the landing, asynchronously.
  const auto goneBy = Clock::now() + 5s;
  while (panels() > 0 && Clock::now() < goneBy) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(panels(), 0);
}

// GNOME's enable-animations off, in a settings key file only the helper reads.
TEST_F(HotkeyCapture, ReduceMotionCapturesWithoutPreviewOrLanding) {
  namespace fs = std::filesystem;
  const fs::path config = fs::temp_directory_path() / ("zoba-e2e-motion-" + std::to_string(::getpid()));
  fs::create_directories(config / "glib-2.0" / "settings");
  std::ofstream(config / "glib-2.0" / "settings" / "keyfile") << "[org/gnome/desktop/interface]\n"
                                                                 "enable-animations=false\n";
  struct Remove {
    fs::path path;
    ~Remove() { fs::remove_all(path); }
  } remove{config};
  if (!fs::exists("/usr/share/glib-2.0/schemas/org.gnome.desktop.interface.gschema.xml"))
    GTEST_SKIP() << "needs gsettings-desktop-schemas";

  front({"--title", "Still"});
  startHelper({.unset = {}, .set = {{"GSETTINGS_BACKEND", "keyfile"}, {"XDG_CONFIG_HOME", config.string()}}});
  chord();
  auto hotkey = parse(helper->readLine());
  ASSERT_EQ(hotkey.value("target", ""), "capture") << hotkey;
  EXPECT_EQ(hotkey["animated"], false);
  helper->writeLine(json{{"type", "captureTarget"},
                         {"id", "card"},
                         {"captureId", hotkey["captureId"]},
                         {"frame", {{"x", 1500}, {"y", 900}, {"width", 160}, {"height", 96}}}}
                        .dump());
  auto lines = readUntil(sawTypes({"response", "capture"}));
  // A landing would come within the overlay's safety time of 4 s.
  for (auto line = helper->readLine(4500ms); line; line = helper->readLine(4500ms)) {
    lines.push_back({parse(line), Clock::now() - chordAt});
  }
  auto types = typesOf(lines);
  std::sort(types.begin(), types.end());
  EXPECT_EQ(types, (std::vector<std::string>{"capture", "response"}));
  for (const auto& [message, at] : lines) {
    if (message.value("type", "") == "response") {
      EXPECT_EQ(message,
                (json{{"type", "response"}, {"id", "card"}, {"ok", true}, {"result", json::object()}}));
    }
  }
}

}  // namespace
}  // namespace zoba::testing
