// Linux has no platform code signatures. The stand-in is the signing label the build
// embeds in each executable: it names the build, it proves nothing.
#include <string>

#include "Platform/linux/Backends.h"
#include "Platform/linux/process/SigningLabel.h"

namespace zoba::platform::linux_backend {

namespace {

constexpr std::string_view requirementPrefix = "anchor apple generic and certificate leaf[subject.OU] = \"";
constexpr int requirementFailed = -67050;  // the status a platform check reports for an unmet requirement

SigningInformation informationOf(const SigningLabel& label) {
  SigningInformation information;
  information.identifier = label.identifier;
  if (!label.teamIdentifier.empty()) information.teamIdentifier = label.teamIdentifier;
  return information;
}

class LabelCodeSigning final : public CodeSigning {
 public:
  std::optional<SigningInformation> ownSigningInformation() override {
    auto label = readSigningLabel("/proc/self/exe");
    if (!label) return std::nullopt;
    return informationOf(*label);
  }

  std::optional<GuestCode> guest(std::int32_t pid) override {
    if (pid <= 0) return std::nullopt;
    GuestCode code{pid, std::nullopt};
    if (auto label = readSigningLabel("/proc/" + std::to_string(pid) + "/exe")) {
      code.signing = informationOf(*label);
    }
    return code;
  }

  // Only the one form the caller check builds: the team of the leaf certificate.
  std::optional<Requirement> requirement(std::string_view text) override {
    if (text.size() <= requirementPrefix.size() || !text.starts_with(requirementPrefix) ||
        !text.ends_with('"')) {
      return std::nullopt;
    }
    auto team = text.substr(requirementPrefix.size(), text.size() - requirementPrefix.size() - 1);
    if (team.find('"') != std::string_view::npos) return std::nullopt;
    return Requirement{std::string(text), std::string(team)};
  }

  int checkValidity(const GuestCode& guest, const Requirement& requirement) override {
    bool satisfied = guest.signing && guest.signing->teamIdentifier &&
                     *guest.signing->teamIdentifier == requirement.teamIdentifier;
    return satisfied ? 0 : requirementFailed;
  }
};

}  // namespace

std::unique_ptr<CodeSigning> makeCodeSigning() { return std::make_unique<LabelCodeSigning>(); }

}  // namespace zoba::platform::linux_backend
