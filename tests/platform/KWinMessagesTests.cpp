// What the KWin backend reads without KWin: the script's reports of the active
// window, and the Xwayland setting in kwinrc texts.
#include <gtest/gtest.h>

#include <string>

#include "Platform/linux/wayland/kwin/ActiveWindowMessage.h"
#include "Platform/linux/wayland/kwin/ActiveWindowScript.h"
#include "Platform/linux/wayland/kwin/XwaylandEavesdrops.h"

namespace zoba::platform::linux_backend::wayland {
namespace {

// A native window as KWin 5.27 reported it, with a server-side title bar of 37 px.
constexpr const char* nativeWindow =
    R"({"internalId":"{395c4b87-2d04-4847-85e5-4b559f2433eb}","pid":20785,"caption":"KWin try",)"
    R"("frameGeometry":{"x":760,"y":365,"width":400,"height":350},)"
    R"("bufferGeometry":{"x":760,"y":402,"width":400,"height":313},"clientGeometry":null,)"
    R"("resourceClass":"zoba-wayland-window","resourceName":"python3.11",)"
    R"("desktopFileName":"zoba-wayland-window","x11":false,"output":""})";

TEST(KWinActiveWindowMessage, NativeWindowWithServerSideDecorationIsItsBuffer) {
  auto report = parseActiveWindowMessage(nativeWindow);
  ASSERT_TRUE(report);
  auto* window = std::get_if<KWinWindow>(&*report);
  ASSERT_TRUE(window);
  EXPECT_EQ(window->handle, "{395c4b87-2d04-4847-85e5-4b559f2433eb}");
  const Toplevel& toplevel = window->toplevel;
  EXPECT_EQ(toplevel.id, windowNumber(window->handle));
  EXPECT_EQ(toplevel.pid, 20785);
  EXPECT_EQ(toplevel.title, "KWin try");
  EXPECT_EQ(toplevel.appId, "zoba-wayland-window");
  EXPECT_FALSE(toplevel.xwayland);
  EXPECT_TRUE(toplevel.focused);
  EXPECT_EQ(toplevel.rect, Rect(760, 402, 400, 313));
}

TEST(KWinActiveWindowMessage, ClientArea) {
  struct Case {
    const char* name;
    std::string geometry;
    Rect expected;
  };
  const Case cases[] = {
      // A client-side shadow makes the buffer larger than the frame.
      {"shadow",
       R"("frameGeometry":{"x":100,"y":100,"width":640,"height":400},)"
       R"("bufferGeometry":{"x":80,"y":84,"width":680,"height":440})",
       Rect(100, 100, 640, 400)},
      // Where KWin gives scripts the client geometry, it wins.
      {"client",
       R"("clientGeometry":{"x":5,"y":30,"width":300,"height":200},)"
       R"("frameGeometry":{"x":0,"y":0,"width":310,"height":235})",
       Rect(5, 30, 300, 200)},
      {"frame alone", R"("frameGeometry":{"x":1,"y":2,"width":3,"height":4})", Rect(1, 2, 3, 4)},
  };
  for (const auto& test : cases) {
    auto report = parseActiveWindowMessage(R"({"internalId":"{a}","pid":1,)" + test.geometry + "}");
    ASSERT_TRUE(report) << test.name;
    auto* window = std::get_if<KWinWindow>(&*report);
    ASSERT_TRUE(window) << test.name;
    EXPECT_EQ(window->toplevel.rect, test.expected) << test.name;
  }
}

TEST(KWinActiveWindowMessage, XwaylandWindowNamesItsClass) {
  auto report = parseActiveWindowMessage(
      R"({"internalId":"{b}","pid":7,"frameGeometry":{"x":0,"y":0,"width":10,"height":10},)"
      R"("resourceClass":"Gedit","resourceName":"gedit","desktopFileName":"","x11":true})");
  ASSERT_TRUE(report);
  const Toplevel& toplevel = std::get<KWinWindow>(*report).toplevel;
  EXPECT_TRUE(toplevel.xwayland);
  EXPECT_EQ(toplevel.appId, "gedit");
  EXPECT_EQ(toplevel.x11Class, "Gedit");
}

TEST(KWinActiveWindowMessage, NoWindowAndNonsense) {
  EXPECT_EQ(parseActiveWindowMessage("null"), (std::variant<KWinWindow, NoActiveWindow>(NoActiveWindow{})));
  for (const char* text : {"", "{", "[]", "42", R"({"pid":1})",
                           R"({"internalId":"{a}","frameGeometry":{"x":0,"y":0,"width":0,"height":5}})",
                           R"({"internalId":"","frameGeometry":{"x":0,"y":0,"width":5,"height":5}})",
                           R"({"internalId":"{a}","frameGeometry":{"x":"0","y":0,"width":5,"height":5}})"})
    EXPECT_FALSE(parseActiveWindowMessage(text)) << text;
}

TEST(KWinActiveWindowMessage, WindowNumbersAreStableNonZeroAndDistinct) {
  EXPECT_EQ(windowNumber("{a}"), windowNumber("{a}"));
  EXPECT_NE(windowNumber("{a}"), windowNumber("{b}"));
  for (const char* handle : {"", "{a}", "{395c4b87-2d04-4847-85e5-4b559f2433eb}"}) {
    EXPECT_GT(windowNumber(handle), 0);
    EXPECT_LE(windowNumber(handle), 0x7FFFFFFF);
  }
}

TEST(KWinActiveWindowScript, CallsBackToTheGivenName) {
  const std::string script = activeWindowScript(":1.42");
  EXPECT_NE(script.find(R"(var service = ":1.42";)"), std::string::npos);
  EXPECT_NE(script.find(activeWindowPath), std::string::npos);
  EXPECT_NE(script.find(activeWindowInterface), std::string::npos);
  EXPECT_EQ(script.find('@'), std::string::npos) << "a placeholder was left";
}

TEST(XwaylandEavesdropsSetting, ReadFromKwinrcTexts) {
  struct Case {
    const char* text;
    std::optional<Eavesdrops> expected;
  };
  const Case cases[] = {
      {"", std::nullopt},
      {"[Xwayland]\nXwaylandEavesdrops=Modifiers\n", Eavesdrops::modifiers},
      {"[Xwayland]\nXwaylandEavesdrops=None\n", Eavesdrops::none},
      {"[Xwayland]\nXwaylandEavesdrops=All", Eavesdrops::all},
      {"[Xwayland]\nXwaylandEavesdrops = combinations \n", Eavesdrops::combinations},
      {"[Xwayland]\nXwaylandEavesdrops=1\n", Eavesdrops::modifiers},
      {"[Xwayland][$i]\nXwaylandEavesdrops[$i]=Modifiers\n", Eavesdrops::modifiers},
      // Another group's key, a comment, an unknown value, the later line winning.
      {"[Windows]\nXwaylandEavesdrops=All\n", std::nullopt},
      {"[Xwayland]\n# XwaylandEavesdrops=All\n", std::nullopt},
      {"[Xwayland]\nXwaylandEavesdrops=Everything\n", std::nullopt},
      {"[Xwayland]\nXwaylandEavesdrops=All\nScale=1\n[Xwayland]\nXwaylandEavesdrops=None\n",
       Eavesdrops::none},
      {"[Xwayland]\nScale=1\n\n[Compositing]\nXwaylandEavesdrops=All\n", std::nullopt},
  };
  for (const auto& test : cases) EXPECT_EQ(parseXwaylandEavesdrops(test.text), test.expected) << test.text;
}

}  // namespace
}  // namespace zoba::platform::linux_backend::wayland
