#pragma once

// The fetch engine: the connections, the applications on the accessibility bus,
// the line of calls to each, and fetches (an element's answers as they arrive),
// with the read-ahead that keeps a walk's next answers ready. What a fetch asks of
// an element is decided elsewhere (AtspiElementCalls.h, AtspiChildren.h,
// AtspiChoices.h); the engine sends it and waits.
//
// GDBus carries what goes through the bus daemon: the session bus, the registry,
// the owners of bus names, and the calls to an application that gives no socket of
// its own. Calls to an application go over sd-bus on its own socket (AtspiPeer)
// where it gives one.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "Platform/Accessibility.h"
#include "Platform/linux/atspi/AtspiBus.h"
#include "Platform/linux/atspi/AtspiFetch.h"
#include "Platform/linux/handles/GLibPtr.h"

namespace zoba::platform::linux_backend::atspi {

inline constexpr const char* registryName = "org.a11y.atspi.Registry";
inline constexpr double stallHold = 2.0;         // how long a silent application is treated as not answering
inline constexpr double prefetchLifetime = 3.0;  // answers older than this are asked again
inline constexpr int maxInFlight = 48;
inline constexpr double cacheLifetime = 0.5;         // the bridge's cache is reloaded after this
inline constexpr std::size_t prefetchLimit = 12000;  // bounds the answers a cascade keeps ahead of the walk
inline constexpr double setupTimeout = 0.5;
inline constexpr double busRetryInterval = 1.0;  // between attempts to reach an absent accessibility bus

class Engine {
 public:
  Engine() = default;
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Runs when the bus has gone away and what was learnt on it is dropped.
  void onForget(std::function<void()> forget) { onForget_ = std::move(forget); }

  // ---- the bus and its applications
  // Connects, or connects again once the bus has gone away; false while it cannot be reached.
  bool connectBus();
  GDBusConnection* sessionBus() const { return session_.get(); }
  GDBusConnection* accessibilityBus() const { return accessibilityBus_.get(); }
  // The application that owns `busName`, connected on first use; null without a bus.
  std::shared_ptr<Application> application(const std::string& busName);
  // The root element of the application that process `pid` runs.
  std::optional<AXElement> applicationOf(std::int32_t pid);
  // Asks the application's ToolkitName unless it is settled or not answering.
  void learnToolkit(const std::shared_ptr<Application>& app);
  // Whether `element` is the root of a Chromium application.
  bool isChromium(const AXElement& element);

  // ---- calls
  // One call to the application, with its health bookkeeping; a call to an
  // application that is not answering is not sent and reads as timed out.
  // `parameters`, floating or not, is taken over.
  void call(const std::shared_ptr<Application>& app, const std::string& path, const char* interface,
            const char* method, GVariant* parameters, const char* replyType,
            std::function<void(const Reply&)> done, CallKey key = {});
  // Drops the application's calls queued under `key` and not yet sent: their
  // callbacks never run. For a search that gave up, whose calls would otherwise
  // keep the application busy ahead of every later read.
  void dropQueued(const std::shared_ptr<Application>& app, const CallKey& key);
  // Moves the unfinished fetches' calls, queued and to come, to `line` where
  // that is ahead of theirs.
  void hasten(const std::vector<std::shared_ptr<Fetch>>& fetches, const CallKey& line);
  // One call whose answer `fetch` waits for, in the fetch's place in line.
  void send(const std::shared_ptr<Fetch>& fetch, const std::string& path, const char* interface,
            const char* method, GVariant* parameters, const char* replyType,
            std::function<void(Fetch&, GVariant*)> read);
  // One part of `fetch` is in: when none is left, its next round goes out or it is complete.
  void finishPart(const std::shared_ptr<Fetch>& fetch);
  // Serves replies until `ready()` holds or `deadline` passes.
  bool waitUntil(const std::function<bool()>& ready, double deadline) {
    return bus_.waitUntil(ready, deadline);
  }
  std::uint64_t callsSent() const { return bus_.callsSent(); }

  // ---- fetches
  // A fetch with `key` as its place in line; without one it starts a line of its own.
  std::shared_ptr<Fetch> start(const AXElement& element, unsigned wants, bool cascade,
                               std::optional<AtspiRole> parentRole = {}, std::optional<CallKey> key = {});
  // The answers for `element`: a read-ahead that covers `wants` (taken: each serves
  // once), else a fresh fetch.
  std::shared_ptr<Fetch> fetch(const AXElement& element, unsigned wants, bool cascade);
  bool wait(const std::shared_ptr<Fetch>& fetch);
  // Serves replies until every fetch has finished or its application stalled, or `deadline`.
  void waitForAll(const std::vector<std::shared_ptr<Fetch>>& fetches, double deadline);
  // Waits for them all within one bound; false when one failed.
  bool waitAll(const std::vector<std::shared_ptr<Fetch>>& fetches);

  // ---- the read-ahead
  // The fetch read ahead for `element`, left in place; null when there is none.
  std::shared_ptr<Fetch> ahead(const AXElement& element) const;
  // Keeps `fetch` for the walk unless one is kept for the element or the store is
  // full: whether it was kept.
  bool keepAhead(const AXElement& element, std::shared_ptr<Fetch> fetch);
  // Starts and keeps a fetch for `element` where none is kept and there is room.
  void readAhead(const AXElement& element, unsigned wants, std::optional<AtspiRole> parentRole);
  // Reads the answers of `parent`'s children ahead, each in its place below it.
  void prefetchChildren(const Fetch& parent);

 private:
  void forgetBus();
  void pump(const std::shared_ptr<Application>& app);

  std::function<void()> onForget_;
  GObjectPtr<GDBusConnection> session_;
  GObjectPtr<GDBusConnection> accessibilityBus_;
  // The same bus through sd-bus, for the calls to applications without a socket of
  // their own (GTK 4, Qt): GDBus costs each call a task, a source, a timeout and
  // two thread hand-offs. Null where it could not connect: GDBus carries them.
  std::shared_ptr<PeerConnection> busCalls_;
  double nextBusAttempt_ = 0;
  std::unordered_map<std::string, std::shared_ptr<Application>> applications_;
  std::unordered_map<std::string, std::int32_t> pids_;  // unique bus names never change hands
  std::unordered_map<AXElement, std::shared_ptr<Fetch>> prefetched_;
  // Declared last, destroyed first: its destructor drains callbacks that use the members above.
  Bus bus_;
};

}  // namespace zoba::platform::linux_backend::atspi
