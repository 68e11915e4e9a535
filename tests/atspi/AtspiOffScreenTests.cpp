// Which of GTK 4's children are on screen, from their areas and, for a stack's
// pages, their answers to Contains.
#include <gtest/gtest.h>

#include "Platform/linux/atspi/AtspiOffScreen.h"

namespace zoba::platform::linux_backend::atspi {
namespace {

using Groups = std::vector<std::vector<std::size_t>>;

TEST(AtspiOffScreen, SiblingsSharingAnAreaFormGroups) {
  const Extents page{0, 80, 420, 16}, other{0, 100, 420, 16}, empty{0, 80, 0, 0};
  struct Case {
    const char* name;
    std::vector<std::optional<Extents>> siblings;
    Groups groups;
  };
  const std::vector<Case> cases{
      {"a box's children side by side", {page, other}, {}},
      {"a stack's two pages", {page, page}, {{0, 1}}},
      {"pages among other children", {other, page, other, page, page}, {{0, 2}, {1, 3, 4}}},
      {"empty areas are no shared area", {empty, empty}, {}},
      {"unknown areas are left alone", {std::nullopt, std::nullopt, page}, {}},
      {"nothing", {}, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(sharedAreas(c.siblings), c.groups) << c.name;
}

TEST(AtspiOffScreen, OnlyAPageOnScreenPutsTheOthersBehind) {
  struct Case {
    const char* name;
    std::vector<std::optional<bool>> contains;
    std::vector<bool> covered;
  };
  const std::vector<Case> cases{
      {"second page on screen", {false, true}, {true, false}},
      {"first of three on screen", {true, false, false}, {false, true, true}},
      {"an unanswered page stays", {true, std::nullopt, false}, {false, false, true}},
      // Siblings that overlap without being pages (an overlay) all answer yes.
      {"all on screen", {true, true}, {false, false}},
      // No page answers yes: the toolkit does not tell, so nothing is judged.
      {"none on screen", {false, false}, {false, false}},
      {"no answers", {std::nullopt, std::nullopt}, {false, false}},
  };
  for (const auto& c : cases) EXPECT_EQ(coveredPages(c.contains), c.covered) << c.name;
}

TEST(AtspiOffScreen, AWidgetOfNoWidthOrNoHeightHasNoArea) {
  struct Case {
    const char* name;
    std::optional<Extents> area;
    bool none;
  };
  const std::vector<Case> cases{
      {"a page never shown", Extents{0, 80, 0, 0}, true},
      {"an info bar not revealed", Extents{0, 40, 420, 0}, true},
      {"a revealer closed sideways", Extents{0, 40, 0, 24}, true},
      {"a one-pixel separator", Extents{0, 80, 420, 1}, false},
      {"a label", Extents{0, 80, 420, 16}, false},
      {"at the window's origin", Extents{0, 0, 420, 16}, false},
      {"an area not answered", std::nullopt, false},
  };
  for (const auto& c : cases) EXPECT_EQ(noArea(c.area), c.none) << c.name;
}

}  // namespace
}  // namespace zoba::platform::linux_backend::atspi
