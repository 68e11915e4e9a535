// format() over a realistic 8000-record window at the real 40000 limit.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "ZobaCaptureCore/AXTreeFormatter.h"

namespace {

using zoba::AXNodeRecord;

std::vector<AXNodeRecord> window(bool asciiOnly) {
  const std::vector<std::string> texts =
      asciiOnly ? std::vector<std::string>{"Save", "Search the docs", "Quarterly report for the team",
                                           "hello   world", "Open in new tab"}
                : std::vector<std::string>{"Enregistrer la fiche", "検索ボックスに入力してください",
                                           "Ве́ра и 👩🏽‍💻 co‑workers",
                                           "Pastéis de nata\r\nà Lisboa", "한국어 텍스트 🇵🇹"};
  std::vector<AXNodeRecord> nodes;
  nodes.push_back(
      AXNodeRecord{.depth = 0, .role = "AXWindow", .roleDescription = "standard window", .title = texts[0]});
  std::size_t i = 0;
  while (nodes.size() < 8000) {
    const std::string& text = texts[i % texts.size()];
    switch (i % 6) {
      case 0: nodes.push_back({.depth = 1, .role = "AXGroup", .roleDescription = "group"}); break;
      case 1:
        nodes.push_back({.depth = 2, .role = "AXButton", .roleDescription = "button", .title = text});
        break;
      case 2:
        nodes.push_back({.depth = 2,
                         .role = "AXTextField",
                         .roleDescription = "text field",
                         .value = text,
                         .placeholder = "Search",
                         .settable = true});
        break;
      case 3:
        nodes.push_back({.depth = 2,
                         .role = "AXLink",
                         .roleDescription = "link",
                         .title = text,
                         .url = "https://example.org/docs/page-" + std::to_string(i)});
        break;
      case 4: nodes.push_back({.depth = 3, .role = "AXGroup"}); break;
      default:
        nodes.push_back({.depth = 3, .role = "AXStaticText", .roleDescription = "text", .value = text});
        break;
    }
    ++i;
  }
  return nodes;
}

void formatWindow(benchmark::State& state, bool asciiOnly) {
  const auto nodes = window(asciiOnly);
  for (auto _ : state) {
    auto outline = zoba::AXTreeFormatter::format(nodes, 40000);
    benchmark::DoNotOptimize(outline);
  }
  state.counters["ns_per_record"] =
      benchmark::Counter(static_cast<double>(nodes.size()) * state.iterations(),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK_CAPTURE(formatWindow, mixedUnicode8000, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(formatWindow, ascii8000, true)->Unit(benchmark::kMillisecond);
