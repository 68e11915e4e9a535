#include <gtest/gtest.h>

#include <cmath>

#include "ZobaCapture/CaptureTransition.h"
#include "ZobaCaptureCore/TransitionGeometry.h"
#include "tests/fakes/FakePlatform.h"

namespace zoba {
namespace {

using platform::KeyPath;
using platform::LayerProperties;

constexpr Rect primaryScreen(0, 0, 1920, 1080);
constexpr Rect window(200, 300, 800, 600);  // bottom-left space
constexpr Rect hostCard(1500, 800, 160, 96);

platform::Image screenshot(std::int64_t width = 1600, std::int64_t height = 1200) {
  return platform::Image::fromWords(width, height, platform::Image::Format::opaque,
                                    std::vector<std::uint32_t>(std::size_t(width * height), 0xFF336699u));
}

// What one panel shows at a time of the clock, read from the newest commit.
struct Shown {
  Rect panelFrame;
  LayerProperties shutter, card, image;
};

void expectNear(const Rect& actual, const Rect& expected, double tolerance = 1e-6) {
  EXPECT_NEAR(actual.origin.x, expected.origin.x, tolerance);
  EXPECT_NEAR(actual.origin.y, expected.origin.y, tolerance);
  EXPECT_NEAR(actual.size.width, expected.size.width, tolerance);
  EXPECT_NEAR(actual.size.height, expected.size.height, tolerance);
}

class CaptureTransitionTest : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override {
    fake().runLoop.advance(100);
    CaptureTransition::setTimeScale(1.0);
  }

  // A fresh platform with one screen and the clock at 0, for each case of a table.
  void reset() {
    if (fake_) fake_->runLoop.advance(100);  // pending steps end before their platform goes
    fake_.emplace(fakes::installFakePlatform());
    fake().workspace.screenList = {{primaryScreen}};
    landings = 0;
  }
  fakes::FakePlatform& fake() { return *fake_; }
  const fakes::FakePlatform& fake() const { return *fake_; }

  std::shared_ptr<CaptureTransition> started(bool flight = true, Rect source = window) {
    auto overlay = std::make_shared<CaptureTransition>(source, flight, [this] { ++landings; });
    overlay->start();
    return overlay;
  }
  double now() const { return fake().runLoop.now(); }
  // Moves the virtual clock to `time` seconds after the test began.
  void at(double time) { fake().runLoop.advance(time - now()); }

  std::vector<Shown> shown() const {
    std::vector<Shown> panels;
    for (const auto& panel : fake().layerRenderer.current().panels) {
      // Pre-order: root, shutter, card, image.
      EXPECT_EQ(panel.layers.size(), 4u);
      if (panel.layers.size() != 4) continue;
      auto eval = [&](std::size_t i) {
        return platform::presentation(panel.layers[i].model, panel.layers[i].animations, now());
      };
      EXPECT_EQ(panel.layers[2].parent, 0);
      EXPECT_EQ(panel.layers[3].parent, 2);
      panels.push_back({panel.frame, eval(1), eval(2), eval(3)});
    }
    return panels;
  }
  Shown only() const {
    auto panels = shown();
    EXPECT_EQ(panels.size(), 1u);
    return panels.empty() ? Shown{} : panels.front();
  }

  std::optional<fakes::FakePlatform> fake_;
  int landings = 0;
};

TEST_F(CaptureTransitionTest, StartFlashesTheShutterOverTheWindowOnEveryScreen) {
  const Rect second(1920, 0, 1280, 1024);
  fake().workspace.screenList = {{primaryScreen}, {second}};
  const Rect spanning(1800, 100, 400, 300);
  auto overlay = started(true, spanning);
  ASSERT_EQ(shown().size(), 2u);
  EXPECT_EQ(shown()[0].panelFrame, primaryScreen);
  EXPECT_EQ(shown()[1].panelFrame, second);
  // Each panel draws the window's frame in its own coordinates.
  expectNear(shown()[0].shutter.frame(), Rect(1800, 100, 400, 300));
  expectNear(shown()[1].shutter.frame(), Rect(-120, 100, 400, 300));
  expectNear(shown()[1].card.frame(), Rect(-120, 100, 400, 300));
  expectNear(shown()[1].image.frame(), Rect(0, 0, 400, 300));

  auto s = shown()[0];
  EXPECT_EQ(s.shutter.backgroundColor->red, 1);
  EXPECT_EQ(s.shutter.cornerRadius, 10);
  EXPECT_EQ(s.image.cornerRadius, 10);
  EXPECT_TRUE(s.image.masksToBounds);
  EXPECT_EQ(s.card.opacity, 0);
  EXPECT_EQ(s.card.shadowRadius, 18);
  EXPECT_EQ(s.card.shadowOffset, (Size{0, -6}));
  EXPECT_EQ(s.card.shadowOpacity, 0);
  EXPECT_NEAR(s.shutter.opacity, 0, 1e-9);
  at(0.03);
  EXPECT_NEAR(shown()[0].shutter.opacity, 0.85 * 0.68464, 1e-3);  // ease-out halfway
  at(0.06);
  EXPECT_NEAR(shown()[0].shutter.opacity, 0.85, 1e-6);
}

TEST_F(CaptureTransitionTest, ScreenshotShowsNoEarlierThanATenthOfTheTimeScale) {
  struct Case {
    double timeScale, arrival, shownAt;
  };
  for (const Case& c : {Case{1, 0.03, 0.1}, Case{1, 0.15, 0.15}, Case{3, 0.03, 0.3}, Case{3, 0.5, 0.5},
                        Case{0.5, 0.0, 0.05}}) {
    SCOPED_TRACE(testing::Message() << "scale " << c.timeScale << " arrival " << c.arrival);
    reset();
    CaptureTransition::setTimeScale(c.timeScale);
    auto overlay = started();
    at(c.arrival);
    overlay->setScreenshot(screenshot());
    if (c.shownAt > c.arrival) {
      at(c.shownAt - 1e-6);
      EXPECT_EQ(overlay->phase(), CaptureTransition::Phase::shutter);
      EXPECT_EQ(only().card.opacity, 0);
    }
    at(c.shownAt + 1e-9);  // the delay is divided by the scale and multiplied again
    EXPECT_EQ(overlay->phase(), CaptureTransition::Phase::lifted);
    EXPECT_EQ(only().card.opacity, 1);
    ASSERT_TRUE(only().image.contents);
    EXPECT_EQ(only().image.contents->width(), 1600);
  }
}

TEST_F(CaptureTransitionTest, LiftShrinksTheCardFadesTheShutterAndRaisesTheShadow) {
  auto overlay = started();
  at(0.1);
  overlay->setScreenshot(screenshot());
  at(0.1 + 0.22);
  const Rect lifted = TransitionGeometry::liftedRect(window);
  expectNear(only().card.frame(), lifted);
  expectNear(only().image.frame(), Rect(0, 0, lifted.width(), lifted.height()));
  expectNear(only().image.contentsRect, Rect(0, 0, 1, 1));
  EXPECT_NEAR(only().card.shadowOpacity, 0.28, 1e-6);
  EXPECT_NEAR(only().shutter.opacity, 0, 1e-9);
  EXPECT_EQ(overlay->imageSize(), (Size{1600, 1200}));
}

TEST_F(CaptureTransitionTest, SecondScreenshotChangesNothing) {
  auto overlay = started();
  overlay->setScreenshot(screenshot(1600, 1200));
  at(0.1);
  const auto commits = fake().layers.commits();
  overlay->setScreenshot(screenshot(300, 100));
  at(0.5);
  EXPECT_EQ(overlay->imageSize(), (Size{1600, 1200}));
  EXPECT_EQ(only().image.contents->width(), 1600);
  EXPECT_EQ(fake().layers.commits(), commits);
}

TEST_F(CaptureTransitionTest, TargetBeforeTheScreenshotFliesAtTheReveal) {
  auto overlay = started();
  overlay->setTarget(hostCard, 8);
  EXPECT_EQ(overlay->phase(), CaptureTransition::Phase::shutter);
  overlay->setScreenshot(screenshot(2000, 1000));
  at(0.1);
  EXPECT_EQ(overlay->phase(), CaptureTransition::Phase::flying);
  // The flight's animations replaced the lift's under the same keys.
  const auto& card = fake().layerRenderer.current().panels.at(0).layers.at(2);
  int positions = 0;
  for (const auto& animation : card.animations) {
    if (animation.keyPath == KeyPath::position) {
      ++positions;
      EXPECT_TRUE(std::holds_alternative<SpringCurve>(animation.curve));
    }
    if (animation.keyPath == KeyPath::shadowOpacity) {
      EXPECT_NEAR(std::get<double>(animation.to), 0, 1e-9);
    }
  }
  EXPECT_EQ(positions, 1);
  const double response = TransitionGeometry::springResponse(window, hostCard);
  EXPECT_EQ(overlay->cardFrame(), hostCard);
  at(0.1 + response - 1e-6);
  EXPECT_EQ(landings, 0);
  at(0.1 + response);
  EXPECT_EQ(landings, 1);
  // The card covers the host's card; the image keeps the window's top-left part.
  auto s = only();
  EXPECT_NEAR(s.image.cornerRadius, 8, 0.05);
  expectNear(s.image.contentsRect, Rect(0, 0, 160.0 / 192, 1), 1e-3);
  // It fades inside the host's card, then the panels go.
  at(0.1 + response + 0.14 - 1e-6);
  EXPECT_EQ(fake().layerRenderer.shownPanels(), 1u);
  at(0.1 + response + 0.14);
  EXPECT_EQ(fake().layerRenderer.shownPanels(), 0u);
  at(10);
  EXPECT_EQ(landings, 1);
}

TEST_F(CaptureTransitionTest, FlightStartsWhereTheLiftHasTheCardAndEndsInTheHostCard) {
  auto overlay = started();
  overlay->setScreenshot(screenshot(1600, 1200));
  at(0.2);  // mid-lift
  const Rect before = only().card.frame();
  expectNear(before, TransitionGeometry::liftedRect(window), 30);  // on its way
  EXPECT_NE(before, TransitionGeometry::liftedRect(window));
  overlay->setTarget(hostCard, 12);
  EXPECT_EQ(overlay->phase(), CaptureTransition::Phase::flying);
  expectNear(only().card.frame(), before);  // no jump
  const double response =
      TransitionGeometry::springResponse(TransitionGeometry::liftedRect(window), hostCard);
  at(0.2 + response);
  auto s = only();
  expectNear(s.card.frame(), hostCard, 10);  // the spring is close, still settling
  EXPECT_NEAR(s.image.cornerRadius, 12, 0.1);
  const auto& model = fake().layerRenderer.current().panels.at(0).layers;
  expectNear(model.at(2).model.frame(), hostCard);
  expectNear(model.at(3).model.contentsRect, TransitionGeometry::coverContentsRect({1600, 1200}, {160, 96}));
  EXPECT_EQ(model.at(3).model.cornerRadius, 12);
}

TEST_F(CaptureTransitionTest, TheTargetQuestionIsAnsweredOnce) {
  struct Case {
    const char* name;
    double answerAt;  // after the reveal at 0.1 s
    std::optional<Rect> frame;
    CaptureTransition::Phase phaseAfter;
    double landsAt;  // absolute
  };
  const double flight = TransitionGeometry::springResponse(TransitionGeometry::liftedRect(window), hostCard);
  for (const Case& c : {
           Case{"no card during the lift: fade", 0.1, std::nullopt, CaptureTransition::Phase::finished,
                0.2 + 0.28},
           Case{"a card after the timeout is ignored", 1.25, hostCard, CaptureTransition::Phase::finished,
                0.1 + 1.2 + 0.28},
           Case{"a card before the timeout flies", 1.0, hostCard, CaptureTransition::Phase::flying,
                1.1 + flight},
       }) {
    SCOPED_TRACE(c.name);
    reset();
    auto overlay = started();
    overlay->setScreenshot(screenshot());
    at(0.1);
    at(0.1 + c.answerAt);
    overlay->setTarget(c.frame, 8);
    EXPECT_EQ(overlay->phase(), c.phaseAfter);
    EXPECT_TRUE(overlay->targetResolved());
    if (c.answerAt > 1.2) {
      EXPECT_FALSE(overlay->target());
    }
    overlay->setTarget(hostCard, 8);  // a second answer changes nothing
    EXPECT_EQ(overlay->phase(), c.phaseAfter);
    at(c.landsAt - 1e-6);
    EXPECT_EQ(landings, 0);
    at(c.landsAt);
    EXPECT_EQ(landings, 1);
    at(10);
    EXPECT_EQ(landings, 1);
    EXPECT_EQ(fake().layerRenderer.shownPanels(), 0u);
  }
}

TEST_F(CaptureTransitionTest, WithoutFlightTheShutterFlashesAndNothingLands) {
  auto overlay = started(false);
  overlay->setTarget(hostCard, 8);  // stored only
  at(0.05);
  overlay->setScreenshot(screenshot());
  at(0.1);
  EXPECT_EQ(overlay->phase(), CaptureTransition::Phase::finished);
  EXPECT_EQ(overlay->imageSize(), (Size{0, 0}));
  EXPECT_EQ(only().card.opacity, 0);
  at(0.1 + 0.09);
  EXPECT_GT(only().shutter.opacity, 0);
  at(0.28 - 1e-6);
  EXPECT_EQ(fake().layerRenderer.shownPanels(), 1u);
  at(0.28);
  EXPECT_EQ(fake().layerRenderer.shownPanels(), 0u);
  at(10);
  EXPECT_EQ(landings, 0);
}

TEST_F(CaptureTransitionTest, SafetyTimerEndsEverythingAtFourSeconds) {
  struct Case {
    const char* name;
    std::optional<double> screenshotAt;
    int landings;
  };
  for (const Case& c : {Case{"no screenshot ever: lands", std::nullopt, 1},
                        Case{"late screenshot in flight: vanishes without landing", 3.9, 0}}) {
    SCOPED_TRACE(c.name);
    reset();
    auto overlay = started();
    overlay->setTarget(Rect(0, 0, 4000, 3000), 8);  // a long flight
    if (c.screenshotAt) {
      at(*c.screenshotAt);
      overlay->setScreenshot(screenshot());
    }
    at(4.0 - 1e-6);
    EXPECT_EQ(fake().layerRenderer.shownPanels(), 1u);
    if (!c.screenshotAt) {
      EXPECT_NEAR(only().shutter.opacity, 0.85, 1e-6);
    }
    at(4.0);
    EXPECT_EQ(fake().layerRenderer.shownPanels(), 0u);
    EXPECT_EQ(overlay->phase(), CaptureTransition::Phase::finished);
    at(10);
    EXPECT_EQ(landings, c.landings);
  }
}

TEST_F(CaptureTransitionTest, SafetyTimerFollowsTheTimeScale) {
  CaptureTransition::setTimeScale(2);
  auto overlay = started();
  at(8.0 - 1e-6);
  EXPECT_EQ(fake().layerRenderer.shownPanels(), 1u);
  at(8.0);
  EXPECT_EQ(fake().layerRenderer.shownPanels(), 0u);
  EXPECT_EQ(landings, 1);
}

TEST_F(CaptureTransitionTest, CancelNeverLands) {
  struct Case {
    const char* name;
    double screenshotAt;  // < 0: none
    bool target;
    double cancelAt;
  };
  for (const Case& c : {Case{"during the shutter", -1, false, 0.05}, Case{"lifted", 0.1, false, 0.5},
                        Case{"flying", 0.1, true, 0.2}, Case{"fading", 0.1, false, 1.35},
                        Case{"after the landing, in the card's fade", 0.1, true, 0.1 + 0.32 + 0.05}}) {
    SCOPED_TRACE(c.name);
    reset();
    auto overlay = started();
    if (c.target) overlay->setTarget(Rect(300, 380, 700, 500), 8);  // a short flight: 0.32 s
    if (c.screenshotAt >= 0) overlay->setScreenshot(screenshot());
    at(c.cancelAt);
    const int before = landings;
    overlay->cancel();
    EXPECT_EQ(fake().layerRenderer.shownPanels(), 0u);
    EXPECT_EQ(overlay->phase(), CaptureTransition::Phase::finished);
    at(10);
    EXPECT_EQ(landings, before);
  }
}

TEST_F(CaptureTransitionTest, EachStepCommitsOnce) {
  auto overlay = started();
  EXPECT_EQ(fake().layers.commits(), 1u);
  at(0.1);
  overlay->setScreenshot(screenshot());
  EXPECT_EQ(fake().layers.commits(), 2u);
  overlay->setTarget(hostCard, 8);
  EXPECT_EQ(fake().layers.commits(), 3u);
  overlay->cancel();
  EXPECT_EQ(fake().layers.commits(), 4u);
}

TEST_F(CaptureTransitionTest, PendingStepsKeepTheOverlayAliveUntilTheLast) {
  std::weak_ptr<CaptureTransition> weak;
  {
    auto overlay = started();
    overlay->setScreenshot(screenshot());
    weak = overlay;
  }
  at(0.1);
  ASSERT_FALSE(weak.expired());
  EXPECT_EQ(weak.lock()->phase(), CaptureTransition::Phase::lifted);
  at(1.6);
  EXPECT_EQ(landings, 1);  // faded without a card
  at(4.0);
  EXPECT_TRUE(weak.expired());
}

TEST_F(CaptureTransitionTest, OwnerMayDropItsLastReferenceWhileLanding) {
  std::shared_ptr<CaptureTransition> overlay;
  overlay = std::make_shared<CaptureTransition>(window, true, [&] {
    ++landings;
    overlay.reset();
  });
  overlay->start();
  auto raw = overlay;  // released below, so only the pending steps hold it
  raw->setScreenshot(screenshot());
  raw->setTarget(std::nullopt, 8);
  raw.reset();
  at(10);
  EXPECT_EQ(landings, 1);
  EXPECT_FALSE(overlay);
}

TEST_F(CaptureTransitionTest, NoScreensShowsNothingAndNeverLands) {
  fake().workspace.screenList.clear();
  auto overlay = started();
  overlay->setScreenshot(screenshot());
  at(10);
  EXPECT_EQ(fake().layerRenderer.shownPanels(), 0u);
  EXPECT_EQ(landings, 0);
}

TEST_F(CaptureTransitionTest, TimeScaleKeepsOnlyPositiveFiniteValues) {
  for (double bad : {0.0, -1.0, std::nan(""), double(INFINITY), -double(INFINITY)}) {
    CaptureTransition::setTimeScale(2.5);
    CaptureTransition::setTimeScale(bad);
    EXPECT_EQ(CaptureTransition::timeScale(), 2.5) << bad;
  }
}

}  // namespace
}  // namespace zoba
