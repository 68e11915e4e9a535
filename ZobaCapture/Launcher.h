#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The launcher role: respawns the executable as the service with the disclaim
// attribute and the inherited standard streams, and mirrors its end.
namespace zoba::Launcher {

// The service's argument vector: `executablePath`, every argument after the first,
// then "--service".
std::vector<std::string> childArguments(const std::string& executablePath,
                                        const std::vector<std::string>& arguments);

// Waits for the service and returns its exit code, or 128 + the signal that killed it;
// 70 without an executable path, 71 when the spawn fails.
std::int32_t runDisclaimed(const std::vector<std::string>& arguments);

}  // namespace zoba::Launcher
