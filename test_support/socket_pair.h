// Test helper: two connected local stream sockets.
#pragma once

namespace quorvane::testing_support {

/// Two connected AF_UNIX stream sockets (close-on-exec). The pair closes the handles it still holds at
/// destruction; a handle taken out is the taker's to close.
class socket_pair {
 public:
  /// Makes the pair; when it cannot, the running test fails and both handles are -1.
  socket_pair();
  /// Closes the handles not taken.
  ~socket_pair();
  /// Not copyable.
  socket_pair(const socket_pair&) = delete;
  /// Not assignable.
  socket_pair& operator=(const socket_pair&) = delete;

  /// Whether both sockets were made.
  bool made() const { return handles_[0] >= 0 && handles_[1] >= 0; }
  /// The first handle, still held by the pair (-1 once taken).
  int first() const { return handles_[0]; }
  /// The second handle, still held by the pair (-1 once taken).
  int second() const { return handles_[1]; }
  /// Hands the first handle over; the pair no longer closes it.
  int take_first();
  /// Hands the second handle over; the pair no longer closes it.
  int take_second();

 private:
  int handles_[2] = {-1, -1};
};

}  // namespace quorvane::testing_support
