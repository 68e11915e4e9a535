#pragma once

#include <glib.h>

#include <memory>

namespace zoba::platform::linux_backend {

// Owning handles for the GLib objects the backend keeps.
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

}  // namespace zoba::platform::linux_backend
