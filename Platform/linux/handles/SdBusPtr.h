#pragma once

// Owning handles for sd-bus objects.

#include <systemd/sd-bus.h>

#include <memory>

namespace zoba::platform::linux_backend {

struct SdBusClose {
  // Closing drops the calls in flight without answering them.
  void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
};
using SdBusPtr = std::unique_ptr<sd_bus, SdBusClose>;

struct SdBusMessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using SdBusMessagePtr = std::unique_ptr<sd_bus_message, SdBusMessageUnref>;

struct SdBusSlotUnref {
  void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using SdBusSlotPtr = std::unique_ptr<sd_bus_slot, SdBusSlotUnref>;

}  // namespace zoba::platform::linux_backend
