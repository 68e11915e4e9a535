#include "Platform/linux/atspi/AtspiEngine.h"

#include <algorithm>
#include <chrono>

#include "Platform/linux/atspi/AtspiBridgeCache.h"
#include "Platform/linux/atspi/AtspiChoices.h"
#include "Platform/linux/atspi/AtspiElementCalls.h"
#include "Platform/linux/atspi/AtspiReplies.h"
#include "Platform/linux/dbus/AccessibilityBus.h"

namespace zoba::platform::linux_backend::atspi {

using namespace std::chrono_literals;

// ---- the bus and its applications -------------------------------------------

bool Engine::connectBus() {
  if (accessibilityBus_ && !g_dbus_connection_is_closed(accessibilityBus_.get())) return true;
  // The bus went away (its daemon ended or was restarted): what was learnt on it
  // names connections that no longer exist, and its unique names will be reused.
  if (accessibilityBus_) forgetBus();
  // A bus that is not there costs one attempt a while, not one per element.
  const double now = monotonicSeconds();
  if (now < nextBusAttempt_) return false;
  nextBusAttempt_ = now + busRetryInterval;
  if (!session_ || g_dbus_connection_is_closed(session_.get())) {
    session_.reset();
    auto sessionAddress = sessionBusAddress();
    if (!sessionAddress) return false;
    session_ = connectToBus(*sessionAddress, 1000ms);
    if (!session_) return false;
  }
  auto address = accessibilityBusAddress(session_.get(), 1000ms);
  if (!address) return false;
  accessibilityBus_ = connectToBus(*address, 1000ms);
  if (accessibilityBus_) busCalls_ = bus_.connectPeer(*address, setupTimeout, true);
  return accessibilityBus_ != nullptr;
}

void Engine::forgetBus() {
  accessibilityBus_.reset();
  busCalls_.reset();
  applications_.clear();
  pids_.clear();
  prefetched_.clear();
  if (onForget_) onForget_();
}

std::shared_ptr<Application> Engine::application(const std::string& busName) {
  if (auto it = applications_.find(busName); it != applications_.end()) return it->second;
  if (busName.empty() || !connectBus()) return nullptr;
  auto app = std::make_shared<Application>();
  app->busName = busName;
  app->connection = accessibilityBus_.get();
  // The application's own socket spares every call the trip through the bus daemon.
  Reply address =
      bus_.callAndWait(accessibilityBus_.get(), busName.c_str(), rootPath, "org.a11y.atspi.Application",
                       "GetApplicationBusAddress", nullptr, "(s)", setupTimeout);
  const double now = monotonicSeconds();
  if (address) {
    app->lastAnswerAt = now;
    std::string text = stringOf(address.value.get());
    if (!text.empty()) app->direct = bus_.connectPeer(text, setupTimeout);
  } else if (address.timedOut) {
    app->stalledUntil = now + stallHold;
  }
  if (!app->direct) app->onBus = busCalls_;
  applications_.emplace(busName, app);
  learnToolkit(app);
  return app;
}

void Engine::learnToolkit(const std::shared_ptr<Application>& app) {
  if (app->toolkitSettled || app->stalled(monotonicSeconds())) return;
  auto done = std::make_shared<bool>(false);
  call(app, rootPath, propertiesInterface, "Get",
       g_variant_new("(ss)", "org.a11y.atspi.Application", "ToolkitName"), "(v)",
       [app, done](const Reply& reply) {
         *done = true;
         if (!reply) {
           app->toolkitSettled = !reply.timedOut;
           return;
         }
         app->toolkitSettled = true;
         GVariantPtr boxed(g_variant_get_child_value(reply.value.get(), 0));
         GVariantPtr name(g_variant_get_variant(boxed.get()));
         if (g_variant_is_of_type(name.get(), G_VARIANT_TYPE_STRING))
           app->toolkit = g_variant_get_string(name.get(), nullptr);
       });
  bus_.waitUntil([&] { return *done; }, monotonicSeconds() + std::min(app->timeout, setupTimeout) + 0.25);
}

std::optional<AXElement> Engine::applicationOf(std::int32_t pid) {
  if (!connectBus()) return std::nullopt;
  Reply reply = bus_.callAndWait(accessibilityBus_.get(), registryName, rootPath, accessibleInterface,
                                 "GetChildren", nullptr, "(a(so))", 1.0);
  if (!reply) return std::nullopt;
  GVariantPtr list(g_variant_get_child_value(reply.value.get(), 0));
  auto candidates = elementsOf(list.get(), "");
  // Ask the bus daemon for the owners not known yet, all at once.
  auto answered = std::make_shared<int>(0);
  int asked = 0;
  for (const auto& candidate : candidates) {
    if (candidate.application.empty() || pids_.contains(candidate.application)) continue;
    ++asked;
    bus_.call(accessibilityBus_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
              "org.freedesktop.DBus", "GetConnectionUnixProcessID",
              g_variant_new("(s)", candidate.application.c_str()), "(u)", 1.0,
              [this, answered, name = candidate.application](Reply owner) {
                ++*answered;
                if (!owner) return;
                guint32 value = 0;
                g_variant_get(owner.value.get(), "(u)", &value);
                pids_[name] = static_cast<std::int32_t>(value);
              });
  }
  bus_.waitUntil([&] { return *answered == asked; }, monotonicSeconds() + 1.5);
  for (const auto& candidate : candidates) {
    auto it = pids_.find(candidate.application);
    if (it != pids_.end() && it->second == pid) return AXElement{candidate.application, rootPath};
  }
  return std::nullopt;
}

bool Engine::isChromium(const AXElement& element) {
  if (element.path != rootPath) return false;
  auto app = application(element.application);
  if (!app) return false;
  learnToolkit(app);
  return app->toolkit && *app->toolkit == "Chromium";
}

// ---- calls: a short line per application, its health, a fetch's parts -------

void Engine::call(const std::shared_ptr<Application>& app, const std::string& path, const char* interface,
                  const char* method, GVariant* parameters, const char* replyType,
                  std::function<void(const Reply&)> done, CallKey key) {
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

void Engine::dropQueued(const std::shared_ptr<Application>& app, const CallKey& key) {
  app->queue.erase(key);
}

void Engine::hasten(const std::vector<std::shared_ptr<Fetch>>& fetches, const CallKey& line) {
  for (const auto& fetch : fetches) {
    if (fetch->finished() || !fetch->application || !(line < fetch->line())) continue;
    auto& queue = fetch->application->queue;
    auto [first, last] = queue.equal_range(fetch->line());
    std::vector<std::remove_reference_t<decltype(queue)>::node_type> moved;
    while (first != last) moved.push_back(queue.extract(first++));
    for (auto& node : moved) {
      node.key() = line;
      queue.insert(std::move(node));
    }
    fetch->hastened = line;
  }
}

void Engine::pump(const std::shared_ptr<Application>& app) {
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
      bus_.call(*app->direct, nullptr, next.path.c_str(), next.interface, next.method,
                next.parameters.release(), next.replyType, app->timeout, std::move(answered));
    } else if (app->onBus) {
      bus_.call(*app->onBus, app->busName.c_str(), next.path.c_str(), next.interface, next.method,
                next.parameters.release(), next.replyType, app->timeout, std::move(answered));
    } else {
      bus_.call(app->connection, app->busName.c_str(), next.path.c_str(), next.interface, next.method,
                next.parameters.release(), next.replyType, app->timeout, std::move(answered));
    }
  }
}

void Engine::send(const std::shared_ptr<Fetch>& fetch, const std::string& path, const char* interface,
                  const char* method, GVariant* parameters, const char* replyType,
                  std::function<void(Fetch&, GVariant*)> read) {
  ++fetch->outstanding;
  call(
      fetch->application, path, interface, method, parameters, replyType,
      [this, fetch, read = std::move(read)](const Reply& reply) {
        if (reply) read(*fetch, reply.value.get());
        if (reply.timedOut) fetch->timedOut = true;
        finishPart(fetch);
      },
      fetch->line());
}

void Engine::finishPart(const std::shared_ptr<Fetch>& fetch) {
  if (--fetch->outstanding > 0) return;
  if (!fetch->basicsDone) {
    fetch->basicsDone = true;
    // An element that let a call time out is not answering: a second round would
    // cost a second timeout, and hold its container's answers past a walk's deadline.
    if (fetch->timedOut) {
      fetch->failed = !fetch->role;
      fetch->complete = true;
      return;
    }
    askDetails(*this, fetch);
    return;
  }
  if (!fetch->followUpsSent) {
    fetch->followUpsSent = true;
    ++fetch->outstanding;
    askChoice(*this, fetch);
    finishPart(fetch);
    return;
  }
  fetch->complete = true;
}

// ---- fetches -----------------------------------------------------------------

std::shared_ptr<Fetch> Engine::start(const AXElement& element, unsigned wants, bool cascade,
                                     std::optional<AtspiRole> parentRole, std::optional<CallKey> key) {
  auto fetch = std::make_shared<Fetch>();
  fetch->element = element;
  fetch->wants = wants;
  fetch->cascade = cascade;
  fetch->parentRole = parentRole;
  fetch->startedAt = monotonicSeconds();
  fetch->application = application(element.application);
  if (!fetch->application) {
    fetch->failed = true;
    return fetch;
  }
  // A newer read goes before every older one.
  fetch->key = key ? std::move(*key) : CallKey{~fetch->application->reads++};
  ++fetch->outstanding;  // held while the first round is sent
  askBasics(*this, fetch);
  finishPart(fetch);
  return fetch;
}

std::shared_ptr<Fetch> Engine::fetch(const AXElement& element, unsigned wants, bool cascade) {
  if (auto it = prefetched_.find(element); it != prefetched_.end()) {
    auto found = std::move(it->second);
    prefetched_.erase(it);  // each answer serves once, so a later read sees fresh values
    if ((found->wants & wants) == wants && monotonicSeconds() - found->startedAt < prefetchLifetime) {
      if (cascade && !found->cascade) {
        found->cascade = true;
        if (found->children) prefetchChildren(*found);
      }
      return found;
    }
  }
  auto app = application(element.application);
  if (app && cascade) loadCache(*this, app);
  return start(element, wants, cascade);
}

bool Engine::wait(const std::shared_ptr<Fetch>& fetch) {
  if (fetch->finished()) return !fetch->failed;
  Application& app = *fetch->application;
  // Every call is bounded by the timeout; the margin covers a second round sent late.
  const double deadline = monotonicSeconds() + 2 * app.timeout + 0.25;
  bus_.waitUntil([&] { return fetch->finished() || app.stalled(monotonicSeconds()); }, deadline);
  if (!fetch->finished()) fetch->failed = true;
  return !fetch->failed;
}

void Engine::waitForAll(const std::vector<std::shared_ptr<Fetch>>& fetches, double deadline) {
  std::size_t next = 0;  // the fetches before it have finished
  bus_.waitUntil(
      [&] {
        while (next < fetches.size() &&
               (fetches[next]->finished() || fetches[next]->application->stalled(monotonicSeconds())))
          ++next;
        return next == fetches.size();
      },
      deadline);
}

bool Engine::waitAll(const std::vector<std::shared_ptr<Fetch>>& fetches) {
  // One bound for them all: thousands of elements that never answer must not
  // cost a timeout each.
  double timeout = 0;
  for (const auto& one : fetches) timeout = std::max(timeout, one->application->timeout);
  waitForAll(fetches, monotonicSeconds() + 2 * timeout + 0.25);
  bool all = true;
  for (const auto& one : fetches) {
    if (!one->finished()) one->failed = true;
    all = all && !one->failed;
  }
  return all;
}

// ---- the read-ahead ------------------------------------------------------------

std::shared_ptr<Fetch> Engine::ahead(const AXElement& element) const {
  auto it = prefetched_.find(element);
  return it != prefetched_.end() ? it->second : nullptr;
}

bool Engine::keepAhead(const AXElement& element, std::shared_ptr<Fetch> fetch) {
  return prefetched_.size() < prefetchLimit && prefetched_.emplace(element, std::move(fetch)).second;
}

void Engine::readAhead(const AXElement& element, unsigned wants, std::optional<AtspiRole> parentRole) {
  if (prefetched_.size() < prefetchLimit && !prefetched_.contains(element))
    prefetched_.emplace(element, start(element, wants, false, parentRole));
}

void Engine::prefetchChildren(const Fetch& parent) {
  if (!parent.children) return;
  std::uint32_t index = 0;
  for (const auto& child : *parent.children) {
    if (prefetched_.size() >= prefetchLimit) return;
    CallKey key = parent.key;
    key.push_back(index++);
    auto existing = prefetched_.find(child);
    if (existing != prefetched_.end() && monotonicSeconds() - existing->second->startedAt < prefetchLifetime)
      continue;
    prefetched_.insert_or_assign(child, start(child, walkWants, true, parent.role, std::move(key)));
  }
}

}  // namespace zoba::platform::linux_backend::atspi
