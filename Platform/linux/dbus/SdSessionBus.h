#pragma once

// The session bus over sd-bus, with calls bounded in time.

#include <chrono>
#include <optional>
#include <string>

#include "Platform/linux/handles/SdBusPtr.h"

namespace zoba::platform::linux_backend {

// A private connection to the session bus (sessionBusAddress()); null when none answers.
SdBusPtr openSessionBus();

// The outcome of a method call: the reply, or the error's name and message.
struct SdBusReply {
  SdBusMessagePtr message;  // null on error
  std::string errorName;
  std::string errorMessage;
  explicit operator bool() const { return message != nullptr; }
};

// Sends `call` and waits up to `timeout` for its reply.
SdBusReply callWithTimeout(sd_bus* bus, sd_bus_message* call, std::chrono::milliseconds timeout);

}  // namespace zoba::platform::linux_backend
