// The helper as a host meets it: JSON lines over pipes, with no display and no
// session bus, so both permissions read false and no monitor is installed.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace zoba::testing {
namespace {

using nlohmann::json;

const ChildEnvironment headless{
    {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS", "XDG_RUNTIME_DIR"}, {}};

class Helper {
 public:
  explicit Helper(std::vector<std::string> arguments = {}) : child(ZOBA_CAPTURE_PATH, arguments, headless) {}

  json next() {
    auto line = child.readLine();
    if (!line) return nullptr;
    return json::parse(*line, nullptr, false);
  }
  json ready() {
    json message = next();
    EXPECT_EQ(message.value("type", ""), "ready") << message;
    return message;
  }
  // The lines written before the answer to a closing status request with id "end".
  std::vector<json> untilEnd() {
    child.writeLine(R"({"type":"status","id":"end"})");
    std::vector<json> lines;
    for (json message = next(); !message.is_null(); message = next()) {
      if (message.value("id", "") == "end") return lines;
      lines.push_back(message);
    }
    ADD_FAILURE() << "no answer to the closing request";
    return lines;
  }

  ChildProcess child;
};

const json noPermissions = {{"screenRecording", false}, {"accessibility", false}};
// No display of any kind: nothing the capture needs is there.
const json noSession = {{"type", "none"},
                        {"desktop", ""},
                        {"unavailable", {"screenshot", "overlay", "hotkey", "frontmostWindow"}}};

TEST(Protocol, ReadyComesFirstEvenWhenRequestsWereAlreadyWritten) {
  Helper helper;
  for (int i = 0; i < 20; ++i)
    helper.child.writeLine(R"({"type":"status","id":")" + std::to_string(i) + "\"}");
  json ready = helper.ready();
  EXPECT_EQ(ready, (json{{"type", "ready"},
                         {"version", 1},
                         {"hotkey", "shift"},
                         {"permissions", noPermissions},
                         {"session", noSession}}));
  for (int i = 0; i < 20; ++i) EXPECT_EQ(helper.next()["id"], std::to_string(i));
}

TEST(Protocol, ReadyNamesTheHotkeyOfTheCommandLine) {
  EXPECT_EQ(Helper({"--hotkey", "option"}).ready()["hotkey"], "option");
  EXPECT_EQ(Helper({"--hotkey", "Option"}).ready()["hotkey"], "shift");
  EXPECT_EQ(Helper({"--hotkey", "command", "--hotkey", "option"}).ready()["hotkey"], "command");
}

TEST(Protocol, EveryRequestAndErrorText) {
  struct Case {
    std::string line;
    json response;  // null: no line at all
  };
  auto ok = [](const char* id, json result) {
    return json{{"type", "response"}, {"id", id}, {"ok", true}, {"result", std::move(result)}};
  };
  auto status = [](const char* hotkey) {
    return json{{"permissions", noPermissions}, {"hotkey", hotkey}, {"session", noSession}};
  };
  auto failed = [](const char* id, const char* error) {
    return json{{"type", "response"}, {"id", id}, {"ok", false}, {"error", error}};
  };
  const std::vector<Case> cases = {
      {R"({"type":"status"})", nullptr},
      {R"({"type":"status","id":7})", nullptr},
      {R"({"type":"status","id":null})", nullptr},
      {R"({"type":"status","id":"s"})", ok("s", status("shift"))},
      {R"({"type":"requestPermission","id":"p1","permission":"screenRecording"})",
       ok("p1", {{"permissions", noPermissions}})},
      {R"({"type":"requestPermission","id":"p2","permission":"accessibility"})",
       ok("p2", {{"permissions", noPermissions}})},
      {R"({"type":"requestPermission","id":"p3","permission":"Accessibility"})",
       failed("p3", "Unknown permission")},
      {R"({"type":"requestPermission","id":"p4","permission":""})", failed("p4", "Unknown permission")},
      {R"({"type":"requestPermission","id":"p5","permission":1})", failed("p5", "Unknown permission")},
      {R"({"type":"requestPermission","id":"p6"})", failed("p6", "Unknown permission")},
      {R"({"type":"requestPermission","permission":"nope"})", nullptr},
      {R"({"type":"setHotkey","id":"h1","hotkey":"Command"})", failed("h1", "Unknown hotkey")},
      {R"({"type":"setHotkey","id":"h2","hotkey":"cmd"})", failed("h2", "Unknown hotkey")},
      {R"({"type":"setHotkey","id":"h3"})", failed("h3", "Unknown hotkey")},
      {R"({"type":"setHotkey","id":"h4","hotkey":"command"})", ok("h4", {{"hotkey", "command"}})},
      {R"({"type":"status","id":"s2"})", ok("s2", status("command"))},
      {R"({"type":"setHotkey","hotkey":"option"})", nullptr},
      {R"({"type":"status","id":"s3"})", ok("s3", status("option"))},
      {R"({"type":"captureTarget","id":"t1"})", failed("t1", "Missing capture")},
      {R"({"type":"captureTarget","id":"t2","captureId":5})", failed("t2", "Missing capture")},
      {R"({"type":"captureTarget","id":"t3","captureId":"unknown"})", ok("t3", json::object())},
      {R"({"type":"captureTarget","id":"t4","captureId":"x","frame":{"x":1,"y":2,"width":3,"height":4},"radius":2})",
       ok("t4", json::object())},
      {R"({"type":"captureTarget","id":"t5","captureId":"x","frame":[1,2,3,4],"radius":"big"})",
       ok("t5", json::object())},
      {R"({"type":"Status","id":"u1"})", failed("u1", "Unknown request")},
      {R"({"type":"","id":"u2"})", failed("u2", "Unknown request")},
      {R"({"type":"launch"})", nullptr},
      {"", nullptr},
      {"   ", nullptr},
      {"[]", nullptr},
      {R"(["type","status"])", nullptr},
      {R"({"type":5,"id":"n"})", nullptr},
      {R"({"id":"n"})", nullptr},
      {R"("status")", nullptr},
      {R"({"type":"status","id":"x")", nullptr},
      {R"({"type":"status","id":"late"} trailing)", nullptr},
      {R"({"type":"status","id":"a/b\n"})", ok("a/b\n", status("option"))},
  };
  Helper helper;
  helper.ready();
  std::vector<json> expected;
  for (const auto& c : cases) {
    helper.child.writeLine(c.line);
    if (!c.response.is_null()) expected.push_back(c.response);
  }
  EXPECT_EQ(helper.untilEnd(), expected);
}

TEST(Protocol, CarriageReturnBeforeTheLineFeedBelongsToTheFraming) {
  Helper helper;
  helper.ready();
  helper.child.write("{\"type\":\"status\",\"id\":\"crlf\"}\r\n");
  EXPECT_EQ(helper.next()["id"], "crlf");
}

TEST(Protocol, ShutdownWritesEveryQueuedLineThenExitsZero) {
  Helper helper;
  std::string burst;
  for (int i = 0; i < 500; ++i) burst += R"({"type":"status","id":")" + std::to_string(i) + "\"}\n";
  burst += R"({"type":"shutdown","id":"bye"})"
           "\n";
  helper.child.write(burst);
  auto lines = helper.child.readAllLines();
  ASSERT_EQ(lines.size(), 501u);  // ready + 500 answers, none for the shutdown
  for (int i = 0; i < 500; ++i) EXPECT_EQ(json::parse(lines[i + 1])["id"], std::to_string(i));
  EXPECT_EQ(helper.child.wait(), 0);
}

TEST(Protocol, EndOfInputExitsZero) {
  Helper helper;
  helper.ready();
  helper.child.write(R"({"type":"status","id":"last"})");  // a last line without a line feed counts
  helper.child.closeStdin();
  EXPECT_EQ(helper.child.wait(), 0);
}

TEST(Protocol, HostThatStopsReadingDoesNotEndTheHelper) {
  Helper helper;
  helper.ready();
  helper.child.closeStdout();
  for (int i = 0; i < 100; ++i) helper.child.writeLine(R"({"type":"status","id":"unread"})");
  // Still alive and still reading: the status of the next request is its end of input.
  EXPECT_FALSE(helper.child.wait(300ms));
  helper.child.closeStdin();
  EXPECT_EQ(helper.child.wait(), 0);
}

TEST(Protocol, BadInputGetsNothingAndReadingGoesOn) {
  Helper helper;
  helper.ready();
  // Invalid UTF-8 inside a request: replaced, and the request is still answered.
  helper.child.writeLine("{\"type\":\"status\",\"id\":\"bad\xff\xc3(\"}");
  // A million nested brackets, binary garbage with NUL bytes, a line of 3 MiB.
  helper.child.writeLine(std::string(1'000'000, '[') + std::string(1'000'000, ']'));
  helper.child.writeLine(std::string(1'000'000, '{'));
  std::string garbage;
  for (int i = 0; i < 4096; ++i)
    garbage.push_back(static_cast<char>((i * 7919) % 256 == '\n' ? 0 : (i * 7919) % 256));
  helper.child.writeLine(garbage);
  helper.child.writeLine(R"({"type":"status","id":"big","pad":")" + std::string(3 << 20, 'x') + "\"}");
  helper.child.writeLine(R"({"type":"status","id":")" + std::string((1 << 20) - 200, 'y') + "\"}");
  auto lines = helper.untilEnd();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]["id"], "bad\xEF\xBF\xBD\xEF\xBF\xBD(");
  EXPECT_EQ(lines[1]["id"].get<std::string>().size(), (1u << 20) - 200);  // a long line within the limit
}

}  // namespace
}  // namespace zoba::testing
