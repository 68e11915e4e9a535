#pragma once

// What the browser walk benchmarks share: a browser or server in a process group
// of its own, the benchmark page, and the timed walks with their table.
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Platform.h"
#include "Platform/linux/atspi/AtspiStats.h"
#include "ZobaCapture/AXTree.h"
#include "bench/ax/WalkFigures.h"

namespace zoba::bench {

using namespace std::chrono_literals;

// A child in a process group of its own, so that the browser's helpers go with it.
class Child {
 public:
  explicit Child(const std::vector<std::string>& argv) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      dup2(out[1], 1);
      dup2(out[1], 2);
      close(out[0]);
      close(out[1]);
      std::vector<char*> args;
      for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
  }
  ~Child() {
    if (out_ >= 0) close(out_);
    if (pid_ <= 0) return;
    kill(-pid_, SIGTERM);
    for (int i = 0; i < 50 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i) std::this_thread::sleep_for(100ms);
    if (waitpid(pid_, nullptr, WNOHANG) == 0) {
      kill(-pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  // The first output line matching `pattern` within `seconds`.
  std::optional<std::smatch> waitFor(const std::regex& pattern, int seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < until) {
      pollfd ready{out_, POLLIN, 0};
      if (poll(&ready, 1, 100) <= 0) continue;
      char ch;
      if (read(out_, &ch, 1) != 1) return std::nullopt;
      if (ch != '\n') {
        line_.push_back(ch);
        continue;
      }
      lines_.push_back(std::move(line_));
      line_.clear();
      std::smatch match;
      if (std::regex_search(lines_.back(), match, pattern)) return match;
    }
    return std::nullopt;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string line_;
  std::vector<std::string> lines_;
};

// About `blocks` times 20 elements: headings, paragraphs with inline links and
// emphasis, lists, form fields with placeholders, buttons, and every fourth block
// a check box, a slider and (with `dropDowns`) a drop-down.
inline std::string page(int blocks, bool dropDowns = true) {
  std::string html =
      "<!doctype html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>Walk benchmark "
      "page</title></head>"
      "<body><h1>Walk benchmark</h1>\n";
  for (int i = 0; i < blocks; ++i) {
    const std::string n = std::to_string(i);
    html += "<section><h2>Section " + n + "</h2>";
    html += "<p>Paragraph " + n + " starts here, <a href=\"/s" + n + ".html\">links to page " + n +
            "</a> and goes on with <em>emphasis</em> to its end.</p>";
    html += "<ul><li>First point " + n + "</li><li>Second point " + n + "</li><li>Third point " + n +
            "</li></ul>";
    html += "<label>Field " + n + " <input placeholder=\"Value " + n + "\"></label>";
    html += "<button>Apply " + n + "</button>";
    if (i % 4 == 0) html += "<input type=\"checkbox\" checked> <input type=\"range\" value=\"30\">";
    if (i % 4 == 0 && dropDowns)
      html += "<label>Choice " + n +
              " <select><option>One</option><option selected>Two</option></select></label>";
    html += "</section>\n";
  }
  html += "</body></html>\n";
  return html;
}

// The browser's application and its window once the page is built, within
// `seconds`; absent when it never comes.
struct BrowserPage {
  platform::AXElement app, window;
};
inline std::optional<BrowserPage> populatedPage(pid_t browser, double seconds) {
  auto& ax = *platform::current().accessibility;
  std::optional<platform::AXElement> app;
  for (int attempt = 0; attempt < static_cast<int>(seconds * 10); ++attempt) {
    if (!app) app = ax.applicationElement(browser);
    if (app) {
      ax.setMessagingTimeout(*app, 0.5);
      auto window = AXTree::element(*app, "AXFocusedWindow");
      if (!window) window = AXTree::element(*app, "AXMainWindow");
      if (window && AXTree::hasPopulatedWebArea(*window)) return BrowserPage{*app, *window};
    }
    std::this_thread::sleep_for(100ms);
  }
  return std::nullopt;
}

// The page is whole once two walks in a row see the same number of elements.
inline void waitForWholePage(const platform::AXElement& window, const platform::AXElement& app) {
  auto& clock = *platform::current().runLoop;
  std::size_t previous = 0;
  for (int attempt = 0; attempt < 30; ++attempt) {
    const std::size_t count = AXTree::snapshot(window, app, clock.now() + 30.0).nodes.size();
    if (count == previous && count > 0) break;
    previous = count;
    std::this_thread::sleep_for(500ms);
  }
}

// Five timed walks, each reading afresh, then one under the capture's deadline;
// with `printOutline`, every field of a whole walk, so that two builds' walks can
// be compared line by line.
inline void timeWalks(const platform::AXElement& window, const platform::AXElement& app, pid_t browser,
                      bool printOutline) {
  auto& ax = *platform::current().accessibility;
  auto& clock = *platform::current().runLoop;
  const auto* counter = dynamic_cast<const platform::linux_backend::atspi::CallCounter*>(&ax);
  printWalkHeader();
  for (int walk = 0; walk < 5; ++walk) {
    std::this_thread::sleep_for(1100ms);  // past the read-ahead's lifetime: every walk reads afresh
    const std::uint64_t callsBefore = counter ? counter->callsSent() : 0;
    const double started = clock.now();
    const double cpuBefore = cpuSeconds();
    const double browserBefore = processCpuSeconds(browser);
    AXSnapshot snapshot = AXTree::snapshot(window, app, started + 30.0);
    const double seconds = clock.now() - started;
    const double cpu = cpuSeconds() - cpuBefore;
    const double browserCpu = processCpuSeconds(browser) - browserBefore;
    const std::uint64_t calls = (counter ? counter->callsSent() : 0) - callsBefore;
    printWalkRow(std::to_string(walk + 1).c_str(), snapshot.nodes.size(), seconds, snapshot.timedOut, calls,
                 cpu, browserCpu);
  }
  std::this_thread::sleep_for(1100ms);
  const double started = clock.now();
  AXSnapshot bounded = AXTree::snapshot(window, app, started + 1.2);
  std::printf("with the 1.2 s deadline: %zu elements in %.1f ms, timedOut %s, url %s\n", bounded.nodes.size(),
              (clock.now() - started) * 1000.0, bounded.timedOut ? "yes" : "no",
              bounded.url.value_or("none").c_str());
  if (!printOutline) return;
  auto text = [](const std::optional<std::string>& field) {
    return field ? "\"" + *field + "\"" : std::string("-");
  };
  for (const auto& node : AXTree::snapshot(window, app, clock.now() + 30.0).nodes) {
    std::printf("%*s%s rd=%s t=%s v=%s d=%s p=%s u=%s%s%s%s\n", static_cast<int>(node.depth * 2), "",
                node.role.c_str(), text(node.roleDescription).c_str(), text(node.title).c_str(),
                text(node.value).c_str(), text(node.description).c_str(), text(node.placeholder).c_str(),
                text(node.url).c_str(), node.settable ? " settable" : "", node.selected ? " selected" : "",
                node.focused ? " focused" : "");
  }
}

}  // namespace zoba::bench
