#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zoba::platform {

// The part of a process's information record the caller check reads.
struct ProcessInfo {
  std::int32_t pid = 0;
  std::int32_t parentPid = 0;
};

class Process {
 public:
  virtual ~Process() = default;
  // The running executable's own path (the stand-in for the bundle's executable path).
  virtual std::optional<std::string> ownExecutablePath() = 0;
  // The executable of any process; invalid UTF-8 replaced by U+FFFD.
  virtual std::optional<std::string> executablePath(std::int32_t pid) = 0;
  virtual std::optional<ProcessInfo> info(std::int32_t pid) = 0;
  // Hands memory the process has freed back to the system, so that a helper that
  // idles for days between captures holds no more than it needs.
  virtual void releaseFreedMemory() {}
};

}  // namespace zoba::platform
