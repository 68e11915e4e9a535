#pragma once

// Many hotkey captures in one helper, the way a host drives it: a GTK window in
// front, chords through XTEST, every "hotkey" answered with a card. Shared by the
// short desktop test and the long run in bench/soak.

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace zoba::testing {

// What the helper's service process holds at one moment.
struct ProcessResources {
  long residentKiB = 0;
  int descriptors = 0;
  int threads = 0;
  int xWindows = 0;     // windows on $DISPLAY carrying its pid, mapped or not
  int shmSegments = 0;  // System V segments it has attached
};
ProcessResources resourcesOf(pid_t pid);

struct SoakResult {
  int captures = 0;  // chords that started a capture
  int ended = 0;     // captures that ended in "capture" or "captureFailed"
  int failed = 0;    // ... in "captureFailed"
  int animated = 0;
  int landed = 0;  // animated captures whose card landed
  int duplicateIds = 0;
  std::vector<std::string> problems;  // what went wrong, one line each
  ProcessResources first;             // after the first capture settled
  ProcessResources atSample;          // after capture `sampleAt`
  ProcessResources last;              // after the last capture settled
  double seconds = 0;                 // from the first chord to the last landing
};

// Runs `count` captures; `sampleAt` names the capture whose resources are kept
// apart. `progress` (optional) hears each finished capture's number.
SoakResult soak(const std::string& helperPath, int count, int sampleAt,
                const std::function<void(int)>& progress = {});

}  // namespace zoba::testing
