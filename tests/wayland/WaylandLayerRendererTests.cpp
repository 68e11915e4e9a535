// The Wayland layer renderer on the headless sway desktop, read back with grim:
// layers drawn at their place over the windows beneath, clicks and keys still
// reaching those windows, nothing left once the panels go, and a compositor that
// dies under an animation. Skipped off a sway desktop.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <thread>

#include "Platform/Layers.h"
#include "Platform/linux/wayland/OverlayGate.h"
#include "Platform/linux/wayland/presenter/WaylandLayerRenderer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/wayland/SwayDesktop.h"

namespace zoba::testing::wayland {
namespace {

using platform::Color;
using platform::Layer;
using platform::Layers;
using platform::Panel;
using platform::linux_backend::wayland::WaylandLayerRenderer;
using zoba::Rect;

// The media clock the helper's run loop keeps: CLOCK_MONOTONIC in seconds.
double monotonic() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

constexpr int kOutputHeight = 1080;

// Bottom-left space for a layout rectangle on the 1920 × 1080 output.
Rect bottomLeft(const SwayRect& rect) {
  return Rect(rect.x, kOutputHeight - (rect.y + rect.height), rect.width, rect.height);
}

struct Rgb {
  int r, g, b;
};
Rgb rgbOf(std::uint32_t word) { return {int(word >> 16 & 0xFF), int(word >> 8 & 0xFF), int(word & 0xFF)}; }
std::uint32_t wordOf(Rgb rgb) {
  return std::uint32_t(rgb.r) << 16 | std::uint32_t(rgb.g) << 8 | std::uint32_t(rgb.b);
}
// `over` at `alpha` over `beneath`, as the compositor blends premultiplied pixels.
Rgb blend(Rgb over, double alpha, std::uint32_t beneath) {
  const Rgb b = rgbOf(beneath);
  auto mix = [&](int top, int bottom) { return int(std::lround(top * alpha + bottom * (1 - alpha))); };
  return {mix(over.r, b.r), mix(over.g, b.g), mix(over.b, b.b)};
}

// Screenshots `region` until every pixel is within `tolerance` of `rgb` (true) or
// the time is up.
bool waitForColour(const SwayRect& region, std::uint32_t rgb, int tolerance = 3,
                   std::chrono::milliseconds limit = 3s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  do {
    auto shot = screenshot(region);
    if (shot && pixelsNear(*shot, rgb, tolerance) == shot->width() * shot->height()) return true;
    std::this_thread::sleep_for(30ms);
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

std::string colourAt(const SwayRect& region) {
  auto shot = screenshot(region);
  if (!shot) return "no screenshot";
  char text[16];
  std::snprintf(text, sizeof text, "%06X", shot->pixel(0, 0) & 0xFFFFFF);
  return text;
}

class WaylandLayerRendererTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!swayDesktopAvailable()) GTEST_SKIP() << "no sway desktop (scripts/headless-sway.sh run -- ...)";
    auto renderer = std::make_unique<WaylandLayerRenderer>();
    renderer_ = renderer.get();
    layers_.emplace(std::move(renderer), monotonic);
  }

  // A coloured window with its surface at `content`, focused.
  void openWindow(std::uint32_t colour, const SwayRect& content) {
    WaylandWindowOptions options;
    options.colour = colour;
    window_.emplace(options);
    ASSERT_TRUE(window_->pid()) << "the GTK window did not come up focused";
    ASSERT_TRUE(window_->place(content));
    // The colour area at the window's top, drawn.
    ASSERT_TRUE(waitForColour({content.x + 5, content.y + 5, 100, 60}, colour, 0));
  }

  // A panel over the whole output holding the layers `build` adds.
  std::shared_ptr<Panel> showPanel(const std::function<void(Layer& root)>& build) {
    Layers::Transaction transaction(*layers_);
    auto panel = layers_->makePanel(Rect(0, 0, 1920, kOutputHeight));
    build(*panel->rootLayer());
    panel->orderFrontRegardless();
    return panel;
  }

  std::shared_ptr<Layer> solidLayer(const SwayRect& rect, Color colour, double opacity) {
    auto layer = layers_->makeLayer();
    layer->setFrame(bottomLeft(rect));
    layer->setBackgroundColor(colour);
    layer->setOpacity(opacity);
    return layer;
  }

  WaylandLayerRenderer* renderer_ = nullptr;
  std::optional<Layers> layers_;
  std::optional<WaylandWindow> window_;
};

TEST_F(WaylandLayerRendererTest, LayersShowAtTheirPlaceAndBlendOverTheWindowBeneath) {
  const std::uint32_t windowColour = 0x2050A0;
  const SwayRect content{200, 150, 640, 400};
  ASSERT_NO_FATAL_FAILURE(openWindow(windowColour, content));
  // A translucent white shutter over the window's colour area, and an opaque
  // orange block over the empty desktop.
  const SwayRect shutter{content.x, content.y, 400, 200};
  const SwayRect block{1200, 600, 300, 200};
  auto panel = showPanel([&](Layer& root) {
    root.addSublayer(solidLayer(shutter, Color{1, 1, 1, 1}, 0.8));
    root.addSublayer(solidLayer(block, Color{1, 0.5, 0, 1}, 1));
  });
  const std::uint32_t blended = wordOf(blend({255, 255, 255}, 0.8, windowColour));
  EXPECT_TRUE(waitForColour({shutter.x, shutter.y, shutter.width, shutter.height}, blended))
      << colourAt({shutter.x + 10, shutter.y + 10, 1, 1});
  EXPECT_TRUE(waitForColour({block.x, block.y, block.width, block.height}, 0xFF8000, 2))
      << colourAt({block.x, block.y, 1, 1});
  // Right beside them the panel is transparent: the window and the desktop as they were.
  EXPECT_TRUE(waitForColour({shutter.x + shutter.width, shutter.y, 20, 60}, windowColour, 0))
      << colourAt({shutter.x + shutter.width, shutter.y, 1, 1});
  EXPECT_EQ(pixelsNear(*screenshot({block.x - 10, block.y - 10, 10, 10}), 0xFF8000, 40), 0);
  EXPECT_EQ(pixelsNear(*screenshot({block.x, block.y + block.height, 10, 10}), 0xFF8000, 40), 0);
}

TEST_F(WaylandLayerRendererTest, NothingRemainsOnceThePanelsGo) {
  const std::uint32_t windowColour = 0xA03060;
  const SwayRect content{300, 200, 640, 400};
  ASSERT_NO_FATAL_FAILURE(openWindow(windowColour, content));
  const SwayRect area{content.x, content.y, 400, 200};
  auto panel = showPanel([&](Layer& root) { root.addSublayer(solidLayer(area, Color{1, 1, 1, 1}, 1)); });
  ASSERT_TRUE(waitForColour(area, 0xFFFFFF, 0));
  panel->orderOut();
  EXPECT_TRUE(waitForColour(area, windowColour, 0)) << colourAt(area);

  // And a panel still shown when its renderer goes is gone with it: the compositor
  // has removed the surface before the destructor returns.
  platform::RenderPanel shown;
  shown.id = 1;
  shown.frame = Rect(0, 0, 1920, kOutputHeight);
  platform::RenderLayer root, white;
  root.model.position = zoba::Point{960, kOutputHeight / 2.0};
  root.model.bounds = Rect(0, 0, 1920, kOutputHeight);
  const Rect whiteFrame = bottomLeft(area);
  white.model.position = zoba::Point{whiteFrame.midX(), whiteFrame.midY()};
  white.model.bounds = Rect(0, 0, whiteFrame.width(), whiteFrame.height());
  white.model.backgroundColor = Color{1, 1, 1, 1};
  white.parent = 0;
  shown.layers = {root, white};
  auto tree = std::make_shared<platform::RenderTree>();
  tree->panels.push_back(shown);
  auto renderer = std::make_unique<WaylandLayerRenderer>();
  renderer->commit(tree);
  ASSERT_TRUE(waitForColour(area, 0xFFFFFF, 0));
  renderer.reset();
  auto shot = screenshot(area);
  ASSERT_TRUE(shot);
  EXPECT_EQ(pixelsNear(*shot, windowColour, 0), shot->width() * shot->height()) << colourAt(area);
}

TEST_F(WaylandLayerRendererTest, ClicksAndKeysStillReachTheWindowBeneath) {
  if (!clickAvailable()) GTEST_SKIP() << "zoba-wl-click was not built";
  const SwayRect content{240, 160, 640, 400};
  ASSERT_NO_FATAL_FAILURE(openWindow(0x20C060, content));
  const auto focused = focusedView();
  ASSERT_TRUE(focused);
  // The whole window under a translucent shutter, as in a capture.
  auto panel = showPanel([&](Layer& root) {
    root.addSublayer(solidLayer(content, Color{1, 1, 1, 1}, 0.85));
  });
  const std::uint32_t blended = wordOf(blend({255, 255, 255}, 0.85, 0x20C060));
  ASSERT_TRUE(waitForColour({content.x + 5, content.y + 5, 100, 60}, blended));

  // The panel never took the keyboard: the window keeps the focus and gets the keys.
  auto still = focusedView();
  ASSERT_TRUE(still);
  EXPECT_EQ(still->id, focused->id);
  ASSERT_TRUE(typeKeys({"through"}));
  EXPECT_TRUE(window_->waitForLine("text through"));

  auto application = waitForAccessibleApplication(*window_->pid());
  ASSERT_TRUE(application);
  auto button = findAccessible(application->busName, "/org/a11y/atspi/accessible/root", "push button");
  ASSERT_TRUE(button);
  std::optional<SwayRect> extents;
  for (auto end = std::chrono::steady_clock::now() + 3s; std::chrono::steady_clock::now() < end;) {
    extents = accessibleExtents(application->busName, *button, 1);
    if (extents && extents->width > 0 && extents->width <= content.width) break;
    std::this_thread::sleep_for(50ms);
  }
  ASSERT_TRUE(extents);
  ASSERT_TRUE(
      click(content.x + extents->x + extents->width / 2, content.y + extents->y + extents->height / 2));
  EXPECT_TRUE(window_->waitForLine("clicked")) << "the click did not pass through the panel";
}

// A capture's screenshot copies the composed screen: a panel opened before it holds
// its first frame until the shot has been read, then shows at once.
TEST_F(WaylandLayerRendererTest, ANewPanelWaitsForTheScreenshotUnderWay) {
  using platform::linux_backend::wayland::OverlayGate;
  const SwayRect area{100, 100, 300, 200};
  const auto opened = std::chrono::steady_clock::now();
  auto panel = showPanel([&](Layer& root) { root.addSublayer(solidLayer(area, Color{1, 1, 1, 1}, 1)); });
  OverlayGate::shared().shotStarted();
  std::this_thread::sleep_for(60ms);
  // Only meaningful while the gate's own limit has not run out.
  if (std::chrono::steady_clock::now() - opened < OverlayGate::holdLimit - 20ms) {
    EXPECT_TRUE(renderer_->statistics().frameTimes.empty()) << "drawn during the screenshot";
  }
  const double finished = monotonic();
  OverlayGate::shared().shotFinished();
  for (auto end = std::chrono::steady_clock::now() + 3s;
       renderer_->statistics().frameTimes.empty() && std::chrono::steady_clock::now() < end;)
    std::this_thread::sleep_for(2ms);
  const auto stats = renderer_->statistics();
  ASSERT_FALSE(stats.frameTimes.empty());
  EXPECT_GE(stats.frameTimes.front(), finished);
  EXPECT_TRUE(waitForColour(area, 0xFFFFFF, 0));
}

// On an output of scale 2 the buffers hold two pixels for every logical one, and the
// layers land at their logical place.
TEST_F(WaylandLayerRendererTest, DrawsAtTheOutputsScale) {
  ASSERT_TRUE(swayCommand("output HEADLESS-1 scale 2"));
  struct Restore {
    ~Restore() { swayCommand("output HEADLESS-1 scale 1"); }
  } restore;
  bool scaled = false;
  for (auto end = std::chrono::steady_clock::now() + 3s; !scaled && std::chrono::steady_clock::now() < end;) {
    auto outputs = swayMessage("get_outputs");
    scaled = outputs.is_array() && !outputs.empty() && outputs[0]["rect"].value("width", 0) == 960;
    if (!scaled) std::this_thread::sleep_for(20ms);
  }
  ASSERT_TRUE(scaled);
  // The layout is 960 × 540 logical pixels now.
  const SwayRect block{600, 300, 200, 100};
  std::shared_ptr<Panel> panel;
  {
    Layers::Transaction transaction(*layers_);
    panel = layers_->makePanel(Rect(0, 0, 960, 540));
    auto layer = layers_->makeLayer();
    layer->setFrame(Rect(block.x, 540 - block.y - block.height, block.width, block.height));
    layer->setBackgroundColor(Color{1, 0, 0, 1});
    panel->rootLayer()->addSublayer(layer);
    panel->orderFrontRegardless();
  }
  EXPECT_TRUE(waitForColour(block, 0xFF0000, 0)) << colourAt(block);
  auto shot = screenshot(block);
  ASSERT_TRUE(shot);
  EXPECT_EQ(shot->width(), block.width * 2) << "grim reads the output's pixels";
  auto beside = screenshot({block.x + block.width, block.y, 20, 20});
  ASSERT_TRUE(beside);
  EXPECT_EQ(pixelsNear(*beside, 0xFF0000, 60), 0);
}

// An animation is drawn frame by frame up to its end value, and stops costing
// wake-ups when it ends.
TEST_F(WaylandLayerRendererTest, AnimationsRunToTheirEndThenSleep) {
  const SwayRect area{100, 100, 600, 400};
  std::shared_ptr<Layer> shutter;
  auto panel = showPanel([&](Layer& root) {
    shutter = solidLayer(area, Color{1, 1, 1, 1}, 0);
    root.addSublayer(shutter);
  });
  // The first frame (held a while for a screenshot that never comes), outside the figures.
  for (auto end = std::chrono::steady_clock::now() + 3s;
       renderer_->statistics().frameTimes.empty() && std::chrono::steady_clock::now() < end;)
    std::this_thread::sleep_for(10ms);
  ASSERT_FALSE(renderer_->statistics().frameTimes.empty());
  renderer_->resetStatistics();
  {
    Layers::Transaction transaction(*layers_);
    shutter->add(platform::Animation::basic(platform::KeyPath::opacity, 0.0, 1.0, 0.5), "opacity");
    shutter->setOpacity(1);
  }
  ASSERT_TRUE(waitForColour({area.x, area.y, 50, 50}, 0xFFFFFF, 0));
  std::this_thread::sleep_for(200ms);
  const auto stats = renderer_->statistics();
  ASSERT_GT(stats.refreshRate, 0);
  // Frames in between, not a jump to the end (their pace is for the benchmark).
  EXPECT_GE(stats.frameTimes.size(), 3u);
  renderer_->resetStatistics();
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(renderer_->statistics().wakeups, 0u) << "woken with nothing to animate";
}

// A compositor of the test's own, killed under a running animation: the renderer
// stops drawing, and neither commits nor its destruction hang.
TEST_F(WaylandLayerRendererTest, SurvivesTheCompositorGoingAway) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  ASSERT_TRUE(runtime);
  const std::string socket = "zoba-presenter-test-" + std::to_string(::getpid());
  // The private sway writes the name of its display where the test reads it.
  const std::string base = std::string(runtime) + "/zoba-presenter-test-" + std::to_string(::getpid());
  const std::string config = base + ".conf", named = base + ".display";
  {
    std::FILE* file = std::fopen(config.c_str(), "w");
    ASSERT_TRUE(file);
    std::fprintf(file,
                 "output HEADLESS-1 resolution 800x600\nexec printf %%s \"$WAYLAND_DISPLAY\" > %s.part && mv "
                 "%s.part %s\n",
                 named.c_str(), named.c_str(), named.c_str());
    std::fclose(file);
  }
  ChildEnvironment environment;
  environment.set = {
      {"WLR_BACKENDS", "headless"}, {"WLR_LIBINPUT_NO_DEVICES", "1"}, {"WLR_RENDERER", "pixman"}};
  environment.unset = {"WAYLAND_DISPLAY", "SWAYSOCK", "DISPLAY"};
  ChildProcess sway("/usr/bin/sway", {"-c", config}, environment);
  ASSERT_TRUE(sway.started());
  std::string display;
  for (auto end = std::chrono::steady_clock::now() + 5s;
       display.empty() && std::chrono::steady_clock::now() < end;) {
    std::this_thread::sleep_for(20ms);
    if (std::FILE* file = std::fopen(named.c_str(), "r")) {
      char name[128] = {};
      if (std::fgets(name, sizeof name, file)) display = name;
      std::fclose(file);
    }
  }
  std::remove(config.c_str());
  std::remove(named.c_str());
  ASSERT_FALSE(display.empty()) << "the private sway did not say its display";

  auto renderer = std::make_unique<WaylandLayerRenderer>(display);
  WaylandLayerRenderer& own = *renderer;
  std::optional<Layers> layers(std::in_place, std::move(renderer), monotonic);
  std::shared_ptr<Layer> shutter;
  std::shared_ptr<Panel> panel;
  {
    Layers::Transaction transaction(*layers);
    panel = layers->makePanel(Rect(0, 0, 800, 600));
    shutter = layers->makeLayer();
    shutter->setFrame(Rect(0, 0, 800, 600));
    shutter->setBackgroundColor(Color{1, 1, 1, 1});
    shutter->add(platform::Animation::basic(platform::KeyPath::opacity, 0.0, 1.0, 10), "opacity");
    panel->rootLayer()->addSublayer(shutter);
    panel->orderFrontRegardless();
  }
  auto framesDrawn = [&] { return own.statistics().frameTimes.size(); };
  for (auto end = std::chrono::steady_clock::now() + 3s;
       framesDrawn() < 3 && std::chrono::steady_clock::now() < end;)
    std::this_thread::sleep_for(20ms);
  ASSERT_GE(framesDrawn(), 3u) << "no animation on the private sway";
  EXPECT_TRUE(own.statistics().connected);

  ASSERT_TRUE(sway.kill(SIGKILL));
  sway.wait(5s);
  for (auto end = std::chrono::steady_clock::now() + 3s;
       !own.statistics().lost && std::chrono::steady_clock::now() < end;)
    std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(own.statistics().lost);
  own.resetStatistics();
  shutter->setOpacity(0.5);  // commits go on, and draw nothing
  panel->orderOut();
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(own.statistics().frameTimes.empty());
  const auto before = std::chrono::steady_clock::now();
  shutter.reset();
  panel.reset();
  layers.reset();  // the last owner of the renderer
  EXPECT_LT(std::chrono::steady_clock::now() - before, 2s) << "leaving waited for the dead compositor";
}

}  // namespace
}  // namespace zoba::testing::wayland
