#pragma once

// A single-threaded main loop on a virtual clock: timers fire in time order at
// once, and every read of the clock is counted.

#include <functional>
#include <map>

#include "Platform/RunLoop.h"

namespace zoba::testing_support {

class TestLoop final : public platform::RunLoop {
 public:
  void run() override {
    quit_ = false;
    while (!quit_ && !timers_.empty()) {
      auto it = timers_.begin();
      if (it->first > time) time = it->first;
      auto work = std::move(it->second);
      timers_.erase(it);
      work();
    }
  }
  void quit() override { quit_ = true; }
  void post(std::function<void()> work) override { timers_.emplace(time, std::move(work)); }
  void after(double seconds, std::function<void()> work) override {
    timers_.emplace(time + seconds, std::move(work));
  }
  double now() const override {
    ++reads;
    return time;
  }

  double time = 100;
  mutable int reads = 0;

 private:
  std::multimap<double, std::function<void()>> timers_;
  bool quit_ = false;
};

}  // namespace zoba::testing_support
