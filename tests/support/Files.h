#pragma once

// Reading back what a test's helper wrote: a file's bytes, a PNG's pixels.

#include <filesystem>
#include <optional>
#include <string>

#include "Platform/Image.h"

namespace zoba::testing {

// The whole file; empty when it cannot be read.
std::string fileContents(const std::filesystem::path& path);
// The PNG file decoded; absent when it is missing or no PNG.
std::optional<platform::Image> readPng(const std::filesystem::path& path);

}  // namespace zoba::testing
