#include <gtest/gtest.h>

#include <string>

#include "ZobaCaptureCore/AXNodeRecord.h"

namespace zoba {
namespace {

AXNodeRecord base() {
  return {.depth = 2,
          .role = "AXButton",
          .roleDescription = "button",
          .title = "Caf\u00E9",
          .value = "1",
          .description = "d",
          .placeholder = "p",
          .url = "https://example.org/",
          .settable = true};
}

TEST(AXNodeRecord, InitialiserTakesTheFieldsInOrder) {
  const AXNodeRecord r{3, "AXRow", "row", "t", "v", "d", "p", "u", true, false, true};
  EXPECT_EQ(r.depth, 3);
  EXPECT_EQ(r.role, "AXRow");
  EXPECT_EQ(r.url, "u");
  EXPECT_TRUE(r.settable);
  EXPECT_FALSE(r.selected);
  EXPECT_TRUE(r.focused);
  const AXNodeRecord bare{0, "AXWindow"};
  EXPECT_FALSE(bare.roleDescription || bare.title || bare.value || bare.description || bare.placeholder ||
               bare.url);
}

struct EqualityCase {
  const char* name;
  void (*change)(AXNodeRecord&);
  bool equal;
};

class RecordEquality : public testing::TestWithParam<EqualityCase> {};

TEST_P(RecordEquality, ComparesEveryField) {
  AXNodeRecord changed = base();
  GetParam().change(changed);
  EXPECT_EQ(base() == changed, GetParam().equal);
  EXPECT_EQ(changed == base(), GetParam().equal);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, RecordEquality,
    testing::Values(
        EqualityCase{"Same", [](AXNodeRecord&) {}, true},
        EqualityCase{"Depth", [](AXNodeRecord& r) { r.depth = 3; }, false},
        EqualityCase{"Role", [](AXNodeRecord& r) { r.role = "AXLink"; }, false},
        EqualityCase{"RoleDescriptionAbsent", [](AXNodeRecord& r) { r.roleDescription.reset(); }, false},
        EqualityCase{"TitleEmptyIsNotAbsent", [](AXNodeRecord& r) { r.title = ""; }, false},
        EqualityCase{"TitleDecomposed", [](AXNodeRecord& r) { r.title = "Cafe\u0301"; }, true},
        EqualityCase{"TitleOtherAccent", [](AXNodeRecord& r) { r.title = "Caf\u00E8"; }, false},
        EqualityCase{"TitleWhitespaceMatters", [](AXNodeRecord& r) { r.title = "Caf\u00E9 "; }, false},
        EqualityCase{"Value", [](AXNodeRecord& r) { r.value = "2"; }, false},
        EqualityCase{"Description", [](AXNodeRecord& r) { r.description.reset(); }, false},
        // The Kelvin sign is canonically the letter K.
        EqualityCase{"DescriptionKelvin", [](AXNodeRecord& r) { r.description = "\u212A"; }, false},
        EqualityCase{"Placeholder", [](AXNodeRecord& r) { r.placeholder = "P"; }, false},
        EqualityCase{"Url", [](AXNodeRecord& r) { r.url = "https://example.org"; }, false},
        EqualityCase{"Settable", [](AXNodeRecord& r) { r.settable = false; }, false},
        EqualityCase{"Selected", [](AXNodeRecord& r) { r.selected = true; }, false},
        EqualityCase{"Focused", [](AXNodeRecord& r) { r.focused = true; }, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct TextPair {
  const char* name;
  std::string a, b;
  bool equal;
};

class TextEquivalence : public testing::TestWithParam<TextPair> {};

TEST_P(TextEquivalence, IsCanonical) {
  const AXNodeRecord a{.role = "AXStaticText", .value = GetParam().a};
  const AXNodeRecord b{.role = "AXStaticText", .value = GetParam().b};
  EXPECT_EQ(a == b, GetParam().equal);
}

INSTANTIATE_TEST_SUITE_P(Texts, TextEquivalence,
                         testing::Values(TextPair{"Kelvin", "\u212A", "K", true},
                                         TextPair{"Angstrom", "\u212B", "A\u030A", true},
                                         // Canonical reordering of marks below and above.
                                         TextPair{"MarkOrder", "q\u0307\u0323", "q\u0323\u0307", true},
                                         TextPair{"HangulSyllable", "\uAC00", "\u1100\u1161", true},
                                         // Compatibility forms are not canonical.
                                         TextPair{"LigatureIsNotCanonical", "\uFB01", "fi", false},
                                         TextPair{"InvalidIsReplacement", "a\xFF", "a\uFFFD", true},
                                         TextPair{"InvalidDiffers", "a\xFF", "a", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zoba
