#include "ZobaCapture/Output.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

namespace zoba::Output {

namespace {

bool allNumbersFinite(const Message& value) {
  switch (value.type()) {
    case Message::value_t::number_float: return std::isfinite(value.get<double>());
    case Message::value_t::object:
    case Message::value_t::array:
      for (const auto& element : value) {
        if (!allNumbersFinite(element)) return false;
      }
      return true;
    default: return true;
  }
}

// Writes all of `bytes` unless the descriptor fails; a pipe takes a long line in
// several pieces, and a non-blocking descriptor is waited on.
void writeWhole(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd ready{fd, POLLOUT, 0};
      if (::poll(&ready, 1, -1) < 0 && errno != EINTR) return;
    } else {
      return;
    }
  }
}

class Channel {
 public:
  Channel() : thread_([this] { serve(); }) {}

  void submit(std::string line) {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(line));
    ++submitted_;
    pending_.notify_one();
  }

  void flush() {
    std::unique_lock lock(mutex_);
    auto target = submitted_;
    drained_.wait(lock, [&] { return written_ >= target; });
  }

  void useDescriptor(int fd) {
    std::lock_guard lock(mutex_);
    fd_ = fd;
  }

 private:
  void serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
      pending_.wait(lock, [&] { return !queue_.empty(); });
      std::string line = std::move(queue_.front());
      queue_.pop_front();
      int fd = fd_;
      lock.unlock();
      writeWhole(fd, line);
      lock.lock();
      ++written_;
      drained_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable pending_;
  std::condition_variable drained_;
  std::deque<std::string> queue_;
  std::uint64_t submitted_ = 0;
  std::uint64_t written_ = 0;
  int fd_ = STDOUT_FILENO;
  std::thread thread_;
};

// Immortal on purpose: the process may end while the thread waits on a host that
// stopped reading, and ending must never wait for it or destroy what it uses.
Channel& channel() {
  static Channel& instance = *new Channel();
  return instance;
}

}  // namespace

std::optional<std::string> serialize(const Message& message) {
  if (!allNumbersFinite(message)) return std::nullopt;
  // Titles and names come from other programs and may hold invalid UTF-8.
  return message.dump(-1, ' ', false, Message::error_handler_t::replace);
}

void send(const Message& message) {
  if (auto line = serialize(message)) sendLine(std::move(*line));
}

void sendLine(std::string line) {
  line.push_back('\n');
  channel().submit(std::move(line));
}

void flush() { channel().flush(); }

void useDescriptor(int fd) { channel().useDescriptor(fd); }

}  // namespace zoba::Output
