// Calls to an application: a short line per application, its health, and the
// answers of one fetch as they arrive.
#include "Platform/linux/atspi/AtspiAccessibility.h"

namespace zoba::platform::linux_backend::atspi {

void AtspiAccessibility::call(const std::shared_ptr<Application>& app, const std::string& path,
                              const char* interface, const char* method, GVariant* parameters,
                              const char* replyType, std::function<void(const Reply&)> done, CallKey key) {
  GVariantPtr owned(parameters ? g_variant_take_ref(parameters) : nullptr);  // floating or not, ours now
  if (app->stalled(monotonicSeconds())) {
    Reply unsent;
    unsent.timedOut = true;
    done(unsent);
    return;
  }
  app->queue.emplace(std::move(key),
                     QueuedCall{path, interface, method, std::move(owned), replyType, std::move(done)});
  pump(app);
}

void AtspiAccessibility::pump(const std::shared_ptr<Application>& app) {
  while (!app->queue.empty() && app->inFlight < maxInFlight) {
    auto first = app->queue.begin();
    QueuedCall next = std::move(first->second);
    app->queue.erase(first);
    if (app->stalled(monotonicSeconds())) {
      Reply unsent;
      unsent.timedOut = true;
      next.done(unsent);
      continue;
    }
    ++app->inFlight;
    const double sentAt = monotonicSeconds();
    auto answered = [this, app, sentAt, done = std::move(next.done)](Reply reply) {
      --app->inFlight;
      const double now = monotonicSeconds();
      if (reply.timedOut) {
        if (app->lastAnswerAt < sentAt) app->stalledUntil = now + stallHold;
      } else {
        app->lastAnswerAt = now;  // an error reply is an answer too
        app->stalledUntil = 0;
      }
      done(reply);
      pump(app);
    };
    if (app->direct) {
      bus_.call(*app->direct, next.path.c_str(), next.interface, next.method, next.parameters.release(),
                next.replyType, app->timeout, std::move(answered));
    } else {
      bus_.call(app->connection, app->busName.c_str(), next.path.c_str(), next.interface, next.method,
                next.parameters.release(), next.replyType, app->timeout, std::move(answered));
    }
  }
}

void AtspiAccessibility::send(const std::shared_ptr<Fetch>& fetch, const std::string& path,
                              const char* interface, const char* method, GVariant* parameters,
                              const char* replyType, std::function<void(Fetch&, GVariant*)> read) {
  ++fetch->outstanding;
  call(
      fetch->application, path, interface, method, parameters, replyType,
      [this, fetch, read = std::move(read)](const Reply& reply) {
        if (reply) read(*fetch, reply.value.get());
        finishPart(fetch);
      },
      fetch->key);
}

void AtspiAccessibility::finishPart(const std::shared_ptr<Fetch>& fetch) {
  if (--fetch->outstanding > 0) return;
  if (!fetch->basicsDone) {
    fetch->basicsDone = true;
    startDetails(fetch);
    return;
  }
  if (!fetch->followUpsSent) {
    fetch->followUpsSent = true;
    ++fetch->outstanding;
    requestChoice(fetch);
    finishPart(fetch);
    return;
  }
  fetch->complete = true;
}

}  // namespace zoba::platform::linux_backend::atspi
