#include "ZobaCapture/Utf8.h"

#include "ZobaCaptureCore/UnicodeText.h"

namespace zoba::Utf8 {

std::string replacingInvalid(std::string_view bytes) {
  std::string storage;
  const std::string_view text = UnicodeText::wellFormed(bytes, storage);
  // Well-formed text comes back as itself, anything else as the repaired copy.
  if (text.data() == bytes.data()) return std::string(bytes);
  return storage;
}

}  // namespace zoba::Utf8
