// How long the main thread spends queueing messages on the output channel, with a
// host that reads everything and with one that has stopped reading.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "ZobaCapture/Output.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int messages = 10000;

double queueMilliseconds() {
  auto start = Clock::now();
  for (int i = 0; i < messages; ++i) zoba::Output::send({{"type", "status"}, {"id", std::to_string(i)}});
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main() {
  int reading[2], stalled[2];
  if (::pipe(reading) != 0 || ::pipe(stalled) != 0) return 1;

  // A host that drains the pipe as fast as it can.
  std::thread drain([fd = reading[0]] {
    char buffer[65536];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
  });
  zoba::Output::useDescriptor(reading[1]);
  std::vector<double> runs;
  for (int run = 0; run < 5; ++run) {
    runs.push_back(queueMilliseconds());
    zoba::Output::flush();
  }
  std::sort(runs.begin(), runs.end());
  std::printf("reading host: queue %d messages: median %.2f ms (%.0f ns each), best %.2f ms\n", messages,
              runs[2], runs[2] * 1e6 / messages, runs[0]);

  // A host that never reads: the pipe fills after a few thousand lines and the
  // output thread blocks in write; the main thread must not.
  zoba::Output::useDescriptor(stalled[1]);
  double first = queueMilliseconds();
  double second = queueMilliseconds();
  std::printf("stalled host: queue %d messages: %.2f ms, then %d more: %.2f ms (main thread never blocked)\n",
              messages, first, messages, second);
  std::fflush(stdout);
  // The output thread stays blocked on the stalled pipe; end without waiting for it.
  ::close(reading[1]);
  drain.detach();
  std::_Exit(0);
}
