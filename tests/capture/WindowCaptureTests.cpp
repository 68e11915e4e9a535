// The window capture on the in-memory platform: which window it takes, how it
// fails, and what it hands on and when.
#include "tests/capture/WindowCaptureFixture.h"

namespace zoba {
namespace {

using namespace capture_testing;

// --- which window -----------------------------------------------------------

struct ChoiceCase {
  const char* name;
  std::vector<platform::ShareableWindow> windows;
  enum { none, focused, main, frameless } axWindow = none;
  Rect axFrame;
  std::optional<std::uint32_t> chosen;  // absent: no capturable window
};

class WindowChoice : public WindowCaptureTest, public testing::WithParamInterface<ChoiceCase> {};

TEST_P(WindowChoice, PicksTheWindowOrFailsBeforeTheScreenshot) {
  const ChoiceCase& c = GetParam();
  screen().windows = c.windows;
  if (c.axWindow == ChoiceCase::focused) focus(axWindow(c.axFrame));
  if (c.axWindow == ChoiceCase::main) focus(axWindow(c.axFrame), "AXMainWindow");
  if (c.axWindow == ChoiceCase::frameless) focus(axWindow(std::nullopt));

  auto result = run();
  if (!c.chosen) {
    EXPECT_EQ(failureOf(result), "No capturable window");
    EXPECT_EQ(std::get<CaptureFailure>(result).error,
              (std::variant<CaptureError, platform::ScreenCaptureError>(CaptureError::noWindow)));
    EXPECT_TRUE(images.empty());
    EXPECT_EQ(screen().calls.capture, 0);
    return;
  }
  payloadOf(result);
  ASSERT_EQ(screen().filters.size(), 1u);
  EXPECT_EQ(screen().filters[0].windowID, *c.chosen);
  EXPECT_EQ(images.size(), 1u);
}

using W = FakeScreenCapture;
INSTANTIATE_TEST_SUITE_P(
    Cases, WindowChoice,
    testing::Values(
        ChoiceCase{"OtherProcessOnly",
                   {W::window(1, kPid + 1, Rect(0, 0, 500, 500))},
                   ChoiceCase::none,
                   {},
                   std::nullopt},
        ChoiceCase{"NoOwningProcess",
                   {W::window(1, std::nullopt, Rect(0, 0, 500, 500))},
                   ChoiceCase::none,
                   {},
                   std::nullopt},
        ChoiceCase{"OtherLayersOnly",
                   {W::window(1, kPid, Rect(0, 0, 500, 500), "dock", 20),
                    W::window(2, kPid, Rect(0, 0, 500, 500), "desktop", -1000)},
                   ChoiceCase::none,
                   {},
                   std::nullopt},
        ChoiceCase{"BelowFortyPointsEitherWay",
                   {W::window(1, kPid, Rect(0, 0, 39.9, 500)), W::window(2, kPid, Rect(0, 0, 500, 39))},
                   ChoiceCase::none,
                   {},
                   std::nullopt},
        ChoiceCase{"ExactlyFortyIsKept", {W::window(3, kPid, Rect(0, 0, 40, 40))}, ChoiceCase::none, {}, 3},
        ChoiceCase{"NegativeExtentsCountByTheirSize",
                   {W::window(4, kPid, Rect(100, 100, -40, -40))},
                   ChoiceCase::none,
                   {},
                   4},
        ChoiceCase{
            "OneKeptWindowWhateverTheFocusedFrame",
            {W::window(1, kPid + 1, Rect(2000, 2000, 800, 600)), W::window(5, kPid, Rect(0, 0, 100, 100))},
            ChoiceCase::focused,
            Rect(2000, 2000, 800, 600),
            5},
        ChoiceCase{"LargestWithoutAccessibilityWindow",
                   {W::window(1, kPid, Rect(0, 0, 100, 100)), W::window(2, kPid, Rect(0, 0, 300, 300)),
                    W::window(3, kPid, Rect(0, 0, 200, 200))},
                   ChoiceCase::none,
                   {},
                   2},
        ChoiceCase{"EqualAreasTheFirstListed",
                   {W::window(1, kPid, Rect(0, 0, 100, 200)), W::window(2, kPid, Rect(0, 0, 200, 100))},
                   ChoiceCase::none,
                   {},
                   1},
        ChoiceCase{"LargestWhenTheFocusedWindowHasNoFrame",
                   {W::window(1, kPid, Rect(0, 0, 100, 100)), W::window(2, kPid, Rect(0, 0, 300, 300))},
                   ChoiceCase::frameless,
                   {},
                   2},
        ChoiceCase{"NearestToTheFocusedFrame",
                   {W::window(1, kPid, Rect(0, 0, 800, 600)), W::window(2, kPid, Rect(100, 100, 640, 480))},
                   ChoiceCase::focused,
                   Rect(101, 100, 640, 480),
                   2},
        ChoiceCase{"MainWindowWithoutAFocusedOne",
                   {W::window(1, kPid, Rect(0, 0, 800, 600)), W::window(2, kPid, Rect(100, 100, 640, 480))},
                   ChoiceCase::main,
                   Rect(100, 100, 640, 480),
                   2},
        ChoiceCase{
            "IndexCountsOnlyKeptWindows",
            {W::window(1, kPid + 1, Rect(100, 100, 640, 480)), W::window(2, kPid, Rect(100, 100, 640, 30)),
             W::window(3, kPid, Rect(0, 0, 800, 600)), W::window(4, kPid, Rect(100, 100, 600, 480))},
            ChoiceCase::focused,
            Rect(100, 100, 640, 480),
            4}),
    [](const testing::TestParamInfo<ChoiceCase>& info) { return std::string(info.param.name); });

// --- failures and what the host sees ------------------------------------------

TEST_F(WindowCaptureTest, WindowListErrorPassesThroughBeforeAnyScreenshot) {
  listOneWindow();
  screen().contentError = platform::ScreenCaptureError{"The X display cannot be reached"};
  auto result = run();
  EXPECT_EQ(failureOf(result), "The X display cannot be reached");
  EXPECT_EQ(screen().calls.capture, 0);
  EXPECT_TRUE(images.empty());
  ASSERT_EQ(screen().contentRequests.size(), 1u);
  EXPECT_TRUE(screen().contentRequests[0].excludeDesktopWindows);
  EXPECT_TRUE(screen().contentRequests[0].onScreenWindowsOnly);
}

TEST_F(WindowCaptureTest, ScreenshotErrorPassesThroughWithoutAnImage) {
  listOneWindow();
  screen().captureError = platform::ScreenCaptureError{"The window 7 is no longer on screen"};
  auto result = run();
  EXPECT_EQ(failureOf(result), "The window 7 is no longer on screen");
  EXPECT_TRUE(images.empty());
  EXPECT_TRUE(ax().setLog.empty()) << "no activation after a failed screenshot";
}

TEST_F(WindowCaptureTest, UnencodableScreenshotStillReachesOnImageOnce) {
  listOneWindow("Inbox");
  screen().image = Image();  // nothing a PNG can be made of
  auto result = run();
  EXPECT_EQ(failureOf(result), "Could not encode the capture");
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0].title, "Inbox");
  EXPECT_TRUE(ax().setLog.empty()) << "the capture ends at the encoding";
  EXPECT_EQ(ax().calls.multiple, 0);
}

TEST(CaptureErrorText, FixedEnglishTexts) {
  EXPECT_EQ(description(CaptureError::noWindow), "No capturable window");
  EXPECT_EQ(description(CaptureError::encodingFailed), "Could not encode the capture");
  EXPECT_EQ(CaptureFailure{platform::ScreenCaptureError{"platform words"}}.description(), "platform words");
}

// --- the screenshot and onImage ---------------------------------------------------

struct SizeCase {
  Rect frame;
  double scale;
  std::int64_t width, height;  // asked of the platform
};

class ScreenshotSize : public WindowCaptureTest, public testing::WithParamInterface<SizeCase> {};

TEST_P(ScreenshotSize, AsksForTheScaledSizeWithinTheMaxEdge) {
  const SizeCase& c = GetParam();
  listOneWindow("Inbox", c.frame);
  screen().pointPixelScale = c.scale;
  auto result = run();
  const CapturePayload payload = payloadOf(result);
  ASSERT_EQ(screen().configurations.size(), 1u);
  const auto& configuration = screen().configurations[0];
  EXPECT_EQ(configuration.width, c.width);
  EXPECT_EQ(configuration.height, c.height);
  EXPECT_FALSE(configuration.showsCursor);
  EXPECT_TRUE(configuration.ignoreShadowsSingleWindow);
  EXPECT_TRUE(configuration.scalesToFit);
  EXPECT_EQ(payload.image.width, c.width);
  EXPECT_EQ(payload.image.height, c.height);
}

INSTANTIATE_TEST_SUITE_P(Cases, ScreenshotSize,
                         testing::Values(SizeCase{Rect(0, 0, 1440, 900), 2, 2400, 1500},
                                         SizeCase{Rect(0, 0, 1440, 900), 1, 1440, 900},
                                         SizeCase{Rect(10, 10, 900, 3000), 1, 720, 2400},
                                         SizeCase{Rect(500, 300, -300, -200), 1, 300, 200}));

TEST_F(WindowCaptureTest, PayloadReportsTheSizeThePlatformDelivered) {
  listOneWindow("Inbox", Rect(0, 0, 1440, 900));
  screen().image = solid(1437, 899, 0xFF102030);
  auto result = run();
  const CapturePayload payload = payloadOf(result);
  EXPECT_EQ(payload.image.width, 1437);
  EXPECT_EQ(payload.image.height, 899);
  auto png = decodeBase64PNG(payload.image.base64);
  ASSERT_TRUE(png);
  EXPECT_EQ(png->width(), 1437);
  EXPECT_EQ(png->height(), 899);
  EXPECT_EQ(png->pixel(500, 500), 0xFF102030u);
}

TEST_F(WindowCaptureTest, OnImageOnceBeforeActivationWalkAndPayload) {
  listOneWindow("Inbox", Rect(0, 0, 320, 200));
  focus(axWindow(Rect(0, 0, 320, 200), "Inbox", {ax().add({{"AXRole", "AXButton"}, {"AXTitle", "Send"}})}));
  auto result = run();
  payloadOf(result);
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0].width, 320);
  EXPECT_EQ(images[0].height, 200);
  EXPECT_FALSE(images[0].resultReady);
  EXPECT_EQ(images[0].activationSetsSoFar, 0u);
  EXPECT_EQ(images[0].walkFetchesSoFar, 0);
  // Both happen afterwards, in this capture.
  EXPECT_EQ(ax().setLog, (std::vector<std::string>{"AXManualAccessibility", "AXEnhancedUserInterface"}));
  EXPECT_GT(ax().calls.multiple, 0);
}

struct TitleCase {
  const char* name;
  std::optional<std::string> listTitle;
  bool axWindow;
  std::optional<std::string> axTitle;
  std::string windowTitle, imageTitle;
};

class Titles : public WindowCaptureTest, public testing::WithParamInterface<TitleCase> {};

TEST_P(Titles, WindowListTitleFirstAccessibilityTitleOnlyInThePayload) {
  const TitleCase& c = GetParam();
  listOneWindow(c.listTitle);
  if (c.axWindow) focus(axWindow(Rect(0, 0, 400, 300), c.axTitle));
  auto result = run();
  const CapturePayload payload = payloadOf(result);
  EXPECT_EQ(payload.windowTitle, c.windowTitle);
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0].title, c.imageTitle);
  EXPECT_TRUE(payload.text.starts_with("Window: \"" + c.windowTitle + "\", App: Mail.")) << payload.text;
  // Hosts rely on the last line to tell an application without accessibility.
  EXPECT_EQ(payload.text.ends_with("\n" + std::string(WindowCapture::noAccessibilityLine)), !c.axWindow)
      << payload.text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Titles,
    testing::Values(TitleCase{"ListTitleWins", "Inbox", true, "Other", "Inbox", "Inbox"},
                    TitleCase{"AccessibilityFallback", std::nullopt, true, "Drafts", "Drafts", ""},
                    TitleCase{"NeitherGivesEmpty", std::nullopt, true, std::nullopt, "", ""},
                    TitleCase{"NoAccessibilityWindow", std::nullopt, false, std::nullopt, "", ""}),
    [](const testing::TestParamInfo<TitleCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zoba
