#include "ZobaCapture/DebugCapture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Platform/Image.h"
#include "Platform/Platform.h"
#include "Platform/Task.h"
#include "ZobaCapture/CaptureTransition.h"
#include "ZobaCapture/CommandLine.h"
#include "ZobaCapture/Output.h"
#include "ZobaCapture/Permissions.h"
#include "ZobaCapture/WindowCapture.h"
#include "ZobaCaptureCore/Characters.h"
#include "ZobaCaptureCore/TransitionGeometry.h"

namespace zoba::DebugCapture {

namespace {

std::string writeError(const std::string& path, int error) {
  return "Could not write " + path + ": " + std::strerror(error);
}

// Writes all of `bytes` to `fd`; the errno of the failure, else 0.
int writeAll(int fd, const void* bytes, std::size_t size) {
  const auto* next = static_cast<const char*>(bytes);
  while (size > 0) {
    ssize_t n = ::write(fd, next, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    next += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

std::optional<std::string> writeFile(const std::string& path, const void* bytes, std::size_t size) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return writeError(path, errno);
  int error = writeAll(fd, bytes, size);
  if (::close(fd) != 0 && !error) error = errno;
  if (error) return writeError(path, error);
  return std::nullopt;
}

// A reader sees the old file or the whole new one, never a part.
std::optional<std::string> writeFileAtomically(const std::string& path, const std::string& text) {
  std::string temporary = path + ".XXXXXX";
  int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return writeError(path, errno);
  int error = writeAll(fd, text.data(), text.size());
  if (!error && ::fchmod(fd, 0644) != 0) error = errno;
  if (::close(fd) != 0 && !error) error = errno;
  if (!error && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error) {
    ::unlink(temporary.c_str());
    return writeError(path, error);
  }
  return std::nullopt;
}

// The card the overlay flies to; the host would give its own.
constexpr double testCardRadius = 8;
constexpr Rect testCard(-280, 120, 160, 96);  // origin from the primary screen's right and bottom edges

[[noreturn]] void finish(const Message& message) {
  Output::send(message);
  Output::flush();
  std::_Exit(0);
}

double delaySeconds(const std::optional<std::string>& text) {
  auto seconds = CommandLine::decimal(text.value_or("")).value_or(defaultDelay);
  // A delay that is no count of nanoseconds (negative, NaN) means no wait.
  return std::isnan(seconds) || seconds < 0 ? 0.0 : seconds;
}

// One frame of the helper's own panel over the primary screen, as PNG in
// `directory`; off the main thread. Every failure skips the frame.
void recordFrame(const std::string& directory, int index, double due) {
  auto& screenCapture = *platform::current().screenCapture;
  auto content = screenCapture.shareableContent(false, true);
  auto* list = std::get_if<platform::ShareableContent>(&content);
  if (!list) return;
  const std::int32_t self = ::getpid();
  const platform::ShareableWindow* panel = nullptr;
  for (const auto& window : list->windows) {
    if (window.owningProcessID == self && window.windowLayer != 0 && window.frame.minX() == 0 &&
        window.frame.minY() == 0) {
      panel = &window;
      break;
    }
  }
  if (!panel) return;
  platform::StreamConfiguration configuration;
  configuration.width = static_cast<std::int64_t>(panel->frame.width());
  configuration.height = static_cast<std::int64_t>(panel->frame.height());
  configuration.scalesToFit = true;
  configuration.showsCursor = false;
  auto image = screenCapture.captureImage(screenCapture.filter(*panel), configuration);
  auto* pixels = std::get_if<platform::Image>(&image);
  if (!pixels) return;
  auto png = platform::encodePNG(*pixels);
  if (!png) return;
  (void)writeFile(directory + "/" + frameFileName(index, due), png->data(), png->size());
}

Task<void> run(Options options) {
  if (options.transition) {
    if (auto& layers = platform::current().layers) layers->prepare();
  }
  co_await sleepFor{delaySeconds(options.delay)};

  Message message = {{"type", "debugCapture"}, {"permissions", Permissions::status()}};
  if (auto session = Permissions::session()) message["session"] = std::move(*session);
  if (!message["permissions"]["screenRecording"].get<bool>() ||
      !message["permissions"]["accessibility"].get<bool>())
    finish(message);
  auto application = platform::current().workspace->frontmostApplication();
  if (!application) finish(message);

  CaptureTransition::setTimeScale(timeScale(options.slow));
  std::shared_ptr<CaptureTransition> overlay;
  if (options.transition) {
    overlay = startTransition(*application);
    if (overlay && options.framesDirectory) recordOverlayFrames(*options.framesDirectory).detach();
  }

  auto onImage = [overlay](const platform::Image& image, const std::string&) {
    if (overlay) overlay->setScreenshot(image);
  };
  // Named, not a temporary: GCC 12 destroys some temporaries of a co_await
  // expression twice, and this one holds the overlay.
  WindowCapture::WalkHold walkHold = [overlay] { return overlay ? overlay->secondsUntilReveal() : 0.0; };
  auto result = co_await WindowCapture::capture(*application, onImage, std::move(walkHold));
  if (auto* failure = std::get_if<CaptureFailure>(&result)) {
    if (overlay) overlay->cancel();
    message["error"] = failure->description();
  } else {
    // Known only now that the whole capture is back; an overlay that waited longer
    // than its 1.2 s has already faded.
    if (overlay) overlay->setTarget(debugTarget(), testCardRadius);
    Message payload = std::get<CapturePayload>(result).message();
    if (auto error = writeFiles(payload, options.path)) {
      if (overlay) overlay->cancel();
      message["error"] = *error;
    } else {
      message["capture"] = std::move(payload);
    }
  }
  // The overlay and the frame recorder finish before the line and the exit.
  if (overlay) co_await sleepFor{finalWait * CaptureTransition::timeScale()};
  finish(message);
}

}  // namespace

void start(Options options) { run(std::move(options)).detach(); }

double timeScale(std::optional<double> slow) {
  if (!slow || std::isnan(*slow) || *slow <= 0) return 1.0;
  return std::min(*slow, slowest);
}

std::shared_ptr<CaptureTransition> startTransition(const platform::RunningApplication& application) {
  auto screens = platform::current().workspace->screens();
  if (screens.empty()) return nullptr;
  auto frame = WindowCapture::focusedWindowFrame(application);
  if (!frame) return nullptr;
  // This mode always flies; the reduce-motion setting is not consulted.
  auto overlay = std::make_shared<CaptureTransition>(
      TransitionGeometry::appKitRect(*frame, screens.front().frame.height()), true, [] {
        Output::send({{"type", "debugLanded"}});
      });
  overlay->start();
  return overlay;
}

std::optional<Rect> debugTarget() {
  auto screens = platform::current().workspace->screens();
  if (screens.empty()) return std::nullopt;
  const Rect& primary = screens.front().frame;
  return Rect(primary.maxX() + testCard.origin.x, primary.minY() + testCard.origin.y, testCard.size.width,
              testCard.size.height);
}

std::string frameFileName(int index, double seconds) {
  char name[64];
  std::snprintf(name, sizeof name, "frame-%02d-%.1fs.png", index, seconds);
  return name;
}

Task<void> recordOverlayFrames(std::string directory) {
  double elapsed = 0;
  for (std::size_t i = 0; i < samplingTimes.size(); ++i) {
    const double due = samplingTimes[i] * CaptureTransition::timeScale() / 10;
    // The waits add up to the sampling times; a slow frame makes the later ones late.
    if (due - elapsed > 0) co_await sleepFor{due - elapsed};
    co_await offMainThread([&directory, i, due] { recordFrame(directory, static_cast<int>(i), due); });
    elapsed = std::max(elapsed, due);
  }
}

std::optional<std::string> writeFiles(Message& payload, const std::string& path) {
  if (auto image = payload.find("image"); image != payload.end() && image->is_object()) {
    auto base64 = image->find("base64");
    if (base64 != image->end() && base64->is_string()) {
      if (auto bytes = platform::base64Decode(base64->get_ref<const std::string&>())) {
        if (auto error = writeFile(path, bytes->data(), bytes->size())) return error;
        *base64 = std::to_string(bytes->size()) + " bytes written to " + path;
      }
    }
  }
  if (auto text = payload.find("text"); text != payload.end() && text->is_string()) {
    const std::string whole = text->get<std::string>();
    if (auto error = writeFileAtomically(path + ".txt", whole)) return error;
    payload["textLength"] = Characters::count(whole);
    payload["text"] = Characters::prefix(whole, messageTextCharacters);
  }
  return std::nullopt;
}

}  // namespace zoba::DebugCapture
