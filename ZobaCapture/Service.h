#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Events.h"
#include "Platform/Task.h"
#include "Platform/Workspace.h"
#include "ZobaCapture/Message.h"
#include "ZobaCaptureCore/Chord.h"

namespace zoba {

class CaptureTransition;  // the overlay of one capture

// Request lines longer than this are dropped unanswered.
inline constexpr std::size_t maxRequestLength = 1 << 20;

// The one long-lived object of the service process. Everything but the reader
// thread's blocking read runs on the main thread.
class CaptureService {
 public:
  explicit CaptureService(std::vector<std::string> arguments);
  CaptureService(const CaptureService&) = delete;
  CaptureService& operator=(const CaptureService&) = delete;

  // Verifies the caller, then serves the host until the process ends.
  [[noreturn]] void run();

  // The steps of run() after the checks, each callable on its own.
  void installMonitor();
  Message readyMessage() const;
  // Answers one request line (main thread).
  void handle(std::string_view line);
  // How "shutdown" and the end of input end the process (by default at once, without
  // static destructors). A test or fuzzer puts a recorder in its place; the service
  // must not be used after it was called.
  using Exit = std::function<void(int status)>;
  void setExit(Exit exit) { exit_ = std::move(exit); }

  std::int32_t hostPid() const { return hostPid_; }
  ChordPreset preset() const { return detector_.preset; }
  bool monitoring() const { return monitor_ != nullptr; }
  bool capturing() const { return capturing_; }
  // The overlay that waits for the host's card of a capture, if any.
  std::shared_ptr<CaptureTransition> transition(const std::string& captureId) const;

 private:
  void readRequests();
  void respond(const std::optional<std::string>& id, Message result, const std::optional<std::string>& error);
  void flagsChanged(std::uint64_t modifierFlags);
  // Tells the monitor which keys the preset needs.
  void watchPresetKeys();
  void hotkey();
  struct StartedTransition {
    std::shared_ptr<CaptureTransition> value;
    bool flight = false;  // an overlay exists and will fly; the host's "animated"
  };
  StartedTransition startTransition(const platform::RunningApplication& application,
                                    const std::string& captureId);
  void releaseMemoryLater();
  Task<void> capture(platform::RunningApplication application, std::shared_ptr<CaptureTransition> overlay,
                     bool flight, std::string captureId);
  void captureTarget(const Message& request, const std::string& captureId);

  using Transitions = std::map<std::string, std::shared_ptr<CaptureTransition>>;

  const std::vector<std::string> arguments_;
  const std::int32_t hostPid_;
  ChordDetector detector_;
  std::unique_ptr<platform::EventMonitor> monitor_;
  bool capturing_ = false;
  Exit exit_;
  // Shared so that a landing after the service has gone finds no table.
  std::shared_ptr<Transitions> transitions_ = std::make_shared<Transitions>();
};

}  // namespace zoba
