#pragma once

// The Linux backend's services, assembled by LinuxPlatform.cpp.

#include <memory>

#include "Platform/Platform.h"

namespace zoba::platform::linux_backend {

std::unique_ptr<Process> makeProcess();          // /proc
std::unique_ptr<CodeSigning> makeCodeSigning();  // the signing label in the ELF file
std::unique_ptr<RunLoop> makeRunLoop();          // GLib's default main context
std::unique_ptr<Events> makeEvents();            // XInput2 raw key events
std::unique_ptr<Events> makeSwayEvents();        // sway's key bindings; null when SWAYSOCK does not answer
std::unique_ptr<Workspace> makeWorkspace();      // EWMH, RandR
std::unique_ptr<Privacy> makePrivacy();          // X display and AT-SPI bus reachability
std::unique_ptr<Accessibility> makeAccessibility();  // AT-SPI over GDBus
std::unique_ptr<ScreenCapture> makeScreenCapture();  // EWMH window list, MIT-SHM, XComposite
std::unique_ptr<LayerRenderer> makeLayerRenderer();  // a render thread drawing into override-redirect windows

}  // namespace zoba::platform::linux_backend
