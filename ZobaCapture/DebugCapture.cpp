#include "ZobaCapture/DebugCapture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "Platform/Image.h"
#include "Platform/Platform.h"
#include "Platform/Task.h"
#include "ZobaCapture/CommandLine.h"
#include "ZobaCapture/Output.h"
#include "ZobaCapture/Permissions.h"
#include "ZobaCapture/WindowCapture.h"
#include "ZobaCaptureCore/Characters.h"

namespace zoba::DebugCapture {

namespace {

std::string writeError(const std::string& path, int error) {
  return "Could not write " + path + ": " + std::strerror(error);
}

// Writes all of `bytes` to `fd`; the errno of the failure, else 0.
int writeAll(int fd, const void* bytes, std::size_t size) {
  const auto* next = static_cast<const char*>(bytes);
  while (size > 0) {
    ssize_t n = ::write(fd, next, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    next += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

std::optional<std::string> writeFile(const std::string& path, const void* bytes, std::size_t size) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return writeError(path, errno);
  int error = writeAll(fd, bytes, size);
  if (::close(fd) != 0 && !error) error = errno;
  if (error) return writeError(path, error);
  return std::nullopt;
}

// A reader sees the old file or the whole new one, never a part.
std::optional<std::string> writeFileAtomically(const std::string& path, const std::string& text) {
  std::string temporary = path + ".XXXXXX";
  int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return writeError(path, errno);
  int error = writeAll(fd, text.data(), text.size());
  if (!error && ::fchmod(fd, 0644) != 0) error = errno;
  if (::close(fd) != 0 && !error) error = errno;
  if (!error && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error) {
    ::unlink(temporary.c_str());
    return writeError(path, error);
  }
  return std::nullopt;
}

[[noreturn]] void finish(const Message& message) {
  Output::send(message);
  Output::flush();
  std::_Exit(0);
}

double delaySeconds(const std::optional<std::string>& text) {
  auto seconds = CommandLine::decimal(text.value_or("")).value_or(defaultDelay);
  // A delay that is no count of nanoseconds (negative, NaN) means no wait.
  return std::isnan(seconds) || seconds < 0 ? 0.0 : seconds;
}

Task<void> run(Options options) {
  co_await sleepFor{delaySeconds(options.delay)};

  Message message = {{"type", "debugCapture"}, {"permissions", Permissions::status()}};
  if (!message["permissions"]["screenRecording"].get<bool>() ||
      !message["permissions"]["accessibility"].get<bool>())
    finish(message);
  auto application = platform::current().workspace->frontmostApplication();
  if (!application) finish(message);

  auto result = co_await WindowCapture::capture(*application, nullptr);
  if (auto* failure = std::get_if<CaptureFailure>(&result)) {
    message["error"] = failure->description();
    finish(message);
  }
  Message payload = std::get<CapturePayload>(result).message();
  if (auto error = writeFiles(payload, options.path)) {
    message["error"] = *error;
    finish(message);
  }
  message["capture"] = std::move(payload);
  finish(message);
}

}  // namespace

void start(Options options) { run(std::move(options)).detach(); }

std::optional<std::string> writeFiles(Message& payload, const std::string& path) {
  if (auto image = payload.find("image"); image != payload.end() && image->is_object()) {
    auto base64 = image->find("base64");
    if (base64 != image->end() && base64->is_string()) {
      if (auto bytes = platform::base64Decode(base64->get_ref<const std::string&>())) {
        if (auto error = writeFile(path, bytes->data(), bytes->size())) return error;
        *base64 = std::to_string(bytes->size()) + " bytes written to " + path;
      }
    }
  }
  if (auto text = payload.find("text"); text != payload.end() && text->is_string()) {
    const std::string whole = text->get<std::string>();
    if (auto error = writeFileAtomically(path + ".txt", whole)) return error;
    payload["textLength"] = Characters::count(whole);
    payload["text"] = Characters::prefix(whole, messageTextCharacters);
  }
  return std::nullopt;
}

}  // namespace zoba::DebugCapture
