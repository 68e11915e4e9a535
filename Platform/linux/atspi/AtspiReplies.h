#pragma once

// Reading the values of AT-SPI replies, and the one query built from parts.

#include <gio/gio.h>

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Accessibility.h"
#include "Platform/linux/atspi/AtspiRoles.h"

namespace zoba::platform::linux_backend::atspi {

// What is kept of one reply, whatever an application sends: no reader walks more
// elements of one list, nor shows more of one text (the outline's whole budget is
// 40,000 UTF-16 units), so a hostile list or name costs no more than this.
inline constexpr std::size_t referencesLimit = 8000;
inline constexpr std::size_t textLimit = 256 * 1024;  // bytes

// `text` cut to at most textLimit bytes, at a character boundary.
std::string boundedText(std::string_view text);
// A string value ("s"), bounded. Its length comes from the value: a hostile
// 10 MB text is never scanned for its end.
std::string boundedString(GVariant* string);

// A state set ("au").
StateSet statesOf(GVariant* array);
// Object references ("a(so)"), the first referencesLimit of them; a reference
// without a bus name is on `fallbackBus`.
std::vector<AXElement> elementsOf(GVariant* array, const std::string& fallbackBus);
// A string dictionary ("a{ss}"), its values bounded.
std::map<std::string, std::string> dictionaryOf(GVariant* dictionary);
std::optional<std::string> firstNonEmpty(const std::map<std::string, std::string>& attributes,
                                         std::initializer_list<const char*> keys);
// The string of a "(s)" reply, bounded.
std::string stringOf(GVariant* reply);
// Collection.GetMatches parameters for the elements with `state` in tree order:
// every match below the element, or with `childrenOnly` its children alone. A new
// reference, not a floating one.
GVariant* statesQuery(AtspiStateType state, bool childrenOnly);

}  // namespace zoba::platform::linux_backend::atspi
