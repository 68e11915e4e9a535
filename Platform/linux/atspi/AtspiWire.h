#pragma once

// The D-Bus wire format for the calls the backend sends on a peer connection and
// the replies it reads there. GDBusMessage builds every header field and every
// value as a GVariant and looks up its type info under a global lock; most of a
// call's cost was that. Here the header is written and read in place, and only a
// reply's body becomes a GVariant, for the code that reads it.

#include <gio/gio.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "Platform/linux/GLibPtr.h"

namespace zoba::platform::linux_backend::atspi::wire {

// Appends a method call to `out`. `body` is a tuple or null. False (and `out` as
// it was) when the body holds a type the wire has no place for (maybe, handle).
bool appendMethodCall(std::string& out, std::uint32_t serial, const char* path, const char* interface,
                      const char* method, GVariant* body);

// The size of the message that starts `data` once `available` bytes hold its
// fixed header (16 bytes): 0 while fewer are there, absent when it is no message.
std::optional<std::size_t> messageSize(const char* data, std::size_t available);

struct Incoming {
  GDBusMessageType type = G_DBUS_MESSAGE_TYPE_INVALID;
  std::optional<std::uint32_t> replySerial;
  std::string errorName;
  GVariantPtr body;  // a tuple, "()" for a message without one
};

// Reads one whole message of `size` bytes; absent when it is malformed.
std::optional<Incoming> parseMessage(const char* data, std::size_t size);

}  // namespace zoba::platform::linux_backend::atspi::wire
