// The capture of one real window, without the accessibility walk and the
// activation wait: from the start of the capture to the JPEG preview and to the
// payload; the "capture" line of that payload serialised and queued; the peak
// resident memory. `maim -i` of the same window runs beside it for comparison on
// X11, `grim -g` of the window's region (a screen copy and a PNG encode) on sway,
// ScreenShot2's CaptureActiveWindow and a PNG encode by a plain client on KWin.
//
//   capture_bench WIDTH HEIGHT [RUNS]     (on an X display at least that large, or
//                                          on sway, where the window is tiled)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "Platform/Platform.h"
#include "ZobaCapture/Output.h"
#include "ZobaCapture/WindowCapture.h"
#include "bench/capture/KWinPlainShot.h"

extern char** environ;

namespace {

using namespace zoba;
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// CPU time of the whole process, all threads, in milliseconds.
double processCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double peakResidentMB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

struct Figures {
  std::vector<double> values;
  void add(double value) { values.push_back(value); }
  double median() {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
  }
  double best() { return values.empty() ? 0 : *std::min_element(values.begin(), values.end()); }
};

// No application element for anyone: the capture skips the activation and the
// walk, which are measured elsewhere.
class NoAccessibility final : public platform::Accessibility {
 public:
  std::optional<platform::AXElement> applicationElement(std::int32_t) override { return std::nullopt; }
  void setMessagingTimeout(const platform::AXElement&, double) override {}
  std::optional<platform::AXValue> copyAttributeValue(const platform::AXElement&, std::string_view) override {
    return std::nullopt;
  }
  std::optional<platform::AXArray> copyMultipleAttributeValues(const platform::AXElement&,
                                                               std::span<const std::string>) override {
    return std::nullopt;
  }
  std::optional<std::int64_t> attributeValueCount(const platform::AXElement&, std::string_view) override {
    return std::nullopt;
  }
  std::optional<bool> isAttributeSettable(const platform::AXElement&, std::string_view) override {
    return std::nullopt;
  }
  bool setAttributeValue(const platform::AXElement&, std::string_view, const platform::AXValue&) override {
    return false;
  }
  std::unique_ptr<platform::AXObserver> createObserver(std::int32_t,
                                                       platform::AXNotificationHandler) override {
    return nullptr;
  }
};

// The busy window, its pid, and its X window id once it has drawn.
struct Window {
  pid_t pid = -1;
  std::string xid;
};

Window openWindow(int width, int height) {
  int out[2];
  if (pipe(out) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const std::string script = std::string(ZOBA_BENCH_SOURCE_DIR) + "/busy_window.py";
  std::string w = std::to_string(width), h = std::to_string(height), title = "Busy " + w + "x" + h;
  char* argv[] = {const_cast<char*>("/usr/bin/python3"),
                  const_cast<char*>(script.c_str()),
                  w.data(),
                  h.data(),
                  title.data(),
                  nullptr};
  Window window;
  if (posix_spawn(&window.pid, argv[0], &actions, nullptr, argv, environ) != 0) window.pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') window.xid += c;
  close(out[0]);
  return window;
}

// Whole-process seconds of one command, in milliseconds.
std::optional<double> runCommand(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const auto start = Clock::now();
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return std::nullopt;
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return msSince(start);
}

struct OneCapture {
  double preview = 0, payload = 0;
  std::optional<CapturePayload> result;
  std::string error;
};

OneCapture captureOnce(const platform::RunningApplication& application) {
  OneCapture one;
  const auto start = Clock::now();
  std::optional<WindowCapture::CaptureResult> result;
  // As the capture flow does: the preview is made on the main thread as soon as
  // the screenshot is there.
  auto onImage = [&](const platform::Image& image, const std::string&) {
    auto preview = WindowCapture::snapshotDataURL(image, 640);
    one.preview = msSince(start);
    if (!preview) one.error = "no preview";
  };
  [](platform::RunningApplication application, WindowCapture::ImageHandler handler,
     std::optional<WindowCapture::CaptureResult>& out) -> Task<void> {
    out = co_await WindowCapture::capture(std::move(application), std::move(handler));
    platform::current().runLoop->quit();
  }(application, onImage, result)
                                                              .detach();
  platform::current().runLoop->run();
  one.payload = msSince(start);
  if (auto* payload = std::get_if<CapturePayload>(&*result)) {
    one.result = std::move(*payload);
  } else {
    one.error = std::get<CaptureFailure>(*result).description();
  }
  return one;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: capture_bench WIDTH HEIGHT [RUNS]\n");
    return 2;
  }
  const int width = std::atoi(argv[1]), height = std::atoi(argv[2]);
  const int runs = argc > 3 ? std::atoi(argv[3]) : 7;

  auto services = platform::makePlatform();
  services->accessibility = std::make_unique<NoAccessibility>();
  platform::install(std::move(services));

  Window window = openWindow(width, height);
  if (window.pid <= 0 || window.xid.empty()) {
    std::fprintf(stderr, "capture_bench: the busy window did not open\n");
    return 1;
  }
  const platform::RunningApplication application{window.pid, "Busy window", "busy_window"};
  // A compositor may give the window the focus a little after it shows (KWin on a
  // loaded machine); the helper, running already, would have learnt the window in front.
  for (const auto end = Clock::now() + std::chrono::seconds(5); Clock::now() < end;) {
    auto front = platform::current().workspace->frontmostApplication();
    if (front && front->pid == window.pid) break;
    usleep(20000);
  }
  const double baseline = peakResidentMB();

  const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
  const bool kwin = desktop && std::string(desktop) == "KDE";
  Figures preview, payload, plain;
  std::optional<CapturePayload> last;
  for (int run = 0; run < runs; ++run) {
    // On KWin, a plain client of ScreenShot2 (the active window's pixels and a PNG)
    // takes turns with the helper's capture: both meet the same load.
    if (kwin) {
      if (auto ms = bench::kwinPlainShotMs()) plain.add(*ms);
    }
    OneCapture one = captureOnce(application);
    if (!one.error.empty()) {
      std::fprintf(stderr, "capture_bench: %s\n", one.error.c_str());
      kill(window.pid, SIGTERM);
      waitpid(window.pid, nullptr, 0);
      return 1;
    }
    preview.add(one.preview);
    payload.add(one.payload);
    last = std::move(one.result);
  }
  const double peak = peakResidentMB();

  // Where the time goes: each step alone, on this thread.
  std::optional<Rect> frame;  // the window's, as the list gave it
  {
    auto& screen = *platform::current().screenCapture;
    Figures list, shot, png, pngCpu, base64, jpeg, icon;
    std::size_t pngBytes = 0;
    for (int run = 0; run < runs; ++run) {
      auto start = Clock::now();
      auto content = screen.shareableContent(true, true);
      list.add(msSince(start));
      const auto* windows = std::get_if<platform::ShareableContent>(&content);
      if (!windows) break;
      auto found = std::find_if(windows->windows.begin(), windows->windows.end(),
                                [&](const auto& w) { return w.owningProcessID == window.pid; });
      if (found == windows->windows.end()) break;
      frame = found->frame;
      platform::StreamConfiguration configuration;
      configuration.width = last->image.width;
      configuration.height = last->image.height;
      start = Clock::now();
      auto image = screen.captureImage(screen.filter(*found), configuration);
      shot.add(msSince(start));
      const auto* pixels = std::get_if<platform::Image>(&image);
      if (!pixels) break;
      start = Clock::now();
      const double cpuStart = processCpuMs();
      auto bytes = WindowCapture::pngData(*pixels);
      png.add(msSince(start));
      pngCpu.add(processCpuMs() - cpuStart);
      pngBytes = bytes ? bytes->size() : 0;
      start = Clock::now();
      auto text = platform::base64Encode(*bytes);
      base64.add(msSince(start));
      start = Clock::now();
      auto preview = WindowCapture::snapshotDataURL(*pixels, 640);
      jpeg.add(msSince(start));
      start = Clock::now();
      auto iconText = WindowCapture::iconBase64(application);
      icon.add(msSince(start));
    }
    std::printf(
        "  steps (median): window list %.1f ms, screenshot %.1f ms, PNG %.1f ms (CPU of all its threads %.1f "
        "ms, "
        "%zu bytes), Base64 %.1f ms, preview %.1f ms, icon %.1f ms\n",
        list.median(), shot.median(), png.median(), pngCpu.median(), pngBytes, base64.median(), jpeg.median(),
        icon.median());
  }

  // The "capture" line: the payload's own writer against the generic one.
  int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  Output::useDescriptor(devNull);
  const std::string captureId = "2F1E9C3A-7B4D-4E8F-9A6B-1C2D3E4F5A6B";
  Figures fastLine, genericLine;
  std::size_t lineBytes = 0;
  for (int run = 0; run < runs; ++run) {
    auto start = Clock::now();
    std::string line =
        "{\"type\":\"capture\",\"captureId\":\"" + captureId + "\",\"capture\":" + last->json() + "}";
    lineBytes = line.size() + 1;
    Output::sendLine(std::move(line));
    fastLine.add(msSince(start));
    Output::flush();

    start = Clock::now();
    Output::send(Message{{"type", "capture"}, {"captureId", captureId}, {"capture", last->message()}});
    genericLine.add(msSince(start));
    Output::flush();
  }

  std::printf("window %dx%d, screenshot %lldx%lld, PNG Base64 %.1f MB, %d runs (median / best)\n", width,
              height, static_cast<long long>(last->image.width), static_cast<long long>(last->image.height),
              static_cast<double>(last->image.base64.size()) / 1e6, runs);
  std::printf("  capture start -> JPEG preview: %7.1f ms / %7.1f ms\n", preview.median(), preview.best());
  std::printf("  capture start -> payload:      %7.1f ms / %7.1f ms\n", payload.median(), payload.best());
  std::printf(
      "  \"capture\" line, %zu bytes: payload writer + queue %.2f ms / %.2f ms; generic JSON writer + queue "
      "%.2f ms / %.2f ms\n",
      lineBytes, fastLine.median(), fastLine.best(), genericLine.median(), genericLine.best());
  std::printf("  peak resident memory: %.1f MB (%.1f MB before the first capture)\n", peak, baseline);

  // A screenshot of busy content: a PNG Base64 text of 4 MB.
  {
    CapturePayload busy = *last;
    std::vector<std::uint8_t> noise(3'000'000);
    std::uint32_t state = 12345;
    for (auto& byte : noise) byte = static_cast<std::uint8_t>((state = state * 1664525u + 1013904223u) >> 24);
    busy.image.base64 = platform::base64Encode(noise);
    Figures fast, generic;
    for (int run = 0; run < runs; ++run) {
      auto start = Clock::now();
      Output::sendLine("{\"type\":\"capture\",\"captureId\":\"" + captureId +
                       "\",\"capture\":" + busy.json() + "}");
      fast.add(msSince(start));
      Output::flush();
      start = Clock::now();
      Output::send(Message{{"type", "capture"}, {"captureId", captureId}, {"capture", busy.message()}});
      generic.add(msSince(start));
      Output::flush();
    }
    std::printf(
        "  \"capture\" line with a 4 MB Base64 text: payload writer + queue %.2f ms / %.2f ms; generic JSON "
        "writer + "
        "queue %.2f ms / %.2f ms\n",
        fast.median(), fast.best(), generic.median(), generic.best());
  }

  // On sway, grim of the same region: its copy of the screen and its PNG encode.
  if (std::getenv("WAYLAND_DISPLAY") && frame && !kwin) {
    Figures grim;
    char geometry[96];
    std::snprintf(geometry, sizeof geometry, "%.0f,%.0f %.0fx%.0f", frame->minX(), frame->minY(),
                  frame->width(), frame->height());
    for (int run = 0; run < runs; ++run) {
      auto ms = runCommand({"grim", "-g", geometry, "/tmp/capture_bench_grim.png"});
      if (!ms) break;
      grim.add(*ms);
    }
    if (grim.values.empty()) {
      std::printf("  grim -g: not available\n");
    } else {
      std::printf("  grim -g \"%s\" (PNG, whole process): %7.1f ms / %7.1f ms\n", geometry, grim.median(),
                  grim.best());
      unlink("/tmp/capture_bench_grim.png");
    }
  }

  if (kwin) {
    if (plain.values.empty()) {
      std::printf("  ScreenShot2 CaptureActiveWindow: refused or not available\n");
    } else {
      std::printf(
          "  ScreenShot2 CaptureActiveWindow + PNG (plain client, in process, taking turns): %7.1f ms / "
          "%7.1f ms\n",
          plain.median(), plain.best());
    }
  }

  Figures maim;
  for (int run = 0; run < runs && !std::getenv("WAYLAND_DISPLAY"); ++run) {
    auto ms = runCommand({"maim", "-i", window.xid, "/tmp/capture_bench_maim.png"});
    if (!ms) break;
    maim.add(*ms);
  }
  if (std::getenv("WAYLAND_DISPLAY")) {
  } else if (maim.values.empty()) {
    std::printf("  maim -i: not available\n");
  } else {
    std::printf("  maim -i (PNG only, whole process): %7.1f ms / %7.1f ms\n", maim.median(), maim.best());
    std::printf("  the capture without the walk takes 1/%.1f of maim's time (goal: 1/5 or less)\n",
                maim.median() / payload.median());
    unlink("/tmp/capture_bench_maim.png");
  }

  kill(window.pid, SIGTERM);
  waitpid(window.pid, nullptr, 0);
  return 0;
}
