#pragma once

// A chord's road as a host meets it, on any desktop: while a sampler watches a patch
// of the captured window for the overlay, the chord is pressed, the "hotkey" line
// read, the host's card sent with "captureTarget", and the lines of that capture
// gathered until "captureLanded" (or a bound).

#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace zoba::testing {

struct CaptureRoad {
  nlohmann::json hotkey;
  std::vector<std::string> types;  // the capture's lines after the hotkey, in their order
  nlohmann::json capture;          // the "capture" line's payload
  bool overlaySeen = false;        // the sampler saw the window covered
  bool landed() const;
};

struct CaptureRoadDesk {
  std::function<bool()> pressChord;
  // Whether the overlay covers the sampled patch now (called in a loop, on a thread
  // of its own, from before the chord until the landing).
  std::function<bool()> overlayCovers;
  nlohmann::json card{{"x", 1600}, {"y", 40}, {"width", 200}, {"height", 120}};
  std::chrono::seconds bound{15};
};

// Nothing when the chord could not be pressed or gave no "hotkey" line.
std::optional<CaptureRoad> driveCaptureRoad(ChildProcess& helper, const CaptureRoadDesk& desk);

}  // namespace zoba::testing
