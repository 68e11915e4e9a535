#pragma once

// D-Bus plumbing of the AT-SPI backend: a private main context on which every
// reply lands, asynchronous calls with per-call timeouts, and waiting for them
// with a deadline. Calls made from one thread at a time.

#include <gio/gio.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Platform/linux/handles/GLibPtr.h"

namespace zoba::platform::linux_backend::atspi {

double monotonicSeconds();

// The outcome of one call: the reply, or why there is none.
struct Reply {
  GVariantPtr value;  // null on failure
  bool timedOut = false;
  bool unknownMethod = false;  // the object has no such method or interface
  explicit operator bool() const { return value != nullptr; }
};

class PeerConnection;

class Bus {
 public:
  Bus();
  ~Bus();  // cancels what is in flight and waits for the callbacks
  Bus(const Bus&) = delete;
  Bus& operator=(const Bus&) = delete;

  GMainContext* context() const { return context_.get(); }
  // How many calls were sent so far, for the benchmark's calls per element.
  std::uint64_t callsSent() const { return sent_; }

  // Sends a method call; `done` runs on the private context when the reply, an
  // error or the timeout comes. `destination` is null on a peer connection.
  // `parameters`, floating or not, is taken over.
  void call(GDBusConnection* connection, const char* destination, const char* path, const char* interface,
            const char* method, GVariant* parameters, const char* replyType, double timeout,
            std::function<void(Reply)> done);
  // The same on a connection of ours (`destination` null on a peer connection).
  void call(PeerConnection& peer, const char* destination, const char* path, const char* interface,
            const char* method, GVariant* parameters, const char* replyType, double timeout,
            std::function<void(Reply)> done);

  // Serves replies until `ready()` holds or `deadline` (monotonic seconds) passes.
  bool waitUntil(const std::function<bool()>& ready, double deadline);

  // A blocking call bounded by `timeout`, for set-up steps.
  Reply callAndWait(GDBusConnection* connection, const char* destination, const char* path,
                    const char* interface, const char* method, GVariant* parameters, const char* replyType,
                    double timeout);

  // Connects to a D-Bus address within `timeout`; null on failure.
  GObjectPtr<GDBusConnection> connect(const std::string& address, bool messageBus, double timeout);
  // A connection of ours served on the private context, to a peer or to a
  // message bus; null on failure.
  std::shared_ptr<PeerConnection> connectPeer(const std::string& address, double timeout,
                                              bool messageBus = false);

 private:
  GMainContextPtr context_;
  GObjectPtr<GCancellable> cancellable_;
  int outstanding_ = 0;
  std::uint64_t sent_ = 0;
  // Abandoned when the bus goes: their calls' callbacks hold what holds them.
  std::vector<std::weak_ptr<PeerConnection>> peers_;
};

// Makes the private context the thread's default while calls are issued, so
// their replies are dispatched there.
class ContextScope {
 public:
  explicit ContextScope(GMainContext* context) : context_(context) {
    g_main_context_push_thread_default(context);
  }
  ~ContextScope() { g_main_context_pop_thread_default(context_); }
  ContextScope(const ContextScope&) = delete;
  ContextScope& operator=(const ContextScope&) = delete;

 private:
  GMainContext* context_;
};

}  // namespace zoba::platform::linux_backend::atspi
