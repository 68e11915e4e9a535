#include "tests/support/ChildProcess.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <thread>
#include <utility>

extern char** environ;

namespace zoba::testing {

namespace {

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

std::vector<std::string> environmentFor(const ChildEnvironment& environment) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry; ++entry) {
    std::string_view text(*entry);
    std::string name(text.substr(0, text.find('=')));
    bool dropped =
        std::find(environment.unset.begin(), environment.unset.end(), name) != environment.unset.end() ||
        std::any_of(environment.set.begin(), environment.set.end(),
                    [&](const auto& pair) { return pair.first == name; });
    if (!dropped) result.emplace_back(text);
  }
  for (const auto& [name, value] : environment.set) result.push_back(name + "=" + value);
  return result;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (auto& string : strings) result.push_back(string.data());
  result.push_back(nullptr);
  return result;
}

int statusOf(int raw) { return WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : WEXITSTATUS(raw); }

}  // namespace

ChildProcess::ChildProcess(const std::string& path, const std::vector<std::string>& arguments,
                           const ChildEnvironment& environment) {
  std::signal(SIGPIPE, SIG_IGN);
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) != 0) return;
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]), ::close(in[1]);
    return;
  }
  if (::pipe2(err, O_CLOEXEC) != 0) {
    ::close(in[0]), ::close(in[1]), ::close(out[0]), ::close(out[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);

  std::vector<std::string> argv{path};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  auto envp = environmentFor(environment);
  auto argvPointers = pointers(argv);
  auto envpPointers = pointers(envp);
  pid_t pid = -1;
  if (::posix_spawn(&pid, path.c_str(), &actions, nullptr, argvPointers.data(), envpPointers.data()) == 0) {
    pid_ = pid;
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]), ::close(out[1]), ::close(err[1]);
  stdin_ = in[1];
  stdout_.fd = out[0];
  stderr_.fd = err[0];
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !status_) {
    ::kill(pid_, SIGKILL);
    int raw = 0;
    while (::waitpid(pid_, &raw, 0) == -1 && errno == EINTR) {
    }
  }
  closeFd(stdin_);
  closeFd(stdout_.fd);
  closeFd(stderr_.fd);
}

bool ChildProcess::write(std::string_view bytes) {
  while (!bytes.empty()) {
    if (stdin_ < 0) return false;
    ssize_t n = ::write(stdin_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void ChildProcess::closeStdin() { closeFd(stdin_); }
void ChildProcess::closeStdout() { closeFd(stdout_.fd); }

bool ChildProcess::readSome(Stream& stream, std::chrono::steady_clock::time_point deadline) {
  if (stream.fd < 0 || stream.ended) return false;
  for (;;) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd ready{stream.fd, POLLIN, 0};
    int polled = ::poll(&ready, 1, static_cast<int>(std::max<std::int64_t>(0, left.count())));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return false;
    char buffer[65536];
    ssize_t n = ::read(stream.fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      stream.ended = true;
      return false;
    }
    stream.pending.append(buffer, static_cast<std::size_t>(n));
    return true;
  }
}

std::optional<std::string> ChildProcess::readLineFrom(Stream& stream, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (auto feed = stream.pending.find('\n'); feed != std::string::npos) {
      std::string line = stream.pending.substr(0, feed);
      stream.pending.erase(0, feed + 1);
      return line;
    }
    if (!readSome(stream, deadline)) return std::nullopt;
  }
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout) {
  return readLineFrom(stdout_, timeout);
}

std::optional<std::string> ChildProcess::readErrorLine(std::chrono::milliseconds timeout) {
  return readLineFrom(stderr_, timeout);
}

std::vector<std::string> ChildProcess::readAllLines(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (readSome(stdout_, deadline)) {
  }
  std::vector<std::string> lines;
  std::istringstream text(std::exchange(stdout_.pending, {}));
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  return lines;
}

bool ChildProcess::stdoutEnds(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  auto before = stdout_.pending.size();
  while (readSome(stdout_, deadline)) {
  }
  return stdout_.ended && stdout_.pending.size() == before;
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
  if (status_) return status_;
  if (pid_ <= 0) return std::nullopt;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int raw = 0;
    pid_t done = ::waitpid(pid_, &raw, WNOHANG);
    if (done == pid_) {
      status_ = statusOf(raw);
      return status_;
    }
    if (done < 0 && errno != EINTR) return std::nullopt;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(2ms);
  }
}

bool ChildProcess::kill(int signal) { return pid_ > 0 && !status_ && ::kill(pid_, signal) == 0; }

std::vector<pid_t> childrenOf(pid_t pid) {
  std::vector<pid_t> children;
  struct CloseDir {
    void operator()(DIR* dir) const { ::closedir(dir); }
  };
  std::unique_ptr<DIR, CloseDir> proc(::opendir("/proc"));
  if (!proc) return children;
  while (dirent* entry = ::readdir(proc.get())) {
    std::string name = entry->d_name;
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    std::ifstream file("/proc/" + name + "/stat");
    std::string stat;
    if (!std::getline(file, stat)) continue;
    auto close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 1));
    char state = 0;
    pid_t parent = 0;
    if (rest >> state >> parent && parent == pid) children.push_back(std::stoi(name));
  }
  return children;
}

std::vector<std::string> argumentsOf(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<std::string> arguments;
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\0', start);
    if (end == std::string::npos) end = text.size();
    arguments.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return arguments;
}

}  // namespace zoba::testing
