#pragma once

// Accessibility on the AT-SPI bus: the Accessibility interface over the fetch
// engine.
//
// Speed comes from the number of calls and from keeping many in flight: an
// application answers about ten thousand calls a second, one after the other. So
// every element costs as few calls as its role needs, sent on the application's
// own peer connection, and when a walk reads an element's children the backend
// at once asks for everything the walk will ask of each child, and of theirs; the
// walk then finds most elements already answered. Where the bridge's cache holds
// an element, its role, states, name and place in the tree cost no call at all.
//
// The files, each with its own state:
//   AtspiAccessibility     this interface: which attributes need what, the last answer served
//   AtspiEngine            the fetch engine: bus and applications, calls, waiting, read-ahead
//   AtspiBus, AtspiPeer    GDBus on the bus daemon; sd-bus on each application's own socket
//   AtspiFetch.h           what is known of an application and of one element's fetch
//   AtspiElementCalls      what a fetch asks of an element, in two rounds, by role
//   AtspiBridgeCache       the bridge's own cache of its tree (Chromium)
//   AtspiChildren          asking for children; the entry a combo box holds; the shown children
//   AtspiOffScreen         children GTK 4 does not show: of no size, or a stack's pages behind
//   AtspiChoices           a combo box's value
//   AtspiAnswers           attribute answers from a fetch; the application's windows and focus
//   AtspiFocus             the focused element of a window
//   AtspiRunStore          runs of text placed among children, and their answers
//   AtspiTextRuns, AtspiRoles, AtspiTypeNames, AtspiReplies, SdBusValues, AtspiConstants
//                          pure rules and reply readers
//   AtspiObserver          notifications from the bus's events

#include <memory>
#include <optional>
#include <string>

#include "Platform/Accessibility.h"
#include "Platform/linux/atspi/AtspiEngine.h"
#include "Platform/linux/atspi/AtspiFocus.h"
#include "Platform/linux/atspi/AtspiRunStore.h"
#include "Platform/linux/atspi/AtspiStats.h"

namespace zoba::platform::linux_backend::atspi {

class AtspiAccessibility final : public Accessibility, public CallCounter {
 public:
  AtspiAccessibility();
  ~AtspiAccessibility() override = default;

  std::optional<AXElement> applicationElement(std::int32_t pid) override;
  void setMessagingTimeout(const AXElement& element, double seconds) override;
  std::optional<AXValue> copyAttributeValue(const AXElement& element, std::string_view attribute) override;
  std::optional<AXArray> copyMultipleAttributeValues(const AXElement& element,
                                                     std::span<const std::string> attributes) override;
  bool prepareAnswers(const AXElement& element, std::span<const std::string> attributes,
                      double seconds) override;
  std::optional<std::int64_t> attributeValueCount(const AXElement& element,
                                                  std::string_view attribute) override;
  std::optional<bool> isAttributeSettable(const AXElement& element, std::string_view attribute) override;
  bool setAttributeValue(const AXElement& element, std::string_view attribute, const AXValue& value) override;
  std::unique_ptr<AXObserver> createObserver(std::int32_t pid, AXNotificationHandler handler) override;

  std::uint64_t callsSent() const override { return engine_.callsSent(); }

 private:
  // Settles the children the user can see, with the runs of its own text among them.
  void settleChildren(Fetch& fetch);

  RunStore runs_;
  // The focus search sent ahead of the question for it, served once.
  std::optional<FocusSearch> focusAhead_;
  // The last multi-attribute answer: a walk asks the same element next whether its value is settable.
  std::shared_ptr<Fetch> lastServed_;
  // Declared last, destroyed first: it drains the callbacks still in flight.
  Engine engine_;
};

}  // namespace zoba::platform::linux_backend::atspi
