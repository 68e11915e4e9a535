#include "Platform/linux/wayland/kwin/ScriptUnloadGuard.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <sstream>
#include <vector>

extern char** environ;

namespace zoba::platform::linux_backend::wayland {

namespace {

std::optional<std::string> onPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path && *path ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::nullopt;
}

// The child. The parent may have had other threads when it forked, so only
// async-signal-safe calls from here on, and no allocation.
[[noreturn]] void guard(int readEnd, const char* program, char* const* argv) {
  // Out of the helper's process group, so that a signal meant for the group does not
  // take the guard along; no descriptor of the parent kept open, least of all its
  // standard output that the host reads to the end.
  ::setsid();
  ::signal(SIGHUP, SIG_IGN);
  ::signal(SIGINT, SIG_IGN);
  if (readEnd != 3) {
    ::dup2(readEnd, 3);
    readEnd = 3;
  }
  ::close_range(4, ~0u, 0);
  const int null = ::open("/dev/null", O_RDWR);
  for (int fd = 0; fd < 3; ++fd) ::dup2(null, fd);
  if (null > 3) ::close(null);
  char byte;
  while (::read(readEnd, &byte, 1) != 0) {
    if (errno != EINTR) break;
  }
  ::close(readEnd);
  ::execve(program, argv, environ);
  ::_exit(127);
}

}  // namespace

std::optional<ScriptUnloadGuard> ScriptUnloadGuard::start(const std::string& pluginName) {
  auto program = onPath("dbus-send");
  if (!program) return std::nullopt;
  // Everything the child needs, made before the fork.
  std::vector<std::string> arguments = {*program,
                                        "--session",
                                        "--type=method_call",
                                        "--dest=org.kde.KWin",
                                        "/Scripting",
                                        "org.kde.kwin.Scripting.unloadScript",
                                        "string:" + pluginName};
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) < 0) return std::nullopt;
  UniqueFd readEnd(ends[0]), writeEnd(ends[1]);
  const pid_t pid = ::fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) guard(readEnd.get(), argv[0], argv.data());
  return ScriptUnloadGuard(std::move(writeEnd), pid);
}

ScriptUnloadGuard::~ScriptUnloadGuard() {
  if (pid_ < 0) return;
  writeEnd_.reset();
  while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace zoba::platform::linux_backend::wayland
