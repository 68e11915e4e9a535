#include "tests/fakes/FakeAccessibility.h"

#include <algorithm>

#include "Platform/Platform.h"

namespace zoba::fakes {

using platform::AXArray;

namespace {
class FakeObserver final : public platform::AXObserver {
 public:
  explicit FakeObserver(FakeAccessibility& owner) : owner_(owner) {}
  bool addNotification(const platform::AXElement&, std::string_view notification) override {
    ++owner_.calls.notifications;
    owner_.notificationLog.emplace_back(notification);
    return true;
  }

 private:
  FakeAccessibility& owner_;
};
}  // namespace

platform::AXElement FakeAccessibility::add(std::map<std::string, AXValue, std::less<>> attributes,
                                           std::string application) {
  AXElement element{std::move(application), "/element/" + std::to_string(next_++)};
  nodes_[element].attributes = std::move(attributes);
  return element;
}

void FakeAccessibility::setChildren(const AXElement& parent, const std::vector<AXElement>& children) {
  AXArray array(children.begin(), children.end());
  nodes_.at(parent).attributes["AXChildren"] = std::move(array);
}

platform::AXElement FakeAccessibility::addTree(const std::string& role,
                                               const std::vector<AXElement>& children) {
  AXElement element = add({{"AXRole", role}});
  setChildren(element, children);
  return element;
}

FakeAccessibility::Node* FakeAccessibility::touch(const AXElement& element) {
  auto it = nodes_.find(element);
  if (it == nodes_.end()) return nullptr;
  if (it->second.delay > 0 && elapse) elapse(it->second.delay);
  if (it->second.answersIn > 0 && elapse) elapse(it->second.answersIn);
  it->second.answersIn = 0;
  return &it->second;
}

bool FakeAccessibility::prepareAnswers(const AXElement& element, std::span<const std::string>,
                                       double seconds) {
  ++calls.prepare;
  auto it = nodes_.find(element);
  if (it == nodes_.end() || it->second.answersIn <= 0) return true;
  const double waited = std::clamp(seconds, 0.0, it->second.answersIn);
  if (elapse) elapse(waited);
  it->second.answersIn -= waited;
  return it->second.answersIn <= 0;
}

std::optional<platform::AXElement> FakeAccessibility::applicationElement(std::int32_t pid) {
  auto it = applications_.find(pid);
  if (it == applications_.end()) return std::nullopt;
  return it->second;
}

void FakeAccessibility::setMessagingTimeout(const AXElement& element, double seconds) {
  timeouts[element.application] = seconds;
}

std::optional<platform::AXValue> FakeAccessibility::copyAttributeValue(const AXElement& element,
                                                                       std::string_view attribute) {
  ++calls.single;
  Node* node = touch(element);
  if (!node) return std::nullopt;
  auto it = node->attributes.find(attribute);
  if (it == node->attributes.end() || it->second.get<platform::AXErrorMarker>()) return std::nullopt;
  return it->second;
}

std::optional<AXArray> FakeAccessibility::copyMultipleAttributeValues(
    const AXElement& element, std::span<const std::string> attributes) {
  ++calls.multiple;
  Node* node = touch(element);
  if (!node || node->failMultiple) return std::nullopt;
  AXArray answers;
  for (const std::string& name : attributes) {
    auto it = node->attributes.find(name);
    answers.push_back(it == node->attributes.end() ? AXValue{} : it->second);
  }
  if (node->multipleLength) answers.resize(*node->multipleLength);
  return answers;
}

std::optional<std::int64_t> FakeAccessibility::attributeValueCount(const AXElement& element,
                                                                   std::string_view attribute) {
  ++calls.count;
  Node* node = touch(element);
  if (!node) return std::nullopt;
  auto it = node->attributes.find(attribute);
  if (it == node->attributes.end()) return std::nullopt;
  const auto* array = it->second.get<AXArray>();
  if (!array) return std::nullopt;
  return static_cast<std::int64_t>(array->size());
}

std::optional<bool> FakeAccessibility::isAttributeSettable(const AXElement& element,
                                                           std::string_view attribute) {
  ++calls.settable;
  Node* node = touch(element);
  if (!node) return std::nullopt;
  return node->settable.contains(attribute);
}

bool FakeAccessibility::setAttributeValue(const AXElement& element, std::string_view attribute,
                                          const AXValue&) {
  ++calls.set;
  setLog.emplace_back(attribute);
  Node* node = touch(element);
  return node && node->acceptsSet.contains(attribute);
}

std::unique_ptr<platform::AXObserver> FakeAccessibility::createObserver(std::int32_t,
                                                                        platform::AXNotificationHandler) {
  ++calls.observers;
  if (failObserverCreation) return nullptr;
  return std::make_unique<FakeObserver>(*this);
}

FakeAccessibilityPlatform installFakeAccessibility(double start) {
  auto services = std::make_unique<platform::Services>();
  auto loop = std::make_unique<testing_support::VirtualClockLoop>(
      testing_support::VirtualClockLoop::Timers::whenIdle, start);
  auto accessibility = std::make_unique<FakeAccessibility>();
  FakeAccessibilityPlatform installed{*loop, *accessibility};
  services->runLoop = std::move(loop);
  services->accessibility = std::move(accessibility);
  platform::install(std::move(services));
  return installed;
}

}  // namespace zoba::fakes
