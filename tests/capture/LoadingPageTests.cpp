// The capture's walk of a web page that is still loading: it waits for the page
// within the deadline and walks again, and a loaded page costs nothing more.
#include <gtest/gtest.h>

#include <functional>

#include "Platform/Platform.h"
#include "ZobaCapture/WindowCapture.h"
#include "tests/fakes/FakeAccessibility.h"
#include "tests/support/VirtualClockLoop.h"

namespace zoba {
namespace {

using platform::AXElement;

constexpr double kStart = 100;

class LoadingPageTest : public testing::Test {
 protected:
  void SetUp() override {
    auto installed = fakes::installFakeAccessibility(kStart);
    loop_ = &installed.runLoop;
    ax_ = &installed.accessibility;
    app_ = ax_->addTree("AXApplication");
  }
  void TearDown() override { platform::install(nullptr); }

  AXElement text(const std::string& words) {
    return ax_->add({{"AXRole", "AXStaticText"}, {"AXValue", words}});
  }

  // The capture's walk of `window`, run to its end on the virtual clock.
  AXSnapshot outline(const AXElement& window) {
    std::optional<AXSnapshot> result;
    [](AXElement window, AXElement application, std::optional<AXSnapshot>& out,
       testing_support::VirtualClockLoop& loop) -> Task<void> {
      out = co_await WindowCapture::outline(std::move(window), std::move(application));
      loop.quit();
    }(window, app_, result, *loop_)
                                                       .detach();
    loop_->run();
    return std::move(*result);
  }

  static std::vector<std::string> values(const AXSnapshot& snapshot) {
    std::vector<std::string> seen;
    for (const auto& node : snapshot.nodes)
      if (node.value) seen.push_back(*node.value);
    return seen;
  }

  testing_support::VirtualClockLoop* loop_ = nullptr;
  fakes::FakeAccessibility* ax_ = nullptr;
  AXElement app_;
};

TEST_F(LoadingPageTest, ALoadedPageIsWalkedOnce) {
  AXElement page = ax_->addTree("AXWebArea", {text("Heading"), text("Cell")});
  ax_->node(page).attributes["AXElementBusy"] = false;
  const AXSnapshot snapshot = outline(ax_->addTree("AXWindow", {page}));
  EXPECT_EQ(values(snapshot), (std::vector<std::string>{"Heading", "Cell"}));
  EXPECT_FALSE(snapshot.loadingPage);
  EXPECT_EQ(ax_->calls.multiple, 4) << "one fetch per element";
  EXPECT_EQ(ax_->calls.single, 1) << "the focused element only";
  EXPECT_EQ(loop_->clock(), kStart);
}

// A page still loading grows its tree meanwhile; what it says once loaded, or
// what arrived until the deadline, is the outline.
TEST_F(LoadingPageTest, ALoadingPageIsWalkedAgainWithinTheDeadline) {
  struct Case {
    const char* name;
    double arrives;  // seconds after the walk began; beyond the deadline for never
    bool loads;      // the page stops being busy when the rest arrives
    std::vector<std::string> expected;
    double endsBy;  // the outline is ready by then, on the virtual clock
  };
  const std::vector<Case> cases{
      {"loads after 0.3 s",
       0.3,
       true,
       {"Heading", "North cell", "First item"},
       0.3 + WindowCapture::loadPollSeconds},
      {"grows and keeps loading", 0.5, false, {"Heading", "North cell", "First item"}, 1.2},
      {"a slow picture keeps it busy", 5.0, false, {"Heading"}, 1.2},
  };
  for (const auto& c : cases) {
    AXElement page = ax_->addTree("AXWebArea", {text("Heading")});
    ax_->node(page).attributes["AXElementBusy"] = true;
    AXElement window = ax_->addTree("AXWindow", {page});
    const double began = loop_->clock();
    loop_->after(c.arrives, [&, page] {
      ax_->setChildren(page, {text("Heading"), ax_->addTree("AXTable", {text("North cell")}),
                              ax_->addTree("AXList", {text("First item")})});
      ax_->node(page).attributes["AXElementBusy"] = !c.loads;
    });
    const AXSnapshot snapshot = outline(window);
    EXPECT_EQ(values(snapshot), c.expected) << c.name;
    EXPECT_FALSE(snapshot.timedOut) << c.name;
    EXPECT_LE(loop_->clock(), began + c.endsBy + 1e-9) << c.name;
    loop_->run();  // a change that never came in time
  }
}

// Gecko shows a new tab's embedder a moment before its page, which then loads.
TEST_F(LoadingPageTest, ANewTabIsWalkedOnceItsPageHasArrivedAndLoaded) {
  AXElement embedder = ax_->addTree("AXGroup");
  ax_->node(embedder).attributes["AXElementBusy"] = true;
  AXElement page = ax_->addTree("AXWebArea", {text("Heading")});
  ax_->node(page).attributes["AXElementBusy"] = true;
  loop_->after(0.2, [&] {
    ax_->setChildren(embedder, {page});
    ax_->node(embedder).attributes["AXElementBusy"] = false;
  });
  loop_->after(0.5, [&] {
    ax_->setChildren(page, {text("Heading"), text("North cell")});
    ax_->node(page).attributes["AXElementBusy"] = false;
  });
  const AXSnapshot snapshot = outline(ax_->addTree("AXWindow", {embedder}));
  EXPECT_EQ(values(snapshot), (std::vector<std::string>{"Heading", "North cell"}));
  EXPECT_FALSE(snapshot.loadingPage);
}

// The second walk keeps as much time as the first took, twice over; when even
// that is gone, the first walk stands.
TEST_F(LoadingPageTest, ASlowFirstWalkLeavesNoTimeForASecond) {
  std::vector<AXElement> rows;
  for (int i = 0; i < 60; ++i) rows.push_back(text("row " + std::to_string(i)));
  AXElement page = ax_->addTree("AXWebArea", rows);
  ax_->node(page).attributes["AXElementBusy"] = true;
  ax_->elapse = [this](double seconds) { loop_->elapse(seconds); };
  for (const auto& row : rows) ax_->node(row).delay = 0.01;  // 0.6 s for the first walk
  const AXSnapshot snapshot = outline(ax_->addTree("AXWindow", {page}));
  EXPECT_EQ(snapshot.nodes.size(), 62u);
  EXPECT_EQ(ax_->calls.multiple, 62) << "walked once";
  EXPECT_EQ(ax_->calls.single, 1) << "never asked whether the page had loaded";
}

}  // namespace
}  // namespace zoba
