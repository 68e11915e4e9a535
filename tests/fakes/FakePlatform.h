#pragma once

// In-memory platform services for the module tests. installFakePlatform() makes
// them the current platform and hands back references to program them; they stay
// valid until the next install.

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/Platform.h"
#include "tests/fakes/FakeAccessibility.h"
#include "tests/fakes/FakeLayers.h"
#include "tests/fakes/FakeScreenCapture.h"

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

// A main loop on a virtual clock. Posting is thread-safe; everything else runs on the
// test's thread. run() serves posted work until quit() (or until idle when
// `stopWhenIdle`); timers fire only through advance().
class FakeRunLoop final : public platform::RunLoop {
 public:
  void run() override;
  void quit() override;
  void post(std::function<void()> work) override;
  void after(double seconds, std::function<void()> work) override;
  double now() const override { return now_; }

  // Runs posted work until none is left.
  void runPending();
  // Moves the clock on, firing due timers in time order.
  void advance(double seconds);
  // Blocks until at least `count` posts have arrived in total, or `seconds` passed.
  bool waitForPosts(std::size_t count, double seconds);

 private:
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> queue_;
  std::size_t postCount_ = 0;
  bool quit_ = false;
  double now_ = 0;
  std::multimap<double, std::function<void()>> timers_;
};

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
  platform::Layers& layers;   // the real model on the virtual clock
  FakeLayerRenderer& layerRenderer;  // what it committed
};

FakePlatform installFakePlatform();

}  // namespace zoba::fakes
