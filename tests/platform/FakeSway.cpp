#include "tests/platform/FakeSway.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace zoba::testing {

namespace {

constexpr std::size_t headerSize = 14;

std::string frame(std::uint32_t type, const std::string& payload) {
  std::string message("i3-ipc");
  const auto length = static_cast<std::uint32_t>(payload.size());
  message.append(reinterpret_cast<const char*>(&length), 4);
  message.append(reinterpret_cast<const char*>(&type), 4);
  return message + payload;
}

void sendAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t sent = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (sent <= 0) return;
    done += static_cast<std::size_t>(sent);
  }
}

}  // namespace

FakeSway::FakeSway() {
  char directory[] = "/tmp/zoba-fake-sway.XXXXXX";
  if (!::mkdtemp(directory)) throw std::runtime_error("mkdtemp");
  directory_ = directory;
  path_ = directory_ + "/ipc.sock";
  listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path_.c_str(), path_.size());
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(listener_, 8) != 0)
    throw std::runtime_error("listen");
  if (::pipe2(wake_, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  thread_ = std::thread([this] { serve(); });
}

FakeSway::~FakeSway() {
  [[maybe_unused]] auto written = ::write(wake_[1], "x", 1);
  thread_.join();
  ::close(wake_[0]);
  ::close(wake_[1]);
  ::close(listener_);
  ::unlink(path_.c_str());
  ::rmdir(directory_.c_str());
}

std::vector<std::string> FakeSway::commands() {
  std::lock_guard lock(mutex_);
  return commands_;
}

bool FakeSway::waitForCommands(std::size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return commands_.size() >= count; });
}

void FakeSway::emit(std::uint32_t type, const std::string& payload) {
  std::lock_guard lock(mutex_);
  for (int fd : subscribed_) sendAll(fd, frame(type, payload));
}

void FakeSway::serve() {
  std::map<int, std::string> clients;  // fd → bytes not yet a whole message
  while (true) {
    std::vector<pollfd> fds{{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
    for (auto& [fd, buffer] : clients) fds.push_back({fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0) continue;
    if (fds[0].revents) break;
    if (fds[1].revents & POLLIN) {
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client >= 0) clients.emplace(client, std::string());
    }
    for (std::size_t i = 2; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      char chunk[4096];
      const ssize_t got = ::recv(fds[i].fd, chunk, sizeof(chunk), 0);
      if (got <= 0) {
        std::lock_guard lock(mutex_);
        std::erase(subscribed_, fds[i].fd);
        ::close(fds[i].fd);
        clients.erase(fds[i].fd);
        continue;
      }
      auto& buffer = clients[fds[i].fd];
      buffer.append(chunk, static_cast<std::size_t>(got));
      handle(fds[i].fd, buffer);
    }
  }
  for (auto& [fd, buffer] : clients) ::close(fd);
}

void FakeSway::handle(int fd, std::string& buffer) {
  while (buffer.size() >= headerSize) {
    std::uint32_t length = 0, type = 0;
    std::memcpy(&length, buffer.data() + 6, 4);
    std::memcpy(&type, buffer.data() + 10, 4);
    if (buffer.size() < headerSize + length) return;
    std::string payload = buffer.substr(headerSize, length);
    buffer.erase(0, headerSize + length);
    std::string reply = "{}";
    std::lock_guard lock(mutex_);
    if (type == 2) {  // SUBSCRIBE
      reply = R"({"success":true})";
      subscribed_.push_back(fd);
    } else if (type == 0) {  // RUN_COMMAND: one result per command
      reply = R"([{"success":true})";
      for (char c : payload) {
        if (c == ';') reply += R"(,{"success":true})";
      }
      reply += "]";
      commands_.push_back(payload);
      changed_.notify_all();
    }
    sendAll(fd, frame(type, reply));
  }
}

}  // namespace zoba::testing
