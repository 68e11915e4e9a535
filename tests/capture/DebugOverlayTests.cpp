// The debug mode's overlay on the in-memory platform: its time scale, its test
// card, and the frame recorder's samples and file names.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "ZobaCapture/CaptureTransition.h"
#include "ZobaCapture/DebugCapture.h"
#include "tests/fakes/FakePlatform.h"

namespace zoba {
namespace {

namespace fs = std::filesystem;

TEST(DebugTimeScale, EverySlowValueGivesAPositiveFiniteScale) {
  struct Case {
    std::optional<double> slow;
    double scale;
  };
  for (const Case& c : {Case{std::nullopt, 1}, Case{10, 10}, Case{0.5, 0.5}, Case{1e-6, 1e-6}, Case{0, 1},
                        Case{-0.0, 1}, Case{-3, 1}, Case{std::nan(""), 1}, Case{-double(INFINITY), 1},
                        Case{double(INFINITY), 100}, Case{1e300, 100}, Case{100, 100}}) {
    SCOPED_TRACE(c.slow ? std::to_string(*c.slow) : "absent");
    EXPECT_EQ(DebugCapture::timeScale(c.slow), c.scale);
  }
}

TEST(DebugFrameNames, SampleTimesNamedWithOneDecimal) {
  struct Case {
    double scale;
    std::vector<std::string> names;
  };
  for (const Case& c : {
           Case{10,
                {"frame-00-0.3s.png", "frame-01-1.2s.png", "frame-02-2.5s.png", "frame-03-3.5s.png",
                 "frame-04-4.5s.png", "frame-05-5.5s.png", "frame-06-6.5s.png", "frame-07-8.0s.png"}},
           Case{1,
                {"frame-00-0.0s.png", "frame-01-0.1s.png", "frame-02-0.2s.png", "frame-03-0.3s.png",
                 "frame-04-0.5s.png", "frame-05-0.6s.png", "frame-06-0.7s.png", "frame-07-0.8s.png"}},
       }) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < DebugCapture::samplingTimes.size(); ++i)
      names.push_back(DebugCapture::frameFileName(int(i), DebugCapture::samplingTimes[i] * c.scale / 10));
    EXPECT_EQ(names, c.names) << "scale " << c.scale;
  }
}

class DebugOverlay : public testing::Test {
 protected:
  DebugOverlay() {
    fake.workspace.screenList = {{Rect(0, 0, 1920, 1080)}, {Rect(1920, 0, 1280, 1024)}};
    directory = fs::temp_directory_path() / ("zoba-frames-" + std::to_string(::getpid()));
    fs::create_directories(directory);
  }
  ~DebugOverlay() override {
    fake.runLoop.advance(100);
    CaptureTransition::setTimeScale(1);
    fs::remove_all(directory);
  }

  // Runs the recorder to its end on the virtual clock; returns the virtual
  // seconds at which each file appeared.
  std::map<std::string, double> record() {
    bool done = false;
    [](std::string directory, bool& done) -> Task<void> {
      co_await DebugCapture::recordOverlayFrames(std::move(directory));
      done = true;
    }(directory.string(), done)
                                                 .detach();
    std::map<std::string, double> appeared;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done && std::chrono::steady_clock::now() < deadline) {
      fake.runLoop.runPending();
      std::error_code error;
      for (const auto& entry : fs::directory_iterator(directory, error))
        appeared.emplace(entry.path().filename().string(), fake.runLoop.now());
      if (done) break;
      // The clock moves only while no frame is being written, in steps of 1 ms.
      if (!fake.runLoop.waitForPosts(SIZE_MAX, 0.0005)) fake.runLoop.advance(0.001);
    }
    EXPECT_TRUE(done);
    return appeared;
  }

  fakes::FakePlatform fake = fakes::installFakePlatform();
  fs::path directory;
};

TEST_F(DebugOverlay, TestCardSitsNearThePrimaryScreensBottomRight) {
  EXPECT_EQ(DebugCapture::debugTarget(), Rect(1640, 120, 160, 96));
  fake.workspace.screenList = {{Rect(-100, 50, 1000, 800)}};
  EXPECT_EQ(DebugCapture::debugTarget(), Rect(620, 170, 160, 96));
  fake.workspace.screenList.clear();
  EXPECT_EQ(DebugCapture::debugTarget(), std::nullopt);
}

TEST_F(DebugOverlay, StartsOverTheFocusedWindowOnlyWithAFrame) {
  const platform::RunningApplication application{42, "Mail", std::nullopt};
  EXPECT_FALSE(DebugCapture::startTransition(application));  // no accessibility window
  auto app = fake.accessibility.addTree("AXApplication");
  fake.accessibility.mapProcess(42, app);
  auto window = fake.accessibility.addTree("AXWindow");
  fake.accessibility.node(window).attributes["AXPosition"] = Point{100, 50};
  fake.accessibility.node(window).attributes["AXSize"] = Size{800, 600};
  fake.accessibility.node(app).attributes["AXFocusedWindow"] = window;
  fake.workspace.reduceMotion = true;  // not consulted here
  auto overlay = DebugCapture::startTransition(application);
  ASSERT_TRUE(overlay);
  EXPECT_EQ(overlay->cardFrame(), Rect(100, 430, 800, 600));
  EXPECT_EQ(overlay->surfaces().size(), 2u);
  // It flies: a screenshot lifts the card.
  overlay->setScreenshot(platform::Image::fromWords(8, 6, platform::Image::Format::opaque,
                                                    std::vector<std::uint32_t>(48, 0xFFFFFFFFu)));
  fake.runLoop.advance(0.1);
  EXPECT_EQ(overlay->phase(), CaptureTransition::Phase::lifted);
  fake.workspace.screenList.clear();
  EXPECT_FALSE(DebugCapture::startTransition(application));
}

TEST_F(DebugOverlay, RecorderWritesThePrimaryPanelAtTheEightTimes) {
  const std::int32_t self = ::getpid();
  using W = fakes::FakeScreenCapture;
  fake.screenCapture.windows = {
      W::window(1, self, Rect(1920, 0, 1280, 1024), std::nullopt, 25),   // our panel on the second screen
      W::window(2, self, Rect(0, 0, 400, 300), std::nullopt, 0),         // an ordinary window of ours
      W::window(3, self + 1, Rect(0, 0, 1920, 1080), std::nullopt, 25),  // someone else's
      W::window(4, self, Rect(0, 0, 1920, 1080), std::nullopt, 25),      // the one
  };
  CaptureTransition::setTimeScale(2);
  auto appeared = record();
  std::vector<std::string> names;
  for (const auto& [name, time] : appeared) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"frame-00-0.1s.png", "frame-01-0.2s.png", "frame-02-0.5s.png",
                                             "frame-03-0.7s.png", "frame-04-0.9s.png", "frame-05-1.1s.png",
                                             "frame-06-1.3s.png", "frame-07-1.6s.png"}));
  // Each sample waits at least until its own time; time spent writing a frame
  // only makes the later ones late.
  std::size_t i = 0;
  double previous = 0;
  for (const auto& [name, time] : appeared) {
    EXPECT_GE(
        time - previous,
        (DebugCapture::samplingTimes[i] - (i ? DebugCapture::samplingTimes[i - 1] : 0)) * 2 / 10 - 0.0015)
        << name;
    previous = time;
    ++i;
  }
  ASSERT_EQ(fake.screenCapture.filters.size(), 8u);
  for (const auto& filter : fake.screenCapture.filters) EXPECT_EQ(filter.windowID, 4u);
  for (const auto& configuration : fake.screenCapture.configurations) {
    EXPECT_EQ(configuration.width, 1920);
    EXPECT_EQ(configuration.height, 1080);
    EXPECT_FALSE(configuration.showsCursor);
  }
  for (const auto& request : fake.screenCapture.contentRequests) {
    EXPECT_FALSE(request.excludeDesktopWindows);
    EXPECT_TRUE(request.onScreenWindowsOnly);
  }
  std::ifstream file(directory / "frame-03-0.7s.png", std::ios::binary);
  std::vector<std::uint8_t> png((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  auto image = platform::decodePNG(png);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width(), 1920);
  EXPECT_EQ(image->height(), 1080);
}

TEST_F(DebugOverlay, RecorderSkipsSamplesThatFail) {
  struct Case {
    const char* name;
    bool contentError, captureError, noPanel, missingDirectory;
  };
  for (const Case& c : {Case{"window list fails", true, false, false, false},
                        Case{"screenshot fails", false, true, false, false},
                        Case{"no panel of ours", false, false, true, false},
                        Case{"directory missing", false, false, false, true}}) {
    SCOPED_TRACE(c.name);
    fake.screenCapture.windows = {fakes::FakeScreenCapture::window(4, c.noPanel ? ::getpid() + 1 : ::getpid(),
                                                                   Rect(0, 0, 64, 32), std::nullopt, 25)};
    if (c.contentError) fake.screenCapture.contentError = platform::ScreenCaptureError{"no list"};
    if (c.captureError) fake.screenCapture.captureError = platform::ScreenCaptureError{"no pixels"};
    if (c.missingDirectory) fs::remove_all(directory);
    record();
    EXPECT_TRUE(!fs::exists(directory) || fs::is_empty(directory));
    EXPECT_EQ(fake.screenCapture.calls.content, 8);
    fake.screenCapture.contentError.reset();
    fake.screenCapture.captureError.reset();
    fake.screenCapture.calls = {};
    fs::create_directories(directory);
  }
}

}  // namespace
}  // namespace zoba
