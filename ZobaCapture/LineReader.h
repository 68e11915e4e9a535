#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace zoba {

// Reads lines from a descriptor: the bytes up to a line feed, without it and without
// a carriage return right before it. A line longer than `maxLength` bytes is read and
// discarded up to its line feed without ever being held whole.
class LineReader {
 public:
  LineReader(int fd, std::size_t maxLength);

  // The next line; absent at the end of input or when a read fails. A last line
  // without a line feed still counts.
  std::optional<std::string> next();

 private:
  bool fill();

  int fd_;
  std::size_t maxLength_;
  std::vector<char> buffer_;
  std::size_t start_ = 0;
  std::size_t end_ = 0;
  std::string line_;
  bool discarding_ = false;
  bool ended_ = false;
};

}  // namespace zoba
