#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "ZobaCaptureCore/Geometry.h"

namespace zoba {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

struct MatchCase {
  const char* name;
  std::optional<Rect> target;
  std::vector<Rect> candidates;
  std::optional<std::size_t> expected;
};

class WindowMatchBest : public testing::TestWithParam<MatchCase> {};

TEST_P(WindowMatchBest, Chooses) {
  EXPECT_EQ(WindowMatch::best(GetParam().target, GetParam().candidates), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WindowMatchBest,
    testing::Values(
        MatchCase{"EmptyWithTarget", Rect(0, 0, 10, 10), {}, std::nullopt},
        MatchCase{"EmptyWithoutTarget", std::nullopt, {}, std::nullopt},
        MatchCase{"OneWithoutTarget", std::nullopt, {Rect(0, 0, 1, 1)}, 0},
        MatchCase{"OneFarAway", Rect(0, 0, 10, 10), {Rect(1e9, 1e9, 1, 1)}, 0},
        MatchCase{"OneWithNaN", Rect(0, 0, 10, 10), {Rect(nan, 0, 1, 1)}, 0},
        MatchCase{"EqualAreasFirstWins",
                  std::nullopt,
                  {Rect(0, 0, 100, 100), Rect(0, 0, 200, 50), Rect(0, 0, 50, 200)},
                  0},
        MatchCase{"LargerAreaLater",
                  std::nullopt,
                  {Rect(0, 0, 100, 100), Rect(0, 0, 200, 50), Rect(0, 0, 50, 200), Rect(0, 0, 101, 100)},
                  3},
        MatchCase{
            "NegativeExtentsAreStandardised", std::nullopt, {Rect(0, 0, 10, 10), Rect(0, 0, -20, -20)}, 1},
        MatchCase{"EqualDistancesFirstWins",
                  Rect(0, 0, 800, 600),
                  {Rect(10, 10, 800, 600), Rect(0, 0, 780, 600)},
                  0},
        MatchCase{"NearestWins",
                  Rect(0, 0, 800, 600),
                  {Rect(10, 10, 800, 600), Rect(0, 0, 780, 600), Rect(0, 0, 800, 599)},
                  2},
        MatchCase{
            "NegativeWidthCandidate", Rect(0, 0, 100, 50), {Rect(5, 0, 100, 50), Rect(100, 0, -100, 50)}, 1},
        MatchCase{"NaNCandidateNeverReplaces",
                  Rect(0, 0, 100, 50),
                  {Rect(50, 0, 100, 50), Rect(nan, 0, 100, 50)},
                  0},
        MatchCase{
            "NaNBestNeverReplaced", Rect(0, 0, 100, 50), {Rect(nan, 0, 100, 50), Rect(0, 0, 100, 50)}, 0},
        MatchCase{"NaNAreaBestNeverReplaced", std::nullopt, {Rect(0, 0, nan, 1), Rect(0, 0, 500, 500)}, 0},
        MatchCase{"NaNTargetKeepsFirst", Rect(nan, nan, nan, nan), {Rect(0, 0, 1, 1), Rect(0, 0, 2, 2)}, 0}),
    [](const testing::TestParamInfo<MatchCase>& info) { return std::string(info.param.name); });

struct SizingCase {
  const char* name;
  Size points;
  double scale;
  double maxEdge;
  PixelSize expected;
};

class CaptureSizingPixels : public testing::TestWithParam<SizingCase> {};

TEST_P(CaptureSizingPixels, Computes) {
  const SizingCase& c = GetParam();
  EXPECT_EQ(CaptureSizing::pixels(c.points, c.scale, c.maxEdge), c.expected);
}

constexpr std::int64_t largest = std::int64_t{1} << 53;

INSTANTIATE_TEST_SUITE_P(
    Table, CaptureSizingPixels,
    testing::Values(SizingCase{"Retina1440", {1440, 900}, 2, 2400, {2400, 1500}},
                    SizingCase{"EverythingClampsToOne", {0.5, 0.5}, 0.5, 2400, {1, 1}},
                    SizingCase{"NoShrink", {300, 200}, 1, 10000, {300, 200}},
                    SizingCase{"ThinRaisedToOne", {5000, 10}, 1, 100, {100, 1}},
                    SizingCase{"NegativeMaxEdge", {300, 200}, 1, -5, {1, 1}},
                    SizingCase{"HalfRoundsAwayFromZero", {1199.5, 10}, 1, 2400, {1200, 10}},
                    SizingCase{"NegativeSizeClamps", {-300, -200}, 1, 2400, {1, 1}},
                    SizingCase{"ZeroMaxEdge", {300, 200}, 1, 0, {1, 1}},
                    // Non-finite and huge inputs: clamped into [1, 2^53], never undefined.
                    SizingCase{"NaNWidth", {nan, 200}, 1, 2400, {1, 200}},
                    SizingCase{"NaNScale", {300, 200}, nan, 2400, {1, 1}},
                    SizingCase{"NaNMaxEdgeMeansNoLimit", {300, 200}, 1, nan, {300, 200}},
                    SizingCase{"InfiniteWidth", {inf, 200}, 1, 2400, {1, 1}},
                    SizingCase{"InfiniteMaxEdge", {300, 200}, 1, inf, {300, 200}},
                    SizingCase{"InfiniteEverything", {inf, inf}, inf, inf, {largest, largest}},
                    SizingCase{"BeyondInt64", {1e300, 1e300}, 1, 1e308, {largest, largest}},
                    SizingCase{"HugeButLimited", {1e300, 5e299}, 1, 2400, {2400, 1200}}),
    [](const testing::TestParamInfo<SizingCase>& info) { return std::string(info.param.name); });

TEST(RectIntersects, SharedAreaOnlyWhateverTheSignOfTheExtents) {
  struct Case {
    const char* name;
    Rect a, b;
    bool expected;
  };
  for (const Case& c : {
           Case{"Overlapping", Rect(0, 0, 10, 10), Rect(5, 5, 10, 10), true},
           Case{"Inside", Rect(0, 0, 10, 10), Rect(2, 2, 1, 1), true},
           Case{"TouchingEdges", Rect(0, 0, 10, 10), Rect(10, 0, 10, 10), false},
           Case{"TouchingCorners", Rect(0, 0, 10, 10), Rect(10, 10, 5, 5), false},
           Case{"Apart", Rect(0, 0, 10, 10), Rect(0, 20, 10, 10), false},
           Case{"NegativeExtents", Rect(10, 10, -10, -10), Rect(5, 5, 2, 2), true},
           Case{"Empty", Rect(5, 5, 0, 0), Rect(0, 0, 10, 10), false},
           Case{"NaN", Rect(nan, 0, 10, 10), Rect(0, 0, 10, 10), false},
       }) {
    EXPECT_EQ(c.a.intersects(c.b), c.expected) << c.name;
    EXPECT_EQ(c.b.intersects(c.a), c.expected) << c.name << " (swapped)";
  }
}

}  // namespace
}  // namespace zoba
