// Which output a window is copied from: the one that shows most of it.
#include <gtest/gtest.h>

#include "Platform/linux/wayland/OutputGeometry.h"

namespace zoba::platform::linux_backend::wayland {
namespace {

TEST(OutputGeometry, TheOutputHoldingMostOfTheWindow) {
  // A 1920 × 1080 output and a scale-2 one of 1280 × 720 logical pixels to its right.
  const std::vector<OutputGeometry> outputs = {{1, "left", {0, 0, 1920, 1080}, 1, 60},
                                               {2, "right", {1920, 0, 1280, 720}, 2, 60}};
  struct Case {
    const char* name;
    Rect window;
    const char* output;  // nullptr: none
    Rect onOutput;
  };
  const Case cases[] = {
      {"inside the left", Rect(100, 100, 400, 300), "left", Rect(100, 100, 400, 300)},
      {"mostly on the right", Rect(1820, 100, 400, 300), "right", Rect(1920, 100, 300, 300)},
      {"mostly on the left", Rect(1620, 100, 400, 300), "left", Rect(1620, 100, 300, 300)},
      {"below the right, on the left", Rect(1900, 800, 200, 200), "left", Rect(1900, 800, 20, 200)},
      {"off every output", Rect(4000, 0, 100, 100), nullptr, Rect()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const OutputGeometry* output = outputHolding(outputs, c.window);
    if (!c.output) {
      EXPECT_EQ(output, nullptr);
      continue;
    }
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(output->name, c.output);
    EXPECT_EQ(intersection(c.window, layoutFrame(*output)), c.onOutput);
  }
}

}  // namespace
}  // namespace zoba::platform::linux_backend::wayland
