#pragma once

// The active window as KWin reports it: one per process, shared by the services
// that ask. It owns a session-bus connection on a thread of its own, loads the
// active-window script into KWin, takes the script's reports as they come and
// unloads the script when the last user lets it go.

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <variant>

#include "Platform/linux/handles/UniqueFd.h"
#include "Platform/linux/wayland/kwin/ActiveWindowMessage.h"

namespace zoba::platform::linux_backend::wayland {

class ActiveWindowFeed {
 public:
  using Report = std::variant<KWinWindow, NoActiveWindow>;

  // The process's feed, started at the first call.
  static std::shared_ptr<ActiveWindowFeed> shared();

  ActiveWindowFeed();
  ~ActiveWindowFeed();
  ActiveWindowFeed(const ActiveWindowFeed&) = delete;
  ActiveWindowFeed& operator=(const ActiveWindowFeed&) = delete;

  // The last report; waits up to `wait` for the first one. Absent when KWin took no
  // script or has not reported.
  std::optional<Report> current(std::chrono::milliseconds wait);

 private:
  void run();
  void received(Report report);

  UniqueFd wake_;  // an eventfd that ends the thread's wait
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<Report> report_;
  bool finished_ = false;  // the thread gave up (no bus, no KWin) or was stopped
  std::thread thread_;
};

}  // namespace zoba::platform::linux_backend::wayland
