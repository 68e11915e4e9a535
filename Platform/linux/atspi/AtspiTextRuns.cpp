#include "Platform/linux/atspi/AtspiTextRuns.h"

#include <algorithm>

namespace zoba::platform::linux_backend::atspi {

namespace {

constexpr std::string_view objectReplacement = "\xEF\xBF\xBC";  // U+FFFC in UTF-8

bool whiteSpaceOnly(std::string_view run) {
  // Gecko gives a non-breaking space (U+00A0) for &nbsp;.
  for (std::size_t i = 0; i < run.size(); ++i) {
    const char c = run[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') continue;
    if (run.substr(i, 2) == "\xC2\xA0") {
      ++i;
      continue;
    }
    return false;
  }
  return true;
}

}  // namespace

std::optional<std::vector<TextPiece>> textRuns(std::string_view text) {
  std::vector<TextPiece> pieces;
  bool other = false;
  auto addRun = [&](std::string_view run) {
    if (run.empty()) return;
    other = true;
    if (!whiteSpaceOnly(run)) pieces.push_back(TextPiece{false, std::string(run)});
  };
  std::size_t start = 0;
  for (std::size_t at = text.find(objectReplacement); at != std::string_view::npos;
       at = text.find(objectReplacement, start)) {
    addRun(text.substr(start, at - start));
    pieces.push_back(TextPiece{true, {}});
    start = at + objectReplacement.size();
  }
  addRun(text.substr(start));
  if (!other) return std::nullopt;
  return pieces;
}

std::string withoutObjects(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t start = 0;
  for (std::size_t at = text.find(objectReplacement); at != std::string_view::npos;
       at = text.find(objectReplacement, start)) {
    out.append(text.substr(start, at - start));
    start = at + objectReplacement.size();
  }
  out.append(text.substr(start));
  return out;
}

std::string runPath(const std::string& parentPath, std::size_t index) {
  return parentPath + "#" + std::to_string(index);
}

bool isRunPath(std::string_view path) { return path.find('#') != std::string_view::npos; }

}  // namespace zoba::platform::linux_backend::atspi
