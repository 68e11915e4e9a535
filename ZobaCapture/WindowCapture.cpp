#include "ZobaCapture/WindowCapture.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "Platform/Platform.h"
#include "ZobaCapture/AXTree.h"
#include "ZobaCapture/ChromiumActivation.h"
#include "ZobaCaptureCore/AXTreeFormatter.h"
#include "ZobaCaptureCore/Geometry.h"
#include "ZobaCaptureCore/UnicodeText.h"

namespace zoba::WindowCapture {

namespace {

using platform::Image;

// Work started on a thread of its own now and awaited later, so that it overlaps
// with what the main thread does meanwhile. The awaiting coroutine resumes on the
// main thread.
template <typename T>
class Background {
 public:
  template <typename Work>
  explicit Background(Work work) : state_(std::make_shared<State>()) {
    std::thread([state = state_, work = std::move(work)]() mutable {
      T value = work();
      std::lock_guard lock(state->mutex);
      state->value.emplace(std::move(value));
      if (state->waiting) {
        platform::current().runLoop->post([handle = state->waiting] { handle.resume(); });
      }
    }).detach();
  }

  bool await_ready() {
    std::lock_guard lock(state_->mutex);
    return state_->value.has_value();
  }
  bool await_suspend(std::coroutine_handle<> handle) {
    std::lock_guard lock(state_->mutex);
    if (state_->value) return false;
    state_->waiting = handle;
    return true;
  }
  T await_resume() {
    std::lock_guard lock(state_->mutex);
    return std::move(*state_->value);
  }

 private:
  struct State {
    std::mutex mutex;
    std::optional<T> value;
    std::coroutine_handle<> waiting;
  };
  std::shared_ptr<State> state_;
};

std::optional<platform::AXElement> firstWindow(const platform::AXElement& application) {
  if (auto window = AXTree::element(application, "AXFocusedWindow")) return window;
  return AXTree::element(application, "AXMainWindow");
}

// The walk in slices, the main loop serving requests and the overlay's timers
// between them; the platform keeps fetching ahead meanwhile.
Task<AXSnapshot> walkInSlices(platform::AXElement window, platform::AXElement application, double deadline) {
  auto& clock = *platform::current().runLoop;
  AXTree::Walk walk(window, application, deadline);
  while (!walk.advance(clock.now() + walkSliceSeconds)) co_await yieldToLoop{};
  co_return std::move(walk).take();
}

// UTF-16 code units of the text as the host will read it: ill-formed bytes count
// as the U+FFFD the output writes in their place, as in the formatter's budget.
std::int64_t utf16Length(std::string_view text) {
  std::string storage;
  return UnicodeText::utf16Length(UnicodeText::wellFormed(text, storage));
}

// What the capture keeps of the PNG: its Base64 text, made on the same thread.
struct EncodedScreenshot {
  std::optional<std::string> base64;
};

}  // namespace

std::optional<std::string> snapshotDataURL(const Image& image, double maxEdge) {
  const std::int64_t width = image.width(), height = image.height();
  const std::int64_t longer = height > width ? height : width;
  const double quotient = maxEdge / static_cast<double>(longer);
  const double factor = std::isnan(quotient) ? 1.0 : std::min(quotient, 1.0);
  auto extent = [factor](std::int64_t pixels) -> std::optional<std::int64_t> {
    const double scaled = std::trunc(factor * static_cast<double>(pixels));
    if (!std::isfinite(scaled) || std::abs(scaled) > 1e9) return std::nullopt;
    return std::max<std::int64_t>(static_cast<std::int64_t>(scaled), 1);
  };
  auto w = extent(width), h = extent(height);
  if (!w || !h) return std::nullopt;
  auto context = platform::BitmapContext::create(*w, *h, Image::Format::opaque);
  if (!context) return std::nullopt;
  const Rect whole(0, 0, static_cast<double>(*w), static_cast<double>(*h));
  context->fill(whole, platform::Color{1, 1, 1, 1});
  context->draw(image, whole);
  auto small = std::move(*context).makeImage();
  if (!small) return std::nullopt;
  auto jpeg = platform::encodeJPEG(*small, jpegQuality);
  if (!jpeg) return std::nullopt;
  return "data:image/jpeg;base64," + platform::base64Encode(*jpeg);
}

std::optional<platform::Bytes> pngData(const Image& image) { return platform::encodePNG(image); }

// A web page that is still loading grows its tree as content arrives (Gecko adds
// what the parser delivers, piece by piece, and calls the page BUSY until it has
// loaded; a new tab shows a moment before its page): wait for it, keeping time for
// another walk, and walk again, as often as that takes within the deadline. A
// loaded page costs nothing more.
Task<AXSnapshot> outline(platform::AXElement window, platform::AXElement application) {
  auto& clock = *platform::current().runLoop;
  const double deadline = clock.now() + snapshotSeconds;
  double walkStarted = clock.now();
  AXSnapshot best = co_await walkInSlices(window, application, deadline);
  for (int walks = 1; walks < maxWalks && best.loadingPage && !best.timedOut; ++walks) {
    // The next walk meets a grown tree: twice the last one's time, and more than a poll.
    const double lastStart = deadline - std::max(2 * (clock.now() - walkStarted), 2 * loadPollSeconds);
    if (clock.now() >= lastStart) break;
    while (clock.now() < lastStart && AXTree::isBusy(*best.loadingPage))
      co_await sleepFor{std::min(loadPollSeconds, lastStart - clock.now())};
    walkStarted = clock.now();
    AXSnapshot next = co_await walkInSlices(window, application, deadline);
    // Cut short early, the walk would lose what the last one read.
    if (next.timedOut && next.nodes.size() < best.nodes.size()) break;
    best = std::move(next);
  }
  co_return best;
}

std::optional<std::string> iconBase64(const platform::RunningApplication& application) {
  auto icon = platform::current().workspace->icon(application);
  if (!icon) return std::nullopt;
  auto context = platform::BitmapContext::create(iconSize, iconSize, Image::Format::premultiplied);
  if (!context) return std::nullopt;
  context->draw(*icon, Rect(0, 0, iconSize, iconSize));
  auto drawn = std::move(*context).makeImage();
  if (!drawn) return std::nullopt;
  auto png = platform::encodePNG(*drawn);
  if (!png) return std::nullopt;
  return platform::base64Encode(*png);
}

std::optional<Rect> focusedWindowFrame(const platform::RunningApplication& application) {
  // The window system's frame first: it asks the application nothing, and on
  // Wayland the accessibility frame is relative to the window.
  if (auto frame = platform::current().workspace->focusedWindowFrame(application.pid)) return frame;
  auto& accessibility = *platform::current().accessibility;
  auto app = accessibility.applicationElement(application.pid);
  if (!app) return std::nullopt;
  accessibility.setMessagingTimeout(*app, frameMessagingTimeout);
  auto window = firstWindow(*app);
  if (!window) return std::nullopt;
  return AXTree::frame(*window);
}

Task<CaptureResult> capture(platform::RunningApplication application, ImageHandler onImage,
                            WalkHold walkHold) {
  auto& services = platform::current();
  auto& accessibility = *services.accessibility;
  platform::ScreenCapture* screenCapture = services.screenCapture.get();
  const std::int32_t pid = application.pid;

  auto app = accessibility.applicationElement(pid);
  if (app) accessibility.setMessagingTimeout(*app, captureMessagingTimeout);
  const std::optional<platform::AXElement> first = app ? firstWindow(*app) : std::nullopt;

  auto content =
      co_await offMainThread([screenCapture] { return screenCapture->shareableContent(true, true); });
  if (auto* error = std::get_if<platform::ScreenCaptureError>(&content)) co_return CaptureFailure{*error};

  std::vector<platform::ShareableWindow> kept;
  for (auto& window : std::get<platform::ShareableContent>(content).windows) {
    if (window.owningProcessID != pid) continue;
    if (window.windowLayer != 0) continue;
    if (window.frame.width() < minimumWindowExtent || window.frame.height() < minimumWindowExtent) continue;
    kept.push_back(std::move(window));
  }
  std::vector<Rect> frames;
  for (const auto& window : kept) frames.push_back(window.frame);
  std::optional<Rect> target = services.workspace->focusedWindowFrame(pid);
  if (!target && first) target = AXTree::frame(*first);
  const auto index = WindowMatch::best(target, frames);
  if (!index) co_return CaptureFailure{CaptureError::noWindow};
  const platform::ShareableWindow chosen = kept[*index];

  const platform::ContentFilter filter = screenCapture->filter(chosen);
  // The standardised extents, as the filter above measured them: a raw negative
  // width would otherwise clamp to a 1-pixel screenshot.
  const Size points{chosen.frame.width(), chosen.frame.height()};
  const PixelSize pixels = CaptureSizing::pixels(points, filter.pointPixelScale, maxPixelEdge);
  platform::StreamConfiguration configuration;
  configuration.width = pixels.width;
  configuration.height = pixels.height;
  auto shot = co_await offMainThread(
      [screenCapture, filter, configuration] { return screenCapture->captureImage(filter, configuration); });
  if (auto* error = std::get_if<platform::ScreenCaptureError>(&shot)) co_return CaptureFailure{*error};
  const Image image = std::get<Image>(std::move(shot));

  // The PNG is made on the second core while the main thread hands the
  // screenshot on (the overlay, the preview).
  Background<EncodedScreenshot> encoding([image] {
    auto png = pngData(image);
    return png ? EncodedScreenshot{platform::base64Encode(*png)} : EncodedScreenshot{};
  });
  if (onImage) onImage(image, chosen.title.value_or(""));
  const double holdUntil = services.runLoop->now() + (walkHold ? walkHold() : 0.0);
  EncodedScreenshot encoded = co_await encoding;
  if (!encoded.base64) co_return CaptureFailure{CaptureError::encodingFailed};

  if (app) co_await ChromiumActivation::shared().activate(*app, pid);

  std::string title;
  if (chosen.title) {
    title = *chosen.title;
  } else if (first) {
    title = AXTree::string(*first, "AXTitle").value_or("");
  }

  std::optional<AXSnapshot> snapshot;
  std::optional<platform::AXElement> window;
  // The overlay's reveal starts first: the walk yields to its timers, but it and
  // the application answering it keep both cores busy while the render thread
  // draws the reveal's first frames.
  if (const double wait = holdUntil - services.runLoop->now(); app && wait > 0) co_await sleepFor{wait};
  if (app) {
    window = firstWindow(*app);
    if (!window) window = first;
    if (window) snapshot = co_await outline(*window, *app);
  }

  const std::string name = application.localizedName.value_or("");
  const std::string header = "Window: \"" + title + "\", App: " + name + ".";
  const std::int64_t limit = textBudget - utf16Length(header) - 1;
  const std::vector<AXNodeRecord> none;
  auto formatted = AXTreeFormatter::format(snapshot ? snapshot->nodes : none, limit);
  // What does not fit gives way to what the window shows.
  if (formatted.truncated && snapshot && window) {
    AXTree::markOffScreen(*snapshot, *window);
    formatted = AXTreeFormatter::format(snapshot->nodes, limit);
  }
  // A walk cut short by its deadline read nothing yet; that is no absence.
  if (formatted.text.empty() && !(snapshot && snapshot->timedOut)) formatted.text = noAccessibilityLine;

  CapturePayload payload;
  payload.app.name = name;
  payload.app.bundleId = application.bundleIdentifier.value_or("");
  payload.app.iconBase64 = iconBase64(application);
  payload.windowTitle = std::move(title);
  payload.text = formatted.text.empty() ? header : header + "\n" + formatted.text;
  payload.textTruncated = formatted.truncated || (snapshot && snapshot->timedOut);
  payload.image.width = image.width();
  payload.image.height = image.height();
  payload.image.base64 = std::move(*encoded.base64);
  if (snapshot && snapshot->url) payload.url = snapshot->url;
  co_return payload;
}

}  // namespace zoba::WindowCapture
