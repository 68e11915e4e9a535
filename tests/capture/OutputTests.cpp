#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <csignal>

#include "ZobaCapture/LineReader.h"
#include "ZobaCapture/Output.h"
#include "tests/capture/OutputPipe.h"

namespace zoba {
namespace {

TEST(Output, OneCompactLinePerMessage) {
  EXPECT_EQ(Output::serialize({{"type", "ready"}, {"version", 1}}), R"({"type":"ready","version":1})");
  EXPECT_EQ(Output::serialize({{"type", "a\nb"}}), R"({"type":"a\nb"})");
  EXPECT_EQ(Output::serialize({{"type", "x"}, {"ok", true}}), R"({"ok":true,"type":"x"})");
}

TEST(Output, InvalidUtf8IsReplacedNotLost) {
  EXPECT_EQ(Output::serialize({{"type", "title"}, {"windowTitle", "caf\xc3 \xff!"}}),
            "{\"type\":\"title\",\"windowTitle\":\"caf\xEF\xBF\xBD \xEF\xBF\xBD!\"}");
}

TEST(Output, NonFiniteNumbersDropTheMessage) {
  EXPECT_FALSE(Output::serialize({{"type", "x"}, {"v", NAN}}));
  EXPECT_FALSE(Output::serialize({{"type", "x"}, {"nested", {{"list", {1.0, INFINITY}}}}}));
  EXPECT_TRUE(Output::serialize({{"type", "x"}, {"v", 1e308}}));

  OutputPipe pipe;
  Output::send({{"type", "x"}, {"v", -INFINITY}});
  Output::send({{"type", "next"}});
  EXPECT_EQ(pipe.lines(), (std::vector<std::string>{R"({"type":"next"})"}));
}

TEST(Output, LinesKeepSubmissionOrderAndFlushWaitsForAll) {
  OutputPipe pipe;
  for (int i = 0; i < 1000; ++i) Output::send({{"type", "n"}, {"i", i}});
  auto lines = pipe.lines();
  ASSERT_EQ(lines.size(), 1000u);
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(lines[i], R"({"i":)" + std::to_string(i) + R"(,"type":"n"})");
}

TEST(Output, ReadyMadeLinesKeepTheirPlace) {
  OutputPipe pipe;
  Output::send({{"type", "a"}});
  Output::sendLine(R"({"type":"b","big":"AAAA"})");
  Output::send({{"type", "c"}});
  EXPECT_EQ(pipe.lines(),
            (std::vector<std::string>{R"({"type":"a"})", R"({"type":"b","big":"AAAA"})", R"({"type":"c"})"}));
}

TEST(Output, ClosedReaderFailsSilently) {
  std::signal(SIGPIPE, SIG_IGN);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  Output::useDescriptor(fds[1]);
  Output::send({{"type", "lost"}});
  Output::flush();  // returns: the failed write counts as done
  ::close(fds[1]);
  OutputPipe pipe;
  Output::send({{"type", "after"}});
  EXPECT_EQ(pipe.lines(), (std::vector<std::string>{R"({"type":"after"})"}));
}

TEST(Output, LongLineWrittenWhole) {
  OutputPipe pipe;
  std::string big(300000, 'x');  // several pipe buffers
  Output::send({{"type", big}});
  auto lines = pipe.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].size(), big.size() + 11);
}

}  // namespace
}  // namespace zoba
