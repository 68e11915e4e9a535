#pragma once

// One running application in, one capture out: the window the user looks at,
// its screenshot as PNG, the application's name, identifier and icon, the title,
// the accessibility outline and the page address. Also the small encodings the
// capture flow shows the host before the capture is complete.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "Platform/Image.h"
#include "Platform/Task.h"
#include "Platform/Workspace.h"
#include "ZobaCapture/AXTree.h"
#include "ZobaCapture/CaptureError.h"
#include "ZobaCapture/CapturePayload.h"
#include "ZobaCaptureCore/Rect.h"

namespace zoba::WindowCapture {

inline constexpr double captureMessagingTimeout = 0.5;
inline constexpr double frameMessagingTimeout = 0.25;
inline constexpr double maxPixelEdge = 2400;
inline constexpr double minimumWindowExtent = 40;  // points, both ways
inline constexpr double snapshotSeconds = 1.2;
inline constexpr double walkSliceSeconds = 0.005;  // of the walk between turns of the main loop
inline constexpr double loadPollSeconds = 0.05;    // between asking whether a loading page is done
inline constexpr int maxWalks = 4;  // a new tab's page arrives, then loads: three walks, one to spare
inline constexpr std::int64_t textBudget = 40000;  // UTF-16 code units
inline constexpr std::int64_t iconSize = 64;
inline constexpr int jpegQuality = 80;
// The outline's last line when the application gave the walk nothing to read (no
// accessible window, or a window without one record), so hosts can tell that from
// an empty window.
inline constexpr std::string_view noAccessibilityLine =
    "The application exposes no accessibility information.";

// A JPEG data URL of the image shrunk (never enlarged) so that its longer edge is
// at most `maxEdge` pixels, transparency over white; absent when encoding fails.
std::optional<std::string> snapshotDataURL(const platform::Image& image, double maxEdge);
// The PNG of the image at its own size.
std::optional<platform::Bytes> pngData(const platform::Image& image);
// Base64 of a 64 × 64 PNG of the application's icon; absent without an icon.
std::optional<std::string> iconBase64(const platform::RunningApplication& application);

// The window's outline under the capture's deadline (`snapshotSeconds` from now),
// walked again once a web page that was still loading has loaded. Main thread.
Task<AXSnapshot> outline(platform::AXElement window, platform::AXElement application);

// The frame of the application's focused (else main) window, top-left space.
// Main thread.
std::optional<Rect> focusedWindowFrame(const platform::RunningApplication& application);

using CaptureResult = std::variant<CapturePayload, CaptureFailure>;
// Called once, on the main thread, with the screenshot and the window-list title
// ("" when the window has none), as soon as the screenshot exists.
using ImageHandler = std::function<void(const platform::Image& image, const std::string& title)>;

// Seconds from now during which the main thread should stay free for the caller's
// own timers (an overlay about to reveal the screenshot) before the accessibility
// walk starts.
using WalkHold = std::function<double()>;

// Captures the application's window. Runs on the main thread and suspends while
// the window list, the screenshot, the encoders and the activation pauses are
// awaited. `onImage` is called exactly once for every capture that gets a
// screenshot (also when its encoding then fails), before the result is ready.
Task<CaptureResult> capture(platform::RunningApplication application, ImageHandler onImage,
                            WalkHold walkHold = nullptr);

}  // namespace zoba::WindowCapture
