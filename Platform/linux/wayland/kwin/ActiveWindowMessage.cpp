#include "Platform/linux/wayland/kwin/ActiveWindowMessage.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace zoba::platform::linux_backend::wayland {

namespace {

using nlohmann::json;

std::optional<Rect> rectOf(const json& value) {
  if (!value.is_object()) return std::nullopt;
  for (const char* key : {"x", "y", "width", "height"}) {
    if (!value.contains(key) || !value[key].is_number()) return std::nullopt;
  }
  Rect rect(value["x"].get<double>(), value["y"].get<double>(), value["width"].get<double>(),
            value["height"].get<double>());
  if (rect.width() <= 0 || rect.height() <= 0) return std::nullopt;
  return rect;
}

std::optional<std::string> textOf(const json& message, const char* key) {
  if (!message.contains(key) || !message[key].is_string()) return std::nullopt;
  auto text = message[key].get<std::string>();
  if (text.empty()) return std::nullopt;
  return text;
}

}  // namespace

std::optional<std::variant<KWinWindow, NoActiveWindow>> parseActiveWindowMessage(std::string_view text) {
  const json message = json::parse(text, nullptr, false);
  if (message.is_null()) return NoActiveWindow{};
  if (!message.is_object()) return std::nullopt;
  auto handle = textOf(message, "internalId");
  if (!handle) return std::nullopt;
  // The client area is what a capture without decoration shows. KWin 5.27 gives
  // scripts no clientGeometry; the frame and the buffer bound it: a server-side
  // decoration makes the frame larger than the client's buffer, a client-side shadow
  // the buffer larger than the frame.
  auto rect = rectOf(message.value("clientGeometry", json()));
  if (!rect) {
    auto frame = rectOf(message.value("frameGeometry", json()));
    auto buffer = rectOf(message.value("bufferGeometry", json()));
    if (frame && buffer) {
      const double left = std::max(frame->minX(), buffer->minX()),
                   top = std::max(frame->minY(), buffer->minY());
      const double right = std::min(frame->maxX(), buffer->maxX()),
                   bottom = std::min(frame->maxY(), buffer->maxY());
      if (right > left && bottom > top) rect = Rect(left, top, right - left, bottom - top);
    } else {
      rect = frame ? frame : buffer;
    }
  }
  if (!rect) return std::nullopt;

  KWinWindow window;
  window.handle = std::move(*handle);
  Toplevel& toplevel = window.toplevel;
  toplevel.id = windowNumber(window.handle);
  if (message.contains("pid") && message["pid"].is_number_integer()) toplevel.pid = message["pid"].get<int>();
  toplevel.title = textOf(message, "caption");
  toplevel.rect = *rect;
  if (message.contains("scale") && message["scale"].is_number() && message["scale"].get<double>() > 0)
    toplevel.scale = message["scale"].get<double>();
  toplevel.output = textOf(message, "output").value_or("");
  toplevel.focused = true;
  toplevel.xwayland = message.value("x11", false);
  // KWin takes a native window's desktop file name from its app_id; an X11 window's
  // resource class is its WM_CLASS class, its resource name the instance.
  auto desktopFile = textOf(message, "desktopFileName");
  auto resourceClass = textOf(message, "resourceClass");
  auto resourceName = textOf(message, "resourceName");
  if (toplevel.xwayland) {
    toplevel.appId = resourceName ? resourceName : resourceClass;
    toplevel.x11Class = resourceClass;
  } else {
    toplevel.appId = desktopFile ? desktopFile : resourceClass;
  }
  return window;
}

std::int64_t windowNumber(std::string_view handle) {
  // FNV-1a, folded into 31 bits: the capture's window ids are 32-bit and unsigned.
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : handle) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  const auto number = static_cast<std::int64_t>((hash ^ (hash >> 31)) & 0x7FFFFFFF);
  return number == 0 ? 1 : number;
}

}  // namespace zoba::platform::linux_backend::wayland
