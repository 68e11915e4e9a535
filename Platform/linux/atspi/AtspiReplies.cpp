#include "Platform/linux/atspi/AtspiReplies.h"

#include <algorithm>
#include <mutex>

#include "Platform/linux/handles/GLibPtr.h"

namespace zoba::platform::linux_backend::atspi {

std::string boundedText(std::string_view text) {
  if (text.size() <= textLimit) return std::string(text);
  std::size_t end = textLimit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;  // not inside a character
  return std::string(text.substr(0, end));
}

std::string boundedString(GVariant* string) {
  gsize length = 0;
  const char* text = g_variant_get_string(string, &length);
  return boundedText({text, length});
}

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
  elements.reserve(std::min<std::size_t>(g_variant_n_children(array), referencesLimit));
  GVariantIter iter;
  g_variant_iter_init(&iter, array);
  const char* bus = nullptr;
  const char* path = nullptr;
  while (elements.size() < referencesLimit && g_variant_iter_next(&iter, "(&s&o)", &bus, &path))
    elements.push_back(AXElement{*bus ? bus : fallbackBus, path});
  return elements;
}

std::map<std::string, std::string> dictionaryOf(GVariant* dictionary) {
  std::map<std::string, std::string> result;
  GVariantIter iter;
  g_variant_iter_init(&iter, dictionary);
  const char* key = nullptr;
  GVariant* value = nullptr;
  while (g_variant_iter_next(&iter, "{&s@s}", &key, &value)) {
    GVariantPtr owned(value);
    result.emplace(key, boundedString(value));
  }
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
  if (!g_variant_is_of_type(reply, G_VARIANT_TYPE("(s)"))) return "";
  GVariantPtr text(g_variant_get_child_value(reply, 0));
  return boundedString(text.get());
}

namespace {

GVariant* buildStatesQuery(AtspiStateType state, bool childrenOnly) {
  const auto bit = static_cast<unsigned>(state);
  GVariantBuilder states, attributes, roles, interfaces;
  g_variant_builder_init(&states, G_VARIANT_TYPE("ai"));
  for (unsigned word = 0; word < 2; ++word)
    g_variant_builder_add(&states, "i", static_cast<gint32>(bit / 32 == word ? 1u << (bit % 32) : 0u));
  g_variant_builder_init(&attributes, G_VARIANT_TYPE("a{ss}"));
  g_variant_builder_init(&roles, G_VARIANT_TYPE("ai"));
  g_variant_builder_init(&interfaces, G_VARIANT_TYPE("as"));
  constexpr gint32 matchAll = 1;
  constexpr guint32 canonicalOrder = 1;
  constexpr gint32 everyMatch = 0;
  // Without `traverse` the bridge looks at the children and does not descend.
  return g_variant_new("((aiia{ss}iaiiasib)uib)", &states, matchAll, &attributes, matchAll, &roles, matchAll,
                       &interfaces, matchAll, FALSE, canonicalOrder, everyMatch, childrenOnly ? FALSE : TRUE);
}

}  // namespace

GVariant* statesQuery(AtspiStateType state, bool childrenOnly) {
  // Built once: a walk asks for the visible children of most elements.
  static std::mutex mutex;
  static std::map<std::pair<unsigned, bool>, GVariantPtr> built;
  std::lock_guard lock(mutex);
  auto& query = built[{static_cast<unsigned>(state), childrenOnly}];
  if (!query) query.reset(g_variant_ref_sink(buildStatesQuery(state, childrenOnly)));
  return g_variant_ref(query.get());
}

}  // namespace zoba::platform::linux_backend::atspi
