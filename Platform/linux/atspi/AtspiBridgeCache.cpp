#include "Platform/linux/atspi/AtspiBridgeCache.h"

#include <algorithm>
#include <cstring>

#include "Platform/linux/atspi/AtspiEngine.h"
#include "Platform/linux/atspi/AtspiReplies.h"

namespace zoba::platform::linux_backend::atspi {

bool cacheFresh(const Application& app) {
  return app.cacheLoadedAt >= 0 && monotonicSeconds() - app.cacheLoadedAt <= cacheLifetime;
}

bool fillFromCache(Fetch& fetch) {
  Application& app = *fetch.application;
  if (!cacheFresh(app)) return false;
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

void loadCache(Engine& engine, const std::shared_ptr<Application>& app) {
  if (app->cacheUnsupported || cacheFresh(*app)) return;
  // GTK's bridge registers objects as they are first asked for and keeps the child
  // counts they had then (a list box of rows reads as empty): only Chromium's
  // cache is whole and current.
  if (!engine.isChromium(AXElement{app->busName, rootPath})) {
    app->cacheUnsupported = app->toolkit.has_value();
    return;
  }
  auto loaded = std::make_shared<std::optional<GVariantPtr>>();
  auto timedOut = std::make_shared<bool>(false);
  engine.call(app, "/org/a11y/atspi/cache", "org.a11y.atspi.Cache", "GetItems", nullptr, nullptr,
              [loaded, timedOut](const Reply& reply) {
                *timedOut = reply.timedOut;
                *loaded = GVariantPtr(reply ? g_variant_ref(reply.value.get()) : nullptr);
              });
  engine.waitUntil([&] { return loaded->has_value(); }, monotonicSeconds() + app->timeout + 0.25);
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

}  // namespace zoba::platform::linux_backend::atspi
