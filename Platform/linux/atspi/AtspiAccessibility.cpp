// The connections to the accessibility bus and its applications, and the
// Accessibility interface over them.
#include "Platform/linux/atspi/AtspiAccessibility.h"

#include <algorithm>
#include <chrono>
#include <map>

#include "Platform/linux/Backends.h"
#include "Platform/linux/atspi/AtspiObserver.h"
#include "Platform/linux/atspi/AtspiReplies.h"
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
      {"AXChildren", wantChildren | wantTextRuns},
      {"AXParent", 0},
      {"AXPosition", wantExtents},
      {"AXSize", wantExtents},
  };
  auto it = table.find(attribute);
  if (it == table.end()) return {};
  return {true, it->second};
}

bool isApplicationAttribute(std::string_view attribute) {
  return attribute == "AXFocusedWindow" || attribute == "AXMainWindow" || attribute == "AXWindows" ||
         attribute == "AXFocusedUIElement";
}

bool isChromiumSwitch(std::string_view attribute) {
  return attribute == "AXManualAccessibility" || attribute == "AXEnhancedUserInterface";
}

}  // namespace

bool AtspiAccessibility::connectBus() {
  if (accessibilityBus_ && !g_dbus_connection_is_closed(accessibilityBus_.get())) return true;
  // The bus went away (its daemon ended or was restarted): what was learnt on it
  // names connections that no longer exist, and its unique names will be reused.
  if (accessibilityBus_) forgetBus();
  // A bus that is not there costs one attempt a while, not one per element.
  const double now = monotonicSeconds();
  if (now < nextBusAttempt_) return false;
  nextBusAttempt_ = now + busRetryInterval;
  if (!session_ || g_dbus_connection_is_closed(session_.get())) {
    session_.reset();
    auto sessionAddress = sessionBusAddress();
    if (!sessionAddress) return false;
    session_ = connectToBus(*sessionAddress, 1000ms);
    if (!session_) return false;
  }
  auto address = accessibilityBusAddress(session_.get(), 1000ms);
  if (!address) return false;
  accessibilityBus_ = connectToBus(*address, 1000ms);
  return accessibilityBus_ != nullptr;
}

void AtspiAccessibility::forgetBus() {
  accessibilityBus_.reset();
  applications_.clear();
  pids_.clear();
  prefetched_.clear();
  lastServed_.reset();
  runs_.clear();
}

std::shared_ptr<Application> AtspiAccessibility::application(const std::string& busName) {
  if (auto it = applications_.find(busName); it != applications_.end()) return it->second;
  if (busName.empty() || !connectBus()) return nullptr;
  auto app = std::make_shared<Application>();
  app->busName = busName;
  app->connection = accessibilityBus_.get();
  // The application's own socket spares every call the trip through the bus daemon.
  Reply address =
      bus_.callAndWait(accessibilityBus_.get(), busName.c_str(), rootPath, "org.a11y.atspi.Application",
                       "GetApplicationBusAddress", nullptr, "(s)", setupTimeout);
  const double now = monotonicSeconds();
  if (address) {
    app->lastAnswerAt = now;
    std::string text = stringOf(address.value.get());
    if (!text.empty()) app->direct = bus_.connectPeer(text, setupTimeout);
  } else if (address.timedOut) {
    app->stalledUntil = now + stallHold;
  }
  applications_.emplace(busName, app);
  learnToolkit(app);
  return app;
}

void AtspiAccessibility::learnToolkit(const std::shared_ptr<Application>& app) {
  if (app->toolkitSettled || app->stalled(monotonicSeconds())) return;
  auto done = std::make_shared<bool>(false);
  call(app, rootPath, propertiesInterface, "Get",
       g_variant_new("(ss)", "org.a11y.atspi.Application", "ToolkitName"), "(v)",
       [app, done](const Reply& reply) {
         *done = true;
         if (!reply) {
           app->toolkitSettled = !reply.timedOut;
           return;
         }
         app->toolkitSettled = true;
         GVariantPtr boxed(g_variant_get_child_value(reply.value.get(), 0));
         GVariantPtr name(g_variant_get_variant(boxed.get()));
         if (g_variant_is_of_type(name.get(), G_VARIANT_TYPE_STRING))
           app->toolkit = g_variant_get_string(name.get(), nullptr);
       });
  bus_.waitUntil([&] { return *done; }, monotonicSeconds() + std::min(app->timeout, setupTimeout) + 0.25);
}

std::optional<AXElement> AtspiAccessibility::applicationElement(std::int32_t pid) {
  if (!connectBus()) return std::nullopt;
  Reply reply = bus_.callAndWait(accessibilityBus_.get(), registryName, rootPath, accessibleInterface,
                                 "GetChildren", nullptr, "(a(so))", 1.0);
  if (!reply) return std::nullopt;
  GVariantPtr list(g_variant_get_child_value(reply.value.get(), 0));
  auto candidates = elementsOf(list.get(), "");
  // Ask the bus daemon for the owners not known yet, all at once.
  auto answered = std::make_shared<int>(0);
  int asked = 0;
  for (const auto& candidate : candidates) {
    if (candidate.application.empty() || pids_.contains(candidate.application)) continue;
    ++asked;
    bus_.call(accessibilityBus_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
              "org.freedesktop.DBus", "GetConnectionUnixProcessID",
              g_variant_new("(s)", candidate.application.c_str()), "(u)", 1.0,
              [this, answered, name = candidate.application](Reply owner) {
                ++*answered;
                if (!owner) return;
                guint32 value = 0;
                g_variant_get(owner.value.get(), "(u)", &value);
                pids_[name] = static_cast<std::int32_t>(value);
              });
  }
  bus_.waitUntil([&] { return *answered == asked; }, monotonicSeconds() + 1.5);
  for (const auto& candidate : candidates) {
    auto it = pids_.find(candidate.application);
    if (it != pids_.end() && it->second == pid) return AXElement{candidate.application, rootPath};
  }
  return std::nullopt;
}

void AtspiAccessibility::setMessagingTimeout(const AXElement& element, double seconds) {
  if (seconds <= 0) return;
  if (auto app = application(element.application)) app->timeout = seconds;
}

// ---- the interface -----------------------------------------------------------

std::optional<AXValue> AtspiAccessibility::copyAttributeValue(const AXElement& element,
                                                              std::string_view attribute) {
  if (isRunPath(element.path)) return runAnswer(element, attribute);
  if (attribute == "AXOnScreenDescendants") return onScreenDescendants(element);
  if (isApplicationAttribute(attribute)) {
    if (element.path != rootPath) return std::nullopt;
    return applicationAnswer(element, attribute);
  }
  const AttributeNeed need = needOf(attribute);
  if (!need.known) return std::nullopt;
  auto found = fetch(element, need.wants, false);
  if (!wait(found)) return std::nullopt;
  if (attribute == "AXChildren" && found->children) {
    // A search over the children asks each for its role next.
    for (const auto& child : *found->children) {
      if (prefetched_.size() < prefetchLimit && !prefetched_.contains(child))
        prefetched_.emplace(child, start(child, wantParentRole, false, found->role));
    }
    settleShownChildren(*found);
  }
  if (attribute == "AXRole" || attribute == "AXValue") findEntryChild(*found);
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
      answers.push_back(runAnswer(element, attribute).value_or(AXErrorMarker{}));
    return answers;
  }
  unsigned wants = 0;
  bool cascade = false;
  for (const auto& attribute : attributes) {
    wants |= needOf(attribute).wants;
    cascade = cascade || attribute == "AXChildren";
  }
  // Asking for children and more is a walk: read the children's answers ahead.
  if (cascade && attributes.size() > 1)
    wants |= walkWants;
  else
    cascade = false;
  auto found = fetch(element, wants, cascade);
  lastServed_.reset();
  if (!wait(found)) return std::nullopt;
  lastServed_ = found;
  if (std::find(attributes.begin(), attributes.end(), "AXRole") != attributes.end() ||
      std::find(attributes.begin(), attributes.end(), "AXValue") != attributes.end())
    findEntryChild(*found);
  if (std::find(attributes.begin(), attributes.end(), "AXChildren") != attributes.end())
    settleShownChildren(*found);
  AXArray answers;
  answers.reserve(attributes.size());
  for (const auto& attribute : attributes) {
    if (isApplicationAttribute(attribute)) {
      auto value = element.path == rootPath ? applicationAnswer(element, attribute) : std::nullopt;
      answers.push_back(value ? *value : AXValue(AXErrorMarker{}));
    } else {
      answers.push_back(answer(*found, attribute));
    }
  }
  return answers;
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
  if (isChromiumSwitch(attribute)) return isChromium(element);
  if (!needOf(attribute).known && !isApplicationAttribute(attribute)) return std::nullopt;
  if (isRunPath(element.path)) return runs_.contains(element) ? std::optional<bool>(false) : std::nullopt;
  if (attribute != "AXValue") return false;
  std::shared_ptr<Fetch> found;
  if (lastServed_ && lastServed_->element == element && lastServed_->states &&
      monotonicSeconds() - lastServed_->startedAt < prefetchLifetime)
    found = std::move(lastServed_);  // serves once, like a read-ahead
  else
    found = fetch(element, 0, false);
  if (!wait(found)) return std::nullopt;
  return valueSettable(*found->role, found->states.value_or(StateSet{}));
}

bool AtspiAccessibility::setAttributeValue(const AXElement& element, std::string_view attribute,
                                           const AXValue& value) {
  if (!isChromiumSwitch(attribute)) return false;  // the helper writes nothing else
  const bool* on = value.get<bool>();
  if (!on || !*on || !isChromium(element) || !session_) return false;
  // Chromium builds its tree for assistive technologies when the session says one runs.
  const bool enabled = setAccessibilityEnabled(session_.get(), true, 500ms);
  GErrorSlot error;
  GVariantPtr reply(g_dbus_connection_call_sync(
      session_.get(), "org.a11y.Bus", "/org/a11y/bus", propertiesInterface, "Set",
      g_variant_new("(ssv)", "org.a11y.Status", "ScreenReaderEnabled", g_variant_new_boolean(TRUE)), nullptr,
      G_DBUS_CALL_FLAGS_NONE, 500, nullptr, error.out()));
  return enabled || reply != nullptr;
}

std::unique_ptr<AXObserver> AtspiAccessibility::createObserver(std::int32_t pid,
                                                               AXNotificationHandler handler) {
  auto app = applicationElement(pid);
  if (!app || !accessibilityBus_) return nullptr;
  return makeObserver(accessibilityBus_.get(), app->application, std::move(handler));
}

}  // namespace atspi

std::unique_ptr<Accessibility> makeAccessibility() { return std::make_unique<atspi::AtspiAccessibility>(); }

}  // namespace zoba::platform::linux_backend
