#pragma once

// The overlay of one capture: a white shutter flashes over the captured window,
// the screenshot shows in a card exactly where the window is, the card lifts
// (shrinks a little, gains a shadow) and flies on a spring into the host's card,
// or fades where it is when the host names none. Then it reports the landing and
// its panels go.
//
// Main thread only. Own it through std::shared_ptr (make_shared): every pending
// delayed step holds the instance, so it lives until its last step has run. Each
// public step commits its layer changes in one transaction before it returns,
// because the main thread may block in an accessibility walk right after it.

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Platform/Image.h"
#include "Platform/Layers.h"
#include "Platform/Workspace.h"
#include "ZobaCaptureCore/Rect.h"

namespace zoba {

class CaptureTransition : public std::enable_shared_from_this<CaptureTransition> {
 public:
  enum class Phase { shutter, lifted, flying, finished };

  struct Target {
    Rect frame;  // bottom-left screen space
    double radius = 8;
  };

  // The three layers of one screen's panel; the root holds shutter then card, so
  // the card draws above the shutter; the card holds the image.
  struct Surface {
    std::shared_ptr<platform::Panel> panel;
    std::shared_ptr<platform::Layer> shutter;
    std::shared_ptr<platform::Layer> card;   // carries the shadow
    std::shared_ptr<platform::Layer> image;  // carries the screenshot, the corners, the clipping
  };

  // The layers animate() can name.
  enum class SurfaceLayer { shutter, card };

  // Shows nothing yet. `sourceFrame` is the window's frame in bottom-left space;
  // without `flight` (reduced motion) only the shutter flashes and no landing is
  // reported. `onLanded` is called at most once, on the main thread.
  CaptureTransition(Rect sourceFrame, bool flight, std::function<void()> onLanded);
  CaptureTransition(const CaptureTransition&) = delete;
  CaptureTransition& operator=(const CaptureTransition&) = delete;

  // Builds one panel per screen and starts the shutter flash and the safety timer.
  // Call once, right after construction.
  void start();
  // Shown no earlier than 0.1 s × timeScale after start(); later ones are ignored.
  void setScreenshot(const platform::Image& image);
  // The host's card (bottom-left space) or none. The first answer wins, whether it
  // comes from here or from the overlay's own 1.2 s timeout.
  void setTarget(std::optional<Rect> frame, double radius);
  // Ends at once without reporting a landing.
  void cancel();

  // Multiplies every duration and delay of every overlay; 1 normally. Set it before
  // an overlay starts. A value that is not a positive finite number is ignored, as
  // every delay is divided and multiplied by it.
  static double timeScale() { return timeScale_; }
  static void setTimeScale(double scale);

  // Read-only state, for the owner and the tests.
  Phase phase() const { return phase_; }
  // Seconds until a screenshot handed over now is revealed, a frame's margin
  // included; 0 once it has been revealed or the overlay has ended.
  double secondsUntilReveal() const;
  Rect cardFrame() const { return cardFrame_; }
  Size imageSize() const { return imageSize_; }
  const std::optional<Target>& target() const { return target_; }
  bool targetResolved() const { return targetResolved_; }
  const std::vector<Surface>& surfaces() const { return surfaces_; }

 private:
  void revealScreenshot(const platform::Image& image);
  void flyOrFade();
  void finish(bool landed);
  void land();
  // Animates every surface's card and image to `frame` with `radius`.
  void move(const Rect& frame, double radius, double duration, bool spring);
  // Animates one number of every surface's `layer` from what is on screen to `to`.
  void animate(SurfaceLayer layer, platform::KeyPath keyPath, double to, double duration);
  // Runs `work` on the main thread after delay × timeScale seconds, holding this.
  void after(double delay, std::function<void(CaptureTransition&)> work);
  static Surface makeSurface(const platform::Screen& screen);

  static inline double timeScale_ = 1.0;

  const Rect sourceFrame_;
  const bool flight_;
  std::function<void()> onLanded_;  // emptied when called, so it runs at most once
  std::vector<Surface> surfaces_;
  Phase phase_ = Phase::shutter;
  Size imageSize_;
  Rect cardFrame_;
  std::optional<Target> target_;
  bool targetResolved_ = false;
  double startedAt_ = 0;  // seconds of the run loop's clock
};

}  // namespace zoba
