#pragma once

#include <cstdint>

// Who may talk to the service: its own launcher as parent, and for a team build the
// claimed host as grandparent, labelled by the same team.
namespace zoba::CallerCheck {

// Gathers the facts from the platform and asks CallerPolicy.
bool allows(std::int32_t hostPid);

}  // namespace zoba::CallerCheck
