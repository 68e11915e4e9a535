// Global modifier-flag changes from XInput2 raw key events on the root window.
// Raw events reach us whatever window has the focus, without grabbing anything.

#include <xcb/xinput.h>

#include <vector>

#include "Platform/linux/Backends.h"
#include "Platform/linux/x11/ModifierState.h"
#include "Platform/linux/x11/XConnection.h"

namespace zoba::platform::linux_backend {

namespace {

// Keycode → the keysym that names the key, from the server's keyboard mapping.
std::vector<std::uint32_t> loadKeymap(xcb_connection_t* connection) {
  const xcb_setup_t* setup = xcb_get_setup(connection);
  const int first = setup->min_keycode;
  const int count = setup->max_keycode - setup->min_keycode + 1;
  std::vector<std::uint32_t> keymap(256, Keysym::none);
  auto reply =
      xcbReply(xcb_get_keyboard_mapping_reply, connection,
               xcb_get_keyboard_mapping(connection, setup->min_keycode, static_cast<std::uint8_t>(count)));
  if (!reply) return keymap;
  const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(reply.get());
  const int perKeycode = reply->keysyms_per_keycode;
  const int available = xcb_get_keyboard_mapping_keysyms_length(reply.get());
  for (int index = 0; index < count && (index + 1) * perKeycode <= available; ++index) {
    keymap[first + index] = keysymOfRow({keysyms + index * perKeycode, static_cast<std::size_t>(perKeycode)});
  }
  return keymap;
}

bool capsLockIsOn(const XConnection& x) {
  auto reply = xcbReply(xcb_query_pointer_reply, x.get(), xcb_query_pointer(x.get(), x.root()));
  return reply && (reply->mask & XCB_MOD_MASK_LOCK);
}

class RawKeyMonitor final : public EventMonitor {
 public:
  RawKeyMonitor(std::shared_ptr<XConnection> x, std::uint8_t xinputOpcode,
                std::function<void(std::uint64_t)> handler)
      : x_(std::move(x)), xinputOpcode_(xinputOpcode), handler_(std::move(handler)) {
    keymap_ = loadKeymap(x_->get());
    state_.setCapsLock(capsLockIsOn(*x_));
    seedHeldKeys();
    subscription_ = x_->subscribe([this](const xcb_generic_event_t& event) { handle(event); });
  }

 private:
  // Keys already down when the monitor starts, so that their release is not lost.
  void seedHeldKeys() {
    auto reply = xcbReply(xcb_query_keymap_reply, x_->get(), xcb_query_keymap(x_->get()));
    if (!reply) return;
    for (int keycode = 0; keycode < 256; ++keycode) {
      const bool down = reply->keys[keycode / 8] & (1 << (keycode % 8));
      const auto keysym = keymap_[keycode];
      if (down && keysym != Keysym::capsLock && isModifierKeysym(keysym)) {
        state_.apply(static_cast<std::uint8_t>(keycode), keysym, true);
      }
    }
  }

  void handle(const xcb_generic_event_t& event) {
    const auto type = event.response_type & 0x7f;
    if (type == XCB_MAPPING_NOTIFY) {
      const auto& notify = reinterpret_cast<const xcb_mapping_notify_event_t&>(event);
      if (notify.request == XCB_MAPPING_KEYBOARD) keymap_ = loadKeymap(x_->get());
      return;
    }
    if (type != XCB_GE_GENERIC) return;
    const auto& generic = reinterpret_cast<const xcb_ge_generic_event_t&>(event);
    if (generic.extension != xinputOpcode_) return;
    if (generic.event_type != XCB_INPUT_RAW_KEY_PRESS && generic.event_type != XCB_INPUT_RAW_KEY_RELEASE)
      return;
    const auto& key = reinterpret_cast<const xcb_input_raw_key_press_event_t&>(event);
    const auto keycode = static_cast<std::uint8_t>(key.detail);
    // Every key goes to the state: a key pressed as a modifier must still be released
    // after the keyboard mapping changed under it. Other keys change nothing.
    const auto keysym = keymap_[keycode];
    if (!state_.apply(keycode, keysym, generic.event_type == XCB_INPUT_RAW_KEY_PRESS)) return;
    // The handler may drop this monitor; keep what the call needs.
    auto handler = handler_;
    handler(state_.flags());
  }

  std::shared_ptr<XConnection> x_;
  std::uint8_t xinputOpcode_;
  std::function<void(std::uint64_t)> handler_;
  std::vector<std::uint32_t> keymap_;
  ModifierState state_;
  std::unique_ptr<XConnection::Subscription> subscription_;
};

class XInputEvents final : public Events {
 public:
  std::unique_ptr<EventMonitor> addGlobalFlagsChangedMonitor(
      std::function<void(std::uint64_t modifierFlags)> handler) override {
    auto x = XConnection::shared();
    if (!x) return nullptr;
    xcb_connection_t* c = x->get();
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_input_id);
    if (!extension || !extension->present) return nullptr;
    // Raw events reach root-window listeners from XInput 2.1 on.
    auto version = xcbReply(xcb_input_xi_query_version_reply, c, xcb_input_xi_query_version(c, 2, 2));
    if (!version || version->major_version < 2 ||
        (version->major_version == 2 && version->minor_version < 1)) {
      return nullptr;
    }
    struct {
      xcb_input_event_mask_t header;
      std::uint32_t bits;
    } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
           XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE};
    XReply<xcb_generic_error_t> error(
        xcb_request_check(c, xcb_input_xi_select_events_checked(c, x->root(), 1, &mask.header)));
    if (error) return nullptr;
    return std::make_unique<RawKeyMonitor>(std::move(x), extension->major_opcode, std::move(handler));
  }
};

}  // namespace

std::unique_ptr<Events> makeEvents() { return std::make_unique<XInputEvents>(); }

}  // namespace zoba::platform::linux_backend
