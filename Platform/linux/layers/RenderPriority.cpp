#include "Platform/linux/layers/RenderPriority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace zoba::platform::linux_backend {

std::optional<int> renderNiceWithin(int current, rlim_t limit, int wanted) {
  // The kernel lets an unprivileged thread go down to 20 - RLIMIT_NICE.
  const int floor = limit == RLIM_INFINITY || limit >= 40 ? -20 : 20 - static_cast<int>(limit);
  const int chosen = std::max(wanted, floor);
  if (chosen >= current) return std::nullopt;
  return chosen;
}

void preferRenderThread() {
  // Inherited policies other than the normal one (batch, idle) lose wake-up preemption.
  sched_param normal{};
  pthread_setschedparam(pthread_self(), SCHED_OTHER, &normal);
  // On Linux a thread id names one thread for setpriority: the rest of the process keeps its nice value.
  const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
  errno = 0;
  const int current = ::getpriority(PRIO_PROCESS, tid);
  if (errno != 0) return;
  // A privileged process goes straight to the wanted value; otherwise RLIMIT_NICE bounds it.
  if (current > kRenderNice && ::setpriority(PRIO_PROCESS, tid, kRenderNice) == 0) return;
  rlimit limit{};
  if (::getrlimit(RLIMIT_NICE, &limit) != 0) return;
  if (auto nice = renderNiceWithin(current, limit.rlim_cur)) ::setpriority(PRIO_PROCESS, tid, *nice);
}

}  // namespace zoba::platform::linux_backend
