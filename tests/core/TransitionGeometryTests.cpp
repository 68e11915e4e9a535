#include <gtest/gtest.h>

#include <limits>

#include "ZobaCaptureCore/TransitionGeometry.h"

namespace zoba {
namespace {

void expectRect(const Rect& actual, const Rect& expected) {
  EXPECT_DOUBLE_EQ(actual.origin.x, expected.origin.x);
  EXPECT_DOUBLE_EQ(actual.origin.y, expected.origin.y);
  EXPECT_DOUBLE_EQ(actual.size.width, expected.size.width);
  EXPECT_DOUBLE_EQ(actual.size.height, expected.size.height);
}

TEST(TransitionGeometry, AppKitRect) {
  expectRect(TransitionGeometry::appKitRect(Rect(100, 50, 800, 600), 1080), Rect(100, 430, 800, 600));
  expectRect(TransitionGeometry::appKitRect(Rect(100, 50, 800, 600), 0), Rect(100, -650, 800, 600));
  expectRect(TransitionGeometry::appKitRect(Rect(300, 50, -200, 600), 1080), Rect(100, 430, 200, 600));
  expectRect(TransitionGeometry::appKitRect(Rect(100, 50, 160, 96), 1080), Rect(100, 934, 160, 96));
  expectRect(TransitionGeometry::appKitRect(Rect(100, 50, 160, 96), 0), Rect(100, -146, 160, 96));
}

struct CoverCase {
  const char* name;
  Size image;
  Size box;
  Rect expected;
};

class CoverContents : public testing::TestWithParam<CoverCase> {};

TEST_P(CoverContents, Crops) {
  expectRect(TransitionGeometry::coverContentsRect(GetParam().image, GetParam().box), GetParam().expected);
}

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Table, CoverContents,
    testing::Values(CoverCase{"WideImage", {2000, 1000}, {160, 96}, Rect(0, 0, 160.0 / 192.0, 1)},
                    CoverCase{"TallImage", {1000, 2000}, {160, 96}, Rect(0, 1 - 0.3, 1, 0.3)},
                    CoverCase{"NoImageYet", {0, 0}, {160, 96}, Rect(0, 0, 1, 1)},
                    CoverCase{"ZeroBox", {100, 100}, {0, 96}, Rect(0, 0, 1, 1)},
                    CoverCase{"NegativeBox", {100, 100}, {160, -1}, Rect(0, 0, 1, 1)},
                    CoverCase{"NaNImage", {nan, 100}, {160, 96}, Rect(0, 0, 1, 1)},
                    CoverCase{"SameAspect", {1600, 960}, {160, 96}, Rect(0, 0, 1, 1)}),
    [](const testing::TestParamInfo<CoverCase>& info) { return std::string(info.param.name); });

TEST(TransitionGeometry, SpringResponseByDistance) {
  const Rect a(0, 0, 100, 100);
  const struct {
    double distance;
    double expected;
  } cases[] = {{0, 0.32}, {200, 0.32}, {1000, 0.4}, {2000, 0.5}, {5000, 0.5}};
  for (const auto& c : cases) {
    EXPECT_NEAR(TransitionGeometry::springResponse(a, Rect(c.distance, 0, 100, 100)), c.expected, 1e-12)
        << c.distance;
  }
  EXPECT_DOUBLE_EQ(TransitionGeometry::springResponse(a, Rect(nan, 0, 100, 100)), 0.32);
}

TEST(TransitionGeometry, LiftedRect) {
  expectRect(TransitionGeometry::liftedRect(Rect(0, 0, 100, 50)), Rect(3, 1.5, 94, 47));
  expectRect(TransitionGeometry::liftedRect(Rect(100, 50, -100, -50)), Rect(3, 1.5, 94, 47));
}

}  // namespace
}  // namespace zoba
