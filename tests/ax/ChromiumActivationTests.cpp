#include <gtest/gtest.h>

#include "Platform/Platform.h"
#include "ZobaCapture/ChromiumActivation.h"
#include "tests/fakes/FakeAccessibility.h"
#include "tests/support/VirtualClockLoop.h"

namespace zoba {
namespace {

using platform::AXElement;

class ChromiumActivationTest : public testing::Test {
 protected:
  void SetUp() override {
    auto installed = fakes::installFakeAccessibility(100);
    loop_ = &installed.runLoop;
    ax_ = &installed.accessibility;
    app_ = ax_->addTree("AXApplication");
  }
  void TearDown() override { platform::install(nullptr); }

  // Runs one activation to its end; answers the virtual seconds it took.
  double activate(std::int32_t pid = 42) {
    double start = loop_->clock();
    bool done = false;
    [](ChromiumActivation& activation, AXElement app, std::int32_t pid, bool& done) -> Task<void> {
      co_await activation.activate(app, pid);
      done = true;
    }(activation_, app_, pid, done)
                                                                                           .detach();
    loop_->run();
    EXPECT_TRUE(done);
    return loop_->clock() - start;
  }
  void accept(std::initializer_list<const char*> attributes) {
    for (const char* name : attributes) ax_->node(app_).acceptsSet.insert(name);
  }
  void showWindow(int webChildren, const char* attribute = "AXFocusedWindow") {
    std::vector<AXElement> kids;
    for (int i = 0; i < webChildren; ++i) kids.push_back(ax_->addTree("AXStaticText"));
    AXElement window = ax_->addTree("AXWindow", {ax_->addTree("AXWebArea", kids)});
    ax_->node(app_).attributes[attribute] = window;
  }

  testing_support::VirtualClockLoop* loop_ = nullptr;
  fakes::FakeAccessibility* ax_ = nullptr;
  AXElement app_;
  ChromiumActivation activation_;
};

TEST_F(ChromiumActivationTest, BothSettingsFailing_ReturnsAtOnce) {
  EXPECT_EQ(activate(), 0);
  EXPECT_EQ(ax_->setLog, (std::vector<std::string>{"AXManualAccessibility", "AXEnhancedUserInterface"}));
  EXPECT_EQ(ax_->calls.observers, 0);
  EXPECT_EQ(ax_->calls.single, 0);
  EXPECT_FALSE(activation_.isRegistered(42));
}

TEST_F(ChromiumActivationTest, EitherSettingRegistersAndWaitsForThePage) {
  for (auto accepted : {"AXManualAccessibility", "AXEnhancedUserInterface"}) {
    SetUp();
    ChromiumActivation fresh;
    std::swap(activation_, fresh);
    accept({accepted});
    showWindow(0);  // a web area without children yet: the whole wait
    double waited = activate();
    EXPECT_GE(waited, ChromiumActivation::waitSeconds) << accepted;
    EXPECT_LT(waited, ChromiumActivation::waitSeconds + ChromiumActivation::pollSeconds + 1e-9) << accepted;
    EXPECT_EQ(ax_->setLog.size(), 2u);
    EXPECT_TRUE(activation_.isRegistered(42));
    EXPECT_EQ(ax_->notificationLog, std::vector<std::string>(ChromiumActivation::notifications.begin(),
                                                             ChromiumActivation::notifications.end()));
  }
}

TEST_F(ChromiumActivationTest, PopulatedPageEndsTheWaitAtTheFirstLookup) {
  accept({"AXManualAccessibility", "AXEnhancedUserInterface"});
  showWindow(1);
  EXPECT_EQ(activate(), 0);

  ax_->node(app_).attributes.erase("AXFocusedWindow");
  showWindow(2, "AXMainWindow");  // the main window when no window is focused
  EXPECT_EQ(activate(), 0);
}

TEST_F(ChromiumActivationTest, NoWindowWaitsTheWholeTime) {
  accept({"AXManualAccessibility"});
  EXPECT_GE(activate(), ChromiumActivation::waitSeconds);
}

TEST_F(ChromiumActivationTest, SecondActivationKeepsTheFirstObserver) {
  accept({"AXManualAccessibility"});
  showWindow(1);
  activate();
  activate();
  EXPECT_EQ(ax_->calls.observers, 1);
  EXPECT_EQ(ax_->calls.notifications, 6);
  EXPECT_EQ(ax_->setLog.size(), 4u);  // the settings are repeated
}

TEST_F(ChromiumActivationTest, FailedObserverCreationIsRetriedNextTime) {
  accept({"AXEnhancedUserInterface"});
  showWindow(1);
  ax_->failObserverCreation = true;
  activate();
  EXPECT_FALSE(activation_.isRegistered(42));
  ax_->failObserverCreation = false;
  activate();
  EXPECT_TRUE(activation_.isRegistered(42));
  EXPECT_EQ(ax_->calls.observers, 2);
  EXPECT_EQ(ax_->calls.notifications, 6);
}

}  // namespace
}  // namespace zoba
