// Walks a large web page in a real Firefox ESR in full detail and prints elements,
// milliseconds, D-Bus calls per element and elements per second. Gecko keeps the
// words of a paragraph in its Text interface, so this walk also pays for the text
// runs; the page is the Chromium benchmark's. Firefox runs with a private profile
// on the desktop's display and joins the accessibility bus because the desktop
// switched accessibility on before it started.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Platform/linux/Backends.h"
#include "bench/ax/WebBench.h"
#include "tests/support/FirefoxProfile.h"

using namespace zoba;
using namespace zoba::bench;
namespace fs = std::filesystem;

int main(int argc, char** argv) {
  const int blocks = argc > 1 ? std::atoi(argv[1]) : 185;
  const bool printOutline = argc > 2 && std::string(argv[2]) == "--print";
  const char* firefox = "/usr/bin/firefox-esr";
  if (access(firefox, X_OK) != 0) {
    std::fprintf(stderr, "ax_firefox_bench: needs %s\n", firefox);
    return 1;
  }
  const fs::path directory = fs::temp_directory_path() / ("zoba-ax-firefox-" + std::to_string(getpid()));
  fs::create_directories(directory / "site");
  std::ofstream(directory / "site" / "index.html") << page(blocks);
  zoba::testing::writeQuietFirefoxProfile(directory / "profile");

  int status = 1;
  {
    Child server({"/usr/bin/python3", "-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory",
                  (directory / "site").string()});
    auto port = server.waitFor(std::regex("port ([0-9]+)"), 10);
    if (!port) {
      std::fprintf(stderr, "ax_firefox_bench: the web server did not start\n");
      fs::remove_all(directory);
      return 1;
    }
    const std::string url = "http://127.0.0.1:" + (*port)[1].str() + "/index.html";
    Child browser({firefox, "--no-remote", "--new-instance", "--profile", (directory / "profile").string(),
                   "--width", "1024", "--height", "768", url});

    platform::install(platform::makePlatform());
    // The browser's window with its page built (Firefox's first start takes a while).
    auto shown = populatedPage(browser.pid(), 90);
    if (!shown) {
      std::fprintf(stderr, "ax_firefox_bench: no populated page on the accessibility bus\n");
    } else {
      waitForWholePage(shown->window, shown->app);
      std::printf("Firefox page, %d blocks\n", blocks);
      timeWalks(shown->window, shown->app, browser.pid(), printOutline);
      status = 0;
    }
  }
  fs::remove_all(directory);
  return status;
}
