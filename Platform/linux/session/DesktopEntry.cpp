#include "Platform/linux/session/DesktopEntry.h"

#include <gio/gdesktopappinfo.h>

#include <memory>
#include <mutex>
#include <vector>

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

struct KnownEntry {
  DesktopEntry entry;
  std::optional<std::string> wmClass;  // StartupWMClass
};
using KnownEntries = std::vector<KnownEntry>;

// Reading every installed desktop file costs more than the rest of a chord (10–20 ms
// with some hundred entries on a busy machine), so they are read once and again only
// after GIO's monitor of the application folders said they changed. The monitor tells
// the main loop's context, where the helper spends its life.
class InstalledEntries {
 public:
  static InstalledEntries& shared() {
    static InstalledEntries entries;
    return entries;
  }

  std::shared_ptr<const KnownEntries> entries() {
    std::lock_guard lock(mutex_);
    if (!entries_) entries_ = std::make_shared<const KnownEntries>(readAll());
    return entries_;
  }

 private:
  InstalledEntries() : monitor_(g_app_info_monitor_get()) {
    g_signal_connect(monitor_.get(), "changed", G_CALLBACK(onChanged), this);
  }

  static void onChanged(GAppInfoMonitor*, gpointer self) {
    auto* entries = static_cast<InstalledEntries*>(self);
    std::lock_guard lock(entries->mutex_);
    entries->entries_.reset();
  }

  static KnownEntries readAll() {
    AppInfoList all{g_app_info_get_all()};
    KnownEntries entries;
    for (GList* item = all.list; item; item = item->next) {
      if (!G_IS_DESKTOP_APP_INFO(item->data)) continue;
      auto* info = G_DESKTOP_APP_INFO(item->data);
      KnownEntry known;
      known.entry.id = withoutSuffix(g_app_info_get_id(G_APP_INFO(info)));
      const char* name = g_app_info_get_name(G_APP_INFO(info));
      known.entry.name = name ? name : "";
      known.entry.icon = iconOf(G_APP_INFO(info));
      if (const char* wmClass = g_desktop_app_info_get_startup_wm_class(info)) known.wmClass = wmClass;
      entries.push_back(std::move(known));
    }
    return entries;
  }

  std::mutex mutex_;
  std::shared_ptr<const KnownEntries> entries_;  // guarded by mutex_; null until read, and once stale
  GObjectPtr<GAppInfoMonitor> monitor_;          // lives as long as the process
};

}  // namespace

std::optional<DesktopEntry> desktopEntryFor(const std::optional<std::string>& instance,
                                            const std::optional<std::string>& className) {
  if (!instance && !className) return std::nullopt;
  const auto entries = InstalledEntries::shared().entries();
  const KnownEntry* byClass = nullptr;
  const KnownEntry* byId = nullptr;
  for (const auto& known : *entries) {
    const char* wmClass = known.wmClass ? known.wmClass->c_str() : nullptr;
    if (!byClass && (sameWithoutCase(wmClass, className) || sameWithoutCase(wmClass, instance)))
      byClass = &known;
    const char* id = known.entry.id.c_str();
    if (!byId && (sameWithoutCase(id, instance) || sameWithoutCase(id, className))) byId = &known;
  }
  const KnownEntry* chosen = byClass ? byClass : byId;
  if (!chosen) return std::nullopt;
  return chosen->entry;
}

}  // namespace zoba::platform::linux_backend
