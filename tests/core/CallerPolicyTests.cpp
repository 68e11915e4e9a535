#include <gtest/gtest.h>

#include "ZobaCaptureCore/CallerPolicy.h"

namespace zoba {
namespace {

struct PolicyCase {
  const char* name;
  CallerPolicy::Facts facts;
  bool allowed;
};

class CallerPolicyDecision : public testing::TestWithParam<PolicyCase> {};

TEST_P(CallerPolicyDecision, Decides) {
  EXPECT_EQ(CallerPolicy::allows(GetParam().facts), GetParam().allowed);
}

using F = CallerPolicy::Facts;
INSTANTIATE_TEST_SUITE_P(
    Table, CallerPolicyDecision,
    testing::Values(
        PolicyCase{"DevBuildThroughLauncher", F{"com.zoba.capture.dev", std::nullopt, true, false, false},
                   true},
        PolicyCase{"DevBuildWithoutLauncher", F{"com.zoba.capture.dev", std::nullopt, false, true, true},
                   false},
        PolicyCase{"SuffixInCapitals", F{"com.zoba.capture.DEV", std::nullopt, true, false, false}, false},
        PolicyCase{"SuffixThenMore", F{"com.zoba.capture.devx", std::nullopt, true, false, false}, false},
        PolicyCase{"JustSuffix", F{".dev", std::nullopt, true, false, false}, true},
        PolicyCase{"DevBuildIgnoresHost", F{"a.dev", "TEAM1", true, false, false}, true},
        PolicyCase{"TeamHostSigned", F{"com.zoba.capture", "TEAM1", true, true, true}, true},
        PolicyCase{"TeamHostUnsigned", F{"com.zoba.capture", "TEAM1", true, true, false}, false},
        PolicyCase{"TeamHostNotArgument", F{"com.zoba.capture", "TEAM1", true, false, true}, false},
        PolicyCase{"TeamWithoutLauncher", F{"com.zoba.capture", "TEAM1", false, true, true}, false},
        PolicyCase{"NoTeamBothTrue", F{"com.zoba.capture", std::nullopt, true, true, true}, false},
        PolicyCase{"NoSignatureAtAll", F{std::nullopt, std::nullopt, true, true, true}, false}),
    [](const testing::TestParamInfo<PolicyCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zoba
