#include "Platform/linux/atspi/AtspiPeer.h"

#include <poll.h>

#include <algorithm>
#include <cmath>
#include <string_view>

#include "Platform/linux/atspi/SdBusValues.h"

namespace zoba::platform::linux_backend::atspi {

namespace {

struct PeerSource {
  GSource base;
  PeerConnection* owner;
};

GIOCondition conditions(int events) {
  unsigned condition = G_IO_HUP | G_IO_ERR;
  if (events & POLLIN) condition |= G_IO_IN;
  if (events & POLLOUT) condition |= G_IO_OUT;
  return static_cast<GIOCondition>(condition);
}

std::uint64_t microseconds(double seconds) {
  return seconds > 0 ? static_cast<std::uint64_t>(std::ceil(seconds * 1e6)) : 1;
}

// sd-bus looks at its timeouts before it reads: after a busy moment of ours it
// would time out calls whose replies wait unread in the socket. It gets this much
// longer, and the calls' own deadlines are kept here, after the reading.
constexpr double lateReplyGrace = 30.0;

}  // namespace

std::shared_ptr<PeerConnection> PeerConnection::open(const std::string& address, GMainContext* context,
                                                     double timeout, bool messageBus) {
  const double deadline = monotonicSeconds() + timeout;
  sd_bus* raw = nullptr;
  if (sd_bus_new(&raw) < 0) return nullptr;
  SdBusPtr bus(raw);
  // No descriptors travel on these calls; not offering them saves a round trip.
  if (sd_bus_set_address(bus.get(), address.c_str()) < 0 || sd_bus_negotiate_fds(bus.get(), 0) < 0 ||
      sd_bus_set_bus_client(bus.get(), messageBus ? 1 : 0) < 0 || sd_bus_start(bus.get()) < 0)
    return nullptr;
  // Authentication (and on a bus, Hello) needs the other side's answer: one that
  // never comes costs `timeout`.
  while (sd_bus_is_ready(bus.get()) <= 0) {
    const int progress = sd_bus_process(bus.get(), nullptr);
    if (progress < 0) return nullptr;
    if (progress > 0) continue;
    const double remaining = deadline - monotonicSeconds();
    if (remaining <= 0 || sd_bus_wait(bus.get(), microseconds(remaining)) < 0) return nullptr;
  }
  return std::shared_ptr<PeerConnection>(new PeerConnection(std::move(bus), context));
}

PeerConnection::PeerConnection(SdBusPtr bus, GMainContext* context) : bus_(std::move(bus)) {
  static GSourceFuncs funcs = {nullptr, nullptr, &PeerConnection::dispatch, nullptr, nullptr, nullptr};
  source_.reset(g_source_new(&funcs, sizeof(PeerSource)));
  reinterpret_cast<PeerSource*>(source_.get())->owner = this;
  events_ = POLLIN;
  fdTag_ = g_source_add_unix_fd(source_.get(), sd_bus_get_fd(bus_.get()), conditions(events_));
  g_source_attach(source_.get(), context);
  watch();
}

// The source goes first, then the connection with the calls still in flight.
PeerConnection::~PeerConnection() { source_.reset(); }

void PeerConnection::abandon() {
  source_.reset();
  pending_.clear();
  answers_.clear();
  bus_.reset();
}

void PeerConnection::call(const char* destination, const char* path, const char* interface,
                          const char* method, GVariant* parameters, const char* replyType, double timeout,
                          std::function<void(Reply)> done) {
  if (!source_) return;  // abandoned with its bus
  Pending pending{monotonicSeconds() + timeout, replyType, std::move(done)};
  sd_bus_message* raw = nullptr;
  bool sent = false;
  if (bus_ && sd_bus_message_new_method_call(bus_.get(), &raw, destination, path, interface, method) >= 0) {
    SdBusMessagePtr message(raw);
    std::uint64_t cookie = 0;
    sent = appendBody(message.get(), parameters) &&
           sd_bus_call_async(bus_.get(), nullptr, message.get(), &PeerConnection::replied, this,
                             microseconds(timeout + lateReplyGrace)) >= 0 &&
           sd_bus_message_get_cookie(message.get(), &cookie) >= 0;
    if (sent) pending_.emplace(cookie, std::move(pending));
  }
  // Not sent: answered at the next dispatch, as no call is answered before it returns.
  if (!sent) answers_.emplace_back(std::move(pending.done), Reply{});
  if (!serving_) watch();
}

gboolean PeerConnection::dispatch(GSource* source, GSourceFunc, gpointer) {
  // The callbacks may let go of the last owner (an application forgotten with its bus).
  auto self = reinterpret_cast<PeerSource*>(source)->owner->shared_from_this();
  self->serve();
  return G_SOURCE_CONTINUE;
}

int PeerConnection::replied(sd_bus_message* message, void* self, sd_bus_error*) {
  static_cast<PeerConnection*>(self)->answer(message);
  return 0;
}

void PeerConnection::answer(sd_bus_message* message) {
  std::uint64_t cookie = 0;
  if (sd_bus_message_get_reply_cookie(message, &cookie) < 0) return;
  auto it = pending_.find(cookie);
  if (it == pending_.end()) return;
  Pending call = std::move(it->second);
  pending_.erase(it);
  Reply reply;
  if (sd_bus_message_is_method_error(message, nullptr) > 0) {
    const sd_bus_error* error = sd_bus_message_get_error(message);
    const std::string_view name = error && error->name ? error->name : "";
    reply.unknownMethod = name == "org.freedesktop.DBus.Error.UnknownMethod" ||
                          name == "org.freedesktop.DBus.Error.UnknownInterface";
    // sd-bus answers NoReply for a call past its timeout, and for the calls in
    // flight when the connection closes, which may be before their deadline.
    reply.timedOut = name == SD_BUS_ERROR_NO_REPLY && monotonicSeconds() >= call.deadline - 1e-3;
  } else {
    GVariantPtr body = readBody(message);
    // A reply of another type is no answer, as GDBus has it.
    if (body && (!call.replyType || g_variant_is_of_type(body.get(), G_VARIANT_TYPE(call.replyType))))
      reply.value = std::move(body);
  }
  answers_.emplace_back(std::move(call.done), std::move(reply));
}

void PeerConnection::serve() {
  serving_ = true;
  if (bus_) {
    int progress = 0;
    do {
      progress = sd_bus_process(bus_.get(), nullptr);
    } while (progress > 0);
    if (progress < 0) {
      // Lost or broken: sd-bus answers every call in flight with an error as it closes.
      while (sd_bus_process(bus_.get(), nullptr) > 0) {
      }
      close();
    }
  }
  expireOverdue();
  // The callbacks may send more calls; they are answered at a later dispatch.
  auto answers = std::move(answers_);
  answers_.clear();
  for (auto& [done, reply] : answers) {
    if (source_) done(std::move(reply));
  }
  serving_ = false;
  if (source_) watch();
}

void PeerConnection::expireOverdue() {
  const double now = monotonicSeconds();
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (it->second.deadline > now) {
      ++it;
      continue;
    }
    Reply reply;
    reply.timedOut = true;
    answers_.emplace_back(std::move(it->second.done), std::move(reply));
    it = pending_.erase(it);
  }
}

void PeerConnection::close() {
  if (source_) g_source_remove_unix_fd(source_.get(), fdTag_);
  fdTag_ = nullptr;
  for (auto& [cookie, call] : pending_) answers_.emplace_back(std::move(call.done), Reply{});
  pending_.clear();
  bus_.reset();
}

void PeerConnection::watch() {
  if (!answers_.empty() || !bus_) {
    g_source_set_ready_time(source_.get(), answers_.empty() ? -1 : 0);
    return;
  }
  // Only changes reach the context: each one wakes it.
  const int events = sd_bus_get_events(bus_.get());
  if (events >= 0 && events != events_) {
    g_source_modify_unix_fd(source_.get(), fdTag_, conditions(events));
    events_ = events;
  }
  std::uint64_t due = UINT64_MAX;
  if (sd_bus_get_timeout(bus_.get(), &due) < 0) due = UINT64_MAX;
  for (const auto& [cookie, call] : pending_) due = std::min(due, microseconds(call.deadline));
  // sd-bus's timeouts are on the monotonic clock in microseconds, as GLib's are.
  g_source_set_ready_time(source_.get(), due == UINT64_MAX ? -1 : static_cast<gint64>(due));
}

}  // namespace zoba::platform::linux_backend::atspi
