// Which item a drop-down shows, from a bridge's cache of the tree (Chromium's).
#include <gtest/gtest.h>

#include <unordered_map>
#include <vector>

#include "Platform/linux/atspi/AtspiChoices.h"

namespace zoba::platform::linux_backend::atspi {
namespace {

// An element as a bridge's cache reports it.
struct Item {
  AtspiRole role = ATSPI_ROLE_INVALID;
  StateSet states;
  std::string name;
  std::vector<std::string> children;
};

StateSet withStates(std::initializer_list<AtspiStateType> states) {
  StateSet set;
  for (auto state : states) set.bits |= std::uint64_t{1} << static_cast<unsigned>(state);
  return set;
}

Item item(AtspiRole role, std::string name, std::vector<std::string> children = {},
          std::initializer_list<AtspiStateType> states = {}) {
  return Item{role, withStates(states), std::move(name), std::move(children)};
}

TEST(AtspiChoices, TheSelectedItemOfTheBoxOrOfItsMenu) {
  const auto selected = {ATSPI_STATE_SELECTABLE, ATSPI_STATE_SELECTED};
  const auto selectable = {ATSPI_STATE_SELECTABLE};
  struct Case {
    const char* name;
    std::unordered_map<std::string, Item> cache;
    std::optional<std::string> choice;
  };
  const std::vector<Case> cases{
      {"in the menu the box holds (Chromium's select)",
       {{"box", item(ATSPI_ROLE_COMBO_BOX, "Boat", {"menu"})},
        {"menu", item(ATSPI_ROLE_MENU, "", {"a", "b", "c"})},
        {"a", item(ATSPI_ROLE_MENU_ITEM, "Sloop", {}, selectable)},
        {"b", item(ATSPI_ROLE_MENU_ITEM, "Schooner", {}, selected)},
        {"c", item(ATSPI_ROLE_MENU_ITEM, "Ketch", {}, selectable)}},
       "Schooner"},
      {"among the box's own children",
       {{"box", item(ATSPI_ROLE_COMBO_BOX, "Size", {"a", "b"})},
        {"a", item(ATSPI_ROLE_LIST_ITEM, "Small", {}, selected)},
        {"b", item(ATSPI_ROLE_LIST_ITEM, "Large", {}, selectable)}},
       "Small"},
      {"in a list box",
       {{"box", item(ATSPI_ROLE_COMBO_BOX, "Size", {"list"})},
        {"list", item(ATSPI_ROLE_LIST_BOX, "", {"a"})},
        {"a", item(ATSPI_ROLE_LIST_ITEM, "Medium", {}, selected)}},
       "Medium"},
      {"nothing selected",
       {{"box", item(ATSPI_ROLE_COMBO_BOX, "Boat", {"menu"})},
        {"menu", item(ATSPI_ROLE_MENU, "", {"a"})},
        {"a", item(ATSPI_ROLE_MENU_ITEM, "Sloop", {}, selectable)}},
       std::nullopt},
      {"a selected element below a child that holds no items",
       {{"box", item(ATSPI_ROLE_COMBO_BOX, "Boat", {"panel"})},
        {"panel", item(ATSPI_ROLE_PANEL, "", {"a"})},
        {"a", item(ATSPI_ROLE_MENU_ITEM, "Sloop", {}, selected)}},
       std::nullopt},
      {"children the cache lacks", {{"box", item(ATSPI_ROLE_COMBO_BOX, "Boat", {"menu", ""})}}, std::nullopt},
      {"a box the cache lacks", {}, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(selectedInCache(c.cache, "box"), c.choice) << c.name;
}

}  // namespace
}  // namespace zoba::platform::linux_backend::atspi
