// The facts the caller check gathers from the platform, seen through its decision.
#include <gtest/gtest.h>
#include <unistd.h>

#include "ZobaCapture/CallerCheck.h"
#include "tests/fakes/FakePlatform.h"

namespace zoba {
namespace {

constexpr const char* helperPath = "/opt/zoba/zoba-capture";
constexpr std::int32_t hostPid = 4242;

class CallerCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // This test process plays the service; its parent plays the launcher.
    fake.process.paths[::getpid()] = helperPath;
    fake.process.paths[::getppid()] = helperPath;
    fake.process.parents[::getppid()] = hostPid;
    fake.codeSigning.guests[hostPid] = {"com.zoba.host", "TEAM1"};
  }
  void team(std::optional<std::string> identifier, std::optional<std::string> team) {
    fake.codeSigning.own = platform::SigningInformation{std::move(identifier), std::move(team)};
  }

  fakes::FakePlatform fake = fakes::installFakePlatform();
};

TEST_F(CallerCheckTest, DevelopmentBuildNeedsOnlyItsOwnLauncher) {
  team("com.zoba.capture.dev", std::nullopt);
  EXPECT_TRUE(CallerCheck::allows(0));
  EXPECT_EQ(fake.codeSigning.calls, 0);  // no team: the host's signature is never asked for
  fake.process.paths[::getppid()] = "/usr/bin/bash";
  EXPECT_FALSE(CallerCheck::allows(0));
  fake.process.paths.erase(::getppid());
  EXPECT_FALSE(CallerCheck::allows(0));
}

TEST_F(CallerCheckTest, ParentPathComparedOnlyWhenOwnPathIsKnown) {
  team("com.zoba.capture.dev", std::nullopt);
  fake.process.paths.erase(::getpid());
  EXPECT_FALSE(CallerCheck::allows(0));
}

TEST_F(CallerCheckTest, DevelopmentSuffixIsExact) {
  for (const char* identifier : {"com.zoba.capture.DEV", "com.zoba.capture.devx", "com.zoba.capture"}) {
    team(identifier, std::nullopt);
    EXPECT_FALSE(CallerCheck::allows(hostPid)) << identifier;
  }
}

TEST_F(CallerCheckTest, TeamBuildNeedsTheClaimedHostAsGrandparentSignedByTheTeam) {
  team("com.zoba.capture", "TEAM1");
  EXPECT_TRUE(CallerCheck::allows(hostPid));
  EXPECT_EQ(fake.codeSigning.requirementTexts.back(),
            R"(anchor apple generic and certificate leaf[subject.OU] = "TEAM1")");
  EXPECT_FALSE(CallerCheck::allows(hostPid + 1));  // another pid claimed

  fake.codeSigning.guests[hostPid] = {"com.other", "TEAM2"};
  EXPECT_FALSE(CallerCheck::allows(hostPid));  // the grandparent is of another team
  fake.codeSigning.guests.erase(hostPid);
  EXPECT_FALSE(CallerCheck::allows(hostPid));  // no such guest
}

TEST_F(CallerCheckTest, UnreadableParentInformationRefusesATeamBuild) {
  team("com.zoba.capture", "TEAM1");
  fake.process.parents.erase(::getppid());
  EXPECT_FALSE(CallerCheck::allows(0));  // the grandparent counts as 0, yet the information was not read
  EXPECT_FALSE(CallerCheck::allows(hostPid));
  EXPECT_EQ(fake.codeSigning.calls, 0);
}

TEST_F(CallerCheckTest, NoSignatureRefuses) {
  fake.codeSigning.own.reset();
  EXPECT_FALSE(CallerCheck::allows(hostPid));
}

TEST_F(CallerCheckTest, TeamOfAnythingButLettersAndNumbersIsNeverLookedUp) {
  for (const char* bad : {"TE\"AM", "TEAM 1", "TEAM]", "TE-AM", "\xff"}) {
    team("com.zoba.capture", bad);
    fake.codeSigning.guests[hostPid] = {"com.zoba.host", bad};
    fake.codeSigning.calls = 0;
    EXPECT_FALSE(CallerCheck::allows(hostPid)) << bad;
    EXPECT_EQ(fake.codeSigning.calls, 0) << bad;
  }
  // Letters of any script and other numerals pass the check.
  team("com.zoba.capture", "ÉQUIPEΩ٣");
  fake.codeSigning.guests[hostPid] = {"com.zoba.host", "ÉQUIPEΩ٣"};
  EXPECT_TRUE(CallerCheck::allows(hostPid));
}

}  // namespace
}  // namespace zoba
