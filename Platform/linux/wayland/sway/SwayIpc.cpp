#include "Platform/linux/wayland/sway/SwayIpc.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace zoba::platform::linux_backend::wayland {

namespace {

constexpr std::string_view magic = "i3-ipc";
constexpr std::size_t headerSize = magic.size() + 8;
// A tree of thousands of windows stays far below this; anything larger is not sway.
constexpr std::uint32_t maxPayload = 64u << 20;

using Clock = std::chrono::steady_clock;

// Reads exactly `size` bytes before `deadline`.
bool readFully(int fd, char* into, std::size_t size, Clock::time_point deadline) {
  std::size_t done = 0;
  while (done < size) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd ready{fd, POLLIN, 0};
    const int polled = ::poll(&ready, 1, static_cast<int>(left));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return false;
    const ssize_t got = ::recv(fd, into + done, size - done, 0);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace

std::optional<std::string> SwayIpc::socketFromEnvironment() {
  for (const char* name : {"SWAYSOCK", "I3SOCK"}) {
    const char* value = std::getenv(name);
    if (value && *value) return std::string(value);
  }
  return std::nullopt;
}

std::optional<SwayIpc> SwayIpc::connect(std::string socketPath) {
  if (socketPath.empty()) {
    auto fromEnvironment = socketFromEnvironment();
    if (!fromEnvironment) return std::nullopt;
    socketPath = std::move(*fromEnvironment);
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof(address.sun_path)) return std::nullopt;
  std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) return std::nullopt;
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
    return std::nullopt;
  return SwayIpc(std::move(fd));
}

bool SwayIpc::send(std::uint32_t type, std::string_view payload) {
  std::string message(magic);
  const auto length = static_cast<std::uint32_t>(payload.size());
  message.append(reinterpret_cast<const char*>(&length), sizeof(length));
  message.append(reinterpret_cast<const char*>(&type), sizeof(type));
  message.append(payload);
  std::size_t done = 0;
  while (done < message.size()) {
    const ssize_t sent = ::send(fd_.get(), message.data() + done, message.size() - done, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    done += static_cast<std::size_t>(sent);
  }
  return true;
}

std::optional<SwayReply> SwayIpc::read(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  char header[headerSize];
  if (!readFully(fd_.get(), header, headerSize, deadline)) return std::nullopt;
  if (std::string_view(header, magic.size()) != magic) return std::nullopt;
  std::uint32_t length = 0;
  SwayReply reply;
  std::memcpy(&length, header + magic.size(), sizeof(length));
  std::memcpy(&reply.type, header + magic.size() + 4, sizeof(reply.type));
  if (length > maxPayload) return std::nullopt;
  reply.payload.resize(length);
  if (!readFully(fd_.get(), reply.payload.data(), length, deadline)) return std::nullopt;
  return reply;
}

std::optional<std::string> SwayIpc::request(std::uint32_t type, std::string_view payload,
                                            std::chrono::milliseconds timeout) {
  if (!send(type, payload)) return std::nullopt;
  const auto deadline = Clock::now() + timeout;
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return std::nullopt;
    auto message = read(left);
    if (!message) return std::nullopt;
    if (message->type == type) return std::move(message->payload);
  }
}

}  // namespace zoba::platform::linux_backend::wayland
