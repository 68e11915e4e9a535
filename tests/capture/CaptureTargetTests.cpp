#include <gtest/gtest.h>

#include "ZobaCapture/CaptureTarget.h"

namespace zoba {
namespace {

using nlohmann::json;

TEST(CaptureTarget, FrameObjects) {
  const std::vector<std::pair<json, std::optional<Rect>>> cases = {
      {json{{"x", 100}, {"y", 50}, {"width", 160}, {"height", 96}}, Rect(100, 50, 160, 96)},
      {json{{"x", -1.5}, {"y", 1e9}, {"width", 0.25}, {"height", 3}}, Rect(-1.5, 1e9, 0.25, 3)},
      {json{{"x", true}, {"y", false}, {"width", true}, {"height", 2}}, Rect(1, 0, 1, 2)},
      {json{{"x", 0}, {"y", 0}, {"width", 0}, {"height", 2}}, std::nullopt},
      {json{{"x", 0}, {"y", 0}, {"width", 2}, {"height", -2}}, std::nullopt},
      {json{{"x", "0"}, {"y", 0}, {"width", 2}, {"height", 2}}, std::nullopt},
      {json{{"y", 0}, {"width", 2}, {"height", 2}}, std::nullopt},
      {json::array({1, 2, 3, 4}), std::nullopt},
      {json(5), std::nullopt},
  };
  for (const auto& [frame, expected] : cases) EXPECT_EQ(CaptureTarget::rect(frame), expected) << frame;
}

TEST(CaptureTarget, RequestToBottomLeftTarget) {
  json frame{{"x", 100}, {"y", 50}, {"width", 160}, {"height", 96}};
  auto target = CaptureTarget::of({{"frame", frame}}, 1080);
  EXPECT_EQ(target.frame, Rect(100, 934, 160, 96));
  EXPECT_EQ(target.radius, 8.0);
  EXPECT_EQ(CaptureTarget::of({{"frame", frame}}, 0).frame, Rect(100, -146, 160, 96));
  EXPECT_EQ(CaptureTarget::of({{"frame", json::array()}, {"radius", "big"}}, 1080).frame, std::nullopt);
  EXPECT_EQ(CaptureTarget::of({{"radius", "big"}}, 1080).radius, 8.0);
  EXPECT_EQ(CaptureTarget::of({{"radius", 0}}, 1080).radius, 0.0);
  EXPECT_EQ(CaptureTarget::of({{"radius", -4}}, 1080).radius, -4.0);
}

}  // namespace
}  // namespace zoba
