#pragma once

// A small layer-and-animation engine for the capture overlay: panels (one
// borderless, click-through, always-on-top window over one screen) holding a tree
// of layers with frames, opacity, rounded corners, shadows and image contents,
// animated by ease-out and spring animations keyed by property.
//
// The model lives on the main thread. Every change is part of a transaction; a
// commit hands an immutable snapshot of the shown panels (model values and
// running animations with their begin times) to the renderer in one handoff, and
// the renderer evaluates the animations at each frame's time on its own. There
// are no implicit animations: a model change without an explicit animation takes
// effect at once.
//
// Geometry follows the layer toolkit the overlay was designed with: panel frames
// are in bottom-left screen space; a layer's position is the centre of its frame
// in its superlayer's coordinates (y up) and its bounds give its size; contents
// always stretch to fill the bounds, showing the part of the image that the unit
// contents rectangle (y up) names.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Platform/Image.h"
#include "ZobaCaptureCore/Rect.h"
#include "ZobaCaptureCore/TimingCurves.h"

namespace zoba::platform {

// The animatable properties.
enum class KeyPath { opacity, shadowOpacity, position, bounds, cornerRadius, contentsRect };
// "opacity", "shadowOpacity", "position", "bounds", "cornerRadius", "contentsRect".
std::string_view keyPathName(KeyPath keyPath);
std::optional<KeyPath> keyPathNamed(std::string_view name);

// A number for opacity, shadow opacity and corner radius; a point for position; a
// rectangle for bounds and contents rectangle.
using LayerValue = std::variant<double, Point, Rect>;

// Everything a layer draws with, as plain values.
struct LayerProperties {
  Point position;
  Rect bounds;
  double opacity = 1;
  double cornerRadius = 0;
  std::optional<Color> backgroundColor;  // absent: clear
  bool masksToBounds = false;            // clips contents and sublayers to the rounded bounds
  std::optional<Image> contents;
  Rect contentsRect{0, 0, 1, 1};
  Color shadowColor{0, 0, 0, 1};
  double shadowOpacity = 0;
  double shadowRadius = 3;
  Size shadowOffset{0, -3};  // y up: (0, −6) casts the shadow 6 points below

  Rect frame() const;  // position and bounds as one rectangle in the superlayer
  LayerValue value(KeyPath keyPath) const;
  void setValue(KeyPath keyPath, const LayerValue& value);  // a value of the wrong kind is ignored
};

// One animation of one property from one value to another.
struct Animation {
  struct EaseOut {};
  using Curve = std::variant<EaseOut, SpringCurve>;

  KeyPath keyPath = KeyPath::opacity;
  std::optional<LayerValue> from;  // absent: the presentation value when it is added
  LayerValue to;
  double duration = 0;  // seconds
  Curve curve = EaseOut{};
  double beginTime = 0;  // the media time it was added at; set by Layer::add

  // The ease-out basic animation.
  static Animation basic(KeyPath keyPath, std::optional<LayerValue> from, LayerValue to, double duration);
  // A spring made from a perceptual duration and a bounce, running for its own
  // settling duration.
  static Animation spring(KeyPath keyPath, std::optional<LayerValue> from, LayerValue to,
                          double perceptualDuration, double bounce);

  bool finished(double time) const { return !(time < beginTime + duration); }
  // The value at `time` while it runs.
  LayerValue valueAt(double time) const;
};

// A layer's model values with the running animations applied at `time`.
LayerProperties presentation(const LayerProperties& model, std::span<const Animation> animations,
                             double time);

// The part of an image, in pixels with a top-left origin, that a unit contents
// rectangle (y up from the image's bottom-left corner) names; clamped to the image.
Rect contentsSourceRect(const Rect& unitRect, double imageWidth, double imageHeight);

// --- what a commit hands to the renderer ------------------------------------

struct RenderLayer {
  LayerProperties model;
  std::vector<Animation> animations;  // running at the commit
  int parent = -1;                    // index in the panel's list; −1 for the root
};

struct RenderPanel {
  std::uint64_t id = 0;             // stable for the panel's life
  Rect frame;                       // bottom-left screen space
  std::vector<RenderLayer> layers;  // pre-order: every parent before its sublayers, siblings bottom to top
};

struct RenderTree {
  std::vector<RenderPanel> panels;  // the shown panels; an absent panel is hidden or gone
  // Whether some animation still runs at `time`.
  bool animating(double time) const;
};

// The backend that puts committed trees on screen.
class LayerRenderer {
 public:
  virtual ~LayerRenderer() = default;
  // Takes the newest tree; called on the main thread, returns at once.
  virtual void commit(std::shared_ptr<const RenderTree> tree) = 0;
  // Gets ready to draw (a connection to the display, say) without waiting for it,
  // so that the first frame of the first panel is not late.
  virtual void prepare() {}
};

// --- the model ---------------------------------------------------------------

class Layers;
// The state the service, its panels and its layers share (Layers.cpp).
struct LayerContext;

class Layer {
 public:
  explicit Layer(std::shared_ptr<LayerContext> context);
  Layer(const Layer&) = delete;
  Layer& operator=(const Layer&) = delete;

  const LayerProperties& model() const { return model_; }
  Rect frame() const { return model_.frame(); }
  void setFrame(const Rect& frame);
  void setOpacity(double opacity);
  void setCornerRadius(double radius);
  void setBackgroundColor(std::optional<Color> color);
  void setMasksToBounds(bool masks);
  void setContents(std::optional<Image> image);
  void setContentsRect(const Rect& unitRect);
  void setShadowColor(const Color& color);
  void setShadowOpacity(double opacity);
  void setShadowRadius(double radius);
  void setShadowOffset(const Size& offset);
  void setValue(KeyPath keyPath, const LayerValue& value);
  LayerValue modelValue(KeyPath keyPath) const { return model_.value(keyPath); }

  // Drawn above the sublayers added before it.
  void addSublayer(const std::shared_ptr<Layer>& sublayer);
  const std::vector<std::shared_ptr<Layer>>& sublayers() const { return sublayers_; }

  // Starts `animation` now under `key`, replacing a running animation of that key.
  void add(Animation animation, std::string_view key);
  const Animation* animation(std::string_view key) const;
  // The value on screen now: the model value with every running animation applied.
  LayerValue presentationValue(KeyPath keyPath) const;
  LayerProperties presentation() const;
  // The animations still running at `time`, in the order added.
  std::vector<Animation> runningAnimations(double time) const;

 private:
  friend class Panel;
  void changed();

  std::shared_ptr<LayerContext> context_;
  LayerProperties model_;
  std::vector<std::shared_ptr<Layer>> sublayers_;
  std::vector<std::pair<std::string, Animation>> animations_;  // by key, in the order added
};

class Panel {
 public:
  Panel(std::shared_ptr<LayerContext> context, std::uint64_t id, const Rect& frame);
  ~Panel();
  Panel(const Panel&) = delete;
  Panel& operator=(const Panel&) = delete;

  std::uint64_t id() const { return id_; }
  Rect frame() const { return frame_; }  // bottom-left screen space
  // Holds the panel's layers; its bounds are (0, 0, width, height) of the frame.
  const std::shared_ptr<Layer>& rootLayer() const { return root_; }
  // Shows the panel above every application's window without activating anything.
  void orderFrontRegardless();
  void orderOut();
  bool visible() const { return visible_; }

 private:
  std::shared_ptr<LayerContext> context_;
  std::uint64_t id_;
  Rect frame_;
  std::shared_ptr<Layer> root_;
  bool visible_ = false;
};

// The service: makes panels and layers, groups changes into transactions and
// commits them to its renderer. Main thread only.
class Layers {
 public:
  // `clock` is the media clock (the run loop's monotonic seconds).
  Layers(std::unique_ptr<LayerRenderer> renderer, std::function<double()> clock);
  ~Layers();

  // A panel over `screenFrame` (bottom-left space), not shown yet. It and its
  // layers leave the screen when the last reference to it goes.
  std::shared_ptr<Panel> makePanel(const Rect& screenFrame);
  std::shared_ptr<Layer> makeLayer();
  double now() const;
  // Readies the renderer ahead of the first panel; returns at once.
  void prepare();

  // Changes made while one is open reach the screen together, when the outermost
  // closes. A change outside any transaction is committed at once.
  class Transaction {
   public:
    explicit Transaction(Layers& layers);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

   private:
    std::shared_ptr<LayerContext> context_;
  };

  // The number of commits so far (tests read it).
  std::uint64_t commits() const;

 private:
  std::shared_ptr<LayerContext> context_;
};

}  // namespace zoba::platform
