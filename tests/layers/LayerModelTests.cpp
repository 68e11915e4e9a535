#include <gtest/gtest.h>

#include "Platform/Layers.h"
#include "tests/fakes/FakeLayers.h"

namespace zoba::platform {
namespace {

// The model with a hand-moved clock and a renderer that keeps every commit.
struct Model {
  double time = 10;
  fakes::FakeLayerRenderer* renderer = nullptr;
  std::unique_ptr<Layers> layers;
  Model() {
    auto recording = std::make_unique<fakes::FakeLayerRenderer>();
    renderer = recording.get();
    layers = std::make_unique<Layers>(std::move(recording), [this] { return time; });
  }
  double number(const Layer& layer, KeyPath keyPath) const {
    return std::get<double>(layer.presentationValue(keyPath));
  }
};

void expectRect(const Rect& actual, const Rect& expected, double tolerance = 1e-9) {
  EXPECT_NEAR(actual.origin.x, expected.origin.x, tolerance);
  EXPECT_NEAR(actual.origin.y, expected.origin.y, tolerance);
  EXPECT_NEAR(actual.size.width, expected.size.width, tolerance);
  EXPECT_NEAR(actual.size.height, expected.size.height, tolerance);
}

TEST(LayerModel, KeyPathNamesRoundTrip) {
  for (auto keyPath : {KeyPath::opacity, KeyPath::shadowOpacity, KeyPath::position, KeyPath::bounds,
                       KeyPath::cornerRadius, KeyPath::contentsRect}) {
    EXPECT_EQ(keyPathNamed(keyPathName(keyPath)), keyPath);
  }
  EXPECT_EQ(keyPathName(KeyPath::shadowOpacity), "shadowOpacity");
  EXPECT_EQ(keyPathNamed("frame"), std::nullopt);
}

TEST(LayerModel, FrameIsPositionAndBounds) {
  Model m;
  auto layer = m.layers->makeLayer();
  layer->setFrame(Rect(100, 50, 160, 96));
  EXPECT_EQ(std::get<Point>(layer->modelValue(KeyPath::position)), (Point{180, 98}));
  EXPECT_EQ(std::get<Rect>(layer->modelValue(KeyPath::bounds)), Rect(0, 0, 160, 96));
  EXPECT_EQ(layer->frame(), Rect(100, 50, 160, 96));
  layer->setFrame(Rect(300, 50, -200, 600));  // standardised
  EXPECT_EQ(layer->frame(), Rect(100, 50, 200, 600));
}

TEST(LayerModel, EaseOutAnimationAtItsQuarters) {
  Model m;
  auto layer = m.layers->makeLayer();
  layer->setOpacity(0);
  layer->add(Animation::basic(KeyPath::opacity, 0.0, 0.85, 0.06), "opacity");
  layer->setOpacity(0.85);
  struct Case {
    double elapsed, expected;
  };
  for (const Case& c : {Case{0, 0}, Case{0.015, 0.85 * 0.37814}, Case{0.03, 0.85 * 0.68464},
                        Case{0.045, 0.85 * 0.90654}, Case{0.06, 0.85}, Case{5, 0.85}}) {
    m.time = 10 + c.elapsed;
    EXPECT_NEAR(m.number(*layer, KeyPath::opacity), c.expected, 1e-4) << c.elapsed;
  }
}

TEST(LayerModel, SpringAnimationRunsForItsSettlingDuration) {
  Model m;
  auto layer = m.layers->makeLayer();
  for (double duration : {0.32, 0.4, 0.5}) {
    const Rect from(0, 0, 1600, 1000), to(0, 0, 160, 96);
    layer->add(Animation::spring(KeyPath::bounds, from, to, duration, 0.06), "bounds");
    const Animation* running = layer->animation("bounds");
    ASSERT_NE(running, nullptr);
    EXPECT_NEAR(running->duration, SpringCurve(duration, 0.06).settlingDuration(), 1e-12);
    // Halfway through the perceptual duration the spring is well on its way.
    const SpringCurve spring(duration, 0.06);
    const double t = duration / 2;
    const double x = spring.progress(t);
    expectRect(std::get<Rect>(running->valueAt(running->beginTime + t)),
               Rect(0, 0, 1600 + (160 - 1600) * x, 1000 + (96 - 1000) * x));
    m.time += 10;
  }
}

TEST(LayerModel, ReplacingAnAnimationContinuesFromWhatIsOnScreen) {
  Model m;
  auto card = m.layers->makeLayer();
  card->setFrame(Rect(0, 0, 1000, 600));
  const Point start{500, 300}, lifted{500, 300}, flight{900, 900};
  (void)lifted;
  card->add(Animation::basic(KeyPath::position, std::nullopt, Point{600, 400}, 0.22), "position");
  card->setValue(KeyPath::position, Point{600, 400});
  m.time += 0.1;
  const auto before = std::get<Point>(card->presentationValue(KeyPath::position));
  EXPECT_GT(before.x, start.x);
  EXPECT_LT(before.x, 600);
  // A spring under the same key, from the presentation value (no explicit from).
  card->add(Animation::spring(KeyPath::position, std::nullopt, flight, 0.4, 0.06), "position");
  card->setValue(KeyPath::position, flight);
  const auto after = std::get<Point>(card->presentationValue(KeyPath::position));
  EXPECT_NEAR(after.x, before.x, 1e-9);
  EXPECT_NEAR(after.y, before.y, 1e-9);
  // Only the newest animation of the key runs.
  EXPECT_EQ(card->runningAnimations(m.time).size(), 1u);
}

TEST(LayerModel, AnEndedAnimationLeavesTheModelValue) {
  Model m;
  auto layer = m.layers->makeLayer();
  layer->setOpacity(1);
  // An animation that ends somewhere else than the model: the model wins afterwards.
  layer->add(Animation::basic(KeyPath::opacity, 1.0, 0.2, 0.28), "opacity");
  m.time += 0.27;
  EXPECT_LT(m.number(*layer, KeyPath::opacity), 0.25);
  m.time += 0.01;
  EXPECT_EQ(m.number(*layer, KeyPath::opacity), 1);
  EXPECT_TRUE(layer->runningAnimations(m.time).empty());
}

TEST(LayerModel, NoImplicitAnimations) {
  Model m;
  auto layer = m.layers->makeLayer();
  layer->setFrame(Rect(0, 0, 10, 10));
  layer->setCornerRadius(10);
  layer->setFrame(Rect(50, 50, 20, 20));
  EXPECT_EQ(m.number(*layer, KeyPath::cornerRadius), 10);
  EXPECT_EQ(layer->presentation().frame(), Rect(50, 50, 20, 20));
}

TEST(LayerModel, ATransactionReachesTheRendererInOneCommit) {
  Model m;
  auto panel = m.layers->makePanel(Rect(0, 0, 1920, 1080));
  auto shutter = m.layers->makeLayer();
  auto card = m.layers->makeLayer();
  const auto before = m.layers->commits();
  {
    Layers::Transaction transaction(*m.layers);
    panel->rootLayer()->addSublayer(shutter);
    panel->rootLayer()->addSublayer(card);
    shutter->setFrame(Rect(100, 100, 800, 600));
    card->setOpacity(1);
    card->add(Animation::basic(KeyPath::shadowOpacity, 0.0, 0.28, 0.22), "shadowOpacity");
    panel->orderFrontRegardless();
    {
      Layers::Transaction nested(*m.layers);
      card->setFrame(Rect(100, 100, 800, 600));
    }
    EXPECT_EQ(m.layers->commits(), before);  // nothing yet
  }
  ASSERT_EQ(m.layers->commits(), before + 1);
  const RenderTree& tree = m.renderer->current();
  ASSERT_EQ(tree.panels.size(), 1u);
  const auto& layers = tree.panels[0].layers;
  ASSERT_EQ(layers.size(), 3u);  // root, shutter, card
  EXPECT_EQ(layers[1].parent, 0);
  EXPECT_EQ(layers[2].parent, 0);
  EXPECT_EQ(layers[1].model.frame(), Rect(100, 100, 800, 600));
  EXPECT_EQ(layers[2].model.frame(), Rect(100, 100, 800, 600));
  ASSERT_EQ(layers[2].animations.size(), 1u);
  EXPECT_EQ(layers[2].animations[0].beginTime, m.time);
  EXPECT_TRUE(tree.animating(m.time + 0.1));
  EXPECT_FALSE(tree.animating(m.time + 0.22));
  // Outside a transaction every change commits on its own.
  card->setOpacity(0.5);
  EXPECT_EQ(m.layers->commits(), before + 2);
}

TEST(LayerModel, PanelsLeaveTheTreeWhenOrderedOutOrReleased) {
  Model m;
  auto left = m.layers->makePanel(Rect(0, 0, 1920, 1080));
  auto right = m.layers->makePanel(Rect(1920, 0, 1280, 1024));
  left->orderFrontRegardless();
  right->orderFrontRegardless();
  ASSERT_EQ(m.renderer->shownPanels(), 2u);
  EXPECT_EQ(m.renderer->current().panels[1].frame, Rect(1920, 0, 1280, 1024));
  EXPECT_EQ(m.renderer->current().panels[1].layers[0].model.bounds, Rect(0, 0, 1280, 1024));
  left->orderOut();
  ASSERT_EQ(m.renderer->shownPanels(), 1u);
  EXPECT_EQ(m.renderer->current().panels[0].id, right->id());
  right.reset();
  EXPECT_EQ(m.renderer->shownPanels(), 0u);
}

TEST(LayerModel, ContentsRectangleNamesPixelsFromTheTopLeft) {
  struct Case {
    Rect unit;
    double width, height;
    Rect expected;
  };
  // The cover crops of the transition geometry: a narrow card shows the left part,
  // a flat card the top part.
  for (const Case& c : {Case{Rect(0, 0, 1, 1), 2000, 1000, Rect(0, 0, 2000, 1000)},
                        Case{Rect(0, 0, 160.0 / 192, 1), 2000, 1000, Rect(0, 0, 2000 * 160.0 / 192, 1000)},
                        Case{Rect(0, 0.7, 1, 0.3), 1000, 2000, Rect(0, 0, 1000, 600)},
                        Case{Rect(0.5, 0, 0.5, 0.5), 100, 100, Rect(50, 50, 50, 50)},
                        Case{Rect(-1, -1, 3, 3), 100, 80, Rect(0, 0, 100, 80)}}) {
    expectRect(contentsSourceRect(c.unit, c.width, c.height), c.expected, 1e-9);
  }
}

TEST(LayerModel, WrongKindsOfValuesAreIgnored) {
  LayerProperties properties;
  properties.setValue(KeyPath::opacity, Point{1, 2});
  properties.setValue(KeyPath::bounds, 3.0);
  EXPECT_EQ(properties.opacity, 1);
  EXPECT_EQ(properties.bounds, Rect());
  // An animation between values of different kinds jumps to its end value.
  Animation odd = Animation::basic(KeyPath::opacity, Point{0, 0}, 0.5, 1);
  EXPECT_EQ(std::get<double>(odd.valueAt(0.5)), 0.5);
}

}  // namespace
}  // namespace zoba::platform
