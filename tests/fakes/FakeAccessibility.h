#pragma once

// An in-memory accessibility tree for module tests: elements with attribute
// values, programmable failures, slow elements and trees of any size.

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "Platform/Accessibility.h"
#include "tests/support/VirtualClockLoop.h"

namespace zoba::fakes {

class FakeAccessibility final : public platform::Accessibility {
 public:
  using AXElement = platform::AXElement;
  using AXValue = platform::AXValue;

  struct Node {
    std::map<std::string, AXValue, std::less<>> attributes;
    std::set<std::string, std::less<>> settable;    // attributes whose settability is "yes"
    std::set<std::string, std::less<>> acceptsSet;  // attributes whose set succeeds
    bool failMultiple = false;                      // the multi-attribute fetch fails
    std::optional<std::size_t> multipleLength;      // answer this many values instead
    double delay = 0;                               // seconds each call to it takes
    double answersIn = 0;  // seconds until its answers arrive, waited out by the first calls
  };

  // A new element of `application` ("app" by default) with these attributes.
  AXElement add(std::map<std::string, AXValue, std::less<>> attributes, std::string application = "app");
  Node& node(const AXElement& element) { return nodes_.at(element); }
  // Sets "AXChildren" to these elements, in order.
  void setChildren(const AXElement& parent, const std::vector<AXElement>& children);
  // An element with role and children, for building trees quickly.
  AXElement addTree(const std::string& role, const std::vector<AXElement>& children = {});
  void mapProcess(std::int32_t pid, AXElement application) { applications_[pid] = std::move(application); }

  // Called with an element's delay for every call made to it (a virtual clock).
  std::function<void(double)> elapse;
  bool failObserverCreation = false;

  struct Counts {
    int single = 0, multiple = 0, prepare = 0, count = 0, settable = 0, set = 0, observers = 0,
        notifications = 0;
  };
  Counts calls;
  std::vector<std::string> setLog;                      // attribute names set, in order
  std::vector<std::string> notificationLog;             // notifications added, in order
  std::map<std::string, double, std::less<>> timeouts;  // per application

  std::optional<AXElement> applicationElement(std::int32_t pid) override;
  void setMessagingTimeout(const AXElement& element, double seconds) override;
  std::optional<AXValue> copyAttributeValue(const AXElement& element, std::string_view attribute) override;
  std::optional<platform::AXArray> copyMultipleAttributeValues(
      const AXElement& element, std::span<const std::string> attributes) override;
  bool prepareAnswers(const AXElement& element, std::span<const std::string> attributes,
                      double seconds) override;
  std::optional<std::int64_t> attributeValueCount(const AXElement& element,
                                                  std::string_view attribute) override;
  std::optional<bool> isAttributeSettable(const AXElement& element, std::string_view attribute) override;
  bool setAttributeValue(const AXElement& element, std::string_view attribute, const AXValue& value) override;
  std::unique_ptr<platform::AXObserver> createObserver(std::int32_t pid,
                                                       platform::AXNotificationHandler handler) override;

 private:
  Node* touch(const AXElement& element);

  std::unordered_map<AXElement, Node> nodes_;
  std::map<std::int32_t, AXElement> applications_;
  int next_ = 0;
};

// Only the in-memory accessibility, on a virtual clock starting at `start` (timers
// fire when idle), installed as the platform: for the walk's tests.
struct FakeAccessibilityPlatform {
  testing_support::VirtualClockLoop& runLoop;
  FakeAccessibility& accessibility;
};
FakeAccessibilityPlatform installFakeAccessibility(double start);

}  // namespace zoba::fakes
