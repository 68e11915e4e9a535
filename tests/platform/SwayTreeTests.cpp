// sway's GET_TREE read into toplevels, on trees recorded from sway 1.7 (headless):
// one with a tiled GTK 3 window, a floating one and an Xwayland one; one with a
// window in the scratchpad, two tabs and a window on a second output at scale 2.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Platform/linux/wayland/sway/SwayTree.h"

namespace zoba::platform::linux_backend::wayland {
namespace {

std::string recorded(const std::string& name) {
  std::ifstream in(std::string(ZOBA_TEST_SOURCE_DIR) + "/data/" + name);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> titles(const std::vector<Toplevel>& toplevels) {
  std::vector<std::string> out;
  for (const auto& toplevel : toplevels) out.push_back(toplevel.title.value_or("?"));
  return out;
}

TEST(SwayTree, TiledFloatingAndXwaylandWindows) {
  auto toplevels = parseSwayTree(recorded("sway-tree-tiled-floating-xwayland.json"));
  ASSERT_TRUE(toplevels);
  // The floating window is above the tiled ones.
  EXPECT_EQ(titles(*toplevels), (std::vector<std::string>{"Floating GTK", "X11 GTK", "Tiled GTK"}));

  const Toplevel& floating = (*toplevels)[0];
  EXPECT_EQ(floating.id, 7);
  EXPECT_EQ(floating.pid, 30461);
  EXPECT_EQ(floating.appId, "org.zoba.Floating");
  EXPECT_TRUE(floating.focused);
  EXPECT_FALSE(floating.xwayland);
  // The surface inside the container: "rect" moved by "window_rect".
  EXPECT_EQ(floating.rect, Rect(202, 177, 636, 371));
  EXPECT_EQ(floating.scale, 1);
  EXPECT_EQ(floating.output, "HEADLESS-1");

  const Toplevel& x11 = (*toplevels)[1];
  EXPECT_TRUE(x11.xwayland);
  EXPECT_EQ(x11.pid, 30249);
  EXPECT_EQ(x11.appId, "zoba-x11");  // the WM_CLASS instance
  EXPECT_EQ(x11.x11Class, "Gtk3_wayland_window.py");
  EXPECT_FALSE(x11.focused);
  EXPECT_EQ(x11.rect, Rect(2, 27, 956, 1051));

  EXPECT_EQ((*toplevels)[2].appId, "org.zoba.Tiled");
  EXPECT_EQ((*toplevels)[2].rect, Rect(962, 27, 956, 1051));
}

TEST(SwayTree, HiddenWindowsAreLeftOutAndOutputsGiveTheirScale) {
  auto toplevels = parseSwayTree(recorded("sway-tree-scratchpad-tabs-scaled.json"));
  ASSERT_TRUE(toplevels);
  // Not the scratchpad's window, nor the tab behind; the focused output's first.
  EXPECT_EQ(titles(*toplevels), (std::vector<std::string>{"Scaled GTK", "Tab two"}));
  const Toplevel& scaled = (*toplevels)[0];
  EXPECT_TRUE(scaled.focused);
  EXPECT_EQ(scaled.output, "HEADLESS-2");
  EXPECT_EQ(scaled.scale, 2);
  EXPECT_EQ(scaled.rect, Rect(1922, 27, 636, 331));
  EXPECT_EQ((*toplevels)[1].scale, 1);
}

TEST(SwayTree, FullscreenViewIsTopmostOnItsOutput) {
  const char* tree = R"({"type":"root","id":1,"focus":[3],"nodes":[
    {"type":"output","name":"DP-1","id":3,"scale":1.5,"nodes":[
      {"type":"workspace","id":4,"nodes":[
        {"id":10,"type":"con","pid":100,"shell":"xdg_shell","app_id":"a","name":"A","visible":true,
         "fullscreen_mode":1,"rect":{"x":0,"y":0,"width":800,"height":600},
         "window_rect":{"x":0,"y":0,"width":800,"height":600}}],
      "floating_nodes":[
        {"id":11,"type":"floating_con","pid":101,"shell":"xdg_shell","app_id":"b","name":"B","visible":true,
         "rect":{"x":10,"y":10,"width":100,"height":100},"window_rect":{"x":0,"y":0,"width":100,"height":100}}]}]}]})";
  auto toplevels = parseSwayTree(tree);
  ASSERT_TRUE(toplevels);
  EXPECT_EQ(titles(*toplevels), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ((*toplevels)[0].scale, 1.5);
}

TEST(SwayTree, WhatIsNotATree) {
  for (const char* text : {"", "[]", "{\"type\":\"output\"}", "{\"type\":", "null"}) {
    EXPECT_FALSE(parseSwayTree(text)) << text;
  }
  // A tree without windows is an empty list, not a failure.
  auto empty = parseSwayTree(R"({"type":"root","nodes":[{"type":"output","name":"X","nodes":[]}]})");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());
}

}  // namespace
}  // namespace zoba::platform::linux_backend::wayland
