#include "tests/support/Soak.h"

#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>

#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopWindow.h"
#include "tests/support/Keyboard.h"
#include "tests/support/PanelWindows.h"

namespace zoba::testing {

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

int entriesIn(const std::string& directory) {
  std::error_code error;
  int count = 0;
  for (auto it = std::filesystem::directory_iterator(directory, error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error))
    ++count;
  return count;
}

// Every window below the root (depth first) whose _NET_WM_PID is `pid`.
int windowsOf(pid_t pid) {
  std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> c(xcb_connect(nullptr, nullptr),
                                                                 &xcb_disconnect);
  if (xcb_connection_has_error(c.get())) return -1;
  auto* atomReply = xcb_intern_atom_reply(c.get(), xcb_intern_atom(c.get(), 0, 11, "_NET_WM_PID"), nullptr);
  if (!atomReply) return -1;
  const xcb_atom_t atom = atomReply->atom;
  std::free(atomReply);
  std::vector<xcb_window_t> pending{xcb_setup_roots_iterator(xcb_get_setup(c.get())).data->root};
  int count = 0;
  while (!pending.empty()) {
    const xcb_window_t window = pending.back();
    pending.pop_back();
    if (auto* tree = xcb_query_tree_reply(c.get(), xcb_query_tree(c.get(), window), nullptr)) {
      const xcb_window_t* children = xcb_query_tree_children(tree);
      pending.insert(pending.end(), children, children + xcb_query_tree_children_length(tree));
      std::free(tree);
    }
    if (auto* property = xcb_get_property_reply(
            c.get(), xcb_get_property(c.get(), 0, window, atom, XCB_ATOM_CARDINAL, 0, 1), nullptr)) {
      if (xcb_get_property_value_length(property) == 4 &&
          *static_cast<const std::uint32_t*>(xcb_get_property_value(property)) ==
              static_cast<std::uint32_t>(pid))
        ++count;
      std::free(property);
    }
  }
  return count;
}

}  // namespace

ProcessResources resourcesOf(pid_t pid) {
  ProcessResources resources;
  const std::string proc = "/proc/" + std::to_string(pid);
  std::ifstream status(proc + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) resources.residentKiB = std::atol(line.c_str() + 6);
  }
  resources.descriptors = entriesIn(proc + "/fd");
  resources.threads = entriesIn(proc + "/task");
  resources.xWindows = windowsOf(pid);
  std::ifstream maps(proc + "/maps");
  for (std::string line; std::getline(maps, line);) {
    if (line.find("/SYSV") != std::string::npos) ++resources.shmSegments;
  }
  return resources;
}

SoakResult soak(const std::string& helperPath, int count, int sampleAt,
                const std::function<void(int)>& progress) {
  SoakResult result;
  auto problem = [&](std::string text) {
    if (result.problems.size() < 20) result.problems.push_back(std::move(text));
  };
  Keyboard keyboard;
  DesktopWindow window({"--title", "Soak", "--form"});
  if (!keyboard.connected() || !window.pid()) {
    problem("no desktop: XTEST or the GTK window is missing");
    return result;
  }
  ChildProcess helper(helperPath, {"--host-pid", std::to_string(::getpid())});
  auto ready = helper.readLine();
  auto children = childrenOf(helper.pid());
  if (!ready || children.size() != 1) {
    problem("the helper did not start");
    return result;
  }
  const pid_t service = children.front();
  // Settled: the overlay's panels are gone (bounded).
  auto settle = [&] {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!mappedPanelsOf(service).empty() && Clock::now() < deadline) ::usleep(5'000);
  };

  std::set<std::string> ids;
  const auto started = Clock::now();
  for (int round = 1; round <= count; ++round) {
    if (!(keyboard.pressChord())) {
      problem("XTEST failed at capture " + std::to_string(round));
      break;
    }
    std::string id;
    bool animated = false, ended = false, landed = false, failed = false;
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (!(ended && (landed || !animated || failed)) && Clock::now() < deadline) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      auto line = helper.readLine(left);
      if (!line) break;
      auto message = json::parse(*line, nullptr, false);
      const std::string type = message.value("type", "");
      if (type == "hotkey") {
        if (message.value("target", "") != "capture") {
          problem("capture " + std::to_string(round) + ": hotkey for " + message.value("target", ""));
          continue;
        }
        id = message.value("captureId", "");
        animated = message.value("animated", false);
        ++result.captures;
        if (animated) ++result.animated;
        if (!ids.insert(id).second) ++result.duplicateIds;
        helper.writeLine(json{{"type", "captureTarget"},
                              {"id", "card-" + std::to_string(round)},
                              {"captureId", id},
                              {"frame", {{"x", 1500}, {"y", 860}, {"width", 160}, {"height", 96}}}}
                             .dump());
      } else if (type == "capture" || type == "captureFailed") {
        if (message.value("captureId", "") != id)
          problem("capture " + std::to_string(round) + ": a stray " + type);
        ended = true;
        failed = type == "captureFailed";
        ++result.ended;
        if (failed) ++result.failed;
      } else if (type == "captureLanded") {
        if (message.value("captureId", "") != id)
          problem("capture " + std::to_string(round) + ": a stray landing");
        landed = true;
        ++result.landed;
      }
    }
    if (id.empty()) {
      problem("capture " + std::to_string(round) + ": no hotkey");
      break;
    }
    if (!ended || (animated && !failed && !landed)) {
      problem("capture " + std::to_string(round) + ": did not end and land");
      break;
    }
    if (round == 1 || round == sampleAt || round == count) {
      settle();
      // The helper hands freed memory back about a second after a capture ends:
      // the least resident size over the next two seconds is what it holds.
      auto resources = resourcesOf(service);
      for (const auto until = Clock::now() + std::chrono::seconds(2); Clock::now() < until;) {
        ::usleep(50'000);
        resources.residentKiB = std::min(resources.residentKiB, resourcesOf(service).residentKiB);
      }
      if (round == 1) result.first = resources;
      if (round == sampleAt) result.atSample = resources;
      if (round == count) result.last = resources;
    } else {
      // Panels of the last capture may still fade; the next overlay opens its own.
      settle();
    }
    if (progress) progress(round);
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  helper.closeStdin();
  if (helper.wait(std::chrono::seconds(10)) != 0) problem("the helper did not end with 0");
  return result;
}

}  // namespace zoba::testing
