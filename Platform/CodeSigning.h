#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zoba::platform {

// The signing information of the helper's own executable.
struct SigningInformation {
  std::optional<std::string> identifier;
  std::optional<std::string> teamIdentifier;
};

// A running process as seen by the code-signing service, with the signing
// information its executable carries (absent when it carries none).
struct GuestCode {
  std::int32_t pid = 0;
  std::optional<SigningInformation> signing;
};

// A parsed requirement text.
struct Requirement {
  std::string text;
  std::string teamIdentifier;  // the leaf certificate's organisational unit it demands
};

class CodeSigning {
 public:
  virtual ~CodeSigning() = default;
  // Absent when the helper's own executable carries no signing information.
  virtual std::optional<SigningInformation> ownSigningInformation() = 0;
  // Absent when there is no such process or its executable cannot be read.
  virtual std::optional<GuestCode> guest(std::int32_t pid) = 0;
  // Absent when the text is not a requirement this service understands.
  virtual std::optional<Requirement> requirement(std::string_view text) = 0;
  // 0 when the guest satisfies the requirement, otherwise a non-zero status.
  virtual int checkValidity(const GuestCode& guest, const Requirement& requirement) = 0;
};

}  // namespace zoba::platform
