#pragma once

// Unloads our KWin script once this process has gone, however it goes: the helper
// ends with _Exit, by a signal or by a crash, and KWin keeps a script until someone
// unloads it (it would go on calling a bus name nobody owns). A forked child waits
// for the end of a pipe whose write end only this process holds, then runs
// dbus-send to unload the script.

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>

#include "Platform/linux/handles/UniqueFd.h"

namespace zoba::platform::linux_backend::wayland {

class ScriptUnloadGuard {
 public:
  // Absent when dbus-send is not on PATH or the child could not be started.
  static std::optional<ScriptUnloadGuard> start(const std::string& pluginName);

  ScriptUnloadGuard(ScriptUnloadGuard&& other) noexcept
      : writeEnd_(std::move(other.writeEnd_)), pid_(std::exchange(other.pid_, -1)) {}
  ScriptUnloadGuard& operator=(ScriptUnloadGuard&&) = delete;
  // Lets the child unload the script now and waits for it.
  ~ScriptUnloadGuard();

 private:
  ScriptUnloadGuard(UniqueFd writeEnd, pid_t pid) : writeEnd_(std::move(writeEnd)), pid_(pid) {}
  UniqueFd writeEnd_;
  pid_t pid_ = -1;
};

}  // namespace zoba::platform::linux_backend::wayland
