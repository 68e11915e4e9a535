// How an element's text splits into runs around its child objects.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Platform/linux/atspi/AtspiTextRuns.h"

namespace zoba::platform::linux_backend::atspi {
namespace {

const std::string object = "\xEF\xBF\xBC";  // U+FFFC
TextPiece run(std::string text) { return TextPiece{false, std::move(text)}; }
const TextPiece child{true, {}};

TEST(AtspiTextRuns, SplitsTextAroundChildObjectsInOrder) {
  struct Case {
    const char* name;
    std::string text;
    std::optional<std::vector<TextPiece>> pieces;
  };
  const std::vector<Case> cases{
      {"runs around a child", "Revenue grew by " + object + " in the third quarter.",
       std::vector{run("Revenue grew by "), child, run(" in the third quarter.")}},
      {"text alone", "Just words", std::vector{run("Just words")}},
      {"children next to each other", object + object + "tail", std::vector{child, child, run("tail")}},
      {"white-space runs dropped", object + " \n\t" + object + "\xC2\xA0" + object + " end ",
       std::vector{child, child, child, run(" end ")}},
      {"only white space between", " " + object + " ", std::vector{child}},
      {"all child objects", object + object + object, std::nullopt},
      {"empty", "", std::nullopt},
      {"non-ASCII kept whole", "Grüße " + object + " 日本", std::vector{run("Grüße "), child, run(" 日本")}},
  };
  for (const auto& c : cases) EXPECT_EQ(textRuns(c.text), c.pieces) << c.name;
}

TEST(AtspiTextRuns, LongTextSplitsInOnePass) {
  std::string text;
  std::vector<TextPiece> expected;
  while (text.size() < 100000) {
    text += "word run " + object;
    expected.push_back(run("word run "));
    expected.push_back(child);
  }
  auto pieces = textRuns(text);
  ASSERT_TRUE(pieces);
  EXPECT_EQ(*pieces, expected);
}

TEST(AtspiTextRuns, TextWithoutObjectsKeepsItsWords) {
  EXPECT_EQ(withoutObjects("Fig. " + object + " shows the bay" + object), "Fig.  shows the bay");
  EXPECT_EQ(withoutObjects(object + object), "");
  EXPECT_EQ(withoutObjects("Grüße"), "Grüße");
}

TEST(AtspiTextRuns, RunHandlesAreNoObjectPaths) {
  const std::string path = "/org/a11y/atspi/accessible/12";
  EXPECT_FALSE(isRunPath(path));
  EXPECT_TRUE(isRunPath(runPath(path, 0)));
  EXPECT_NE(runPath(path, 0), runPath(path, 1));
}

TEST(AtspiTextRuns, TerminalRowsAreTheLastLinesWithoutTheBlankOnesBelow) {
  struct Case {
    std::string text;
    std::size_t maxRows;
    std::string rows;
  };
  for (const Case& c : std::vector<Case>{
           {"$ ls\nnotes.txt\n$ \n\n\n", 24, "$ ls\nnotes.txt\n$"},
           {"one\ntwo\nthree", 2, "two\nthree"},
           {"one\ntwo\nthree", 3, "one\ntwo\nthree"},
           {"one\ntwo\nthree", 1, "three"},
           {"\n\nlast", 5, "\n\nlast"},
           {"  \n \n", 24, ""},
           {"", 24, ""},
       }) {
    EXPECT_EQ(terminalRows(c.text, c.maxRows), c.rows) << c.text;
  }
}

}  // namespace
}  // namespace zoba::platform::linux_backend::atspi
