#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "ZobaCaptureCore/AXTreeFormatter.h"

namespace zoba {
namespace {

using AXTreeFormatter::Outline;

std::int64_t utf16Units(const std::string& text) {
  std::int64_t units = 0;
  for (const unsigned char c : text) units += ((c & 0xC0) != 0x80) + (c >= 0xF0);
  return units;
}

// ---- describe ----

struct DescribeCase {
  const char* name;
  AXNodeRecord node;
  std::string line;
};

class Describe : public testing::TestWithParam<DescribeCase> {};

TEST_P(Describe, GivesTheLine) { EXPECT_EQ(AXTreeFormatter::describe(GetParam().node), GetParam().line); }

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, Describe,
    testing::Values(
        DescribeCase{"Button", {.role = "AXButton", .roleDescription = "button", .title = "OK"}, "button OK"},
        DescribeCase{"TextField",
                     {.role = "AXTextField",
                      .roleDescription = "text field",
                      .value = "hello   world",
                      .placeholder = "Search",
                      .settable = true},
                     "text field (settable), Value: hello world, Placeholder: Search"},
        DescribeCase{"CheckBox",
                     {.role = "AXCheckBox", .title = "Remember me", .value = "1", .settable = true},
                     "checkbox (settable) Remember me, Value: 1"},
        DescribeCase{"BlankRoleDescription",
                     {.role = "AXStaticText", .roleDescription = "  ", .value = "Welcome"},
                     "statictext, Value: Welcome"},
        DescribeCase{"LinkDescriptionEqualsTitle",
                     {.role = "AXLink",
                      .roleDescription = "link",
                      .title = "Docs",
                      .description = "Docs",
                      .url = "file:///tmp/a.html"},
                     "link Docs, URL: file:///tmp/a.html"},
        DescribeCase{"Row",
                     {.role = "AXRow", .roleDescription = "row", .settable = true, .selected = true},
                     "row (settable, selected)"},
        DescribeCase{"LongRoleDescription",
                     {.role = "AXGroup", .roleDescription = std::string(70, 'a')},
                     std::string(60, 'a') + "\u2026"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Rules, Describe,
    testing::Values(
        DescribeCase{"RoleJustAXWithState", {.role = "AX", .selected = true}, " (selected)"},
        DescribeCase{"RoleJustAXWithTitle", {.role = "AX", .title = "x"}, " x"},
        DescribeCase{"EmptyRole", {.role = ""}, ""},
        DescribeCase{"PrefixIsCaseSensitive", {.role = "axButton"}, "axbutton"},
        DescribeCase{"OnlyLeadingAXGoes", {.role = "AXAXList"}, "axlist"},
        DescribeCase{"FocusedIsNotAState", {.role = "AXButton", .focused = true}, "button"},
        DescribeCase{"KindFromRoleIsNotCleaned", {.role = "AXTwo  Words"}, "two  words"},
        // Default mapping: dotted capital I keeps its dot, final sigma is final.
        DescribeCase{"KindLowerCaseIsLocaleFree", {.role = "AX\u00C9CRAN\u0130"}, "\u00E9crani\u0307"},
        DescribeCase{
            "KindLowerCaseFinalSigma", {.role = "AX\u039F\u0394\u039F\u03A3"}, "\u03BF\u03B4\u03BF\u03C2"},
        DescribeCase{"InvalidRoleBytes", {.role = "AXA\xFF"}, "a\uFFFD"},
        DescribeCase{"ValueEqualsTitle", {.role = "AXButton", .title = "Go", .value = " Go "}, "button Go"},
        DescribeCase{"ValueEqualsDescription",
                     {.role = "AXImage", .value = "Logo", .description = "Logo"},
                     "image, Description: Logo"},
        DescribeCase{"ValueComparedWithDescriptionLeftOut",
                     {.role = "AXImage", .title = "Logo", .value = "Logo", .description = "Logo"},
                     "image Logo"},
        DescribeCase{"AllDetailsInOrder",
                     {.role = "AXTextField",
                      .roleDescription = "search field",
                      .title = "Find",
                      .value = "cats",
                      .description = "Search the web",
                      .placeholder = "Type here",
                      .url = "https://example.org/?q=cats",
                      .settable = true},
                     "search field (settable) Find, Description: Search the web, Value: cats, "
                     "Placeholder: Type here, URL: https://example.org/?q=cats"},
        DescribeCase{"PlaceholderAndUrlRepeatFreely",
                     {.role = "AXLink", .title = "a", .placeholder = "a", .url = "a"},
                     "link a, Placeholder: a, URL: a"},
        // Precomposed against decomposed: one text under canonical equivalence.
        DescribeCase{"ValueCanonicallyEqualsTitle",
                     {.role = "AXButton", .title = "Caf\u00E9", .value = "Cafe\u0301"},
                     "button Caf\u00E9"},
        DescribeCase{"DescriptionCanonicallyEqualsTitle",
                     {.role = "AXButton", .title = "A\u030A", .description = "\u00C5"},
                     "button A\u030A"},
        DescribeCase{"DifferentAccentsDiffer",
                     {.role = "AXButton", .title = "Caf\u00E9", .value = "Caf\u00E8"},
                     "button Caf\u00E9, Value: Caf\u00E8"},
        DescribeCase{"CapsPerField",
                     {.role = "AXTextArea", .value = std::string(600, 'v'), .url = std::string(501, 'u')},
                     "textarea, Value: " + std::string(500, 'v') + "\u2026, URL: " + std::string(500, 'u') +
                         "\u2026"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- shouldPresent ----

struct PresentCase {
  const char* name;
  AXNodeRecord node;
  bool presented;
};

class ShouldPresent : public testing::TestWithParam<PresentCase> {};

TEST_P(ShouldPresent, Decides) {
  EXPECT_EQ(AXTreeFormatter::shouldPresent(GetParam().node), GetParam().presented);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ShouldPresent,
    testing::Values(
        PresentCase{"Window", {.depth = 0, .role = "AXWindow"}, true},
        PresentCase{"NegativeDepthIsTheWindow", {.depth = -3, .role = "AXGroup"}, true},
        PresentCase{"Bare", {.depth = 1, .role = "AXGroup"}, false},
        PresentCase{"Focused", {.depth = 2, .role = "AXGroup", .focused = true}, true},
        PresentCase{"Selected", {.depth = 2, .role = "AXGroup", .selected = true}, true},
        PresentCase{"Settable", {.depth = 2, .role = "AXGroup", .settable = true}, true},
        PresentCase{"Structural", {.depth = 1, .role = "AXToolbar"}, true},
        PresentCase{"StructuralIsExact", {.depth = 1, .role = "AXtoolbar"}, false},
        PresentCase{"Title", {.depth = 1, .role = "AXGroup", .title = "x"}, true},
        PresentCase{"Value", {.depth = 1, .role = "AXGroup", .value = " 0 "}, true},
        PresentCase{"Description", {.depth = 1, .role = "AXGroup", .description = "d"}, true},
        PresentCase{"Placeholder", {.depth = 1, .role = "AXGroup", .placeholder = "p"}, true},
        PresentCase{"BlankTexts",
                    {.depth = 1,
                     .role = "AXGroup",
                     .title = "",
                     .value = " \u00A0\u2028\r\n",
                     .description = "\t",
                     .placeholder = " \u0301"},
                    false},
        PresentCase{"RoleDescriptionAndUrlDoNotCount",
                    {.depth = 1, .role = "AXGroup", .roleDescription = "group", .url = "x:y"},
                    false},
        PresentCase{"InvalidByteIsACharacter", {.depth = 1, .role = "AXGroup", .title = " \xFF"}, true},
        PresentCase{
            "MarkAfterLineFeedIsACharacter", {.depth = 1, .role = "AXGroup", .title = "\n\u0301"}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StructuralRoles, AreTheSix) {
  const std::set<std::string, std::less<>> expected{"AXWebArea", "AXToolbar", "AXTabGroup",
                                                    "AXTable",   "AXList",    "AXOutline"};
  EXPECT_EQ(AXTreeFormatter::structuralRoles(), expected);
}

// ---- format ----

std::vector<AXNodeRecord> notesWindow() {
  return {
      {.depth = 0, .role = "AXWindow", .roleDescription = "standard window", .title = "Notes"},
      {.depth = 1, .role = "AXGroup", .roleDescription = "group"},
      {.depth = 2, .role = "AXButton", .roleDescription = "button", .title = "Save"},
      {.depth = 2,
       .role = "AXTextField",
       .roleDescription = "text field",
       .value = "Memo",
       .settable = true,
       .focused = true},
      {.depth = 1, .role = "AXToolbar", .roleDescription = "toolbar"},
      {.depth = 2, .role = "AXButton", .roleDescription = "button", .description = "Share"},
  };
}

const std::string windowLine = "standard window Notes";
const std::string saveLine = "\tbutton Save";
const std::string memoLine = "\ttext field (settable), Value: Memo";
const std::string toolbarLine = "\ttoolbar";
const std::string shareLine = "\t\tbutton, Description: Share";
const std::string focusLine = "The focused UI element is text field (settable), Value: Memo";

struct FormatCase {
  const char* name;
  std::int64_t limit;
  Outline expected;
};

class FormatNotes : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatNotes, GivesTheOutline) {
  const Outline outline = AXTreeFormatter::format(notesWindow(), GetParam().limit);
  EXPECT_EQ(outline.text, GetParam().expected.text);
  EXPECT_EQ(outline.truncated, GetParam().expected.truncated);
  if (!outline.text.empty()) {
    EXPECT_LE(utf16Units(outline.text), GetParam().limit - 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExample, FormatNotes,
    testing::Values(FormatCase{"Limit200",
                               200,
                               {windowLine + "\n" + saveLine + "\n" + memoLine + "\n" + toolbarLine + "\n" +
                                    shareLine + "\n" + focusLine,
                                false}},
                    FormatCase{"Limit150",
                               150,
                               {windowLine + "\n" + saveLine + "\n" + memoLine + "\n" + toolbarLine + "\n" +
                                    focusLine,
                                true}},
                    // A limit equal to the focus line's cost leaves no budget for the tree.
                    FormatCase{"Limit61", 61, {focusLine, true}},
                    // One lower drops the focus line and keeps the whole limit for the tree.
                    FormatCase{"Limit60", 60, {windowLine + "\n" + saveLine, true}},
                    FormatCase{"Limit0", 0, {"", true}}, FormatCase{"NegativeLimit", -7, {"", true}},
                    FormatCase{"MostNegativeLimit", std::numeric_limits<std::int64_t>::min(), {"", true}},
                    FormatCase{"HugeLimit",
                               std::numeric_limits<std::int64_t>::max(),
                               {windowLine + "\n" + saveLine + "\n" + memoLine + "\n" + toolbarLine + "\n" +
                                    shareLine + "\n" + focusLine,
                                false}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Format, WorkedExampleLengths) {
  EXPECT_EQ(utf16Units(focusLine), 60);
  EXPECT_EQ(utf16Units(AXTreeFormatter::format(notesWindow(), 200).text), 169);
}

TEST(Format, EmptyListIsEmptyAndComplete) {
  EXPECT_EQ(AXTreeFormatter::format({}, 100), (Outline{"", false}));
  EXPECT_EQ(AXTreeFormatter::format({}, 0), (Outline{"", false}));
}

TEST(Format, NoFocusedRecordNoFocusLine) {
  const std::vector<AXNodeRecord> nodes{{.depth = 0, .role = "AXWindow", .title = "W"},
                                        {.depth = 1, .role = "AXButton", .title = "B"}};
  EXPECT_EQ(AXTreeFormatter::format(nodes, 100), (Outline{"window W\n\tbutton B", false}));
}

TEST(Format, TwoFocusedRecordsNameTheLater) {
  const std::vector<AXNodeRecord> nodes{{.depth = 0, .role = "AXWindow", .focused = true},
                                        {.depth = 1, .role = "AXButton", .title = "A", .focused = true},
                                        {.depth = 1, .role = "AXButton", .title = "B", .focused = true},
                                        {.depth = 1, .role = "AXButton", .title = "C"}};
  EXPECT_EQ(
      AXTreeFormatter::format(nodes, 1000),
      (Outline{"window\n\tbutton A\n\tbutton B\n\tbutton C\nThe focused UI element is button B", false}));
}

TEST(Format, HiddenRecordsPassTheirLevelToChildren) {
  const std::vector<AXNodeRecord> nodes{
      {.depth = 0, .role = "AXWindow"},
      {.depth = 1, .role = "AXGroup"},                // hidden
      {.depth = 2, .role = "AXGroup", .title = " "},  // hidden: only a separator
      {.depth = 3, .role = "AXButton", .title = "Deep"},
      {.depth = 4, .role = "AXImage", .description = "Icon"},
      {.depth = 2, .role = "AXList"},
      {.depth = 3, .role = "AXStaticText", .value = "Item"},
      {.depth = 1, .role = "AXButton", .title = "Close"},
  };
  EXPECT_EQ(AXTreeFormatter::format(nodes, 1000).text,
            "window\n\tbutton Deep\n\t\timage, Description: Icon\n\tlist\n\t\tstatictext, Value: "
            "Item\n\tbutton Close");
}

TEST(Format, ALineThatDoesNotFitEndsTheWalk) {
  const std::vector<AXNodeRecord> nodes{{.depth = 0, .role = "AXWindow"},
                                        {.depth = 1, .role = "AXButton", .title = std::string(50, 'x')},
                                        {.depth = 1, .role = "AXButton", .title = "y"}};
  // "window" costs 7; the long line 59 more; "\tbutton y" would cost only 10.
  EXPECT_EQ(AXTreeFormatter::format(nodes, 30), (Outline{"window", true}));
  EXPECT_EQ(AXTreeFormatter::format(nodes, 66), (Outline{"window\n\tbutton " + std::string(50, 'x'), true}));
  EXPECT_EQ(AXTreeFormatter::format(nodes, 76).truncated, false);
}

TEST(Format, BudgetCountsUtf16CodeUnits) {
  // Three characters outside the BMP: one character each for the cap, two units each for the budget.
  const std::string emoji = "\U0001F600\U0001F601\U0001F602";
  const std::vector<AXNodeRecord> nodes{{.depth = 0, .role = "AXWindow", .title = emoji}};
  EXPECT_EQ(AXTreeFormatter::clean(emoji, 3), emoji);
  // "window " is 7 units, the title 6, the line feed 1.
  EXPECT_EQ(AXTreeFormatter::format(nodes, 14), (Outline{"window " + emoji, false}));
  EXPECT_EQ(AXTreeFormatter::format(nodes, 13), (Outline{"", true}));
}

TEST(Format, FocusLineCostCountsUtf16CodeUnits) {
  const std::vector<AXNodeRecord> nodes{
      {.depth = 0, .role = "AXButton", .title = "\u4F60\U0001F44D", .focused = true}};
  const std::string line = "button \u4F60\U0001F44D";
  // The focus line is 36 units, cost 37; the tree line 10 (the emoji counts two), cost 11.
  EXPECT_EQ(AXTreeFormatter::format(nodes, 37), (Outline{"The focused UI element is " + line, true}));
  EXPECT_EQ(AXTreeFormatter::format(nodes, 47), (Outline{"The focused UI element is " + line, true}));
  EXPECT_EQ(AXTreeFormatter::format(nodes, 48),
            (Outline{line + "\nThe focused UI element is " + line, false}));
  EXPECT_EQ(AXTreeFormatter::format(nodes, 36), (Outline{line, false}));
}

TEST(Format, InvalidUtf8BecomesReplacementCharacters) {
  const std::vector<AXNodeRecord> nodes{{.depth = 0,
                                         .role = "AXWin\xC3",
                                         .title = "a\xFF\xFE"
                                                  "b",
                                         .url = "\xE2\x82"}};
  EXPECT_EQ(AXTreeFormatter::format(nodes, 100).text, "win\uFFFD a\uFFFD\uFFFDb, URL: \uFFFD");
}

// Input out of pre-order is outside the walker's contract; the outline stays well formed: a negative
// depth counts as 0, and a jump places the record as if the skipped ancestors were hidden.
struct OrderCase {
  const char* name;
  std::vector<AXNodeRecord> nodes;
  std::string text;
};

class FormatOutOfOrder : public testing::TestWithParam<OrderCase> {};

TEST_P(FormatOutOfOrder, StaysSafe) {
  const Outline outline = AXTreeFormatter::format(GetParam().nodes, 10000);
  EXPECT_EQ(outline.text, GetParam().text);
  EXPECT_FALSE(outline.truncated);
}

INSTANTIATE_TEST_SUITE_P(
    Depths, FormatOutOfOrder,
    testing::Values(
        OrderCase{"JumpIsOneLevelDeeper",
                  {{.depth = 0, .role = "AXWindow"}, {.depth = 5, .role = "AXButton", .title = "a"}},
                  "window\n\tbutton a"},
        OrderCase{"SiblingsAfterAJumpStaySiblings",
                  {{.depth = 0, .role = "AXWindow"},
                   {.depth = 3, .role = "AXButton", .title = "a"},
                   {.depth = 3, .role = "AXButton", .title = "b"},
                   {.depth = 4, .role = "AXButton", .title = "c"},
                   {.depth = 2, .role = "AXButton", .title = "d"}},
                  "window\n\tbutton a\n\tbutton b\n\t\tbutton c\n\tbutton d"},
        OrderCase{"NegativeDepthIsTopLevel",
                  {{.depth = 0, .role = "AXWindow"},
                   {.depth = 1, .role = "AXButton", .title = "a"},
                   {.depth = -4, .role = "AXGroup"},
                   {.depth = 1, .role = "AXButton", .title = "b"}},
                  "window\n\tbutton a\ngroup\n\tbutton b"},
        OrderCase{
            "FirstRecordNotAtZero",
            {{.depth = 2, .role = "AXButton", .title = "a"}, {.depth = 3, .role = "AXButton", .title = "b"}},
            "button a\n\tbutton b"},
        OrderCase{"ExtremeDepths",
                  {{.depth = std::numeric_limits<std::int64_t>::max(), .role = "AXButton", .title = "a"},
                   {.depth = std::numeric_limits<std::int64_t>::min(), .role = "AXButton", .title = "b"}},
                  "button a\nbutton b"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Format, RacingFirstUsesAgree) {
  // The structural roles and each thread's ICU iterator are built on first use.
  const std::vector<AXNodeRecord> nodes{
      {.depth = 0, .role = "AXWindow", .title = "Caf\u00E9 \U0001F44D\U0001F3FD"},
      {.depth = 1, .role = "AXToolbar"},
      {.depth = 2, .role = "AXButton", .title = "\u4FDD\u5B58  e\u0301", .focused = true}};
  const Outline expected = AXTreeFormatter::format(nodes, 1000);
  std::vector<std::thread> threads;
  std::vector<Outline> results(4);
  for (auto& result : results) {
    threads.emplace_back([&nodes, &result] { result = AXTreeFormatter::format(nodes, 1000); });
  }
  for (auto& thread : threads) thread.join();
  for (const auto& result : results) EXPECT_EQ(result, expected);
}

}  // namespace
}  // namespace zoba
