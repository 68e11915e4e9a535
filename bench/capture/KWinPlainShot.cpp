#include "bench/capture/KWinPlainShot.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "Platform/Image.h"
#include "ZobaCapture/WindowCapture.h"

namespace zoba::bench {

std::optional<double> kwinPlainShotMs() {
  static GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) return std::nullopt;
  const auto start = std::chrono::steady_clock::now();
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return std::nullopt;
  GUnixFDList* fds = g_unix_fd_list_new();
  const int index = g_unix_fd_list_append(fds, ends[1], nullptr);
  close(ends[1]);
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&options, "{sv}", "include-decoration", g_variant_new_boolean(FALSE));
  GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
      bus, "org.kde.KWin", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2", "CaptureActiveWindow",
      g_variant_new("(a{sv}h)", &options, index), G_VARIANT_TYPE("(a{sv})"), G_DBUS_CALL_FLAGS_NONE, 5000,
      fds, nullptr, nullptr, nullptr);
  g_object_unref(fds);
  if (!reply) {
    close(ends[0]);
    return std::nullopt;
  }
  GVariant* results = g_variant_get_child_value(reply, 0);
  guint32 width = 0, height = 0, stride = 0;
  g_variant_lookup(results, "width", "u", &width);
  g_variant_lookup(results, "height", "u", &height);
  g_variant_lookup(results, "stride", "u", &stride);
  g_variant_unref(results);
  g_variant_unref(reply);
  std::vector<std::uint8_t> bytes(std::size_t{stride} * height);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t count = read(ends[0], bytes.data() + done, bytes.size() - done);
    if (count <= 0) break;
    done += static_cast<std::size_t>(count);
  }
  close(ends[0]);
  if (done < bytes.size() || width == 0) return std::nullopt;
  std::vector<std::uint32_t> words(std::size_t{width} * height);
  for (guint32 y = 0; y < height; ++y)
    std::memcpy(&words[std::size_t{y} * width], &bytes[std::size_t{y} * stride], width * 4);
  const auto image =
      platform::Image::fromWords(width, height, platform::Image::Format::opaque, std::move(words));
  if (!WindowCapture::pngData(image)) return std::nullopt;
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace zoba::bench
