#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Events.h"
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

  std::int32_t hostPid() const { return hostPid_; }
  ChordPreset preset() const { return detector_.preset; }
  bool monitoring() const { return monitor_ != nullptr; }

 private:
  void readRequests();
  void respond(const std::optional<std::string>& id, Message result, const std::optional<std::string>& error);
  void flagsChanged(std::uint64_t modifierFlags);
  void hotkey();
  void captureTarget(const Message& request, const std::string& captureId);

  const std::vector<std::string> arguments_;
  const std::int32_t hostPid_;
  ChordDetector detector_;
  std::unique_ptr<platform::EventMonitor> monitor_;
  bool capturing_ = false;
  std::map<std::string, std::shared_ptr<CaptureTransition>> transitions_;
};

}  // namespace zoba
