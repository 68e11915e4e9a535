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

std::string terminalRows(std::string_view text, std::size_t maxRows) {
  const auto blank = [](char c) { return c == '\n' || c == ' ' || c == '\r' || c == '\t'; };
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  // Walk back over the line breaks: the one before the first kept line ends the walk.
  std::size_t start = text.size();
  for (std::size_t breaks = 0; breaks < maxRows; ++breaks) {
    const std::size_t previous = start == 0 ? std::string_view::npos : text.rfind('\n', start - 1);
    if (previous == std::string_view::npos) return std::string(text);
    start = previous;
  }
  return std::string(text.substr(start + 1));
}

std::string runPath(const std::string& parentPath, std::size_t index) {
  return parentPath + "#" + std::to_string(index);
}

bool isRunPath(std::string_view path) { return path.find('#') != std::string_view::npos; }

}  // namespace zoba::platform::linux_backend::atspi
