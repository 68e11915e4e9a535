// The wire format of the peer connections, checked against GDBus's own reading
// and writing of the same messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Platform/linux/atspi/AtspiReplies.h"
#include "Platform/linux/atspi/AtspiWire.h"

using namespace zoba::platform::linux_backend;
using namespace zoba::platform::linux_backend::atspi;

namespace {

GVariantPtr parsed(const char* text) {
  return GVariantPtr(g_variant_ref_sink(g_variant_parse(nullptr, text, nullptr, nullptr, nullptr)));
}

std::string printed(GVariant* value) {
  gchar* text = g_variant_print(value, TRUE);
  std::string result = text;
  g_free(text);
  return result;
}

// Bodies of the kinds the backend sends and reads, and the corners of the format.
const std::vector<const char*> bodies = {
    "()",
    "('Name',)",
    "('org.a11y.atspi.Accessible', 'ChildCount')",
    "(0, -1)",
    "(uint32 7,)",
    "([(':1.5', objectpath '/org/a11y/atspi/accessible/12'), ('', objectpath '/x')],)",
    "(@a(so) [],)",
    "({'Name': <'OK'>, 'ChildCount': <int32 3>, 'Parent': <(':1.5', objectpath '/p')>},)",
    "([uint32 0x10000002, 0],)",
    "({'placeholder-text': 'Search', 'tag': 'input'},)",
    "(<<2.5>>,)",
    "(byte 0x01, true, int16 -2, uint16 3, int64 -4, uint64 5, 6.5, signature 'a{sv}')",
    "(byte 1, [int64 1, 2], byte 3, @a(yx) [], byte 4, [(byte 5, int64 6)])",
    "(([1, 0], 1, @a{ss} {}, 1, [23], 1, @as [], 1, false), uint32 1, 0, true)",
    "('Grüße, 世界',)",
};

TEST(AtspiWireTest, CallsReadAsGDBusWroteThem) {
  for (const char* text : bodies) {
    SCOPED_TRACE(text);
    GVariantPtr body = parsed(text);
    ASSERT_TRUE(body);
    std::string out = "earlier bytes";  // a call is appended; its alignment counts from its own start
    ASSERT_TRUE(wire::appendMethodCall(out, 41, "/org/a11y/atspi/accessible/7", "org.a11y.atspi.Accessible",
                                       "GetRole", g_variant_n_children(body.get()) ? body.get() : nullptr));
    const std::string call = out.substr(13);
    ASSERT_EQ(wire::messageSize(call.data(), call.size()), call.size());
    GErrorSlot error;
    GObjectPtr<GDBusMessage> message(g_dbus_message_new_from_blob(
        reinterpret_cast<guchar*>(const_cast<char*>(call.data())), call.size(), G_DBUS_CAPABILITY_FLAGS_NONE,
        error.out()));
    ASSERT_TRUE(message) << (error ? error.get()->message : "");
    EXPECT_EQ(g_dbus_message_get_message_type(message.get()), G_DBUS_MESSAGE_TYPE_METHOD_CALL);
    EXPECT_EQ(g_dbus_message_get_serial(message.get()), 41u);
    EXPECT_STREQ(g_dbus_message_get_path(message.get()), "/org/a11y/atspi/accessible/7");
    EXPECT_STREQ(g_dbus_message_get_interface(message.get()), "org.a11y.atspi.Accessible");
    EXPECT_STREQ(g_dbus_message_get_member(message.get()), "GetRole");
    GVariant* read = g_dbus_message_get_body(message.get());
    if (g_variant_n_children(body.get()) == 0) {
      EXPECT_EQ(read, nullptr);
    } else {
      ASSERT_TRUE(read);
      EXPECT_EQ(printed(read), printed(body.get()));
    }
  }
}

TEST(AtspiWireTest, TheOneQueryBuiltFromPartsGoesOutWhole) {
  GVariantPtr query(statesQuery(ATSPI_STATE_VISIBLE, true));
  std::string out;
  ASSERT_TRUE(wire::appendMethodCall(out, 1, "/a", "org.a11y.atspi.Collection", "GetMatches", query.get()));
  GObjectPtr<GDBusMessage> message(g_dbus_message_new_from_blob(reinterpret_cast<guchar*>(out.data()), out.size(),
                                                                G_DBUS_CAPABILITY_FLAGS_NONE, nullptr));
  ASSERT_TRUE(message);
  EXPECT_EQ(printed(g_dbus_message_get_body(message.get())), printed(query.get()));
}

// A reply as the application's library writes it, in either byte order.
std::string replyBlob(GVariant* body, GDBusMessageByteOrder order, const char* error = nullptr) {
  GObjectPtr<GDBusMessage> call(g_dbus_message_new_method_call(nullptr, "/a", "i.f", "M"));
  g_dbus_message_set_serial(call.get(), 9);
  GObjectPtr<GDBusMessage> reply(error ? g_dbus_message_new_method_error_literal(call.get(), error, "no such method")
                                       : g_dbus_message_new_method_reply(call.get()));
  if (body && !error) g_dbus_message_set_body(reply.get(), body);
  g_dbus_message_set_serial(reply.get(), 77);
  g_dbus_message_set_byte_order(reply.get(), order);
  gsize size = 0;
  guchar* blob = g_dbus_message_to_blob(reply.get(), &size, G_DBUS_CAPABILITY_FLAGS_NONE, nullptr);
  std::string result(reinterpret_cast<char*>(blob), size);
  g_free(blob);
  return result;
}

TEST(AtspiWireTest, RepliesReadAsGDBusReadsThemInBothByteOrders) {
  for (auto order : {G_DBUS_MESSAGE_BYTE_ORDER_LITTLE_ENDIAN, G_DBUS_MESSAGE_BYTE_ORDER_BIG_ENDIAN}) {
    for (const char* text : bodies) {
      SCOPED_TRACE(text);
      GVariantPtr body = parsed(text);
      const std::string blob = replyBlob(g_variant_n_children(body.get()) ? body.get() : nullptr, order);
      ASSERT_EQ(wire::messageSize(blob.data(), 16), blob.size());
      auto message = wire::parseMessage(blob.data(), blob.size());
      ASSERT_TRUE(message);
      EXPECT_EQ(message->type, G_DBUS_MESSAGE_TYPE_METHOD_RETURN);
      EXPECT_EQ(message->replySerial, 9u);
      EXPECT_EQ(printed(message->body.get()), printed(body.get()));
    }
  }
}

TEST(AtspiWireTest, AnErrorCarriesItsName) {
  const std::string blob =
      replyBlob(nullptr, G_DBUS_MESSAGE_BYTE_ORDER_LITTLE_ENDIAN, "org.freedesktop.DBus.Error.UnknownMethod");
  auto message = wire::parseMessage(blob.data(), blob.size());
  ASSERT_TRUE(message);
  EXPECT_EQ(message->type, G_DBUS_MESSAGE_TYPE_ERROR);
  EXPECT_EQ(message->replySerial, 9u);
  EXPECT_EQ(message->errorName, "org.freedesktop.DBus.Error.UnknownMethod");
  EXPECT_EQ(printed(message->body.get()), "('no such method',)");
}

TEST(AtspiWireTest, ASizeIsKnownOnlyOnceTheFixedHeaderIsThere) {
  const std::string blob = replyBlob(parsed("('text',)").get(), G_DBUS_MESSAGE_BYTE_ORDER_LITTLE_ENDIAN);
  for (std::size_t available = 0; available < 16; ++available)
    EXPECT_EQ(wire::messageSize(blob.data(), available), 0u) << available;
  EXPECT_EQ(wire::messageSize("xxxxxxxxxxxxxxxxxxxx", 20), std::nullopt);  // not a message
}

// Damaged messages are refused, never read past their end (the sanitizers watch).
TEST(AtspiWireTest, DamagedRepliesAreRefusedOrReadWithinTheirBytes) {
  GVariantPtr body =
      parsed("({'Name': <'OK'>, 'Parent': <(':1.5', objectpath '/p')>}, [uint32 1, 2], <<[('a', objectpath '/b')]>>)");
  const std::string blob = replyBlob(body.get(), G_DBUS_MESSAGE_BYTE_ORDER_LITTLE_ENDIAN);
  for (std::size_t length = 0; length < blob.size(); ++length)
    EXPECT_FALSE(wire::parseMessage(blob.data(), length)) << "cut at " << length;
  int refused = 0;
  for (std::size_t at = 0; at < blob.size(); ++at) {
    for (unsigned char flip : {0x01, 0x80, 0xff}) {
      std::string damaged = blob;
      damaged[at] = static_cast<char>(damaged[at] ^ flip);
      // Only the bytes it was given: a copy of exactly that size.
      std::vector<char> exact(damaged.begin(), damaged.end());
      auto message = wire::parseMessage(exact.data(), exact.size());
      if (!message) ++refused;
      else ASSERT_TRUE(message->body);
    }
  }
  EXPECT_GT(refused, 0);
}

TEST(AtspiWireTest, NestingBeyondTheFormatsBoundIsRefused) {
  std::string text = "1";
  for (int i = 0; i < 70; ++i) text = "<" + text + ">";
  const std::string blob = replyBlob(parsed(("(" + text + ",)").c_str()).get(), G_DBUS_MESSAGE_BYTE_ORDER_LITTLE_ENDIAN);
  ASSERT_FALSE(blob.empty());
  EXPECT_FALSE(wire::parseMessage(blob.data(), blob.size()));
}

TEST(AtspiWireTest, AMessageOfAnUnknownTypeIsReadAsInvalid) {
  std::string blob = replyBlob(parsed("(1,)").get(), G_DBUS_MESSAGE_BYTE_ORDER_LITTLE_ENDIAN);
  for (char type : {'\0', '\x05', '\x82'}) {
    blob[1] = type;
    auto message = wire::parseMessage(blob.data(), blob.size());
    ASSERT_TRUE(message);
    EXPECT_EQ(message->type, G_DBUS_MESSAGE_TYPE_INVALID);
  }
}

TEST(AtspiWireTest, InvalidTextIsRefused) {
  GVariantPtr body = parsed("('abcd',)");
  std::string blob = replyBlob(body.get(), G_DBUS_MESSAGE_BYTE_ORDER_LITTLE_ENDIAN);
  const auto at = blob.find("abcd");
  ASSERT_NE(at, std::string::npos);
  blob[at + 1] = static_cast<char>(0xc3);  // a lead byte without its continuation
  EXPECT_FALSE(wire::parseMessage(blob.data(), blob.size()));
  blob[at + 1] = '\0';  // an embedded zero
  EXPECT_FALSE(wire::parseMessage(blob.data(), blob.size()));
}

}  // namespace
