#include "tests/support/Keyboard.h"

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cstdlib>
#include <map>
#include <string>

namespace zoba::testing {

namespace {
struct Free {
  void operator()(void* memory) const { std::free(memory); }
};
template <class T>
using Reply = std::unique_ptr<T, Free>;

// The few keysyms the tests press (X11/keysymdef.h).
const std::map<std::string, std::uint32_t, std::less<>> keysyms = {
    {"Shift_L", 0xffe1}, {"Shift_R", 0xffe2}, {"Control_L", 0xffe3}, {"Control_R", 0xffe4},
    {"Alt_L", 0xffe9},   {"Alt_R", 0xffea},   {"Super_L", 0xffeb},   {"Super_R", 0xffec},
    {"a", 0x61},         {"Tab", 0xff09},     {"Down", 0xff54},
};
}  // namespace

struct Keyboard::State {
  xcb_connection_t* connection = nullptr;
  xcb_window_t root = 0;
  std::map<std::uint32_t, xcb_keycode_t> keycodes;  // keysym → the first key that has it

  ~State() {
    if (connection) xcb_disconnect(connection);
  }
};

Keyboard::Keyboard() : state_(std::make_unique<State>()) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return;
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  state_->connection = connection;
  if (xcb_connection_has_error(connection)) return;
  const auto* extension = xcb_get_extension_data(connection, &xcb_test_id);
  if (!extension || !extension->present) return;
  const xcb_setup_t* setup = xcb_get_setup(connection);
  state_->root = xcb_setup_roots_iterator(setup).data->root;
  const int count = setup->max_keycode - setup->min_keycode + 1;
  Reply<xcb_get_keyboard_mapping_reply_t> mapping(xcb_get_keyboard_mapping_reply(
      connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, static_cast<std::uint8_t>(count)),
      nullptr));
  if (!mapping) return;
  const auto* symbols = xcb_get_keyboard_mapping_keysyms(mapping.get());
  const int perKey = mapping->keysyms_per_keycode;
  for (int index = count - 1; index >= 0; --index) {
    for (int level = perKey - 1; level >= 0; --level) {
      state_->keycodes[symbols[index * perKey + level]] =
          static_cast<xcb_keycode_t>(setup->min_keycode + index);
    }
  }
}

Keyboard::~Keyboard() = default;

bool Keyboard::connected() const {
  return state_->connection && !xcb_connection_has_error(state_->connection) && !state_->keycodes.empty();
}

bool Keyboard::press(std::string_view keysymName) { return send(keysymName, true); }
bool Keyboard::release(std::string_view keysymName) { return send(keysymName, false); }

bool Keyboard::pressChord(const std::function<void()>& beforeSecond, const std::function<void()>& whileHeld) {
  if (!press("Shift_L")) return false;
  if (beforeSecond) beforeSecond();
  const bool second = press("Shift_R");
  if (second && whileHeld) whileHeld();
  // Released whatever happened, so that no key stays down for the next test.
  const bool released = (!second || release("Shift_R")) && release("Shift_L");
  return second && released;
}

bool Keyboard::click(int x, int y) {
  if (!connected()) return false;
  xcb_connection_t* c = state_->connection;
  xcb_test_fake_input(c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, state_->root, static_cast<std::int16_t>(x),
                      static_cast<std::int16_t>(y), 0);
  xcb_test_fake_input(c, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, state_->root, 0, 0, 0);
  xcb_test_fake_input(c, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, state_->root, 0, 0, 0);
  Reply<xcb_get_input_focus_reply_t> focus(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  return focus != nullptr;
}

bool Keyboard::send(std::string_view keysymName, bool down) {
  if (!connected()) return false;
  auto symbol = keysyms.find(keysymName);
  if (symbol == keysyms.end()) return false;
  auto keycode = state_->keycodes.find(symbol->second);
  if (keycode == state_->keycodes.end()) return false;
  xcb_connection_t* c = state_->connection;
  xcb_test_fake_input(c, down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycode->second, XCB_CURRENT_TIME,
                      state_->root, 0, 0, 0);
  // A round trip: the server has handled the fake input when the reply comes.
  Reply<xcb_get_input_focus_reply_t> focus(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  return focus != nullptr;
}

}  // namespace zoba::testing
