#pragma once

// Reading and writing other applications' accessibility elements.
//
// Every call is a request to another process, bounded by the messaging timeout
// of the element's application. Failures (no such element, an application that
// does not answer in time, an attribute it does not support) give absent results;
// nothing here throws. Calls are made from one thread at a time, the main thread
// in the helper.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "ZobaCaptureCore/Rect.h"

namespace zoba::platform {

// A handle to one element of one application: a value, compared by what it names.
// On AT-SPI: the application's unique bus name and the element's object path.
struct AXElement {
  std::string application;
  std::string path;
  friend bool operator==(const AXElement&, const AXElement&) = default;
};

// The answer to an attribute that failed inside a multi-attribute fetch.
struct AXErrorMarker {
  friend bool operator==(AXErrorMarker, AXErrorMarker) = default;
};
// A value of a kind the helper does not read (a range, a text marker...).
struct AXOther {
  friend bool operator==(AXOther, AXOther) = default;
};
struct AXURL {
  std::string absoluteString;
  friend bool operator==(const AXURL&, const AXURL&) = default;
};

struct AXValue;
using AXArray = std::vector<AXValue>;

// An attribute value, of the kinds the platform has. Numbers and booleans are
// distinct kinds, though both read as numbers the way platform number objects do.
struct AXValue {
  std::variant<AXErrorMarker, std::string, double, bool, Point, Size, AXElement, AXArray, AXURL, AXOther>
      kind;

  AXValue() = default;
  template <typename T>
  requires(!std::is_same_v<std::remove_cvref_t<T>, AXValue>) AXValue(T&& value)
      : kind(std::forward<T>(value)) {}  // NOLINT: implicit by design

  template <typename T>
  const T* get() const {
    return std::get_if<T>(&kind);
  }
  friend bool operator==(const AXValue&, const AXValue&) = default;
};

// Keeps notification registrations alive; they end when it is destroyed.
class AXObserver {
 public:
  virtual ~AXObserver() = default;
  // Asks to be told about `notification` ("AXFocusedUIElementChanged", ...) on
  // `element`; false when the platform refused.
  virtual bool addNotification(const AXElement& element, std::string_view notification) = 0;
};

using AXNotificationHandler = std::function<void(const AXElement& element, std::string_view notification)>;

class Accessibility {
 public:
  virtual ~Accessibility() = default;

  // The application element of a process, absent when the process has none.
  virtual std::optional<AXElement> applicationElement(std::int32_t pid) = 0;
  // The timeout of every later call to the element's application, in seconds.
  virtual void setMessagingTimeout(const AXElement& element, double seconds) = 0;

  virtual std::optional<AXValue> copyAttributeValue(const AXElement& element, std::string_view attribute) = 0;
  // One answer per attribute, in order, a failed attribute answered by an
  // AXErrorMarker; absent when the element cannot be read at all.
  virtual std::optional<AXArray> copyMultipleAttributeValues(const AXElement& element,
                                                             std::span<const std::string> attributes) = 0;
  // Asks for what copyMultipleAttributeValues(element, attributes) needs and waits
  // for it at most `seconds`: whether it can now answer without waiting. A caller
  // on the main loop serves its other work while an application is slow to answer.
  virtual bool prepareAnswers(const AXElement& /*element*/, std::span<const std::string> /*attributes*/,
                              double /*seconds*/) {
    return true;
  }
  // The number of values of an array attribute ("AXChildren").
  virtual std::optional<std::int64_t> attributeValueCount(const AXElement& element,
                                                          std::string_view attribute) = 0;
  virtual std::optional<bool> isAttributeSettable(const AXElement& element, std::string_view attribute) = 0;
  // True when the application accepted the value.
  virtual bool setAttributeValue(const AXElement& element, std::string_view attribute,
                                 const AXValue& value) = 0;

  // An observer of one process whose notifications are delivered to `handler` on
  // the main loop; absent when the process cannot be observed.
  virtual std::unique_ptr<AXObserver> createObserver(std::int32_t pid, AXNotificationHandler handler) = 0;
};

}  // namespace zoba::platform

template <>
struct std::hash<zoba::platform::AXElement> {
  std::size_t operator()(const zoba::platform::AXElement& element) const noexcept {
    std::size_t h = std::hash<std::string>{}(element.application);
    return h ^ (std::hash<std::string>{}(element.path) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
  }
};
