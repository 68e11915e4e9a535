// Placeholders until the X11 services land: no display, nothing granted.
#include "Platform/linux/Backends.h"

namespace zoba::platform::linux_backend {

namespace {
class NoEvents final : public Events {
 public:
  std::unique_ptr<EventMonitor> addGlobalFlagsChangedMonitor(std::function<void(std::uint64_t)>) override {
    return nullptr;
  }
};
class NoWorkspace final : public Workspace {
 public:
  std::optional<RunningApplication> frontmostApplication() override { return std::nullopt; }
  bool accessibilityDisplayShouldReduceMotion() override { return false; }
  std::vector<Screen> screens() override { return {}; }
};
class NoPrivacy final : public Privacy {
 public:
  bool preflight(Permission) override { return false; }
  void request(Permission) override {}
};
}  // namespace

std::unique_ptr<Events> makeEvents() { return std::make_unique<NoEvents>(); }
std::unique_ptr<Workspace> makeWorkspace() { return std::make_unique<NoWorkspace>(); }
std::unique_ptr<Privacy> makePrivacy() { return std::make_unique<NoPrivacy>(); }

}  // namespace zoba::platform::linux_backend
