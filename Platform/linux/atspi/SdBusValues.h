#pragma once

// Values between GVariant, which the rest of the backend reads, and sd-bus
// messages, which carry them on an application's own connection.

#include <gio/gio.h>
#include <systemd/sd-bus.h>

#include "Platform/linux/handles/GLibPtr.h"

namespace zoba::platform::linux_backend::atspi {

// Appends the members of the tuple `body` to `message`; false when sd-bus refuses one.
bool appendBody(sd_bus_message* message, GVariant* body);

// The whole body of a sealed `message` as a tuple ("()" when it has none); null
// when it cannot be read.
GVariantPtr readBody(sd_bus_message* message);

}  // namespace zoba::platform::linux_backend::atspi
