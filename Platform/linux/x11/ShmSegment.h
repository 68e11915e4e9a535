#pragma once

// A shared-memory segment (MIT-SHM 1.2, passed as a file descriptor): mapped
// here and attached on the server, which reads from it and writes into it
// without copying pixels through the socket.

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace zoba::platform::linux_backend {

class ShmSegment {
 public:
  // Nullopt when the memory cannot be made or mapped. `checked` waits for the
  // server to accept the segment; otherwise a refusal shows as the failure of
  // the first request that uses it (one round trip fewer).
  static std::optional<ShmSegment> create(xcb_connection_t* connection, std::size_t length, bool checked);
  // Whether the server speaks MIT-SHM 1.2.
  static bool supported(xcb_connection_t* connection);

  ShmSegment(ShmSegment&& other) noexcept;
  ShmSegment& operator=(ShmSegment&&) = delete;
  ShmSegment(const ShmSegment&) = delete;
  ShmSegment& operator=(const ShmSegment&) = delete;
  ~ShmSegment();

  xcb_shm_seg_t id() const { return id_; }
  std::uint8_t* data() const { return static_cast<std::uint8_t*>(address_); }
  std::size_t length() const { return length_; }
  // Ends the server's side; the memory stays mapped here (a screenshot keeps
  // its pixels after the connection that read them is gone).
  void detach();

 private:
  ShmSegment(xcb_connection_t* connection, void* address, std::size_t length);

  xcb_connection_t* connection_;
  void* address_;
  std::size_t length_;
  xcb_shm_seg_t id_ = 0;  // 0 once detached
};

}  // namespace zoba::platform::linux_backend
