// The road of a chord on sway as a host and a user meet it, over ~20 chords with a
// native GTK 3 window in front: from sway's `binding` event (sway has just taken the
// second key's press) to the "hotkey" line, to the first composed frame that shows the
// overlay over the window, to "captureSnapshot" (the preview) and to "capture".
// Run it on the sway desktop:
//   scripts/headless-sway.sh run -- build/default/bench/service/sway_road_bench [CHORDS]
//
// The overlay is watched from outside, as a user sees it: a thread copies a small
// patch of the window through wlr-screencopy, one copy per composed frame (the
// compositor answers a copy at its next frame), and notes when the patch first
// differs from the window's colour. Its times are when the copy came back, so they
// lie up to a fraction of a millisecond after the frame.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

#include "Platform/linux/wayland/Screencopy.h"
#include "Platform/linux/wayland/ShmFrame.h"
#include "Platform/linux/wayland/WaylandOutputs.h"
#include "Platform/linux/wayland/sway/SwayIpc.h"
#include "bench/Distribution.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/wayland/SwayDesktop.h"
#include "wayland-protocols/wlr-screencopy-unstable-v1-client-protocol.h"

using namespace zoba::testing;
using namespace zoba::testing::wayland;
namespace wl = zoba::platform::linux_backend::wayland;
using nlohmann::json;
using Clock = std::chrono::steady_clock;
using zoba::bench::milliseconds;
using zoba::bench::printDistribution;

namespace {

constexpr std::uint32_t windowColour = 0x20C060;

bool differs(std::uint32_t pixel, std::uint32_t rgb) {
  for (int shift : {16, 8, 0}) {
    if (std::abs(int(pixel >> shift & 0xFF) - int(rgb >> shift & 0xFF)) > 6) return true;
  }
  return false;
}

// Copies `patch` (layout coordinates) frame after frame on a connection of its own
// and keeps when each copy came back and whether it showed something over the window.
class PatchWatch {
 public:
  explicit PatchWatch(const zoba::Rect& patch) {
    connection_ = wl::WaylandConnection::open();
    if (!connection_) return;
    screencopy_ =
        wl::own(connection_->bind<zwlr_screencopy_manager_v1>(zwlr_screencopy_manager_v1_interface, 3),
                zwlr_screencopy_manager_v1_destroy);
    shm_ = wl::own(connection_->bind<wl_shm>(wl_shm_interface, 1), wl_shm_destroy);
    outputs_.emplace(*connection_);
    connection_->roundtrip();
    connection_->roundtrip();
    const auto list = outputs_->geometry();
    const wl::OutputGeometry* output = wl::outputHolding(list, patch);
    if (!screencopy_ || !shm_ || !output) return;
    region_ = zoba::Rect(patch.minX() - output->logical.x, patch.minY() - output->logical.y, patch.width(),
                         patch.height());
    output_ = outputs_->output(output->global);
    if (!output_) return;
    thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
  }

  bool ok() const { return thread_.joinable(); }

  // The first copy after `since` that showed the overlay.
  std::optional<Clock::time_point> firstOverlay(Clock::time_point since) const {
    std::lock_guard lock(mutex_);
    for (const auto& [at, overlay] : samples_) {
      if (at > since && overlay) return at;
    }
    return std::nullopt;
  }

  // Whether a copy after `since` showed the plain window again.
  bool clearSince(Clock::time_point since) const {
    std::lock_guard lock(mutex_);
    return std::any_of(samples_.begin(), samples_.end(),
                       [&](const auto& sample) { return sample.first > since && !sample.second; });
  }

  void forget() {
    std::lock_guard lock(mutex_);
    samples_.clear();
  }

 private:
  void run(std::stop_token stop) {
    while (!stop.stop_requested()) {
      auto copy = wl::copyOutputRegion(*connection_, screencopy_.get(), shm_.get(), output_, region_,
                                       Clock::now() + std::chrono::seconds(1));
      const auto at = Clock::now();
      auto* frame = std::get_if<wl::ShmFrame>(&copy);
      if (!frame) continue;
      auto image = wl::frameImage(*frame);
      if (!image) continue;
      const bool overlay = differs(image->pixel(image->width() / 2, image->height() / 2), windowColour);
      std::lock_guard lock(mutex_);
      samples_.emplace_back(at, overlay);
    }
  }

  std::unique_ptr<wl::WaylandConnection> connection_;  // first: every proxy below goes before it
  wl::ProxyPtr<zwlr_screencopy_manager_v1> screencopy_{nullptr, nullptr};
  wl::ProxyPtr<wl_shm> shm_{nullptr, nullptr};
  std::optional<wl::WaylandOutputs> outputs_;
  wl_output* output_ = nullptr;
  zoba::Rect region_;
  mutable std::mutex mutex_;
  std::vector<std::pair<Clock::time_point, bool>> samples_;  // guarded by mutex_
  std::jthread thread_;                                      // last: stops before the rest goes
};

json parse(const std::optional<std::string>& line) {
  return line ? json::parse(*line, nullptr, false) : json();
}

}  // namespace

int main(int argc, char** argv) {
  const int chords = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  if (!swayDesktopAvailable()) {
    std::fprintf(stderr, "needs the headless sway desktop (scripts/headless-sway.sh run -- ...)\n");
    return 2;
  }
  WaylandWindowOptions options;
  options.title = "Road bench";
  options.colour = windowColour;
  WaylandWindow window(options);
  const SwayRect content{300, 200, 640, 400};
  if (!window.pid() || !window.place(content) || !waitForAccessibleApplication(*window.pid())) {
    std::fprintf(stderr, "the GTK window did not come up focused and accessible\n");
    return 1;
  }
  // The window's plain colour area, above its widgets.
  PatchWatch watch(zoba::Rect(content.x + 60, content.y + 60, 8, 8));
  if (!watch.ok()) {
    std::fprintf(stderr, "no screencopy of the window's region\n");
    return 1;
  }
  // The bench is the host: the window in front is another application.
  ChildProcess helper(ZOBA_CAPTURE_PATH, {"--host-pid", std::to_string(::getpid())});
  if (parse(helper.readLine(10s)).value("type", "") != "ready") return 1;
  auto events = wl::SwayIpc::connect();
  if (!events || !events->request(wl::SwayMessage::subscribe, R"(["binding"])")) {
    std::fprintf(stderr, "no sway IPC\n");
    return 1;
  }

  std::vector<double> toHotkey, toFrame, toSnapshot, toCapture;
  const json card{{"x", 1600}, {"y", 40}, {"width", 200}, {"height", 120}};
  for (int i = 0; i < chords; ++i) {
    watch.forget();
    ChildProcess keys("/usr/bin/wtype", {"-P", "Shift_L", "-M", "shift", "-s", "50", "-P", "Shift_R", "-s",
                                         "20", "-p", "Shift_R", "-m", "shift", "-p", "Shift_L"});
    auto event = events->read(std::chrono::milliseconds(2000));
    const auto chordAt = Clock::now();
    if (!event || event->type != wl::SwayMessage::bindingEvent) {
      std::fprintf(stderr, "chord %d: no binding event\n", i);
      return 1;
    }
    std::optional<Clock::time_point> hotkeyAt, snapshotAt, captureAt;
    bool landed = false;
    for (const auto end = chordAt + 10s; Clock::now() < end && !landed;) {
      auto line = helper.readLine(100ms);
      if (!line) continue;
      const auto at = Clock::now();
      const json message = parse(line);
      const std::string type = message.value("type", "");
      if (type == "hotkey") {
        hotkeyAt = at;
        if (message.value("target", "") != "capture") {
          std::fprintf(stderr, "chord %d: %s\n", i, line->c_str());
          return 1;
        }
        helper.writeLine(json{
            {"type", "captureTarget"},
            {"id", "card"},
            {"captureId", message.value("captureId", "")},
            {"frame", card},
            {"radius", 12}}.dump());
      } else if (type == "captureSnapshot") {
        snapshotAt = at;
      } else if (type == "capture") {
        captureAt = at;
      } else if (type == "captureLanded") {
        landed = true;
      }
    }
    keys.wait();
    if (!hotkeyAt || !snapshotAt || !captureAt || !landed) {
      std::fprintf(stderr, "chord %d: the road did not end\n", i);
      return 1;
    }
    toHotkey.push_back(milliseconds(*hotkeyAt - chordAt));
    toSnapshot.push_back(milliseconds(*snapshotAt - chordAt));
    toCapture.push_back(milliseconds(*captureAt - chordAt));
    if (auto frame = watch.firstOverlay(chordAt)) toFrame.push_back(milliseconds(*frame - chordAt));
    // The next chord once the window shows plain again.
    const auto landedAt = Clock::now();
    for (const auto end = landedAt + 3s; Clock::now() < end && !watch.clearSince(landedAt);)
      std::this_thread::sleep_for(5ms);
  }
  std::printf("sway road over %d chords (from sway's binding event):\n", chords);
  printDistribution("-> \"hotkey\"", toHotkey, "(goal <= 5 ms)");
  printDistribution("-> first frame with the overlay", toFrame,
                    "(goal: within one refresh, 16.7 ms at 60 Hz)");
  printDistribution("-> \"captureSnapshot\" (preview)", toSnapshot, "(goal <= 100 ms)");
  printDistribution("-> \"capture\"", toCapture, "");
  return 0;
}
