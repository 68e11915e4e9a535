// Accessibility on the AT-SPI bus with GDBus.
//
// Speed comes from the number of calls and from keeping many in flight: an
// application answers about ten thousand calls a second, one after the other. So
// every element costs as few calls as its role needs, sent on the application's
// own peer connection, and when a walk reads an element's children the backend
// at once asks for everything the walk will ask of each child, and of theirs; the
// walk then finds most elements already answered. Where the bridge's cache holds
// an element, its role, states, name and place in the tree cost no call at all.

#include <algorithm>
#include <chrono>
#include <map>

#include "Platform/linux/AccessibilityBus.h"
#include "Platform/linux/Backends.h"
#include "Platform/linux/atspi/AtspiBus.h"
#include "Platform/linux/atspi/AtspiFetch.h"
#include "Platform/linux/atspi/AtspiObserver.h"
#include "Platform/linux/atspi/AtspiStats.h"

namespace zoba::platform::linux_backend {

namespace atspi {
namespace {

using namespace std::chrono_literals;

constexpr const char* accessibleInterface = "org.a11y.atspi.Accessible";
constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";
constexpr const char* registryName = "org.a11y.atspi.Registry";
constexpr double stallHold = 2.0;          // how long a silent application is treated as not answering
constexpr double prefetchLifetime = 3.0;   // answers older than this are asked again
constexpr int maxInFlight = 48;
constexpr double cacheLifetime = 0.5;      // the bridge's cache is reloaded after this
constexpr std::size_t prefetchLimit = 12000;  // bounds the answers a cascade keeps ahead of the walk
constexpr double setupTimeout = 0.5;

StateSet statesOf(GVariant* array) {
  StateSet states;
  gsize count = 0;
  const auto* words = static_cast<const guint32*>(g_variant_get_fixed_array(array, &count, sizeof(guint32)));
  if (count > 0) states.bits |= words[0];
  if (count > 1) states.bits |= static_cast<std::uint64_t>(words[1]) << 32;
  return states;
}

std::vector<AXElement> elementsOf(GVariant* array, const std::string& fallbackBus) {
  std::vector<AXElement> elements;
  elements.reserve(g_variant_n_children(array));
  GVariantIter iter;
  g_variant_iter_init(&iter, array);
  const char* bus = nullptr;
  const char* path = nullptr;
  while (g_variant_iter_next(&iter, "(&s&o)", &bus, &path)) elements.push_back(AXElement{*bus ? bus : fallbackBus, path});
  return elements;
}

std::map<std::string, std::string> dictionaryOf(GVariant* dictionary) {
  std::map<std::string, std::string> result;
  GVariantIter iter;
  g_variant_iter_init(&iter, dictionary);
  const char* key = nullptr;
  const char* value = nullptr;
  while (g_variant_iter_next(&iter, "{&s&s}", &key, &value)) result.emplace(key, value);
  return result;
}

std::optional<std::string> firstNonEmpty(const std::map<std::string, std::string>& attributes,
                                         std::initializer_list<const char*> keys) {
  for (const char* key : keys) {
    auto it = attributes.find(key);
    if (it != attributes.end() && !it->second.empty()) return it->second;
  }
  return std::nullopt;
}

std::string stringOf(GVariant* reply) {
  const char* text = nullptr;
  g_variant_get(reply, "(&s)", &text);
  return text ? text : "";
}

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
      {"AXChildren", wantChildren},
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

bool isWindowRole(AtspiRole role) {
  switch (role) {
    case ATSPI_ROLE_FRAME:
    case ATSPI_ROLE_WINDOW:
    case ATSPI_ROLE_DIALOG:
    case ATSPI_ROLE_ALERT:
    case ATSPI_ROLE_FILE_CHOOSER: return true;
    default: return false;
  }
}

class AtspiAccessibility final : public Accessibility, public CallCounter {
 public:
  ~AtspiAccessibility() override = default;

  std::optional<AXElement> applicationElement(std::int32_t pid) override;
  void setMessagingTimeout(const AXElement& element, double seconds) override;
  std::optional<AXValue> copyAttributeValue(const AXElement& element, std::string_view attribute) override;
  std::optional<AXArray> copyMultipleAttributeValues(const AXElement& element,
                                                     std::span<const std::string> attributes) override;
  std::optional<std::int64_t> attributeValueCount(const AXElement& element, std::string_view attribute) override;
  std::optional<bool> isAttributeSettable(const AXElement& element, std::string_view attribute) override;
  bool setAttributeValue(const AXElement& element, std::string_view attribute, const AXValue& value) override;
  std::unique_ptr<AXObserver> createObserver(std::int32_t pid, AXNotificationHandler handler) override;

  std::uint64_t callsSent() const override { return bus_.callsSent(); }

 private:
  bool connectBus();
  std::shared_ptr<Application> application(const std::string& busName);

  // One call to the application, with its health bookkeeping; a call to an
  // application that is not answering is not sent and reads as timed out.
  void call(const std::shared_ptr<Application>& app, const std::string& path, const char* interface,
            const char* method, GVariant* parameters, const char* replyType, std::function<void(const Reply&)> done,
            CallKey key = {});
  void pump(const std::shared_ptr<Application>& app);
  // One call whose answer `fetch` waits for.
  void send(const std::shared_ptr<Fetch>& fetch, const std::string& path, const char* interface, const char* method,
            GVariant* parameters, const char* replyType, std::function<void(Fetch&, GVariant*)> read);
  void finishPart(const std::shared_ptr<Fetch>& fetch);

  // A fetch with `key` as its place in line; without one it starts a line of its own.
  std::shared_ptr<Fetch> start(const AXElement& element, unsigned wants, bool cascade,
                               std::optional<AtspiRole> parentRole = {}, std::optional<CallKey> key = {});
  void startDetails(const std::shared_ptr<Fetch>& fetch);
  void requestStates(const std::shared_ptr<Fetch>& fetch);
  void requestRoleName(const std::shared_ptr<Fetch>& fetch);
  void prefetchChildren(const Fetch& parent);
  bool fillFromCache(Fetch& fetch);
  void loadCache(const std::shared_ptr<Application>& app);

  // The answers for `element`: a prefetched one that covers `wants`, else a fresh fetch.
  std::shared_ptr<Fetch> fetch(const AXElement& element, unsigned wants, bool cascade);
  bool wait(const std::shared_ptr<Fetch>& fetch);
  // Settles whether a combo box holds a text entry, from its children's roles.
  void findEntryChild(Fetch& fetch);
  bool waitAll(const std::vector<std::shared_ptr<Fetch>>& fetches);

  AXValue answer(const Fetch& fetch, std::string_view attribute) const;
  std::optional<AXValue> applicationAnswer(const AXElement& app, std::string_view attribute);
  std::vector<std::shared_ptr<Fetch>> topLevelWindows(const AXElement& app);
  std::optional<AXElement> focusedElement(const AXElement& window);
  bool isChromium(const AXElement& element);

  GObjectPtr<GDBusConnection> session_;
  GObjectPtr<GDBusConnection> accessibilityBus_;
  bool busTried_ = false;
  std::unordered_map<std::string, std::shared_ptr<Application>> applications_;
  std::unordered_map<std::string, std::int32_t> pids_;  // unique bus names never change hands
  std::unordered_map<AXElement, std::shared_ptr<Fetch>> prefetched_;
  // The last multi-attribute answer: a walk asks the same element next whether its value is settable.
  std::shared_ptr<Fetch> lastServed_;
  // Declared last, destroyed first: its destructor drains callbacks that use the members above.
  Bus bus_;
};

// ---- connections -------------------------------------------------------------

bool AtspiAccessibility::connectBus() {
  if (accessibilityBus_) return true;
  if (busTried_) return false;
  busTried_ = true;
  auto sessionAddress = sessionBusAddress();
  if (!sessionAddress) return false;
  session_ = connectToBus(*sessionAddress, 1000ms);
  if (!session_) return false;
  auto address = accessibilityBusAddress(session_.get(), 1000ms);
  if (!address) return false;
  accessibilityBus_ = connectToBus(*address, 1000ms);
  return accessibilityBus_ != nullptr;
}

std::shared_ptr<Application> AtspiAccessibility::application(const std::string& busName) {
  if (auto it = applications_.find(busName); it != applications_.end()) return it->second;
  if (busName.empty() || !connectBus()) return nullptr;
  auto app = std::make_shared<Application>();
  app->busName = busName;
  app->connection = accessibilityBus_.get();
  // The application's own socket spares every call the trip through the bus daemon.
  Reply address = bus_.callAndWait(accessibilityBus_.get(), busName.c_str(), rootPath, "org.a11y.atspi.Application",
                                   "GetApplicationBusAddress", nullptr, "(s)", setupTimeout);
  const double now = monotonicSeconds();
  if (address) {
    app->lastAnswerAt = now;
    std::string text = stringOf(address.value.get());
    if (!text.empty()) app->direct = bus_.connect(text, false, setupTimeout);
    if (app->direct) app->connection = app->direct.get();
  } else if (address.timedOut) {
    app->stalledUntil = now + stallHold;
  }
  applications_.emplace(busName, app);
  return app;
}

std::optional<AXElement> AtspiAccessibility::applicationElement(std::int32_t pid) {
  if (!connectBus()) return std::nullopt;
  Reply reply = bus_.callAndWait(accessibilityBus_.get(), registryName, rootPath, accessibleInterface, "GetChildren",
                                 nullptr, "(a(so))", 1.0);
  if (!reply) return std::nullopt;
  GVariantPtr list(g_variant_get_child_value(reply.value.get(), 0));
  auto candidates = elementsOf(list.get(), "");
  // Ask the bus daemon for the owners not known yet, all at once.
  auto answered = std::make_shared<int>(0);
  int asked = 0;
  for (const auto& candidate : candidates) {
    if (candidate.application.empty() || pids_.contains(candidate.application)) continue;
    ++asked;
    bus_.call(accessibilityBus_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
              "GetConnectionUnixProcessID", g_variant_new("(s)", candidate.application.c_str()), "(u)", 1.0,
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

// ---- calls -------------------------------------------------------------------

void AtspiAccessibility::call(const std::shared_ptr<Application>& app, const std::string& path,
                              const char* interface, const char* method, GVariant* parameters,
                              const char* replyType, std::function<void(const Reply&)> done, CallKey key) {
  GVariantPtr owned(parameters ? g_variant_ref_sink(parameters) : nullptr);
  if (app->stalled(monotonicSeconds())) {
    Reply unsent;
    unsent.timedOut = true;
    done(unsent);
    return;
  }
  app->queue.emplace(std::move(key), QueuedCall{path, interface, method, std::move(owned), replyType, std::move(done)});
  pump(app);
}

void AtspiAccessibility::pump(const std::shared_ptr<Application>& app) {
  while (!app->queue.empty() && app->inFlight < maxInFlight) {
    auto first = app->queue.begin();
    QueuedCall next = std::move(first->second);
    app->queue.erase(first);
    if (app->stalled(monotonicSeconds())) {
      Reply unsent;
      unsent.timedOut = true;
      next.done(unsent);
      continue;
    }
    ++app->inFlight;
    const double sentAt = monotonicSeconds();
    const char* destination = app->direct ? nullptr : app->busName.c_str();
    bus_.call(app->connection, destination, next.path.c_str(), next.interface, next.method,
              next.parameters.release(), next.replyType, app->timeout,
              [this, app, sentAt, done = std::move(next.done)](Reply reply) {
                --app->inFlight;
                const double now = monotonicSeconds();
                if (reply.timedOut) {
                  if (app->lastAnswerAt < sentAt) app->stalledUntil = now + stallHold;
                } else {
                  app->lastAnswerAt = now;  // an error reply is an answer too
                  app->stalledUntil = 0;
                }
                done(reply);
                pump(app);
              });
  }
}

void AtspiAccessibility::send(const std::shared_ptr<Fetch>& fetch, const std::string& path, const char* interface,
                              const char* method, GVariant* parameters, const char* replyType,
                              std::function<void(Fetch&, GVariant*)> read) {
  ++fetch->outstanding;
  call(
      fetch->application, path, interface, method, parameters, replyType,
      [this, fetch, read = std::move(read)](const Reply& reply) {
        if (reply) read(*fetch, reply.value.get());
        finishPart(fetch);
      },
      fetch->key);
}

void AtspiAccessibility::finishPart(const std::shared_ptr<Fetch>& fetch) {
  if (--fetch->outstanding > 0) return;
  if (!fetch->basicsDone) {
    fetch->basicsDone = true;
    startDetails(fetch);
    return;
  }
  fetch->complete = true;
}

// ---- fetching ----------------------------------------------------------------

bool AtspiAccessibility::fillFromCache(Fetch& fetch) {
  Application& app = *fetch.application;
  if (app.cacheLoadedAt < 0 || monotonicSeconds() - app.cacheLoadedAt > cacheLifetime) return false;
  auto it = app.cache.find(fetch.element.path);
  if (it == app.cache.end()) return false;
  const CachedItem& item = it->second;
  fetch.role = item.role;
  fetch.states = item.states;
  fetch.name = item.name;
  fetch.description = item.description;
  fetch.childCount = item.childCount;
  fetch.parent = AXElement{app.busName, item.parentPath};
  if (!fetch.parentRole) {
    if (auto parent = app.cache.find(item.parentPath); parent != app.cache.end()) fetch.parentRole = parent->second.role;
  }
  // The cache holds the children only when it holds every one of them.
  if (static_cast<std::int32_t>(item.children.size()) == item.childCount &&
      std::none_of(item.children.begin(), item.children.end(), [](const auto& child) { return child.empty(); })) {
    std::vector<AXElement> children;
    children.reserve(item.children.size());
    for (const auto& child : item.children) children.push_back(AXElement{app.busName, child});
    fetch.children = std::move(children);
  }
  return true;
}

void AtspiAccessibility::loadCache(const std::shared_ptr<Application>& app) {
  if (app->cacheUnsupported) return;
  if (app->cacheLoadedAt >= 0 && monotonicSeconds() - app->cacheLoadedAt <= cacheLifetime) return;
  // GTK's bridge registers objects as they are first asked for and keeps the child
  // counts they had then (a list box of rows reads as empty): only Chromium's
  // cache is whole and current.
  if (!isChromium(AXElement{app->busName, rootPath})) {
    app->cacheUnsupported = app->toolkit.has_value();
    return;
  }
  auto loaded = std::make_shared<std::optional<GVariantPtr>>();
  auto timedOut = std::make_shared<bool>(false);
  call(app, "/org/a11y/atspi/cache", "org.a11y.atspi.Cache", "GetItems", nullptr, nullptr,
       [loaded, timedOut](const Reply& reply) {
         *timedOut = reply.timedOut;
         *loaded = GVariantPtr(reply ? g_variant_ref(reply.value.get()) : nullptr);
       });
  bus_.waitUntil([&] { return loaded->has_value(); }, monotonicSeconds() + app->timeout + 0.25);
  if (!loaded->has_value() || !**loaded) {
    app->cacheUnsupported = loaded->has_value() && !*timedOut;  // an error answer, not a slow one
    return;
  }
  GVariant* reply = (*loaded)->get();
  if (!g_variant_is_of_type(reply, G_VARIANT_TYPE("(a((so)(so)(so)iiassusau))"))) {
    app->cacheUnsupported = true;
    return;
  }
  app->cache.clear();
  GVariantPtr items(g_variant_get_child_value(reply, 0));
  GVariantIter iter;
  g_variant_iter_init(&iter, items.get());
  const char *path = nullptr, *parentPath = nullptr, *name = nullptr, *description = nullptr;
  gint32 index = 0, childCount = 0;
  guint32 role = 0;
  GVariantIter* interfaces = nullptr;
  GVariant* states = nullptr;
  std::vector<std::pair<std::string, std::pair<std::string, gint32>>> placed;
  while (g_variant_iter_next(&iter, "((&s&o)(&s&o)(&s&o)iias&su&s@au)", nullptr, &path, nullptr, nullptr, nullptr,
                             &parentPath, &index, &childCount, &interfaces, &name, &role, &description, &states)) {
    GVariantPtr ownedStates(states);
    g_variant_iter_free(interfaces);
    CachedItem item;
    item.role = static_cast<AtspiRole>(role);
    item.states = statesOf(states);
    item.name = name;
    item.description = description;
    item.childCount = std::max(0, childCount);
    item.parentPath = parentPath;
    placed.emplace_back(path, std::make_pair(std::string(parentPath), index));
    app->cache.insert_or_assign(path, std::move(item));
  }
  for (const auto& [path, where] : placed) {
    auto parent = app->cache.find(where.first);
    if (parent == app->cache.end() || where.second < 0 || where.second >= parent->second.childCount) continue;
    auto& children = parent->second.children;
    if (children.size() < static_cast<std::size_t>(parent->second.childCount))
      children.resize(static_cast<std::size_t>(parent->second.childCount));
    children[static_cast<std::size_t>(where.second)] = path;
  }
  app->cacheLoadedAt = monotonicSeconds();
}

std::shared_ptr<Fetch> AtspiAccessibility::start(const AXElement& element, unsigned wants, bool cascade,
                                                 std::optional<AtspiRole> parentRole, std::optional<CallKey> key) {
  auto fetch = std::make_shared<Fetch>();
  fetch->element = element;
  fetch->wants = wants;
  fetch->cascade = cascade;
  fetch->parentRole = parentRole;
  fetch->startedAt = monotonicSeconds();
  fetch->application = application(element.application);
  if (!fetch->application) {
    fetch->failed = true;
    return fetch;
  }
  // A newer read goes before every older one.
  fetch->key = key ? std::move(*key) : CallKey{~fetch->application->reads++};
  ++fetch->outstanding;  // held while the first round is sent
  if (!fillFromCache(*fetch)) {
    const std::string& path = element.path;
    send(fetch, path, accessibleInterface, "GetRole", nullptr, "(u)", [](Fetch& f, GVariant* reply) {
      guint32 role = 0;
      g_variant_get(reply, "(u)", &role);
      f.role = static_cast<AtspiRole>(role);
    });
    // A walk asks for states only once the role shows they can matter.
    if (!(wants & wantSparseStates)) requestStates(fetch);
    send(fetch, path, propertiesInterface, "GetAll", g_variant_new("(s)", accessibleInterface), "(a{sv})",
         [](Fetch& f, GVariant* reply) {
           GVariantPtr dictionary(g_variant_get_child_value(reply, 0));
           const char* text = nullptr;
           if (g_variant_lookup(dictionary.get(), "Name", "&s", &text)) f.name = text;
           if (g_variant_lookup(dictionary.get(), "Description", "&s", &text)) f.description = text;
           g_variant_lookup(dictionary.get(), "ChildCount", "i", &f.childCount);
           const char* bus = nullptr;
           const char* parent = nullptr;
           if (g_variant_lookup(dictionary.get(), "Parent", "(&s&o)", &bus, &parent))
             f.parent = AXElement{*bus ? bus : f.element.application, parent};
         });
  }
  finishPart(fetch);
  return fetch;
}

void AtspiAccessibility::startDetails(const std::shared_ptr<Fetch>& fetch) {
  if (!fetch->role) {
    fetch->failed = true;  // an element without a role cannot be read
    return;
  }
  const unsigned wants = fetch->wants;
  const AtspiRole role = *fetch->role;
  const std::string& path = fetch->element.path;
  ++fetch->outstanding;  // held while the second round is sent

  if (!fetch->states && !fetch->statesAsked && !statesIrrelevant(role)) requestStates(fetch);
  if ((wants & wantChildren) && !fetch->children) {
    if (fetch->childCount == 0) {
      fetch->children.emplace();
    } else {
      send(fetch, path, accessibleInterface, "GetChildren", nullptr, "(a(so))", [this](Fetch& f, GVariant* reply) {
        GVariantPtr array(g_variant_get_child_value(reply, 0));
        f.children = elementsOf(array.get(), f.element.application);
        if (f.cascade) prefetchChildren(f);
      });
    }
  } else if ((wants & wantChildren) && fetch->cascade) {
    prefetchChildren(*fetch);
  }
  if (wants & wantRoleName) requestRoleName(fetch);
  if (wants & wantValue) {
    if (textIsName(role) && fetch->name && !fetch->name->empty()) {
      fetch->text = *fetch->name;  // a label's name is its text: no call
    } else if (readsText(role)) {
      send(fetch, path, "org.a11y.atspi.Text", "GetText", g_variant_new("(ii)", 0, -1), "(s)",
           [](Fetch& f, GVariant* reply) { f.text = stringOf(reply); });
    } else if (readsRange(role)) {
      // One property at a time: Chromium aborts on GetAll of this interface.
      send(fetch, path, propertiesInterface, "Get", g_variant_new("(ss)", "org.a11y.atspi.Value", "CurrentValue"),
           "(v)", [](Fetch& f, GVariant* reply) {
             GVariantPtr boxed(g_variant_get_child_value(reply, 0));
             GVariantPtr number(g_variant_get_variant(boxed.get()));
             if (g_variant_is_of_type(number.get(), G_VARIANT_TYPE_DOUBLE)) f.range = g_variant_get_double(number.get());
           });
    }
  }
  if ((wants & wantAttributes) && mayHavePlaceholder(role)) {
    send(fetch, path, accessibleInterface, "GetAttributes", nullptr, "(a{ss})", [](Fetch& f, GVariant* reply) {
      GVariantPtr dictionary(g_variant_get_child_value(reply, 0));
      f.attributes = dictionaryOf(dictionary.get());
    });
  }
  if (wants & wantURL) {
    if (role == ATSPI_ROLE_DOCUMENT_WEB) {
      send(fetch, path, "org.a11y.atspi.Document", "GetAttributes", nullptr, "(a{ss})", [](Fetch& f, GVariant* reply) {
        GVariantPtr dictionary(g_variant_get_child_value(reply, 0));
        f.url = firstNonEmpty(dictionaryOf(dictionary.get()), {"URI", "DocURL"});
      });
    } else if (role == ATSPI_ROLE_LINK) {
      send(fetch, path, "org.a11y.atspi.Hyperlink", "GetURI", g_variant_new("(i)", 0), "(s)",
           [](Fetch& f, GVariant* reply) {
             std::string text = stringOf(reply);
             if (!text.empty()) f.url = std::move(text);
           });
    }
  }
  if (wants & wantExtents) {
    send(fetch, path, "org.a11y.atspi.Component", "GetExtents", g_variant_new("(u)", ATSPI_COORD_TYPE_SCREEN),
         "((iiii))", [](Fetch& f, GVariant* reply) {
           gint32 x = 0, y = 0, width = 0, height = 0;
           g_variant_get(reply, "((iiii))", &x, &y, &width, &height);
           f.position = Point{static_cast<double>(x), static_cast<double>(y)};
           f.size = Size{static_cast<double>(width), static_cast<double>(height)};
         });
  }
  if ((wants & wantParentRole) && dependsOnParent(role) && !fetch->parentRole && fetch->parent &&
      fetch->parent->path != rootPath && fetch->parent->application == fetch->element.application) {
    send(fetch, fetch->parent->path, accessibleInterface, "GetRole", nullptr, "(u)", [](Fetch& f, GVariant* reply) {
      guint32 parentRole = 0;
      g_variant_get(reply, "(u)", &parentRole);
      f.parentRole = static_cast<AtspiRole>(parentRole);
    });
  }
  finishPart(fetch);
}

void AtspiAccessibility::requestStates(const std::shared_ptr<Fetch>& fetch) {
  fetch->statesAsked = true;
  send(fetch, fetch->element.path, accessibleInterface, "GetState", nullptr, "(au)", [](Fetch& f, GVariant* reply) {
    GVariantPtr array(g_variant_get_child_value(reply, 0));
    f.states = statesOf(array.get());
  });
}

void AtspiAccessibility::requestRoleName(const std::shared_ptr<Fetch>& fetch) {
  const auto role = static_cast<std::uint32_t>(*fetch->role);
  auto app = fetch->application;
  auto& entry = app->roleNames[role];
  if (entry.done) {
    fetch->roleName = entry.text;
    return;
  }
  // One call per role and application; the elements of that role wait for it.
  ++fetch->outstanding;
  entry.waiting.push_back(fetch);
  if (entry.requested) return;
  entry.requested = true;
  call(app, fetch->element.path, accessibleInterface, "GetLocalizedRoleName", nullptr, "(s)",
       [this, app, role](const Reply& reply) {
         auto& named = app->roleNames[role];
         if (reply) {
           named.text = stringOf(reply.value.get());
           named.done = true;
         }
         named.requested = false;  // after a failure, the next element of this role asks again
         auto waiting = std::move(named.waiting);
         named.waiting.clear();
         for (auto& waiter : waiting) {
           waiter->roleName = named.text;
           finishPart(waiter);
         }
       },
       fetch->key);
}

void AtspiAccessibility::prefetchChildren(const Fetch& parent) {
  if (!parent.children) return;
  std::uint32_t index = 0;
  for (const auto& child : *parent.children) {
    if (prefetched_.size() >= prefetchLimit) return;
    CallKey key = parent.key;
    key.push_back(index++);
    auto existing = prefetched_.find(child);
    if (existing != prefetched_.end() && monotonicSeconds() - existing->second->startedAt < prefetchLifetime)
      continue;
    prefetched_.insert_or_assign(child, start(child, walkWants, true, parent.role, std::move(key)));
  }
}

std::shared_ptr<Fetch> AtspiAccessibility::fetch(const AXElement& element, unsigned wants, bool cascade) {
  if (auto it = prefetched_.find(element); it != prefetched_.end()) {
    auto found = std::move(it->second);
    prefetched_.erase(it);  // each answer serves once, so a later read sees fresh values
    if ((found->wants & wants) == wants && monotonicSeconds() - found->startedAt < prefetchLifetime) {
      if (cascade && !found->cascade) {
        found->cascade = true;
        if (found->children) prefetchChildren(*found);
      }
      return found;
    }
  }
  auto app = application(element.application);
  if (app && cascade) loadCache(app);
  return start(element, wants, cascade);
}

bool AtspiAccessibility::wait(const std::shared_ptr<Fetch>& fetch) {
  if (fetch->finished()) return !fetch->failed;
  Application& app = *fetch->application;
  // Every call is bounded by the timeout; the margin covers a second round sent late.
  const double deadline = monotonicSeconds() + 2 * app.timeout + 0.25;
  bus_.waitUntil([&] { return fetch->finished() || app.stalled(monotonicSeconds()); }, deadline);
  if (!fetch->finished()) fetch->failed = true;
  return !fetch->failed;
}

void AtspiAccessibility::findEntryChild(Fetch& fetch) {
  if (fetch.entryChild.has_value() || !fetch.role || !dependsOnEntryChild(*fetch.role, fetch.states.value_or(StateSet{}))) return;
  if (!fetch.children) {
    auto withChildren = this->fetch(fetch.element, wantChildren, false);
    if (!wait(withChildren) || !withChildren->children) return;
    fetch.children = withChildren->children;
  }
  // The walk's read-ahead has usually asked for these children already; they stay for the walk.
  std::vector<std::shared_ptr<Fetch>> children;
  for (const auto& child : *fetch.children) {
    auto it = prefetched_.find(child);
    children.push_back(it != prefetched_.end() ? it->second : start(child, 0, false, fetch.role));
  }
  fetch.entryChild = false;
  for (const auto& child : children) {
    if (wait(child) && child->role && isEntry(*child->role)) fetch.entryChild = true;
  }
}

bool AtspiAccessibility::waitAll(const std::vector<std::shared_ptr<Fetch>>& fetches) {
  bool all = true;
  for (const auto& one : fetches) all = wait(one) && all;
  return all;
}

// ---- answers -----------------------------------------------------------------

AXValue AtspiAccessibility::answer(const Fetch& fetch, std::string_view attribute) const {
  const AtspiRole role = fetch.role.value_or(ATSPI_ROLE_INVALID);
  const StateSet states = fetch.states.value_or(StateSet{});
  if (attribute == "AXRole") return std::string(axRole(fetch.roleContext()));
  if (attribute == "AXRoleDescription") {
    if (fetch.roleName) return *fetch.roleName;
    return AXErrorMarker{};
  }
  if (attribute == "AXTitle") {
    if (fetch.name) return *fetch.name;
    return AXErrorMarker{};
  }
  if (attribute == "AXDescription") {
    if (fetch.description && !fetch.description->empty()) return *fetch.description;
    return AXErrorMarker{};
  }
  if (attribute == "AXValue") {
    // A password field's text is never asked for: it would reach the host.
    if (role == ATSPI_ROLE_PASSWORD_TEXT) return AXErrorMarker{};
    if (readsText(role) && fetch.text) return *fetch.text;
    if (readsRange(role) && fetch.range) return *fetch.range;
    if (readsChecked(role) && fetch.states) return states.has(ATSPI_STATE_CHECKED) ? 1.0 : 0.0;
    return AXErrorMarker{};
  }
  if (attribute == "AXPlaceholderValue") {
    if (fetch.attributes) {
      if (auto text = firstNonEmpty(*fetch.attributes, {"placeholder-text", "placeholder"})) return *text;
    }
    return AXErrorMarker{};
  }
  if (attribute == "AXURL") {
    if (fetch.url) return AXURL{*fetch.url};
    return AXErrorMarker{};
  }
  if (attribute == "AXSelected") return states.has(ATSPI_STATE_SELECTED);
  // Unknown rather than false where a walk left the states unread.
  if (attribute == "AXEnabled") return fetch.states ? AXValue(states.has(ATSPI_STATE_ENABLED)) : AXErrorMarker{};
  if (attribute == "AXFocused") return fetch.states ? AXValue(states.has(ATSPI_STATE_FOCUSED)) : AXErrorMarker{};
  if (attribute == "AXChildren") {
    if (!fetch.children) return AXErrorMarker{};
    AXArray children;
    children.reserve(fetch.children->size());
    for (const auto& child : *fetch.children) children.emplace_back(child);
    return children;
  }
  if (attribute == "AXParent") {
    // The application's root has the registry for parent, which is no element of it.
    if (fetch.parent && fetch.element.path != rootPath) return *fetch.parent;
    return AXErrorMarker{};
  }
  if (attribute == "AXPosition") {
    if (fetch.position) return *fetch.position;
    return AXErrorMarker{};
  }
  if (attribute == "AXSize") {
    if (fetch.size) return *fetch.size;
    return AXErrorMarker{};
  }
  return AXErrorMarker{};
}

std::vector<std::shared_ptr<Fetch>> AtspiAccessibility::topLevelWindows(const AXElement& app) {
  auto root = fetch(app, wantChildren, false);
  if (!wait(root) || !root->children) return {};
  std::vector<std::shared_ptr<Fetch>> windows;
  for (const auto& child : *root->children) windows.push_back(start(child, 0, false, ATSPI_ROLE_APPLICATION));
  waitAll(windows);
  std::erase_if(windows, [](const auto& window) { return window->failed || !isWindowRole(*window->role); });
  return windows;
}

std::optional<AXElement> AtspiAccessibility::focusedElement(const AXElement& window) {
  auto app = application(window.application);
  if (!app) return std::nullopt;
  // The bridge searches its own tree: one call instead of one per element.
  GVariantBuilder states, attributes, roles, interfaces;
  g_variant_builder_init(&states, G_VARIANT_TYPE("ai"));
  g_variant_builder_add(&states, "i", static_cast<gint32>(1u << ATSPI_STATE_FOCUSED));
  g_variant_builder_add(&states, "i", 0);
  g_variant_builder_init(&attributes, G_VARIANT_TYPE("a{ss}"));
  g_variant_builder_init(&roles, G_VARIANT_TYPE("ai"));
  g_variant_builder_init(&interfaces, G_VARIANT_TYPE("as"));
  constexpr gint32 matchAll = 1;
  constexpr guint32 canonicalOrder = 1;
  GVariant* parameters = g_variant_new("((aiia{ss}iaiiasib)uib)", &states, matchAll, &attributes, matchAll, &roles,
                                       matchAll, &interfaces, matchAll, FALSE, canonicalOrder, 1, TRUE);
  auto found = std::make_shared<std::optional<std::optional<AXElement>>>();
  call(app, window.path, "org.a11y.atspi.Collection", "GetMatches", parameters, "(a(so))",
       [found, bus = window.application](const Reply& reply) {
         std::optional<AXElement> element;
         if (reply) {
           GVariantPtr array(g_variant_get_child_value(reply.value.get(), 0));
           auto elements = elementsOf(array.get(), bus);
           if (!elements.empty()) element = elements.front();
         }
         *found = element;
       });
  bus_.waitUntil([&] { return found->has_value(); }, monotonicSeconds() + app->timeout + 0.25);
  if (!found->has_value()) return std::nullopt;
  return **found;
}

std::optional<AXValue> AtspiAccessibility::applicationAnswer(const AXElement& app, std::string_view attribute) {
  auto windows = topLevelWindows(app);
  if (attribute == "AXWindows") {
    AXArray list;
    for (const auto& window : windows) list.emplace_back(window->element);
    return list;
  }
  auto withState = [&](AtspiStateType state) -> std::optional<AXElement> {
    for (const auto& window : windows) {
      if (window->states && window->states->has(state)) return window->element;
    }
    return std::nullopt;
  };
  auto active = withState(ATSPI_STATE_ACTIVE);
  if (attribute == "AXFocusedWindow") return active ? std::optional<AXValue>(*active) : std::nullopt;
  auto main = withState(ATSPI_STATE_SHOWING);
  if (attribute == "AXMainWindow") return main ? std::optional<AXValue>(*main) : std::nullopt;
  // AXFocusedUIElement: the focused element of the active window, else of the main one.
  auto window = active ? active : main;
  if (!window) return std::nullopt;
  if (auto focused = focusedElement(*window)) return AXValue(*focused);
  return std::nullopt;
}

bool AtspiAccessibility::isChromium(const AXElement& element) {
  if (element.path != rootPath) return false;
  auto app = application(element.application);
  if (!app) return false;
  if (!app->toolkit) {
    auto done = std::make_shared<bool>(false);
    call(app, rootPath, propertiesInterface, "Get", g_variant_new("(ss)", "org.a11y.atspi.Application", "ToolkitName"),
         "(v)", [app, done](const Reply& reply) {
           *done = true;
           if (!reply) return;
           GVariantPtr boxed(g_variant_get_child_value(reply.value.get(), 0));
           GVariantPtr name(g_variant_get_variant(boxed.get()));
           if (g_variant_is_of_type(name.get(), G_VARIANT_TYPE_STRING)) app->toolkit = g_variant_get_string(name.get(), nullptr);
         });
    bus_.waitUntil([&] { return *done; }, monotonicSeconds() + app->timeout + 0.25);
  }
  return app->toolkit && *app->toolkit == "Chromium";
}

// ---- the interface -----------------------------------------------------------

std::optional<AXValue> AtspiAccessibility::copyAttributeValue(const AXElement& element, std::string_view attribute) {
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
  }
  if (attribute == "AXRole") findEntryChild(*found);
  AXValue value = answer(*found, attribute);
  if (value.get<AXErrorMarker>()) return std::nullopt;
  return value;
}

std::optional<AXArray> AtspiAccessibility::copyMultipleAttributeValues(const AXElement& element,
                                                                      std::span<const std::string> attributes) {
  unsigned wants = 0;
  bool cascade = false;
  for (const auto& attribute : attributes) {
    wants |= needOf(attribute).wants;
    cascade = cascade || attribute == "AXChildren";
  }
  // Asking for children and more is a walk: read the children's answers ahead.
  if (cascade && attributes.size() > 1) wants |= walkWants;
  else cascade = false;
  auto found = fetch(element, wants, cascade);
  lastServed_.reset();
  if (!wait(found)) return std::nullopt;
  lastServed_ = found;
  if (std::find(attributes.begin(), attributes.end(), "AXRole") != attributes.end()) findEntryChild(*found);
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
  auto found = fetch(element, 0, false);
  if (!wait(found) || found->childCount < 0) return std::nullopt;
  return found->childCount;
}

std::optional<bool> AtspiAccessibility::isAttributeSettable(const AXElement& element, std::string_view attribute) {
  if (isChromiumSwitch(attribute)) return isChromium(element);
  if (!needOf(attribute).known && !isApplicationAttribute(attribute)) return std::nullopt;
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

std::unique_ptr<AXObserver> AtspiAccessibility::createObserver(std::int32_t pid, AXNotificationHandler handler) {
  auto app = applicationElement(pid);
  if (!app || !accessibilityBus_) return nullptr;
  return makeObserver(accessibilityBus_.get(), app->application, std::move(handler));
}

}  // namespace
}  // namespace atspi

std::unique_ptr<Accessibility> makeAccessibility() { return std::make_unique<atspi::AtspiAccessibility>(); }

}  // namespace zoba::platform::linux_backend
