#include "ZobaCapture/LineReader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace zoba {

LineReader::LineReader(int fd, std::size_t maxLength) : fd_(fd), maxLength_(maxLength), buffer_(64 * 1024) {}

bool LineReader::fill() {
  for (;;) {
    ssize_t n = ::read(fd_, buffer_.data(), buffer_.size());
    if (n > 0) {
      start_ = 0;
      end_ = static_cast<std::size_t>(n);
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

std::optional<std::string> LineReader::next() {
  for (;;) {
    if (start_ == end_) {
      if (ended_ || !fill()) {
        ended_ = true;
        bool last = !line_.empty() && !discarding_;
        discarding_ = false;
        if (!last) return std::nullopt;
        return std::exchange(line_, {});
      }
    }
    auto first = buffer_.begin() + static_cast<std::ptrdiff_t>(start_);
    auto last = buffer_.begin() + static_cast<std::ptrdiff_t>(end_);
    auto feed = std::find(first, last, '\n');
    std::size_t length = static_cast<std::size_t>(feed - first);
    if (!discarding_ && line_.size() + length > maxLength_) {
      discarding_ = true;
      line_ = std::string();  // give the memory back now
    }
    if (!discarding_) line_.append(first, feed);
    start_ += length;
    if (feed == last) continue;
    ++start_;  // the line feed
    if (std::exchange(discarding_, false)) continue;
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    return std::exchange(line_, {});
  }
}

}  // namespace zoba
