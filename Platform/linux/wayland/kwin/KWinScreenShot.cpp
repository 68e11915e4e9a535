#include "Platform/linux/wayland/kwin/KWinScreenShot.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "Platform/linux/dbus/SdSessionBus.h"
#include "Platform/linux/handles/UniqueFd.h"

namespace zoba::platform::linux_backend::wayland {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* service = "org.kde.KWin";
constexpr const char* path = "/org/kde/KWin/ScreenShot2";
constexpr const char* interface = "org.kde.KWin.ScreenShot2";
constexpr const char* notAuthorizedError = "org.kde.KWin.ScreenShot2.Error.NoAuthorized";
constexpr std::uint32_t qImageARGB32 = 5;  // QImage::Format_ARGB32: 0xAARRGGBB words
constexpr std::uint32_t qImageRGB32 = 4;
constexpr std::uint32_t qImageARGB32Premultiplied = 6;

struct Metadata {
  std::uint32_t width = 0, height = 0, stride = 0, format = 0;
  double scale = 1;
};

std::chrono::milliseconds left(Clock::time_point deadline) {
  return std::max(0ms, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
}

// The reply's a{sv}: the keys we read, the others skipped.
bool readMetadata(sd_bus_message* reply, Metadata& metadata) {
  if (sd_bus_message_enter_container(reply, 'a', "{sv}") < 0) return false;
  while (sd_bus_message_enter_container(reply, 'e', "sv") > 0) {
    const char* key = nullptr;
    if (sd_bus_message_read(reply, "s", &key) < 0) return false;
    const std::string_view name(key);
    std::uint32_t* field = name == "width"    ? &metadata.width
                           : name == "height" ? &metadata.height
                           : name == "stride" ? &metadata.stride
                           : name == "format" ? &metadata.format
                                              : nullptr;
    int read = 0;
    if (field) {
      read = sd_bus_message_read(reply, "v", "u", field);
    } else if (name == "scale") {
      read = sd_bus_message_read(reply, "v", "d", &metadata.scale);
    } else {
      read = sd_bus_message_skip(reply, "v");
    }
    if (read < 0 || sd_bus_message_exit_container(reply) < 0) return false;
  }
  return sd_bus_message_exit_container(reply) >= 0;
}

// Reads the pipe to its end (KWin closes it once written), at most `size` bytes.
bool readAll(int fd, std::vector<std::uint8_t>& bytes, std::size_t size, Clock::time_point deadline) {
  bytes.resize(size);
  std::size_t done = 0;
  while (done < size) {
    pollfd ready{fd, POLLIN, 0};
    const int polled = ::poll(&ready, 1, static_cast<int>(left(deadline).count()));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return false;
    const ssize_t count = ::read(fd, bytes.data() + done, size - done);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (count <= 0) return false;
    done += static_cast<std::size_t>(count);
  }
  return true;
}

bool appendOptions(sd_bus_message* message) {
  // The client area as on X11, at the output's own resolution.
  return sd_bus_message_append(message, "a{sv}", 3, "include-decoration", "b", 0, "include-shadow", "b", 0,
                               "native-resolution", "b", 1) >= 0;
}

// Sends `message` with the pipe's write end as its last argument, then reads the image.
ScreenShotResult finish(sd_bus* bus, SdBusMessagePtr message, UniqueFd readEnd, UniqueFd writeEnd,
                        Clock::time_point deadline) {
  if (sd_bus_message_append(message.get(), "h", writeEnd.get()) < 0)
    return ScreenShotFailure{"The screenshot request could not be written"};
  // The message holds a copy; ours must go, or the pipe never ends.
  writeEnd.reset();
  auto reply = callWithTimeout(bus, message.get(), left(deadline));
  if (!reply) {
    const bool refused = reply.errorName == notAuthorizedError;
    return ScreenShotFailure{refused
                                 ? "KWin grants screenshots only to applications whose desktop file names "
                                   "org.kde.KWin.ScreenShot2 in X-KDE-DBUS-Restricted-Interfaces"
                                 : "KWin's screenshot failed: " + reply.errorName + " " + reply.errorMessage,
                             refused};
  }
  Metadata metadata;
  if (!readMetadata(reply.message.get(), metadata) || metadata.width == 0 || metadata.height == 0 ||
      metadata.stride < metadata.width * 4)
    return ScreenShotFailure{"KWin's screenshot came without its size"};
  if (metadata.format != qImageARGB32 && metadata.format != qImageRGB32 &&
      metadata.format != qImageARGB32Premultiplied)
    return ScreenShotFailure{"KWin's screenshot came in an unknown pixel format " +
                             std::to_string(metadata.format)};
  auto bytes = std::make_shared<std::vector<std::uint8_t>>();
  if (!readAll(readEnd.get(), *bytes, std::size_t{metadata.stride} * metadata.height, deadline))
    return ScreenShotFailure{"KWin's screenshot did not arrive in time"};
  ScreenShot shot;
  shot.frame.width = static_cast<std::int32_t>(metadata.width);
  shot.frame.height = static_cast<std::int32_t>(metadata.height);
  shot.frame.stride = static_cast<std::int32_t>(metadata.stride);
  shot.frame.format = 0;  // WL_SHM_FORMAT_ARGB8888: the same words as QImage's ARGB32
  shot.frame.pixels = bytes->data();
  shot.frame.owner = std::move(bytes);
  shot.scale = metadata.scale > 0 ? metadata.scale : 1;
  return shot;
}

ScreenShotResult request(sd_bus* bus, const char* method, Clock::time_point deadline,
                         const std::function<bool(sd_bus_message*)>& arguments) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) < 0) return ScreenShotFailure{std::string("pipe: ") + std::strerror(errno)};
  UniqueFd readEnd(ends[0]), writeEnd(ends[1]);
  sd_bus_message* raw = nullptr;
  if (sd_bus_message_new_method_call(bus, &raw, service, path, interface, method) < 0)
    return ScreenShotFailure{"The screenshot request could not be written"};
  SdBusMessagePtr message(raw);
  if (!arguments(message.get()) || !appendOptions(message.get()))
    return ScreenShotFailure{"The screenshot request could not be written"};
  return finish(bus, std::move(message), std::move(readEnd), std::move(writeEnd), deadline);
}

}  // namespace

ScreenShotResult captureKWinWindow(sd_bus* bus, const std::string& handle, Clock::time_point deadline) {
  return request(bus, "CaptureWindow", deadline, [&](sd_bus_message* message) {
    return sd_bus_message_append(message, "s", handle.c_str()) >= 0;
  });
}

ScreenShotResult captureKWinArea(sd_bus* bus, const Rect& area, Clock::time_point deadline) {
  return request(bus, "CaptureArea", deadline, [&](sd_bus_message* message) {
    return sd_bus_message_append(message, "iiuu", static_cast<std::int32_t>(std::lround(area.minX())),
                                 static_cast<std::int32_t>(std::lround(area.minY())),
                                 static_cast<std::uint32_t>(std::lround(area.width())),
                                 static_cast<std::uint32_t>(std::lround(area.height()))) >= 0;
  });
}

bool kwinScreenShotAllowed() {
  static std::atomic<bool> granted = false;
  if (granted) return true;
  SdBusPtr bus = openSessionBus();
  if (!bus) return false;
  // A refusal comes at once; a grant costs one frame, once.
  auto result = captureKWinArea(bus.get(), Rect(0, 0, 1, 1), Clock::now() + 1000ms);
  if (std::holds_alternative<ScreenShot>(result)) granted = true;
  return granted;
}

}  // namespace zoba::platform::linux_backend::wayland
