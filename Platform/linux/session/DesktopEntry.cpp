#include "Platform/linux/session/DesktopEntry.h"

#include <gio/gdesktopappinfo.h>

#include "Platform/linux/handles/GLibPtr.h"

namespace zoba::platform::linux_backend {

namespace {

struct AppInfoList {
  GList* list;
  ~AppInfoList() { g_list_free_full(list, g_object_unref); }
};

bool sameWithoutCase(const char* a, const std::optional<std::string>& b) {
  return a && b && g_ascii_strcasecmp(a, b->c_str()) == 0;
}

std::string withoutSuffix(const char* id) {
  std::string text = id ? id : "";
  constexpr std::string_view suffix = ".desktop";
  if (text.size() > suffix.size() && text.ends_with(suffix)) text.resize(text.size() - suffix.size());
  return text;
}

// The Icon key: a themed icon's first name, or a file icon's path.
std::string iconOf(GAppInfo* info) {
  GIcon* icon = g_app_info_get_icon(info);  // owned by the info
  if (icon && G_IS_THEMED_ICON(icon)) {
    const gchar* const* names = g_themed_icon_get_names(G_THEMED_ICON(icon));
    if (names && names[0]) return names[0];
  }
  if (icon && G_IS_FILE_ICON(icon)) {
    GCharPtr path(g_file_get_path(g_file_icon_get_file(G_FILE_ICON(icon))));
    if (path) return path.get();
  }
  return {};
}

}  // namespace

std::optional<DesktopEntry> desktopEntryFor(const std::optional<std::string>& instance,
                                            const std::optional<std::string>& className) {
  if (!instance && !className) return std::nullopt;
  AppInfoList all{g_app_info_get_all()};
  GDesktopAppInfo* byClass = nullptr;
  GDesktopAppInfo* byId = nullptr;
  for (GList* item = all.list; item; item = item->next) {
    if (!G_IS_DESKTOP_APP_INFO(item->data)) continue;
    auto* info = G_DESKTOP_APP_INFO(item->data);
    const char* wmClass = g_desktop_app_info_get_startup_wm_class(info);
    if (!byClass && (sameWithoutCase(wmClass, className) || sameWithoutCase(wmClass, instance)))
      byClass = info;
    const std::string id = withoutSuffix(g_app_info_get_id(G_APP_INFO(info)));
    if (!byId && (sameWithoutCase(id.c_str(), instance) || sameWithoutCase(id.c_str(), className)))
      byId = info;
  }
  GDesktopAppInfo* chosen = byClass ? byClass : byId;
  if (!chosen) return std::nullopt;
  const char* name = g_app_info_get_name(G_APP_INFO(chosen));
  return DesktopEntry{withoutSuffix(g_app_info_get_id(G_APP_INFO(chosen))), name ? name : "",
                      iconOf(G_APP_INFO(chosen))};
}

}  // namespace zoba::platform::linux_backend
