#include "ZobaCapture/RequestParser.h"

namespace zoba {

namespace {

bool nestsDeeperThan(std::string_view text, std::size_t limit) {
  std::size_t depth = 0;
  bool inString = false;
  bool escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return true;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return false;
}

}  // namespace

std::optional<Message> parseRequest(std::string_view line) {
  if (nestsDeeperThan(line, maxRequestNesting)) return std::nullopt;
  Message request = Message::parse(line.begin(), line.end(), nullptr, /*allow_exceptions=*/false);
  if (request.is_discarded() || !request.is_object()) return std::nullopt;
  auto type = request.find("type");
  if (type == request.end() || !type->is_string()) return std::nullopt;
  return request;
}

}  // namespace zoba
