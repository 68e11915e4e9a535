// The hotkey capture of the real binary on the test desktop: a real GTK window in
// front, chords through XTEST, and every line the host gets for one capture.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "Platform/Image.h"
#include "tests/e2e/ChildProcess.h"
#include "tests/e2e/DesktopWindow.h"
#include "tests/e2e/Keyboard.h"

namespace zoba::testing {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

json parse(const std::optional<std::string>& line) {
  return line ? json::parse(*line, nullptr, false) : json();
}

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
  void startHelper() {
    helper = std::make_unique<ChildProcess>(ZOBA_CAPTURE_PATH,
                                            std::vector<std::string>{"--host-pid", std::to_string(::getpid())});
    auto ready = parse(helper->readLine());
    ASSERT_EQ(ready.value("type", ""), "ready") << ready;
  }
  void chord() {
    ASSERT_TRUE(keyboard.press("Shift_L") && keyboard.press("Shift_R") && keyboard.release("Shift_R") &&
                keyboard.release("Shift_L"));
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
      EXPECT_EQ(message, (json{{"type", "response"}, {"id", "card"}, {"ok", true}, {"result", json::object()}}));
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
  ASSERT_TRUE(sawTypes({"hotkey", "capture", "captureLanded"})(lines)) << ::testing::PrintToString(typesOf(lines));
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

}  // namespace
}  // namespace zoba::testing
