#include "Platform/linux/atspi/AtspiBus.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "Platform/linux/atspi/AtspiPeer.h"

namespace zoba::platform::linux_backend::atspi {

double monotonicSeconds() { return static_cast<double>(g_get_monotonic_time()) / 1e6; }

namespace {

struct PendingCall {
  int* outstanding;
  std::function<void(Reply)> done;
};

int milliseconds(double seconds) { return std::max(1, static_cast<int>(seconds * 1000.0 + 0.5)); }

void replied(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<PendingCall> pending(static_cast<PendingCall*>(data));
  --*pending->outstanding;
  GErrorSlot error;
  Reply reply;
  reply.value.reset(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, error.out()));
  if (error && g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED)) return;  // shutting down
  reply.timedOut = error && g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_TIMED_OUT);
  reply.unknownMethod = error && (g_error_matches(error.get(), G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD) ||
                                  g_error_matches(error.get(), G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_INTERFACE));
  pending->done(std::move(reply));
}

struct PendingConnection {
  bool finished = false;
  GObjectPtr<GDBusConnection> connection;
};

void connected(GObject*, GAsyncResult* result, gpointer data) {
  auto* pending = static_cast<std::shared_ptr<PendingConnection>*>(data);
  GErrorSlot error;
  (*pending)->connection.reset(g_dbus_connection_new_for_address_finish(result, error.out()));
  (*pending)->finished = true;
  std::unique_ptr<std::shared_ptr<PendingConnection>> owned(pending);
}

gboolean wake(gpointer) { return G_SOURCE_CONTINUE; }

}  // namespace

Bus::Bus() : context_(g_main_context_new()), cancellable_(g_cancellable_new()) {}

Bus::~Bus() {
  for (const auto& peer : peers_) {
    if (auto live = peer.lock()) live->abandon();
  }
  g_cancellable_cancel(cancellable_.get());
  while (outstanding_ > 0) g_main_context_iteration(context_.get(), TRUE);
  while (g_main_context_iteration(context_.get(), FALSE)) {
  }
}

void Bus::call(GDBusConnection* connection, const char* destination, const char* path, const char* interface,
               const char* method, GVariant* parameters, const char* replyType, double timeout,
               std::function<void(Reply)> done) {
  GVariantPtr owned(parameters ? g_variant_take_ref(parameters) : nullptr);
  ContextScope scope(context_.get());
  ++outstanding_;
  ++sent_;
  // Owned by the callback from here on.
  auto* pending = std::make_unique<PendingCall>(&outstanding_, std::move(done)).release();
  g_dbus_connection_call(connection, destination, path, interface, method, owned.get(),
                         replyType ? G_VARIANT_TYPE(replyType) : nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
                         milliseconds(timeout), cancellable_.get(), replied, pending);
}

void Bus::call(PeerConnection& peer, const char* destination, const char* path, const char* interface,
               const char* method, GVariant* parameters, const char* replyType, double timeout,
               std::function<void(Reply)> done) {
  GVariantPtr owned(parameters ? g_variant_take_ref(parameters) : nullptr);
  ++sent_;
  peer.call(destination, path, interface, method, owned.get(), replyType, timeout, std::move(done));
}

std::shared_ptr<PeerConnection> Bus::connectPeer(const std::string& address, double timeout,
                                                 bool messageBus) {
  auto peer = PeerConnection::open(address, context_.get(), timeout, messageBus);
  if (!peer) return nullptr;
  std::erase_if(peers_, [](const auto& known) { return known.expired(); });
  peers_.push_back(peer);
  return peer;
}

bool Bus::waitUntil(const std::function<bool()>& ready, double deadline) {
  if (ready()) return true;
  // A timer keeps the wait from outliving its deadline when nothing else is due.
  const double remaining = std::max(0.0, deadline - monotonicSeconds());
  GSourcePtr timer(g_timeout_source_new(static_cast<guint>(remaining * 1000.0) + 1));
  g_source_set_callback(timer.get(), wake, nullptr, nullptr);
  g_source_attach(timer.get(), context_.get());
  while (!ready()) {
    if (monotonicSeconds() >= deadline) return false;
    g_main_context_iteration(context_.get(), TRUE);
  }
  return true;
}

Reply Bus::callAndWait(GDBusConnection* connection, const char* destination, const char* path,
                       const char* interface, const char* method, GVariant* parameters, const char* replyType,
                       double timeout) {
  auto result = std::make_shared<std::optional<Reply>>();
  call(connection, destination, path, interface, method, parameters, replyType, timeout,
       [result](Reply reply) { *result = std::move(reply); });
  waitUntil([&] { return result->has_value(); }, monotonicSeconds() + timeout + 0.5);
  if (!result->has_value()) return Reply{};
  return std::move(**result);
}

GObjectPtr<GDBusConnection> Bus::connect(const std::string& address, bool messageBus, double timeout) {
  auto pending = std::make_shared<PendingConnection>();
  GObjectPtr<GCancellable> cancel(g_cancellable_new());
  {
    ContextScope scope(context_.get());
    auto flags = static_cast<GDBusConnectionFlags>(
        G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
        (messageBus ? G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION : G_DBUS_CONNECTION_FLAGS_NONE));
    g_dbus_connection_new_for_address(
        address.c_str(), flags, nullptr, cancel.get(), connected,
        std::make_unique<std::shared_ptr<PendingConnection>>(pending).release());
  }
  if (!waitUntil([&] { return pending->finished; }, monotonicSeconds() + timeout)) {
    g_cancellable_cancel(cancel.get());
    waitUntil([&] { return pending->finished; }, monotonicSeconds() + 1.0);
    return nullptr;
  }
  if (pending->connection) g_dbus_connection_set_exit_on_close(pending->connection.get(), FALSE);
  return std::move(pending->connection);
}

}  // namespace zoba::platform::linux_backend::atspi
