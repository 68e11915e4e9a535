#pragma once

// Reading the values of AT-SPI replies, and the one query built from parts.

#include <gio/gio.h>

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Accessibility.h"
#include "Platform/linux/atspi/AtspiRoles.h"

namespace zoba::platform::linux_backend::atspi {

// A state set ("au").
StateSet statesOf(GVariant* array);
// Object references ("a(so)"); a reference without a bus name is on `fallbackBus`.
std::vector<AXElement> elementsOf(GVariant* array, const std::string& fallbackBus);
// A string dictionary ("a{ss}").
std::map<std::string, std::string> dictionaryOf(GVariant* dictionary);
std::optional<std::string> firstNonEmpty(const std::map<std::string, std::string>& attributes,
                                         std::initializer_list<const char*> keys);
// The string of a "(s)" reply.
std::string stringOf(GVariant* reply);
// Collection.GetMatches parameters for the elements with `state` in tree order:
// every match below the element, or with `childrenOnly` its children alone. A new
// reference, not a floating one.
GVariant* statesQuery(AtspiStateType state, bool childrenOnly);

}  // namespace zoba::platform::linux_backend::atspi
