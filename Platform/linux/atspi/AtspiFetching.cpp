// Fetching an element's answers: from the bridge's cache where it is whole, else
// in two rounds of calls.
#include <algorithm>
#include <cstring>

#include "Platform/linux/atspi/AtspiAccessibility.h"
#include "Platform/linux/atspi/AtspiReplies.h"
#include "Platform/linux/atspi/AtspiTextRuns.h"

namespace zoba::platform::linux_backend::atspi {

namespace {

// One of the Accessible interface's properties, as GetAll or Get gives it.
void readAccessibleProperty(Fetch& f, std::string_view property, GVariant* value) {
  if ((property == "Name" || property == "Description") &&
      g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
    (property == "Name" ? f.name : f.description) = boundedText(g_variant_get_string(value, nullptr));
  } else if (property == "ChildCount" && g_variant_is_of_type(value, G_VARIANT_TYPE_INT32)) {
    f.childCount = g_variant_get_int32(value);
  } else if (property == "Parent" && g_variant_is_of_type(value, G_VARIANT_TYPE("(so)"))) {
    const char* bus = nullptr;
    const char* parent = nullptr;
    g_variant_get(value, "(&s&o)", &bus, &parent);
    f.parent = AXElement{*bus ? bus : f.element.application, parent};
  }
}

// Whether a GetInterfaces reply lists the Text interface.
bool listsText(GVariant* reply) {
  GVariantIter* interfaces = nullptr;
  g_variant_get(reply, "(as)", &interfaces);
  bool found = false;
  const char* interface = nullptr;
  while (g_variant_iter_next(interfaces, "&s", &interface))
    found = found || std::strcmp(interface, "org.a11y.atspi.Text") == 0;
  g_variant_iter_free(interfaces);
  return found;
}

}  // namespace

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
    if (auto parent = app.cache.find(item.parentPath); parent != app.cache.end())
      fetch.parentRole = parent->second.role;
  }
  // The cache holds the children only when it holds every one of them.
  if (static_cast<std::int32_t>(item.children.size()) == item.childCount &&
      std::none_of(item.children.begin(), item.children.end(),
                   [](const auto& child) { return child.empty(); })) {
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
  while (g_variant_iter_next(&iter, "((&s&o)(&s&o)(&s&o)iias&su&s@au)", nullptr, &path, nullptr, nullptr,
                             nullptr, &parentPath, &index, &childCount, &interfaces, &name, &role,
                             &description, &states)) {
    GVariantPtr ownedStates(states);
    CachedItem item;
    const char* interface = nullptr;
    while (g_variant_iter_next(interfaces, "&s", &interface))
      item.text = item.text || std::strcmp(interface, "org.a11y.atspi.Text") == 0;
    g_variant_iter_free(interfaces);
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
                                                 std::optional<AtspiRole> parentRole,
                                                 std::optional<CallKey> key) {
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
    if (!(wants & wantSparseStates) || fetch->application->noCollection) requestStates(fetch);
    if (fetch->application->getAllSafe()) {
      send(fetch, path, propertiesInterface, "GetAll", g_variant_new("(s)", accessibleInterface), "(a{sv})",
           [](Fetch& f, GVariant* reply) {
             GVariantPtr dictionary(g_variant_get_child_value(reply, 0));
             GVariantIter iter;
             g_variant_iter_init(&iter, dictionary.get());
             const char* property = nullptr;
             GVariant* value = nullptr;
             while (g_variant_iter_next(&iter, "{&sv}", &property, &value)) {
               GVariantPtr owned(value);
               readAccessibleProperty(f, property, value);
             }
           });
    } else {
      for (const char* property : {"Name", "Description", "ChildCount", "Parent"}) {
        send(fetch, path, propertiesInterface, "Get", g_variant_new("(ss)", accessibleInterface, property),
             "(v)", [property](Fetch& f, GVariant* reply) {
               GVariantPtr boxed(g_variant_get_child_value(reply, 0));
               GVariantPtr value(g_variant_get_variant(boxed.get()));
               readAccessibleProperty(f, property, value.get());
             });
      }
    }
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

  // Children first: a container that may make its children on demand asks for its
  // states itself before it chooses how to read them.
  if ((wants & wantChildren) && !fetch->children) {
    if (fetch->childCount == 0) {
      fetch->children.emplace();
    } else {
      requestChildren(fetch);
    }
  } else if ((wants & wantChildren) && fetch->cascade) {
    prefetchChildren(*fetch);
  }
  if (!fetch->states && !fetch->statesAsked &&
      (!statesIrrelevant(role) || hiddenWhenNotShowing(role) || fetch->application->noCollection))
    requestStates(fetch);
  if (wants & wantRoleName) requestRoleName(fetch);
  if (wants & wantTextRuns) requestTextRuns(fetch);
  if (wants & wantValue) {
    if (textIsName(role) && fetch->name && !fetch->name->empty()) {
      fetch->text = *fetch->name;  // a label's name is its text: no call
    } else if (readsText(role) && !fetch->application->knownTextless(path)) {
      send(fetch, path, "org.a11y.atspi.Text", "GetText",
           g_variant_new("(ii)", 0, fetch->application->wholeTextEnd()), "(s)",
           [](Fetch& f, GVariant* reply) {
             f.text = f.role == ATSPI_ROLE_TERMINAL ? terminalRows(stringOf(reply), maxTerminalRows)
                                                    : stringOf(reply);
           });
    } else if (readsRange(role) && !(fetch->states && !fetch->states->has(ATSPI_STATE_VISIBLE))) {
      // A hidden range is left out of the outline anyway, and Chromium's hidden
      // resize handles have no value: asking logs a GLib critical each.
      // One property at a time: Chromium aborts on GetAll of this interface.
      send(fetch, path, propertiesInterface, "Get",
           g_variant_new("(ss)", "org.a11y.atspi.Value", "CurrentValue"), "(v)",
           [](Fetch& f, GVariant* reply) {
             GVariantPtr boxed(g_variant_get_child_value(reply, 0));
             GVariantPtr number(g_variant_get_variant(boxed.get()));
             if (g_variant_is_of_type(number.get(), G_VARIANT_TYPE_DOUBLE))
               f.range = g_variant_get_double(number.get());
           });
    }
  }
  if ((wants & wantAttributes) && mayHavePlaceholder(role)) {
    send(fetch, path, accessibleInterface, "GetAttributes", nullptr, "(a{ss})",
         [](Fetch& f, GVariant* reply) {
           GVariantPtr dictionary(g_variant_get_child_value(reply, 0));
           f.attributes = dictionaryOf(dictionary.get());
         });
  }
  if (wants & wantURL) {
    if (role == ATSPI_ROLE_DOCUMENT_WEB) {
      send(fetch, path, "org.a11y.atspi.Document", "GetAttributes", nullptr, "(a{ss})",
           [](Fetch& f, GVariant* reply) {
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
    send(fetch, fetch->parent->path, accessibleInterface, "GetRole", nullptr, "(u)",
         [](Fetch& f, GVariant* reply) {
           guint32 parentRole = 0;
           g_variant_get(reply, "(u)", &parentRole);
           f.parentRole = static_cast<AtspiRole>(parentRole);
         });
  }
  finishPart(fetch);
}

void AtspiAccessibility::requestStates(const std::shared_ptr<Fetch>& fetch) {
  fetch->statesAsked = true;
  send(fetch, fetch->element.path, accessibleInterface, "GetState", nullptr, "(au)",
       [](Fetch& f, GVariant* reply) {
         GVariantPtr array(g_variant_get_child_value(reply, 0));
         f.states = statesOf(array.get());
       });
}

void AtspiAccessibility::requestTextRuns(const std::shared_ptr<Fetch>& fetch) {
  auto app = fetch->application;
  const AtspiRole role = *fetch->role;
  // Chromium makes an object of every run of text; GTK 3's containers hold none.
  if (!mayHoldTextRuns(role) || (app->toolkit && *app->toolkit == "Chromium") ||
      app->textlessRoles.contains(static_cast<std::uint32_t>(role)))
    return;
  if (app->knownTextless(fetch->element.path)) return;
  ++fetch->outstanding;
  // GTK's bridges answer a text call on an object without Text with a critical on
  // the application's stderr besides the error: learn once per role whether it has
  // Text (a document view has none, its page has). The web engines give every such
  // role Text.
  const auto key = static_cast<std::uint32_t>(role);
  if (app->gtk() && !app->textRoles.contains(key)) {
    call(
        app, fetch->element.path, accessibleInterface, "GetInterfaces", nullptr, "(as)",
        [this, fetch, app, key](const Reply& reply) {
          if (reply && listsText(reply.value.get())) {
            app->textRoles.insert(key);
            getOwnText(fetch);
          } else {
            if (reply) app->textlessRoles.insert(key);
            finishPart(fetch);
          }
        },
        fetch->key);
    return;
  }
  getOwnText(fetch);
}

void AtspiAccessibility::getOwnText(const std::shared_ptr<Fetch>& fetch) {
  auto app = fetch->application;
  const AtspiRole role = *fetch->role;
  call(
      app, fetch->element.path, "org.a11y.atspi.Text", "GetText",
      g_variant_new("(ii)", 0, app->wholeTextEnd()), "(s)",
      [this, fetch, app, role](const Reply& reply) {
        if (reply)
          fetch->ownText = stringOf(reply.value.get());
        else if (reply.unknownMethod)
          app->textlessRoles.insert(static_cast<std::uint32_t>(role));
        finishPart(fetch);
      },
      fetch->key);
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
  call(
      app, fetch->element.path, accessibleInterface, "GetLocalizedRoleName", nullptr, "(s)",
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

void AtspiAccessibility::waitForAll(const std::vector<std::shared_ptr<Fetch>>& fetches, double deadline) {
  std::size_t next = 0;  // the fetches before it have finished
  bus_.waitUntil(
      [&] {
        while (next < fetches.size() &&
               (fetches[next]->finished() || fetches[next]->application->stalled(monotonicSeconds())))
          ++next;
        return next == fetches.size();
      },
      deadline);
}

bool AtspiAccessibility::waitAll(const std::vector<std::shared_ptr<Fetch>>& fetches) {
  // One bound for them all: thousands of elements that never answer must not
  // cost a timeout each.
  double timeout = 0;
  for (const auto& one : fetches) timeout = std::max(timeout, one->application->timeout);
  waitForAll(fetches, monotonicSeconds() + 2 * timeout + 0.25);
  bool all = true;
  for (const auto& one : fetches) {
    if (!one->finished()) one->failed = true;
    all = all && !one->failed;
  }
  return all;
}

}  // namespace zoba::platform::linux_backend::atspi
