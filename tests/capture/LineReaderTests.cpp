#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "ZobaCapture/LineReader.h"
#include "ZobaCapture/RequestParser.h"
#include "ZobaCapture/Utf8.h"

namespace zoba {
namespace {

// Everything LineReader gives for `input` written in chunks of `chunk` bytes.
std::vector<std::string> linesOf(const std::string& input, std::size_t maxLength,
                                 std::size_t chunk = 1 << 20) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  std::thread writer([&] {
    for (std::size_t at = 0; at < input.size(); at += chunk) {
      auto piece = std::min(chunk, input.size() - at);
      if (::write(fds[1], input.data() + at, piece) != static_cast<ssize_t>(piece)) break;
    }
    ::close(fds[1]);
  });
  std::vector<std::string> lines;
  LineReader reader(fds[0], maxLength);
  while (auto line = reader.next()) lines.push_back(*line);
  writer.join();
  ::close(fds[0]);
  return lines;
}

TEST(LineReader, Framing) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(linesOf("a\nb\n", 100), (Lines{"a", "b"}));
  EXPECT_EQ(linesOf("a\r\nb\r\n", 100), (Lines{"a", "b"}));
  EXPECT_EQ(linesOf("a\r\r\n", 100), (Lines{"a\r"}));
  EXPECT_EQ(linesOf("a\rb\n", 100), (Lines{"a\rb"}));
  EXPECT_EQ(linesOf("\n\n", 100), (Lines{"", ""}));
  EXPECT_EQ(linesOf("last", 100), (Lines{"last"}));
  EXPECT_EQ(linesOf("", 100), Lines{});
  EXPECT_EQ(linesOf(std::string("a\0b\n", 4), 100), (Lines{std::string("a\0b", 3)}));
  EXPECT_EQ(linesOf("one\ntwo\nthree", 100, 1), (Lines{"one", "two", "three"}));
}

TEST(LineReader, LongLinesAreDroppedWholeAndReadingGoesOn) {
  using Lines = std::vector<std::string>;
  std::string limit(1000, 'x');
  EXPECT_EQ(linesOf(limit + "\nnext\n", 1000), (Lines{limit, "next"}));
  EXPECT_EQ(linesOf(limit + "y\nnext\n", 1000), (Lines{"next"}));
  EXPECT_EQ(linesOf(limit + "y\nnext\n", 1000, 7), (Lines{"next"}));
  EXPECT_EQ(linesOf(std::string(300000, 'z') + "\nnext", 1000), (Lines{"next"}));
  EXPECT_EQ(linesOf(std::string(300000, 'z'), 1000), Lines{});  // ends inside the long line
}

TEST(RequestParser, OnlyObjectsWithAStringType) {
  EXPECT_TRUE(parseRequest(R"({"type":"status"})"));
  EXPECT_TRUE(parseRequest(R"(  {"type":"status","id":1}  )"));
  for (const char* line : {"", " ", "[]", "null", "\"status\"", R"({"type":5})", R"({"id":"1"})",
                           R"({"type":"a")", R"({"type":"a"} x)", "{\"type\":\"\\ud800\"}"}) {
    EXPECT_FALSE(parseRequest(line)) << line;
  }
}

TEST(RequestParser, DeepNestingIsRefusedWithoutRecursion) {
  EXPECT_FALSE(parseRequest(std::string(1'000'000, '[')));
  EXPECT_FALSE(
      parseRequest(R"({"type":"status","x":)" + std::string(100000, '[') + std::string(100000, ']') + "}"));
  std::string nested = R"({"type":"status","x":)" + std::string(50, '[') + std::string(50, ']') + "}";
  EXPECT_TRUE(parseRequest(nested));
  // Brackets inside strings are text.
  EXPECT_TRUE(parseRequest(R"({"type":"status","x":")" + std::string(100000, '[') + "\\\"\"}"));
}

TEST(Utf8, InvalidSequencesBecomeReplacementCharacters) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain", "plain"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},
      {"\xff", "\xEF\xBF\xBD"},
      {"a\xc3(", "a\xEF\xBF\xBD("},
      {"\xed\xa0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // a surrogate, byte by byte
      {"\xf0\x9f\x98", "\xEF\xBF\xBD"},                          // a truncated four-byte sequence
      {std::string("\0", 1), std::string("\0", 1)},
  };
  for (const auto& [input, expected] : cases) EXPECT_EQ(Utf8::replacingInvalid(input), expected);
}

}  // namespace
}  // namespace zoba
