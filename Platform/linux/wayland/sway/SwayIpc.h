#pragma once

// A client of sway's IPC socket ($SWAYSOCK): the i3 IPC framing, "i3-ipc", the
// payload's length and the message type in native byte order, then JSON. After a
// failed or timed-out read the stream is out of step: connect again.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/linux/handles/UniqueFd.h"

namespace zoba::platform::linux_backend::wayland {

namespace SwayMessage {
inline constexpr std::uint32_t runCommand = 0;
inline constexpr std::uint32_t getWorkspaces = 1;
inline constexpr std::uint32_t subscribe = 2;
inline constexpr std::uint32_t getOutputs = 3;
inline constexpr std::uint32_t getTree = 4;
inline constexpr std::uint32_t getVersion = 7;
inline constexpr std::uint32_t getBindingState = 12;
// Events carry the high bit.
inline constexpr std::uint32_t eventBit = 0x80000000u;
inline constexpr std::uint32_t windowEvent = eventBit | 3;
inline constexpr std::uint32_t bindingEvent = eventBit | 5;
inline constexpr std::uint32_t shutdownEvent = eventBit | 6;
}  // namespace SwayMessage

struct SwayReply {
  std::uint32_t type = 0;
  std::string payload;
};

class SwayIpc {
 public:
  // Connects to `socketPath`, or to $SWAYSOCK when empty; absent when there is no
  // socket or nothing listens on it.
  static std::optional<SwayIpc> connect(std::string socketPath = {});
  // The socket sway names in its environment, if any.
  static std::optional<std::string> socketFromEnvironment();

  // Sends one message and reads the reply of the same type, skipping events that
  // come first; absent when the socket failed or nothing came within `timeout`.
  std::optional<std::string> request(std::uint32_t type, std::string_view payload,
                                     std::chrono::milliseconds timeout = std::chrono::milliseconds(1000));
  bool send(std::uint32_t type, std::string_view payload);
  // The next message (a reply or an event); absent on a broken socket or after
  // `timeout` without a whole message.
  std::optional<SwayReply> read(std::chrono::milliseconds timeout);

  int fd() const { return fd_.get(); }

 private:
  explicit SwayIpc(UniqueFd fd) : fd_(std::move(fd)) {}
  UniqueFd fd_;
};

}  // namespace zoba::platform::linux_backend::wayland
