#pragma once

// A peer-to-peer D-Bus connection to one application (its own socket), or one
// to the accessibility bus for the applications that have none, made with sd-bus
// and served on the thread that waits for its replies. GDBus hands every
// message to its worker thread and back, with a task, a source and a timeout
// per call; here a call costs its marshalling and one write.

#include <gio/gio.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Platform/linux/atspi/AtspiBus.h"
#include "Platform/linux/handles/GLibPtr.h"
#include "Platform/linux/handles/SdBusPtr.h"

namespace zoba::platform::linux_backend::atspi {

class PeerConnection : public std::enable_shared_from_this<PeerConnection> {
 public:
  // Connects to `address` and authenticates within `timeout`; null on failure.
  // Replies are served by `context`, on the thread that iterates it. On a message
  // bus (`messageBus`) the connection says Hello first and calls name their
  // destination.
  static std::shared_ptr<PeerConnection> open(const std::string& address, GMainContext* context,
                                              double timeout, bool messageBus = false);
  ~PeerConnection();  // drops the calls in flight without calling them back
  // Drops the calls in flight without calling them back and serves nothing more:
  // their callbacks may hold what holds this connection.
  void abandon();
  PeerConnection(const PeerConnection&) = delete;
  PeerConnection& operator=(const PeerConnection&) = delete;

  // Sends a method call; `done` runs when the reply, an error or the timeout
  // comes, never before this returns. The reply must be of `replyType` (a type
  // string that outlives the call) when one is given. Nothing once abandoned.
  // `destination` is null on a peer-to-peer connection.
  void call(const char* destination, const char* path, const char* interface, const char* method,
            GVariant* parameters, const char* replyType, double timeout, std::function<void(Reply)> done);

 private:
  struct Pending {
    double deadline;
    const char* replyType;
    std::function<void(Reply)> done;
  };
  using Answer = std::pair<std::function<void(Reply)>, Reply>;

  PeerConnection(SdBusPtr bus, GMainContext* context);
  static gboolean dispatch(GSource* source, GSourceFunc, gpointer);
  static int replied(sd_bus_message* message, void* self, sd_bus_error*);
  void answer(sd_bus_message* message);
  void serve();
  // Answers the calls past their deadline as timed out, once what came is read.
  void expireOverdue();
  void close();
  void watch();

  SdBusPtr bus_;
  GSourcePtr source_;
  gpointer fdTag_ = nullptr;
  int events_ = 0;  // what the source watches the socket for
  bool serving_ = false;
  std::unordered_map<std::uint64_t, Pending> pending_;  // by the call's cookie
  std::vector<Answer> answers_;                         // delivered at the end of a dispatch, outside sd-bus
};

}  // namespace zoba::platform::linux_backend::atspi
