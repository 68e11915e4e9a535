#include "tests/kwin/KWinDesktop.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <poll.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "tests/support/wayland/ChordKeys.h"
#include "tests/support/wayland/SwayDesktop.h"

namespace zoba::testing::kwin {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

bool isSet(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

fs::path applicationsFolder() { return fs::path(std::getenv("XDG_DATA_HOME")) / "applications"; }

struct GObjectUnref {
  void operator()(void* object) const {
    if (object) g_object_unref(object);
  }
};
struct VariantUnref {
  void operator()(GVariant* variant) const {
    if (variant) g_variant_unref(variant);
  }
};

GDBusConnection* sessionBus() {
  static std::unique_ptr<GDBusConnection, GObjectUnref> bus(
      g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
  return bus.get();
}

bool readFully(int fd, std::vector<std::uint8_t>& bytes, std::size_t size, Clock::time_point deadline) {
  bytes.resize(size);
  std::size_t done = 0;
  while (done < size) {
    pollfd ready{fd, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || ::poll(&ready, 1, static_cast<int>(left)) <= 0) return false;
    const ssize_t count = ::read(fd, bytes.data() + done, size - done);
    if (count <= 0) return false;
    done += static_cast<std::size_t>(count);
  }
  return true;
}

}  // namespace

bool kwinDesktopAvailable() {
  const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
  return desktop && std::string(desktop) == "KDE" && isSet("WAYLAND_DISPLAY") && isSet("ZOBA_KWIN_STATE") &&
         isSet("XDG_DATA_HOME") && ::access(wayland::gtkPython, X_OK) == 0;
}

bool writeDesktopFile(const std::string& name, const std::string& executable,
                      const std::vector<std::string>& grants) {
  const fs::path folder = applicationsFolder();
  std::error_code error;
  fs::create_directories(folder, error);
  {
    std::ofstream file(folder / (name + ".desktop"), std::ios::trunc);
    file << "[Desktop Entry]\nType=Application\nName=" << name << "\nExec=" << executable
         << "\nNoDisplay=true\n";
    for (const auto& grant : grants) file << grant << "\n";
    if (!file.flush()) return false;
  }
  // KWin looks at the folder again only when its modification time changed.
  fs::last_write_time(folder, fs::file_time_type::clock::now(), error);
  return !error;
}

bool grantTestPrograms() {
  static const bool granted = [] {
    const std::string self = fs::canonical("/proc/self/exe").string();
    if (!writeDesktopFile("zoba-capture-under-test", fs::canonical(ZOBA_CAPTURE_PATH).string(),
                          {"X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2"}) ||
        !writeDesktopFile("zoba-kwin-input", fs::canonical(ZOBA_KWIN_INPUT_PATH).string(),
                          {"X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input"}) ||
        !writeDesktopFile("zoba-kwin-tests-" + fs::path(self).filename().string(), self,
                          {"X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2"}))
      return false;
    for (const auto end = Clock::now() + std::chrono::seconds(10); Clock::now() < end;) {
      if (kwinScreenshot({0, 0, 1, 1})) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }();
  return granted;
}

std::optional<platform::Image> kwinScreenshot(const ScreenRect& area) {
  GDBusConnection* bus = sessionBus();
  if (!bus) return std::nullopt;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) < 0) return std::nullopt;
  std::unique_ptr<GUnixFDList, GObjectUnref> fds(g_unix_fd_list_new());
  const int index = g_unix_fd_list_append(fds.get(), ends[1], nullptr);
  ::close(ends[1]);
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&options, "{sv}", "native-resolution", g_variant_new_boolean(TRUE));
  GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
      bus, "org.kde.KWin", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2", "CaptureArea",
      g_variant_new("(iiuua{sv}h)", area.x, area.y, static_cast<guint32>(area.width),
                    static_cast<guint32>(area.height), &options, index),
      G_VARIANT_TYPE("(a{sv})"), G_DBUS_CALL_FLAGS_NONE, 5000, fds.get(), nullptr, nullptr, nullptr);
  const int readEnd = ends[0];
  if (!reply) {
    ::close(readEnd);
    return std::nullopt;
  }
  std::unique_ptr<GVariant, VariantUnref> owned(reply);
  GVariant* results = g_variant_get_child_value(reply, 0);
  guint32 width = 0, height = 0, stride = 0, format = 0;
  g_variant_lookup(results, "width", "u", &width);
  g_variant_lookup(results, "height", "u", &height);
  g_variant_lookup(results, "stride", "u", &stride);
  g_variant_lookup(results, "format", "u", &format);
  g_variant_unref(results);
  std::vector<std::uint8_t> bytes;
  const bool read =
      width > 0 && stride >= width * 4 &&
      readFully(readEnd, bytes, std::size_t{stride} * height, Clock::now() + std::chrono::seconds(5));
  ::close(readEnd);
  if (!read) return std::nullopt;
  std::vector<std::uint32_t> words(std::size_t{width} * height);
  for (guint32 y = 0; y < height; ++y) {
    for (guint32 x = 0; x < width; ++x) {
      std::uint32_t pixel;
      std::memcpy(&pixel, bytes.data() + std::size_t{y} * stride + std::size_t{x} * 4, 4);
      words[std::size_t{y} * width + x] = pixel | 0xFF000000u;
    }
  }
  return platform::Image::fromWords(width, height, platform::Image::Format::opaque, std::move(words));
}

double kwinScreenScale() {
  static const double scale = [] {
    auto shot = kwinScreenshot({0, 0, 100, 100});
    return shot ? static_cast<double>(shot->width()) / 100 : 0.0;
  }();
  return scale;
}

int outputPixels(int extent) { return static_cast<int>(std::lround(extent * kwinScreenScale())); }

std::optional<ScreenRect> boundsOf(const platform::Image& image, std::uint32_t rgb, int tolerance) {
  auto near = [&](std::uint32_t pixel) {
    for (int shift : {0, 8, 16}) {
      if (std::abs(static_cast<int>((pixel >> shift) & 0xFF) - static_cast<int>((rgb >> shift) & 0xFF)) >
          tolerance)
        return false;
    }
    return true;
  };
  std::int64_t left = image.width(), top = image.height(), right = -1, bottom = -1;
  for (std::int64_t y = 0; y < image.height(); ++y) {
    for (std::int64_t x = 0; x < image.width(); ++x) {
      if (!near(image.pixel(x, y))) continue;
      left = std::min(left, x), right = std::max(right, x);
      top = std::min(top, y), bottom = std::max(bottom, y);
    }
  }
  if (right < 0) return std::nullopt;
  return ScreenRect{static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left + 1),
                    static_cast<int>(bottom - top + 1)};
}

std::optional<ScreenRect> waitForColourOnScreen(std::uint32_t rgb, std::chrono::milliseconds timeout) {
  // The same box in two frames in a row: a window KWin is still bringing in (its
  // opening effect, its first frames) gives changing boxes.
  std::optional<ScreenRect> last;
  for (const auto end = Clock::now() + timeout; Clock::now() < end;) {
    auto screen = kwinScreenshot({0, 0, 1920, 1080});
    auto area = screen ? boundsOf(*screen, rgb) : std::nullopt;
    if (area && area == last) {
      const double scale = kwinScreenScale();
      return ScreenRect{static_cast<int>(area->x / scale), static_cast<int>(area->y / scale),
                        static_cast<int>(std::lround(area->width / scale)),
                        static_cast<int>(std::lround(area->height / scale))};
    }
    last = area;
    if (!area) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return std::nullopt;
}

bool kwinInput(const std::vector<std::string>& steps) {
  return wayland::runProgram(ZOBA_KWIN_INPUT_PATH, steps).has_value();
}

bool kwinChord(const std::string& modifier, int holdMilliseconds) {
  auto keys = wayland::chordKeys(modifier);
  if (!keys) return false;
  const std::string left = std::to_string(keys->leftCode), right = std::to_string(keys->rightCode);
  const std::string hold = "s" + std::to_string(holdMilliseconds);
  return kwinInput({"+" + left, hold, "+" + right, hold, "-" + right, "s10", "-" + left});
}

KWinKeyboard::KWinKeyboard() : process_(ZOBA_KWIN_INPUT_PATH, {"idle"}) {}

KWinGtkWindow::KWinGtkWindow(const KWinGtkWindowOptions& options, std::chrono::milliseconds timeout)
    : process_(wayland::launchGtkWindow(options)), pid_(wayland::announcedPid(process_, timeout)) {}

}  // namespace zoba::testing::kwin
