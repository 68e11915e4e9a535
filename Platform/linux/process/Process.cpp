// Process information from /proc.
#include <glib.h>
#include <malloc.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "Platform/linux/Backends.h"
#include "Platform/linux/handles/GLibPtr.h"

namespace zoba::platform::linux_backend {

namespace {

std::optional<std::string> readLink(const std::string& path) {
  std::string buffer(4096, '\0');
  ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
  if (length < 1) return std::nullopt;
  GCharPtr valid(g_utf8_make_valid(buffer.data(), length));
  return std::string(valid.get());
}

class LinuxProcess final : public Process {
 public:
  std::optional<std::string> ownExecutablePath() override { return readLink("/proc/self/exe"); }
  // glibc keeps freed blocks of every thread's arena mapped until asked; a capture
  // frees several megabytes of pixels, PNG and Base64.
  void releaseFreedMemory() override { malloc_trim(0); }

  std::optional<std::string> executablePath(std::int32_t pid) override {
    if (pid <= 0) return std::nullopt;
    return readLink("/proc/" + std::to_string(pid) + "/exe");
  }

  std::optional<ProcessInfo> info(std::int32_t pid) override {
    if (pid <= 0) return std::nullopt;
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(file, stat)) return std::nullopt;
    // "pid (comm) state ppid ...": comm may hold blanks and parentheses, so read
    // after the last closing one.
    auto close = stat.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream rest(stat.substr(close + 1));
    char state = 0;
    std::int32_t parent = 0;
    if (!(rest >> state >> parent)) return std::nullopt;
    return ProcessInfo{pid, parent};
  }
};

}  // namespace

std::unique_ptr<Process> makeProcess() { return std::make_unique<LinuxProcess>(); }

}  // namespace zoba::platform::linux_backend
