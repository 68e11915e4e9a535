#include "Platform/linux/atspi/AtspiPeer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <limits>
#include <optional>
#include <string_view>

namespace zoba::platform::linux_backend::atspi {

namespace {

constexpr GIOCondition readable = static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR);

struct PeerSource {
  GSource base;
  PeerConnection* owner;
};

bool waitFor(int fd, short events, double deadline) {
  for (;;) {
    const double remaining = deadline - monotonicSeconds();
    if (remaining <= 0) return false;
    pollfd one{fd, events, 0};
    const int ready = poll(&one, 1, static_cast<int>(std::ceil(remaining * 1000.0)));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

bool writeAll(int fd, std::string_view data, double deadline) {
  while (!data.empty()) {
    const ssize_t sent = send(fd, data.data(), data.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent > 0) {
      data.remove_prefix(static_cast<std::size_t>(sent));
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!waitFor(fd, POLLOUT, deadline)) return false;
    } else {
      return false;
    }
  }
  return true;
}

// One line of the authentication exchange. Read a byte at a time: what follows
// the line belongs to the message stream.
std::optional<std::string> readLine(int fd, double deadline) {
  std::string line;
  while (line.size() < 512) {
    char ch = 0;
    const ssize_t got = recv(fd, &ch, 1, MSG_DONTWAIT);
    if (got == 1) {
      line.push_back(ch);
      if (line.ends_with("\r\n")) return line;
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!waitFor(fd, POLLIN, deadline)) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

// The EXTERNAL mechanism: the bridge's server checks our user id on the socket.
bool authenticate(int fd, double deadline) {
  std::string hexUid;
  for (char digit : std::to_string(getuid())) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(digit));
    hexUid += pair;
  }
  std::string hello(1, '\0');
  hello += "AUTH EXTERNAL " + hexUid + "\r\n";
  if (!writeAll(fd, hello, deadline)) return false;
  auto answer = readLine(fd, deadline);
  if (!answer || !answer->starts_with("OK ")) return false;
  return writeAll(fd, "BEGIN\r\n", deadline);
}

}  // namespace

std::shared_ptr<PeerConnection> PeerConnection::open(const std::string& address, GMainContext* context,
                                                     double timeout) {
  const double deadline = monotonicSeconds() + timeout;
  GErrorSlot error;
  GObjectPtr<GIOStream> stream(g_dbus_address_get_stream_sync(address.c_str(), nullptr, nullptr, error.out()));
  if (!stream || !G_IS_SOCKET_CONNECTION(stream.get())) return nullptr;
  const int fd = g_socket_get_fd(g_socket_connection_get_socket(G_SOCKET_CONNECTION(stream.get())));
  if (!authenticate(fd, deadline)) return nullptr;
  return std::shared_ptr<PeerConnection>(new PeerConnection(std::move(stream), fd, context));
}

PeerConnection::PeerConnection(GObjectPtr<GIOStream> stream, int fd, GMainContext* context)
    : stream_(std::move(stream)), fd_(fd) {
  static GSourceFuncs funcs = {nullptr, nullptr, &PeerConnection::dispatch, nullptr, nullptr, nullptr};
  source_.reset(g_source_new(&funcs, sizeof(PeerSource)));
  reinterpret_cast<PeerSource*>(source_.get())->owner = this;
  fdTag_ = g_source_add_unix_fd(source_.get(), fd_, readable);
  g_source_attach(source_.get(), context);
}

PeerConnection::~PeerConnection() {
  source_.reset();
  g_io_stream_close(stream_.get(), nullptr, nullptr);
}

void PeerConnection::abandon() {
  close();
  failed_.clear();
  source_.reset();
}

void PeerConnection::call(const char* path, const char* interface, const char* method, GVariant* parameters,
                          const char* replyType, double timeout, std::function<void(Reply)> done) {
  if (!source_) return;  // abandoned with its bus
  if (closed_) {
    failed_.emplace_back(std::move(done), Reply{});
    g_source_set_ready_time(source_.get(), 0);
    return;
  }
  if (!wire::appendMethodCall(out_, ++serial_, path, interface, method, parameters)) {
    failed_.emplace_back(std::move(done), Reply{});
  } else {
    pending_.emplace(serial_, Pending{monotonicSeconds() + timeout, replyType, std::move(done)});
  }
  // Written at the next dispatch, together with the calls sent until then.
  g_source_set_ready_time(source_.get(), 0);
}

gboolean PeerConnection::dispatch(GSource* source, GSourceFunc, gpointer) {
  // The callbacks may let go of the last owner (an application forgotten with its bus).
  auto self = reinterpret_cast<PeerSource*>(source)->owner->shared_from_this();
  self->serve();
  return G_SOURCE_CONTINUE;
}

void PeerConnection::serve() {
  std::vector<Answer> answers;
  if (!closed_ && (g_source_query_unix_fd(source_.get(), fdTag_) & readable)) receive(answers);
  expire(answers);
  answers.insert(answers.end(), std::make_move_iterator(failed_.begin()), std::make_move_iterator(failed_.end()));
  failed_.clear();
  // The callbacks may send more calls: they go out with this dispatch's write.
  for (auto& [done, reply] : answers) {
    if (source_) done(std::move(reply));
  }
  if (!source_) return;
  flush();
  reschedule();
}

void PeerConnection::receive(std::vector<Answer>& answers) {
  bool lost = false;
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t got = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got > 0) {
      in_.insert(in_.end(), buffer, buffer + got);
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    lost = got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
    break;
  }
  std::size_t used = 0;
  while (!lost) {
    auto size = wire::messageSize(in_.data() + used, in_.size() - used);
    if (!size) {
      lost = true;  // not a message: the stream cannot be trusted from here on
      break;
    }
    if (*size == 0 || in_.size() - used < *size) break;
    auto message = wire::parseMessage(in_.data() + used, *size);
    used += *size;
    if (!message) {
      lost = true;
      break;
    }
    answer(*message, answers);
  }
  in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(used));
  if (lost) close();
}

void PeerConnection::answer(wire::Incoming& message, std::vector<Answer>& answers) {
  // Signals and calls from the application are not ours to answer.
  if (message.type != G_DBUS_MESSAGE_TYPE_METHOD_RETURN && message.type != G_DBUS_MESSAGE_TYPE_ERROR) return;
  auto it = message.replySerial ? pending_.find(*message.replySerial) : pending_.end();
  if (it == pending_.end()) return;  // answered after its timeout
  Pending call = std::move(it->second);
  pending_.erase(it);
  Reply reply;
  if (message.type == G_DBUS_MESSAGE_TYPE_ERROR) {
    reply.unknownMethod = message.errorName == "org.freedesktop.DBus.Error.UnknownMethod" ||
                          message.errorName == "org.freedesktop.DBus.Error.UnknownInterface";
  } else if (!call.replyType || g_variant_is_of_type(message.body.get(), G_VARIANT_TYPE(call.replyType))) {
    reply.value = std::move(message.body);  // a reply of another type is no answer, as GDBus has it
  }
  answers.emplace_back(std::move(call.done), std::move(reply));
}

void PeerConnection::expire(std::vector<Answer>& answers) {
  // At most the calls in flight on one application: a scan is cheaper than an index.
  const double now = monotonicSeconds();
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (it->second.deadline > now) {
      ++it;
      continue;
    }
    Reply late;
    late.timedOut = true;
    answers.emplace_back(std::move(it->second.done), std::move(late));
    it = pending_.erase(it);
  }
}

void PeerConnection::flush() {
  while (!closed_ && outSent_ < out_.size()) {
    const ssize_t sent = send(fd_, out_.data() + outSent_, out_.size() - outSent_, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent > 0) {
      outSent_ += static_cast<std::size_t>(sent);
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;  // the application is not reading: the rest goes when the socket drains
    } else {
      close();
    }
  }
  if (outSent_ == out_.size()) {
    out_.clear();
    outSent_ = 0;
  }
  const bool wantOutput = !out_.empty();
  if (!closed_ && wantOutput != watchingOutput_) {
    g_source_modify_unix_fd(source_.get(), fdTag_,
                            wantOutput ? static_cast<GIOCondition>(readable | G_IO_OUT) : readable);
    watchingOutput_ = wantOutput;
  }
}

void PeerConnection::close() {
  if (closed_) return;
  closed_ = true;
  if (source_) g_source_remove_unix_fd(source_.get(), fdTag_);
  fdTag_ = nullptr;
  for (auto& [serial, call] : pending_) failed_.emplace_back(std::move(call.done), Reply{});
  pending_.clear();
  out_.clear();
  outSent_ = 0;
}

void PeerConnection::reschedule() {
  if (!failed_.empty()) {
    g_source_set_ready_time(source_.get(), 0);
    return;
  }
  double earliest = std::numeric_limits<double>::infinity();
  for (const auto& [serial, call] : pending_) earliest = std::min(earliest, call.deadline);
  g_source_set_ready_time(source_.get(),
                          pending_.empty() ? -1 : static_cast<gint64>(std::ceil(earliest * 1e6)));
}

}  // namespace zoba::platform::linux_backend::atspi
