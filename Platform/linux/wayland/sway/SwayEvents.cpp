// The chord on sway: the modifier pairs' keys are bound over the IPC while a monitor
// lives (see ChordBindings.h for what that costs the focused window), and the
// `binding` events of a second connection, read on the main loop, become flags words.

#include <glib-unix.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "Platform/linux/Backends.h"
#include "Platform/linux/handles/GLibPtr.h"
#include "Platform/linux/wayland/sway/BindingGuard.h"
#include "Platform/linux/wayland/sway/ChordBindings.h"
#include "Platform/linux/wayland/sway/SwayIpc.h"

namespace zoba::platform::linux_backend {

namespace {

using namespace std::chrono_literals;
using wayland::BindingGuard;
using wayland::ChordBindings;
using wayland::SwayIpc;
namespace SwayMessage = wayland::SwayMessage;

bool successful(const nlohmann::json& result) {
  if (!result.is_object()) return false;
  const auto success = result.find("success");
  return success != result.end() && success->is_boolean() && success->get<bool>();
}

// Whether every command of a RUN_COMMAND reply succeeded.
bool succeeded(const std::optional<std::string>& reply) {
  if (!reply) return false;
  const auto results = nlohmann::json::parse(*reply, nullptr, false);
  if (!results.is_array() || results.empty()) return false;
  for (const auto& result : results) {
    if (!successful(result)) return false;
  }
  return true;
}

class BindingMonitor final : public EventMonitor {
 public:
  BindingMonitor(SwayIpc commands, SwayIpc events, std::shared_ptr<BindingGuard> guard,
                 std::function<void(std::uint64_t)> handler)
      : commands_(std::move(commands)),
        events_(std::move(events)),
        guard_(std::move(guard)),
        bindings_("zoba-chord-" + std::to_string(::getpid())),
        handler_(std::move(handler)),
        alive_(std::make_shared<bool>(true)) {
    source_.reset(
        g_unix_fd_source_new(events_->fd(), static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR)));
    g_source_set_priority(source_.get(), G_PRIORITY_HIGH);
    GUnixFDSourceFunc callback = &BindingMonitor::readable;
    g_source_set_callback(
        source_.get(), reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(callback)), this, nullptr);
    g_source_attach(source_.get(), nullptr);
    watchKeys(ChordBindings::allPairs());
  }

  ~BindingMonitor() override {
    bind(0);
    if (guard_) guard_->setCleanup({});
  }

  void watchKeys(std::uint64_t deviceBits) override { bind(ChordBindings::pairsOf(deviceBits)); }

 private:
  void bind(std::uint64_t pairs) {
    if (pairs == bound_) return;
    // Bindings of a helper that died without its guard are overwritten by ours; sway
    // answers success and logs that it overwrote them.
    if (bound_) commands_.request(SwayMessage::runCommand, bindings_.unbindCommands(bound_));
    bound_ = 0;
    if (pairs) {
      // Claimed before they are bound: a crash in between still leaves nothing behind.
      if (guard_) guard_->setCleanup(bindings_.unbindCommands(pairs));
      if (succeeded(commands_.request(SwayMessage::runCommand, bindings_.bindCommands(pairs)))) {
        bound_ = pairs;
      } else {
        std::fputs("zoba-capture: sway refused the chord's key bindings\n", stderr);
        commands_.request(SwayMessage::runCommand, bindings_.unbindCommands(pairs));
      }
    }
    if (guard_ && !bound_) guard_->setCleanup({});
  }

  // A GUnixFDSourceFunc.
  static gboolean readable(gint, GIOCondition, gpointer data) {
    auto& self = *static_cast<BindingMonitor*>(data);
    // A whole message is on its way once its first byte is.
    auto message = self.events_->read(200ms);
    if (!message) {
      std::fputs("zoba-capture: sway's event socket closed; the chord is off\n", stderr);
      self.events_.reset();
      self.source_.reset();  // destroys this source: it is not called again
      return G_SOURCE_REMOVE;
    }
    if (message->type != SwayMessage::bindingEvent) return G_SOURCE_CONTINUE;
    const auto chord = self.bindings_.chordOf(message->payload);
    if (!chord) return G_SOURCE_CONTINUE;
    // sway tells only that the second key went down. Both keys down, then both up,
    // make one chord of each event: the detector fires and re-arms. The handler may
    // drop this monitor; keep what the calls need.
    auto handler = self.handler_;
    std::weak_ptr<bool> alive = self.alive_;
    handler(*chord);
    if (alive.expired()) return G_SOURCE_REMOVE;
    handler(0);
    return alive.expired() ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
  }

  SwayIpc commands_;
  std::optional<SwayIpc> events_;
  std::shared_ptr<BindingGuard> guard_;
  ChordBindings bindings_;
  std::function<void(std::uint64_t)> handler_;
  std::shared_ptr<bool> alive_;
  GSourcePtr source_;
  std::uint64_t bound_ = 0;
};

class SwayEvents final : public Events {
 public:
  explicit SwayEvents(std::string socketPath) : socketPath_(std::move(socketPath)) {}

  std::unique_ptr<EventMonitor> addGlobalFlagsChangedMonitor(
      std::function<void(std::uint64_t modifierFlags)> handler) override {
    auto commands = SwayIpc::connect(socketPath_);
    auto events = SwayIpc::connect(socketPath_);
    if (!commands || !events) return nullptr;
    if (!succeededSubscription(events->request(SwayMessage::subscribe, R"(["binding"])"))) return nullptr;
    // One guard for the process's monitors, started with the first.
    if (!guard_) {
      if (auto guard = BindingGuard::start(socketPath_))
        guard_ = std::make_shared<BindingGuard>(std::move(*guard));
    }
    return std::make_unique<BindingMonitor>(std::move(*commands), std::move(*events), guard_,
                                            std::move(handler));
  }

 private:
  static bool succeededSubscription(const std::optional<std::string>& reply) {
    return reply && successful(nlohmann::json::parse(*reply, nullptr, false));
  }

  std::string socketPath_;
  std::shared_ptr<BindingGuard> guard_;
};

}  // namespace

std::unique_ptr<Events> makeSwayEvents() {
  auto socket = wayland::SwayIpc::socketFromEnvironment();
  if (!socket || !wayland::SwayIpc::connect(*socket)) return nullptr;
  return std::make_unique<SwayEvents>(std::move(*socket));
}

}  // namespace zoba::platform::linux_backend
