// The two roles of the executable: the launcher respawns itself as the service and
// mirrors its end; the service serves only callers its policy accepts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <thread>

#include "CDisclaim/zoba_disclaim.h"
#include "tests/support/ChildProcess.h"

namespace zoba::testing {
namespace {

const ChildEnvironment headless{{"DISPLAY", "DBUS_SESSION_BUS_ADDRESS"}, {}};
constexpr const char* refusal = "zoba-capture: refusing a caller that is not Zoba";

// The service the launcher started: its only child, once it has exec'd.
pid_t serviceOf(const ChildProcess& launcher) {
  for (int attempt = 0; attempt < 500; ++attempt) {
    auto children = childrenOf(launcher.pid());
    if (children.size() == 1 && argumentsOf(children[0]).size() > 1) return children[0];
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

bool isReady(const std::optional<std::string>& line) {
  return line && line->find(R"("type":"ready")") != std::string::npos;
}

TEST(Launcher, RespawnsItselfWithTheArgumentsAndService) {
  ChildProcess launcher(ZOBA_CAPTURE_PATH,
                        {"--host-pid", "812", "--hotkey", "option", "--service=1", "-service"}, headless);
  ASSERT_TRUE(isReady(launcher.readLine()));
  pid_t service = serviceOf(launcher);
  ASSERT_GT(service, 0);
  std::string path = std::filesystem::canonical(ZOBA_CAPTURE_PATH);
  EXPECT_EQ(argumentsOf(service), (std::vector<std::string>{path, "--host-pid", "812", "--hotkey", "option",
                                                            "--service=1", "-service", "--service"}));
}

TEST(Launcher, ExitsWithTheServicesStatus) {
  ChildProcess launcher(ZOBA_CAPTURE_PATH, {}, headless);
  ASSERT_TRUE(isReady(launcher.readLine()));
  launcher.writeLine(R"({"type":"shutdown"})");
  EXPECT_EQ(launcher.wait(), 0);
}

TEST(Launcher, ServiceKilledBySignalGives128PlusSignal) {
  ChildProcess launcher(ZOBA_CAPTURE_PATH, {}, headless);
  ASSERT_TRUE(isReady(launcher.readLine()));
  pid_t service = serviceOf(launcher);
  ASSERT_GT(service, 0);
  ::kill(service, SIGKILL);
  EXPECT_EQ(launcher.wait(), 128 + SIGKILL);
}

TEST(Launcher, ForwardsTerminationSignalsAndMirrorsTheirEnd) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    ChildProcess launcher(ZOBA_CAPTURE_PATH, {}, headless);
    ASSERT_TRUE(isReady(launcher.readLine()));
    pid_t service = serviceOf(launcher);
    ASSERT_GT(service, 0);
    launcher.kill(signal);
    EXPECT_EQ(launcher.wait(), 128 + signal) << strsignal(signal);
    EXPECT_NE(::kill(service, 0), 0) << "the service outlived " << strsignal(signal);
  }
}

TEST(Launcher, WithoutTheDisclaimAttributeTheLaunchFails) {
  pid_t pid = 0;
  char* argv[] = {const_cast<char*>("/bin/true"), nullptr};
  EXPECT_EQ(zoba_spawn_disclaimed("/bin/true", argv, &pid), ENOTSUP);  // this test binary exports none
  EXPECT_EQ(pid, 0);

  ChildProcess launcher(ZOBA_CAPTURE_NODISCLAIM_PATH, {}, headless);
  EXPECT_EQ(launcher.readErrorLine(),
            "zoba-capture: disclaimed launch failed (" + std::to_string(ENOTSUP) + ")");
  EXPECT_EQ(launcher.wait(), 71);
  EXPECT_TRUE(launcher.stdoutEnds());
}

TEST(CallerCheck, ServiceStartedByAnythingButItsLauncherIsRefused) {
  for (const char* path : {ZOBA_CAPTURE_PATH, ZOBA_CAPTURE_TEAM_PATH}) {
    ChildProcess service(path, {"--service", "--host-pid", std::to_string(::getpid())}, headless);
    EXPECT_EQ(service.readErrorLine(), refusal) << path;
    EXPECT_EQ(service.wait(), 77) << path;
    EXPECT_TRUE(service.stdoutEnds()) << "nothing on standard output";
  }
}

TEST(CallerCheck, DevelopmentBuildNeedsOnlyItsLauncher) {
  ChildProcess launcher(ZOBA_CAPTURE_PATH, {"--host-pid", "1"}, headless);
  EXPECT_TRUE(isReady(launcher.readLine()));
}

TEST(CallerCheck, TeamBuildServesAHostOfItsTeamThatIsItsGrandparent) {
  ChildProcess host(ZOBA_TEST_HOST_PATH, {ZOBA_CAPTURE_TEAM_PATH, "self"}, headless);
  EXPECT_TRUE(isReady(host.readLine()));
  host.writeLine(R"({"type":"shutdown"})");
  EXPECT_EQ(host.wait(), 0);
}

TEST(CallerCheck, TeamBuildRefusesEveryOtherCaller) {
  struct Case {
    const char* what;
    std::string path;
    std::vector<std::string> arguments;
  };
  const std::vector<Case> cases = {
      {"a host of the team claiming another pid",
       ZOBA_TEST_HOST_PATH,
       {ZOBA_CAPTURE_TEAM_PATH, std::to_string(::getpid())}},
      {"a host of another team", ZOBA_TEST_HOST_FOREIGN_PATH, {ZOBA_CAPTURE_TEAM_PATH, "self"}},
      {"an unlabelled grandparent that is the claimed host",
       ZOBA_CAPTURE_TEAM_PATH,
       {"--host-pid", std::to_string(::getpid())}},
      {"no host pid at all", ZOBA_CAPTURE_TEAM_PATH, {}},
  };
  for (const auto& c : cases) {
    ChildProcess caller(c.path, c.arguments, headless);
    EXPECT_EQ(caller.readErrorLine(), refusal) << c.what;
    EXPECT_EQ(caller.wait(), 77) << c.what;
    EXPECT_TRUE(caller.stdoutEnds()) << c.what;
  }
}

}  // namespace
}  // namespace zoba::testing
