#include "tests/support/VirtualClockLoop.h"

#include <algorithm>
#include <chrono>

namespace zoba::testing_support {

void VirtualClockLoop::run() {
  std::unique_lock lock(mutex_);
  // A loop that runs until idle serves whatever a quit before it left behind.
  if (mode_ == Timers::whenIdle) quit_ = false;
  while (!quit_) {
    if (fireDueTimer(lock)) continue;
    if (!queue_.empty()) {
      auto work = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      work();
      lock.lock();
    } else if (mode_ == Timers::byAdvance || expectedPosts_ > 0) {
      posted_.wait(lock, [&] { return quit_ || !queue_.empty(); });
    } else if (!timers_.empty()) {
      auto timer = timers_.begin();
      now_ = std::max(now_, timer->first);
      auto work = std::move(timer->second);
      timers_.erase(timer);
      lock.unlock();
      work();
      lock.lock();
    } else {
      break;
    }
  }
  quit_ = false;
}

void VirtualClockLoop::quit() {
  std::lock_guard lock(mutex_);
  quit_ = true;
  posted_.notify_all();
}

void VirtualClockLoop::post(std::function<void()> work) {
  std::lock_guard lock(mutex_);
  queue_.push_back(std::move(work));
  ++postCount_;
  if (expectedPosts_ > 0) --expectedPosts_;
  posted_.notify_all();
}

void VirtualClockLoop::after(double seconds, std::function<void()> work) {
  std::lock_guard lock(mutex_);
  timers_.emplace(now_ + seconds, std::move(work));
}

double VirtualClockLoop::now() const {
  std::lock_guard lock(mutex_);
  ++reads_;
  return now_;
}

bool VirtualClockLoop::fireDueTimer(std::unique_lock<std::mutex>& lock) {
  if (timers_.empty() || timers_.begin()->first > now_) return false;
  auto work = std::move(timers_.begin()->second);
  timers_.erase(timers_.begin());
  lock.unlock();
  work();
  lock.lock();
  return true;
}

void VirtualClockLoop::runPending() {
  std::unique_lock lock(mutex_);
  while (true) {
    if (fireDueTimer(lock)) continue;
    if (queue_.empty()) break;
    auto work = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    work();
    lock.lock();
  }
}

void VirtualClockLoop::advance(double seconds) {
  std::unique_lock lock(mutex_);
  const double end = now_ + seconds;
  while (!timers_.empty() && timers_.begin()->first <= end) {
    auto timer = timers_.begin();
    now_ = timer->first;
    auto work = std::move(timer->second);
    timers_.erase(timer);
    lock.unlock();
    work();
    runPending();
    lock.lock();
  }
  now_ = end;
}

void VirtualClockLoop::elapse(double seconds) {
  std::lock_guard lock(mutex_);
  now_ += seconds;
}

bool VirtualClockLoop::waitForPosts(std::size_t count, double seconds) {
  std::unique_lock lock(mutex_);
  return posted_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return postCount_ >= count; });
}

void VirtualClockLoop::expectPosts(int count) {
  std::lock_guard lock(mutex_);
  expectedPosts_ += count;
}

double VirtualClockLoop::clock() const {
  std::lock_guard lock(mutex_);
  return now_;
}

int VirtualClockLoop::clockReads() const {
  std::lock_guard lock(mutex_);
  return reads_;
}

}  // namespace zoba::testing_support
