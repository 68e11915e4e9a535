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

#include "Platform/Image.h"
#include "tests/support/ChildProcess.h"

namespace zoba::testing {

struct CaptureRoad {
  nlohmann::json hotkey;
  std::vector<std::string> types;  // the capture's lines after the hotkey, in their order
  nlohmann::json capture;          // the "capture" line's payload
  bool overlaySeen = false;        // the sampler saw the window covered
  bool landed() const;
  // "captureSnapshot" first, then "capture" and "captureLanded" in either order (the
  // walk can outlast the flight), and nothing else.
  bool ranWhole() const;
  // The "hotkey" line a capture with the overlay gives, with this road's captureId.
  nlohmann::json expectedHotkey() const;
  // What went wrong on a road with the overlay: the "hotkey" line, the lines' order,
  // the shutter never seen; empty when nothing did.
  std::string faults() const;
};

struct CaptureRoadDesk {
  std::function<bool()> pressChord;
  // Whether the overlay covers the sampled patch now (called in a loop, on a thread
  // of its own, from before the chord until the landing).
  std::function<bool()> overlayCovers;
  // Called once, on the sampler's thread, when it first saw the overlay (optional).
  std::function<void()> whileCovered;
  nlohmann::json card{{"x", 1600}, {"y", 40}, {"width", 200}, {"height", 120}};
  std::chrono::seconds bound{15};
};

// A patch of the captured window where only the window's plain colour shows, watched
// through `shoot` (a screenshot of the patch): the overlay covers it while fewer than
// half of the pixels that showed the colour before the chord still do.
class OverlayPatch {
 public:
  OverlayPatch(std::function<std::optional<platform::Image>()> shoot, std::uint32_t colour);
  // How many pixels showed the colour when this was made (0: no screenshot).
  std::int64_t plainPixels() const { return plainPixels_; }
  bool covered() const;

 private:
  std::function<std::optional<platform::Image>()> shoot_;
  std::uint32_t colour_;
  std::int64_t plainPixels_ = 0;
};

// Nothing when the chord could not be pressed or gave no "hotkey" line.
std::optional<CaptureRoad> driveCaptureRoad(ChildProcess& helper, const CaptureRoadDesk& desk);

}  // namespace zoba::testing
