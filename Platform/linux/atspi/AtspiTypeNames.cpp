#include "Platform/linux/atspi/AtspiTypeNames.h"

namespace zoba::platform::linux_backend::atspi {

namespace {

bool isUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool isLower(char c) { return c >= 'a' && c <= 'z'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool looksLikeTypeName(std::string_view name) {
  // One identifier in upper camel case of at least two words: a lower-case letter
  // followed by a capital. Words people read ("OK", "Save", "Open File") fail.
  if (name.empty() || !isUpper(name.front())) return false;
  bool joinedWords = false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (!isUpper(c) && !isLower(c) && !isDigit(c)) return false;
    if (i > 0 && isUpper(c) && isLower(name[i - 1])) joinedWords = true;
  }
  return joinedWords;
}

}  // namespace zoba::platform::linux_backend::atspi
