#pragma once

// Points the output channel at a pipe that a reader thread drains, and hands back
// the lines written so far after a flush.

#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ZobaCapture/Output.h"

namespace zoba {

class OutputPipe {
 public:
  OutputPipe() {
    if (::pipe(fds_) != 0) return;
    reader_ = std::thread([this] {
      char buffer[65536];
      for (ssize_t n; (n = ::read(fds_[0], buffer, sizeof buffer)) > 0;) {
        std::lock_guard lock(mutex_);
        text_.append(buffer, static_cast<std::size_t>(n));
        arrived_.notify_all();
      }
    });
    Output::useDescriptor(fds_[1]);
  }
  ~OutputPipe() {
    Output::flush();
    Output::useDescriptor(-1);
    ::close(fds_[1]);
    reader_.join();
    ::close(fds_[0]);
  }
  OutputPipe(const OutputPipe&) = delete;
  OutputPipe& operator=(const OutputPipe&) = delete;

  // Every whole line written so far. After the flush a marker goes down the same
  // pipe; once the reader has it, it has everything the channel wrote before it.
  std::vector<std::string> lines() {
    Output::flush();
    const std::string marker = "\x01" + std::to_string(++markers_) + "\n";
    if (::write(fds_[1], marker.data(), marker.size()) != static_cast<ssize_t>(marker.size())) return {};
    std::unique_lock lock(mutex_);
    arrived_.wait(lock, [&] { return text_.find(marker) != std::string::npos; });
    text_.erase(text_.find(marker), marker.size());
    std::vector<std::string> result;
    std::istringstream stream(text_);
    for (std::string line; std::getline(stream, line);) result.push_back(line);
    return result;
  }

 private:
  int fds_[2] = {-1, -1};
  int markers_ = 0;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::string text_;
};

}  // namespace zoba
