#pragma once

// The signing label the build embeds in an executable: one ELF note in the section
// ".note.zoba.signing" whose owner is "Zoba" and whose descriptor holds the signing
// identifier and the team identifier as two NUL-terminated strings (an empty team
// means none). cmake/SigningLabel.cmake writes it.

#include <optional>
#include <string>

namespace zoba::platform::linux_backend {

inline constexpr char signingLabelOwner[] = "Zoba";
inline constexpr unsigned signingLabelType = 1;

struct SigningLabel {
  std::string identifier;
  std::string teamIdentifier;  // empty: no team
};

// Absent when the file cannot be read, is not a 64-bit ELF file or carries no label.
std::optional<SigningLabel> readSigningLabel(const std::string& path);

}  // namespace zoba::platform::linux_backend
