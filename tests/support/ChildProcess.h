#pragma once

// A program under test as a child process, its standard input, output and error on
// pipes held by the test:
//
//   ChildProcess child(ZOBA_CAPTURE_PATH, {"--hotkey", "option"});
//   child.writeLine(R"({"type":"status","id":"1"})");
//   auto line = child.readLine();          // absent after the timeout or at EOF
//   child.closeStdin();
//   auto status = child.wait();            // exit code, or 128 + signal
//
// The destructor kills (SIGKILL) and reaps a child that is still running. The test
// process ignores SIGPIPE from the first ChildProcess on, so writing to a child that
// has gone away fails instead of killing the test.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zoba::testing {

using namespace std::chrono_literals;

struct ChildEnvironment {
  std::vector<std::string> unset;                        // names removed from the test's environment
  std::vector<std::pair<std::string, std::string>> set;  // added or replaced
};

class ChildProcess {
 public:
  // Starts `path` with `arguments` after argv[0] (which is `path`). started() tells
  // whether the spawn worked.
  ChildProcess(const std::string& path, const std::vector<std::string>& arguments,
               const ChildEnvironment& environment = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // Writes `bytes` whole to the child's standard input; false once it is closed.
  bool write(std::string_view bytes);
  bool writeLine(std::string_view line) { return write(std::string(line) + "\n"); }
  void closeStdin();
  // The host stops reading: the child's writes fail from now on.
  void closeStdout();

  // The next line of standard output (or error) without its line feed; absent when
  // none is complete within `timeout` or the stream has ended.
  std::optional<std::string> readLine(std::chrono::milliseconds timeout = 10s);
  std::optional<std::string> readErrorLine(std::chrono::milliseconds timeout = 10s);
  // Every line until standard output ends (or `timeout`); a last partial line included.
  std::vector<std::string> readAllLines(std::chrono::milliseconds timeout = 10s);
  // Whether standard output has ended (the child and its descendants closed it)
  // within `timeout` without another byte arriving.
  bool stdoutEnds(std::chrono::milliseconds timeout = 10s);

  // Waits for the child to end: its exit code, or 128 + the signal that killed it;
  // absent after `timeout`.
  std::optional<int> wait(std::chrono::milliseconds timeout = 10s);
  bool kill(int signal);

 private:
  struct Stream {
    int fd = -1;
    std::string pending;
    bool ended = false;
  };
  std::optional<std::string> readLineFrom(Stream& stream, std::chrono::milliseconds timeout);
  bool readSome(Stream& stream, std::chrono::steady_clock::time_point deadline);

  pid_t pid_ = -1;
  int stdin_ = -1;
  Stream stdout_;
  Stream stderr_;
  std::optional<int> status_;
};

// The pids whose parent is `pid` (from /proc).
std::vector<pid_t> childrenOf(pid_t pid);
// The argument vector of a running process (/proc/PID/cmdline).
std::vector<std::string> argumentsOf(pid_t pid);

}  // namespace zoba::testing
