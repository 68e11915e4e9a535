// The AT-SPI backend on a real GTK 3 window. Skipped without a display and a
// session bus (scripts/headless-desktop.sh provides both).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "Platform/Platform.h"
#include "Platform/linux/Backends.h"
#include "Platform/linux/atspi/AtspiStats.h"
#include "ZobaCapture/AXTree.h"
#include "ZobaCaptureCore/AXTreeFormatter.h"

namespace zoba::platform {
namespace {

using namespace std::chrono_literals;

bool hasDesktop() {
  const char* display = std::getenv("DISPLAY");
  const char* session = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  return display && *display && session && *session;
}

// The test window as a child process: stdin to rename its check box, stdout for its pid.
class TestWindow {
 public:
  explicit TestWindow(const char* option = nullptr) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      close(in[1]);
      close(out[0]);
      const std::string script = std::string(ZOBA_TEST_SOURCE_DIR) + "/atspi_window.py";
      execl("/usr/bin/python3", "python3", script.c_str(), option, static_cast<char*>(nullptr));
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    input_ = in[1];
    pollfd ready{out[0], POLLIN, 0};
    std::string line;
    char ch;
    while (poll(&ready, 1, 15000) > 0 && read(out[0], &ch, 1) == 1 && ch != '\n') line.push_back(ch);
    close(out[0]);
    shown_ = !line.empty();
  }
  ~TestWindow() {
    if (pid_ <= 0) return;
    kill(pid_, SIGCONT);
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    if (input_ >= 0) close(input_);
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  bool shown() const { return shown_; }
  pid_t pid() const { return pid_; }
  void rename(const std::string& label) {
    std::string line = label + "\n";
    ASSERT_EQ(write(input_, line.data(), line.size()), static_cast<ssize_t>(line.size()));
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  bool shown_ = false;
};

class AtspiAccessibilityTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (hasDesktop()) install(makePlatform());
  }

  void SetUp() override {
    if (!hasDesktop()) GTEST_SKIP() << "no display or session bus";
    window_ = std::make_unique<TestWindow>(windowOption());
    ASSERT_TRUE(window_->shown()) << "the GTK window did not come up";
    // The toolkit registers with the accessibility bus shortly after it maps the window.
    for (int attempt = 0; attempt < 50 && !app_; ++attempt) {
      app_ = ax().applicationElement(window_->pid());
      if (!app_) std::this_thread::sleep_for(100ms);
    }
    if (!app_) GTEST_SKIP() << "the window is not on the accessibility bus";
    ax().setMessagingTimeout(*app_, 0.5);
  }

  virtual const char* windowOption() const { return nullptr; }
  static Accessibility& ax() { return *current().accessibility; }
  static double now() { return current().runLoop->now(); }

  std::optional<AXElement> window() {
    for (int attempt = 0; attempt < 30; ++attempt) {
      if (auto found = AXTree::element(*app_, "AXFocusedWindow")) return found;
      std::this_thread::sleep_for(100ms);
    }
    return AXTree::element(*app_, "AXMainWindow");
  }

  const AXNodeRecord* find(const AXSnapshot& snapshot, std::string_view role, std::string_view title) {
    for (const auto& node : snapshot.nodes) {
      if (node.role == role && node.title.value_or("") == title) return &node;
    }
    return nullptr;
  }

  std::unique_ptr<TestWindow> window_;
  std::optional<AXElement> app_;
};

TEST_F(AtspiAccessibilityTest, WindowAttributesAndFrame) {
  auto found = window();
  ASSERT_TRUE(found);
  EXPECT_EQ(AXTree::string(*found, "AXRole"), "AXWindow");
  EXPECT_EQ(AXTree::string(*found, "AXTitle"), "Backend test window");
  EXPECT_EQ(AXTree::element(*app_, "AXMainWindow"), found);
  auto windows = ax().copyAttributeValue(*app_, "AXWindows");
  ASSERT_TRUE(windows && windows->get<AXArray>());
  EXPECT_EQ(windows->get<AXArray>()->size(), 1u);

  auto frame = AXTree::frame(*found);
  ASSERT_TRUE(frame);
  // The frame as the screen shows it: the 480 x 320 client area with the window
  // manager's border and title bar, in top-left screen space where it was placed.
  EXPECT_GE(frame->width(), 480);
  EXPECT_LE(frame->width(), 500);
  EXPECT_GE(frame->height(), 320);
  EXPECT_LE(frame->height(), 360);
  EXPECT_NEAR(frame->minX(), 120, 10);
  EXPECT_NEAR(frame->minY(), 90, 10);
}

TEST_F(AtspiAccessibilityTest, SnapshotReadsTheWidgets) {
  auto found = window();
  ASSERT_TRUE(found);
  AXSnapshot snapshot = AXTree::snapshot(*found, *app_, now() + 1.2);
  EXPECT_FALSE(snapshot.timedOut);
  ASSERT_FALSE(snapshot.nodes.empty());
  EXPECT_EQ(snapshot.nodes.front().role, "AXWindow");
  EXPECT_EQ(snapshot.nodes.front().depth, 0);

  struct Expected {
    std::string role, title;
    std::optional<std::string> value, placeholder;
    bool settable, focused;
  };
  const Expected expected[] = {
      {"AXStaticText", "Hello label", "Hello label", std::nullopt, false, false},
      {"AXCheckBox", "Remember me", "1", std::nullopt, true, false},
      {"AXButton", "Submit", std::nullopt, std::nullopt, false, false},
      {"AXSlider", "", "42", std::nullopt, true, false},
  };
  for (const auto& want : expected) {
    SCOPED_TRACE(want.role + " " + want.title);
    const AXNodeRecord* node = find(snapshot, want.role, want.title);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->value, want.value);
    EXPECT_EQ(node->placeholder, want.placeholder);
    EXPECT_EQ(node->settable, want.settable);
    EXPECT_EQ(node->focused, want.focused);
    EXPECT_TRUE(node->roleDescription && !node->roleDescription->empty());
  }

  std::vector<const AXNodeRecord*> fields;
  for (const auto& node : snapshot.nodes) {
    if (node.role == "AXTextField") fields.push_back(&node);
  }
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(fields[0]->value, "typed text");
  EXPECT_EQ(fields[0]->placeholder, "Type here");
  EXPECT_TRUE(fields[0]->focused);
  EXPECT_TRUE(fields[0]->settable);
  // The password field shows its placeholder but never its text.
  EXPECT_EQ(fields[1]->value, std::nullopt);
  EXPECT_EQ(fields[1]->placeholder, "Password");
  EXPECT_FALSE(fields[1]->focused);

  auto outline = AXTreeFormatter::format(snapshot.nodes, 20000);
  EXPECT_EQ(outline.text.find("secret-pw"), std::string::npos) << outline.text;
  EXPECT_NE(outline.text.find("Hello label"), std::string::npos) << outline.text;
  EXPECT_NE(outline.text.find("Type here"), std::string::npos) << outline.text;
}

// The focus search sent ahead answers the question for the focused element once;
// the next question searches again and sees where the focus went.
TEST_F(AtspiAccessibilityTest, TheFocusSearchSentAheadServesOnce) {
  const std::string focus[] = {"AXFocusedUIElement"};
  auto role = [](const std::optional<AXValue>& focused) {
    const auto* element = focused ? focused->get<AXElement>() : nullptr;
    return element ? AXTree::string(*element, "AXRole").value_or("") : "";
  };
  auto placeholder = [](const std::optional<AXValue>& focused) {
    const auto* element = focused ? focused->get<AXElement>() : nullptr;
    return element ? AXTree::string(*element, "AXPlaceholderValue").value_or("") : "";
  };
  const auto* counter = dynamic_cast<const linux_backend::atspi::CallCounter*>(&ax());
  ASSERT_TRUE(counter);
  // The window takes the focus in its own time once it is shown.
  for (const double end = now() + 5; now() < end;)
    if (placeholder(ax().copyAttributeValue(*app_, "AXFocusedUIElement")) == "Type here") break;
  bool ready = false;
  for (const double end = now() + 2; !ready && now() < end;) ready = ax().prepareAnswers(*app_, focus, 0.05);
  ASSERT_TRUE(ready);
  window_->rename("focus the password");
  const auto before = counter->callsSent();
  auto first = ax().copyAttributeValue(*app_, "AXFocusedUIElement");
  EXPECT_EQ(counter->callsSent(), before);  // the answer sent ahead, before the focus moved
  EXPECT_EQ(role(first), "AXTextField");
  EXPECT_EQ(placeholder(first), "Type here");

  const auto beforeNext = counter->callsSent();
  std::optional<AXValue> next = ax().copyAttributeValue(*app_, "AXFocusedUIElement");
  EXPECT_GT(counter->callsSent(), beforeNext);  // a search of its own
  for (const double end = now() + 5; now() < end && placeholder(next) != "Password";)
    next = ax().copyAttributeValue(*app_, "AXFocusedUIElement");
  EXPECT_EQ(placeholder(next), "Password");
}

TEST_F(AtspiAccessibilityTest, ChildrenComeInOrderWithTheirParent) {
  auto found = window();
  ASSERT_TRUE(found);
  auto children = ax().copyAttributeValue(*found, "AXChildren");
  ASSERT_TRUE(children && children->get<AXArray>());
  ASSERT_EQ(children->get<AXArray>()->size(), 1u);  // the box
  const AXElement box = *children->get<AXArray>()->front().get<AXElement>();
  EXPECT_EQ(AXTree::element(box, "AXParent"), found);
  EXPECT_EQ(AXTree::element(*found, "AXParent"), app_);
  EXPECT_EQ(ax().attributeValueCount(box, "AXChildren"), 6);
}

TEST_F(AtspiAccessibilityTest, OnlyChromiumTakesTheAccessibilitySwitches) {
  EXPECT_FALSE(ax().setAttributeValue(*app_, "AXManualAccessibility", true));
  EXPECT_FALSE(ax().setAttributeValue(*app_, "AXEnhancedUserInterface", true));
  EXPECT_EQ(ax().isAttributeSettable(*app_, "AXManualAccessibility"), false);
}

TEST_F(AtspiAccessibilityTest, ObserverDeliversTitleChangesOnTheMainLoop) {
  std::vector<std::string> seen;
  auto observer =
      ax().createObserver(window_->pid(), [&](const AXElement& element, std::string_view notification) {
        EXPECT_EQ(element.application, app_->application);
        seen.emplace_back(notification);
      });
  ASSERT_TRUE(observer);
  EXPECT_TRUE(observer->addNotification(*app_, "AXTitleChanged"));
  EXPECT_FALSE(observer->addNotification(*app_, "AXNoSuchNotification"));
  // The bridge learns of the listener from the registry; rename until it reports.
  auto& loop = *current().runLoop;
  int renames = 0;
  std::function<void()> tick = [&] {
    if (!seen.empty() || renames >= 25) {
      loop.quit();
      return;
    }
    window_->rename("Renamed " + std::to_string(renames++));
    loop.after(0.2, tick);
  };
  loop.post(tick);
  loop.run();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), "AXTitleChanged");
}

TEST_F(AtspiAccessibilityTest, StoppedApplicationEndsTheWalkWithinDeadlineAndOneTimeout) {
  auto found = window();
  ASSERT_TRUE(found);
  // A fresh backend has nothing read ahead: every element costs calls.
  auto fresh = linux_backend::makeAccessibility();
  auto app = fresh->applicationElement(window_->pid());
  ASSERT_TRUE(app);
  fresh->setMessagingTimeout(*app, 0.5);
  std::swap(current().accessibility, fresh);
  kill(window_->pid(), SIGSTOP);
  const double started = now();
  AXSnapshot snapshot = AXTree::snapshot(*found, *app, started + 1.2);
  const double elapsed = now() - started;
  kill(window_->pid(), SIGCONT);
  std::swap(current().accessibility, fresh);
  EXPECT_LE(elapsed, 1.2 + 0.5 + 0.2);
  EXPECT_TRUE(snapshot.nodes.empty());
}

// The same window with two combo boxes: one with a text entry, one without.
class AtspiComboTest : public AtspiAccessibilityTest {
 protected:
  const char* windowOption() const override { return "--combos"; }
};

TEST_F(AtspiComboTest, AComboBoxWithAnEntryIsEditable) {
  auto found = window();
  ASSERT_TRUE(found);
  AXSnapshot snapshot = AXTree::snapshot(*found, *app_, now() + 1.2);
  EXPECT_FALSE(snapshot.timedOut);
  std::vector<const AXNodeRecord*> combos, popUps;
  for (const auto& node : snapshot.nodes) {
    if (node.role == "AXComboBox") combos.push_back(&node);
    if (node.role == "AXPopUpButton") popUps.push_back(&node);
  }
  ASSERT_EQ(combos.size(), 1u);
  ASSERT_EQ(popUps.size(), 1u);
  // The entry is read below its combo box, its menu is not.
  const auto entry = std::find_if(snapshot.nodes.begin(), snapshot.nodes.end(), [](const auto& node) {
    return node.role != "AXComboBox" && node.value == "typed choice";
  });
  ASSERT_NE(entry, snapshot.nodes.end());
  EXPECT_EQ(entry->depth, combos.front()->depth + 1);
  EXPECT_EQ(entry->role, "AXTextField");
  // The box reads as what its entry holds, the drop-down as its selected item.
  EXPECT_EQ(combos.front()->value, "typed choice");
  EXPECT_EQ(popUps.front()->value, "chosen choice");
  // Asked one attribute at a time, outside a walk, the two read the same.
  auto children = [&](const AXElement& parent) {
    auto value = ax().copyAttributeValue(parent, "AXChildren");
    return value && value->get<AXArray>() ? *value->get<AXArray>() : AXArray{};
  };
  auto top = children(*found);
  ASSERT_EQ(top.size(), 1u);
  std::vector<std::string> roles;
  for (const auto& child : children(*top.front().get<AXElement>()))
    roles.push_back(AXTree::string(*child.get<AXElement>(), "AXRole").value_or(""));
  EXPECT_EQ(std::count(roles.begin(), roles.end(), "AXComboBox"), 1);
  EXPECT_EQ(std::count(roles.begin(), roles.end(), "AXPopUpButton"), 1);
  std::vector<std::string> values;
  for (const auto& child : children(*top.front().get<AXElement>()))
    values.push_back(AXTree::string(*child.get<AXElement>(), "AXValue").value_or(""));
  EXPECT_EQ(std::count(values.begin(), values.end(), "typed choice"), 1);
  EXPECT_EQ(std::count(values.begin(), values.end(), "chosen choice"), 1);
}

}  // namespace
}  // namespace zoba::platform
