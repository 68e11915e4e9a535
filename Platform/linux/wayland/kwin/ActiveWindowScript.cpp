#include "Platform/linux/wayland/kwin/ActiveWindowScript.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <utility>

#include "Platform/linux/dbus/SdSessionBus.h"

namespace zoba::platform::linux_backend::wayland {

namespace {

using namespace std::chrono_literals;

// KWin answers its Scripting calls at once; one that takes longer is stuck.
constexpr auto scriptingTimeout = 1000ms;

constexpr const char* kwinService = "org.kde.KWin";

// KWin 5.27's scripting API (workspace.activeClient, clientActivated). Geometry and
// caption changes of the active window are reported too, so that the helper never
// has to ask: a chord finds the answer waiting.
constexpr const char* scriptTemplate = R"js(
(function () {
  var service = "@SERVICE@";
  var watched = null;
  function rect(r) {
    return r ? { x: r.x, y: r.y, width: r.width, height: r.height } : null;
  }
  function text(value) {
    return value === undefined || value === null ? "" : String(value);
  }
  function describe(client) {
    if (!client) return null;
    return {
      internalId: text(client.internalId),
      pid: client.pid,
      caption: text(client.caption),
      frameGeometry: rect(client.frameGeometry),
      bufferGeometry: rect(client.bufferGeometry),
      clientGeometry: rect(client.clientGeometry),
      resourceClass: text(client.resourceClass),
      resourceName: text(client.resourceName),
      desktopFileName: text(client.desktopFileName),
      x11: client.windowId ? true : false,
      output: client.output ? text(client.output.name) : ""
    };
  }
  function report() {
    callDBus(service, "@PATH@", "@INTERFACE@", "@METHOD@", JSON.stringify(describe(workspace.activeClient)));
  }
  function watch(client) {
    if (watched) {
      watched.frameGeometryChanged.disconnect(report);
      watched.captionChanged.disconnect(report);
    }
    watched = client;
    if (watched) {
      watched.frameGeometryChanged.connect(report);
      watched.captionChanged.connect(report);
    }
  }
  workspace.clientActivated.connect(function (client) {
    watch(client);
    report();
  });
  watch(workspace.activeClient);
  report();
})();
)js";

void replace(std::string& text, std::string_view placeholder, std::string_view value) {
  for (auto at = text.find(placeholder); at != std::string::npos;
       at = text.find(placeholder, at + value.size()))
    text.replace(at, placeholder.size(), value);
}

std::string scriptFile(const std::string& pluginName) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string directory = runtime && *runtime ? runtime : "/tmp";
  return directory + "/" + pluginName + ".js";
}

SdBusReply call(sd_bus* bus, const char* path, const char* interface, const char* method,
                const std::string* argument) {
  sd_bus_message* raw = nullptr;
  if (sd_bus_message_new_method_call(bus, &raw, kwinService, path, interface, method) < 0) return {};
  SdBusMessagePtr message(raw);
  if (argument && sd_bus_message_append(message.get(), "s", argument->c_str()) < 0) return {};
  return callWithTimeout(bus, message.get(), scriptingTimeout);
}

}  // namespace

std::string activeWindowScript(std::string_view service) {
  std::string source = scriptTemplate;
  replace(source, "@SERVICE@", service);
  replace(source, "@PATH@", activeWindowPath);
  replace(source, "@INTERFACE@", activeWindowInterface);
  replace(source, "@METHOD@", activeWindowMethod);
  return source;
}

std::optional<LoadedScript> LoadedScript::load(sd_bus* bus, const std::string& pluginName,
                                               const std::string& source) {
  const std::string file = scriptFile(pluginName);
  {
    std::ofstream out(file, std::ios::trunc);
    out << source;
    if (!out.flush()) return std::nullopt;
  }
  LoadedScript script(bus, pluginName, file);
  // A script of the same name left by a helper that crashed would make loading fail.
  call(bus, "/Scripting", "org.kde.kwin.Scripting", "unloadScript", &pluginName);
  sd_bus_message* raw = nullptr;
  if (sd_bus_message_new_method_call(bus, &raw, kwinService, "/Scripting", "org.kde.kwin.Scripting",
                                     "loadScript") < 0)
    return std::nullopt;
  SdBusMessagePtr message(raw);
  if (sd_bus_message_append(message.get(), "ss", file.c_str(), pluginName.c_str()) < 0) return std::nullopt;
  auto reply = callWithTimeout(bus, message.get(), scriptingTimeout);
  std::int32_t id = -1;
  if (!reply || sd_bus_message_read(reply.message.get(), "i", &id) < 0 || id < 0) return std::nullopt;
  // KWin 5.27 puts the script at /ID (later versions at /Scripting/ScriptID).
  const std::string path = "/" + std::to_string(id);
  if (!call(bus, path.c_str(), "org.kde.kwin.Script", "run", nullptr)) {
    const std::string newer = "/Scripting/Script" + std::to_string(id);
    if (!call(bus, newer.c_str(), "org.kde.kwin.Script", "run", nullptr)) return std::nullopt;
  }
  return script;
}

LoadedScript::LoadedScript(LoadedScript&& other) noexcept
    : bus_(std::exchange(other.bus_, nullptr)),
      pluginName_(std::move(other.pluginName_)),
      file_(std::move(other.file_)) {}

LoadedScript::~LoadedScript() {
  if (!bus_) return;
  call(bus_, "/Scripting", "org.kde.kwin.Scripting", "unloadScript", &pluginName_);
  removeFile();
}

void LoadedScript::removeFile() {
  if (!file_.empty()) ::unlink(file_.c_str());
  file_.clear();
}

}  // namespace zoba::platform::linux_backend::wayland
