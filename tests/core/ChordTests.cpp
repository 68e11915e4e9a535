#include <gtest/gtest.h>

#include <vector>

#include "ZobaCaptureCore/Chord.h"

namespace zoba {
namespace {

struct Step {
  std::uint64_t flags;
  bool fires;
};

struct ChordCase {
  const char* name;
  ChordPreset preset;
  std::vector<Step> steps;
};

constexpr std::uint64_t capsLock = 1ull << 16;
constexpr std::uint64_t shiftIndependent = 1ull << 17;
constexpr std::uint64_t commandIndependent = 1ull << 20;

class ChordSequence : public testing::TestWithParam<ChordCase> {};

TEST_P(ChordSequence, FiresExactlyWhereExpected) {
  ChordDetector detector(GetParam().preset);
  int index = 0;
  for (const Step& step : GetParam().steps) {
    EXPECT_EQ(detector.update(step.flags), step.fires)
        << "step " << index << " flags 0x" << std::hex << step.flags;
    ++index;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Presets, ChordSequence,
    testing::Values(
        ChordCase{"ShiftPressRelease",
                  ChordPreset::shift,
                  {{0x2, false}, {0x6, true}, {0x4, false}, {0x6, false}, {0x0, false}, {0x6, true}}},
        ChordCase{"NewDetectorFiresAtOnceThenNotAgain", ChordPreset::shift, {{0x6, true}, {0x6, false}}},
        ChordCase{"ShiftIgnoresOtherBits",
                  ChordPreset::shift,
                  {{0x6 | 0x8, true},
                   {0x6 | 0x10 | capsLock, false},
                   {0x0 | commandIndependent, false},
                   {0x6 | shiftIndependent | capsLock | 0x2000 | 0x1, true}}},
        ChordCase{
            "OptionRearmsOnShiftChord", ChordPreset::option, {{0x60, true}, {0x6, false}, {0x60, true}}},
        ChordCase{"OptionOneKeyHeldNeverFires",
                  ChordPreset::option,
                  {{0x20, false}, {0x60, true}, {0x40, false}, {0x60, false}, {0x20, false}}},
        ChordCase{"CommandNeedsBoth",
                  ChordPreset::command,
                  {{0x8, false},
                   {0x10, false},
                   {0x8, false},
                   {0x18, true},
                   {0x18 | 0x6, false},
                   {0x6, false},
                   {0x18, true}}}),
    [](const testing::TestParamInfo<ChordCase>& info) { return std::string(info.param.name); });

TEST(ChordPreset, RawValuesRoundTripInOrder) {
  std::vector<std::string_view> raw;
  for (ChordPreset preset : ChordPresets::allCases) {
    raw.push_back(ChordPresets::rawValue(preset));
    EXPECT_EQ(ChordPresets::fromRawValue(ChordPresets::rawValue(preset)), preset);
  }
  EXPECT_EQ(raw, (std::vector<std::string_view>{"shift", "option", "command"}));
}

TEST(ChordPreset, RejectsNearMisses) {
  for (const char* text : {"Shift", "Option", "cmd", "comm", "", " shift", "shift ", "SHIFT"}) {
    EXPECT_FALSE(ChordPresets::fromRawValue(text).has_value()) << text;
  }
}

TEST(ChordDetector, AssigningPresetKeepsArmedState) {
  ChordDetector detector(ChordPreset::shift);
  EXPECT_TRUE(detector.update(0x6));
  detector.preset = ChordPreset::option;
  EXPECT_FALSE(detector.update(0x60));  // still disarmed from the shift chord
  EXPECT_FALSE(detector.update(0x0));
  EXPECT_TRUE(detector.update(0x60));
}

}  // namespace
}  // namespace zoba
