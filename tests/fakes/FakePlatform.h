#pragma once

// In-memory platform services for the module tests. installFakePlatform() makes
// them the current platform and hands back references to program them; they stay
// valid until the next install.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Platform/Platform.h"
#include "tests/fakes/FakeAccessibility.h"
#include "tests/fakes/FakeLayers.h"
#include "tests/fakes/FakeScreenCapture.h"
#include "tests/support/VirtualClockLoop.h"

namespace zoba::fakes {

class FakeProcess final : public platform::Process {
 public:
  std::optional<std::string> ownExecutablePath() override { return ownPath; }
  std::optional<std::string> executablePath(std::int32_t pid) override;
  std::optional<platform::ProcessInfo> info(std::int32_t pid) override;

  std::optional<std::string> ownPath;
  std::map<std::int32_t, std::string> paths;
  std::map<std::int32_t, std::int32_t> parents;  // pid → parent pid
};

// Accepts the one requirement form the real service accepts; a guest is valid for
// the team of its signing information.
class FakeCodeSigning final : public platform::CodeSigning {
 public:
  std::optional<platform::SigningInformation> ownSigningInformation() override { return own; }
  std::optional<platform::GuestCode> guest(std::int32_t pid) override;
  std::optional<platform::Requirement> requirement(std::string_view text) override;
  int checkValidity(const platform::GuestCode& guest, const platform::Requirement& requirement) override;

  std::optional<platform::SigningInformation> own;
  std::map<std::int32_t, platform::SigningInformation> guests;
  int calls = 0;  // of guest(), requirement() and checkValidity()
  std::vector<std::string> requirementTexts;
};

// The main loop: timers fire only as the test moves the clock (advance()).
using FakeRunLoop = testing_support::VirtualClockLoop;

class FakeEvents final : public platform::Events {
 public:
  std::unique_ptr<platform::EventMonitor> addGlobalFlagsChangedMonitor(
      std::function<void(std::uint64_t)> handler) override;

  // Delivers one flags-changed event to every installed monitor.
  void flagsChanged(std::uint64_t flags);
  bool available = true;  // false: no display, no monitor
  int installed() const { return static_cast<int>(handlers_.size()); }
  std::vector<std::uint64_t> watchedKeys;  // every watchKeys() of a monitor, in order

 private:
  friend class FakeMonitor;
  std::map<int, std::function<void(std::uint64_t)>> handlers_;
  int nextToken_ = 0;
};

class FakeWorkspace final : public platform::Workspace {
 public:
  std::optional<platform::RunningApplication> frontmostApplication() override { return frontmost; }
  bool accessibilityDisplayShouldReduceMotion() override { return reduceMotion; }
  std::vector<platform::Screen> screens() override { return screenList; }
  std::optional<platform::Image> icon(const platform::RunningApplication& application) override;
  std::optional<Rect> focusedWindowFrame(std::int32_t pid) override {
    return windowFrame && windowFrame->first == pid ? std::optional<Rect>(windowFrame->second) : std::nullopt;
  }
  std::optional<platform::SessionDescription> session() override { return sessionDescription; }

  std::optional<platform::RunningApplication> frontmost;
  // The window system's frame of the focused window, and whose it is; absent as on X11.
  std::optional<std::pair<std::int32_t, Rect>> windowFrame;
  std::optional<platform::SessionDescription> sessionDescription;  // absent as in the tests before it
  bool reduceMotion = false;
  std::vector<platform::Screen> screenList;
  std::map<std::int32_t, platform::Image> icons;  // by pid; no entry: no icon
  int iconCalls = 0;
};

class FakePrivacy final : public platform::Privacy {
 public:
  bool preflight(platform::Permission permission) override;
  void request(platform::Permission permission) override { requests.push_back(permission); }

  bool screenRecording = false;
  bool accessibility = false;
  std::vector<platform::Permission> requests;
};

struct FakePlatform {
  FakeProcess& process;
  FakeCodeSigning& codeSigning;
  FakeRunLoop& runLoop;
  FakeEvents& events;
  FakeWorkspace& workspace;
  FakePrivacy& privacy;
  FakeAccessibility& accessibility;
  FakeScreenCapture& screenCapture;
  platform::Layers& layers;          // the real model on the virtual clock
  FakeLayerRenderer& layerRenderer;  // what it committed
};

FakePlatform installFakePlatform();

}  // namespace zoba::fakes
