#pragma once

// A plain X client beside the helper: XInput2 raw key presses on the root window,
// stamped as they arrive, so that a benchmark can tell the display server's part of
// a key's latency from the helper's.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "Platform/linux/handles/XcbPtr.h"

namespace zoba::bench {

class RawKeyWatch {
 public:
  using Clock = std::chrono::steady_clock;
  // Connects to $DISPLAY; ok() is false without XInput 2.1.
  RawKeyWatch();
  ~RawKeyWatch();
  RawKeyWatch(const RawKeyWatch&) = delete;
  RawKeyWatch& operator=(const RawKeyWatch&) = delete;
  bool ok() const { return reading_.joinable(); }
  // When the first raw press of the X key `keycode` after `since` arrived, waiting up
  // to `timeout` for it.
  std::optional<Clock::time_point> pressAfter(std::uint8_t keycode, Clock::time_point since,
                                              std::chrono::milliseconds timeout);

 private:
  void read(std::stop_token stop);

  platform::linux_backend::XcbConnectionPtr connection_;
  std::uint8_t opcode_ = 0;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<std::pair<std::uint8_t, Clock::time_point>> presses_;
  std::jthread reading_;
};

}  // namespace zoba::bench
