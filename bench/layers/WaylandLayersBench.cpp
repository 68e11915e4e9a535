// The capture overlay through the Wayland layer renderer on a live compositor (the
// headless sway of scripts/headless-sway.sh): a capture's shutter from shown to its
// first frame, then a 1600 × 1000 screenshot card flown by a spring, with the
// intervals between its frames, their render times and the idle wake-ups.
//
//   wayland_layers_bench [--runs N] [--idle-seconds N]
#include <glib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "Platform/Layers.h"
#include "Platform/linux/wayland/OverlayGate.h"
#include "Platform/linux/wayland/presenter/WaylandLayerRenderer.h"

using namespace zoba;
using namespace zoba::platform;
using namespace std::chrono_literals;
using linux_backend::wayland::OverlayGate;
using linux_backend::wayland::WaylandLayerRenderer;

namespace {

double monotonic() { return static_cast<double>(g_get_monotonic_time()) / 1e6; }

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, std::size_t(p * double(values.size() - 1) + 0.5))];
}

constexpr double kWidth = 1920, kHeight = 1080;

Image screenshot(int width, int height) {
  std::vector<std::uint32_t> words(std::size_t(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint32_t r = 40 + 180 * x / width, g = 60 + 150 * y / height, b = 200;
      if (x % 80 < 2 || y % 60 < 2) r = g = b = 30;
      words[std::size_t(y) * width + x] = 0xFF000000u | r << 16 | g << 8 | b;
    }
  }
  return Image::fromWords(width, height, Image::Format::opaque, std::move(words));
}

template <typename Condition>
bool waitFor(Condition condition, std::chrono::milliseconds limit = 2s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

struct FirstFrame {
  double begun = -1;      // drawing began: the surface was configured and the gate open
  double committed = -1;  // drawn and committed
  double presented = -1;  // the compositor's frame callback
};

// A capture's shutter over an 800 × 600 window on a new panel; the capture's
// screenshot (which the overlay waits for) is taken at once and takes `shot`.
FirstFrame shutterFirstFrame(Layers& layers, WaylandLayerRenderer& renderer, std::chrono::milliseconds shot) {
  renderer.resetStatistics();
  const double shownAt = monotonic();
  std::shared_ptr<Panel> panel;
  {
    Layers::Transaction transaction(layers);
    panel = layers.makePanel(Rect(0, 0, kWidth, kHeight));
    auto shutter = layers.makeLayer();
    shutter->setFrame(Rect(560, 240, 800, 600));
    shutter->setBackgroundColor(Color{1, 1, 1, 1});
    shutter->setOpacity(0.85);
    panel->rootLayer()->addSublayer(shutter);
    panel->orderFrontRegardless();
  }
  OverlayGate::shared().shotStarted();
  std::this_thread::sleep_for(shot);
  OverlayGate::shared().shotFinished();
  waitFor([&] { return !renderer.statistics().presentTimes.empty(); });
  const auto stats = renderer.statistics();
  panel->orderOut();
  panel.reset();
  std::this_thread::sleep_for(50ms);
  FirstFrame first;
  if (!stats.frameTimes.empty()) first.begun = stats.frameTimes.front() - shownAt;
  if (!stats.frameTimes.empty())
    first.committed = stats.frameTimes.front() + stats.renderDurations.front() - shownAt;
  if (!stats.presentTimes.empty()) first.presented = stats.presentTimes.front() - shownAt;
  return first;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 10;
  double idleSeconds = 2;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
      runs = std::max(1, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--idle-seconds") && i + 1 < argc)
      idleSeconds = std::atof(argv[++i]);
  }
  const char* display = std::getenv("WAYLAND_DISPLAY");
  if (!display || !*display) {
    std::fprintf(stderr,
                 "wayland_layers_bench needs a Wayland compositor (scripts/headless-sway.sh run -- ...)\n");
    return 1;
  }
  auto owned = std::make_unique<WaylandLayerRenderer>();
  WaylandLayerRenderer& renderer = *owned;
  Layers layers(std::move(owned), monotonic);
  layers.prepare();
  if (!waitFor([&] { return renderer.statistics().connected; })) {
    std::fprintf(stderr, "no compositor with wlr-layer-shell answered\n");
    return 1;
  }
  const double interval = 1e3 / renderer.statistics().refreshRate;

  std::vector<double> begun, committed, presented;
  for (int run = 0; run < runs; ++run) {
    const auto first = shutterFirstFrame(layers, renderer, 0ms);
    if (first.begun >= 0) begun.push_back(first.begun * 1e3);
    if (first.committed >= 0) committed.push_back(first.committed * 1e3);
    if (first.presented >= 0) presented.push_back(first.presented * 1e3);
  }
  const auto held = shutterFirstFrame(layers, renderer, 25ms);

  // The flight: a card lifted off the screen and flown to a thumbnail by a spring.
  const Rect card((kWidth - 1600) / 2, (kHeight - 1000) / 2, 1600, 1000);
  const Rect thumb(kWidth - 160 - 32, 32, 160, 96);
  std::shared_ptr<Panel> panel;
  std::shared_ptr<Layer> host, image;
  {
    Layers::Transaction transaction(layers);
    panel = layers.makePanel(Rect(0, 0, kWidth, kHeight));
    host = layers.makeLayer();
    host->setFrame(card);
    host->setShadowRadius(18);
    host->setShadowOffset(Size{0, -6});
    host->setShadowOpacity(0.28);
    image = layers.makeLayer();
    image->setFrame(Rect(0, 0, card.width(), card.height()));
    image->setContents(screenshot(1600, 1000));
    image->setMasksToBounds(true);
    image->setCornerRadius(10);
    host->addSublayer(image);
    panel->rootLayer()->addSublayer(host);
    panel->orderFrontRegardless();
  }
  std::this_thread::sleep_for(300ms);  // held for a shot that never comes, then drawn
  renderer.resetStatistics();
  double flight = 0;
  {
    Layers::Transaction transaction(layers);
    auto spring = [](KeyPath key, LayerValue to) {
      return Animation::spring(key, std::nullopt, to, 0.4, 0.06);
    };
    const Rect bounds(0, 0, thumb.width(), thumb.height());
    host->add(spring(KeyPath::position, Point{thumb.midX(), thumb.midY()}), "position");
    host->add(spring(KeyPath::bounds, bounds), "bounds");
    image->add(spring(KeyPath::position, Point{thumb.width() / 2, thumb.height() / 2}), "position");
    image->add(spring(KeyPath::bounds, bounds), "bounds");
    host->setFrame(thumb);
    image->setFrame(bounds);
    flight = host->animation("position")->duration;
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(flight + 0.2));
  const auto stats = renderer.statistics();
  std::vector<double> gaps, renderMs;
  for (std::size_t i = 1; i < stats.frameTimes.size(); ++i)
    gaps.push_back((stats.frameTimes[i] - stats.frameTimes[i - 1]) * 1e3);
  for (double seconds : stats.renderDurations) renderMs.push_back(seconds * 1e3);

  std::printf("refresh rate                  %.1f Hz (interval %.2f ms)\n", stats.refreshRate, interval);
  std::printf("shutter shown -> first frame begun       median %.2f ms, worst %.2f ms (surface configured)\n",
              percentile(begun, 0.5), percentile(begun, 1));
  std::printf(
      "shutter shown -> first frame committed   median %.2f ms, worst %.2f ms over %zu (shot of 0 ms)\n",
      percentile(committed, 0.5), percentile(committed, 1), committed.size());
  std::printf("shutter shown -> frame callback          median %.2f ms, worst %.2f ms over %zu\n",
              percentile(presented, 0.5), percentile(presented, 1), presented.size());
  std::printf("shutter shown -> first frame, 25 ms shot %.2f ms committed, %.2f ms called back\n",
              held.committed * 1e3, held.presented * 1e3);
  std::printf("flight                        %.3f s, %zu frames (%.1f per interval)\n", flight,
              stats.frameTimes.size(), double(stats.frameTimes.size()) / (flight * 1e3 / interval));
  std::printf("frame interval while animating  median %.2f ms, p90 %.2f ms, worst %.2f ms\n",
              percentile(gaps, 0.5), percentile(gaps, 0.9), percentile(gaps, 1));
  std::printf("frame render time             median %.2f ms, p90 %.2f ms, worst %.2f ms\n",
              percentile(renderMs, 0.5), percentile(renderMs, 0.9), percentile(renderMs, 1));

  panel->orderOut();
  std::this_thread::sleep_for(200ms);
  renderer.resetStatistics();
  std::this_thread::sleep_for(std::chrono::duration<double>(idleSeconds));
  std::printf("wake-ups with no panel        %llu in %.0f s   (goal 0)\n",
              static_cast<unsigned long long>(renderer.statistics().wakeups), idleSeconds);
  return 0;
}
