#pragma once

// What the Wayland screen captures tell the host when a capture cannot be taken,
// one text per cause whichever compositor's capture meets it.

namespace zoba::platform::linux_backend::wayland::capture_errors {

inline constexpr const char* noWindowList =
    "The compositor gives no window list: the screen capture needs sway's IPC socket (SWAYSOCK)";
inline constexpr const char* noScreencopy =
    "This Wayland compositor offers no screenshots to applications (the wlr-screencopy protocol, which sway "
    "and other wlroots compositors offer)";
inline constexpr const char* notInWindowList = "The window is not in the compositor's window list";
inline constexpr const char* onNoOutput = "The window is on no output";
inline constexpr const char* copyUnreadable = "The screen copy could not be read";
inline constexpr const char* noCompositor = "No Wayland compositor answers (WAYLAND_DISPLAY)";
inline constexpr const char* noSharedMemory = "The compositor offers no shared memory (wl_shm)";

inline constexpr const char* noActiveWindow =
    "KWin did not report its active window (the helper's KWin script could not be loaded)";
inline constexpr const char* notActiveWindow = "The window is not KWin's active window";
inline constexpr const char* noSessionBus = "The session bus does not answer";
inline constexpr const char* shotUnreadable = "KWin's screenshot could not be read";

}  // namespace zoba::platform::linux_backend::wayland::capture_errors
