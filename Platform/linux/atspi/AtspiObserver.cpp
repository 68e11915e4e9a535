#include "Platform/linux/atspi/AtspiObserver.h"

#include <set>
#include <vector>

#include "Platform/linux/handles/GLibPtr.h"

namespace zoba::platform::linux_backend::atspi {

namespace {

constexpr const char* objectEvents = "org.a11y.atspi.Event.Object";

constexpr EventName focusEvents[] = {
    {objectEvents, "StateChanged", "focused", "object:state-changed:focused"},
    {"org.a11y.atspi.Event.Focus", "Focus", nullptr, "focus:"},
};
constexpr EventName windowEvents[] = {
    {"org.a11y.atspi.Event.Window", "Activate", nullptr, "window:activate"},
};
constexpr EventName valueEvents[] = {
    {objectEvents, "PropertyChange", "accessible-value", "object:property-change:accessible-value"},
    {objectEvents, "TextChanged", nullptr, "object:text-changed"},
};
constexpr EventName titleEvents[] = {
    {objectEvents, "PropertyChange", "accessible-name", "object:property-change:accessible-name"},
};
constexpr EventName selectionEvents[] = {
    {objectEvents, "SelectionChanged", nullptr, "object:selection-changed"},
};
constexpr EventName layoutEvents[] = {
    {objectEvents, "BoundsChanged", nullptr, "object:bounds-changed"},
    {objectEvents, "ChildrenChanged", nullptr, "object:children-changed"},
};

struct Delivery {
  std::string notification;
  std::shared_ptr<AXNotificationHandler> handler;
};

void delivered(GDBusConnection*, const gchar* sender, const gchar* path, const gchar*, const gchar*,
               GVariant*, gpointer data) {
  const auto* delivery = static_cast<const Delivery*>(data);
  (*delivery->handler)(AXElement{sender ? sender : "", path ? path : ""}, delivery->notification);
}

void tellRegistry(GDBusConnection* bus, const char* method, GVariant* parameters) {
  // Nobody waits for the answer: the bridges start sending when the registry tells them.
  g_dbus_connection_call(bus, "org.a11y.atspi.Registry", "/org/a11y/atspi/registry",
                         "org.a11y.atspi.Registry", method, parameters, nullptr,
                         G_DBUS_CALL_FLAGS_NO_AUTO_START, 1000, nullptr, nullptr, nullptr);
}

class AtspiObserver final : public AXObserver {
 public:
  AtspiObserver(GDBusConnection* bus, std::string busName, AXNotificationHandler handler)
      : bus_(G_DBUS_CONNECTION(g_object_ref(bus))),
        busName_(std::move(busName)),
        handler_(std::make_shared<AXNotificationHandler>(std::move(handler))) {}

  ~AtspiObserver() override {
    for (guint id : subscriptions_) g_dbus_connection_signal_unsubscribe(bus_.get(), id);
    for (const auto& event : registered_)
      tellRegistry(bus_.get(), "DeregisterEvent", g_variant_new("(s)", event.c_str()));
  }
  AtspiObserver(const AtspiObserver&) = delete;
  AtspiObserver& operator=(const AtspiObserver&) = delete;

  bool addNotification(const AXElement& element, std::string_view notification) override {
    auto events = eventsFor(notification);
    if (events.empty() || element.application != busName_) return false;
    for (const EventName& event : events) {
      // Owned by the subscription from here on; freed when it ends.
      auto delivery = std::make_unique<Delivery>(Delivery{std::string(notification), handler_});
      subscriptions_.push_back(g_dbus_connection_signal_subscribe(
          bus_.get(), busName_.c_str(), event.signalInterface, event.member, nullptr, event.detail,
          G_DBUS_SIGNAL_FLAGS_NONE, delivered, delivery.release(),
          [](gpointer data) { delete static_cast<Delivery*>(data); }));
      if (registered_.insert(event.registry).second) {
        GVariantBuilder properties;
        g_variant_builder_init(&properties, G_VARIANT_TYPE("as"));
        tellRegistry(bus_.get(), "RegisterEvent",
                     g_variant_new("(sass)", event.registry, &properties, busName_.c_str()));
      }
    }
    return true;
  }

 private:
  GObjectPtr<GDBusConnection> bus_;
  std::string busName_;
  std::shared_ptr<AXNotificationHandler> handler_;
  std::vector<guint> subscriptions_;
  std::set<std::string> registered_;
};

}  // namespace

std::span<const EventName> eventsFor(std::string_view notification) {
  if (notification == "AXFocusedUIElementChanged") return focusEvents;
  if (notification == "AXFocusedWindowChanged") return windowEvents;
  if (notification == "AXValueChanged") return valueEvents;
  if (notification == "AXTitleChanged") return titleEvents;
  if (notification == "AXSelectedChildrenChanged") return selectionEvents;
  if (notification == "AXLayoutChanged") return layoutEvents;
  return {};
}

std::unique_ptr<AXObserver> makeObserver(GDBusConnection* bus, std::string busName,
                                         AXNotificationHandler handler) {
  return std::make_unique<AtspiObserver>(bus, std::move(busName), std::move(handler));
}

}  // namespace zoba::platform::linux_backend::atspi
