// Walks a large web page in a real Chromium in full detail and prints elements,
// milliseconds, D-Bus calls per element and elements per second. The page is
// served over the loopback; Chromium runs on the desktop's display and joins the
// accessibility bus because the desktop switched accessibility on before it started.
// Usage: ax_chromium_bench [blocks] [--print]; 130 blocks give about 3,500 elements,
// 300 about 8,000 (the walk's record cap).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Platform/linux/Backends.h"
#include "bench/ax/WebBench.h"

using namespace zoba;
using namespace zoba::bench;
namespace fs = std::filesystem;

int main(int argc, char** argv) {
  const int blocks = argc > 1 ? std::atoi(argv[1]) : 130;
  const bool printOutline = argc > 2 && std::string(argv[2]) == "--print";
  const char* chromium = "/usr/bin/chromium";
  if (access(chromium, X_OK) != 0) {
    std::fprintf(stderr, "ax_chromium_bench: needs %s\n", chromium);
    return 1;
  }
  const fs::path directory = fs::temp_directory_path() / ("zoba-ax-chromium-" + std::to_string(getpid()));
  fs::create_directories(directory / "site");
  std::ofstream(directory / "site" / "index.html") << page(blocks, false);  // the page it has always walked

  int status = 1;
  {
    Child server({"/usr/bin/python3", "-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory",
                  (directory / "site").string()});
    auto port = server.waitFor(std::regex("port ([0-9]+)"), 10);
    if (!port) {
      std::fprintf(stderr, "ax_chromium_bench: the web server did not start\n");
      fs::remove_all(directory);
      return 1;
    }
    const std::string url = "http://127.0.0.1:" + (*port)[1].str() + "/index.html";
    Child browser({chromium, "--no-sandbox", "--user-data-dir=" + (directory / "profile").string(),
                   "--no-first-run", "--no-default-browser-check", "--disable-gpu", "--window-size=1024,768",
                   "--app=" + url});

    platform::install(platform::makePlatform());
    // The browser's window with its page built.
    auto shown = populatedPage(browser.pid(), 60);
    if (!shown) {
      std::fprintf(stderr, "ax_chromium_bench: no populated page on the accessibility bus\n");
    } else {
      waitForWholePage(shown->window, shown->app);
      std::printf("Chromium page, %d blocks\n", blocks);
      timeWalks(shown->window, shown->app, browser.pid(), printOutline);
      status = 0;
    }
  }
  fs::remove_all(directory);
  return status;
}
