#pragma once

#include "ZobaCaptureCore/Rect.h"

// The arithmetic of the capture overlay: coordinate spaces, cover cropping, the
// flight's duration and the lifted card.
namespace zoba::TransitionGeometry {

// From top-left screen space (y down) to bottom-left space (y up).
Rect appKitRect(const Rect& topLeft, double primaryScreenHeight);
// The unit sub-rectangle (y up) of the image that a box of another aspect ratio
// shows when the image covers it, anchored at the image's left and top edges.
Rect coverContentsRect(Size imageSize, Size boxSize);
// Seconds: 0.32 up to 200 points between centres, 0.5 from 2000 points on.
double springResponse(const Rect& from, const Rect& to);
// Shrunk to 94% around its centre.
Rect liftedRect(const Rect& rect);

}  // namespace zoba::TransitionGeometry
