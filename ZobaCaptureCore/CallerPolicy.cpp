#include "ZobaCaptureCore/CallerPolicy.h"

namespace zoba::CallerPolicy {

bool allows(const Facts& facts) {
  if (!facts.parentIsOwnLauncher) return false;
  if (facts.signingIdentifier && facts.signingIdentifier->ends_with(developmentIdentifierSuffix)) {
    return true;
  }
  if (facts.teamIdentifier && facts.hostMatchesArgument) return facts.hostSignedBySameTeam;
  return false;
}

}  // namespace zoba::CallerPolicy
