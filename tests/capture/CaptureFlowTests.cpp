// The hotkey capture on the in-memory platform: the messages of one capture, the
// host's card steering its overlay, failures, and chords while a capture runs.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>

#include "Platform/Events.h"
#include "ZobaCapture/CaptureTransition.h"
#include "ZobaCapture/Service.h"
#include "tests/capture/OutputPipe.h"
#include "tests/fakes/FakePlatform.h"

namespace zoba {
namespace {

using nlohmann::json;
namespace Flag = platform::ModifierFlag;

constexpr std::int32_t kPid = 42;
constexpr Rect windowFrame(100, 50, 800, 600);  // top-left space

class CaptureFlowTest : public ::testing::Test {
 protected:
  CaptureFlowTest() {
    fake.privacy.screenRecording = true;
    fake.privacy.accessibility = true;
    fake.workspace.screenList = {platform::Screen{Rect(0, 0, 1920, 1080)}};
    fake.workspace.frontmost = platform::RunningApplication{kPid, "Mail", "org.example.Mail"};
    fake.workspace.icons[kPid] = platform::Image::fromWords(
        128, 128, platform::Image::Format::opaque, std::vector<std::uint32_t>(128 * 128, 0xFF00FF00u));
    auto app = fake.accessibility.addTree("AXApplication");
    fake.accessibility.mapProcess(kPid, app);
    auto window = fake.accessibility.addTree("AXWindow");
    auto& attributes = fake.accessibility.node(window).attributes;
    attributes["AXPosition"] = Point{windowFrame.origin.x, windowFrame.origin.y};
    attributes["AXSize"] = Size{windowFrame.size.width, windowFrame.size.height};
    attributes["AXTitle"] = std::string("Inbox");
    fake.accessibility.node(app).attributes["AXFocusedWindow"] = window;
    fake.screenCapture.windows = {fakes::FakeScreenCapture::window(7, kPid, windowFrame, "Inbox")};
    service.installMonitor();
  }
  ~CaptureFlowTest() override {
    fake.runLoop.advance(100);  // every overlay ends before the platform goes
  }

  void chord() {
    fake.events.flagsChanged(Flag::leftShift);
    fake.events.flagsChanged(Flag::leftShift | Flag::rightShift | Flag::shift);
    fake.events.flagsChanged(0);
  }
  // Serves the main loop until the running capture has sent its result. The capture
  // waits for the overlay's reveal before its walk, so the clock moves on by `step`
  // each time nothing else is left to run for a few real milliseconds.
  void finishCapture(double step = 0.01) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (service.capturing() && std::chrono::steady_clock::now() < deadline) {
      fake.runLoop.runPending();
      if (service.capturing() && !fake.runLoop.waitForPosts(SIZE_MAX, 0.005)) fake.runLoop.advance(step);
    }
    ASSERT_FALSE(service.capturing()) << "the capture did not end";
  }
  // Serves the main loop, the clock standing still, until the screenshot has
  // reached the overlay: its reveal is then due exactly 0.1 s after the chord,
  // however slowly the worker threads ran.
  void awaitScreenshot() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto arrived = [&] {
      for (const auto& message : sent())
        if (message["type"] == "captureSnapshot") return true;
      return false;
    };
    while (!arrived() && std::chrono::steady_clock::now() < deadline) {
      fake.runLoop.waitForPosts(SIZE_MAX, 0.005);
      fake.runLoop.runPending();
    }
    ASSERT_TRUE(arrived()) << "the screenshot never came";
  }
  std::vector<json> sent() {
    std::vector<json> messages;
    for (const auto& line : pipe.lines()) messages.push_back(json::parse(line));
    return messages;
  }
  static std::vector<std::string> types(const std::vector<json>& messages) {
    std::vector<std::string> names;
    for (const auto& message : messages) names.push_back(message["type"]);
    return names;
  }
  // The id of the newest "hotkey" line.
  std::string lastCaptureId() {
    std::string id;
    for (const auto& message : sent())
      if (message["type"] == "hotkey") id = message.value("captureId", "");
    return id;
  }
  void target(const std::string& captureId, const std::string& rest) {
    service.handle(R"({"type":"captureTarget","id":"t","captureId":")" + captureId + "\"" + rest + "}");
  }

  fakes::FakePlatform fake = fakes::installFakePlatform();
  OutputPipe pipe;
  CaptureService service{{"zoba-capture", "--host-pid", "500", "--service"}};
};

// The host's frames count from the primary screen's top-left corner, wherever that
// screen sits on the desktop; screens are in bottom-left space, primary first.
TEST_F(CaptureFlowTest, CardFramesCountFromThePrimaryScreensCorner) {
  struct Case {
    std::vector<platform::Screen> screens;
    Rect expected;  // of the frame (100, 50, 160, 96)
  };
  for (const Case& c : {
           // primary on the right of a 960-wide secondary screen
           Case{{platform::Screen{Rect(960, 0, 960, 1080)}, platform::Screen{Rect(0, 0, 960, 1080)}},
                Rect(1060, 934, 160, 96)},
           // primary below a secondary screen of 1200 rows (root y 1200 → bottom-left y −1200)
           Case{{platform::Screen{Rect(0, -1200, 1920, 1080)}, platform::Screen{Rect(0, -120, 1920, 1200)}},
                Rect(100, -266, 160, 96)},
       }) {
    fake.workspace.screenList = c.screens;
    chord();
    const std::string id = lastCaptureId();
    auto overlay = service.transition(id);
    ASSERT_TRUE(overlay);
    target(id, R"(,"frame":{"x":100,"y":50,"width":160,"height":96})");
    ASSERT_TRUE(overlay->target());
    EXPECT_EQ(overlay->target()->frame, c.expected);
    finishCapture();
    fake.runLoop.advance(5);
  }
}

TEST_F(CaptureFlowTest, OneCaptureWithAnImmediateCard) {
  chord();
  const std::string id = lastCaptureId();
  EXPECT_TRUE(
      std::regex_match(id, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")))
      << id;
  ASSERT_TRUE(service.transition(id));
  target(id, R"(,"frame":{"x":100,"y":50,"width":160,"height":96})");
  auto overlay = service.transition(id);
  ASSERT_TRUE(overlay && overlay->target());
  EXPECT_EQ(overlay->target()->frame, Rect(100, 934, 160, 96));
  EXPECT_EQ(overlay->target()->radius, 8);
  finishCapture();
  fake.runLoop.advance(1.0);  // reveal at 0.1 s, then a flight of at most 0.5 s
  EXPECT_FALSE(service.transition(id));

  auto messages = sent();
  ASSERT_EQ(types(messages),
            (std::vector<std::string>{"hotkey", "response", "captureSnapshot", "capture", "captureLanded"}));
  EXPECT_EQ(messages[0],
            (json{{"type", "hotkey"}, {"target", "capture"}, {"captureId", id}, {"animated", true}}));
  const auto& snapshot = messages[2]["snapshot"];
  EXPECT_EQ(messages[2]["captureId"], id);
  EXPECT_TRUE(snapshot["dataUrl"].get<std::string>().starts_with("data:image/jpeg;base64,"));
  EXPECT_EQ(snapshot["appName"], "Mail");
  EXPECT_EQ(snapshot["windowTitle"], "Inbox");
  EXPECT_TRUE(snapshot.contains("iconBase64"));
  EXPECT_EQ(messages[3]["captureId"], id);
  EXPECT_EQ(messages[3]["capture"]["windowTitle"], "Inbox");
  EXPECT_EQ(messages[3]["capture"]["image"]["width"], 800);
  EXPECT_EQ(messages[4], (json{{"type", "captureLanded"}, {"captureId", id}}));
}

TEST_F(CaptureFlowTest, WithoutACardTheOverlayStillLands) {
  const double start = fake.runLoop.now();
  chord();
  const std::string id = lastCaptureId();
  awaitScreenshot();
  // Fine steps, so that a slow encoder does not carry the clock past the landing.
  finishCapture(0.001);
  fake.runLoop.advance(0.1 + 1.2 + 0.28 - 0.01 - (fake.runLoop.now() - start));
  EXPECT_EQ(types(sent()).back(), "capture");
  fake.runLoop.advance(0.02);
  EXPECT_EQ(sent().back(), (json{{"type", "captureLanded"}, {"captureId", id}}));
}

TEST_F(CaptureFlowTest, TheCardRequestReachesItsOverlay) {
  struct Case {
    const char* request;
    std::optional<Rect> frame;
    double radius;
  };
  for (const Case& c : {
           Case{R"(,"frame":{"x":100,"y":50,"width":160,"height":96})", Rect(100, 934, 160, 96), 8},
           Case{R"(,"frame":{"x":100,"y":50,"width":160,"height":96},"radius":"12")", Rect(100, 934, 160, 96),
                8},
           Case{R"(,"frame":{"x":0,"y":0,"width":10,"height":10},"radius":0)", Rect(0, 1070, 10, 10), 0},
           Case{R"(,"frame":{"x":0,"y":0,"width":10,"height":10},"radius":-4)", Rect(0, 1070, 10, 10), -4},
           Case{R"(,"frame":{"x":0,"y":0,"width":10,"height":10},"radius":12.5)", Rect(0, 1070, 10, 10),
                12.5},
           Case{R"(,"frame":{"x":1,"y":2,"width":0,"height":4})", std::nullopt, 8},
           Case{R"(,"frame":{"x":1,"y":2,"width":3,"height":-4})", std::nullopt, 8},
           Case{R"(,"frame":{"x":"1","y":2,"width":3,"height":4})", std::nullopt, 8},
           Case{R"(,"frame":[1,2,3,4])", std::nullopt, 8},
           Case{R"(,"frame":5)", std::nullopt, 8},
           Case{"", std::nullopt, 8},
       }) {
    SCOPED_TRACE(c.request);
    chord();
    const std::string id = lastCaptureId();
    auto overlay = service.transition(id);
    ASSERT_TRUE(overlay);
    target(id, c.request);
    EXPECT_TRUE(overlay->targetResolved());
    ASSERT_EQ(overlay->target().has_value(), c.frame.has_value());
    if (c.frame) {
      EXPECT_EQ(overlay->target()->frame, *c.frame);
      EXPECT_EQ(overlay->target()->radius, c.radius);
    }
    // A second answer changes nothing.
    target(id, R"(,"frame":{"x":500,"y":500,"width":50,"height":50},"radius":3)");
    ASSERT_EQ(overlay->target().has_value(), c.frame.has_value());
    if (c.frame) {
      EXPECT_EQ(overlay->target()->frame, *c.frame);
    }
    finishCapture();
    fake.runLoop.advance(5);
    EXPECT_FALSE(service.transition(id));
  }
  auto messages = sent();
  EXPECT_EQ(std::count(messages.begin(), messages.end(),
                       json{{"type", "response"}, {"id", "t"}, {"ok", true}, {"result", json::object()}}),
            22);
  for (const char* type : {"hotkey", "captureSnapshot", "capture", "captureLanded"}) {
    EXPECT_EQ(
        std::count_if(messages.begin(), messages.end(), [&](const json& m) { return m["type"] == type; }), 11)
        << type;
  }
}

TEST_F(CaptureFlowTest, ReducedMotionCapturesWithoutFlightOrPreview) {
  fake.workspace.reduceMotion = true;
  chord();
  const std::string id = lastCaptureId();
  EXPECT_FALSE(service.transition(id));
  target(id, R"(,"frame":{"x":100,"y":50,"width":160,"height":96})");
  finishCapture();
  EXPECT_EQ(fake.layerRenderer.shownPanels(), 1u);  // the shutter still flashes
  fake.runLoop.advance(10);
  EXPECT_EQ(fake.layerRenderer.shownPanels(), 0u);
  auto messages = sent();
  EXPECT_EQ(types(messages), (std::vector<std::string>{"hotkey", "response", "capture"}));
  EXPECT_EQ(messages[0]["animated"], false);
  EXPECT_EQ(messages[1]["ok"], true);
}

TEST_F(CaptureFlowTest, NoFocusedWindowFrameCapturesWithoutOverlay) {
  fake.workspace.screenList.clear();
  chord();
  finishCapture();
  auto messages = sent();
  EXPECT_EQ(types(messages), (std::vector<std::string>{"hotkey", "capture"}));
  EXPECT_EQ(messages[0]["animated"], false);
  EXPECT_TRUE(fake.layerRenderer.commits.empty());
}

TEST_F(CaptureFlowTest, AFailedCaptureCancelsItsOverlayAndTheNextChordCaptures) {
  fake.screenCapture.windows = {fakes::FakeScreenCapture::window(7, kPid, Rect(100, 50, 30, 600), "Tiny")};
  chord();
  const std::string first = lastCaptureId();
  finishCapture();
  EXPECT_FALSE(service.transition(first));
  EXPECT_EQ(fake.layerRenderer.shownPanels(), 0u);
  fake.runLoop.advance(10);
  auto messages = sent();
  ASSERT_EQ(types(messages), (std::vector<std::string>{"hotkey", "captureFailed"}));
  EXPECT_EQ(messages[1],
            (json{{"type", "captureFailed"}, {"captureId", first}, {"error", "No capturable window"}}));

  fake.screenCapture.windows = {fakes::FakeScreenCapture::window(7, kPid, windowFrame, "Inbox")};
  chord();
  const std::string second = lastCaptureId();
  EXPECT_NE(second, first);
  finishCapture();
  EXPECT_EQ(types(sent()).back(), "capture");
}

TEST_F(CaptureFlowTest, ChordsDuringACaptureAreDroppedAndAfterItStartAnother) {
  chord();
  chord();  // while the first runs: nothing
  const std::string first = lastCaptureId();
  EXPECT_EQ(types(sent()), (std::vector<std::string>{"hotkey"}));
  finishCapture();
  chord();  // after "capture", before the first overlay landed
  const std::string second = lastCaptureId();
  EXPECT_NE(first, second);
  EXPECT_TRUE(service.transition(first));
  EXPECT_TRUE(service.transition(second));
  finishCapture();
  fake.runLoop.advance(5);
  std::vector<std::string> landed;
  for (const auto& message : sent())
    if (message["type"] == "captureLanded") landed.push_back(message["captureId"]);
  EXPECT_EQ(landed, (std::vector<std::string>{first, second}));
}

// A window whose walk takes about a second: the host's requests sent during it are
// answered, and the overlay's timers fire, within a slice of the walk, not after it.
TEST_F(CaptureFlowTest, RequestsAndTimersAreServedDuringTheWalk) {
  auto& ax = fake.accessibility;
  std::vector<platform::AXElement> rows;
  for (int i = 0; i < 500; ++i) {
    rows.push_back(ax.add({{"AXRole", "AXStaticText"}, {"AXValue", "row " + std::to_string(i)}}));
    ax.node(rows.back()).delay = 0.002;
  }
  const auto app = *ax.applicationElement(kPid);
  ax.setChildren(*ax.node(app).attributes["AXFocusedWindow"].get<platform::AXElement>(), rows);

  auto now = [&] { return fake.runLoop.clock(); };
  struct Served {
    double at = -1;
    int walked = 0;  // the walk's elements read by then
  };
  Served status, card, probe, landed;
  double sentAt = -1;
  std::string id;
  ax.elapse = [&](double seconds) {
    fake.runLoop.elapse(seconds);
    if (landed.at < 0 && !id.empty() && !service.transition(id)) landed = {now(), ax.calls.multiple};
    if (ax.calls.multiple != 100 || sentAt >= 0) return;
    // What the reader thread and the overlay do meanwhile.
    sentAt = now();
    fake.runLoop.post([&] {
      service.handle(R"({"type":"status","id":"s"})");
      status = {now(), ax.calls.multiple};
    });
    fake.runLoop.post([&] {
      target(id, R"(,"frame":{"x":100,"y":50,"width":160,"height":96})");
      card = {now(), ax.calls.multiple};
    });
    fake.runLoop.after(0.05, [&] { probe = {now(), ax.calls.multiple}; });
  };
  chord();
  id = lastCaptureId();
  finishCapture();
  const int walked = ax.calls.multiple;
  ASSERT_GE(sentAt, 0) << "the walk never reached its hundredth element";

  // A slice of the walk (5 ms) plus the element in hand at its end.
  constexpr double slack = 0.005 + 0.002 + 1e-9;
  for (const auto& [name, served, due] :
       {std::tuple{"status", status, sentAt}, std::tuple{"captureTarget", card, sentAt},
        std::tuple{"a timer", probe, sentAt + 0.05}}) {
    SCOPED_TRACE(name);
    EXPECT_GE(served.at, due);
    EXPECT_LE(served.at, due + slack);
    EXPECT_LT(served.walked, walked) << "served only after the walk";
  }
  // The card's flight lands while the walk goes on.
  ASSERT_GE(landed.at, 0);
  EXPECT_LT(landed.walked, walked);
  EXPECT_LE(landed.at, sentAt + 0.5 + slack);
  const auto messages = sent();
  EXPECT_EQ(types(messages), (std::vector<std::string>{"hotkey", "captureSnapshot", "response", "response",
                                                       "captureLanded", "capture"}));
  // The walk itself read the whole window.
  EXPECT_EQ(walked, 501);
  EXPECT_NE(messages.back()["capture"]["text"].get<std::string>().find("row 499"), std::string::npos);
}

}  // namespace
}  // namespace zoba
