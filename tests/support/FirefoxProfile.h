// A private Firefox profile for tests and benchmarks.
#pragma once

#include <filesystem>
#include <fstream>

namespace zoba::testing {

// Makes `profile` a quiet profile: no first-run pages, no questions, no session
// to restore after a kill.
inline void writeQuietFirefoxProfile(const std::filesystem::path& profile) {
  std::filesystem::create_directories(profile);
  std::ofstream(profile / "user.js")
      << "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
         "user_pref(\"browser.startup.homepage_override.mstone\", \"ignore\");\n"
         "user_pref(\"browser.aboutwelcome.enabled\", false);\n"
         "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n"
         "user_pref(\"toolkit.telemetry.reportingpolicy.firstRun\", false);\n"
         "user_pref(\"browser.sessionstore.resume_from_crash\", false);\n";
}

}  // namespace zoba::testing
