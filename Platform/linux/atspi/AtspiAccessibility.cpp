#include "Platform/linux/atspi/AtspiAccessibility.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <utility>

#include "Platform/linux/Backends.h"
#include "Platform/linux/atspi/AtspiAnswers.h"
#include "Platform/linux/atspi/AtspiChildren.h"
#include "Platform/linux/atspi/AtspiObserver.h"
#include "Platform/linux/atspi/AtspiTextRuns.h"
#include "Platform/linux/dbus/AccessibilityBus.h"

namespace zoba::platform::linux_backend {

namespace atspi {
namespace {

using namespace std::chrono_literals;

// What an attribute needs fetched; 0 with `known` false for attributes this backend does not have.
struct AttributeNeed {
  bool known = false;
  unsigned wants = 0;
};

AttributeNeed needOf(std::string_view attribute) {
  static const std::map<std::string_view, unsigned, std::less<>> table{
      {"AXRole", wantParentRole},
      {"AXRoleDescription", wantRoleName},
      {"AXTitle", 0},
      {"AXDescription", 0},
      {"AXValue", wantValue},
      {"AXPlaceholderValue", wantAttributes},
      {"AXURL", wantURL},
      {"AXSelected", 0},
      {"AXEnabled", 0},
      {"AXFocused", 0},
      {"AXElementBusy", 0},
      {"AXChildren", wantChildren | wantTextRuns},
      {"AXParent", 0},
      {"AXPosition", wantExtents},
      {"AXSize", wantExtents},
  };
  auto it = table.find(attribute);
  if (it == table.end()) return {};
  return {true, it->second};
}

struct FetchNeeds {
  unsigned wants = 0;
  bool cascade = false;
};

// What a fetch for these attributes asks.
FetchNeeds fetchNeeds(std::span<const std::string> attributes) {
  FetchNeeds needs;
  for (const auto& attribute : attributes) {
    needs.wants |= needOf(attribute).wants;
    needs.cascade = needs.cascade || attribute == "AXChildren";
  }
  // Asking for children and more is a walk: read the children's answers ahead.
  if (needs.cascade && attributes.size() > 1)
    needs.wants |= walkWants;
  else
    needs.cascade = false;
  return needs;
}

bool isApplicationAttribute(std::string_view attribute) {
  return attribute == "AXFocusedWindow" || attribute == "AXMainWindow" || attribute == "AXWindows" ||
         attribute == "AXFocusedUIElement";
}

bool isChromiumSwitch(std::string_view attribute) {
  return attribute == "AXManualAccessibility" || attribute == "AXEnhancedUserInterface";
}

}  // namespace

AtspiAccessibility::AtspiAccessibility() {
  engine_.onForget([this] {
    runs_.clear();
    lastServed_.reset();
  });
}

std::optional<AXElement> AtspiAccessibility::applicationElement(std::int32_t pid) {
  return engine_.applicationOf(pid);
}

void AtspiAccessibility::setMessagingTimeout(const AXElement& element, double seconds) {
  if (seconds <= 0) return;
  if (auto app = engine_.application(element.application)) app->timeout = seconds;
}

std::optional<AXValue> AtspiAccessibility::copyAttributeValue(const AXElement& element,
                                                              std::string_view attribute) {
  if (isRunPath(element.path)) return runs_.answer(element, attribute);
  if (attribute == "AXOnScreenDescendants") return onScreenDescendants(engine_, runs_, element);
  if (isApplicationAttribute(attribute)) {
    if (element.path != rootPath) return std::nullopt;
    if (attribute == "AXFocusedUIElement" && focusAhead_ && focusAhead_->application == element &&
        focusAhead_->fresh(monotonicSeconds())) {
      const FocusSearch ahead = *std::exchange(focusAhead_, std::nullopt);
      if (auto focused = focusedElement(engine_, ahead.window, &ahead)) return AXValue(*focused);
      return std::nullopt;
    }
    return applicationAnswer(engine_, element, attribute);
  }
  const AttributeNeed need = needOf(attribute);
  if (!need.known) return std::nullopt;
  auto found = engine_.fetch(element, need.wants, false);
  if (!engine_.wait(found)) return std::nullopt;
  if (attribute == "AXChildren" && found->children) {
    // A search over the children asks each for its role next.
    for (const auto& child : *found->children) engine_.readAhead(child, wantParentRole, found->role);
    settleChildren(*found);
  }
  if (attribute == "AXRole" || attribute == "AXValue") findEntryChild(engine_, *found);
  AXValue value = answer(*found, attribute);
  if (value.get<AXErrorMarker>()) return std::nullopt;
  return value;
}

std::optional<AXArray> AtspiAccessibility::copyMultipleAttributeValues(
    const AXElement& element, std::span<const std::string> attributes) {
  if (isRunPath(element.path)) {
    if (!runs_.contains(element)) return std::nullopt;
    AXArray answers;
    answers.reserve(attributes.size());
    for (const auto& attribute : attributes)
      answers.push_back(runs_.answer(element, attribute).value_or(AXErrorMarker{}));
    return answers;
  }
  const auto [wants, cascade] = fetchNeeds(attributes);
  auto found = engine_.fetch(element, wants, cascade);
  lastServed_.reset();
  if (!engine_.wait(found)) return std::nullopt;
  lastServed_ = found;
  if (std::find(attributes.begin(), attributes.end(), "AXRole") != attributes.end() ||
      std::find(attributes.begin(), attributes.end(), "AXValue") != attributes.end())
    findEntryChild(engine_, *found);
  if (std::find(attributes.begin(), attributes.end(), "AXChildren") != attributes.end())
    settleChildren(*found);
  AXArray answers;
  answers.reserve(attributes.size());
  for (const auto& attribute : attributes) {
    if (isApplicationAttribute(attribute)) {
      auto value = element.path == rootPath ? applicationAnswer(engine_, element, attribute) : std::nullopt;
      answers.push_back(value ? *value : AXValue(AXErrorMarker{}));
    } else {
      answers.push_back(answer(*found, attribute));
    }
  }
  return answers;
}

bool AtspiAccessibility::prepareAnswers(const AXElement& element, std::span<const std::string> attributes,
                                        double seconds) {
  if (isRunPath(element.path)) return true;
  const double until = monotonicSeconds() + std::max(seconds, 0.0);
  if (attributes.size() == 1 && attributes.front() == "AXFocusedUIElement") {
    if (element.path != rootPath) return true;
    if (!focusAhead_ || focusAhead_->application != element || !focusAhead_->fresh(monotonicSeconds())) {
      focusAhead_.reset();
      auto window = focusWindow(engine_, element);
      if (window) focusAhead_ = startFocusSearch(engine_, element, *window);
      if (!focusAhead_) return true;  // the question searches level by level itself
    }
    return waitForFocusSearch(engine_, *focusAhead_, until);
  }
  const auto [wants, cascade] = fetchNeeds(attributes);
  // The fetch the answers will take, started now if none is on its way, and kept
  // for them; where it cannot be kept, the answers fetch and wait themselves.
  auto found = engine_.fetch(element, wants, cascade);
  if (!engine_.keepAhead(element, found)) return true;
  const auto& app = found->application;
  if (!engine_.waitUntil([&] { return found->finished() || app->stalled(monotonicSeconds()); }, until))
    return false;
  // The answers settle the children a user sees from the children's own answers.
  if (!cascade || !found->finished() || found->failed) return true;
  return waitForChildren(engine_, *found, until);
}

std::optional<std::int64_t> AtspiAccessibility::attributeValueCount(const AXElement& element,
                                                                    std::string_view attribute) {
  if (attribute != "AXChildren") {
    auto value = copyAttributeValue(element, attribute);
    if (!value) return std::nullopt;
    if (const auto* array = value->get<AXArray>()) return static_cast<std::int64_t>(array->size());
    return std::nullopt;
  }
  // Counts what the user can see, like the children's answer.
  auto children = copyAttributeValue(element, "AXChildren");
  if (!children || !children->get<AXArray>()) return std::nullopt;
  return static_cast<std::int64_t>(children->get<AXArray>()->size());
}

std::optional<bool> AtspiAccessibility::isAttributeSettable(const AXElement& element,
                                                            std::string_view attribute) {
  if (isChromiumSwitch(attribute)) return engine_.isChromium(element);
  if (!needOf(attribute).known && !isApplicationAttribute(attribute)) return std::nullopt;
  if (isRunPath(element.path)) return runs_.contains(element) ? std::optional<bool>(false) : std::nullopt;
  if (attribute != "AXValue") return false;
  std::shared_ptr<Fetch> found;
  if (lastServed_ && lastServed_->element == element && lastServed_->states &&
      monotonicSeconds() - lastServed_->startedAt < prefetchLifetime)
    found = std::move(lastServed_);  // serves once, like a read-ahead
  else
    found = engine_.fetch(element, 0, false);
  if (!engine_.wait(found)) return std::nullopt;
  return valueSettable(*found->role, found->states.value_or(StateSet{}));
}

bool AtspiAccessibility::setAttributeValue(const AXElement& element, std::string_view attribute,
                                           const AXValue& value) {
  if (!isChromiumSwitch(attribute)) return false;  // the helper writes nothing else
  const bool* on = value.get<bool>();
  if (!on || !*on || !engine_.isChromium(element) || !engine_.sessionBus()) return false;
  GDBusConnection* session = engine_.sessionBus();
  // Chromium builds its tree for assistive technologies when the session says one runs.
  const bool enabled = setAccessibilityEnabled(session, true, 500ms);
  GErrorSlot error;
  GVariantPtr reply(g_dbus_connection_call_sync(
      session, "org.a11y.Bus", "/org/a11y/bus", propertiesInterface, "Set",
      g_variant_new("(ssv)", "org.a11y.Status", "ScreenReaderEnabled", g_variant_new_boolean(TRUE)), nullptr,
      G_DBUS_CALL_FLAGS_NONE, 500, nullptr, error.out()));
  return enabled || reply != nullptr;
}

std::unique_ptr<AXObserver> AtspiAccessibility::createObserver(std::int32_t pid,
                                                               AXNotificationHandler handler) {
  auto app = applicationElement(pid);
  if (!app || !engine_.accessibilityBus()) return nullptr;
  return makeObserver(engine_.accessibilityBus(), app->application, std::move(handler));
}

void AtspiAccessibility::settleChildren(Fetch& fetch) {
  if (settleShownChildren(engine_, fetch)) runs_.place(fetch);
}

}  // namespace atspi

std::unique_ptr<Accessibility> makeAccessibility() { return std::make_unique<atspi::AtspiAccessibility>(); }

}  // namespace zoba::platform::linux_backend
