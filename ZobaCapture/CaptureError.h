#pragma once

// The ways a capture can fail, with the texts the host sees.

#include <string>
#include <string_view>
#include <variant>

#include "Platform/ScreenCapture.h"

namespace zoba {

enum class CaptureError {
  noWindow,        // "No capturable window"
  encodingFailed,  // "Could not encode the capture"
};

std::string_view description(CaptureError error);

// A failed capture: one of our own errors, or the window list's or the
// screenshot's error, whose description is the platform's own text.
struct CaptureFailure {
  std::variant<CaptureError, platform::ScreenCaptureError> error;

  std::string description() const;
  friend bool operator==(const CaptureFailure&, const CaptureFailure&) = default;
};

}  // namespace zoba
