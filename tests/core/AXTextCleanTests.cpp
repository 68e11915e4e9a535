#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "ZobaCaptureCore/AXTreeFormatter.h"

namespace zoba {
namespace {

struct CleanCase {
  const char* name;
  std::optional<std::string> text;
  std::int64_t limit;
  std::string expected;
};

class Clean : public testing::TestWithParam<CleanCase> {};

TEST_P(Clean, CollapsesAndCaps) {
  EXPECT_EQ(AXTreeFormatter::clean(GetParam().text, GetParam().limit), GetParam().expected);
}

// U+0301 combining acute, U+2026 the ellipsis.
INSTANTIATE_TEST_SUITE_P(
    Ascii, Clean,
    testing::Values(CleanCase{"Absent", std::nullopt, 10, ""}, CleanCase{"Empty", "", 10, ""},
                    CleanCase{"CollapsesAndTrims", " \t hello \n\r\n  world\f\v ", 100, "hello world"},
                    CleanCase{"ExactlyLimit", "abc", 3, "abc"},
                    CleanCase{"OneOverLimit", "abcd", 3, "abc\u2026"},
                    CleanCase{"OnlySeparators", " \t\r\n\v\f ", 5, ""},
                    CleanCase{"LimitOneTwoWords", "ab cd", 1, "a\u2026"},
                    CleanCase{"CutAfterSpaceKeepsIt", "ab cd", 3, "ab \u2026"},
                    CleanCase{"TrailingSeparatorsDoNotCount", "abc   ", 3, "abc"},
                    CleanCase{"ZeroLimit", "abc", 0, "\u2026"},
                    CleanCase{"NegativeLimitIsZero", "abc", -5, "\u2026"},
                    CleanCase{"ZeroLimitNothingLeft", "   ", 0, ""},
                    // Unit and group separators are controls, not White_Space.
                    CleanCase{"InformationSeparatorsAreText",
                              "a\x1F"
                              "b",
                              10,
                              "a\x1F"
                              "b"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Unicode, Clean,
    testing::Values(
        CleanCase{"CombiningMarksAreOneCharacter", "e\u0301e\u0301e\u0301", 2, "e\u0301e\u0301\u2026"},
        CleanCase{"CombiningMarksFitExactly", "Cafe\u0301", 4, "Cafe\u0301"},
        CleanCase{"ZwjFamilyIsOneCharacter", "\U0001F468\u200D\U0001F469\u200D\U0001F467ab", 2,
                  "\U0001F468\u200D\U0001F469\u200D\U0001F467a\u2026"},
        CleanCase{"SkinToneIsOneCharacter", "\U0001F44D\U0001F3FD\U0001F44D\U0001F3FFx", 2,
                  "\U0001F44D\U0001F3FD\U0001F44D\U0001F3FF\u2026"},
        CleanCase{"FlagIsOneCharacter", "\U0001F1E9\U0001F1EA!", 1, "\U0001F1E9\U0001F1EA\u2026"},
        CleanCase{"SupplementaryCountOneEach", "\U0001F600\U0001F601\U0001F602", 3,
                  "\U0001F600\U0001F601\U0001F602"},
        CleanCase{"SupplementaryCut", "\U0001F600\U0001F601\U0001F602", 2, "\U0001F600\U0001F601\u2026"},
        CleanCase{"CjkCut", "\u4FDD\u5B58\u3057\u3066", 2, "\u4FDD\u5B58\u2026"},
        CleanCase{"NextLine", "a\u0085b", 10, "a b"}, CleanCase{"LineSeparator", "a\u2028\u2029b", 10, "a b"},
        CleanCase{"NoBreakSpace", "\u00A0a\u00A0\u00A0b\u00A0", 10, "a b"},
        CleanCase{"IdeographicAndThinSpaces", "a\u3000b\u2009c\u202Fd", 10, "a b c d"},
        CleanCase{"ZeroWidthSpaceIsNotWhiteSpace", "a\u200Bb", 10, "a\u200Bb"},
        CleanCase{"CrLfCollapses", "a\r\n\r\nb", 10, "a b"},
        // A space and its combining mark form one separator character; the mark goes with it.
        CleanCase{"SpaceTakesItsMark", "a \u0301b", 10, "a b"},
        CleanCase{"OnlySeparatorsWithMark", " \u0301\u00A0\u2028", 10, ""},
        // After a line feed the mark starts its own character, a word; once joined with a space the
        // space and the mark are one character, and the cap counts the joined text.
        CleanCase{"MarkAfterLineFeedIsAWord", "a\n\u0301b", 3, "a \u0301b"},
        CleanCase{"JoinedTextIsWhatIsCounted", "a\n\u0301b", 2, "a \u0301\u2026"},
        CleanCase{"CutAfterSpaceNonAscii", "\u00E9 fg", 2, "\u00E9 \u2026"},
        CleanCase{"InvalidByteIsReplacement",
                  "a\xFF"
                  "b",
                  10, "a\uFFFDb"},
        CleanCase{"TruncatedSequence", "ab\xE2\x80", 10, "ab\uFFFD"},
        CleanCase{"SurrogateEncodingIsInvalid", "\xED\xA0\x80", 10, "\uFFFD\uFFFD\uFFFD"},
        CleanCase{"OverlongIsInvalid", "x\xC0\x80y", 10, "x\uFFFD\uFFFDy"},
        CleanCase{"InvalidCountsAsCharacters", "\xFF\xFF\xFF", 2, "\uFFFD\uFFFD\u2026"},
        CleanCase{"InvalidLeadBeforeMarkIsCut", "\xFF\u0301x", 1, "\uFFFD\u0301\u2026"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Clean, HugeValueIsCappedWithoutChangingTheResult) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "mot\u00E9 ";
  std::string expected;
  for (int i = 0; i < 100; ++i) expected += "mot\u00E9 ";
  expected += "\u2026";
  EXPECT_EQ(AXTreeFormatter::clean(text, 500), expected);
}

}  // namespace
}  // namespace zoba
