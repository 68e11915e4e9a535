// The workspace of a Wayland session: the frontmost application and its focused
// window from the compositor's window source, its name, id and icon from its
// desktop entry (found by app_id), the screens from wl_output and xdg_output.

#include <algorithm>

#include "Platform/linux/Backends.h"
#include "Platform/linux/session/DesktopEntry.h"
#include "Platform/linux/session/IconFiles.h"
#include "Platform/linux/session/ReduceMotion.h"
#include "Platform/linux/wayland/WaylandProbe.h"
#include "Platform/linux/wayland/WaylandSession.h"
#include "Platform/linux/wayland/WindowSource.h"
#include "Platform/linux/wayland/kwin/KWinSession.h"
#include "wayland-protocols/wlr-screencopy-unstable-v1-client-protocol.h"

namespace zoba::platform::linux_backend {

namespace {

using namespace wayland;

constexpr int iconSize = 64;  // the size the capture draws icons at

std::optional<DesktopEntry> entryOf(const Toplevel& toplevel) {
  // An Xwayland window has a WM_CLASS as on X11; a native one its app_id, which is
  // the desktop file's id or its StartupWMClass.
  return desktopEntryFor(toplevel.appId, toplevel.xwayland ? toplevel.x11Class : toplevel.appId);
}

class WaylandWorkspace final : public Workspace {
 public:
  WaylandWorkspace(DesktopSession session, std::shared_ptr<WaylandProbe> probe)
      : session_(std::move(session)), probe_(std::move(probe)), windows_(makeWindowSource(session_)) {}

  std::optional<RunningApplication> frontmostApplication() override {
    auto toplevel = frontmost();
    if (!toplevel || toplevel->pid <= 0) return std::nullopt;
    RunningApplication application;
    application.pid = toplevel->pid;
    if (auto entry = entryOf(*toplevel)) {
      application.localizedName = std::move(entry->name);
      application.bundleIdentifier = std::move(entry->id);
    } else {
      application.localizedName =
          toplevel->xwayland && toplevel->x11Class ? toplevel->x11Class : toplevel->appId;
      application.bundleIdentifier = toplevel->appId;
    }
    return application;
  }

  std::optional<Image> icon(const RunningApplication& application) override {
    if (!application.bundleIdentifier) return std::nullopt;
    const auto dirs = iconDataDirs();
    const auto& id = application.bundleIdentifier;
    if (auto entry = desktopEntryFor(id, id); entry && !entry->icon.empty()) {
      if (auto image = loadIcon(entry->icon, iconSize, dirs)) return image;
    }
    // Applications without an entry often name their icon as their id.
    return loadIcon(*id, iconSize, dirs);
  }

  bool accessibilityDisplayShouldReduceMotion() override { return reduceMotion_.reduceMotion(); }

  std::vector<Screen> screens() override {
    auto outputs = probe_->outputs();
    if (outputs.empty()) return {};
    // Wayland names no primary output: the one at the layout's origin stands for it.
    std::stable_partition(outputs.begin(), outputs.end(), [](const OutputGeometry& output) {
      return output.logical.x == 0 && output.logical.y == 0;
    });
    // Bottom-left space: y grows upwards from the primary screen's bottom edge.
    const double primaryHeight = outputs.front().logical.height;
    std::vector<Screen> screens;
    for (const auto& output : outputs) {
      const Rect frame = layoutFrame(output);
      screens.push_back({Rect(frame.minX(), primaryHeight - frame.maxY(), frame.width(), frame.height())});
    }
    return screens;
  }

  std::optional<Rect> focusedWindowFrame(std::int32_t pid) override {
    auto toplevel = frontmost();
    if (!toplevel || toplevel->pid != pid) return std::nullopt;
    return toplevel->rect;
  }

  std::optional<SessionDescription> session() override {
    if (session_.compositor == Compositor::kwin)
      return describeWaylandSession(session_, kwinAbilities(*probe_, windows()));
    WaylandAbilities abilities;
    abilities.screencopy = probe_->offers(zwlr_screencopy_manager_v1_interface.name);
    // (The layer-shell header names a parameter `namespace`: it is no C++ to include.)
    abilities.layerShell = probe_->offers("zwlr_layer_shell_v1");
    abilities.windowList = windows() && windows()->toplevels().has_value();
    // The chord comes from the compositor's key bindings, over the same IPC.
    abilities.chordSource = abilities.windowList;
    return describeWaylandSession(session_, abilities);
  }

 private:
  WindowSource* windows() { return windows_.get(); }
  std::optional<Toplevel> frontmost() {
    auto* source = windows();
    return source ? source->frontmost() : std::nullopt;
  }

  const DesktopSession session_;
  std::shared_ptr<WaylandProbe> probe_;
  const std::unique_ptr<WindowSource> windows_;  // connects on first use
  ReduceMotionSetting reduceMotion_;
};

}  // namespace

std::unique_ptr<Workspace> makeWaylandWorkspace(const DesktopSession& session,
                                                std::shared_ptr<wayland::WaylandProbe> probe) {
  return std::make_unique<WaylandWorkspace>(session, std::move(probe));
}

}  // namespace zoba::platform::linux_backend
