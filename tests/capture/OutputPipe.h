#pragma once

// Points the output channel at a pipe that a reader thread drains, and hands back
// the lines written so far after a flush.

#include <sys/ioctl.h>
#include <unistd.h>

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

  // Every whole line written so far; waits for the channel to drain and the reader
  // to catch up with it.
  std::vector<std::string> lines() {
    Output::flush();
    // The channel has written; give the reader a moment to read it all.
    for (int i = 0; i < 200; ++i) {
      {
        std::lock_guard lock(mutex_);
        if (caughtUp()) break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::lock_guard lock(mutex_);
    std::vector<std::string> result;
    std::istringstream stream(text_);
    for (std::string line; std::getline(stream, line);) result.push_back(line);
    return result;
  }

 private:
  bool caughtUp() const {
    int pending = 0;
    return ::ioctl(fds_[0], FIONREAD, &pending) == 0 && pending == 0;
  }

  int fds_[2] = {-1, -1};
  std::thread reader_;
  std::mutex mutex_;
  std::string text_;
};

}  // namespace zoba
