#pragma once

// Reaching the session bus and the AT-SPI accessibility bus, each step bounded in
// time: a bus that does not answer makes the step fail, never hang.

#include <chrono>
#include <optional>
#include <string>

#include "Platform/linux/handles/GLibPtr.h"

namespace zoba::platform::linux_backend {

// DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus when that socket exists.
// Never starts a bus (no autolaunch).
std::optional<std::string> sessionBusAddress();

// A private message-bus connection to `address` that does not exit the process when
// the bus goes away. Null when the address cannot be reached within `timeout`.
GObjectPtr<GDBusConnection> connectToBus(const std::string& address, std::chrono::milliseconds timeout);

// org.a11y.Bus.GetAddress: where the accessibility bus listens.
std::optional<std::string> accessibilityBusAddress(GDBusConnection* session,
                                                   std::chrono::milliseconds timeout);

// Sets org.a11y.Status IsEnabled, which tells toolkits to expose their accessibility trees.
bool setAccessibilityEnabled(GDBusConnection* session, bool enabled, std::chrono::milliseconds timeout);

}  // namespace zoba::platform::linux_backend
