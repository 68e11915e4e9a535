#pragma once

// Owning handles for GLib's and GIO's objects, errors, variants, strings and the
// main loop's sources.

#include <gio/gio.h>
#include <glib.h>

#include <memory>

namespace zoba::platform::linux_backend {

struct GSourceUnref {
  void operator()(GSource* source) const { g_source_unref(source); }
};
using SourcePtr = std::unique_ptr<GSource, GSourceUnref>;

struct GMainLoopUnref {
  void operator()(GMainLoop* loop) const { g_main_loop_unref(loop); }
};
using MainLoopPtr = std::unique_ptr<GMainLoop, GMainLoopUnref>;

struct GFree {
  void operator()(void* memory) const { g_free(memory); }
};
using GCharPtr = std::unique_ptr<gchar, GFree>;

struct GObjectUnref {
  void operator()(void* object) const { g_object_unref(object); }
};
template <class T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

struct GVariantUnref {
  void operator()(GVariant* variant) const { g_variant_unref(variant); }
};
using GVariantPtr = std::unique_ptr<GVariant, GVariantUnref>;

struct GSourceDestroy {
  // Detaches the source from its context as well as dropping our reference.
  void operator()(GSource* source) const {
    g_source_destroy(source);
    g_source_unref(source);
  }
};
using GSourcePtr = std::unique_ptr<GSource, GSourceDestroy>;

struct GMainContextUnref {
  void operator()(GMainContext* context) const { g_main_context_unref(context); }
};
using GMainContextPtr = std::unique_ptr<GMainContext, GMainContextUnref>;

struct GSettingsSchemaUnref {
  void operator()(GSettingsSchema* schema) const { g_settings_schema_unref(schema); }
};
using GSettingsSchemaPtr = std::unique_ptr<GSettingsSchema, GSettingsSchemaUnref>;

// Collects a GError out-parameter: `call(..., error.out())`.
class GErrorSlot {
 public:
  GError** out() { return &raw_; }
  explicit operator bool() const { return raw_ != nullptr; }
  const GError* get() const { return raw_; }
  GErrorSlot() = default;
  ~GErrorSlot() {
    if (raw_) g_error_free(raw_);
  }
  GErrorSlot(const GErrorSlot&) = delete;
  GErrorSlot& operator=(const GErrorSlot&) = delete;

 private:
  GError* raw_ = nullptr;
};

}  // namespace zoba::platform::linux_backend
