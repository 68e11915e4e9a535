// Two RandR monitors on the test desktop, the primary one on the right: the overlay
// stands over windows on either monitor and across both, and the host's card, given
// from the primary screen's corner, is where the card lands.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopWindow.h"
#include "tests/support/Keyboard.h"
#include "tests/support/PanelWindows.h"

namespace zoba::testing {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

// Left half: the secondary monitor; right half: the primary one.
constexpr RootRect secondary{0, 0, 960, 1080};
constexpr RootRect primary{960, 0, 960, 1080};

bool same(const RootRect& a, const RootRect& b, int slack) {
  return std::abs(a.x - b.x) <= slack && std::abs(a.y - b.y) <= slack &&
         std::abs(a.maxX() - b.maxX()) <= slack && std::abs(a.maxY() - b.maxY()) <= slack;
}

// Whether `outer` grown by `slack` on every side holds `inner`.
bool contains(const RootRect& outer, const RootRect& inner, int slack) {
  return inner.x >= outer.x - slack && inner.y >= outer.y - slack && inner.maxX() <= outer.maxX() + slack &&
         inner.maxY() <= outer.maxY() + slack;
}

std::string describe(const RootRect& r) {
  return std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) + "x" +
         std::to_string(r.height);
}

// What the panels showed during one capture.
struct Observed {
  std::vector<RootRect> panelFrames;  // of the sample with the most panels
  std::optional<RootRect> first;      // the visible union of the first sample that showed anything
  std::optional<RootRect> last;       // ... of the last one
  std::vector<json> lines;
};

class TwoMonitors : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!desktopAvailable() || !keyboard.connected()) GTEST_SKIP() << "needs an X display with XTEST";
    if (std::system("xrandr --query >/dev/null 2>&1") != 0) GTEST_SKIP() << "needs xrandr";
    ASSERT_EQ(std::system("xrandr --setmonitor '*ZobaRight' 960/254x1080/286+960+0 screen && "
                          "xrandr --setmonitor ZobaLeft 960/254x1080/286+0+0 none"),
              0);
    split = true;
  }
  void TearDown() override {
    if (split) {
      [[maybe_unused]] int status =
          std::system("xrandr --delmonitor ZobaRight; xrandr --delmonitor ZobaLeft");
    }
  }

  void startHelper() {
    helper = std::make_unique<ChildProcess>(
        ZOBA_CAPTURE_PATH, std::vector<std::string>{"--host-pid", std::to_string(::getpid())});
    auto ready = helper->readLine();
    ASSERT_TRUE(ready && ready->find("\"ready\"") != std::string::npos);
    // The panels carry the service's pid; the launcher is its parent.
    auto children = childrenOf(helper->pid());
    ASSERT_EQ(children.size(), 1u);
    service = children.front();
  }
  // A chord, the host's card at `card` (primary-screen points), and the panels
  // sampled until the capture has landed and its panels are gone.
  Observed captureWithCard(const json& card) {
    Observed seen;
    EXPECT_TRUE(keyboard.pressChord());
    bool landed = false, captured = false;
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (Clock::now() < deadline) {
      const auto panels = mappedPanelsOf(service);
      std::vector<RootRect> visible;
      for (const auto& panel : panels) visible.insert(visible.end(), panel.shape.begin(), panel.shape.end());
      // The panels map one after the other; keep the fullest sample.
      if (panels.size() > seen.panelFrames.size()) {
        seen.panelFrames.clear();
        for (const auto& panel : panels) seen.panelFrames.push_back(panel.frame);
      }
      if (!visible.empty()) {
        if (!seen.first) seen.first = boundsOf(visible);
        seen.last = boundsOf(visible);
      }
      if (landed && captured && panels.empty()) break;
      while (auto line = helper->readLine(std::chrono::milliseconds(2))) {
        auto message = json::parse(*line, nullptr, false);
        seen.lines.push_back(message);
        const std::string type = message.value("type", "");
        if (type == "hotkey") {
          json request{{"type", "captureTarget"}, {"id", "card"}, {"captureId", message["captureId"]}};
          if (!card.is_null()) request["frame"] = card;
          helper->writeLine(request.dump());
        }
        landed = landed || type == "captureLanded";
        captured = captured || type == "capture";
      }
    }
    EXPECT_TRUE(landed && captured) << "the capture did not land";
    return seen;
  }
  // Checks the overlay of a capture of a window at `window` that flew to `card`.
  void expectOverlay(const Observed& seen, const RootRect& window, const RootRect& card) {
    ASSERT_EQ(seen.panelFrames.size(), 2u) << "one panel per monitor";
    bool left = false, right = false;
    for (const auto& frame : seen.panelFrames) {
      left = left || same(frame, secondary, 0);
      right = right || same(frame, primary, 0);
    }
    EXPECT_TRUE(left && right) << describe(seen.panelFrames[0]) << " / " << describe(seen.panelFrames[1]);
    ASSERT_TRUE(seen.first && seen.last);
    // The shutter first, over the window and its frame (the title bar and borders
    // the window manager adds are part of what the accessibility tree reports).
    // On a busy machine the first frame sampled may already be the screenshot
    // lifting, up to about 45 points larger on each side; still over this window.
    EXPECT_TRUE(contains(*seen.first, window, 0) && contains(window, *seen.first, 48))
        << describe(*seen.first) << " over " << describe(window);
    // Last the landed card, its shadow reaching a little past it, at the host's card.
    EXPECT_TRUE(contains(*seen.last, card, 2) && contains(card, *seen.last, 48))
        << describe(*seen.last) << " for " << describe(card);
  }
  Keyboard keyboard;
  bool split = false;
  std::unique_ptr<DesktopWindow> window;
  std::unique_ptr<ChildProcess> helper;
  pid_t service = -1;
};

TEST_F(TwoMonitors, WindowsOnTheSecondaryAndAcrossBothAreCoveredAndFlyToTheCard) {
  struct Case {
    const char* title;
    std::vector<std::string> placement;
    json card;        // in primary-screen points
    RootRect cardAt;  // where that is on the root window
  };
  for (const Case& c : {
           Case{"On the secondary monitor",
                {"--at", "100,80", "--size", "480x320"},
                json{{"x", 600}, {"y", 800}, {"width", 160}, {"height", 96}},
                RootRect{1560, 800, 160, 96}},
           Case{"Across both monitors",
                {"--at", "700,300", "--size", "560x320"},
                json{{"x", -800}, {"y", 100}, {"width", 160}, {"height", 96}},
                RootRect{160, 100, 160, 96}},
       }) {
    SCOPED_TRACE(c.title);
    std::vector<std::string> arguments{"--title", c.title};
    arguments.insert(arguments.end(), c.placement.begin(), c.placement.end());
    window = std::make_unique<DesktopWindow>(arguments);
    ASSERT_TRUE(window->pid());
    auto frame = clientWindowOf(*window->pid());
    ASSERT_TRUE(frame);
    startHelper();
    auto seen = captureWithCard(c.card);
    expectOverlay(seen, *frame, c.cardAt);
    for (const auto& message : seen.lines) {
      if (message.value("type", "") != "capture") continue;
      // Captured whole: the image is the window at its size.
      EXPECT_EQ(message["capture"]["image"]["width"], frame->width);
      EXPECT_EQ(message["capture"]["image"]["height"], frame->height);
    }
    helper.reset();
    window.reset();
  }
}

}  // namespace
}  // namespace zoba::testing
