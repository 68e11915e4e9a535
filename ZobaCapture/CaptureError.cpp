#include "ZobaCapture/CaptureError.h"

namespace zoba {

std::string_view description(CaptureError error) {
  switch (error) {
    case CaptureError::noWindow: return "No capturable window";
    case CaptureError::encodingFailed: return "Could not encode the capture";
  }
  return "";
}

std::string CaptureFailure::description() const {
  if (const auto* ours = std::get_if<CaptureError>(&error)) return std::string(zoba::description(*ours));
  return std::get<platform::ScreenCaptureError>(error).description;
}

}  // namespace zoba
