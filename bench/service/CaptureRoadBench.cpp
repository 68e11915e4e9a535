// The road of one hotkey capture as a host sees it, a request answered while the
// accessibility walk runs, and the overlay's frame pace meanwhile.
// Run it on a desktop: scripts/headless-desktop.sh run -- build/default/bench/service/capture_road_bench
// [CHORDS] [--busy]; --busy keeps one core spinning in the bench throughout, the machine a
// person has while a build or a video runs beside the capture.
//
// Two windows: a small one (a list of 8 rows), and a large one whose 2,400 or so
// elements are all on screen at once (a grid filling the headless desktop's
// default 1920 x 1080 screen; the outline leaves out what is scrolled away, so a
// long list would not do). Each prints how many elements its outline named.
//
// The frames are watched from outside: the bench follows the helper's panel
// windows on the root and counts DAMAGE events on them (each frame the render
// thread sends is one burst of damage).
#include <unistd.h>
#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench/ax/WalkFigures.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopWindow.h"
#include "tests/support/Keyboard.h"

using namespace zoba::testing;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Figures {
  std::vector<double> values;
  void add(double value) { values.push_back(value); }
  void print(const char* name, const char* goal) {
    if (values.empty()) {
      std::printf("  %-34s (none)\n", name);
      return;
    }
    std::sort(values.begin(), values.end());
    std::printf("  %-34s median %7.1f ms  p90 %7.1f ms  min %7.1f  max %7.1f  (n=%zu)  %s\n", name,
                values[values.size() / 2], values[values.size() * 9 / 10], values.front(), values.back(),
                values.size(), goal);
  }
};

// Frames of the helper's panels, timed on arrival of their damage.
class FrameWatch {
 public:
  explicit FrameWatch(std::set<pid_t> pids) : pids_(std::move(pids)) {
    c_ = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c_)) return;
    const auto* damage = xcb_get_extension_data(c_, &xcb_damage_id);
    if (!damage || !damage->present) return;
    std::free(xcb_damage_query_version_reply(c_, xcb_damage_query_version(c_, 1, 1), nullptr));
    damageEvent_ = damage->first_event + XCB_DAMAGE_NOTIFY;
    root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    const char name[] = "_NET_WM_PID";
    auto* atom = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, sizeof name - 1, name), nullptr);
    if (atom) pidAtom_ = atom->atom;
    std::free(atom);
    const std::uint32_t mask[] = {XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY};
    xcb_change_window_attributes(c_, root_, XCB_CW_EVENT_MASK, mask);
    xcb_flush(c_);
    ok_ = true;
    thread_ = std::thread([this] { run(); });
  }
  ~FrameWatch() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    xcb_disconnect(c_);
  }
  bool ok() const { return ok_; }
  std::vector<Clock::time_point> frames() {
    std::lock_guard lock(mutex_);
    return frames_;
  }

 private:
  void run() {
    // Polled, so the destructor never waits; 0.3 ms is finer than any frame gap of interest.
    while (!stop_) {
      xcb_generic_event_t* event = xcb_poll_for_event(c_);
      if (!event) {
        if (xcb_connection_has_error(c_)) return;
        std::this_thread::sleep_for(std::chrono::microseconds(300));
        continue;
      }
      const auto at = Clock::now();
      const std::uint8_t type = event->response_type & 0x7F;
      if (type == XCB_MAP_NOTIFY) {
        auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
        if (map->override_redirect && isPanel(map->window)) {
          xcb_damage_create(c_, xcb_generate_id(c_), map->window, XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
          xcb_flush(c_);
        }
      } else if (type == damageEvent_) {
        std::lock_guard lock(mutex_);
        // The rectangles of one frame arrive together.
        if (frames_.empty() || at - frames_.back() > std::chrono::milliseconds(2)) frames_.push_back(at);
      }
      std::free(event);
    }
  }
  bool isPanel(xcb_window_t window) {
    auto* reply = xcb_get_property_reply(
        c_, xcb_get_property(c_, 0, window, pidAtom_, XCB_ATOM_CARDINAL, 0, 1), nullptr);
    bool ours = reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4 &&
                pids_.count(static_cast<pid_t>(*static_cast<std::uint32_t*>(xcb_get_property_value(reply))));
    std::free(reply);
    return ours;
  }

  std::set<pid_t> pids_;
  xcb_connection_t* c_ = nullptr;
  xcb_window_t root_ = 0;
  xcb_atom_t pidAtom_ = 0;
  std::uint8_t damageEvent_ = 0;
  bool ok_ = false;
  std::atomic<bool> stop_ = false;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<Clock::time_point> frames_;
};

struct Road {
  Clock::time_point chord;
  std::optional<Clock::time_point> hotkey, snapshot, capture, landed;
  std::vector<double> statusAnswers;  // ms, of each "status" sent while the capture ran
  std::size_t records = 0;            // lines of the outline: the header and the focus line left out
  bool truncated = false;
  double windowCpu = 0, helperCpu = 0;  // ms of processor time, chord to "capture"
};

// The elements the outline names, one a line below the header line.
std::size_t outlineRecords(const std::string& text) {
  std::size_t records = 0;
  for (std::size_t start = text.find('\n'); start != std::string::npos;) {
    const std::size_t end = text.find('\n', start + 1);
    const std::string_view line(text.data() + start + 1,
                                (end == std::string::npos ? text.size() : end) - start - 1);
    if (!line.empty() && !line.starts_with("The focused UI element is ")) ++records;
    start = end;
  }
  return records;
}

// Between the preview and the capture, where the walk runs, the host asks for
// "status" this often.
constexpr auto statusInterval = 10ms;

// One chord, the host answering "hotkey" at once with its card.
// The processor time of the helper's processes.
double cpuSeconds(const std::set<pid_t>& pids) {
  double sum = 0;
  for (pid_t pid : pids) sum += zoba::bench::processCpuSeconds(pid);
  return sum;
}

std::optional<Road> captureOnce(Keyboard& keyboard, ChildProcess& helper, const std::set<pid_t>& helperPids,
                                pid_t window) {
  Road road;
  const double windowCpu = zoba::bench::processCpuSeconds(window), helperCpu = cpuSeconds(helperPids);
  // The chord is complete with its second key, as in hotkey_latency_bench.
  keyboard.pressChord([&] { road.chord = Clock::now(); });
  const auto deadline = Clock::now() + 15s;
  std::optional<Clock::time_point> nextStatus;
  std::map<std::string, Clock::time_point> statusSent;
  while (!(road.capture && road.landed && statusSent.empty()) && Clock::now() < deadline) {
    const bool asking = nextStatus && !road.capture;
    const auto until = asking ? std::min(deadline, *nextStatus) : deadline;
    auto line = helper.readLine(
        std::max(0ms, std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now())));
    if (!line && asking && Clock::now() < deadline) {
      const std::string id = "status" + std::to_string(statusSent.size() + road.statusAnswers.size());
      helper.writeLine(json{{"type", "status"}, {"id", id}}.dump());
      statusSent[id] = Clock::now();
      *nextStatus += statusInterval;
      continue;
    }
    if (!line) break;
    const auto at = Clock::now();
    auto message = json::parse(*line, nullptr, false);
    const std::string type = message.value("type", "");
    if (type == "hotkey") {
      road.hotkey = at;
      if (message.value("target", "") != "capture") return std::nullopt;
      helper.writeLine(json{{"type", "captureTarget"},
                            {"id", "card"},
                            {"captureId", message["captureId"]},
                            {"frame", {{"x", 1500}, {"y", 900}, {"width", 160}, {"height", 96}}}}
                           .dump());
    } else if (type == "response" && statusSent.count(message.value("id", ""))) {
      auto sent = statusSent.extract(message.value("id", ""));
      road.statusAnswers.push_back(ms(at - sent.mapped()));
    } else if (type == "captureSnapshot") {
      road.snapshot = at;
      nextStatus = at + statusInterval;
    } else if (type == "capture") {
      road.capture = at;
      road.windowCpu = (zoba::bench::processCpuSeconds(window) - windowCpu) * 1000;
      road.helperCpu = (cpuSeconds(helperPids) - helperCpu) * 1000;
      const auto& payload = message["capture"];
      road.records = outlineRecords(payload.value("text", ""));
      road.truncated = payload.value("textTruncated", false);
    } else if (type == "captureLanded") {
      road.landed = at;
    } else if (type == "captureFailed") {
      std::fprintf(stderr, "captureFailed: %s\n", line->c_str());
      return std::nullopt;
    }
  }
  if (!road.capture || !road.landed) return std::nullopt;
  return road;
}

// The bench's GTK 3 window with `rows` rows of about 4 elements each and 30 more
// around them; a list scrolls its rows, a grid shows them all at once.
struct Window {
  Window(int rows, const char* layout)
      : process("/usr/bin/python3",
                {ZOBA_BENCH_AX_DIR "/gtk_window.py", "600", std::to_string(rows), "3", layout}) {
    ready = process.readLine(20s) == "ready" && waitUntilActive(process.pid(), 10s);
  }
  ChildProcess process;
  bool ready = false;
};

struct Pace {
  Figures firstFrame, longestGap, medianGap, walkGap, framesPerCapture;
};

void pace(const Road& road, const std::vector<Clock::time_point>& all, Pace& out) {
  std::vector<Clock::time_point> frames;
  for (auto at : all) {
    if (at >= road.chord && at <= *road.landed) frames.push_back(at);
  }
  out.framesPerCapture.add(double(frames.size()));
  if (!frames.empty()) out.firstFrame.add(ms(frames.front() - road.chord));
  if (frames.size() < 2) return;
  std::vector<double> gaps;
  double walkLongest = 0;
  for (std::size_t i = 1; i < frames.size(); ++i) {
    const double gap = ms(frames[i] - frames[i - 1]);
    gaps.push_back(gap);
    // The walk runs between the preview and the capture line.
    if (road.snapshot && frames[i] > *road.snapshot && frames[i - 1] < *road.capture)
      walkLongest = std::max(walkLongest, gap);
  }
  std::sort(gaps.begin(), gaps.end());
  out.longestGap.add(gaps.back());
  out.medianGap.add(gaps[gaps.size() / 2]);
  out.walkGap.add(walkLongest);
}

int run(int rows, const char* layout, int chords, const char* title, const char* captureGoal) {
  Keyboard keyboard;
  Window window(rows, layout);
  if (!window.ready) {
    std::fprintf(stderr, "the GTK window did not come up active\n");
    return 1;
  }
  ChildProcess helper(ZOBA_CAPTURE_PATH, {"--host-pid", std::to_string(::getpid())});
  if (!helper.readLine(10s)) return 1;  // "ready"
  std::set<pid_t> pids = {helper.pid()};
  for (pid_t child : childrenOf(helper.pid())) pids.insert(child);
  FrameWatch watch(pids);
  if (!watch.ok()) std::fprintf(stderr, "no DAMAGE extension: no frame figures\n");

  Figures hotkey, snapshot, capture, landed, walk, status, windowCpu, helperCpu;
  std::vector<std::size_t> records;
  int truncated = 0;
  Pace frames;
  for (int i = 0; i < chords; ++i) {
    auto road = captureOnce(keyboard, helper, pids, window.process.pid());
    if (!road) {
      std::fprintf(stderr, "chord %d: the road did not complete\n", i);
      return 1;
    }
    hotkey.add(ms(*road->hotkey - road->chord));
    if (road->snapshot) snapshot.add(ms(*road->snapshot - road->chord));
    capture.add(ms(*road->capture - road->chord));
    landed.add(ms(*road->landed - road->chord));
    if (road->snapshot) walk.add(ms(*road->capture - *road->snapshot));
    for (double answer : road->statusAnswers) status.add(answer);
    records.push_back(road->records);
    windowCpu.add(road->windowCpu);
    helperCpu.add(road->helperCpu);
    truncated += road->truncated ? 1 : 0;
    // The panels go after the landing; the next overlay opens new ones.
    for (auto end = Clock::now() + 3s; Clock::now() < end;) {
      int mapped = 0;
      for (pid_t pid : pids) mapped += mappedPanelCount(pid);
      if (!mapped) break;
      std::this_thread::sleep_for(5ms);
    }
    if (watch.ok()) pace(*road, watch.frames(), frames);
  }
  std::sort(records.begin(), records.end());
  std::printf(
      "%s (%d %s rows): the outline names %zu elements (fewest %zu, truncated in %d of %d), %d chords,"
      " the card answered at once:\n",
      title, rows, layout, records[records.size() / 2], records.front(), truncated, chords, chords);
  hotkey.print("chord -> hotkey", "goal <= 5 ms");
  snapshot.print("chord -> captureSnapshot", "goal <= 100 ms");
  capture.print("chord -> capture", captureGoal);
  landed.print("chord -> captureLanded", "nominal: reveal 100 ms + flight 320-500 ms");
  walk.print("captureSnapshot -> capture (walk)", "");
  status.print("status mid-capture -> answer", "goal <= 10 ms (sent every 10 ms, preview to capture)");
  // Whether the road waits for the window's application or for us (in the kernel's 10 ms ticks).
  windowCpu.print("window's processor time to capture",
                  "answering the walk, and painting what the overlay uncovers");
  helperCpu.print("helper's processor time to capture", "all its processes and threads");
  if (watch.ok()) {
    std::printf(" overlay frames seen from outside (DAMAGE on the panels), chord to landing:\n");
    auto& counts = frames.framesPerCapture.values;
    std::sort(counts.begin(), counts.end());
    std::printf("  %-34s median %.0f\n", "frames per capture",
                counts.empty() ? 0.0 : counts[counts.size() / 2]);
    frames.firstFrame.print("chord -> first frame", "the shutter; reveal at 100 ms");
    frames.medianGap.print("median frame interval", "60 Hz = 16.7 ms");
    frames.longestGap.print("longest frame interval", "");
    // layers_bench --busy times the frames alone.
    frames.walkGap.print("longest interval during the walk", "goal <= 33 ms at p90, one other core busy");
  }
  return 0;
}

// One core's worth of work at normal priority until destroyed.
class BusyCore {
 public:
  BusyCore()
      : thread_([this] {
          volatile std::uint64_t spins = 0;
          while (!stop_.load(std::memory_order_relaxed)) spins = spins + 1;
        }) {}
  ~BusyCore() {
    stop_ = true;
    thread_.join();
  }
  BusyCore(const BusyCore&) = delete;
  BusyCore& operator=(const BusyCore&) = delete;

 private:
  std::atomic<bool> stop_ = false;
  std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
  int chords = 25;
  bool busy = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--busy") {
      busy = true;
    } else {
      chords = std::max(1, std::atoi(argv[i]));
    }
  }
  Keyboard keyboard;
  if (!desktopAvailable() || !keyboard.connected()) {
    std::fprintf(stderr, "needs an X display with XTEST and /usr/bin/python3 with GTK\n");
    return 2;
  }
  std::optional<BusyCore> spinner;
  if (busy) {
    std::printf("one other core busy throughout\n");
    spinner.emplace();
  }
  // About 60 elements, then about 2,400, all on screen.
  if (int status = run(8, "list", chords, "small window", "goal <= 250 ms")) return status;
  return run(600, "grid", std::max(5, chords / 4), "large window", "goal <= 200 ms");
}
