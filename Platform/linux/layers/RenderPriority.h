#pragma once

// The render threads' place in the scheduler. A frame is a few milliseconds of work
// every refresh; it has to run when due even while the accessibility walk and the
// captured application keep both cores busy, so the thread asks for a better nice
// value than theirs, as far as the process may go without privileges.

#include <sys/resource.h>

#include <optional>

namespace zoba::platform::linux_backend {

// The nice value render threads ask for when nothing limits them.
inline constexpr int kRenderNice = -5;

// The nice value to set from `current`: `wanted`, or the lowest that a soft
// RLIMIT_NICE of `limit` allows (20 - limit); nothing when that is no better than
// `current`.
std::optional<int> renderNiceWithin(int current, rlim_t limit, int wanted = kRenderNice);

// Called on the render thread itself: the normal policy (wake-ups preempt), with the
// nice value lowered as far as allowed. Failure leaves the thread as it was.
void preferRenderThread();

}  // namespace zoba::platform::linux_backend
