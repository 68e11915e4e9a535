// The main loop is GLib's default main context, which also serves the X connection
// and the D-Bus connections of the other backends.
#include <glib.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <memory>
#include <mutex>

#include "Platform/linux/Backends.h"
#include "Platform/linux/handles/GLibPtr.h"

namespace zoba::platform::linux_backend {

namespace {

using Work = std::function<void()>;

gboolean runOnce(gpointer data) {
  (*static_cast<Work*>(data))();
  return G_SOURCE_REMOVE;
}
void deleteWork(gpointer data) { delete static_cast<Work*>(data); }

class GLibRunLoop final : public RunLoop {
 public:
  GLibRunLoop() : loop_(g_main_loop_new(nullptr, FALSE)) {}

  void run() override { g_main_loop_run(loop_.get()); }
  void quit() override { g_main_loop_quit(loop_.get()); }

  // One queue drained by one idle source keeps posted work in strict order, from
  // however many threads it comes.
  void post(Work work) override {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(work));
    if (drainScheduled_) return;
    drainScheduled_ = true;
    SourcePtr source(g_idle_source_new());
    g_source_set_priority(source.get(), G_PRIORITY_DEFAULT);
    g_source_set_callback(source.get(), &GLibRunLoop::drain, this, nullptr);
    g_source_attach(source.get(), nullptr);
  }

  void after(double seconds, Work work) override {
    // NaN and negative delays run at once; a delay beyond GLib's 49 days waits that long.
    const double wanted = std::isnan(seconds) ? 0.0 : std::clamp(seconds * 1000.0, 0.0, double(G_MAXUINT));
    auto milliseconds = static_cast<guint>(std::lround(wanted));
    SourcePtr source(g_timeout_source_new(milliseconds));
    // GLib owns the work from here and frees it with the source.
    g_source_set_callback(source.get(), &runOnce, std::make_unique<Work>(std::move(work)).release(),
                          &deleteWork);
    g_source_attach(source.get(), nullptr);
  }

  double now() const override { return static_cast<double>(g_get_monotonic_time()) / 1e6; }

 private:
  static gboolean drain(gpointer data) {
    auto& self = *static_cast<GLibRunLoop*>(data);
    std::deque<Work> batch;
    {
      std::lock_guard lock(self.mutex_);
      batch.swap(self.posted_);
      self.drainScheduled_ = false;
    }
    for (auto& work : batch) work();
    return G_SOURCE_REMOVE;
  }

  MainLoopPtr loop_;
  std::mutex mutex_;
  std::deque<Work> posted_;
  bool drainScheduled_ = false;
};

}  // namespace

std::unique_ptr<RunLoop> makeRunLoop() { return std::make_unique<GLibRunLoop>(); }

}  // namespace zoba::platform::linux_backend
