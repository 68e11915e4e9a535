#include <gtest/gtest.h>

#include <cmath>

#include "ZobaCapture/CommandLine.h"
#include "ZobaCapture/Service.h"
#include "tests/fakes/FakePlatform.h"

namespace zoba {
namespace {

using Arguments = std::vector<std::string>;

TEST(CommandLine, ValueIsTheElementAfterTheFirstOccurrence) {
  struct Case {
    Arguments arguments;
    std::optional<std::string> hotkey;
  };
  const std::vector<Case> cases = {
      {{"zoba"}, std::nullopt},
      {{"zoba", "--hotkey"}, std::nullopt},
      {{"zoba", "--hotkey", "option"}, "option"},
      {{"zoba", "--hotkey", "--host-pid", "812"}, "--host-pid"},
      {{"zoba", "--hotkey", "command", "--hotkey", "option"}, "command"},
      {{"zoba", "--Hotkey", "option"}, std::nullopt},
      {{"zoba", "--hotkey=option"}, std::nullopt},
      {{"zoba", "--hotkey", ""}, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CommandLine::value("--hotkey", c.arguments), c.hotkey) << c.arguments.size();
  EXPECT_TRUE(CommandLine::has("--debug-transition", {"zoba", "--debug-transition"}));
  EXPECT_FALSE(CommandLine::has("--debug-transition", {"zoba", "--debug-transition=1"}));
}

TEST(CommandLine, IntegerRule) {
  const std::vector<std::pair<std::string, std::optional<std::int32_t>>> cases = {
      {"812", 812},
      {"+812", 812},
      {"-3", -3},
      {"0", 0},
      {"007", 7},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {" 812", std::nullopt},
      {"812 ", std::nullopt},
      {"0x10", std::nullopt},
      {"8.0", std::nullopt},
      {"", std::nullopt},
      {"+", std::nullopt},
      {"-", std::nullopt},
      {"+-3", std::nullopt},
      {"--3", std::nullopt},
      {"١٢", std::nullopt},  // digits of another script
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(CommandLine::integer(text), expected) << '"' << text << '"';
}

TEST(CommandLine, DecimalRule) {
  const std::vector<std::pair<std::string, std::optional<double>>> cases = {
      {"2.5", 2.5},
      {"2", 2.0},
      {"2e0", 2.0},
      {"0x1p1", 2.0},
      {"-0.5", -0.5},
      {"+3", 3.0},
      {".5", 0.5},
      {"3.", 3.0},
      {"INF", INFINITY},
      {"-Infinity", -INFINITY},
      {" 2", std::nullopt},
      {"\t2", std::nullopt},
      {"2 ", std::nullopt},
      {"2s", std::nullopt},
      {"2,5", std::nullopt},
      {"", std::nullopt},
      {"fast", std::nullopt},
      {std::string("2\0", 2), std::nullopt},
      {std::string("\0", 1), std::nullopt},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(CommandLine::decimal(text), expected) << '"' << text << '"';
  auto nan = CommandLine::decimal("nan");
  ASSERT_TRUE(nan);
  EXPECT_TRUE(std::isnan(*nan));
}

TEST(CommandLine, ServiceFieldsFromTheArguments) {
  fakes::installFakePlatform();
  struct Case {
    Arguments arguments;
    std::int32_t hostPid;
    ChordPreset preset;
  };
  const std::vector<Case> cases = {
      {{"zoba", "--service"}, 0, ChordPreset::shift},
      {{"zoba", "--hotkey", "option", "--service"}, 0, ChordPreset::option},
      {{"zoba", "--hotkey", "Option"}, 0, ChordPreset::shift},
      {{"zoba", "--hotkey", "cmd"}, 0, ChordPreset::shift},
      {{"zoba", "--hotkey"}, 0, ChordPreset::shift},
      {{"zoba", "--hotkey", "--host-pid", "812"}, 812, ChordPreset::shift},
      {{"zoba", "--hotkey", "command", "--hotkey", "option"}, 0, ChordPreset::command},
      {{"zoba", "--host-pid", "+812"}, 812, ChordPreset::shift},
      {{"zoba", "--host-pid", "0x32c"}, 0, ChordPreset::shift},
      {{"zoba", "--host-pid", "2147483648"}, 0, ChordPreset::shift},
  };
  for (const auto& c : cases) {
    CaptureService service(c.arguments);
    EXPECT_EQ(service.hostPid(), c.hostPid) << c.arguments.back();
    EXPECT_EQ(service.preset(), c.preset) << c.arguments.back();
  }
}

}  // namespace
}  // namespace zoba
