#include "ZobaCapture/Service.h"

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <thread>

#include "Platform/Platform.h"
#include "ZobaCapture/CallerCheck.h"
#include "ZobaCapture/CaptureId.h"
#include "ZobaCapture/CaptureTarget.h"
#include "ZobaCapture/CaptureTransition.h"
#include "ZobaCapture/CommandLine.h"
#include "ZobaCapture/DebugCapture.h"
#include "ZobaCapture/LineReader.h"
#include "ZobaCapture/Output.h"
#include "ZobaCapture/Permissions.h"
#include "ZobaCapture/RequestParser.h"
#include "ZobaCapture/Utf8.h"
#include "ZobaCapture/WindowCapture.h"
#include "ZobaCaptureCore/TransitionGeometry.h"

namespace zoba {

namespace {

// Ends the process without static destructors: the reader thread may still be
// posting to the main loop they would tear down.
[[noreturn]] void endProcess(int status) { std::_Exit(status); }

std::string_view rawValue(ChordPreset preset) { return ChordPresets::rawValue(preset); }

// The longer edge of the preview the host shows before the capture is complete.
constexpr double snapshotMaxEdge = 640;

}  // namespace

CaptureService::CaptureService(std::vector<std::string> arguments)
    : arguments_(std::move(arguments)),
      hostPid_(CommandLine::integer(CommandLine::value("--host-pid", arguments_).value_or("")).value_or(0)),
      detector_(ChordPresets::fromRawValue(CommandLine::value("--hotkey", arguments_).value_or(""))
                    .value_or(ChordPreset::shift)),
      exit_(endProcess) {}

void CaptureService::run() {
  if (!CallerCheck::allows(hostPid_)) {
    constexpr std::string_view refusal = "zoba-capture: refusing a caller that is not Zoba\n";
    [[maybe_unused]] auto written = ::write(STDERR_FILENO, refusal.data(), refusal.size());
    endProcess(77);
  }
  // A host that goes away must fail our writes, not kill us.
  std::signal(SIGPIPE, SIG_IGN);
  // (An accessory application on other desktops; X11 has no Dock to stay out of.)

  if (auto path = CommandLine::value("--debug-capture", arguments_)) {
    DebugCapture::start({.path = *path,
                         .delay = CommandLine::value("--delay", arguments_),
                         .transition = CommandLine::has("--debug-transition", arguments_),
                         .slow = CommandLine::decimal(CommandLine::value("--slow", arguments_).value_or("")),
                         .framesDirectory = CommandLine::value("--debug-frames", arguments_)});
    platform::current().runLoop->run();
    endProcess(0);
  }

  installMonitor();
  // The overlay's renderer connects while the helper waits for its first chord.
  if (auto& layers = platform::current().layers) layers->prepare();
  std::thread([this] { readRequests(); }).detach();
  // Queued before the loop runs, so it is the first line even when requests wait.
  Output::send(readyMessage());
  platform::current().runLoop->run();
  endProcess(0);
}

void CaptureService::installMonitor() {
  // The monitor lives in a field, so its handler never outlives the service.
  monitor_ = platform::current().events->addGlobalFlagsChangedMonitor(
      [this](std::uint64_t modifierFlags) { flagsChanged(modifierFlags); });
  watchPresetKeys();
}

void CaptureService::watchPresetKeys() {
  if (!monitor_) return;
  monitor_->watchKeys(ChordPresets::leftKeyBit(detector_.preset) |
                      ChordPresets::rightKeyBit(detector_.preset));
}

Message CaptureService::readyMessage() const {
  Message message = {{"type", "ready"},
                     {"version", 1},
                     {"hotkey", rawValue(detector_.preset)},
                     {"permissions", Permissions::status()}};
  if (auto session = Permissions::session()) message["session"] = std::move(*session);
  return message;
}

void CaptureService::readRequests() {
  auto& runLoop = *platform::current().runLoop;
  LineReader reader(STDIN_FILENO, maxRequestLength);
  while (auto line = reader.next()) {
    runLoop.post([this, text = Utf8::replacingInvalid(*line)] { handle(text); });
  }
  // End of input: the output is not flushed; a host that wants every line sends "shutdown".
  runLoop.post([this] { exit_(0); });
}

void CaptureService::handle(std::string_view line) {
  auto request = parseRequest(line);
  if (!request) return;
  const auto& type = (*request)["type"].get_ref<const std::string&>();
  std::optional<std::string> id;
  if (auto entry = request->find("id"); entry != request->end() && entry->is_string())
    id = entry->get<std::string>();

  auto text = [&](const char* key) -> std::optional<std::string> {
    auto entry = request->find(key);
    if (entry == request->end() || !entry->is_string()) return std::nullopt;
    return entry->get<std::string>();
  };

  if (type == "status") {
    Message result = {{"permissions", Permissions::status()}, {"hotkey", rawValue(detector_.preset)}};
    if (auto session = Permissions::session()) result["session"] = std::move(*session);
    respond(id, result, std::nullopt);
  } else if (type == "requestPermission") {
    auto permission = text("permission");
    if (permission && Permissions::request(*permission)) {
      respond(id, {{"permissions", Permissions::status()}}, std::nullopt);
    } else {
      respond(id, Message::object(), "Unknown permission");
    }
  } else if (type == "setHotkey") {
    auto name = text("hotkey");
    auto preset = name ? ChordPresets::fromRawValue(*name) : std::nullopt;
    if (preset) {
      detector_ = ChordDetector(*preset);  // a new detector starts armed
      watchPresetKeys();
      respond(id, {{"hotkey", rawValue(*preset)}}, std::nullopt);
    } else {
      respond(id, Message::object(), "Unknown hotkey");
    }
  } else if (type == "captureTarget") {
    auto captureId = text("captureId");
    if (captureId) {
      captureTarget(*request, *captureId);
      respond(id, Message::object(), std::nullopt);
    } else {
      respond(id, Message::object(), "Missing capture");
    }
  } else if (type == "shutdown") {
    Output::flush();
    exit_(0);
  } else {
    respond(id, Message::object(), "Unknown request");
  }
}

void CaptureService::respond(const std::optional<std::string>& id, Message result,
                             const std::optional<std::string>& error) {
  if (!id) return;
  Message response{{"type", "response"}, {"id", *id}, {"ok", !error}};
  if (error) {
    response["error"] = *error;
  } else {
    response["result"] = std::move(result);
  }
  Output::send(response);
}

void CaptureService::flagsChanged(std::uint64_t modifierFlags) {
  if (detector_.update(modifierFlags)) hotkey();
}

void CaptureService::hotkey() {
  auto application = platform::current().workspace->frontmostApplication();
  if (!application) return;
  if (application->pid == hostPid_ || application->pid == ::getpid()) {
    Output::send({{"type", "hotkey"}, {"target", "host"}});
    return;
  }
  auto permissions = Permissions::status();
  if (!permissions["screenRecording"].get<bool>() || !permissions["accessibility"].get<bool>()) {
    Output::send({{"type", "hotkey"}, {"target", "setup"}, {"permissions", permissions}});
    return;
  }
  if (capturing_) return;  // a chord during a running capture is dropped
  capturing_ = true;
  std::string captureId = CaptureId::make();
  auto [overlay, flight] = startTransition(*application, captureId);
  Output::send({{"type", "hotkey"}, {"target", "capture"}, {"captureId", captureId}, {"animated", flight}});
  capture(std::move(*application), std::move(overlay), flight, std::move(captureId)).detach();
}

CaptureService::StartedTransition CaptureService::startTransition(
    const platform::RunningApplication& application, const std::string& captureId) {
  auto& workspace = *platform::current().workspace;
  auto screens = workspace.screens();
  if (screens.empty()) return {};
  auto frame = WindowCapture::focusedWindowFrame(application);
  if (!frame) return {};
  const bool flight = !workspace.accessibilityDisplayShouldReduceMotion();
  const Rect sourceFrame = TransitionGeometry::appKitRect(*frame, screens.front().frame.height());
  std::weak_ptr<Transitions> table = transitions_;
  auto overlay = std::make_shared<CaptureTransition>(sourceFrame, flight, [table, captureId] {
    if (auto transitions = table.lock()) transitions->erase(captureId);
    Output::send({{"type", "captureLanded"}, {"captureId", captureId}});
  });
  // Only a flying overlay can use the host's card.
  if (flight) (*transitions_)[captureId] = overlay;
  overlay->start();
  return {std::move(overlay), flight};
}

Task<void> CaptureService::capture(platform::RunningApplication application,
                                   std::shared_ptr<CaptureTransition> overlay, bool flight,
                                   std::string captureId) {
  auto onImage = [overlay, flight, application, captureId](const platform::Image& image,
                                                           const std::string& title) {
    if (overlay) overlay->setScreenshot(image);
    if (!flight) return;  // a capture without flight sends no preview
    auto dataUrl = WindowCapture::snapshotDataURL(image, snapshotMaxEdge);
    if (!dataUrl) return;
    Message snapshot{{"dataUrl", std::move(*dataUrl)},
                     {"appName", application.localizedName.value_or("")},
                     {"windowTitle", title}};
    if (auto icon = WindowCapture::iconBase64(application)) snapshot["iconBase64"] = std::move(*icon);
    Output::send({{"type", "captureSnapshot"}, {"captureId", captureId}, {"snapshot", std::move(snapshot)}});
  };
  // Named, not a temporary: GCC 12 destroys some temporaries of a co_await
  // expression twice, and this one holds the overlay.
  WindowCapture::WalkHold walkHold = [overlay] { return overlay ? overlay->secondsUntilReveal() : 0.0; };
  auto result = co_await WindowCapture::capture(application, std::move(onImage), std::move(walkHold));
  if (auto* payload = std::get_if<CapturePayload>(&result)) {
    // The id is a UUID and needs no escaping; the payload's Base64 skips the JSON writer.
    Output::sendLine(R"({"type":"capture","captureId":")" + captureId + R"(","capture":)" + payload->json() +
                     "}");
    capturing_ = false;
    releaseMemoryLater();
    co_return;
  }
  if (overlay) overlay->cancel();
  transitions_->erase(captureId);
  Output::send({{"type", "captureFailed"},
                {"captureId", captureId},
                {"error", std::get<CaptureFailure>(result).description()}});
  capturing_ = false;
  releaseMemoryLater();
}

void CaptureService::releaseMemoryLater() {
  // By then the capture's pixels, PNG and lines are written and freed.
  constexpr double afterCapture = 1.0;
  platform::current().runLoop->after(afterCapture, [] { platform::current().process->releaseFreedMemory(); });
}

std::shared_ptr<CaptureTransition> CaptureService::transition(const std::string& captureId) const {
  auto found = transitions_->find(captureId);
  return found == transitions_->end() ? nullptr : found->second;
}

void CaptureService::captureTarget(const Message& request, const std::string& captureId) {
  auto screens = platform::current().workspace->screens();
  const Rect primary = screens.empty() ? Rect() : screens.front().frame;
  auto overlay = transitions_->find(captureId);
  if (overlay == transitions_->end()) return;  // no overlay waits for this capture
  auto target = CaptureTarget::of(request, primary.height());
  // The host counts from the primary screen's corner; where the primary screen is
  // not the leftmost (or topmost) one, that corner is not the desktop's.
  if (target.frame) {
    target.frame->origin.x += primary.origin.x;
    target.frame->origin.y += primary.origin.y;
  }
  // The overlay keeps only the first answer.
  overlay->second->setTarget(target.frame, target.radius);
}

}  // namespace zoba
