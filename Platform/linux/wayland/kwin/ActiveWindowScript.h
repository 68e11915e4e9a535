#pragma once

// The KWin script that tells the helper which window is active: loaded into KWin
// over its Scripting interface, it calls back over D-Bus on every change of the
// active window, its geometry or its caption, with one JSON text
// (parseActiveWindowMessage reads it).

#include <systemd/sd-bus.h>

#include <optional>
#include <string>
#include <string_view>

namespace zoba::platform::linux_backend::wayland {

inline constexpr const char* activeWindowPath = "/org/zoba/capture/ActiveWindow";
inline constexpr const char* activeWindowInterface = "org.zoba.capture.ActiveWindow";
inline constexpr const char* activeWindowMethod = "Active";  // one argument: the JSON text

// The script's source, calling back to the bus name `service`.
std::string activeWindowScript(std::string_view service);

// A script loaded into KWin and running; unloaded when this goes. The bus must
// outlive it.
class LoadedScript {
 public:
  // Writes `source` to a file of its own (KWin reads scripts from files), loads it
  // as `pluginName` and starts it; absent when KWin's Scripting interface refused
  // or did not answer.
  static std::optional<LoadedScript> load(sd_bus* bus, const std::string& pluginName,
                                          const std::string& source);
  LoadedScript(LoadedScript&& other) noexcept;
  LoadedScript& operator=(LoadedScript&&) = delete;
  LoadedScript(const LoadedScript&) = delete;
  LoadedScript& operator=(const LoadedScript&) = delete;
  ~LoadedScript();

  // KWin has read the file (the script ran): it may go.
  void removeFile();

 private:
  LoadedScript(sd_bus* bus, std::string pluginName, std::string file)
      : bus_(bus), pluginName_(std::move(pluginName)), file_(std::move(file)) {}
  sd_bus* bus_ = nullptr;
  std::string pluginName_;
  std::string file_;
};

}  // namespace zoba::platform::linux_backend::wayland
