// Requests and chords against the service on the in-memory platform.
#include <gtest/gtest.h>
#include <unistd.h>

#include "Platform/Events.h"
#include "ZobaCapture/Service.h"
#include "tests/capture/OutputPipe.h"
#include "tests/fakes/FakePlatform.h"

namespace zoba {
namespace {

using nlohmann::json;
namespace Flag = platform::ModifierFlag;

class ServiceTest : public ::testing::Test {
 protected:
  std::vector<json> sent() {
    std::vector<json> messages;
    for (const auto& line : pipe.lines()) messages.push_back(json::parse(line));
    return messages;
  }
  void grant(bool screenRecording, bool accessibility) {
    fake.privacy.screenRecording = screenRecording;
    fake.privacy.accessibility = accessibility;
  }

  fakes::FakePlatform fake = fakes::installFakePlatform();
  OutputPipe pipe;
  CaptureService service{{"zoba-capture", "--host-pid", "500", "--service"}};
};

TEST_F(ServiceTest, ReadyMessage) {
  grant(true, false);
  EXPECT_EQ(service.readyMessage(),
            (json{{"type", "ready"},
                  {"version", 1},
                  {"hotkey", "shift"},
                  {"permissions", {{"screenRecording", true}, {"accessibility", false}}}}));
}

TEST_F(ServiceTest, SessionIsAnAdditionalKeyOfReadyAndStatus) {
  grant(false, true);
  fake.workspace.sessionDescription =
      platform::SessionDescription{"wayland", "gnome", {"screenshot", "overlay"}};
  const json session = {
      {"type", "wayland"}, {"desktop", "gnome"}, {"unavailable", {"screenshot", "overlay"}}};
  auto ready = service.readyMessage();
  EXPECT_EQ(ready["session"], session);
  EXPECT_EQ(ready["permissions"], (json{{"screenRecording", false}, {"accessibility", true}}));
  EXPECT_EQ(ready["hotkey"], "shift");
  service.handle(R"({"type":"status","id":"s"})");
  auto messages = sent();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0]["result"]["session"], session);
  EXPECT_EQ(messages[0]["result"]["hotkey"], "shift");
  // Nothing unavailable is an empty list, not an absent key.
  fake.workspace.sessionDescription = platform::SessionDescription{"x11", "", {}};
  EXPECT_EQ(service.readyMessage()["session"],
            (json{{"type", "x11"}, {"desktop", ""}, {"unavailable", json::array()}}));
}

TEST_F(ServiceTest, PermissionRequestsReachThePlatformOnlyForKnownNames) {
  service.handle(R"({"type":"requestPermission","id":"1","permission":"accessibility"})");
  service.handle(R"({"type":"requestPermission","id":"2","permission":"accessibility"})");
  service.handle(R"({"type":"requestPermission","id":"3","permission":"screenRecording"})");
  for (const char* name : {"\"Accessibility\"", "\"\"", "\"screenrecording\"", "true", "null"}) {
    service.handle(std::string(R"({"type":"requestPermission","id":"bad","permission":)") + name + "}");
  }
  using P = platform::Permission;
  EXPECT_EQ(fake.privacy.requests, (std::vector<P>{P::accessibility, P::accessibility, P::screenRecording}));
  auto messages = sent();
  ASSERT_EQ(messages.size(), 8u);
  for (int i = 3; i < 8; ++i) EXPECT_EQ(messages[i]["error"], "Unknown permission");
}

TEST_F(ServiceTest, PermissionsAreReadAfterThePrompt) {
  service.handle(R"({"type":"requestPermission","id":"1","permission":"screenRecording"})");
  grant(true, true);
  service.handle(R"({"type":"status","id":"2"})");
  auto messages = sent();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0]["result"]["permissions"]["screenRecording"], false);
  EXPECT_EQ(messages[1]["result"]["permissions"], (json{{"screenRecording", true}, {"accessibility", true}}));
}

TEST_F(ServiceTest, SetHotkeyReplacesTheDetectorArmed) {
  service.installMonitor();
  fake.workspace.frontmost = platform::RunningApplication{500, "Host", "com.zoba.host"};
  fake.events.flagsChanged(Flag::leftShift | Flag::rightShift);  // fires, disarms
  service.handle(R"({"type":"setHotkey","hotkey":"shift"})");
  fake.events.flagsChanged(Flag::leftShift | Flag::rightShift);  // the new detector fires at once
  service.handle(R"({"type":"setHotkey","id":"o","hotkey":"option"})");
  fake.events.flagsChanged(Flag::leftShift | Flag::rightShift);
  fake.events.flagsChanged(Flag::leftOption | Flag::rightOption | Flag::option);
  EXPECT_EQ(service.preset(), ChordPreset::option);
  // The monitor learns each preset's keys (a compositor's bindings claim only those).
  EXPECT_EQ(fake.events.watchedKeys, (std::vector<std::uint64_t>{Flag::leftShift | Flag::rightShift,
                                                                 Flag::leftShift | Flag::rightShift,
                                                                 Flag::leftOption | Flag::rightOption}));
  json host{{"type", "hotkey"}, {"target", "host"}};
  EXPECT_EQ(sent(), (std::vector<json>{
                        host,
                        host,
                        {{"type", "response"}, {"id", "o"}, {"ok", true}, {"result", {{"hotkey", "option"}}}},
                        host}));
}

TEST_F(ServiceTest, HotkeyAnswers) {
  service.installMonitor();
  ASSERT_TRUE(service.monitoring());
  auto chord = [&] {
    fake.events.flagsChanged(Flag::leftShift);
    fake.events.flagsChanged(Flag::leftShift | Flag::rightShift | Flag::shift);
    fake.events.flagsChanged(0);
  };
  json host{{"type", "hotkey"}, {"target", "host"}};

  chord();  // nothing in front: nothing
  fake.workspace.frontmost = platform::RunningApplication{500, "Host", std::nullopt};
  chord();
  fake.workspace.frontmost->pid = ::getpid();  // the helper itself
  chord();
  fake.workspace.frontmost->pid = 777;  // another application, permissions missing
  grant(true, false);
  chord();
  grant(false, true);
  chord();
  grant(true, true);
  chord();  // a capture starts
  fake.workspace.frontmost->pid = 500;
  chord();  // host wins over everything else, also during a capture
  // The capture (of an application without windows) ends before the platform goes.
  for (int i = 0; i < 1000 && service.capturing(); ++i) {
    fake.runLoop.runPending();
    fake.runLoop.waitForPosts(SIZE_MAX, 0.005);
  }
  ASSERT_FALSE(service.capturing());

  auto setup = [](bool screenRecording, bool accessibility) {
    return json{{"type", "hotkey"},
                {"target", "setup"},
                {"permissions", {{"screenRecording", screenRecording}, {"accessibility", accessibility}}}};
  };
  auto messages = sent();
  ASSERT_EQ(messages.size(), 7u);
  EXPECT_EQ(messages[4]["target"], "capture");
  EXPECT_EQ(messages[6]["type"], "captureFailed");
  messages.erase(messages.begin() + 6);
  messages.erase(messages.begin() + 4);
  EXPECT_EQ(messages, (std::vector<json>{host, host, setup(true, false), setup(false, true), host}));
}

TEST_F(ServiceTest, ChordFiresOnceUntilBothKeysAreUp) {
  service.installMonitor();
  fake.workspace.frontmost = platform::RunningApplication{500, std::nullopt, std::nullopt};
  for (std::uint64_t flags : {Flag::leftShift, Flag::leftShift | Flag::rightShift, Flag::rightShift,
                              Flag::leftShift | Flag::rightShift, Flag::leftShift, std::uint64_t{0},
                              Flag::leftShift | Flag::rightShift | Flag::leftCommand}) {
    fake.events.flagsChanged(flags);
  }
  EXPECT_EQ(sent().size(), 2u);
}

TEST_F(ServiceTest, NoMonitorWithoutADisplay) {
  fake.events.available = false;
  service.installMonitor();
  EXPECT_FALSE(service.monitoring());
  service.handle(R"({"type":"status","id":"still"})");
  EXPECT_EQ(sent().at(0)["id"], "still");
}

TEST_F(ServiceTest, CaptureTargetIsAnsweredWhateverItNames) {
  fake.workspace.screenList = {platform::Screen{Rect(0, 0, 1920, 1080)}};
  for (const char* request : {
           R"({"type":"captureTarget","id":"1","captureId":"none"})",
           R"({"type":"captureTarget","id":"2","captureId":"x","frame":{"x":1,"y":2,"width":0,"height":4}})",
           R"({"type":"captureTarget","id":"3","captureId":"x","frame":5,"radius":-4})",
       }) {
    service.handle(request);
  }
  service.handle(R"({"type":"captureTarget","id":"4"})");
  auto messages = sent();
  ASSERT_EQ(messages.size(), 4u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(messages[i]["result"], json::object());
  EXPECT_EQ(messages[3]["error"], "Missing capture");
}

}  // namespace
}  // namespace zoba
