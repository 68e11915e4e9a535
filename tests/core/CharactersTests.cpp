#include <gtest/gtest.h>

#include <string>

#include "ZobaCaptureCore/Characters.h"

namespace zoba {
namespace {

struct CharacterCase {
  const char* name;
  std::string text;
  std::int64_t count;
  std::int64_t limit;
  std::string prefix;
};

// U+0301 combining acute; a family emoji joined by U+200D; a flag of two regional indicators.
TEST(Characters, CountAndPrefixNeverSplitACharacter) {
  const CharacterCase cases[] = {
      {"empty", "", 0, 3, ""},
      {"ascii", "hello", 5, 3, "hel"},
      {"ascii shorter than the limit", "hi", 2, 10, "hi"},
      {"CR LF is one character", "a\r\nb", 3, 2, "a\r\n"},
      {"combining mark", "e\u0301te\u0301", 3, 1, "e\u0301"},
      {"joined emoji", "\U0001F468\u200D\U0001F469\u200D\U0001F467x", 2, 1,
       "\U0001F468\u200D\U0001F469\u200D\U0001F467"},
      {"flag", "\U0001F1E9\U0001F1EA!", 2, 1, "\U0001F1E9\U0001F1EA"},
      {"zero limit", "abc", 3, 0, ""},
      {"ill-formed bytes read as U+FFFD",
       "a\xff"
       "b",
       3, 2, "a\uFFFD"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Characters::count(c.text), c.count) << c.name;
    EXPECT_EQ(Characters::prefix(c.text, c.limit), c.prefix) << c.name;
  }
}

}  // namespace
}  // namespace zoba
