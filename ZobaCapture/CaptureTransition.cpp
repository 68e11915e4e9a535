#include "ZobaCapture/CaptureTransition.h"

#include <cassert>
#include <cmath>
#include <utility>

#include "Platform/Platform.h"
#include "ZobaCaptureCore/TransitionGeometry.h"

namespace zoba {

namespace {

using platform::KeyPath;

// Nominal seconds; every one is multiplied by the time scale where it is used.
constexpr double flashDuration = 0.06;  // the shutter's flash to white
constexpr double minimumReveal = 0.1;   // the flash is seen before the screenshot replaces it
constexpr double shutterFadeDuration = 0.18;
constexpr double liftDuration = 0.22;
constexpr double targetWait = 1.2;           // how long the lifted card waits for the host's card
constexpr double fadeDuration = 0.28;        // the card fading where it is, without a host card
constexpr double landedFadeDuration = 0.14;  // the card fading inside the host's card
constexpr double safetyTimeout = 4.0;        // ends everything, whatever went missing
constexpr double revealMargin = 0.005;       // lets the reveal's timer fire before a wait that ends with it

constexpr double shutterOpacity = 0.85;
constexpr double cornerRadius = 10;  // the window's own rounding, roughly
constexpr double liftedShadowOpacity = 0.28;
constexpr double shadowRadius = 18;
constexpr Size shadowOffset{0, -6};  // y up: below the card
constexpr double springBounce = 0.06;

// A rectangle of screen space in the coordinates of a panel over `panelFrame`.
Rect local(const Rect& frame, const Rect& panelFrame) {
  Rect standard = frame.standardized();
  return Rect(standard.origin.x - panelFrame.minX(), standard.origin.y - panelFrame.minY(), standard.width(),
              standard.height());
}

platform::Layers* layerService() { return platform::current().layers.get(); }

// The changes of one step reach the screen together, when the step returns.
class StepTransaction {
 public:
  StepTransaction() {
    if (auto* layers = layerService()) transaction_.emplace(*layers);
  }

 private:
  std::optional<platform::Layers::Transaction> transaction_;
};

}  // namespace

CaptureTransition::CaptureTransition(Rect sourceFrame, bool flight, std::function<void()> onLanded)
    : sourceFrame_(sourceFrame),
      flight_(flight),
      onLanded_(std::move(onLanded)),
      cardFrame_(sourceFrame),
      startedAt_(platform::current().runLoop->now()) {}

void CaptureTransition::setTimeScale(double scale) {
  if (std::isfinite(scale) && scale > 0) timeScale_ = scale;
}

CaptureTransition::Surface CaptureTransition::makeSurface(const platform::Screen& screen) {
  auto& layers = *layerService();
  Surface surface{layers.makePanel(screen.frame), layers.makeLayer(), layers.makeLayer(), layers.makeLayer()};
  surface.shutter->setBackgroundColor(platform::Color{1, 1, 1, 1});
  surface.shutter->setOpacity(0);
  surface.card->setOpacity(0);
  surface.card->setShadowColor(platform::Color{0, 0, 0, 1});
  surface.card->setShadowOpacity(0);
  surface.card->setShadowRadius(shadowRadius);
  surface.card->setShadowOffset(shadowOffset);
  surface.image->setMasksToBounds(true);  // contents always stretch to the bounds
  surface.panel->rootLayer()->addSublayer(surface.shutter);
  surface.panel->rootLayer()->addSublayer(surface.card);
  surface.card->addSublayer(surface.image);
  return surface;
}

void CaptureTransition::start() {
  startedAt_ = platform::current().runLoop->now();
  if (auto* layers = layerService()) {
    platform::Layers::Transaction transaction(*layers);
    for (const auto& screen : platform::current().workspace->screens()) {
      Surface surface = makeSurface(screen);
      const Rect frame = local(sourceFrame_, surface.panel->frame());
      surface.shutter->setFrame(frame);
      surface.shutter->setCornerRadius(cornerRadius);
      surface.card->setFrame(frame);
      surface.image->setFrame(Rect(0, 0, frame.width(), frame.height()));
      surface.image->setCornerRadius(cornerRadius);
      surface.panel->orderFrontRegardless();
      surfaces_.push_back(std::move(surface));
    }
    animate(SurfaceLayer::shutter, KeyPath::opacity, shutterOpacity, flashDuration);
  }
  after(safetyTimeout, [](CaptureTransition& self) { self.finish(true); });
}

void CaptureTransition::setScreenshot(const platform::Image& image) {
  const double elapsed = platform::current().runLoop->now() - startedAt_;
  const double remaining = minimumReveal * timeScale_ - elapsed;
  if (remaining > 0) {
    // after() multiplies by the time scale again.
    after(remaining / timeScale_, [image](CaptureTransition& self) { self.revealScreenshot(image); });
  } else {
    revealScreenshot(image);
  }
}

void CaptureTransition::revealScreenshot(const platform::Image& image) {
  if (phase_ != Phase::shutter) return;
  StepTransaction transaction;
  if (!flight_) {
    phase_ = Phase::finished;
    animate(SurfaceLayer::shutter, KeyPath::opacity, 0, shutterFadeDuration);
    after(shutterFadeDuration, [](CaptureTransition& self) { self.finish(false); });
    return;
  }
  phase_ = Phase::lifted;
  imageSize_ = Size{static_cast<double>(image.width()), static_cast<double>(image.height())};
  for (auto& surface : surfaces_) {
    surface.image->setContents(image);
    surface.card->setOpacity(1);
  }
  animate(SurfaceLayer::shutter, KeyPath::opacity, 0, shutterFadeDuration);
  move(TransitionGeometry::liftedRect(sourceFrame_), cornerRadius, liftDuration, false);
  animate(SurfaceLayer::card, KeyPath::shadowOpacity, liftedShadowOpacity, liftDuration);
  if (targetResolved_) {
    flyOrFade();
  } else {
    after(targetWait, [](CaptureTransition& self) {
      if (self.targetResolved_) return;
      self.target_.reset();
      self.targetResolved_ = true;
      if (self.phase_ == Phase::lifted) self.flyOrFade();
    });
  }
}

void CaptureTransition::setTarget(std::optional<Rect> frame, double radius) {
  if (targetResolved_) return;
  targetResolved_ = true;
  if (frame) {
    target_ = Target{*frame, radius};
  } else {
    target_.reset();
  }
  if (phase_ == Phase::lifted) flyOrFade();
}

void CaptureTransition::flyOrFade() {
  if (phase_ != Phase::lifted) return;
  StepTransaction transaction;
  if (!target_) {
    phase_ = Phase::finished;
    animate(SurfaceLayer::card, KeyPath::opacity, 0, fadeDuration);
    after(fadeDuration, [](CaptureTransition& self) { self.finish(true); });
    return;
  }
  phase_ = Phase::flying;
  const double response = TransitionGeometry::springResponse(cardFrame_, target_->frame);
  move(target_->frame, target_->radius, response, true);
  animate(SurfaceLayer::card, KeyPath::shadowOpacity, 0, response);
  // The landing is announced when the spring's perceptual duration ends, while
  // it may still settle, and before the card fades inside the host's card.
  after(response, [](CaptureTransition& self) {
    if (self.phase_ != Phase::flying) return;
    self.land();
    StepTransaction fade;
    self.animate(SurfaceLayer::card, KeyPath::opacity, 0, landedFadeDuration);
    self.after(landedFadeDuration, [](CaptureTransition& later) { later.finish(false); });
  });
}

void CaptureTransition::cancel() { finish(false); }

double CaptureTransition::secondsUntilReveal() const {
  if (phase_ != Phase::shutter || surfaces_.empty()) return 0;
  const double remaining = minimumReveal * timeScale_ - (platform::current().runLoop->now() - startedAt_);
  return remaining > 0 ? remaining + revealMargin : 0;
}

void CaptureTransition::finish(bool landed) {
  if (surfaces_.empty()) return;
  if (landed && phase_ != Phase::flying) land();
  phase_ = Phase::finished;
  StepTransaction transaction;
  for (auto& surface : surfaces_) surface.panel->orderOut();
  surfaces_.clear();
}

void CaptureTransition::land() {
  // The owner may drop its last reference from inside the callback.
  auto keepAlive = shared_from_this();
  if (auto callback = std::exchange(onLanded_, nullptr)) callback();
}

void CaptureTransition::move(const Rect& frame, double radius, double duration, bool spring) {
  const Rect contents =
      TransitionGeometry::coverContentsRect(imageSize_, Size{frame.width(), frame.height()});
  StepTransaction transaction;
  const double seconds = duration * timeScale_;
  auto animation = [&](KeyPath keyPath, platform::LayerValue to) {
    // No from-value: the layer starts it from what is on screen now, so a flight
    // that begins during the lift continues from wherever the card is.
    return spring ? platform::Animation::spring(keyPath, std::nullopt, std::move(to), seconds, springBounce)
                  : platform::Animation::basic(keyPath, std::nullopt, std::move(to), seconds);
  };
  for (auto& surface : surfaces_) {
    const Rect to = local(frame, surface.panel->frame());
    const double w = to.width();
    const double h = to.height();
    const Rect bounds(0, 0, w, h);
    surface.card->add(animation(KeyPath::position, Point{to.midX(), to.midY()}), "position");
    surface.card->add(animation(KeyPath::bounds, bounds), "bounds");
    surface.image->add(animation(KeyPath::position, Point{w / 2, h / 2}), "position");
    surface.image->add(animation(KeyPath::bounds, bounds), "bounds");
    surface.image->add(animation(KeyPath::cornerRadius, radius), "cornerRadius");
    surface.image->add(animation(KeyPath::contentsRect, contents), "contentsRect");
    surface.card->setFrame(to);
    surface.image->setFrame(bounds);
    surface.image->setCornerRadius(radius);
    surface.image->setContentsRect(contents);
  }
  cardFrame_ = frame;
}

void CaptureTransition::animate(SurfaceLayer layer, KeyPath keyPath, double to, double duration) {
  if (surfaces_.empty()) return;
  StepTransaction transaction;
  // Single precision, as the value travels in the layer toolkit the overlay follows.
  const double value = static_cast<float>(to);
  for (auto& surface : surfaces_) {
    auto& target = layer == SurfaceLayer::shutter ? *surface.shutter : *surface.card;
    target.add(platform::Animation::basic(keyPath, std::nullopt, value, duration * timeScale_),
               platform::keyPathName(keyPath));
    target.setValue(keyPath, value);
  }
}

void CaptureTransition::after(double delay, std::function<void(CaptureTransition&)> work) {
  platform::current().runLoop->after(delay * timeScale_,
                                     [self = shared_from_this(), work = std::move(work)] { work(*self); });
}

}  // namespace zoba
