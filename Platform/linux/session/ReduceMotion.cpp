#include "Platform/linux/session/ReduceMotion.h"

namespace zoba::platform::linux_backend {

namespace {

GObjectPtr<GSettings> interfaceSettings() {
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  if (!source) return nullptr;
  GSettingsSchemaPtr schema(g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE));
  if (!schema || !g_settings_schema_has_key(schema.get(), "enable-animations")) return nullptr;
  return GObjectPtr<GSettings>(g_settings_new_full(schema.get(), nullptr, nullptr));
}

}  // namespace

bool ReduceMotionSetting::reduceMotion() {
  std::call_once(once_, [this] { settings_ = interfaceSettings(); });
  if (!settings_) return false;
  return !g_settings_get_boolean(settings_.get(), "enable-animations");
}

}  // namespace zoba::platform::linux_backend
