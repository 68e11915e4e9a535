#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Platform/Task.h"
#include "tests/support/VirtualClockLoop.h"

namespace zoba {
namespace {

using testing_support::VirtualClockLoop;

class TaskTest : public testing::Test {
 protected:
  void SetUp() override {
    auto services = std::make_unique<platform::Services>();
    auto loop = std::make_unique<VirtualClockLoop>(VirtualClockLoop::Timers::whenIdle);
    loop_ = loop.get();
    services->runLoop = std::move(loop);
    platform::install(std::move(services));
  }
  void TearDown() override { platform::install(nullptr); }
  VirtualClockLoop* loop_ = nullptr;
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
