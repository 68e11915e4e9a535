#pragma once

// The owning handle of a zlib deflate stream.

#include <zlib.h>

#include <memory>

namespace zoba::platform::linux_backend {

// zlib's state points back at its z_stream, so the stream lives on the heap and
// never moves.
struct DeflateEnd {
  void operator()(z_stream* stream) const {
    deflateEnd(stream);
    delete stream;
  }
};
using DeflatePtr = std::unique_ptr<z_stream, DeflateEnd>;

// A deflate stream set up with deflateInit2's arguments; null if zlib refused.
inline DeflatePtr makeDeflate(int level, int windowBits, int memLevel, int strategy) {
  auto stream = std::make_unique<z_stream>();
  if (deflateInit2(stream.get(), level, Z_DEFLATED, windowBits, memLevel, strategy) != Z_OK) return nullptr;
  return DeflatePtr(stream.release());
}

}  // namespace zoba::platform::linux_backend
