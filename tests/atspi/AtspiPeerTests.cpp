// The peer connection against GDBus's own server: values in both directions,
// timeouts, errors, a hang-up and connections that never come up.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "Platform/linux/atspi/AtspiPeer.h"
#include "Platform/linux/handles/UniqueFd.h"

using namespace zoba::platform::linux_backend;
using namespace zoba::platform::linux_backend::atspi;

namespace {

// "Echo" answers with its arguments, "Silence" never answers, "HangUp" closes
// the connection, anything else is an unknown method.
GDBusMessage* serve(GDBusConnection* connection, GDBusMessage* message, gboolean incoming, gpointer) {
  if (!incoming || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL)
    return message;
  GObjectPtr<GDBusMessage> call(message);
  const std::string_view member = g_dbus_message_get_member(message);
  if (member == "Silence") return nullptr;
  if (member == "HangUp") {
    g_dbus_connection_close(connection, nullptr, nullptr, nullptr);
    return nullptr;
  }
  GObjectPtr<GDBusMessage> reply(
      member == "Echo"
          ? g_dbus_message_new_method_reply(message)
          : g_dbus_message_new_method_error(message, "org.freedesktop.DBus.Error.UnknownMethod", "no"));
  if (member == "Echo" && g_dbus_message_get_body(message))
    g_dbus_message_set_body(reply.get(), g_dbus_message_get_body(message));
  g_dbus_connection_send_message(connection, reply.get(), G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr, nullptr);
  return nullptr;
}

// Lives as long as the test program: a stopped GDBusServer leaves its cancelled
// accept behind in GLib, which the leak checker would report.
class PeerServer {
 public:
  static PeerServer& shared() {
    static PeerServer* const server = new PeerServer;
    return *server;
  }
  std::string address() const { return g_dbus_server_get_client_address(server_.get()); }

 private:
  PeerServer() : context_(g_main_context_new()) {
    g_main_context_push_thread_default(context_.get());
    gchar* guid = g_dbus_generate_guid();
    server_.reset(g_dbus_server_new_sync("unix:tmpdir=/tmp", G_DBUS_SERVER_FLAGS_NONE, guid, nullptr, nullptr,
                                         nullptr));
    g_free(guid);
    g_main_context_pop_thread_default(context_.get());
    g_signal_connect(server_.get(), "new-connection",
                     G_CALLBACK(+[](GDBusServer*, GDBusConnection* connection, gpointer self) {
                       g_dbus_connection_add_filter(connection, serve, nullptr, nullptr);
                       // Only the server's thread comes here.
                       static_cast<PeerServer*>(self)->connections_.emplace_back(
                           G_DBUS_CONNECTION(g_object_ref(connection)));
                       return TRUE;
                     }),
                     this);
    g_dbus_server_start(server_.get());
    std::thread([context = context_.get()] {
      for (;;) g_main_context_iteration(context, TRUE);
    }).detach();
  }

  GMainContextPtr context_;
  GObjectPtr<GDBusServer> server_;
  std::vector<GObjectPtr<GDBusConnection>> connections_;
};

GVariantPtr parsed(const char* text) {
  return GVariantPtr(g_variant_ref_sink(g_variant_parse(nullptr, text, nullptr, nullptr, nullptr)));
}

std::string printed(GVariant* value) {
  gchar* text = g_variant_print(value, TRUE);
  std::string result = text;
  g_free(text);
  return result;
}

class AtspiPeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    peer = PeerConnection::open(PeerServer::shared().address(), bus.context(), 2.0);
    ASSERT_TRUE(peer) << PeerServer::shared().address();
  }
  Reply call(const char* method, GVariant* body, const char* replyType, double timeout = 2.0) {
    std::optional<Reply> got;
    peer->call(nullptr, "/test", "org.zoba.Test", method, body, replyType, timeout,
               [&](Reply r) { got = std::move(r); });
    EXPECT_FALSE(got) << "answered before the call returned";
    EXPECT_TRUE(bus.waitUntil([&] { return got.has_value(); }, monotonicSeconds() + 5));
    return got ? std::move(*got) : Reply{};
  }

  Bus bus;
  std::shared_ptr<PeerConnection> peer;
};

TEST_F(AtspiPeerTest, RepliesCarryWhatWasSent) {
  // The kinds of bodies the backend sends and reads, and the corners of the format.
  for (const char* text : {
           "('Name',)",
           "('org.a11y.atspi.Accessible', 'ChildCount')",
           "(0, -1)",
           "([(':1.5', objectpath '/org/a11y/atspi/accessible/12'), ('', objectpath '/x')],)",
           "(@a(so) [],)",
           "({'Name': <'OK'>, 'ChildCount': <int32 3>, 'Parent': <(':1.5', objectpath '/p')>},)",
           "([uint32 0x10000002, 0],)",
           "(@au [],)",
           "({'placeholder-text': 'Search', 'tag': 'input'},)",
           "(<<2.5>>,)",
           "(byte 0x01, true, int16 -2, uint16 3, int64 -4, uint64 5, 6.5, signature 'a{sv}')",
           "(byte 1, [int64 1, 2], byte 3, @a(yx) [], byte 4, [(byte 5, int64 6)])",
           "(([1, 0], 1, @a{ss} {}, 1, [23], 1, @as [], 1, false), uint32 1, 0, true)",
           "([true, false],)",
           "('Grüße, 世界',)",
       }) {
    SCOPED_TRACE(text);
    GVariantPtr body = parsed(text);
    ASSERT_TRUE(body);
    Reply reply = call("Echo", body.get(), g_variant_get_type_string(body.get()));
    ASSERT_TRUE(reply);
    EXPECT_EQ(printed(reply.value.get()), printed(body.get()));
  }
  EXPECT_TRUE(call("Echo", nullptr, "()")) << "a call without arguments";
  EXPECT_FALSE(call("Echo", parsed("(1,)").get(), "(s)")) << "a reply of another type is no answer";
}

TEST_F(AtspiPeerTest, AnUnansweredCallTimesOutAndTheConnectionGoesOn) {
  const double start = monotonicSeconds();
  Reply silent = call("Silence", nullptr, nullptr, 0.2);
  EXPECT_FALSE(silent);
  EXPECT_TRUE(silent.timedOut);
  EXPECT_GE(monotonicSeconds() - start, 0.2);
  EXPECT_TRUE(call("Echo", parsed("('again',)").get(), "(s)"));
}

TEST_F(AtspiPeerTest, AnErrorTellsAnUnknownMethod) {
  Reply reply = call("Nothing", nullptr, nullptr);
  EXPECT_FALSE(reply);
  EXPECT_TRUE(reply.unknownMethod);
  EXPECT_FALSE(reply.timedOut);
}

TEST_F(AtspiPeerTest, AHangUpAnswersTheCallsInFlightAndLaterOnes) {
  std::optional<Reply> waiting;
  peer->call(nullptr, "/test", "org.zoba.Test", "Silence", nullptr, nullptr, 5.0,
             [&](Reply r) { waiting = std::move(r); });
  const double start = monotonicSeconds();
  call("HangUp", nullptr, nullptr, 5.0);
  ASSERT_TRUE(bus.waitUntil([&] { return waiting.has_value(); }, start + 3));
  EXPECT_FALSE(*waiting);
  EXPECT_FALSE(waiting->timedOut) << "a closed connection is not a stopped application";
  Reply later = call("Echo", parsed("('late',)").get(), "(s)");
  EXPECT_FALSE(later);
  EXPECT_LT(monotonicSeconds() - start, 3);
}

TEST_F(AtspiPeerTest, AnAbandonedConnectionCallsNothingBack) {
  int answered = 0;
  peer->call(nullptr, "/test", "org.zoba.Test", "Silence", nullptr, nullptr, 0.1, [&](Reply) { ++answered; });
  peer->abandon();
  peer->call(nullptr, "/test", "org.zoba.Test", "Echo", nullptr, nullptr, 0.1, [&](Reply) { ++answered; });
  bus.waitUntil([] { return false; }, monotonicSeconds() + 0.3);
  EXPECT_EQ(answered, 0);
}

// The accessibility bus for applications without a socket of their own: the
// connection says Hello, and calls reach the name they are sent to.
TEST(AtspiPeerOpenTest, OnAMessageBusCallsReachTheirDestination) {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (!address) GTEST_SKIP() << "needs a session bus";
  Bus bus;
  auto connection = PeerConnection::open(address, bus.context(), 2.0, true);
  ASSERT_TRUE(connection) << address;
  std::optional<Reply> id, nobody;
  connection->call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId", nullptr,
                   "(s)", 2.0, [&](Reply r) { id = std::move(r); });
  connection->call(":1.999999", "/x", "org.zoba.Test", "Echo", nullptr, nullptr, 2.0,
                   [&](Reply r) { nobody = std::move(r); });
  ASSERT_TRUE(bus.waitUntil([&] { return id && nobody; }, monotonicSeconds() + 3));
  EXPECT_TRUE(*id);
  // A name nobody owns is an error at once, not a stopped application.
  EXPECT_FALSE(*nobody);
  EXPECT_FALSE(nobody->timedOut);
}

TEST(AtspiPeerOpenTest, ConnectionsThatNeverComeUpFailWithinTheirTimeout) {
  Bus bus;
  EXPECT_FALSE(PeerConnection::open("unix:path=/nonexistent/zoba-peer", bus.context(), 1.0));
  EXPECT_FALSE(PeerConnection::open("not an address", bus.context(), 1.0));

  // A socket that takes connections and never answers the authentication.
  const auto path = std::filesystem::temp_directory_path() / ("zoba-silent-" + std::to_string(::getpid()));
  UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener.get(), 4), 0);
  const double start = monotonicSeconds();
  EXPECT_FALSE(PeerConnection::open("unix:path=" + path.string(), bus.context(), 0.3));
  const double took = monotonicSeconds() - start;
  EXPECT_GE(took, 0.25);
  EXPECT_LT(took, 2.0);
  std::filesystem::remove(path);
}

}  // namespace
