// Test windows drawn by the X server itself, for the X11 backend's tests.
#pragma once

#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace zoba::platform {

inline bool hasDisplay() {
  const char* display = std::getenv("DISPLAY");
  return display && *display;
}

// A plain X window of one colour, owned by this process, as a window manager sees it.
class ColourWindow {
 public:
  ColourWindow(std::uint32_t rgb, int x, int y, int width, int height, const std::string& title) {
    c_ = xcb_connect(nullptr, nullptr);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    window_ = xcb_generate_id(c_);
    const std::uint32_t values[] = {rgb};
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, window_, screen->root, static_cast<std::int16_t>(x),
                      static_cast<std::int16_t>(y), static_cast<std::uint16_t>(width),
                      static_cast<std::uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, XCB_CW_BACK_PIXEL, values);
    const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1,
                        &pid);
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8,
                        static_cast<std::uint32_t>(title.size()), title.data());
    // Ask the window manager to keep the requested position.
    const std::uint32_t hints[18] = {1 | 4 | 8, std::uint32_t(x), std::uint32_t(y), std::uint32_t(width),
                                     std::uint32_t(height)};
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS,
                        32, 18, hints);
    xcb_map_window(c_, window_);
    xcb_flush(c_);
  }
  ~ColourWindow() { xcb_disconnect(c_); }
  ColourWindow(const ColourWindow&) = delete;
  ColourWindow& operator=(const ColourWindow&) = delete;

  xcb_window_t id() const { return window_; }
  // Asks the window manager to activate the window, and gives it the input
  // focus for those that do not take such requests.
  void focus() {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window_;
    message.type = atom("_NET_ACTIVE_WINDOW");
    message.data.data32[0] = 2;  // from a pager: obeyed without question
    message.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c_, 0, screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&message));
    xcb_set_input_focus(c_, XCB_INPUT_FOCUS_POINTER_ROOT, window_, XCB_CURRENT_TIME);
    xcb_flush(c_);
  }
  // The shadow a GTK window with client-side decorations declares around its content.
  void setFrameExtents(std::uint32_t left, std::uint32_t right, std::uint32_t top, std::uint32_t bottom) {
    const std::uint32_t extents[] = {left, right, top, bottom};
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, atom("_GTK_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 32,
                        4, extents);
    xcb_flush(c_);
  }
  void raise() {
    const std::uint32_t above[] = {XCB_STACK_MODE_ABOVE};
    xcb_configure_window(c_, window_, XCB_CONFIG_WINDOW_STACK_MODE, above);
    xcb_flush(c_);
  }

 private:
  xcb_atom_t atom(const char* name) {
    auto* reply =
        xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, std::uint16_t(std::strlen(name)), name), nullptr);
    xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
  }
  xcb_connection_t* c_;
  xcb_window_t window_;
};

}  // namespace zoba::platform
