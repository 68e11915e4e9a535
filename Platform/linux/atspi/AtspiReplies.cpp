#include "Platform/linux/atspi/AtspiReplies.h"

namespace zoba::platform::linux_backend::atspi {

StateSet statesOf(GVariant* array) {
  StateSet states;
  gsize count = 0;
  const auto* words = static_cast<const guint32*>(g_variant_get_fixed_array(array, &count, sizeof(guint32)));
  if (count > 0) states.bits |= words[0];
  if (count > 1) states.bits |= static_cast<std::uint64_t>(words[1]) << 32;
  return states;
}

std::vector<AXElement> elementsOf(GVariant* array, const std::string& fallbackBus) {
  std::vector<AXElement> elements;
  elements.reserve(g_variant_n_children(array));
  GVariantIter iter;
  g_variant_iter_init(&iter, array);
  const char* bus = nullptr;
  const char* path = nullptr;
  while (g_variant_iter_next(&iter, "(&s&o)", &bus, &path)) elements.push_back(AXElement{*bus ? bus : fallbackBus, path});
  return elements;
}

std::map<std::string, std::string> dictionaryOf(GVariant* dictionary) {
  std::map<std::string, std::string> result;
  GVariantIter iter;
  g_variant_iter_init(&iter, dictionary);
  const char* key = nullptr;
  const char* value = nullptr;
  while (g_variant_iter_next(&iter, "{&s&s}", &key, &value)) result.emplace(key, value);
  return result;
}

std::optional<std::string> firstNonEmpty(const std::map<std::string, std::string>& attributes,
                                         std::initializer_list<const char*> keys) {
  for (const char* key : keys) {
    auto it = attributes.find(key);
    if (it != attributes.end() && !it->second.empty()) return it->second;
  }
  return std::nullopt;
}

std::string stringOf(GVariant* reply) {
  const char* text = nullptr;
  g_variant_get(reply, "(&s)", &text);
  return text ? text : "";
}

}  // namespace zoba::platform::linux_backend::atspi
