#include "Platform/linux/wayland/presenter/RenderThread.h"

#include <glib.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "Platform/linux/layers/RenderPriority.h"
#include "Platform/linux/wayland/LayerShellProtocol.h"
#include "Platform/linux/wayland/OverlayGate.h"
#include "Platform/linux/wayland/OwnPanels.h"

namespace zoba::platform::linux_backend::wayland {

namespace {

using Clock = std::chrono::steady_clock;

// The media clock of the model: RunLoop::now().
double monotonicSeconds() { return static_cast<double>(g_get_monotonic_time()) / 1e6; }

// A frame is drawn when due or up to this early, so a wake-up a hair before the
// deadline does not cost a second sleep.
constexpr double kFrameSlack = 0.0005;
// A frame callback later than this never comes (an output switched off, say); the
// animation goes on at the output's rate without it.
constexpr double kCallbackPatience = 0.1;
// How long leaving waits for the compositor to have removed our surfaces.
constexpr int kGoodbyeMs = 500;
// Frames kept in the statistics since their last reset: minutes of animation.
constexpr std::size_t kRecordedFrames = 1 << 14;

double secondsUntil(Clock::time_point when) {
  return monotonicSeconds() + std::chrono::duration<double>(when - Clock::now()).count();
}

bool panelAnimating(const RenderPanel& panel, double time) {
  return std::any_of(panel.layers.begin(), panel.layers.end(), [&](const RenderLayer& layer) {
    return std::any_of(layer.animations.begin(), layer.animations.end(),
                       [&](const Animation& animation) { return !animation.finished(time); });
  });
}

void minimise(std::optional<double>& soonest, double time) {
  if (!soonest || time < *soonest) soonest = time;
}

// A round trip that gives up after `timeoutMs`: a stuck compositor must not hold the
// helper's exit.
void boundedRoundtrip(wl_display* display, int timeoutMs) {
  bool done = false;
  static const wl_callback_listener listener{
      [](void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; }};
  auto callback = own(wl_display_sync(display), wl_callback_destroy);
  if (!callback) return;
  wl_callback_add_listener(callback.get(), &listener, &done);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return;
    while (wl_display_prepare_read(display) != 0) {
      if (wl_display_dispatch_pending(display) < 0) return;
    }
    wl_display_flush(display);
    pollfd fd{wl_display_get_fd(display), POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(left)) <= 0) {
      wl_display_cancel_read(display);
      continue;
    }
    if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0) return;
  }
}

}  // namespace

WaylandLayerRenderer::Thread::Thread(std::shared_ptr<Shared> shared)
    : shared_(std::move(shared)), thread_([this] { run(); }) {
  // A shot that ends lets held panels show: wake the thread to look.
  OverlayGate::shared().setWaker([weak = std::weak_ptr<Shared>(shared_)] {
    if (auto shared = weak.lock()) shared->signal();
  });
}

WaylandLayerRenderer::Thread::~Thread() {
  OverlayGate::shared().setWaker({});
  shared_->stop();
  thread_.join();
}

void WaylandLayerRenderer::Thread::connect() {
  connection_ = WaylandConnection::open(shared_->display.empty() ? nullptr : shared_->display.c_str());
  if (!connection_) return;
  compositor_ = own(connection_->bind<wl_compositor>(wl_compositor_interface, 4), wl_compositor_destroy);
  shm_ = own(connection_->bind<wl_shm>(wl_shm_interface, 1), wl_shm_destroy);
  layerShell_ = own(connection_->bind<zwlr_layer_shell_v1>(zwlr_layer_shell_v1_interface, 4),
                    zwlr_layer_shell_v1_destroy);
  if (!compositor_ || !shm_ || !layerShell_) {
    // Nothing to draw with (a compositor without layer-shell): stay silent.
    compositor_.reset();
    shm_.reset();
    layerShell_.reset();
    connection_.reset();
    return;
  }
  outputs_.emplace(*connection_);
  boundedRoundtrip(connection_->display(), kGoodbyeMs);  // the outputs' facts
  pool_.emplace(shm_.get());
  double fastest = 0;
  for (const auto& output : outputs_->geometry()) {
    fastest = std::max(fastest, output.refreshRate);
    // A capture's panel covers its output: its buffers are ready before it comes.
    pool_->reserve(output.logical.width * output.scale, output.logical.height * output.scale,
                   BufferPool::kKept);
  }
  std::lock_guard lock(shared_->statisticsMutex);
  shared_->statistics.connected = true;
  shared_->statistics.refreshRate = fastest;
}

void WaylandLayerRenderer::Thread::run() {
  // Frames come first: the walk and the captured application may hold both cores.
  preferRenderThread();
  connect();
  while (takeTree()) {
    if (treeChanged_) syncPanels();
    treeChanged_ = false;
    sleep(drawDue(monotonicSeconds()));
  }
  panels_.clear();
  publishPanels();
  if (connection_ && !lost_) {
    // Once the renderer is gone, the compositor has removed its surfaces: nothing of
    // the overlay is left for anyone's next screenshot.
    boundedRoundtrip(connection_->display(), kGoodbyeMs);
  }
  pool_.reset();
  outputs_.reset();
  layerShell_.reset();
  shm_.reset();
  compositor_.reset();
  connection_.reset();
}

bool WaylandLayerRenderer::Thread::takeTree() {
  return shared_->take(generation_, tree_, treeChanged_,
                       [this] { firstCommitted_ = shared_->firstCommitted; });
}

void WaylandLayerRenderer::Thread::syncPanels() {
  std::map<std::uint64_t, const RenderPanel*> wanted;
  if (tree_) {
    for (const auto& panel : tree_->panels) wanted.emplace(panel.id, &panel);
  }
  // A panel and its surface go away together; a moved panel gets a new surface.
  std::erase_if(panels_, [&](const auto& entry) {
    auto found = wanted.find(entry.first);
    return found == wanted.end() || found->second->frame != entry.second.frame;
  });
  for (auto& [id, panel] : panels_) panel.dirty = true;
  const bool usable = connection_ && !lost_;
  bool outputsKnown = false;
  std::vector<OutputGeometry> geometry;
  for (const auto& [id, panel] : wanted) {
    if (panels_.contains(id)) continue;
    ShownPanel shown;
    shown.frame = panel->frame;
    auto first = firstCommitted_.find(id);
    shown.opened = first != firstCommitted_.end() ? first->second : Clock::now();
    if (usable) {
      if (!outputsKnown) {
        // An output plugged in since: its facts first.
        if (outputs_->refresh()) boundedRoundtrip(connection_->display(), kGoodbyeMs);
        geometry = outputs_->geometry();
        outputsKnown = true;
      }
      if (auto placement = placePanel(panel->frame, geometry)) {
        const OutputGeometry& output = geometry[placement->output];
        shown.interval = 1 / std::max(1.0, output.refreshRate);
        shown.onScreen = placement->rect;
        shown.surface = PanelSurface::open({compositor_.get(), shm_.get(), layerShell_.get()}, *pool_,
                                           outputs_->output(output.global), *placement, output.scale);
      }
    }
    panels_.emplace(id, std::move(shown));
  }
  if (tree_) painter_.retainContentsOf(*tree_);
  publishPanels();
}

void WaylandLayerRenderer::Thread::publishPanels() const {
  std::vector<OwnPanel> list;
  for (const auto& [id, panel] : panels_) {
    if (!panel.surface) continue;
    const PixelRect& rect = panel.onScreen;
    list.push_back({id, Rect(rect.x, rect.y, rect.width, rect.height)});
  }
  OwnPanels::shared().set(std::move(list));
}

std::optional<double> WaylandLayerRenderer::Thread::drawDue(double now) {
  std::optional<double> wakeAt;
  if (!tree_) return wakeAt;
  for (const auto& panel : tree_->panels) {
    auto found = panels_.find(panel.id);
    if (found == panels_.end() || !found->second.surface) continue;
    ShownPanel& shown = found->second;
    PanelSurface& surface = *shown.surface;
    if (!surface.ready()) continue;  // its configure wakes the thread
    if (!shown.visible) {
      // The capture's screenshot copies the composed screen: the overlay waits for it.
      if (auto held = OverlayGate::shared().heldUntil(shown.opened, Clock::now())) {
        minimise(wakeAt, secondsUntil(*held));
        continue;
      }
      shown.visible = true;
    }
    const bool running = panelAnimating(panel, now);
    const bool animating = running || shown.moving;
    bool due = shown.dirty;
    if (!due && animating) {
      due = surface.framePending() ? now >= shown.committedAt + kCallbackPatience
                                   : now >= shown.nextFrame - kFrameSlack;
    }
    if (due) {
      const auto started = std::chrono::steady_clock::now();
      const auto result = surface.present(showLayers(panel, now), painter_);
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
      switch (result) {
        case PanelSurface::Result::committed:
          shown.dirty = false;
          shown.moving = running;
          shown.committedAt = now;
          shown.nextFrame = 0;
          record(now, took.count());
          break;
        case PanelSurface::Result::unchanged:
          shown.dirty = false;
          shown.moving = running;
          shown.nextFrame = now + shown.interval;
          break;
        case PanelSurface::Result::noBuffer:
          // A release wakes the thread; in case none comes, look again a frame later.
          minimise(wakeAt, now + shown.interval);
          break;
        case PanelSurface::Result::notReady: break;
      }
    }
    if (running || shown.moving) {
      minimise(wakeAt, surface.framePending() ? shown.committedAt + kCallbackPatience : shown.nextFrame);
    }
  }
  return wakeAt;
}

void WaylandLayerRenderer::Thread::sleep(std::optional<double> until) {
  wl_display* display = connection_ && !lost_ ? connection_->display() : nullptr;
  pollfd fds[2] = {{shared_->wake.get(), POLLIN, 0}, {-1, POLLIN, 0}};
  if (display) {
    while (wl_display_prepare_read(display) != 0) {
      if (wl_display_dispatch_pending(display) < 0) {
        lose();
        return;
      }
    }
    if (wl_display_flush(display) < 0 && errno != EAGAIN) {
      wl_display_cancel_read(display);
      lose();
      return;
    }
    fds[1].fd = wl_display_get_fd(display);
  }
  timespec timeout{};
  if (until) {
    const double wait = std::max(0.0, *until - monotonicSeconds());
    timeout.tv_sec = static_cast<time_t>(wait);
    timeout.tv_nsec = static_cast<long>((wait - static_cast<double>(timeout.tv_sec)) * 1e9);
  }
  ppoll(fds, display ? 2 : 1, until ? &timeout : nullptr, nullptr);
  if (display) {
    if (fds[1].revents & (POLLIN | POLLERR | POLLHUP)) {
      if (wl_display_read_events(display) < 0) {
        lose();
        return;
      }
    } else {
      wl_display_cancel_read(display);
    }
    if (wl_display_dispatch_pending(display) < 0) {
      lose();
      return;
    }
  }
  if (fds[0].revents & POLLIN) {
    std::uint64_t count;
    [[maybe_unused]] auto read = ::read(shared_->wake.get(), &count, sizeof count);
  }
  std::lock_guard lock(shared_->statisticsMutex);
  ++shared_->statistics.wakeups;
  for (auto& [id, panel] : panels_) {
    if (!panel.surface) continue;
    if (auto presented = panel.surface->takePresented();
        presented && shared_->statistics.presentTimes.size() < kRecordedFrames) {
      shared_->statistics.presentTimes.push_back(*presented);
    }
  }
}

void WaylandLayerRenderer::Thread::lose() {
  lost_ = true;
  // The proxies only free memory now; a broken display sends nothing.
  for (auto& [id, panel] : panels_) panel.surface.reset();
  publishPanels();
  std::lock_guard lock(shared_->statisticsMutex);
  shared_->statistics.lost = true;
}

void WaylandLayerRenderer::Thread::record(double begun, double took) {
  std::lock_guard lock(shared_->statisticsMutex);
  // Bounded: the helper lives for days; a benchmark resets before it measures.
  if (shared_->statistics.frameTimes.size() < kRecordedFrames) {
    shared_->statistics.frameTimes.push_back(begun);
    shared_->statistics.renderDurations.push_back(took);
  }
}

}  // namespace zoba::platform::linux_backend::wayland
