#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zoba::CallerPolicy {

inline constexpr std::string_view developmentIdentifierSuffix = ".dev";

// What the service knows about itself and its callers when it starts.
struct Facts {
  std::optional<std::string> signingIdentifier;
  std::optional<std::string> teamIdentifier;
  bool parentIsOwnLauncher = false;
  bool hostMatchesArgument = false;
  bool hostSignedBySameTeam = false;
};

// A development build needs only its own launcher as parent; a team build also
// needs the claimed host as grandparent, signed by the same team.
bool allows(const Facts& facts);

}  // namespace zoba::CallerPolicy
