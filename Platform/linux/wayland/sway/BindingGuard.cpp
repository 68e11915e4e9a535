#include "Platform/linux/wayland/sway/BindingGuard.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "Platform/linux/wayland/sway/SwayIpc.h"

namespace zoba::platform::linux_backend::wayland {

namespace {

// Each record on the channel is a kind byte, then for `run` a whole i3-IPC
// RUN_COMMAND message. A seqpacket socket keeps records whole, and unlike a pipe
// a write to a vanished child fails instead of raising SIGPIPE.
constexpr char run = 'R';
constexpr char nothing = 'N';
constexpr std::size_t headerSize = 14;  // "i3-ipc", length, type
constexpr std::size_t maxRecord = 1 + headerSize + BindingGuard::maxCommands;

bool readAll(int fd, char* into, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::recv(fd, into + done, size - done, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

bool sendAll(int fd, const char* from, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t sent = ::send(fd, from + done, size - done, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    done += static_cast<std::size_t>(sent);
  }
  return true;
}

// The child. The parent may have had other threads when it forked, so only
// async-signal-safe calls from here on, and no allocation.
[[noreturn]] void guard(int channel, const sockaddr_un& address) {
  // Out of the helper's process group, so that a signal meant for the group (a
  // terminal's Ctrl-C) does not take the guard down with it; and no descriptor of the
  // parent kept open, least of all its standard output that the host reads to the end.
  ::setsid();
  if (channel > 0) ::close_range(0, static_cast<unsigned>(channel) - 1, 0);
  ::close_range(static_cast<unsigned>(channel) + 1, ~0u, 0);

  char last[maxRecord];
  char next[maxRecord];
  std::size_t lastSize = 0;
  while (true) {
    const ssize_t got = ::recv(channel, next, sizeof(next), 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // the helper has gone
    std::memcpy(last, next, static_cast<std::size_t>(got));
    lastSize = static_cast<std::size_t>(got);
  }
  if (lastSize <= 1 || last[0] != run) ::_exit(0);
  const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket < 0) ::_exit(1);
  // A compositor that hangs must not keep the guard forever.
  const timeval timeout{2, 0};
  ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
  ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) ::_exit(1);
  if (!sendAll(socket, last + 1, lastSize - 1)) ::_exit(1);
  // The reply's header: sway has run the commands by the time it answers.
  char header[headerSize];
  ::_exit(readAll(socket, header, sizeof(header)) ? 0 : 1);
}

}  // namespace

std::optional<BindingGuard> BindingGuard::start(const std::string& socketPath) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.empty() || socketPath.size() >= sizeof(address.sun_path)) return std::nullopt;
  std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return std::nullopt;
  UniqueFd ours(ends[0]);
  UniqueFd theirs(ends[1]);
  const pid_t pid = ::fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) guard(theirs.get(), address);
  // Only the child may hold its end: its end of file is our end.
  theirs.reset();
  return BindingGuard(std::move(ours), pid);
}

bool BindingGuard::setCleanup(std::string_view commands) {
  if (!channel_ || commands.size() > maxCommands) return false;
  std::string record(1, commands.empty() ? nothing : run);
  if (!commands.empty()) {
    const auto length = static_cast<std::uint32_t>(commands.size());
    const std::uint32_t type = SwayMessage::runCommand;
    record.append("i3-ipc");
    record.append(reinterpret_cast<const char*>(&length), sizeof(length));
    record.append(reinterpret_cast<const char*>(&type), sizeof(type));
    record.append(commands);
  }
  ssize_t sent;
  do {
    sent = ::send(channel_.get(), record.data(), record.size(), MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(record.size());
}

BindingGuard::~BindingGuard() {
  if (pid_ <= 0) return;
  channel_.reset();
  while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace zoba::platform::linux_backend::wayland
