#pragma once

// Accessibility on the AT-SPI bus: GDBus for the bus itself (the registry, the
// applications' addresses, notifications), sd-bus for the calls on each
// application's own socket (AtspiPeer).
//
// Speed comes from the number of calls and from keeping many in flight: an
// application answers about ten thousand calls a second, one after the other. So
// every element costs as few calls as its role needs, sent on the application's
// own peer connection, and when a walk reads an element's children the backend
// at once asks for everything the walk will ask of each child, and of theirs; the
// walk then finds most elements already answered. Where the bridge's cache holds
// an element, its role, states, name and place in the tree cost no call at all.
//
// The work is split by concern: connections and the interface
// (AtspiAccessibility.cpp), calls (AtspiCalls.cpp), fetching an element's answers
// (AtspiFetching.cpp), children: asking, read-ahead and settling (AtspiChildren.cpp), the focused
// element (AtspiFocus.cpp), a combo box's value (AtspiChoices.cpp) and answering
// attributes from them (AtspiAnswers.cpp).

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "Platform/Accessibility.h"
#include "Platform/linux/atspi/AtspiBus.h"
#include "Platform/linux/atspi/AtspiFetch.h"
#include "Platform/linux/atspi/AtspiStats.h"
#include "Platform/linux/handles/GLibPtr.h"

namespace zoba::platform::linux_backend::atspi {

inline constexpr const char* accessibleInterface = "org.a11y.atspi.Accessible";
inline constexpr const char* collectionInterface = "org.a11y.atspi.Collection";
inline constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";
inline constexpr const char* registryName = "org.a11y.atspi.Registry";
inline constexpr double stallHold = 2.0;         // how long a silent application is treated as not answering
inline constexpr double prefetchLifetime = 3.0;  // answers older than this are asked again
inline constexpr int maxInFlight = 48;
inline constexpr double cacheLifetime = 0.5;         // the bridge's cache is reloaded after this
inline constexpr std::size_t prefetchLimit = 12000;  // bounds the answers a cascade keeps ahead of the walk
inline constexpr double setupTimeout = 0.5;
inline constexpr double busRetryInterval = 1.0;  // between attempts to reach an absent accessibility bus

class AtspiAccessibility final : public Accessibility, public CallCounter {
 public:
  ~AtspiAccessibility() override = default;

  std::optional<AXElement> applicationElement(std::int32_t pid) override;
  void setMessagingTimeout(const AXElement& element, double seconds) override;
  std::optional<AXValue> copyAttributeValue(const AXElement& element, std::string_view attribute) override;
  std::optional<AXArray> copyMultipleAttributeValues(const AXElement& element,
                                                     std::span<const std::string> attributes) override;
  std::optional<std::int64_t> attributeValueCount(const AXElement& element,
                                                  std::string_view attribute) override;
  std::optional<bool> isAttributeSettable(const AXElement& element, std::string_view attribute) override;
  bool setAttributeValue(const AXElement& element, std::string_view attribute, const AXValue& value) override;
  std::unique_ptr<AXObserver> createObserver(std::int32_t pid, AXNotificationHandler handler) override;

  std::uint64_t callsSent() const override { return bus_.callsSent(); }

 private:
  // Connects, or connects again once the bus has gone away; false while it cannot be reached.
  bool connectBus();
  void forgetBus();
  std::shared_ptr<Application> application(const std::string& busName);
  // Asks the application's ToolkitName unless it is settled or not answering.
  void learnToolkit(const std::shared_ptr<Application>& app);

  // One call to the application, with its health bookkeeping; a call to an
  // application that is not answering is not sent and reads as timed out.
  // `parameters`, floating or not, is taken over.
  void call(const std::shared_ptr<Application>& app, const std::string& path, const char* interface,
            const char* method, GVariant* parameters, const char* replyType,
            std::function<void(const Reply&)> done, CallKey key = {});
  void pump(const std::shared_ptr<Application>& app);
  // One call whose answer `fetch` waits for.
  void send(const std::shared_ptr<Fetch>& fetch, const std::string& path, const char* interface,
            const char* method, GVariant* parameters, const char* replyType,
            std::function<void(Fetch&, GVariant*)> read);
  void finishPart(const std::shared_ptr<Fetch>& fetch);

  // A fetch with `key` as its place in line; without one it starts a line of its own.
  std::shared_ptr<Fetch> start(const AXElement& element, unsigned wants, bool cascade,
                               std::optional<AtspiRole> parentRole = {}, std::optional<CallKey> key = {});
  void startDetails(const std::shared_ptr<Fetch>& fetch);
  void requestStates(const std::shared_ptr<Fetch>& fetch);
  void requestChildren(const std::shared_ptr<Fetch>& fetch);
  // A container that makes its children on demand (MANAGES_DESCENDANTS) cannot be
  // searched: GTK 2's bridge hands out cells it has already freed. Its first
  // children, more than a screen shows, are asked for one by one instead.
  void requestChildrenByIndex(const std::shared_ptr<Fetch>& fetch);
  void requestTextRuns(const std::shared_ptr<Fetch>& fetch);
  void getOwnText(const std::shared_ptr<Fetch>& fetch);
  // Puts the runs of the element's text among its shown children, in text order.
  void placeTextRuns(Fetch& fetch);
  // The answer for a run of text, from what was fetched; nothing is sent.
  std::optional<AXValue> runAnswer(const AXElement& run, std::string_view attribute) const;
  void requestRoleName(const std::shared_ptr<Fetch>& fetch);
  // A combo box's value, once its states and children are known: an editable
  // one's text, else the name of its selected item (AtspiChoices.cpp).
  void requestChoice(const std::shared_ptr<Fetch>& fetch);
  void requestSelected(const std::shared_ptr<Fetch>& fetch, bool onBox, bool fallBack);
  void requestChoiceName(const std::shared_ptr<Fetch>& fetch, const AXElement& item);
  void prefetchChildren(const Fetch& parent);
  bool fillFromCache(Fetch& fetch);
  void loadCache(const std::shared_ptr<Application>& app);

  // The answers for `element`: a prefetched one that covers `wants`, else a fresh fetch.
  std::shared_ptr<Fetch> fetch(const AXElement& element, unsigned wants, bool cascade);
  bool wait(const std::shared_ptr<Fetch>& fetch);
  // Settles whether a combo box holds a text entry, from its children's roles.
  void findEntryChild(Fetch& fetch);
  // Serves replies until every fetch has finished or its application stalled, or `deadline`.
  void waitForAll(const std::vector<std::shared_ptr<Fetch>>& fetches, double deadline);
  bool waitAll(const std::vector<std::shared_ptr<Fetch>>& fetches);
  // Settles the children the user can see, from the children's states.
  void settleShownChildren(Fetch& fetch);
  // Leaves out the pages of a stack that are not on screen, where the toolkit's
  // states do not tell (AtspiStackPages.h).
  void leaveOutHiddenPages(const Fetch& parent, std::vector<std::shared_ptr<Fetch>>& children);

  AXValue answer(const Fetch& fetch, std::string_view attribute) const;
  // The element's descendants on screen (SHOWING), with the runs of text placed in
  // them, from one search; absent where the toolkit's SHOWING does not follow the
  // screen or the bridge cannot search.
  std::optional<AXValue> onScreenDescendants(const AXElement& element);
  std::optional<AXValue> applicationAnswer(const AXElement& app, std::string_view attribute);
  std::vector<std::shared_ptr<Fetch>> topLevelWindows(const AXElement& app);
  // The deepest focused element below `window`.
  std::optional<AXElement> focusedElement(const AXElement& window);
  // The focused elements in tree order from the bridge's own search; absent when it cannot search.
  std::optional<std::vector<AXElement>> focusedMatches(const std::shared_ptr<Application>& app,
                                                       const AXElement& window, double deadline);
  std::optional<AXElement> searchFocus(const std::shared_ptr<Application>& app, const AXElement& window,
                                       double deadline);
  bool isChromium(const AXElement& element);

  GObjectPtr<GDBusConnection> session_;
  GObjectPtr<GDBusConnection> accessibilityBus_;
  double nextBusAttempt_ = 0;
  std::unordered_map<std::string, std::shared_ptr<Application>> applications_;
  std::unordered_map<std::string, std::int32_t> pids_;  // unique bus names never change hands
  std::unordered_map<AXElement, std::shared_ptr<Fetch>> prefetched_;
  // The last multi-attribute answer: a walk asks the same element next whether its value is settable.
  std::shared_ptr<Fetch> lastServed_;
  // The runs of text the walks placed among children, by their handles.
  struct TextRun {
    std::string text;
    AXElement parent;
  };
  static constexpr std::size_t runsLimit = 50000;
  std::unordered_map<AXElement, TextRun> runs_;
  // Declared last, destroyed first: its destructor drains callbacks that use the members above.
  Bus bus_;
};

}  // namespace zoba::platform::linux_backend::atspi
