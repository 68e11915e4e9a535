#pragma once

#include <optional>
#include <string>

#include "ZobaCapture/Message.h"

// Everything the helper says to its host: one compact JSON object per line on
// standard output, written by one output thread in submission order, so lines never
// interleave and the caller never waits on the pipe.
namespace zoba::Output {

// Serialises on the calling thread and queues the write. A message holding a NaN or
// an infinity is dropped; invalid UTF-8 in its strings is written as U+FFFD. Write
// failures (a host that closed the pipe) lose that line silently.
void send(const Message& message);

// Queues a message already serialised as one compact JSON object without a line
// feed (a capture's megabytes of Base64 need no pass through the JSON writer).
void sendLine(std::string line);

// Blocks until every line queued before the call is written. Never call it from the
// output thread.
void flush();

// The line `send` would write, without its line feed; absent when the message holds
// a non-finite number.
std::optional<std::string> serialize(const Message& message);

// Writes to `fd` instead of standard output from the next line on (tests, benchmarks).
void useDescriptor(int fd);

}  // namespace zoba::Output
