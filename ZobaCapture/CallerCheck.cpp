#include "ZobaCapture/CallerCheck.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "Platform/Platform.h"
#include "ZobaCaptureCore/CallerPolicy.h"

namespace zoba::CallerCheck {

namespace {

std::optional<platform::SigningInformation> ownSignature() {
  return platform::current().codeSigning->ownSigningInformation();
}

std::optional<std::string> executablePath(std::int32_t pid) {
  return platform::current().process->executablePath(pid);
}

// Letters of any script and numbers only: the identifier goes into a requirement text
// between quotes.
bool isLettersAndNumbers(const std::string& text) {
  const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
  auto length = static_cast<std::int32_t>(text.size());
  std::int32_t at = 0;
  while (at < length) {
    UChar32 c;
    U8_NEXT(data, at, length, c);
    if (c < 0 || (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_N_MASK)) == 0) return false;
  }
  return true;
}

bool isSigned(std::int32_t pid, const std::string& team) {
  if (!isLettersAndNumbers(team)) return false;
  auto& codeSigning = *platform::current().codeSigning;
  auto guest = codeSigning.guest(pid);
  if (!guest) return false;
  auto requirement =
      codeSigning.requirement("anchor apple generic and certificate leaf[subject.OU] = \"" + team + "\"");
  if (!requirement) return false;
  return codeSigning.checkValidity(*guest, *requirement) == 0;
}

}  // namespace

bool allows(std::int32_t hostPid) {
  std::int32_t parent = ::getppid();
  auto parentInfo = platform::current().process->info(parent);
  std::int32_t grandparent = parentInfo ? parentInfo->parentPid : 0;

  auto signature = ownSignature();
  std::optional<std::string> teamIdentifier = signature ? signature->teamIdentifier : std::nullopt;
  auto ownPath = executablePath(::getpid());
  std::optional<std::string> signingIdentifier = signature ? signature->identifier : std::nullopt;

  bool parentIsOwnLauncher = false;
  if (ownPath) {
    auto parentPath = executablePath(parent);
    parentIsOwnLauncher = parentPath && *parentPath == *ownPath;
  }
  bool hostSignedBySameTeam = parentInfo && teamIdentifier && isSigned(grandparent, *teamIdentifier);
  bool hostMatchesArgument = parentInfo && grandparent == hostPid;

  return CallerPolicy::allows(CallerPolicy::Facts{signingIdentifier, teamIdentifier, parentIsOwnLauncher,
                                                  hostMatchesArgument, hostSignedBySameTeam});
}

}  // namespace zoba::CallerCheck
