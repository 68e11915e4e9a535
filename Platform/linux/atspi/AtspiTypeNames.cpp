#include "Platform/linux/atspi/AtspiTypeNames.h"

namespace zoba::platform::linux_backend::atspi {

namespace {

bool isUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool isLower(char c) { return c >= 'a' && c <= 'z'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool looksLikeTypeName(std::string_view name) {
  // One identifier in upper camel case: a toolkit's class (GtkMenuButton, AdwGizmo)
  // or an application's own of three words or more (EditorSourceView). Words people
  // read fail ("OK", "Save", "Open File"), and so do two-word brands ("YouTube").
  if (name.empty() || !isUpper(name.front())) return false;
  int words = 1;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (!isUpper(c) && !isLower(c) && !isDigit(c)) return false;
    if (i > 0 && isUpper(c) && isLower(name[i - 1])) ++words;
  }
  if (words >= 3) return true;
  constexpr std::string_view toolkits[] = {"Gtk", "Adw", "Gdk", "Gsk", "Vte"};
  for (std::string_view prefix : toolkits) {
    if (words == 2 && name.starts_with(prefix) && name.size() > prefix.size() && isUpper(name[prefix.size()]))
      return true;
  }
  return false;
}

}  // namespace zoba::platform::linux_backend::atspi
