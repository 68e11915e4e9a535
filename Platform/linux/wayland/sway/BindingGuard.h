#pragma once

// Takes our key bindings out of sway once this process has gone, however it goes: the
// helper ends with _Exit on "shutdown", by a signal when the host kills it, or by a
// crash, and sway keeps bindings until someone removes them. A forked child waits on
// a socket whose other end only this process holds; when that end closes, it runs the
// last commands it was given over sway's socket and exits.

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "Platform/linux/handles/UniqueFd.h"

namespace zoba::platform::linux_backend::wayland {

class BindingGuard {
 public:
  // Absent when the socket path does not fit or the child could not be started.
  static std::optional<BindingGuard> start(const std::string& socketPath);

  // The sway commands to run after this process has gone (they replace the last ones);
  // empty for none. False when they are too long or the child has gone.
  bool setCleanup(std::string_view commands);

  BindingGuard(BindingGuard&& other) noexcept
      : channel_(std::move(other.channel_)), pid_(std::exchange(other.pid_, -1)) {}
  BindingGuard& operator=(BindingGuard&&) = delete;
  // Lets the child run the last commands now and waits for it.
  ~BindingGuard();

  pid_t pid() const { return pid_; }

  // The longest command list a guard takes.
  static constexpr std::size_t maxCommands = 4000;

 private:
  BindingGuard(UniqueFd channel, pid_t pid) : channel_(std::move(channel)), pid_(pid) {}
  UniqueFd channel_;
  pid_t pid_ = -1;
};

}  // namespace zoba::platform::linux_backend::wayland
