// What is kept of an application's strings, whatever it sends.
#include <gtest/gtest.h>

#include <string>

#include "Platform/linux/atspi/AtspiReplies.h"
#include "Platform/linux/handles/GLibPtr.h"

namespace zoba::platform::linux_backend::atspi {
namespace {

GVariantPtr sinkRef(GVariant* value) { return GVariantPtr(g_variant_ref_sink(value)); }

TEST(AtspiReplies, StringsAreCutAtTheLimitOnACharacterBoundary) {
  const std::string ascii(textLimit + 100, 'a');
  // "é" is two bytes: one straddles the limit.
  const std::string straddling = std::string(textLimit - 1, 'a') + "\xC3\xA9" + "tail";
  const struct {
    const char* name;
    std::string text;
    std::size_t keptBytes;
  } cases[] = {
      {"short", "Größe", std::string("Größe").size()},
      {"exactly the limit", std::string(textLimit, 'b'), textLimit},
      {"past the limit", ascii, textLimit},
      {"a character across the limit", straddling, textLimit - 1},
  };
  for (const auto& c : cases) {
    auto value = sinkRef(g_variant_new_string(c.text.c_str()));
    const std::string kept = boundedString(value.get());
    EXPECT_EQ(kept.size(), c.keptBytes) << c.name;
    EXPECT_EQ(kept, c.text.substr(0, c.keptBytes)) << c.name;

    auto reply = sinkRef(g_variant_new("(s)", c.text.c_str()));
    EXPECT_EQ(stringOf(reply.get()), kept) << c.name;
  }
}

TEST(AtspiReplies, AReplyOfAnotherTypeReadsAsNoText) {
  auto number = sinkRef(g_variant_new("(i)", 7));
  EXPECT_EQ(stringOf(number.get()), "");
}

TEST(AtspiReplies, DictionaryValuesAreBounded) {
  const std::string long_(textLimit + 1, 'c');
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a{ss}"));
  g_variant_builder_add(&builder, "{ss}", "placeholder-text", "Search");
  g_variant_builder_add(&builder, "{ss}", "long", long_.c_str());
  auto dictionary = sinkRef(g_variant_builder_end(&builder));
  const auto read = dictionaryOf(dictionary.get());
  EXPECT_EQ(read.at("placeholder-text"), "Search");
  EXPECT_EQ(read.at("long").size(), textLimit);
}

}  // namespace
}  // namespace zoba::platform::linux_backend::atspi
