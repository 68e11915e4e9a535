#include "Platform/linux/wayland/kwin/KWinWindowSource.h"

namespace zoba::platform::linux_backend::wayland {

namespace {
using namespace std::chrono_literals;
// The script reports about 30 ms after it was loaded; only the first question waits.
constexpr auto firstReportWait = 1500ms;
}  // namespace

std::optional<ActiveWindowFeed::Report> KWinWindowSource::report() {
  std::shared_ptr<ActiveWindowFeed> feed;
  {
    std::lock_guard lock(mutex_);
    if (!feed_) feed_ = ActiveWindowFeed::shared();
    feed = feed_;
  }
  return feed->current(firstReportWait);
}

std::optional<std::vector<Toplevel>> KWinWindowSource::toplevels() {
  auto report = this->report();
  if (!report) return std::nullopt;
  std::vector<Toplevel> list;
  if (auto* window = std::get_if<KWinWindow>(&*report)) list.push_back(window->toplevel);
  return list;
}

std::optional<KWinWindow> KWinWindowSource::active() {
  auto report = this->report();
  if (!report) return std::nullopt;
  if (auto* window = std::get_if<KWinWindow>(&*report)) return std::move(*window);
  return std::nullopt;
}

std::unique_ptr<WindowSource> makeKWinWindowSource() { return std::make_unique<KWinWindowSource>(); }

}  // namespace zoba::platform::linux_backend::wayland
