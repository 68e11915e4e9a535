#include "Platform/linux/x11/presenter/X11LayerRenderer.h"

#include <glib.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <map>
#include <mutex>
#include <thread>

#include "Platform/linux/Backends.h"
#include "Platform/linux/handles/XcbPtr.h"
#include "Platform/linux/layers/RenderHandoff.h"
#include "Platform/linux/layers/RenderPriority.h"
#include "Platform/linux/painter/LayerPainter.h"
#include "Platform/linux/x11/AtomCache.h"
#include "Platform/linux/x11/DisplayConnection.h"
#include "Platform/linux/x11/presenter/DisplayFacts.h"
#include "Platform/linux/x11/presenter/PanelWindow.h"

namespace zoba::platform::linux_backend {

namespace {

// The media clock of the model: RunLoop::now().
double monotonicSeconds() { return static_cast<double>(g_get_monotonic_time()) / 1e6; }

// Frames are drawn when due or up to this early, so a wake-up a hair before the
// deadline does not cost a second sleep.
constexpr double kFrameSlack = 0.0005;
// Frames kept in the statistics since their last reset: minutes of animation.
constexpr std::size_t kRecordedFrames = 1 << 14;

}  // namespace

struct X11LayerRenderer::Shared : RenderHandoff<RenderStatistics> {};

class X11LayerRenderer::Thread {
 public:
  explicit Thread(std::shared_ptr<Shared> shared) : shared_(std::move(shared)), thread_([this] { run(); }) {}
  ~Thread() {
    shared_->stop();
    thread_.join();
  }
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

 private:
  struct ShownPanel {
    Rect frame;
    std::unique_ptr<PanelWindow> window;
    std::vector<ShownLayer> layers;  // as last drawn
    bool fresh = true;               // nothing drawn yet
  };

  void run();
  // Takes the newest tree if there is one; false when stopping.
  bool takeTree();
  void syncPanels();
  void drawFrame(double time);
  void drainEvents();
  void sleep(std::optional<double> until);

  std::shared_ptr<Shared> shared_;
  // Render thread only from here on.
  XcbConnectionPtr connection_;
  const xcb_screen_t* screen_ = nullptr;
  int screenNumber_ = 0;
  std::optional<AtomCache> atomCache_;  // of connection_
  PanelAtoms atoms_;
  DisplayFacts facts_;
  std::shared_ptr<const RenderTree> tree_;
  std::uint64_t generation_ = 0;
  bool treeChanged_ = false;
  std::optional<ShmBufferPool> pool_;  // of connection_; outlives the panels
  std::map<std::uint64_t, ShownPanel> panels_;
  LayerPainter painter_;
  std::thread thread_;  // last: starts once everything above is made
};

void X11LayerRenderer::Thread::run() {
  // Frames come first: the walk and the captured application may hold both cores.
  preferRenderThread();
  if (auto display = openDisplay()) {
    screen_ = display->screen;
    screenNumber_ = display->screenNumber;
    connection_ = std::move(display->connection);
    atomCache_.emplace(connection_.get());
    pool_.emplace(connection_.get());
    atoms_ = PanelAtoms::intern(*atomCache_);
    facts_ = queryDisplay(connection_.get(), *screen_, screenNumber_, *atomCache_);
  }
  {
    std::lock_guard lock(shared_->statisticsMutex);
    shared_->statistics.refreshRate = facts_.refreshRate;
  }

  std::optional<double> nextFrame;  // while something animates
  while (takeTree()) {
    if (connection_) drainEvents();
    if (treeChanged_) syncPanels();
    const double now = monotonicSeconds();
    const bool due = treeChanged_ || (nextFrame && now >= *nextFrame - kFrameSlack);
    treeChanged_ = false;
    if (due && !panels_.empty()) {
      const auto started = std::chrono::steady_clock::now();
      drawFrame(now);
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
      std::lock_guard lock(shared_->statisticsMutex);
      // Bounded: the helper lives for days; a benchmark resets before it measures.
      if (shared_->statistics.frameTimes.size() < kRecordedFrames) {
        shared_->statistics.frameTimes.push_back(now);
        shared_->statistics.renderDurations.push_back(took.count());
      }
    }
    if (due) {
      if (tree_ && !panels_.empty() && tree_->animating(now)) {
        const double interval = 1 / facts_.refreshRate;
        // Keep the cadence; after a late frame, start it anew.
        nextFrame = nextFrame && *nextFrame + interval > now ? *nextFrame + interval : now + interval;
      } else {
        nextFrame.reset();
      }
    }
    if (connection_) xcb_flush(connection_.get());
    sleep(nextFrame);
  }
  panels_.clear();  // windows go before the connection
  pool_.reset();
  if (connection_) {
    // A round trip: once the renderer is gone, the server has destroyed its windows,
    // and no other client can still find one mapped.
    xcbReply(xcb_get_input_focus_reply, connection_.get(), xcb_get_input_focus(connection_.get()));
  }
}

bool X11LayerRenderer::Thread::takeTree() { return shared_->take(generation_, tree_, treeChanged_); }

void X11LayerRenderer::Thread::syncPanels() {
  std::map<std::uint64_t, const RenderPanel*> wanted;
  if (tree_) {
    for (const auto& panel : tree_->panels) wanted.emplace(panel.id, &panel);
  }
  // A panel and its layers go away together; a moved panel gets a new window.
  std::erase_if(panels_, [&](const auto& entry) {
    auto found = wanted.find(entry.first);
    return found == wanted.end() || found->second->frame != entry.second.frame;
  });
  if (!connection_) return;
  std::vector<PanelWindow*> opened;
  for (const auto& [id, panel] : wanted) {
    if (panels_.contains(id)) continue;
    if (opened.empty()) facts_ = queryDisplay(connection_.get(), *screen_, screenNumber_, *atomCache_);
    const Rect& frame = panel->frame;
    const int x = static_cast<int>(std::lround(frame.minX()));
    const int width = static_cast<int>(std::lround(frame.width()));
    const int height = static_cast<int>(std::lround(frame.height()));
    // Bottom-left space starts at the primary monitor's bottom edge.
    const int y = facts_.primaryHeight - static_cast<int>(std::lround(frame.minY())) - height;
    ShownPanel shown;
    shown.frame = frame;
    shown.window =
        PanelWindow::open(connection_.get(), *screen_, facts_, atoms_, {x, y, width, height}, *pool_);
    if (shown.window) opened.push_back(shown.window.get());
    panels_.emplace(id, std::move(shown));
  }
  // Every snapshot before any new window covers part of another's.
  for (auto* window : opened) window->snapshotBeneath();
  for (auto* window : opened) window->map();
  if (tree_) painter_.retainContentsOf(*tree_);
  std::lock_guard lock(shared_->statisticsMutex);
  shared_->statistics.refreshRate = facts_.refreshRate;
}

void X11LayerRenderer::Thread::drawFrame(double time) {
  for (const auto& panel : tree_->panels) {
    auto found = panels_.find(panel.id);
    if (found == panels_.end() || !found->second.window) continue;
    auto& shown = found->second;
    auto layers = showLayers(panel, time);
    const PixelRect bounds = shown.window->bounds();
    std::vector<PixelRect> damage =
        shown.fresh ? std::vector{bounds} : damageBetween(shown.layers, layers, bounds);
    if (!damage.empty()) {
      cairo_t* cr = shown.window->beginFrame(damage, opaqueCover(layers));
      painter_.paint(cr, layers, damage);
      shown.window->endFrame(damage, coverage(layers, bounds));
    }
    shown.layers = std::move(layers);
    shown.fresh = false;
  }
}

void X11LayerRenderer::Thread::drainEvents() {
  while (XReply<xcb_generic_event_t> event{xcb_poll_for_event(connection_.get())}) {
    // Errors (response type 0) are of no use here: a failed request only costs a frame.
    if ((event->response_type & 0x7F) != XCB_EXPOSE) continue;
    const auto* expose = reinterpret_cast<const xcb_expose_event_t*>(event.get());
    for (auto& [id, panel] : panels_) {
      if (panel.window && panel.window->id() == expose->window) {
        panel.window->expose({expose->x, expose->y, expose->width, expose->height});
      }
    }
  }
}

void X11LayerRenderer::Thread::sleep(std::optional<double> until) {
  pollfd fds[2] = {{shared_->wake.get(), POLLIN, 0}, {-1, POLLIN, 0}};
  // A broken connection stays readable; it is no reason to wake.
  if (connection_ && !xcb_connection_has_error(connection_.get())) {
    fds[1].fd = xcb_get_file_descriptor(connection_.get());
  }
  timespec timeout{};
  if (until) {
    const double wait = std::max(0.0, *until - monotonicSeconds());
    timeout.tv_sec = static_cast<time_t>(wait);
    timeout.tv_nsec = static_cast<long>((wait - static_cast<double>(timeout.tv_sec)) * 1e9);
  }
  ppoll(fds, 2, until ? &timeout : nullptr, nullptr);
  if (fds[0].revents & POLLIN) {
    std::uint64_t count;
    [[maybe_unused]] auto read = ::read(shared_->wake.get(), &count, sizeof count);
  }
  std::lock_guard lock(shared_->statisticsMutex);
  ++shared_->statistics.wakeups;
}

X11LayerRenderer::X11LayerRenderer() : shared_(std::make_shared<Shared>()) {}

X11LayerRenderer::~X11LayerRenderer() { thread_.reset(); }

void X11LayerRenderer::commit(std::shared_ptr<const RenderTree> tree) {
  prepare();
  shared_->publish(std::move(tree));
}

// The thread and its X connection come when the service starts serving, or with the
// first commit: the launcher has neither.
void X11LayerRenderer::prepare() {
  if (!thread_) thread_ = std::make_unique<Thread>(shared_);
}

RenderStatistics X11LayerRenderer::statistics() const {
  std::lock_guard lock(shared_->statisticsMutex);
  return shared_->statistics;
}

void X11LayerRenderer::resetStatistics() {
  std::lock_guard lock(shared_->statisticsMutex);
  const double rate = shared_->statistics.refreshRate;
  shared_->statistics = {};
  shared_->statistics.refreshRate = rate;
}

std::unique_ptr<LayerRenderer> makeLayerRenderer() { return std::make_unique<X11LayerRenderer>(); }

}  // namespace zoba::platform::linux_backend
