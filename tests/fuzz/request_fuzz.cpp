// Arbitrary bytes as the host's standard input: through the line reader, the UTF-8
// repair and the request handler on the in-memory platform, exactly as the service
// reads them. It must never crash or hang, every line it writes must be one JSON
// object, no request line may get more than one response, and "shutdown" (which
// flushes and ends the process) must answer nothing.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "ZobaCapture/CaptureTarget.h"
#include "ZobaCapture/LineReader.h"
#include "ZobaCapture/Output.h"
#include "ZobaCapture/RequestParser.h"
#include "ZobaCapture/Service.h"
#include "ZobaCapture/Utf8.h"
#include "tests/fakes/FakePlatform.h"

namespace {

// A file in memory: writes never block, so the output thread cannot stall on it.
struct MemoryFile {
  int fd = ::memfd_create("zoba-fuzz", 0);

  void replace(const std::uint8_t* data, std::size_t size) {
    if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) std::abort();
    for (std::size_t done = 0; done < size;) {
      ssize_t n = ::write(fd, data + done, size - done);
      if (n <= 0) std::abort();
      done += static_cast<std::size_t>(n);
    }
    if (::lseek(fd, 0, SEEK_SET) != 0) std::abort();
  }
  // Everything written since the last take, emptied.
  std::string take() {
    std::string text(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)), '\0');
    if (::pread(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) std::abort();
    if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) std::abort();
    return text;
  }
};

struct World {
  zoba::fakes::FakePlatform fake = zoba::fakes::installFakePlatform();
  MemoryFile input;
  MemoryFile output;
  World() {
    if (input.fd < 0 || output.fd < 0) std::abort();
    fake.privacy.screenRecording = true;
    fake.workspace.screenList = {zoba::platform::Screen{zoba::Rect(0, 0, 1920, 1080)}};
    zoba::Output::useDescriptor(output.fd);
  }
};

World& world() {
  static World& instance = *new World();
  return instance;
}

// Every written line is one JSON object; returns how many there were.
std::size_t checkLines(const std::string& text) {
  if (!text.empty() && text.back() != '\n') std::abort();
  std::size_t count = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    auto line = nlohmann::json::parse(text.begin() + static_cast<std::ptrdiff_t>(start),
                                      text.begin() + static_cast<std::ptrdiff_t>(end), nullptr, false);
    if (line.is_discarded() || !line.is_object()) std::abort();
    ++count;
    start = end + 1;
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto& w = world();
  w.input.replace(data, size);
  // A fresh service per input, as a fresh process would have; a short limit now and
  // then so that overlong lines are discarded too.
  zoba::CaptureService service({"zoba-capture", "--service"});
  bool ended = false;
  service.setExit([&](int status) {
    if (status != 0) std::abort();
    ended = true;
  });
  const std::size_t limit = size > 0 && data[0] == '#' ? 64 : zoba::maxRequestLength;
  zoba::LineReader reader(w.input.fd, limit);
  while (auto line = reader.next()) {
    const std::string text = zoba::Utf8::replacingInvalid(*line);
    service.handle(text);
    w.fake.runLoop.runPending();
    zoba::Output::flush();
    const std::size_t written = checkLines(w.output.take());
    if (written > 1) std::abort();
    if (ended) {
      if (written != 0) std::abort();  // "shutdown" answers nothing
      break;
    }
    // The host's card, however hostile its numbers, converts without overflow.
    if (auto request = zoba::parseRequest(text)) zoba::CaptureTarget::of(*request, 1080);
  }
  return 0;
}
