#pragma once

// A stand-in for sway's IPC socket: it answers SUBSCRIBE and RUN_COMMAND (every
// command succeeds), records the commands, and sends events to subscribers.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zoba::testing {

class FakeSway {
 public:
  FakeSway();
  ~FakeSway();
  FakeSway(const FakeSway&) = delete;
  FakeSway& operator=(const FakeSway&) = delete;

  const std::string& path() const { return path_; }
  // RUN_COMMAND payloads so far.
  std::vector<std::string> commands();
  // Waits until at least `count` RUN_COMMANDs have come.
  bool waitForCommands(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Sends one event to every subscribed connection.
  void emit(std::uint32_t type, const std::string& payload);

 private:
  void serve();
  void handle(int fd, std::string& buffer);

  std::string directory_;
  std::string path_;
  int listener_ = -1;
  int wake_[2] = {-1, -1};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> commands_;
  std::vector<int> subscribed_;
  std::thread thread_;
};

}  // namespace zoba::testing
