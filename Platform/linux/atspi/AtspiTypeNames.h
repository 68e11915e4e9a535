#pragma once

#include <string_view>

namespace zoba::platform::linux_backend::atspi {

// Whether `name` has the shape of a widget class name (GtkMenuButton, AdwGizmo,
// EditorSourceView): GTK 4 names an element without a name after its class, which
// tells the user nothing.
bool looksLikeTypeName(std::string_view name);

}  // namespace zoba::platform::linux_backend::atspi
