#pragma once

// Notifications of one application from the AT-SPI events it sends on the bus.

#include <gio/gio.h>

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "Platform/Accessibility.h"

namespace zoba::platform::linux_backend::atspi {

// An observer of the application that owns `busName` on `bus`. Its handler runs
// on the thread-default main context of the caller (the main loop).
std::unique_ptr<AXObserver> makeObserver(GDBusConnection* bus, std::string busName,
                                         AXNotificationHandler handler);

// The AT-SPI events that stand for a notification; none for a notification
// AT-SPI has no event for.
struct EventName {
  const char* signalInterface;  // the D-Bus interface of the signal
  const char* member;
  const char* detail;    // first argument of the signal, null for any
  const char* registry;  // the name the registry is told about
};
std::span<const EventName> eventsFor(std::string_view notification);

}  // namespace zoba::platform::linux_backend::atspi
