#include <gtest/gtest.h>

#include <algorithm>

#include "Platform/Platform.h"
#include "ZobaCapture/AXTree.h"
#include "tests/fakes/FakeAccessibility.h"
#include "tests/support/VirtualClockLoop.h"

namespace zoba {
namespace {

using platform::AXArray;
using platform::AXElement;
using platform::AXErrorMarker;
using platform::AXURL;
using platform::AXValue;

class AXTreeTest : public testing::Test {
 protected:
  void SetUp() override {
    auto installed = fakes::installFakeAccessibility(100);
    loop_ = &installed.runLoop;
    ax_ = &installed.accessibility;
    ax_->elapse = [this](double seconds) { loop_->elapse(seconds); };
    app_ = ax_->addTree("AXApplication");
  }
  void TearDown() override { platform::install(nullptr); }

  AXSnapshot walk(const AXElement& window, double after = 1.2) {
    return AXTree::snapshot(window, app_, loop_->clock() + after);
  }
  // A chain of `levels` groups below a window.
  AXElement chain(int levels) {
    AXElement below = ax_->addTree("AXGroup");
    for (int i = 1; i < levels; ++i) below = ax_->addTree(i + 1 == levels ? "AXWindow" : "AXGroup", {below});
    return below;
  }
  std::vector<AXElement> leaves(int count, const std::string& role = "AXButton") {
    std::vector<AXElement> result;
    for (int i = 0; i < count; ++i)
      result.push_back(ax_->add({{"AXRole", role}, {"AXTitle", std::to_string(i)}}));
    return result;
  }

  testing_support::VirtualClockLoop* loop_ = nullptr;
  fakes::FakeAccessibility* ax_ = nullptr;
  AXElement app_;
};

TEST_F(AXTreeTest, DeadlineAlreadyPastGivesNothing) {
  AXElement web = ax_->add({{"AXRole", "AXWebArea"}, {"AXURL", AXURL{"https://a.example/"}}});
  auto snapshot = walk(ax_->addTree("AXWindow", {web}), -0.1);
  EXPECT_TRUE(snapshot.nodes.empty());
  EXPECT_TRUE(snapshot.timedOut);
  EXPECT_FALSE(snapshot.url);
  EXPECT_EQ(ax_->calls.multiple, 0);
}

TEST_F(AXTreeTest, RecordsComeInPreOrderWithDepths) {
  AXElement a = ax_->addTree("AXGroup", leaves(2));
  AXElement window = ax_->addTree("AXWindow", {a, ax_->addTree("AXButton")});
  auto snapshot = walk(window);
  std::vector<std::pair<std::int64_t, std::string>> seen;
  for (const auto& node : snapshot.nodes) seen.emplace_back(node.depth, node.title.value_or(node.role));
  EXPECT_EQ(seen, (std::vector<std::pair<std::int64_t, std::string>>{
                      {0, "AXWindow"}, {1, "AXGroup"}, {2, "0"}, {2, "1"}, {1, "AXButton"}}));
  EXPECT_FALSE(snapshot.timedOut);
}

TEST_F(AXTreeTest, SkippedRolesDropTheirSubtrees) {
  std::vector<AXElement> children;
  for (const char* role : {"AXScrollBar", "AXMenu"}) children.push_back(ax_->addTree(role, leaves(3)));
  children.push_back(ax_->addTree("AXButton"));
  auto snapshot = walk(ax_->addTree("AXWindow", children));
  ASSERT_EQ(snapshot.nodes.size(), 2u);
  EXPECT_EQ(snapshot.nodes[1].role, "AXButton");
}

// The bar and its titles are on screen; a closed menu's items are not.
TEST_F(AXTreeTest, MenuBarKeepsItsTitlesWithoutTheirItems) {
  AXElement bar = ax_->addTree(
      "AXMenuBar", {ax_->addTree("AXMenuBarItem", leaves(3)), ax_->addTree("AXMenuBarItem", leaves(2))});
  auto snapshot = walk(ax_->addTree("AXWindow", {bar}));
  std::vector<std::string> roles;
  for (const auto& node : snapshot.nodes) roles.push_back(node.role);
  EXPECT_EQ(roles, (std::vector<std::string>{"AXWindow", "AXMenuBar", "AXMenuBarItem", "AXMenuBarItem"}));
}

TEST_F(AXTreeTest, DepthStopsAtSixtyFour) {
  auto snapshot = walk(chain(71));  // depths 0..70
  ASSERT_EQ(snapshot.nodes.size(), 65u);
  EXPECT_EQ(snapshot.nodes.back().depth, 64);
  EXPECT_FALSE(snapshot.timedOut);
}

TEST_F(AXTreeTest, RecordCapIsEightThousandWithoutTimeout) {
  std::vector<AXElement> groups;
  for (int i = 0; i < 90; ++i) groups.push_back(ax_->addTree("AXGroup", leaves(100)));
  auto snapshot = walk(ax_->addTree("AXWindow", groups));
  EXPECT_EQ(snapshot.nodes.size(), 8000u);
  EXPECT_FALSE(snapshot.timedOut);
  EXPECT_EQ(ax_->calls.multiple, 8000);
}

TEST_F(AXTreeTest, ClockIsReadOnlyOnMultiplesOfFifty) {
  auto window = ax_->addTree("AXWindow", leaves(200));
  int before = loop_->clockReads();
  auto snapshot = walk(window);
  EXPECT_EQ(snapshot.nodes.size(), 201u);
  EXPECT_EQ(loop_->clockReads() - before, 5);  // at counts 0, 50, 100, 150 and 200
}

TEST_F(AXTreeTest, SlowElementsStopTheWalkAtTheNextMultipleOfFifty) {
  auto children = leaves(300);
  for (const auto& child : children) ax_->node(child).delay = 0.01;
  auto snapshot = walk(ax_->addTree("AXWindow", children), 0.755);
  EXPECT_EQ(snapshot.nodes.size(), 100u);  // 50 records at +0.49 s, 100 at +0.99 s
  EXPECT_TRUE(snapshot.timedOut);
}

TEST_F(AXTreeTest, ClockCheckRepeatsForEveryElementSkippedOnAMultipleOfFifty) {
  auto children = leaves(49);
  for (int i = 0; i < 3; ++i) {
    children.push_back(ax_->addTree("AXButton"));
    ax_->node(children.back()).failMultiple = true;
  }
  int before = loop_->clockReads();
  walk(ax_->addTree("AXWindow", children));
  EXPECT_EQ(loop_->clockReads() - before, 1 + 3);  // count 0, then three failing pops at count 50
}

// Walked in slices with the clock moving inside each call, the walk reads the same
// elements with the same calls and stops where the one-go walk stops.
TEST_F(AXTreeTest, SlicedWalkMatchesTheWalkInOneGo) {
  std::vector<AXElement> groups;
  for (int i = 0; i < 12; ++i) {
    auto rows = leaves(20);
    rows.push_back(ax_->add({{"AXRole", "AXTextField"}, {"AXValue", "field"}}));
    rows.push_back(ax_->addTree("AXScrollBar", leaves(2)));
    rows.push_back(ax_->addTree("AXMenuBarItem", leaves(2)));
    groups.push_back(ax_->addTree("AXGroup", rows));
  }
  ax_->node(app_).attributes["AXFocusedUIElement"] = groups[3];
  const AXElement window = ax_->addTree("AXWindow", groups);
  ax_->node(window).delay = 0.001;
  for (const auto& group : groups) ax_->node(group).delay = 0.004;

  struct Case {
    const char* name;
    double after;
    bool timedOut;
    AXElement slow;      // whose answers arrive late
    double slowAnswers;  // how late
  };
  for (const Case& c :
       {Case{"whole", 5.0, false, window, 0}, Case{"cut by the deadline", 0.02, true, window, 0},
        Case{"one element's answers slow", 5.0, false, groups[6], 0.08},
        Case{"the focus search slow", 5.0, false, app_, 0.08}}) {
    SCOPED_TRACE(c.name);
    ax_->calls = {};
    ax_->node(c.slow).answersIn = c.slowAnswers;
    const AXSnapshot once = walk(window, c.after);
    const auto callsOnce = ax_->calls;

    ax_->calls = {};
    ax_->node(c.slow).answersIn = c.slowAnswers;
    AXTree::Walk sliced(window, app_, loop_->clock() + c.after);
    int slices = 1;
    double longest = 0;  // a slice waits for a slow answer no longer than its own time
    for (double start = loop_->now(); !sliced.advance(start + 0.005); start = loop_->now()) {
      longest = std::max(longest, loop_->now() - start);
      ++slices;
    }
    const AXSnapshot inSlices = std::move(sliced).take();

    EXPECT_GT(slices, 2);
    EXPECT_LT(longest, 0.015);
    EXPECT_EQ(inSlices.nodes, once.nodes);
    EXPECT_EQ(inSlices.elements, once.elements);
    EXPECT_EQ(inSlices.timedOut, c.timedOut);
    EXPECT_EQ(once.timedOut, c.timedOut);
    EXPECT_EQ(ax_->calls.multiple, callsOnce.multiple);
    EXPECT_EQ(ax_->calls.settable, callsOnce.settable);
    EXPECT_EQ(ax_->calls.single, callsOnce.single);
  }
}

// An element whose answers take longer than the walk has left (a container whose
// thousands of children are still on their way) ends a sliced walk at its deadline.
TEST_F(AXTreeTest, SlicedWalkWaitsForSlowAnswersNoLongerThanItsDeadline) {
  auto rows = leaves(3);
  const AXElement slow = ax_->addTree("AXGroup", leaves(2));
  rows.insert(rows.begin() + 1, slow);
  const AXElement window = ax_->addTree("AXWindow", rows);
  ax_->node(slow).answersIn = 5.0;

  const double started = loop_->now();
  AXTree::Walk sliced(window, app_, loop_->clock() + 0.3);
  for (double start = loop_->now(); !sliced.advance(start + 0.005); start = loop_->now()) {
  }
  const AXSnapshot snapshot = std::move(sliced).take();
  EXPECT_LT(loop_->now() - started, 0.3 + 0.01);
  EXPECT_TRUE(snapshot.timedOut);
  ASSERT_EQ(snapshot.nodes.size(), 2u);  // the window and the row before the slow one
  EXPECT_EQ(snapshot.nodes[1].title, "0");
}

TEST_F(AXTreeTest, UnreadableElementsAreSkippedWithTheirSubtrees) {
  AXElement broken = ax_->addTree("AXGroup", leaves(2));
  ax_->node(broken).failMultiple = true;
  AXElement shortAnswer = ax_->addTree("AXGroup", leaves(2));
  ax_->node(shortAnswer).multipleLength = 8;
  auto snapshot = walk(ax_->addTree("AXWindow", {broken, shortAnswer, ax_->addTree("AXButton")}));
  ASSERT_EQ(snapshot.nodes.size(), 2u);
  EXPECT_EQ(snapshot.nodes[1].role, "AXButton");

  AXElement window = ax_->addTree("AXWindow", leaves(2));
  ax_->node(window).failMultiple = true;
  auto empty = walk(window);
  EXPECT_TRUE(empty.nodes.empty());
  EXPECT_FALSE(empty.timedOut);
}

TEST_F(AXTreeTest, PageAddressIsTheFirstHttpWebArea) {
  auto web = [&](AXValue url) { return ax_->add({{"AXRole", "AXWebArea"}, {"AXURL", std::move(url)}}); };
  AXElement window =
      ax_->addTree("AXWindow", {web(AXURL{"file:///tmp/a.html"}), web(std::string("https://s.example/")),
                                web(AXURL{"https://b.example/"}), web(AXURL{"http://c.example/"})});
  auto snapshot = walk(window);
  EXPECT_EQ(snapshot.url, "https://b.example/");
  ASSERT_EQ(snapshot.nodes.size(), 5u);
  EXPECT_EQ(snapshot.nodes[1].url, "file:///tmp/a.html");
  EXPECT_EQ(snapshot.nodes[2].url, std::nullopt);  // a string is not a URL
  EXPECT_EQ(snapshot.nodes[4].url, "http://c.example/");

  AXElement link = ax_->add({{"AXRole", "AXLink"}, {"AXURL", AXURL{"https://link.example/"}}});
  EXPECT_EQ(walk(ax_->addTree("AXWindow", {link})).url, std::nullopt);  // only web areas count
}

TEST_F(AXTreeTest, LoadingPageIsTheFirstElementThatSaysItIsBusy) {
  auto element = [&](AXValue busy) {
    return ax_->add({{"AXRole", "AXWebArea"}, {"AXElementBusy", std::move(busy)}});
  };
  AXElement first = element(true), second = element(1.0);
  AXElement window =
      ax_->addTree("AXWindow", {element(false), element(AXErrorMarker{}), element(std::string("1")),
                                ax_->addTree("AXGroup", {first}), second});
  EXPECT_EQ(walk(window).loadingPage, first);
  EXPECT_EQ(walk(ax_->addTree("AXWindow", {element(false), ax_->addTree("AXWebArea")})).loadingPage,
            std::nullopt);
  EXPECT_TRUE(AXTree::isBusy(second));
  EXPECT_FALSE(AXTree::isBusy(element(std::string("1"))));
}

TEST_F(AXTreeTest, AttributeTextRule) {
  struct Case {
    AXValue value;
    std::optional<std::string> text;
  };
  const std::vector<Case> cases{
      {std::string("hello"), "hello"},
      {std::string(""), ""},
      {42.0, "42"},
      {-3.0, "-3"},
      {0.5, "0.5"},
      {0.1, "0.1"},
      {1e300, "1e+300"},
      {true, "1"},
      {false, "0"},
      {AXErrorMarker{}, {}},
      {Point{1, 2}, {}},
      {Size{3, 4}, {}},
      {AXElement{"a", "/b"}, {}},
      {AXArray{}, {}},
      {AXURL{"https://x/"}, {}},
      {platform::AXOther{}, {}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(AXTree::attributeText(c.value), c.text) << c.text.value_or("(absent)");
}

TEST_F(AXTreeTest, RecordFieldsFollowTheAttributeTextRule) {
  AXElement slider = ax_->add({{"AXRole", "AXSlider"}, {"AXValue", 42.0}, {"AXSelected", true}});
  AXElement row =
      ax_->add({{"AXRole", "AXRow"}, {"AXSelected", std::string("1")}, {"AXTitle", AXErrorMarker{}}});
  AXElement noRole = ax_->add({{"AXRole", 7.0},
                               {"AXDescription", std::string("d")},
                               {"AXPlaceholderValue", std::string("p")},
                               {"AXRoleDescription", std::string("r")}});
  auto snapshot = walk(ax_->addTree("AXWindow", {slider, row, noRole}));
  ASSERT_EQ(snapshot.nodes.size(), 4u);
  EXPECT_EQ(snapshot.nodes[1].value, "42");
  EXPECT_TRUE(snapshot.nodes[1].selected);
  EXPECT_FALSE(snapshot.nodes[2].selected);
  EXPECT_EQ(snapshot.nodes[2].title, std::nullopt);
  EXPECT_EQ(snapshot.nodes[3].role, "7");
  EXPECT_EQ(snapshot.nodes[3].description, "d");
  EXPECT_EQ(snapshot.nodes[3].placeholder, "p");
  EXPECT_EQ(snapshot.nodes[3].roleDescription, "r");

  AXElement unnamed = ax_->add({{"AXRole", AXErrorMarker{}}});
  EXPECT_EQ(walk(ax_->addTree("AXWindow", {unnamed})).nodes.at(1).role, "");
}

TEST_F(AXTreeTest, SettabilityIsAskedOnlyForEditableRoles) {
  AXElement locked = ax_->addTree("AXTextField");
  AXElement open = ax_->addTree("AXCheckBox");
  ax_->node(open).settable.insert("AXValue");
  AXElement button = ax_->addTree("AXButton");
  ax_->node(button).settable.insert("AXValue");
  auto snapshot = walk(ax_->addTree("AXWindow", {locked, open, button}));
  ASSERT_EQ(snapshot.nodes.size(), 4u);
  EXPECT_FALSE(snapshot.nodes[1].settable);
  EXPECT_TRUE(snapshot.nodes[2].settable);
  EXPECT_FALSE(snapshot.nodes[3].settable);
  EXPECT_EQ(ax_->calls.settable, 2);
}

TEST_F(AXTreeTest, FocusedElementIsMarked) {
  auto children = leaves(3);
  ax_->node(app_).attributes["AXFocusedUIElement"] = children[1];
  auto snapshot = walk(ax_->addTree("AXWindow", children));
  std::vector<bool> focused;
  for (const auto& node : snapshot.nodes) focused.push_back(node.focused);
  EXPECT_EQ(focused, (std::vector<bool>{false, false, true, false}));

  ax_->node(app_).attributes["AXFocusedUIElement"] = std::string("not an element");
  for (const auto& node : walk(ax_->addTree("AXWindow", children)).nodes) EXPECT_FALSE(node.focused);
}

TEST_F(AXTreeTest, PopulatedWebAreaBounds) {
  auto webArea = [&](int children) { return ax_->addTree("AXWebArea", leaves(children)); };
  EXPECT_FALSE(AXTree::hasPopulatedWebArea(ax_->addTree("AXWindow", {webArea(0)})));
  EXPECT_TRUE(AXTree::hasPopulatedWebArea(ax_->addTree("AXWindow", {webArea(1)})));

  auto below = [&](int levels, AXElement bottom) {
    for (int i = 0; i < levels; ++i) bottom = ax_->addTree("AXGroup", {bottom});
    return bottom;
  };
  EXPECT_TRUE(AXTree::hasPopulatedWebArea(below(25, webArea(1))));   // at depth 25: examined
  EXPECT_FALSE(AXTree::hasPopulatedWebArea(below(26, webArea(1))));  // below an element of depth 25

  // Breadth first: 599 leaves, the window and the web area is the 601st element.
  auto crowd = leaves(599);
  crowd.push_back(webArea(1));
  EXPECT_FALSE(AXTree::hasPopulatedWebArea(ax_->addTree("AXWindow", crowd)));
  crowd.erase(crowd.begin());
  EXPECT_TRUE(AXTree::hasPopulatedWebArea(ax_->addTree("AXWindow", crowd)));
}

TEST_F(AXTreeTest, FrameNeedsPositionAndSize) {
  AXElement both = ax_->add({{"AXPosition", Point{10, 20}}, {"AXSize", Size{300, 200}}});
  EXPECT_EQ(AXTree::frame(both), Rect(10, 20, 300, 200));
  EXPECT_EQ(AXTree::frame(ax_->add({{"AXPosition", Point{10, 20}}})), std::nullopt);
  EXPECT_EQ(AXTree::frame(ax_->add({{"AXSize", Size{1, 1}}})), std::nullopt);
  EXPECT_EQ(AXTree::frame(ax_->add({{"AXPosition", Size{1, 1}}, {"AXSize", Size{1, 1}}})), std::nullopt);
}

TEST_F(AXTreeTest, ElementAndStringReadersCheckKinds) {
  AXElement child = ax_->addTree("AXButton");
  AXElement holder = ax_->add({{"AXFocusedWindow", child}, {"AXTitle", std::string("t")}, {"AXValue", 3.0}});
  EXPECT_EQ(AXTree::element(holder, "AXFocusedWindow"), child);
  EXPECT_EQ(AXTree::element(holder, "AXTitle"), std::nullopt);
  EXPECT_EQ(AXTree::string(holder, "AXTitle"), "t");
  EXPECT_EQ(AXTree::string(holder, "AXValue"), std::nullopt);  // numbers are not turned into text here
  EXPECT_EQ(AXTree::string(holder, "AXMissing"), std::nullopt);
}

TEST_F(AXTreeTest, OffScreenRecordsAreThoseTheWindowDoesNotList) {
  auto texts = leaves(3, "AXStaticText");
  AXElement list = ax_->addTree("AXList", {texts[0], texts[1]});
  AXElement window = ax_->addTree("AXWindow", {list, texts[2]});
  auto snapshot = walk(window);
  ASSERT_EQ(snapshot.elements.size(), snapshot.nodes.size());
  auto onScreen = [&snapshot] {
    std::vector<bool> flags;
    for (const auto& node : snapshot.nodes) flags.push_back(node.onScreen);
    return flags;
  };
  // Without an answer nothing is known to be off screen.
  AXTree::markOffScreen(snapshot, window);
  EXPECT_EQ(onScreen(), (std::vector<bool>{true, true, true, true, true}));
  // The window itself is on screen though not its own descendant.
  ax_->node(window).attributes["AXOnScreenDescendants"] = AXArray{list, texts[1]};
  AXTree::markOffScreen(snapshot, window);
  EXPECT_EQ(onScreen(), (std::vector<bool>{true, true, false, true, false}));
}

}  // namespace
}  // namespace zoba
