#pragma once

// Figures of the AT-SPI backend for the benchmark: how many D-Bus calls it made.

#include <cstdint>

namespace zoba::platform::linux_backend::atspi {

class CallCounter {
 public:
  virtual std::uint64_t callsSent() const = 0;

 protected:
  ~CallCounter() = default;
};

}  // namespace zoba::platform::linux_backend::atspi
