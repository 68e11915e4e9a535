// The render thread's nice value: what RLIMIT_NICE lets it ask for, and that the
// change stays on that thread.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <thread>

#include "Platform/linux/layers/RenderPriority.h"

namespace zoba::platform::linux_backend {
namespace {

TEST(RenderPriorityTest, niceValueWithinTheLimit) {
  struct Case {
    int current;
    rlim_t limit;
    int wanted;
    std::optional<int> expected;
  };
  const Case cases[] = {
      {0, 0, -5, std::nullopt},                // the default limit: no lower than now
      {0, 20, -5, std::nullopt},               // 20 - 20 = 0: still not lower
      {0, 22, -5, -2},                         // part of the way
      {0, 25, -5, -5},                         // all the way
      {0, 40, -5, -5},                         //
      {0, RLIM_INFINITY, -5, -5},              //
      {0, 60, -25, -20},                       // never past the scheduler's range
      {10, 0, -5, std::nullopt},               // a niced helper stays niced without a limit
      {10, 12, -5, 8},                         // but takes what the limit gives
      {-10, RLIM_INFINITY, -5, std::nullopt},  // already better than asked
  };
  for (const auto& c : cases) {
    EXPECT_EQ(renderNiceWithin(c.current, c.limit, c.wanted), c.expected)
        << "current " << c.current << ", limit " << c.limit << ", wanted " << c.wanted;
  }
}

int threadNice() { return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid))); }

TEST(RenderPriorityTest, leavesBatchAndTouchesOnlyItsThread) {
  const int mainNice = threadNice();
  int policy = -1, before = 0, after = 0;
  std::thread thread([&] {
    sched_param batch{};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &batch);
    before = threadNice();
    preferRenderThread();
    after = threadNice();
    sched_param param{};
    pthread_getschedparam(pthread_self(), &policy, &param);
  });
  thread.join();
  EXPECT_EQ(policy, SCHED_OTHER);
  EXPECT_LE(after, before);
  rlimit limit{};
  ::getrlimit(RLIMIT_NICE, &limit);
  // Root, or a limit of 25 and more: the whole way.
  if (::geteuid() == 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= 25) {
    EXPECT_EQ(after, std::min(before, kRenderNice));
  }
  EXPECT_EQ(threadNice(), mainNice);
}

}  // namespace
}  // namespace zoba::platform::linux_backend
