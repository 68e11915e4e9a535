#include "Platform/linux/wayland/kwin/ActiveWindowFeed.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <functional>
#include <string>

#include "Platform/linux/dbus/SdSessionBus.h"
#include "Platform/linux/wayland/kwin/ActiveWindowScript.h"
#include "Platform/linux/wayland/kwin/ScriptUnloadGuard.h"

namespace zoba::platform::linux_backend::wayland {

namespace {

// Handles the script's calls at the feed's object path.
int onMessage(sd_bus_message* message, void* data, sd_bus_error*) {
  if (!sd_bus_message_is_method_call(message, activeWindowInterface, activeWindowMethod)) return 0;
  const char* text = nullptr;
  if (sd_bus_message_read(message, "s", &text) >= 0 && text) {
    if (auto report = parseActiveWindowMessage(text)) {
      auto* received = static_cast<std::function<void(ActiveWindowFeed::Report)>*>(data);
      (*received)(std::move(*report));
    }
  }
  sd_bus_reply_method_return(message, nullptr);
  return 1;
}

}  // namespace

std::shared_ptr<ActiveWindowFeed> ActiveWindowFeed::shared() {
  static std::mutex mutex;
  static std::weak_ptr<ActiveWindowFeed> current;
  std::lock_guard lock(mutex);
  auto feed = current.lock();
  if (!feed) {
    feed = std::make_shared<ActiveWindowFeed>();
    current = feed;
  }
  return feed;
}

ActiveWindowFeed::ActiveWindowFeed()
    : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), thread_([this] { run(); }) {}

ActiveWindowFeed::~ActiveWindowFeed() {
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
  }
  const std::uint64_t one = 1;
  if (wake_ && ::write(wake_.get(), &one, sizeof one) < 0) {
    // Cannot fail on an eventfd far from its limit; the thread would still see
    // `finished_` once a bus message woke it.
  }
  thread_.join();
}

std::optional<ActiveWindowFeed::Report> ActiveWindowFeed::current(std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, wait, [this] { return report_.has_value() || finished_; });
  return report_;
}

void ActiveWindowFeed::received(Report report) {
  {
    std::lock_guard lock(mutex_);
    report_ = std::move(report);
  }
  changed_.notify_all();
}

void ActiveWindowFeed::run() {
  auto giveUp = [this] {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    changed_.notify_all();
  };
  SdBusPtr bus = openSessionBus();
  const char* unique = nullptr;
  if (!bus || !wake_ || sd_bus_get_unique_name(bus.get(), &unique) < 0) return giveUp();
  std::function<void(Report)> onReport = [this](Report report) { received(std::move(report)); };
  sd_bus_slot* rawSlot = nullptr;
  if (sd_bus_add_object(bus.get(), &rawSlot, activeWindowPath, onMessage, &onReport) < 0) return giveUp();
  SdBusSlotPtr slot(rawSlot);
  // One script per process: its name carries the pid.
  const std::string pluginName = "zoba-capture-active-window-" + std::to_string(::getpid());
  // Started first, so that no way of ending leaves the script behind.
  auto guard = ScriptUnloadGuard::start(pluginName);
  auto script = LoadedScript::load(bus.get(), pluginName, activeWindowScript(unique));
  if (!script) return giveUp();

  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (finished_) break;
      // The first report says KWin has read the script's file.
      if (report_) script->removeFile();
    }
    int progress = sd_bus_process(bus.get(), nullptr);
    if (progress < 0) break;
    if (progress > 0) continue;
    pollfd fds[2] = {{sd_bus_get_fd(bus.get()), static_cast<short>(sd_bus_get_events(bus.get())), 0},
                     {wake_.get(), POLLIN, 0}};
    std::uint64_t timeout = 0;
    int ms = -1;
    if (sd_bus_get_timeout(bus.get(), &timeout) > 0 && timeout != UINT64_MAX) {
      timespec clock{};
      ::clock_gettime(CLOCK_MONOTONIC, &clock);
      const auto now = static_cast<std::uint64_t>(clock.tv_sec) * 1000000u + clock.tv_nsec / 1000;
      ms = timeout > now ? static_cast<int>((timeout - now + 999) / 1000) : 0;
    }
    if (::poll(fds, 2, ms) < 0 && errno != EINTR) break;
    if (fds[1].revents & POLLIN) break;
  }
  // Unloaded on this thread, over the bus it was loaded with.
  script.reset();
  slot.reset();
  giveUp();
}

}  // namespace zoba::platform::linux_backend::wayland
