#pragma once

#include <string>

namespace zoba::CaptureId {

// A fresh random UUID as 36 upper-case characters in groups 8-4-4-4-12: the name
// of one capture in every message about it.
std::string make();

}  // namespace zoba::CaptureId
