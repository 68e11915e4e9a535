#include "Platform/Layers.h"

#include <algorithm>
#include <array>

namespace zoba::platform {

struct LayerContext {
  std::unique_ptr<LayerRenderer> renderer;
  std::function<double()> clock;
  std::vector<Panel*> panels;  // alive, in the order made; each removes itself when it goes
  int transactionDepth = 0;
  bool dirty = false;
  std::uint64_t commits = 0;
  std::uint64_t nextPanelId = 1;

  void changed() {
    dirty = true;
    if (transactionDepth == 0) commit();
  }
  void commit();
};

namespace {

constexpr std::array<std::string_view, 6> kKeyPathNames = {"opacity", "shadowOpacity", "position",
                                                           "bounds",  "cornerRadius",  "contentsRect"};

double lerp(double from, double to, double progress) { return from + (to - from) * progress; }

LayerValue interpolate(const LayerValue& from, const LayerValue& to, double progress) {
  if (from.index() != to.index()) return to;
  if (auto* a = std::get_if<double>(&from)) return lerp(*a, std::get<double>(to), progress);
  if (auto* a = std::get_if<Point>(&from)) {
    const auto& b = std::get<Point>(to);
    return Point{lerp(a->x, b.x, progress), lerp(a->y, b.y, progress)};
  }
  const auto& a = std::get<Rect>(from);
  const auto& b = std::get<Rect>(to);
  return Rect(lerp(a.origin.x, b.origin.x, progress), lerp(a.origin.y, b.origin.y, progress),
              lerp(a.size.width, b.size.width, progress), lerp(a.size.height, b.size.height, progress));
}

void flatten(const Layer& layer, int parent, double time, std::vector<RenderLayer>& out);

}  // namespace

std::string_view keyPathName(KeyPath keyPath) { return kKeyPathNames[static_cast<std::size_t>(keyPath)]; }

std::optional<KeyPath> keyPathNamed(std::string_view name) {
  for (std::size_t i = 0; i < kKeyPathNames.size(); ++i) {
    if (kKeyPathNames[i] == name) return static_cast<KeyPath>(i);
  }
  return std::nullopt;
}

// --- values -----------------------------------------------------------------

Rect LayerProperties::frame() const {
  const double w = bounds.width(), h = bounds.height();
  return Rect(position.x - w / 2, position.y - h / 2, w, h);
}

LayerValue LayerProperties::value(KeyPath keyPath) const {
  switch (keyPath) {
    case KeyPath::opacity: return opacity;
    case KeyPath::shadowOpacity: return shadowOpacity;
    case KeyPath::position: return position;
    case KeyPath::bounds: return bounds;
    case KeyPath::cornerRadius: return cornerRadius;
    case KeyPath::contentsRect: return contentsRect;
  }
  return 0.0;
}

void LayerProperties::setValue(KeyPath keyPath, const LayerValue& value) {
  switch (keyPath) {
    case KeyPath::opacity:
      if (auto* v = std::get_if<double>(&value)) opacity = *v;
      break;
    case KeyPath::shadowOpacity:
      if (auto* v = std::get_if<double>(&value)) shadowOpacity = *v;
      break;
    case KeyPath::cornerRadius:
      if (auto* v = std::get_if<double>(&value)) cornerRadius = *v;
      break;
    case KeyPath::position:
      if (auto* v = std::get_if<Point>(&value)) position = *v;
      break;
    case KeyPath::bounds:
      if (auto* v = std::get_if<Rect>(&value)) bounds = *v;
      break;
    case KeyPath::contentsRect:
      if (auto* v = std::get_if<Rect>(&value)) contentsRect = *v;
      break;
  }
}

Animation Animation::basic(KeyPath keyPath, std::optional<LayerValue> from, LayerValue to, double duration) {
  Animation animation;
  animation.keyPath = keyPath;
  animation.from = std::move(from);
  animation.to = std::move(to);
  animation.duration = duration;
  return animation;
}

Animation Animation::spring(KeyPath keyPath, std::optional<LayerValue> from, LayerValue to,
                            double perceptualDuration, double bounce) {
  Animation animation;
  animation.keyPath = keyPath;
  animation.from = std::move(from);
  animation.to = std::move(to);
  SpringCurve curve(perceptualDuration, bounce);
  animation.duration = curve.settlingDuration();
  animation.curve = curve;
  return animation;
}

LayerValue Animation::valueAt(double time) const {
  const LayerValue start = from.value_or(to);
  const double elapsed = time - beginTime;
  double progress;
  if (const auto* spring = std::get_if<SpringCurve>(&curve)) {
    progress = spring->progress(elapsed);
  } else {
    progress = duration > 0 ? CubicBezier::easeOut().solve(elapsed / duration) : 1.0;
  }
  return interpolate(start, to, progress);
}

LayerProperties presentation(const LayerProperties& model, std::span<const Animation> animations,
                             double time) {
  LayerProperties shown = model;
  for (const auto& animation : animations) {
    if (animation.finished(time)) continue;
    shown.setValue(animation.keyPath, animation.valueAt(time));
  }
  return shown;
}

Rect contentsSourceRect(const Rect& unitRect, double imageWidth, double imageHeight) {
  const double left = std::clamp(unitRect.minX(), 0.0, 1.0), right = std::clamp(unitRect.maxX(), 0.0, 1.0);
  const double bottom = std::clamp(unitRect.minY(), 0.0, 1.0), top = std::clamp(unitRect.maxY(), 0.0, 1.0);
  return Rect(left * imageWidth, (1 - top) * imageHeight, (right - left) * imageWidth,
              (top - bottom) * imageHeight);
}

bool RenderTree::animating(double time) const {
  for (const auto& panel : panels) {
    for (const auto& layer : panel.layers) {
      for (const auto& animation : layer.animations) {
        if (!animation.finished(time)) return true;
      }
    }
  }
  return false;
}

// --- layers -------------------------------------------------------------------

Layer::Layer(std::shared_ptr<LayerContext> context) : context_(std::move(context)) {}

void Layer::changed() { context_->changed(); }

void Layer::setFrame(const Rect& frame) {
  model_.position = Point{frame.midX(), frame.midY()};
  model_.bounds = Rect(0, 0, frame.width(), frame.height());
  changed();
}
void Layer::setOpacity(double opacity) { setValue(KeyPath::opacity, opacity); }
void Layer::setCornerRadius(double radius) { setValue(KeyPath::cornerRadius, radius); }
void Layer::setBackgroundColor(std::optional<Color> color) {
  model_.backgroundColor = color;
  changed();
}
void Layer::setMasksToBounds(bool masks) {
  model_.masksToBounds = masks;
  changed();
}
void Layer::setContents(std::optional<Image> image) {
  model_.contents = std::move(image);
  changed();
}
void Layer::setContentsRect(const Rect& unitRect) { setValue(KeyPath::contentsRect, unitRect); }
void Layer::setShadowColor(const Color& color) {
  model_.shadowColor = color;
  changed();
}
void Layer::setShadowOpacity(double opacity) { setValue(KeyPath::shadowOpacity, opacity); }
void Layer::setShadowRadius(double radius) {
  model_.shadowRadius = radius;
  changed();
}
void Layer::setShadowOffset(const Size& offset) {
  model_.shadowOffset = offset;
  changed();
}
void Layer::setValue(KeyPath keyPath, const LayerValue& value) {
  model_.setValue(keyPath, value);
  changed();
}

void Layer::addSublayer(const std::shared_ptr<Layer>& sublayer) {
  if (!sublayer || sublayer.get() == this) return;
  sublayers_.push_back(sublayer);
  changed();
}

void Layer::add(Animation animation, std::string_view key) {
  const double now = context_->clock();
  if (!animation.from) animation.from = presentationValue(animation.keyPath);
  animation.beginTime = now;
  // Finished animations go too: the model value shows once they end.
  std::erase_if(animations_,
                [&](const auto& entry) { return entry.first == key || entry.second.finished(now); });
  animations_.emplace_back(std::string(key), std::move(animation));
  changed();
}

const Animation* Layer::animation(std::string_view key) const {
  for (const auto& [name, animation] : animations_) {
    if (name == key) return &animation;
  }
  return nullptr;
}

std::vector<Animation> Layer::runningAnimations(double time) const {
  std::vector<Animation> running;
  for (const auto& [key, animation] : animations_) {
    if (!animation.finished(time)) running.push_back(animation);
  }
  return running;
}

LayerValue Layer::presentationValue(KeyPath keyPath) const { return presentation().value(keyPath); }

LayerProperties Layer::presentation() const {
  const auto running = runningAnimations(context_->clock());
  return platform::presentation(model_, running, context_->clock());
}

// --- panels -------------------------------------------------------------------

Panel::Panel(std::shared_ptr<LayerContext> context, std::uint64_t id, const Rect& frame)
    : context_(std::move(context)), id_(id), frame_(frame), root_(std::make_shared<Layer>(context_)) {
  root_->model_.bounds = Rect(0, 0, frame.width(), frame.height());
  root_->model_.position = Point{frame.width() / 2, frame.height() / 2};
  context_->panels.push_back(this);
}

Panel::~Panel() {
  std::erase(context_->panels, this);
  if (visible_) context_->changed();
}

void Panel::orderFrontRegardless() {
  visible_ = true;
  context_->changed();
}

void Panel::orderOut() {
  visible_ = false;
  context_->changed();
}

// --- the service and its commits ----------------------------------------------

namespace {

void flatten(const Layer& layer, int parent, double time, std::vector<RenderLayer>& out) {
  RenderLayer entry;
  entry.model = layer.model();
  entry.animations = layer.runningAnimations(time);
  entry.parent = parent;
  out.push_back(std::move(entry));
  const int index = static_cast<int>(out.size()) - 1;
  for (const auto& sublayer : layer.sublayers()) flatten(*sublayer, index, time, out);
}

}  // namespace

void LayerContext::commit() {
  dirty = false;
  ++commits;
  const double time = clock();
  auto tree = std::make_shared<RenderTree>();
  for (Panel* panel : panels) {
    if (!panel->visible()) continue;
    RenderPanel rendered;
    rendered.id = panel->id();
    rendered.frame = panel->frame();
    flatten(*panel->rootLayer(), -1, time, rendered.layers);
    tree->panels.push_back(std::move(rendered));
  }
  if (renderer) renderer->commit(std::move(tree));
}

Layers::Layers(std::unique_ptr<LayerRenderer> renderer, std::function<double()> clock)
    : context_(std::make_shared<LayerContext>()) {
  context_->renderer = std::move(renderer);
  context_->clock = std::move(clock);
}

Layers::~Layers() = default;

std::shared_ptr<Panel> Layers::makePanel(const Rect& screenFrame) {
  return std::make_shared<Panel>(context_, context_->nextPanelId++, screenFrame.standardized());
}

std::shared_ptr<Layer> Layers::makeLayer() { return std::make_shared<Layer>(context_); }

double Layers::now() const { return context_->clock(); }

void Layers::prepare() {
  if (context_->renderer) context_->renderer->prepare();
}

std::uint64_t Layers::commits() const { return context_->commits; }

Layers::Transaction::Transaction(Layers& layers) : context_(layers.context_) { ++context_->transactionDepth; }

Layers::Transaction::~Transaction() {
  if (--context_->transactionDepth == 0 && context_->dirty) context_->commit();
}

}  // namespace zoba::platform
