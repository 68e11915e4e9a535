#include "Platform/linux/dbus/AccessibilityBus.h"

#include <sys/stat.h>

#include <cstdlib>

namespace zoba::platform::linux_backend {

namespace {
constexpr const char* busName = "org.a11y.Bus";
constexpr const char* busPath = "/org/a11y/bus";

int milliseconds(std::chrono::milliseconds timeout) { return static_cast<int>(timeout.count()); }

// Serves `context` until `done()` holds or `limit` milliseconds have passed.
template <typename Done>
void iterateUntil(GMainContext* context, guint limit, Done done) {
  bool over = false;
  GSourcePtr timer(g_timeout_source_new(limit));
  g_source_set_callback(
      timer.get(),
      [](gpointer data) -> gboolean {
        *static_cast<bool*>(data) = true;
        return G_SOURCE_REMOVE;
      },
      &over, nullptr);
  g_source_attach(timer.get(), context);
  while (!done() && !over) g_main_context_iteration(context, TRUE);
}
}  // namespace

std::optional<std::string> sessionBusAddress() {
  if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) return address;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || !*runtime) return std::nullopt;
  std::string path = std::string(runtime) + "/bus";
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) return std::nullopt;
  GCharPtr escaped(g_dbus_address_escape_value(path.c_str()));
  return std::string("unix:path=") + escaped.get();
}

GObjectPtr<GDBusConnection> connectToBus(const std::string& address, std::chrono::milliseconds timeout) {
  // GDBus has no timeout for connecting and authenticating; run the asynchronous
  // form on a private context, so nothing else on this thread runs meanwhile, and
  // cancel it when the time is up.
  struct Attempt {
    GDBusConnection* connection = nullptr;
    bool done = false;
  } attempt;
  GMainContextPtr context(g_main_context_new());
  g_main_context_push_thread_default(context.get());
  GObjectPtr<GCancellable> cancellable(g_cancellable_new());
  g_dbus_connection_new_for_address(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, cancellable.get(),
      [](GObject*, GAsyncResult* result, gpointer data) {
        auto* attempt = static_cast<Attempt*>(data);
        attempt->connection = g_dbus_connection_new_for_address_finish(result, nullptr);
        attempt->done = true;
      },
      &attempt);
  iterateUntil(context.get(), static_cast<guint>(milliseconds(timeout)), [&] { return attempt.done; });
  if (!attempt.done) {
    // Cancelled, the attempt normally reports back at once; if it is stuck past
    // that, it is abandoned with its context, which nobody iterates again, so its
    // callback never runs.
    g_cancellable_cancel(cancellable.get());
    iterateUntil(context.get(), 100, [&] { return attempt.done; });
  }
  g_main_context_pop_thread_default(context.get());
  GObjectPtr<GDBusConnection> connection(attempt.connection);
  if (connection) g_dbus_connection_set_exit_on_close(connection.get(), FALSE);
  return connection;
}

std::optional<std::string> accessibilityBusAddress(GDBusConnection* session,
                                                   std::chrono::milliseconds timeout) {
  GErrorSlot error;
  GVariantPtr reply(g_dbus_connection_call_sync(session, busName, busPath, "org.a11y.Bus", "GetAddress",
                                                nullptr, G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE,
                                                milliseconds(timeout), nullptr, error.out()));
  if (!reply) return std::nullopt;
  const gchar* address = nullptr;
  g_variant_get(reply.get(), "(&s)", &address);
  if (!address || !*address) return std::nullopt;
  return std::string(address);
}

bool setAccessibilityEnabled(GDBusConnection* session, bool enabled, std::chrono::milliseconds timeout) {
  GErrorSlot error;
  GVariantPtr reply(g_dbus_connection_call_sync(
      session, busName, busPath, "org.freedesktop.DBus.Properties", "Set",
      g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(enabled)), nullptr,
      G_DBUS_CALL_FLAGS_NONE, milliseconds(timeout), nullptr, error.out()));
  return reply != nullptr;
}

}  // namespace zoba::platform::linux_backend
