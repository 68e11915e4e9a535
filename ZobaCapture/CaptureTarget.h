#pragma once

#include <optional>

#include "ZobaCapture/Message.h"
#include "ZobaCaptureCore/Rect.h"

// The host's answer to a flying capture: where its card sits.
namespace zoba::CaptureTarget {

// The rectangle of a frame object {"x", "y", "width", "height"}: four numbers (a
// boolean counts as 1 or 0), width and height above 0; unchanged otherwise.
std::optional<Rect> rect(const Message& frame);

struct Target {
  std::optional<Rect> frame;  // bottom-left space; absent: the host has no card
  double radius = 8.0;
};

// The target a "captureTarget" request names, its frame moved into bottom-left space.
Target of(const Message& request, double primaryScreenHeight);

}  // namespace zoba::CaptureTarget
