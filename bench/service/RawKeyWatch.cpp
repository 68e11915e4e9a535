#include "bench/service/RawKeyWatch.h"

#include <poll.h>
#include <xcb/xinput.h>

namespace zoba::bench {

using platform::linux_backend::xcbReply;
using platform::linux_backend::XReply;

RawKeyWatch::RawKeyWatch() : connection_(xcb_connect(nullptr, nullptr)) {
  xcb_connection_t* c = connection_.get();
  if (xcb_connection_has_error(c)) return;
  const auto* extension = xcb_get_extension_data(c, &xcb_input_id);
  if (!extension || !extension->present) return;
  auto version = xcbReply(xcb_input_xi_query_version_reply, c, xcb_input_xi_query_version(c, 2, 2));
  if (!version || (version->major_version == 2 && version->minor_version < 1)) return;
  opcode_ = extension->major_opcode;
  struct {
    xcb_input_event_mask_t header;
    std::uint32_t bits;
  } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS};
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  XReply<xcb_generic_error_t> error(
      xcb_request_check(c, xcb_input_xi_select_events_checked(c, root, 1, &mask.header)));
  if (error) return;
  reading_ = std::jthread([this](std::stop_token stop) { read(stop); });
}

RawKeyWatch::~RawKeyWatch() {
  reading_.request_stop();
  if (reading_.joinable()) reading_.join();
}

void RawKeyWatch::read(std::stop_token stop) {
  xcb_connection_t* c = connection_.get();
  while (!stop.stop_requested() && !xcb_connection_has_error(c)) {
    pollfd ready{xcb_get_file_descriptor(c), POLLIN, 0};
    if (::poll(&ready, 1, 50) <= 0) continue;
    while (XReply<xcb_generic_event_t> event{xcb_poll_for_event(c)}) {
      const auto now = Clock::now();
      if ((event->response_type & 0x7f) != XCB_GE_GENERIC) continue;
      const auto* generic = reinterpret_cast<const xcb_ge_generic_event_t*>(event.get());
      if (generic->extension != opcode_ || generic->event_type != XCB_INPUT_RAW_KEY_PRESS) continue;
      const auto* key = reinterpret_cast<const xcb_input_raw_key_press_event_t*>(event.get());
      std::lock_guard lock(mutex_);
      presses_.emplace_back(static_cast<std::uint8_t>(key->detail), now);
      arrived_.notify_all();
    }
  }
}

std::optional<RawKeyWatch::Clock::time_point> RawKeyWatch::pressAfter(std::uint8_t keycode,
                                                                      Clock::time_point since,
                                                                      std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  std::optional<Clock::time_point> found;
  arrived_.wait_for(lock, timeout, [&] {
    for (const auto& [code, at] : presses_) {
      if (code == keycode && at >= since) {
        found = at;
        return true;
      }
    }
    return false;
  });
  return found;
}

}  // namespace zoba::bench
