// The window capture on the in-memory platform: which window it takes, what it
// hands on and when, the payload and its text, and the small encodings.
#include <gtest/gtest.h>

#include <set>

#include "ZobaCapture/WindowCapture.h"
#include "ZobaCaptureCore/UnicodeText.h"
#include "tests/fakes/FakePlatform.h"

namespace zoba {
namespace {

using fakes::FakeScreenCapture;
using nlohmann::json;
using platform::AXElement;
using platform::AXURL;
using platform::Image;
using platform::RunningApplication;

constexpr std::int32_t kPid = 42;

std::int64_t utf16(std::string_view text) {
  std::string storage;
  return UnicodeText::utf16Length(UnicodeText::wellFormed(text, storage));
}

std::set<std::string> keysOf(const json& object) {
  std::set<std::string> keys;
  for (const auto& [key, value] : object.items()) keys.insert(key);
  return keys;
}

Image solid(std::int64_t width, std::int64_t height, std::uint32_t word,
            Image::Format format = Image::Format::opaque) {
  return Image::fromWords(width, height, format,
                          std::vector<std::uint32_t>(static_cast<std::size_t>(width * height), word));
}

std::optional<Image> decodeBase64PNG(const std::string& text) {
  auto bytes = platform::base64Decode(text);
  if (!bytes) return std::nullopt;
  return platform::decodePNG(*bytes);
}

class WindowCaptureTest : public testing::Test {
 protected:
  struct ImageCall {
    std::int64_t width = 0, height = 0;
    std::string title;
    std::size_t activationSetsSoFar = 0;  // the activation's attribute sets when it came
    int walkFetchesSoFar = 0;             // the walk's fetches when it came
    bool resultReady = false;
  };

  WindowCaptureTest() {
    app = ax().addTree("AXApplication");
    ax().mapProcess(kPid, app);
  }
  ~WindowCaptureTest() override { platform::install(nullptr); }

  fakes::FakeAccessibility& ax() { return fake.accessibility; }
  FakeScreenCapture& screen() { return fake.screenCapture; }

  // An accessibility window with a frame (none when absent) and a title.
  AXElement axWindow(std::optional<Rect> frame, std::optional<std::string> title = std::nullopt,
                     const std::vector<AXElement>& children = {}) {
    AXElement window = ax().addTree("AXWindow", children);
    auto& attributes = ax().node(window).attributes;
    if (frame) {
      attributes["AXPosition"] = Point{frame->origin.x, frame->origin.y};
      attributes["AXSize"] = Size{frame->size.width, frame->size.height};
    }
    if (title) attributes["AXTitle"] = *title;
    return window;
  }
  void focus(const AXElement& window, const char* attribute = "AXFocusedWindow") {
    ax().node(app).attributes[attribute] = window;
  }
  // One capturable window of the application, as most cases need.
  void listOneWindow(std::optional<std::string> title = "Inbox", Rect frame = Rect(0, 0, 400, 300)) {
    screen().windows = {FakeScreenCapture::window(7, kPid, frame, std::move(title))};
  }

  // Runs one capture to its end on the main loop.
  WindowCapture::CaptureResult run(RunningApplication application) {
    std::optional<WindowCapture::CaptureResult> result;
    auto handler = [this, &result](const Image& image, const std::string& title) {
      images.push_back({image.width(), image.height(), title, ax().setLog.size(), ax().calls.multiple,
                        result.has_value()});
      if (duringOnImage) duringOnImage();
    };
    [](RunningApplication application, WindowCapture::ImageHandler onImage,
       std::optional<WindowCapture::CaptureResult>& out, fakes::FakeRunLoop& loop) -> Task<void> {
      out = co_await WindowCapture::capture(std::move(application), std::move(onImage));
      loop.quit();
    }(std::move(application), handler, result, fake.runLoop)
                                                              .detach();
    fake.runLoop.run();
    return std::move(*result);
  }
  WindowCapture::CaptureResult run() { return run(application); }

  static CapturePayload payloadOf(const WindowCapture::CaptureResult& result) {
    const auto* payload = std::get_if<CapturePayload>(&result);
    if (!payload) {
      ADD_FAILURE() << "failed: " << std::get<CaptureFailure>(result).description();
      return {};
    }
    return *payload;
  }
  static std::string failureOf(const WindowCapture::CaptureResult& result) {
    const auto* failure = std::get_if<CaptureFailure>(&result);
    return failure ? failure->description() : "(no failure)";
  }

  fakes::FakePlatform fake = fakes::installFakePlatform();
  AXElement app;
  RunningApplication application{kPid, "Mail", "org.example.Mail"};
  std::vector<ImageCall> images;
  std::function<void()> duringOnImage;
};

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
    EXPECT_EQ(std::get<CaptureFailure>(result).error, (std::variant<CaptureError, platform::ScreenCaptureError>(
                                                           CaptureError::noWindow)));
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
        ChoiceCase{"OtherProcessOnly", {W::window(1, kPid + 1, Rect(0, 0, 500, 500))}, ChoiceCase::none, {}, std::nullopt},
        ChoiceCase{"NoOwningProcess", {W::window(1, std::nullopt, Rect(0, 0, 500, 500))}, ChoiceCase::none, {}, std::nullopt},
        ChoiceCase{"OtherLayersOnly",
                   {W::window(1, kPid, Rect(0, 0, 500, 500), "dock", 20),
                    W::window(2, kPid, Rect(0, 0, 500, 500), "desktop", -1000)}, ChoiceCase::none, {}, std::nullopt},
        ChoiceCase{"BelowFortyPointsEitherWay",
                   {W::window(1, kPid, Rect(0, 0, 39.9, 500)), W::window(2, kPid, Rect(0, 0, 500, 39))}, ChoiceCase::none, {}, std::nullopt},
        ChoiceCase{"ExactlyFortyIsKept", {W::window(3, kPid, Rect(0, 0, 40, 40))}, ChoiceCase::none, {}, 3},
        ChoiceCase{"NegativeExtentsCountByTheirSize", {W::window(4, kPid, Rect(100, 100, -40, -40))},
                   ChoiceCase::none, {}, 4},
        ChoiceCase{"OneKeptWindowWhateverTheFocusedFrame",
                   {W::window(1, kPid + 1, Rect(2000, 2000, 800, 600)), W::window(5, kPid, Rect(0, 0, 100, 100))},
                   ChoiceCase::focused, Rect(2000, 2000, 800, 600), 5},
        ChoiceCase{"LargestWithoutAccessibilityWindow",
                   {W::window(1, kPid, Rect(0, 0, 100, 100)), W::window(2, kPid, Rect(0, 0, 300, 300)),
                    W::window(3, kPid, Rect(0, 0, 200, 200))},
                   ChoiceCase::none, {}, 2},
        ChoiceCase{"EqualAreasTheFirstListed",
                   {W::window(1, kPid, Rect(0, 0, 100, 200)), W::window(2, kPid, Rect(0, 0, 200, 100))},
                   ChoiceCase::none, {}, 1},
        ChoiceCase{"LargestWhenTheFocusedWindowHasNoFrame",
                   {W::window(1, kPid, Rect(0, 0, 100, 100)), W::window(2, kPid, Rect(0, 0, 300, 300))},
                   ChoiceCase::frameless, {}, 2},
        ChoiceCase{"NearestToTheFocusedFrame",
                   {W::window(1, kPid, Rect(0, 0, 800, 600)), W::window(2, kPid, Rect(100, 100, 640, 480))},
                   ChoiceCase::focused, Rect(101, 100, 640, 480), 2},
        ChoiceCase{"MainWindowWithoutAFocusedOne",
                   {W::window(1, kPid, Rect(0, 0, 800, 600)), W::window(2, kPid, Rect(100, 100, 640, 480))},
                   ChoiceCase::main, Rect(100, 100, 640, 480), 2},
        ChoiceCase{"IndexCountsOnlyKeptWindows",
                   {W::window(1, kPid + 1, Rect(100, 100, 640, 480)), W::window(2, kPid, Rect(100, 100, 640, 30)),
                    W::window(3, kPid, Rect(0, 0, 800, 600)), W::window(4, kPid, Rect(100, 100, 600, 480))},
                   ChoiceCase::focused, Rect(100, 100, 640, 480), 4}),
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
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Titles,
    testing::Values(TitleCase{"ListTitleWins", "Inbox", true, "Other", "Inbox", "Inbox"},
                    TitleCase{"AccessibilityFallback", std::nullopt, true, "Drafts", "Drafts", ""},
                    TitleCase{"NeitherGivesEmpty", std::nullopt, true, std::nullopt, "", ""},
                    TitleCase{"NoAccessibilityWindow", std::nullopt, false, std::nullopt, "", ""}),
    [](const testing::TestParamInfo<TitleCase>& info) { return std::string(info.param.name); });

// --- accessibility ------------------------------------------------------------------

TEST_F(WindowCaptureTest, MessagingTimeoutsOfCaptureAndFocusedFrame) {
  listOneWindow();
  focus(axWindow(Rect(5, 6, 400, 300)));
  EXPECT_EQ(WindowCapture::focusedWindowFrame(application), Rect(5, 6, 400, 300));
  EXPECT_EQ(ax().timeouts.at(app.application), 0.25);
  payloadOf(run());
  EXPECT_EQ(ax().timeouts.at(app.application), 0.5);
}

TEST_F(WindowCaptureTest, FocusedWindowFrameFallsBackToTheMainWindow) {
  EXPECT_EQ(WindowCapture::focusedWindowFrame(application), std::nullopt);
  EXPECT_EQ(WindowCapture::focusedWindowFrame(RunningApplication{kPid + 1, "None", std::nullopt}), std::nullopt);
  focus(axWindow(Rect(1, 2, 30, 40)), "AXMainWindow");
  EXPECT_EQ(WindowCapture::focusedWindowFrame(application), Rect(1, 2, 30, 40));
  focus(axWindow(std::nullopt));
  EXPECT_EQ(WindowCapture::focusedWindowFrame(application), std::nullopt) << "the focused window has no frame";
}

TEST_F(WindowCaptureTest, SnapshotWalksTheWindowFocusedAfterTheScreenshot) {
  listOneWindow(std::nullopt);
  AXElement before = axWindow(Rect(0, 0, 400, 300), "Before",
                              {ax().add({{"AXRole", "AXStaticText"}, {"AXValue", "old content"}})});
  AXElement after = axWindow(Rect(0, 0, 400, 300), "After",
                             {ax().add({{"AXRole", "AXStaticText"}, {"AXValue", "new content"}})});
  focus(before);
  duringOnImage = [&] { focus(after); };  // the focus moves while the screenshot is handed on
  auto result = run();
  const CapturePayload payload = payloadOf(result);
  EXPECT_EQ(payload.windowTitle, "Before") << "the title comes from the window of the start";
  EXPECT_NE(payload.text.find("new content"), std::string::npos) << payload.text;
  EXPECT_EQ(payload.text.find("old content"), std::string::npos) << payload.text;
}

TEST_F(WindowCaptureTest, NoApplicationElementGivesTheHeaderAlone) {
  listOneWindow("Inbox");
  application.pid = kPid + 5;
  screen().windows[0].owningProcessID = kPid + 5;
  const CapturePayload payload = payloadOf(run());
  EXPECT_EQ(payload.text, "Window: \"Inbox\", App: Mail.");
  EXPECT_FALSE(payload.textTruncated);
  EXPECT_FALSE(payload.url);
}

// --- text ------------------------------------------------------------------------------

TEST_F(WindowCaptureTest, HeaderAloneWithoutLineFeedWhenTheOutlineIsEmpty) {
  listOneWindow("Inbox");
  const CapturePayload payload = payloadOf(run());  // no accessibility window: no snapshot
  EXPECT_EQ(payload.text, "Window: \"Inbox\", App: Mail.");
  EXPECT_EQ(payload.text.size(), 27u);
  EXPECT_FALSE(payload.textTruncated);
}

TEST_F(WindowCaptureTest, HeaderLineFeedThenOutline) {
  listOneWindow("Inbox");
  application.localizedName.reset();
  focus(axWindow(Rect(0, 0, 400, 300), std::nullopt,
                 {ax().add({{"AXRole", "AXButton"}, {"AXTitle", "Send"}})}));
  const CapturePayload payload = payloadOf(run());
  const std::string header = "Window: \"Inbox\", App: .";
  ASSERT_TRUE(payload.text.starts_with(header + "\n")) << payload.text;
  EXPECT_NE(payload.text.find("Send", header.size()), std::string::npos);
  EXPECT_EQ(payload.text.find("\n\n"), std::string::npos);
  EXPECT_FALSE(payload.textTruncated);
}

std::string repeated(std::string_view piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

struct LimitCase {
  const char* name;
  std::string title;
};

class TextLimit : public WindowCaptureTest, public testing::WithParamInterface<LimitCase> {};

// Short lines leave little slack below the budget, so a header miscounted by a
// few code units shows as text over it.
TEST_P(TextLimit, HeaderLineFeedAndOutlineFillTheBudgetWithoutPassingIt) {
  listOneWindow(GetParam().title);
  std::vector<AXElement> rows;
  for (int i = 0; i < 4000; ++i) rows.push_back(ax().add({{"AXRole", "AXStaticText"}, {"AXValue", "row " + std::to_string(i)}}));
  focus(axWindow(Rect(0, 0, 400, 300), std::nullopt, rows));
  const CapturePayload payload = payloadOf(run());
  EXPECT_TRUE(payload.textTruncated);
  const std::int64_t length = utf16(payload.text);
  EXPECT_LE(length, 40000);
  EXPECT_GT(length, 40000 - 40) << "the budget is used up to the last line that fits";
  const std::string header = "Window: \"" + GetParam().title + "\", App: Mail.";
  EXPECT_TRUE(payload.text.starts_with(header + "\n"));
}

INSTANTIATE_TEST_SUITE_P(Cases, TextLimit,
                         testing::Values(LimitCase{"Ascii", "Inbox"},
                                         LimitCase{"TwoByteLetters", "Ünïcödé Pöst Äbc Éèê"},
                                         LimitCase{"AstralPlane", repeated("\xF0\x9F\x93\xAC", 60)}),
                         [](const testing::TestParamInfo<LimitCase>& info) { return std::string(info.param.name); });

TEST_F(WindowCaptureTest, TextTruncatedWhenTheWalkRunsOutOfTime) {
  listOneWindow("Slow");
  fake.accessibility.elapse = [this](double seconds) { fake.runLoop.advance(seconds); };
  std::vector<AXElement> rows;
  for (int i = 0; i < 120; ++i) {
    AXElement row = ax().add({{"AXRole", "AXStaticText"}, {"AXValue", "row"}});
    ax().node(row).delay = 0.05;  // 120 rows take 6 s against a 1.2 s deadline
    rows.push_back(row);
  }
  focus(axWindow(Rect(0, 0, 400, 300), std::nullopt, rows));
  const CapturePayload payload = payloadOf(run());
  EXPECT_TRUE(payload.textTruncated);
  EXPECT_LT(utf16(payload.text), 2000) << "the outline itself was far from its budget";
}

TEST_F(WindowCaptureTest, UrlOnlyWhenTheSnapshotFoundAWebPage) {
  for (const auto& [address, expected] : std::vector<std::pair<std::string, std::optional<std::string>>>{
           {"https://mail.example/inbox", "https://mail.example/inbox"}, {"file:///tmp/page.html", std::nullopt}}) {
    listOneWindow("Inbox");
    AXElement web = ax().add({{"AXRole", "AXWebArea"}, {"AXURL", AXURL{address}}});
    focus(axWindow(Rect(0, 0, 400, 300), std::nullopt, {web}));
    const CapturePayload payload = payloadOf(run());
    EXPECT_EQ(payload.url, expected) << address;
    EXPECT_EQ(payload.message().contains("url"), expected.has_value()) << address;
  }
}

// --- the payload ---------------------------------------------------------------------

TEST_F(WindowCaptureTest, PayloadHasExactlyTheKeysAndBothWritersAgree) {
  for (bool withIcon : {false, true}) {
    fake.workspace.icons.clear();
    if (withIcon) fake.workspace.icons.emplace(kPid, solid(16, 16, 0xFFFF0000, Image::Format::premultiplied));
    listOneWindow("Inbox \"quoted\"\n");
    AXElement web = ax().add({{"AXRole", "AXWebArea"}, {"AXURL", AXURL{"https://a.example/"}}});
    focus(axWindow(Rect(0, 0, 400, 300), std::nullopt, {web}));
    const CapturePayload payload = payloadOf(run());
    const json message = payload.message();
    EXPECT_EQ(keysOf(message), (std::set<std::string>{"app", "windowTitle", "text", "textTruncated", "image", "url"}));
    EXPECT_EQ(keysOf(message["image"]), (std::set<std::string>{"mimeType", "width", "height", "base64"}));
    EXPECT_EQ(message["image"]["mimeType"], "image/png");
    EXPECT_EQ(message["app"]["name"], "Mail");
    EXPECT_EQ(message["app"]["bundleId"], "org.example.Mail");
    EXPECT_EQ(message["windowTitle"], "Inbox \"quoted\"\n");
    EXPECT_TRUE(message["textTruncated"].is_boolean());
    EXPECT_TRUE(message["image"]["width"].is_number_integer());
    if (withIcon) {
      EXPECT_EQ(keysOf(message["app"]), (std::set<std::string>{"name", "bundleId", "iconBase64"}));
    } else {
      EXPECT_EQ(keysOf(message["app"]), (std::set<std::string>{"name", "bundleId"}));
    }
    EXPECT_EQ(json::parse(payload.json()), message) << "withIcon " << withIcon;
  }
}

TEST(CapturePayloadJson, MissingOptionalsAndInvalidUtf8) {
  CapturePayload payload;
  payload.windowTitle = "bad \xFF byte";
  payload.text = "tab\tand \"quote\"";
  payload.image = {3, 2, "AAAA"};
  const json parsed = json::parse(payload.json());
  EXPECT_EQ(keysOf(parsed), (std::set<std::string>{"app", "windowTitle", "text", "textTruncated", "image"}));
  EXPECT_EQ(parsed["app"], (json{{"name", ""}, {"bundleId", ""}}));
  EXPECT_EQ(parsed["windowTitle"], "bad \xEF\xBF\xBD byte");
  EXPECT_EQ(parsed["text"], payload.text);
  EXPECT_EQ(parsed["image"], (json{{"mimeType", "image/png"}, {"width", 3}, {"height", 2}, {"base64", "AAAA"}}));
}

TEST_F(WindowCaptureTest, EmptyNameAndIdentifierWhenTheApplicationHasNone) {
  listOneWindow("Inbox");
  application = RunningApplication{kPid, std::nullopt, std::nullopt};
  const CapturePayload payload = payloadOf(run());
  EXPECT_EQ(payload.app.name, "");
  EXPECT_EQ(payload.app.bundleId, "");
  EXPECT_FALSE(payload.app.iconBase64);
  EXPECT_EQ(payload.text, "Window: \"Inbox\", App: .");
}

// --- encodings -----------------------------------------------------------------------

struct PreviewCase {
  std::int64_t width, height;
  double maxEdge;
  std::int64_t expectedWidth, expectedHeight;
};

class PreviewSize : public testing::TestWithParam<PreviewCase> {};

TEST_P(PreviewSize, JpegDataUrlShrunkByTruncationNeverEnlarged) {
  const PreviewCase& c = GetParam();
  auto url = WindowCapture::snapshotDataURL(solid(c.width, c.height, 0xFF808080), c.maxEdge);
  ASSERT_TRUE(url);
  const std::string prefix = "data:image/jpeg;base64,";
  ASSERT_EQ(url->substr(0, prefix.size()), prefix);
  auto bytes = platform::base64Decode(std::string_view(*url).substr(prefix.size()));
  ASSERT_TRUE(bytes);
  auto size = platform::jpegSize(*bytes);
  ASSERT_TRUE(size);
  EXPECT_EQ(size->first, c.expectedWidth);
  EXPECT_EQ(size->second, c.expectedHeight);
}

INSTANTIATE_TEST_SUITE_P(Cases, PreviewSize,
                         testing::Values(PreviewCase{3000, 2000, 640, 640, 426}, PreviewCase{500, 400, 640, 500, 400},
                                         PreviewCase{2000, 1, 640, 640, 1}, PreviewCase{1, 2000, 640, 1, 640},
                                         PreviewCase{2400, 1500, 640, 640, 400}, PreviewCase{640, 640, 640, 640, 640},
                                         PreviewCase{300, 200, 0, 1, 1}));

TEST(Preview, TransparentPixelsTurnWhite) {
  auto url = WindowCapture::snapshotDataURL(solid(40, 30, 0x00000000, Image::Format::premultiplied), 640);
  ASSERT_TRUE(url);
  auto bytes = platform::base64Decode(std::string_view(*url).substr(23));
  ASSERT_TRUE(bytes);
  auto jpeg = platform::decodeJPEG(*bytes);
  ASSERT_TRUE(jpeg);
  const std::uint32_t pixel = jpeg->pixel(20, 15);
  for (int shift : {0, 8, 16}) EXPECT_GE((pixel >> shift) & 0xFF, 0xF0u) << std::hex << pixel;
}

TEST_F(WindowCaptureTest, IconIsA64By64PngOfWhateverSizeTheApplicationHas) {
  EXPECT_FALSE(WindowCapture::iconBase64(application));
  for (auto [width, height] : {std::pair{16, 16}, std::pair{256, 128}, std::pair{64, 64}}) {
    fake.workspace.icons.insert_or_assign(kPid, solid(width, height, 0xFF00FF00, Image::Format::premultiplied));
    auto icon = WindowCapture::iconBase64(application);
    ASSERT_TRUE(icon) << width;
    auto png = decodeBase64PNG(*icon);
    ASSERT_TRUE(png) << width;
    EXPECT_EQ(png->width(), 64);
    EXPECT_EQ(png->height(), 64);
    EXPECT_EQ(png->pixel(32, 32), 0xFF00FF00u) << width;
  }
  listOneWindow();
  const CapturePayload payload = payloadOf(run());
  ASSERT_TRUE(payload.app.iconBase64);
  auto png = decodeBase64PNG(*payload.app.iconBase64);
  ASSERT_TRUE(png);
  EXPECT_EQ(png->width(), 64);
}

}  // namespace
}  // namespace zoba
