#include "ZobaCaptureCore/AXNodeRecord.h"

#include "ZobaCaptureCore/UnicodeText.h"

namespace zoba {

namespace {
bool sameText(const std::optional<std::string>& a, const std::optional<std::string>& b) {
  if (!a || !b) return a.has_value() == b.has_value();
  return UnicodeText::canonicallyEqual(*a, *b);
}
}  // namespace

bool operator==(const AXNodeRecord& a, const AXNodeRecord& b) {
  return a.depth == b.depth && UnicodeText::canonicallyEqual(a.role, b.role) &&
         sameText(a.roleDescription, b.roleDescription) && sameText(a.title, b.title) &&
         sameText(a.value, b.value) && sameText(a.description, b.description) &&
         sameText(a.placeholder, b.placeholder) && sameText(a.url, b.url) && a.settable == b.settable &&
         a.selected == b.selected && a.focused == b.focused && a.onScreen == b.onScreen;
}

}  // namespace zoba
