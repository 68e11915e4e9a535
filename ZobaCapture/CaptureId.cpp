#include "ZobaCapture/CaptureId.h"

#include <uuid/uuid.h>

namespace zoba::CaptureId {

std::string make() {
  uuid_t uuid;
  uuid_generate_random(uuid);
  char text[37];  // 36 characters and the terminator
  uuid_unparse_upper(uuid, text);
  return std::string(text, 36);
}

}  // namespace zoba::CaptureId
