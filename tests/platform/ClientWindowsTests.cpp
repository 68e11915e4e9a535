// How the window list finds managed windows when a window manager publishes
// less than EWMH's stacking list: frames and clients made by the test itself, on
// a real X server. Skipped without DISPLAY.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "Platform/linux/handles/XcbPtr.h"
#include "Platform/linux/x11/ClientWindows.h"
#include "tests/platform/ColourWindow.h"

namespace zoba::platform::linux_backend {
namespace {

class ClientWindowsTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!hasDisplay()) GTEST_SKIP() << "no X display";
    c_.reset(xcb_connect(nullptr, nullptr));
    ASSERT_EQ(xcb_connection_has_error(c_.get()), 0);
    root_ = xcb_setup_roots_iterator(xcb_get_setup(c_.get())).data->root;
    wmState_ = atom("WM_STATE");
    list_ = atom("_ZOBA_TEST_CLIENT_LIST");
    unset_ = atom("_ZOBA_TEST_UNSET");
  }
  void TearDown() override {
    if (c_) xcb_delete_property(c_.get(), root_, list_);
  }

  xcb_atom_t atom(const char* name) {
    auto reply = xcbReply(xcb_intern_atom_reply, c_.get(),
                          xcb_intern_atom(c_.get(), 0, static_cast<std::uint16_t>(std::strlen(name)), name));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
  }

  // An override-redirect window (the window manager leaves it alone) standing
  // for a frame, or a child window inside `parent`.
  xcb_window_t window(xcb_window_t parent) {
    const xcb_window_t id = xcb_generate_id(c_.get());
    const std::uint32_t values[] = {parent == root_ ? 1u : 0u};
    xcb_create_window(c_.get(), XCB_COPY_FROM_PARENT, id, parent, 0, 0, 50, 50, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(c_.get(), id);
    return id;
  }
  // A frame holding a client two levels down (frame, wrapper, client), as
  // reparenting window managers nest them.
  std::pair<xcb_window_t, xcb_window_t> frameWithClient() {
    const xcb_window_t frame = window(root_);
    const xcb_window_t client = window(window(frame));
    const std::uint32_t normal[] = {1, 0};  // NormalState, no icon window
    xcb_change_property(c_.get(), XCB_PROP_MODE_REPLACE, client, wmState_, wmState_, 32, 2, normal);
    return {frame, client};
  }
  void raise(xcb_window_t frame) {
    const std::uint32_t above[] = {XCB_STACK_MODE_ABOVE};
    xcb_configure_window(c_.get(), frame, XCB_CONFIG_WINDOW_STACK_MODE, above);
  }
  std::vector<xcb_window_t> topLevels() {
    auto tree = xcbReply(xcb_query_tree_reply, c_.get(), xcb_query_tree(c_.get(), root_));
    if (!tree) return {};
    const auto* children = xcb_query_tree_children(tree.get());
    return {children, children + xcb_query_tree_children_length(tree.get())};
  }
  // Whether `upper` comes before `lower` in a topmost-first list holding both.
  static bool before(const std::vector<xcb_window_t>& list, xcb_window_t upper, xcb_window_t lower) {
    auto a = std::find(list.begin(), list.end(), upper), b = std::find(list.begin(), list.end(), lower);
    return a != list.end() && b != list.end() && a < b;
  }

  XcbConnectionPtr c_;
  xcb_window_t root_ = XCB_WINDOW_NONE;
  xcb_atom_t wmState_ = XCB_ATOM_NONE, list_ = XCB_ATOM_NONE, unset_ = XCB_ATOM_NONE;
};

TEST_F(ClientWindowsTest, OrdersClientsByTheirFramesStackingWithoutAStackingList) {
  auto [frameA, clientA] = frameWithClient();
  auto [frameB, clientB] = frameWithClient();
  const xcb_window_t listed[] = {clientA, clientB};
  xcb_change_property(c_.get(), XCB_PROP_MODE_REPLACE, root_, list_, XCB_ATOM_WINDOW, 32, 2, listed);

  struct Way {
    const char* name;
    ClientAtoms atoms;
  };
  for (const Way& way :
       {Way{"client list", {unset_, list_, wmState_}}, Way{"ICCCM", {unset_, unset_, wmState_}}}) {
    SCOPED_TRACE(way.name);
    raise(frameA);
    auto clients = clientWindows(c_.get(), root_, way.atoms, topLevels());
    EXPECT_TRUE(clients.managed);
    EXPECT_TRUE(before(clients.topmostFirst, clientA, clientB));
    raise(frameB);
    clients = clientWindows(c_.get(), root_, way.atoms, topLevels());
    EXPECT_TRUE(before(clients.topmostFirst, clientB, clientA));
    // Frames are not clients.
    EXPECT_EQ(std::count(clients.topmostFirst.begin(), clients.topmostFirst.end(), frameA), 0);
  }
}

TEST_F(ClientWindowsTest, NothingIsManagedWithoutAnyWayOfTelling) {
  frameWithClient();
  auto clients = clientWindows(c_.get(), root_, {unset_, unset_, unset_}, topLevels());
  EXPECT_FALSE(clients.managed);
  EXPECT_TRUE(clients.topmostFirst.empty());
}

TEST_F(ClientWindowsTest, TheClientOfAWindowIsFoundAboveOrBelowIt) {
  auto [frame, client] = frameWithClient();
  const xcb_window_t inside = window(client);  // a toolkit's child window, holding the focus
  const xcb_window_t bare = window(root_);     // an unmanaged top-level
  EXPECT_EQ(clientOf(c_.get(), root_, wmState_, frame), client);
  EXPECT_EQ(clientOf(c_.get(), root_, wmState_, client), client);
  EXPECT_EQ(clientOf(c_.get(), root_, wmState_, inside), client);
  EXPECT_EQ(clientOf(c_.get(), root_, wmState_, bare), bare);
  EXPECT_EQ(clientOf(c_.get(), root_, wmState_, root_), std::nullopt);
}

}  // namespace
}  // namespace zoba::platform::linux_backend
