// Which records' lines the outline keeps: text that repeats its ancestor's words is left out, and a
// truncated outline gives up records off screen before those on screen.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ZobaCaptureCore/AXTreeFormatter.h"

namespace zoba {
namespace {

using AXTreeFormatter::Outline;

AXNodeRecord words(std::int64_t depth, std::string text) {
  return {.depth = depth, .role = "AXStaticText", .roleDescription = "static", .title = text, .value = text};
}

// ---- repeated words ----

struct RepeatCase {
  const char* name;
  std::vector<AXNodeRecord> nodes;
  std::string text;
};

class RepeatedWords : public testing::TestWithParam<RepeatCase> {};

TEST_P(RepeatedWords, AreSaidOnce) {
  const Outline outline = AXTreeFormatter::format(GetParam().nodes, 100000);
  EXPECT_EQ(outline.text, GetParam().text);
  EXPECT_FALSE(outline.truncated);
}

const AXNodeRecord page{.depth = 0, .role = "AXWebArea", .roleDescription = "document", .title = "Page"};
const std::string long300(300, 'w');

INSTANTIATE_TEST_SUITE_P(
    Table, RepeatedWords,
    testing::Values(
        RepeatCase{"HeadingNamedAfterItsText",
                   {page,
                    {.depth = 1, .role = "AXHeading", .roleDescription = "heading", .title = "Intro"},
                    words(2, "Intro")},
                   "document Page\n\theading Intro"},
        // Pieces inside a container without words, whitespace as the engine splits it.
        RepeatCase{"LinkOverPiecesInAGroup",
                   {page,
                    {.depth = 1,
                     .role = "AXLink",
                     .roleDescription = "link",
                     .title = "Second  bold point",
                     .url = "https://a.example/"},
                    words(2, "Second "),
                    {.depth = 2, .role = "AXGroup"},
                    words(3, "bold"),
                    words(2, " point")},
                   "document Page\n\tlink Second bold point, URL: https://a.example/"},
        // A link among the pieces keeps its line (its address is only there), not its text child.
        RepeatCase{"TermWithALinkInside",
                   {page,
                    {.depth = 1, .role = "AXGroup", .roleDescription = "term", .title = "See dumps() here"},
                    words(2, "See "),
                    {.depth = 2,
                     .role = "AXLink",
                     .roleDescription = "link",
                     .title = "dumps()",
                     .url = "https://a.example/d"},
                    words(3, "dumps()"),
                    words(2, " here")},
                   "document Page\n\tterm See dumps() here\n\t\tlink dumps(), URL: https://a.example/d"},
        // Words said through a value; a repeat's own children compare with it.
        RepeatCase{"EmphasisByValueAndNested",
                   {page,
                    {.depth = 1, .role = "AXGroup", .roleDescription = "term", .title = "f(obj)"},
                    words(2, "f("),
                    {.depth = 2, .role = "AXStaticText", .roleDescription = "static", .value = "obj"},
                    words(3, "obj"),
                    words(2, ")")},
                   "document Page\n\tterm f(obj)"},
        RepeatCase{"WordsOnlyBelowKeepThemAll",
                   {page,
                    {.depth = 1, .role = "AXButton", .roleDescription = "button", .title = "Close"},
                    words(2, "X")},
                   "document Page\n\tbutton Close\n\t\tstatic X"},
        RepeatCase{"MoreWordsBelowKeepThemAll",
                   {page,
                    {.depth = 1, .role = "AXHeading", .roleDescription = "heading", .title = "Intro"},
                    words(2, "Intro"),
                    words(2, "more")},
                   "document Page\n\theading Intro\n\t\tstatic Intro\n\t\tstatic more"},
        // A document's title is no sum of its page's words.
        RepeatCase{"TitleOfAPage",
                   {page, words(1, "Page"), words(1, "Body")},
                   "document Page\n\tstatic Page\n\tstatic Body"},
        // The ancestor's line cuts its title at 240 characters: the rest is only below.
        RepeatCase{"CutTitleKeepsItsPieces",
                   {page,
                    {.depth = 1, .role = "AXHeading", .roleDescription = "heading", .title = long300},
                    {.depth = 2, .role = "AXStaticText", .roleDescription = "static", .title = long300}},
                   "document Page\n\theading " + std::string(240, 'w') + "\u2026\n\t\tstatic " +
                       std::string(240, 'w') + "\u2026"},
        // A piece that carries more than words stays; the pure ones still go.
        RepeatCase{"PieceWithMoreThanWordsStays",
                   {page,
                    {.depth = 1, .role = "AXHeading", .roleDescription = "heading", .title = "A b"},
                    words(2, "A"),
                    {.depth = 2,
                     .role = "AXStaticText",
                     .roleDescription = "static",
                     .title = "b",
                     .description = "note"}},
                   "document Page\n\theading A b\n\t\tstatic b, Description: note"},
        RepeatCase{
            "TitleAndOtherValueStay",
            {page,
             {.depth = 1, .role = "AXHeading", .roleDescription = "heading", .title = "A"},
             {.depth = 2, .role = "AXStaticText", .roleDescription = "static", .title = "A", .value = "B"}},
            "document Page\n\theading A\n\t\tstatic A, Value: B"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- records on and off screen ----

// "window W" costs 9, each text line 30, "\tbutton Side" 13: 112 in all. The focus line costs 38.
std::vector<AXNodeRecord> scrolledWindow(bool focusSide = false) {
  return {
      {.depth = 0, .role = "AXWindow", .title = "W"},
      {.depth = 1, .role = "AXStaticText", .value = "Above one", .onScreen = false},
      {.depth = 1, .role = "AXStaticText", .value = "Shown one"},
      {.depth = 1, .role = "AXStaticText", .value = "Below one", .onScreen = false},
      {.depth = 1, .role = "AXButton", .title = "Side", .focused = focusSide},
  };
}

const std::string windowLine = "window W";
const std::string aboveLine = "\tstatictext, Value: Above one";
const std::string shownLine = "\tstatictext, Value: Shown one";
const std::string belowLine = "\tstatictext, Value: Below one";
const std::string sideLine = "\tbutton Side";
const std::string focusLine = "The focused UI element is button Side";

struct ScreenCase {
  const char* name;
  bool focusSide;
  std::int64_t limit;
  Outline expected;
};

class OnScreenFirst : public testing::TestWithParam<ScreenCase> {};

TEST_P(OnScreenFirst, KeepsTheVisiblePart) {
  const Outline outline = AXTreeFormatter::format(scrolledWindow(GetParam().focusSide), GetParam().limit);
  EXPECT_EQ(outline.text, GetParam().expected.text);
  EXPECT_EQ(outline.truncated, GetParam().expected.truncated);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OnScreenFirst,
    testing::Values(
        ScreenCase{
            "AllFitUnchanged",
            false,
            112,
            {windowLine + "\n" + aboveLine + "\n" + shownLine + "\n" + belowLine + "\n" + sideLine, false}},
        // On screen 52; the 59 left hold the first record off screen, not the second.
        ScreenCase{"OffScreenFillTheRoomInTreeOrder",
                   false,
                   111,
                   {windowLine + "\n" + aboveLine + "\n" + shownLine + "\n" + sideLine, true}},
        ScreenCase{"OffScreenGoFirst", false, 60, {windowLine + "\n" + shownLine + "\n" + sideLine, true}},
        ScreenCase{"OnScreenStopAtTheirFirstMiss", false, 51, {windowLine + "\n" + shownLine, true}},
        // "\tbutton Side" would fit after the window, but an earlier line on screen did not.
        ScreenCase{"NoLaterOnScreenLineAfterAMiss", false, 25, {windowLine, true}},
        ScreenCase{
            "FocusLineCountsFirst",
            true,
            149,
            {windowLine + "\n" + aboveLine + "\n" + shownLine + "\n" + sideLine + "\n" + focusLine, true}},
        ScreenCase{"NothingFits", false, 0, {"", true}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OnScreenFirst, KeptRecordsKeepTheirLevel) {
  const std::vector<AXNodeRecord> nodes{
      {.depth = 0, .role = "AXWindow", .title = "W"},
      {.depth = 1, .role = "AXList", .description = std::string(40, 'l'), .onScreen = false},
      {.depth = 2, .role = "AXButton", .title = "In"},
  };
  EXPECT_EQ(AXTreeFormatter::format(nodes, 30), (Outline{"window W\n\t\tbutton In", true}));
}

}  // namespace
}  // namespace zoba
