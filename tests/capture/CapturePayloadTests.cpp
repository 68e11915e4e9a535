// The window capture on the in-memory platform: what it walks, the text it makes
// within its budget, the payload, and the small encodings.
#include "tests/capture/WindowCaptureFixture.h"

namespace zoba {
namespace {

using namespace capture_testing;

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
  EXPECT_EQ(WindowCapture::focusedWindowFrame(RunningApplication{kPid + 1, "None", std::nullopt}),
            std::nullopt);
  focus(axWindow(Rect(1, 2, 30, 40)), "AXMainWindow");
  EXPECT_EQ(WindowCapture::focusedWindowFrame(application), Rect(1, 2, 30, 40));
  focus(axWindow(std::nullopt));
  EXPECT_EQ(WindowCapture::focusedWindowFrame(application), std::nullopt)
      << "the focused window has no frame";
}

// On Wayland the accessibility frame is relative to the window: the window system's
// frame picks the window, and the outline still comes from the accessibility tree.
TEST_F(WindowCaptureTest, WindowSystemFrameDecidesWhereItIsKnown) {
  screen().windows = {FakeScreenCapture::window(7, kPid, Rect(0, 0, 400, 300), "At the origin"),
                      FakeScreenCapture::window(8, kPid, Rect(200, 150, 400, 300), "Moved")};
  focus(axWindow(Rect(0, 0, 400, 300), "Moved",
                 {ax().add({{"AXRole", "AXStaticText"}, {"AXValue", "label"}})}));
  EXPECT_EQ(WindowCapture::focusedWindowFrame(application), Rect(0, 0, 400, 300));
  EXPECT_EQ(payloadOf(run()).windowTitle, "At the origin") << "without it, the accessibility frame decides";

  fake.workspace.windowFrame = std::pair{kPid, Rect(200, 150, 400, 300)};
  EXPECT_EQ(WindowCapture::focusedWindowFrame(application), Rect(200, 150, 400, 300));
  const CapturePayload payload = payloadOf(run());
  EXPECT_EQ(payload.windowTitle, "Moved");
  EXPECT_NE(payload.text.find("label"), std::string::npos) << payload.text;
  // Another application's focused window says nothing about this one's.
  fake.workspace.windowFrame = std::pair{kPid + 1, Rect(200, 150, 400, 300)};
  EXPECT_EQ(WindowCapture::focusedWindowFrame(application), Rect(0, 0, 400, 300));
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

TEST_F(WindowCaptureTest, NoApplicationElementGivesTheHeaderAndTheNoAccessibilityLine) {
  listOneWindow("Inbox");
  application.pid = kPid + 5;
  screen().windows[0].owningProcessID = kPid + 5;
  const CapturePayload payload = payloadOf(run());
  EXPECT_EQ(payload.text,
            "Window: \"Inbox\", App: Mail.\nThe application exposes no accessibility information.");
  EXPECT_FALSE(payload.textTruncated);
  EXPECT_FALSE(payload.url);
}

// --- text ------------------------------------------------------------------------------

TEST_F(WindowCaptureTest, NoAccessibilityWindowGivesTheHeaderAndTheNoAccessibilityLine) {
  listOneWindow("Inbox");
  const CapturePayload payload = payloadOf(run());  // no accessibility window: no snapshot
  EXPECT_EQ(payload.text,
            "Window: \"Inbox\", App: Mail.\nThe application exposes no accessibility information.");
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
  for (int i = 0; i < 4000; ++i)
    rows.push_back(ax().add({{"AXRole", "AXStaticText"}, {"AXValue", "row " + std::to_string(i)}}));
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
                         [](const testing::TestParamInfo<LimitCase>& info) {
                           return std::string(info.param.name);
                         });

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
           {"https://mail.example/inbox", "https://mail.example/inbox"},
           {"file:///tmp/page.html", std::nullopt}}) {
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
    EXPECT_EQ(keysOf(message),
              (std::set<std::string>{"app", "windowTitle", "text", "textTruncated", "image", "url"}));
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
  EXPECT_EQ(parsed["image"],
            (json{{"mimeType", "image/png"}, {"width", 3}, {"height", 2}, {"base64", "AAAA"}}));
}

TEST_F(WindowCaptureTest, EmptyNameAndIdentifierWhenTheApplicationHasNone) {
  listOneWindow("Inbox");
  application = RunningApplication{kPid, std::nullopt, std::nullopt};
  const CapturePayload payload = payloadOf(run());
  EXPECT_EQ(payload.app.name, "");
  EXPECT_EQ(payload.app.bundleId, "");
  EXPECT_FALSE(payload.app.iconBase64);
  EXPECT_EQ(payload.text, "Window: \"Inbox\", App: .\n" + std::string(WindowCapture::noAccessibilityLine));
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
                         testing::Values(PreviewCase{3000, 2000, 640, 640, 426},
                                         PreviewCase{500, 400, 640, 500, 400},
                                         PreviewCase{2000, 1, 640, 640, 1}, PreviewCase{1, 2000, 640, 1, 640},
                                         PreviewCase{2400, 1500, 640, 640, 400},
                                         PreviewCase{640, 640, 640, 640, 640},
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
    fake.workspace.icons.insert_or_assign(kPid,
                                          solid(width, height, 0xFF00FF00, Image::Format::premultiplied));
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
