#include "ZobaCapture/Launcher.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

#include "CDisclaim/zoba_disclaim.h"
#include "Platform/Platform.h"

namespace zoba::Launcher {

namespace {

// Written once before the handlers are installed; read only by them.
std::atomic<pid_t> launchedService{0};
static_assert(std::atomic<pid_t>::is_always_lock_free);

void forward(int signal) { ::kill(launchedService.load(), signal); }

}  // namespace

std::vector<std::string> childArguments(const std::string& executablePath,
                                        const std::vector<std::string>& arguments) {
  std::vector<std::string> child{executablePath};
  if (!arguments.empty()) child.insert(child.end(), arguments.begin() + 1, arguments.end());
  child.emplace_back("--service");
  return child;
}

std::int32_t runDisclaimed(const std::vector<std::string>& arguments) {
  auto path = platform::current().process->ownExecutablePath();
  if (!path) return 70;

  auto child = childArguments(*path, arguments);
  std::vector<char*> argv;
  for (auto& argument : child) argv.push_back(argument.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  int code = zoba_spawn_disclaimed(path->c_str(), argv.data(), &pid);
  if (code != 0) {
    std::string line = "zoba-capture: disclaimed launch failed (" + std::to_string(code) + ")\n";
    [[maybe_unused]] auto written = ::write(STDERR_FILENO, line.data(), line.size());
    return 71;
  }

  launchedService.store(pid);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) std::signal(signal, forward);

  int status = 0;
  while (::waitpid(pid, &status, 0) == -1 && errno == EINTR) {
  }
  if ((status & 0x7F) != 0) return (status & 0x7F) | 0x80;
  return (status >> 8) & 0xFF;
}

}  // namespace zoba::Launcher
