#pragma once

// A peer-to-peer D-Bus connection to one application, served on the thread that
// waits for its replies. GDBus hands every message to its worker thread and back,
// with a task, a source and a timeout per call; here a call costs its marshalling
// (AtspiWire.h) and a share of one write and one read, and its timeout is one
// entry in a table.

#include <gio/gio.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "Platform/linux/GLibPtr.h"
#include "Platform/linux/atspi/AtspiBus.h"
#include "Platform/linux/atspi/AtspiWire.h"

namespace zoba::platform::linux_backend::atspi {

class PeerConnection : public std::enable_shared_from_this<PeerConnection> {
 public:
  // Connects to `address` and authenticates within `timeout`; null on failure.
  // Replies are served by `context`, on the thread that iterates it.
  static std::shared_ptr<PeerConnection> open(const std::string& address, GMainContext* context, double timeout);
  ~PeerConnection();
  // Drops the calls in flight without calling them back and serves nothing more:
  // their callbacks may hold what holds this connection.
  void abandon();
  PeerConnection(const PeerConnection&) = delete;
  PeerConnection& operator=(const PeerConnection&) = delete;

  // Sends a method call; `done` runs when the reply, an error or the timeout
  // comes, never before this returns. The reply must be of `replyType` (a type
  // string that outlives the call) when one is given.
  void call(const char* path, const char* interface, const char* method, GVariant* parameters,
            const char* replyType, double timeout, std::function<void(Reply)> done);

 private:
  struct Pending {
    double deadline;
    const char* replyType;
    std::function<void(Reply)> done;
  };
  using Answer = std::pair<std::function<void(Reply)>, Reply>;

  PeerConnection(GObjectPtr<GIOStream> stream, int fd, GMainContext* context);
  static gboolean dispatch(GSource* source, GSourceFunc, gpointer);
  void serve();
  void flush();
  void receive(std::vector<Answer>& answers);
  void answer(wire::Incoming& message, std::vector<Answer>& answers);
  void expire(std::vector<Answer>& answers);
  void close();
  void reschedule();

  GObjectPtr<GIOStream> stream_;  // owns the socket
  int fd_;
  GSourcePtr source_;
  gpointer fdTag_ = nullptr;
  bool watchingOutput_ = false;
  bool closed_ = false;
  std::uint32_t serial_ = 0;
  std::unordered_map<std::uint32_t, Pending> pending_;
  std::vector<Answer> failed_;  // answered without a reply, delivered at the next dispatch
  std::string out_;
  std::size_t outSent_ = 0;
  std::vector<char> in_;
};

}  // namespace zoba::platform::linux_backend::atspi
