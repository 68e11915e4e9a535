#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/Task.h"

namespace zoba {
namespace {

// A main loop on a virtual clock: timers fire in time order without waiting.
class VirtualRunLoop final : public platform::RunLoop {
 public:
  void run() override {
    std::unique_lock lock(mutex_);
    while (!quit_) {
      if (!posted_.empty()) {
        auto work = std::move(posted_.front());
        posted_.pop_front();
        lock.unlock();
        work();
        lock.lock();
      } else if (!timers_.empty() && pendingThreads_ == 0) {
        auto it = timers_.begin();
        now_ = it->first;
        auto work = std::move(it->second);
        timers_.erase(it);
        lock.unlock();
        work();
        lock.lock();
      } else if (pendingThreads_ > 0) {
        wake_.wait(lock);
      } else {
        break;
      }
    }
  }
  void quit() override {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  void post(std::function<void()> work) override {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(work));
    if (pendingThreads_ > 0) --pendingThreads_;
    wake_.notify_all();
  }
  void after(double seconds, std::function<void()> work) override {
    std::lock_guard lock(mutex_);
    timers_.emplace(now_ + seconds, std::move(work));
  }
  double now() const override {
    std::lock_guard lock(mutex_);
    return now_;
  }
  // The loop waits for this many posts from other threads before advancing time.
  void expectPosts(int count) {
    std::lock_guard lock(mutex_);
    pendingThreads_ += count;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> posted_;
  std::multimap<double, std::function<void()>> timers_;
  double now_ = 0;
  int pendingThreads_ = 0;
  bool quit_ = false;
};

class TaskTest : public testing::Test {
 protected:
  void SetUp() override {
    auto services = std::make_unique<platform::Services>();
    auto loop = std::make_unique<VirtualRunLoop>();
    loop_ = loop.get();
    services->runLoop = std::move(loop);
    platform::install(std::move(services));
  }
  void TearDown() override { platform::install(nullptr); }
  VirtualRunLoop* loop_ = nullptr;
};

Task<int> answerAfter(double seconds, int value, std::vector<std::string>& log) {
  log.push_back("start " + std::to_string(value));
  co_await sleepFor{seconds};
  log.push_back("end " + std::to_string(value));
  co_return value;
}

Task<> sumOfTwo(std::vector<std::string>& log, int& sum) {
  const int a = co_await answerAfter(0.5, 1, log);
  const int b = co_await answerAfter(0.1, 2, log);
  sum = a + b;
}

TEST_F(TaskTest, LazyUntilDetachedAndRunsStepsInOrder) {
  std::vector<std::string> log;
  int sum = 0;
  Task<> task = sumOfTwo(log, sum);
  EXPECT_TRUE(log.empty());
  std::move(task).detach();
  EXPECT_EQ(log, std::vector<std::string>{"start 1"});
  loop_->run();
  EXPECT_EQ(sum, 3);
  EXPECT_EQ(log, (std::vector<std::string>{"start 1", "end 1", "start 2", "end 2"}));
  EXPECT_DOUBLE_EQ(loop_->now(), 0.6);
}

TEST_F(TaskTest, InterleavesWithOtherMainThreadWork) {
  std::vector<std::string> log;
  int sum = 0;
  sumOfTwo(log, sum).detach();
  loop_->after(0.2, [&] { log.push_back("timer"); });
  loop_->run();
  EXPECT_EQ(log, (std::vector<std::string>{"start 1", "timer", "end 1", "start 2", "end 2"}));
}

TEST_F(TaskTest, UndetachedTaskIsDestroyedWithoutRunning) {
  std::vector<std::string> log;
  { Task<int> task = answerAfter(1, 7, log); }
  loop_->run();
  EXPECT_TRUE(log.empty());
}

Task<> heavy(std::thread::id& workerThread, std::thread::id& resumedOn, int& value) {
  value = co_await offMainThread([&] {
    workerThread = std::this_thread::get_id();
    return 41 + 1;
  });
  resumedOn = std::this_thread::get_id();
}

TEST_F(TaskTest, OffMainThreadResumesOnTheMainThreadWithTheResult) {
  std::thread::id worker, resumed;
  int value = 0;
  loop_->expectPosts(1);
  heavy(worker, resumed, value).detach();
  loop_->run();
  EXPECT_EQ(value, 42);
  EXPECT_NE(worker, std::this_thread::get_id());
  EXPECT_EQ(resumed, std::this_thread::get_id());
}

}  // namespace
}  // namespace zoba
