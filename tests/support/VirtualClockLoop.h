#pragma once

// The tests' main loop on a virtual clock: no test ever waits for a timer.
// Posting and timers are thread-safe.
//
// With Timers::byAdvance, run() serves posted work until quit(), and timers fire
// only through advance(): the test moves the clock. With Timers::whenIdle, run()
// fires the earliest timer whenever no posted work is left (and none is
// expected from other threads, see expectPosts), moving the clock to it, and
// returns once nothing is left or on quit().
//
// In both, as on a real loop, a timer that is already due (the clock moved on
// inside a call, see elapse) fires before the next posted work.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "Platform/RunLoop.h"

namespace zoba::testing_support {

class VirtualClockLoop final : public platform::RunLoop {
 public:
  enum class Timers { byAdvance, whenIdle };
  explicit VirtualClockLoop(Timers timers = Timers::byAdvance, double start = 0)
      : mode_(timers), now_(start) {}

  void run() override;
  void quit() override;
  void post(std::function<void()> work) override;
  void after(double seconds, std::function<void()> work) override;
  // Counted: see clockReads().
  double now() const override;

  // Runs posted work (and timers already due) until none is left.
  void runPending();
  // Moves the clock on, firing due timers in time order.
  void advance(double seconds);
  // Moves the clock on without firing anything (time spent inside a call).
  void elapse(double seconds);
  // Blocks until at least `count` posts have arrived in total, or `seconds` passed.
  bool waitForPosts(std::size_t count, double seconds);
  // With Timers::whenIdle: the clock waits for this many more posts from other
  // threads before it moves.
  void expectPosts(int count);

  // The clock, without counting the read.
  double clock() const;
  // How often the code under test read the clock.
  int clockReads() const;

 private:
  // Fires the earliest timer if it is due now; the lock is held on entry and exit.
  bool fireDueTimer(std::unique_lock<std::mutex>& lock);

  const Timers mode_;
  mutable std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> queue_;
  std::multimap<double, std::function<void()>> timers_;
  std::size_t postCount_ = 0;
  int expectedPosts_ = 0;
  mutable int reads_ = 0;
  bool quit_ = false;
  double now_;
};

}  // namespace zoba::testing_support
