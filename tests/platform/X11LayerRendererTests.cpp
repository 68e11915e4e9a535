// The layer renderer on a real X server, read back from the root window. Skipped
// without DISPLAY.
#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "Platform/Layers.h"
#include "Platform/linux/x11/XConnection.h"
#include "Platform/linux/x11/presenter/X11LayerRenderer.h"

namespace zoba::platform {
namespace {

using namespace std::chrono_literals;
using linux_backend::XcbConnectionPtr;
using linux_backend::XReply;

bool hasDisplay() {
  const char* display = std::getenv("DISPLAY");
  return display && *display;
}

double monotonic() { return static_cast<double>(g_get_monotonic_time()) / 1e6; }

// Polls `condition` until it holds or `limit` passes.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 3s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

struct Rgb {
  int r, g, b;
};
Rgb rgbOf(std::uint32_t word) { return {int(word >> 16 & 0xFF), int(word >> 8 & 0xFF), int(word & 0xFF)}; }
bool near(std::uint32_t word, Rgb expected, int tolerance = 2) {
  const Rgb got = rgbOf(word);
  return std::abs(got.r - expected.r) <= tolerance && std::abs(got.g - expected.g) <= tolerance &&
         std::abs(got.b - expected.b) <= tolerance;
}

// A test's own connection: screen pixels, our windows, fake input.
class Desktop {
 public:
  Desktop() : c_(xcb_connect(nullptr, nullptr)) {
    screen_ = xcb_setup_roots_iterator(xcb_get_setup(c_.get())).data;
  }
  xcb_connection_t* get() const { return c_.get(); }
  xcb_window_t root() const { return screen_->root; }
  int height() const { return screen_->height_in_pixels; }

  std::uint32_t pixel(int x, int y) const {
    auto reply = linux_backend::xcbReply(xcb_get_image_reply, c_.get(),
                                         xcb_get_image(c_.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, root(),
                                                       std::int16_t(x), std::int16_t(y), 1, 1, ~0u));
    if (!reply || xcb_get_image_data_length(reply.get()) < 4) return 0;
    std::uint32_t word;
    std::memcpy(&word, xcb_get_image_data(reply.get()), 4);
    return word;
  }
  bool waitForPixel(int x, int y, Rgb expected, int tolerance = 2) const {
    return waitUntil([&] { return near(pixel(x, y), expected, tolerance); });
  }

  xcb_atom_t atom(const char* name) const {
    auto reply =
        linux_backend::xcbReply(xcb_intern_atom_reply, c_.get(),
                                xcb_intern_atom(c_.get(), 0, std::uint16_t(std::strlen(name)), name));
    return reply ? reply->atom : xcb_atom_t(XCB_NONE);
  }

  // Our mapped override-redirect windows: the panels on screen.
  int mappedPanels() const {
    auto tree = linux_backend::xcbReply(xcb_query_tree_reply, c_.get(), xcb_query_tree(c_.get(), root()));
    if (!tree) return -1;
    int count = 0;
    const auto* children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
      auto attributes = linux_backend::xcbReply(xcb_get_window_attributes_reply, c_.get(),
                                                xcb_get_window_attributes(c_.get(), children[i]));
      if (!attributes || !attributes->override_redirect || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
        continue;
      auto pid =
          linux_backend::windowPropertyValue(c_.get(), children[i], atom("_NET_WM_PID"), XCB_ATOM_CARDINAL);
      if (pid && *pid == std::uint32_t(getpid())) ++count;
    }
    return count;
  }

  std::optional<std::uint32_t> activeWindow() const {
    return linux_backend::windowPropertyValue(c_.get(), root(), atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
  }

  // An unmanaged window of one colour at a root position.
  xcb_window_t colourWindow(std::uint32_t rgb, int x, int y, int width, int height) {
    const xcb_window_t window = xcb_generate_id(c_.get());
    const std::uint32_t values[] = {rgb, 1};
    xcb_create_window(c_.get(), XCB_COPY_FROM_PARENT, window, root(), std::int16_t(x), std::int16_t(y),
                      std::uint16_t(width), std::uint16_t(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen_->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(c_.get(), window);
    xcb_flush(c_.get());
    return window;
  }

  void click(int x, int y) {
    xcb_test_fake_input(c_.get(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root(), std::int16_t(x),
                        std::int16_t(y), 0);
    xcb_test_fake_input(c_.get(), XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, root(), 0, 0, 0);
    xcb_test_fake_input(c_.get(), XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, root(), 0, 0, 0);
    xcb_flush(c_.get());
  }

 private:
  XcbConnectionPtr c_;
  const xcb_screen_t* screen_;
};

// Bottom-left space for a root rectangle, with the primary monitor `height` tall.
Rect bottomLeft(int x, int y, int width, int height, int primaryHeight) {
  return Rect(x, primaryHeight - (y + height), width, height);
}

Image solidImage(std::uint32_t word, int width, int height) {
  return Image::fromWords(width, height, Image::Format::opaque,
                          std::vector<std::uint32_t>(std::size_t(width) * height, word));
}

class X11LayerRendererTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!hasDisplay()) GTEST_SKIP() << "no X display";
    desktop_.emplace();
    layers_.emplace(std::make_unique<linux_backend::X11LayerRenderer>(), monotonic);
  }
  void TearDown() override {
    layers_.reset();
    if (desktop_) {
      // The renderer destroys its windows before its thread ends.
      EXPECT_EQ(desktop_->mappedPanels(), 0);
    }
  }

  // A shown panel over a root rectangle.
  std::shared_ptr<Panel> showPanel(int x, int y, int width, int height,
                                   const std::function<void(Layer& root)>& build) {
    Layers::Transaction transaction(*layers_);
    auto panel = layers_->makePanel(bottomLeft(x, y, width, height, desktop_->height()));
    build(*panel->rootLayer());
    panel->orderFrontRegardless();
    return panel;
  }

  std::optional<Desktop> desktop_;
  std::optional<Layers> layers_;
};

TEST_F(X11LayerRendererTest, ShutterBlendsWhiteOverWhatIsBeneath) {
  desktop_->colourWindow(0x2050A0, 100, 100, 400, 300);
  ASSERT_TRUE(desktop_->waitForPixel(300, 250, {0x20, 0x50, 0xA0}, 0));
  auto panel = showPanel(100, 100, 400, 300, [&](Layer& root) {
    auto shutter = layers_->makeLayer();
    shutter->setFrame(Rect(0, 0, 400, 300));
    shutter->setBackgroundColor(Color{1, 1, 1, 1});
    shutter->setOpacity(0.85);
    root.addSublayer(shutter);
  });
  const auto blend = [](int c) { return int(std::lround(255 * 0.85 + c * 0.15)); };
  const Rgb expected{blend(0x20), blend(0x50), blend(0xA0)};
  for (auto [x, y] : {std::pair{101, 101}, {300, 250}, {499, 399}}) {
    EXPECT_TRUE(desktop_->waitForPixel(x, y, expected))
        << x << "," << y << " " << std::hex << desktop_->pixel(x, y);
  }
  // Outside the panel the desktop stays as it is.
  EXPECT_TRUE(near(desktop_->pixel(99, 250), {0, 0, 0}, 255));
}

// The next capture's panel reuses the last one's memory: it must still blend over
// the screen as it is now, not as it was under the panel before.
TEST_F(X11LayerRendererTest, TheNextPanelOfTheSameSizeBlendsOverTheScreenAsItIsNow) {
  const auto blend = [](int c) { return int(std::lround(255 * 0.85 + c * 0.15)); };
  const auto shutterOver = [&] {
    return showPanel(100, 100, 400, 300, [&](Layer& root) {
      auto shutter = layers_->makeLayer();
      shutter->setFrame(Rect(0, 0, 400, 300));
      shutter->setBackgroundColor(Color{1, 1, 1, 1});
      shutter->setOpacity(0.85);
      root.addSublayer(shutter);
    });
  };
  for (std::uint32_t colour : {0x2050A0u, 0x40A010u, 0xC02010u}) {
    desktop_->colourWindow(colour, 100, 100, 400, 300);
    const int r = int(colour >> 16), g = int(colour >> 8 & 0xFF), b = int(colour & 0xFF);
    ASSERT_TRUE(desktop_->waitForPixel(300, 250, {r, g, b}, 0));
    auto panel = shutterOver();
    for (auto [x, y] : {std::pair{101, 101}, {300, 250}, {499, 399}}) {
      EXPECT_TRUE(desktop_->waitForPixel(x, y, {blend(r), blend(g), blend(b)}))
          << std::hex << colour << " at " << std::dec << x << "," << y << " " << std::hex
          << desktop_->pixel(x, y);
    }
    panel->orderOut();
    ASSERT_TRUE(waitUntil([&] { return desktop_->mappedPanels() == 0; }));
  }
}

// A shutter that grows over more of the window and changes its opacity blends
// over the desktop everywhere: never over its own earlier pixels, never black.
TEST_F(X11LayerRendererTest, AShutterGrowingLaterBlendsOverTheDesktopEverywhere) {
  desktop_->colourWindow(0xA03060, 100, 100, 400, 300);
  ASSERT_TRUE(desktop_->waitForPixel(300, 350, {0xA0, 0x30, 0x60}, 0));
  std::shared_ptr<Layer> shutter;
  auto panel = showPanel(100, 100, 400, 300, [&](Layer& root) {
    shutter = layers_->makeLayer();
    shutter->setFrame(Rect(0, 200, 400, 100));  // bottom-left space: the top 100 rows
    shutter->setBackgroundColor(Color{1, 1, 1, 1});
    shutter->setOpacity(0.85);
    root.addSublayer(shutter);
  });
  const auto blend = [](double opacity) {
    return [opacity](int c) { return int(std::lround(255 * opacity + c * (1 - opacity))); };
  };
  const auto strong = blend(0.85), half = blend(0.5);
  ASSERT_TRUE(desktop_->waitForPixel(300, 150, {strong(0xA0), strong(0x30), strong(0x60)}));
  {
    Layers::Transaction transaction(*layers_);
    shutter->setFrame(Rect(0, 0, 400, 300));
    shutter->setOpacity(0.5);
  }
  const Rgb expected{half(0xA0), half(0x30), half(0x60)};
  for (auto [x, y] : {std::pair{300, 150}, {300, 350}, {499, 399}}) {
    EXPECT_TRUE(desktop_->waitForPixel(x, y, expected))
        << x << "," << y << " " << std::hex << desktop_->pixel(x, y);
  }
}

TEST_F(X11LayerRendererTest, RoundedCardShowsItsImageInsideAndTheDesktopAtItsCorner) {
  desktop_->colourWindow(0x10C020, 600, 200, 300, 200);
  ASSERT_TRUE(desktop_->waitForPixel(750, 300, {0x10, 0xC0, 0x20}, 0));
  auto panel = showPanel(600, 200, 300, 200, [&](Layer& root) {
    auto card = layers_->makeLayer();
    card->setFrame(Rect(50, 40, 200, 120));  // root pixels x 650..850, y 240..360
    card->setCornerRadius(10);
    card->setMasksToBounds(true);
    card->setContents(solidImage(0xFFC03030, 64, 64));
    root.addSublayer(card);
  });
  const Rgb red{0xC0, 0x30, 0x30}, green{0x10, 0xC0, 0x20};
  EXPECT_TRUE(desktop_->waitForPixel(750, 300, red));
  struct Case {
    int x, y;
    Rgb expected;
  };
  for (const auto& [x, y, expected] :
       {Case{650, 240, green}, Case{849, 240, green}, Case{650, 359, green}, Case{849, 359, green},
        Case{651, 300, red}, Case{750, 241, red}, Case{649, 300, green}}) {
    EXPECT_TRUE(near(desktop_->pixel(x, y), expected))
        << x << "," << y << " " << std::hex << desktop_->pixel(x, y);
  }
}

// The button window's process: its window id, then a line per click.
class ButtonWindow {
 public:
  ButtonWindow(int x, int y, int width, int height) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      const std::string script = std::string(ZOBA_TEST_SOURCE_DIR) + "/button_window.py";
      execl("/usr/bin/python3", "python3", script.c_str(), std::to_string(width).c_str(),
            std::to_string(height).c_str(), std::to_string(x).c_str(), std::to_string(y).c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    fd_ = out[0];
    if (auto line = readLine(10s)) id_ = static_cast<xcb_window_t>(std::stoul(*line));
  }
  ~ButtonWindow() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) close(fd_);
  }
  ButtonWindow(const ButtonWindow&) = delete;
  ButtonWindow& operator=(const ButtonWindow&) = delete;

  xcb_window_t id() const { return id_; }
  std::optional<std::string> readLine(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string line;
    while (true) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd fd{fd_, POLLIN, 0};
      if (poll(&fd, 1, int(left.count())) <= 0) return std::nullopt;
      char ch;
      if (read(fd_, &ch, 1) != 1) return std::nullopt;
      if (ch == '\n') return line;
      line.push_back(ch);
    }
  }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  xcb_window_t id_ = 0;
};

TEST_F(X11LayerRendererTest, ClicksPassThroughAShownPanel) {
  ButtonWindow button(300, 300, 240, 160);
  ASSERT_NE(button.id(), 0u) << "GTK window did not start";
  auto placed = linux_backend::xcbReply(
      xcb_translate_coordinates_reply, desktop_->get(),
      xcb_translate_coordinates(desktop_->get(), button.id(), desktop_->root(), 0, 0));
  ASSERT_TRUE(placed);
  const int x = placed->dst_x, y = placed->dst_y;
  auto panel = showPanel(x - 50, y - 50, 340, 260, [&](Layer& root) {
    auto shutter = layers_->makeLayer();
    shutter->setFrame(Rect(0, 0, 340, 260));
    shutter->setBackgroundColor(Color{1, 1, 1, 1});
    root.addSublayer(shutter);
  });
  ASSERT_TRUE(desktop_->waitForPixel(x + 120, y + 80, {255, 255, 255}, 0));
  ASSERT_EQ(desktop_->mappedPanels(), 1);
  desktop_->click(x + 120, y + 80);
  EXPECT_EQ(button.readLine(3s), "clicked");
}

TEST_F(X11LayerRendererTest, ShowingPanelsActivatesNothing) {
  const auto before = desktop_->activeWindow();
  auto panel = showPanel(0, 0, 800, 600, [&](Layer& root) { root.setBackgroundColor(Color{0, 0, 0, 0.5}); });
  ASSERT_TRUE(waitUntil([&] { return desktop_->mappedPanels() == 1; }));
  auto second = showPanel(900, 100, 200, 200, [&](Layer& root) {
    root.setBackgroundColor(Color{1, 0, 0, 1});
  });
  ASSERT_TRUE(desktop_->waitForPixel(1000, 200, {255, 0, 0}, 0));
  EXPECT_EQ(desktop_->activeWindow(), before);
}

// Two RandR monitors on the one screen for the test's length.
class SplitMonitors {
 public:
  SplitMonitors() {
    ok_ = std::system("xrandr --setmonitor zoba-left 960/250x1080/280+0+0 none >/dev/null 2>&1") == 0 &&
          std::system("xrandr --setmonitor zoba-right 960/250x540/140+960+540 none >/dev/null 2>&1") == 0;
  }
  ~SplitMonitors() {
    [[maybe_unused]] int left = std::system("xrandr --delmonitor zoba-left >/dev/null 2>&1");
    [[maybe_unused]] int right = std::system("xrandr --delmonitor zoba-right >/dev/null 2>&1");
  }
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

struct Monitor {
  int x, y, width, height;
  bool primary;
};

std::vector<Monitor> monitors(const Desktop& desktop) {
  auto reply = linux_backend::xcbReply(xcb_randr_get_monitors_reply, desktop.get(),
                                       xcb_randr_get_monitors(desktop.get(), desktop.root(), 1));
  std::vector<Monitor> out;
  if (!reply) return out;
  for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
       xcb_randr_monitor_info_next(&it)) {
    out.push_back({it.data->x, it.data->y, it.data->width, it.data->height, it.data->primary != 0});
  }
  return out;
}

TEST_F(X11LayerRendererTest, OnePanelPerMonitorShowsAtThatMonitor) {
  SplitMonitors split;
  if (!split.ok()) GTEST_SKIP() << "xrandr --setmonitor failed";
  auto all = monitors(*desktop_);
  ASSERT_GE(all.size(), 2u);
  // Bottom-left space hangs from the primary monitor, or the first one listed.
  int primaryHeight = all.front().height;
  for (const auto& monitor : all) {
    if (monitor.primary) primaryHeight = monitor.height;
  }
  const std::uint32_t colours[] = {0xE0, 0xE000, 0xE00000, 0xE0E000};
  std::vector<std::shared_ptr<Panel>> panels;
  {
    Layers::Transaction transaction(*layers_);
    for (std::size_t i = 0; i < all.size() && i < 4; ++i) {
      const auto& m = all[i];
      auto panel = layers_->makePanel(Rect(m.x, primaryHeight - (m.y + m.height), m.width, m.height));
      const std::uint32_t c = colours[i];
      auto badge = layers_->makeLayer();
      badge->setFrame(Rect(m.width / 2.0 - 20, m.height / 2.0 - 20, 40, 40));
      badge->setBackgroundColor(
          Color{(c >> 16 & 0xFF) / 255.0, (c >> 8 & 0xFF) / 255.0, (c & 0xFF) / 255.0, 1});
      panel->rootLayer()->addSublayer(badge);
      panel->orderFrontRegardless();
      panels.push_back(panel);
    }
  }
  int checked = 0;
  for (std::size_t i = 0; i < panels.size(); ++i) {
    const auto& m = all[i];
    if (m.width != 960) continue;  // the screen's own monitor, beneath the two halves
    ++checked;
    const Rgb expected = rgbOf(colours[i]);
    EXPECT_TRUE(desktop_->waitForPixel(m.x + m.width / 2, m.y + m.height / 2, expected, 0))
        << "monitor " << i << " at " << m.x << "," << m.y << " " << std::hex
        << desktop_->pixel(m.x + m.width / 2, m.y + m.height / 2);
  }
  EXPECT_EQ(checked, 2);
}

TEST_F(X11LayerRendererTest, OrderedOutAndReleasedPanelsLeaveNoWindowMapped) {
  auto panel = showPanel(200, 200, 300, 300, [&](Layer& root) {
    root.setBackgroundColor(Color{0, 0, 1, 1});
  });
  ASSERT_TRUE(waitUntil([&] { return desktop_->mappedPanels() == 1; }));
  panel->orderOut();
  EXPECT_TRUE(waitUntil([&] { return desktop_->mappedPanels() == 0; }));
  panel->orderFrontRegardless();
  ASSERT_TRUE(waitUntil([&] { return desktop_->mappedPanels() == 1; }));
  panel.reset();
  EXPECT_TRUE(waitUntil([&] { return desktop_->mappedPanels() == 0; }));
}

}  // namespace
}  // namespace zoba::platform
