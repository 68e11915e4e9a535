#include "Platform/linux/dbus/SdSessionBus.h"

#include "Platform/linux/dbus/AccessibilityBus.h"

namespace zoba::platform::linux_backend {

SdBusPtr openSessionBus() {
  auto address = sessionBusAddress();
  if (!address) return nullptr;
  sd_bus* raw = nullptr;
  if (sd_bus_new(&raw) < 0) return nullptr;
  SdBusPtr bus(raw);
  // Descriptors travel on the screenshot's calls: offer to pass them.
  if (sd_bus_set_address(bus.get(), address->c_str()) < 0 || sd_bus_set_bus_client(bus.get(), 1) < 0 ||
      sd_bus_negotiate_fds(bus.get(), 1) < 0 || sd_bus_start(bus.get()) < 0)
    return nullptr;
  return bus;
}

SdBusReply callWithTimeout(sd_bus* bus, sd_bus_message* call, std::chrono::milliseconds timeout) {
  SdBusReply reply;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* raw = nullptr;
  const auto usec = static_cast<std::uint64_t>(std::chrono::microseconds(timeout).count());
  if (sd_bus_call(bus, call, usec, &error, &raw) >= 0) {
    reply.message.reset(raw);
  } else {
    reply.errorName = error.name ? error.name : "org.freedesktop.DBus.Error.Failed";
    reply.errorMessage = error.message ? error.message : "";
  }
  sd_bus_error_free(&error);
  return reply;
}

}  // namespace zoba::platform::linux_backend
