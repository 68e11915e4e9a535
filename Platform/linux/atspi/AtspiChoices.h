#pragma once

// What a drop-down shows: its selected item, which lives in the menu or list the
// walk does not read.

#include <memory>
#include <optional>
#include <string>

#include "Platform/linux/atspi/AtspiRoles.h"

namespace zoba::platform::linux_backend::atspi {

class Engine;
struct Fetch;

// A fetch's follow-up once its second round is in: a combo box's value, the text
// of an editable one or the name of a drop-down's selected item.
void askChoice(Engine& engine, const std::shared_ptr<Fetch>& fetch);

// Roles that hold a drop-down's items.
inline bool holdsItems(AtspiRole role) {
  switch (role) {
    case ATSPI_ROLE_MENU:
    case ATSPI_ROLE_POPUP_MENU:
    case ATSPI_ROLE_LIST:
    case ATSPI_ROLE_LIST_BOX: return true;
    default: return false;
  }
}

// The name of the SELECTED item among the children of the combo box at `box`, or
// of the menu or list it holds, as a bridge's cache has them (a map from paths to
// items with a role, states, name and child paths); absent when the cache lacks
// the box or none is selected.
template <class Cache>
std::optional<std::string> selectedInCache(const Cache& cache, const std::string& box) {
  auto it = cache.find(box);
  if (it == cache.end()) return std::nullopt;
  auto selectedAmong = [&cache](const auto& paths) -> std::optional<std::string> {
    for (const auto& path : paths) {
      auto item = cache.find(path);
      if (item != cache.end() && item->second.states.has(ATSPI_STATE_SELECTED)) return item->second.name;
    }
    return std::nullopt;
  };
  if (auto direct = selectedAmong(it->second.children)) return direct;
  for (const auto& path : it->second.children) {
    auto holder = cache.find(path);
    if (holder == cache.end() || !holdsItems(holder->second.role)) continue;
    if (auto found = selectedAmong(holder->second.children)) return found;
  }
  return std::nullopt;
}

}  // namespace zoba::platform::linux_backend::atspi
