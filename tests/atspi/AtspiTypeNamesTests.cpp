// Which names are a widget's class name rather than words for the user.
#include <gtest/gtest.h>

#include "Platform/linux/atspi/AtspiTypeNames.h"

namespace zoba::platform::linux_backend::atspi {
namespace {

TEST(AtspiTypeNames, TellsClassNamesFromWords) {
  const std::pair<std::string_view, bool> cases[] = {
      {"GtkMenuButton", true},
      {"AdwGizmo", true},
      {"EditorSourceView", true},
      {"GtkBox2", true},
      {"OK", false},
      {"Save", false},
      {"Open File", false},
      {"gtkEntry", false},
      {"", false},
      {"URL", false},
      {"Gtk-Entry", false},
      {"Größe", false},
      // Two-word brands are words people read; a toolkit's prefix is not.
      {"YouTube", false},
      {"GitHub", false},
      {"Gtkfoo", false},
      {"GtkEntry", true},
      {"VteTerminal", true},
  };
  for (const auto& [name, expected] : cases) EXPECT_EQ(looksLikeTypeName(name), expected) << name;
}

}  // namespace
}  // namespace zoba::platform::linux_backend::atspi
