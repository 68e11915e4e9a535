#pragma once

#include <nlohmann/json.hpp>

namespace zoba {

// One message or request: a JSON object (strings, booleans, integers, doubles,
// nested objects and lists).
using Message = nlohmann::json;

}  // namespace zoba
