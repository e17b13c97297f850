// Protocol handlers that take over accepted sockets, and the JSON-RPC one.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/component.h"
#include "net/jsonrpc_connection.h"

namespace quorvane {

/// A protocol handler that can take over an accepted socket after looking at its first bytes.
class ipc : public component {
 public:
  /// The protocol's name.
  virtual std::string name() const = 0;

  /// Takes `s` over when `bytes` (the first `count` bytes the peer sent, not consumed from the socket) are of
  /// this protocol; `on_close` is then called each time the new connection closes. Returns false, leaving
  /// `s` untouched, when they are not (or when it cannot serve the socket).
  virtual bool adopt(smart_ptr<socket> s, const char* bytes, size_t count,
                     jsonrpc::close_function on_close) = 0;

  /// Registers the handler in the component list and at the head of the list of handlers (once).
  void register_ipc();

  /// The first registered handler, or null.
  static ipc* ipc_head();

  /// The next registered handler, or null.
  ipc* next_ipc() const { return next_ipc_; }

 protected:
  ~ipc() override;

 private:
  ipc* next_ipc_ = nullptr;
  bool ipc_registered_ = false;
};

namespace jsonrpc {

/// What the first bytes of a stream say about netstring JSON-RPC: digits (possibly none), ":" and "{".
enum class first_bytes { jsonrpc, other, undecided };

/// Classifies the first `count` bytes of a stream; `undecided` while they are a proper prefix of the form.
first_bytes classify_first_bytes(const char* bytes, size_t count);

/// What `manager::offer` did with an accepted socket.
enum class offer_result {
  adopted,  // a connection now serves the socket
  waiting,  // not enough bytes to decide yet: offer again when the socket is readable
  refused,  // not JSON-RPC, or the peer closed or failed before saying enough: the caller closes it
};

/// The answer of `manager::offer`: what it did, and the connection that now serves the socket.
struct offer_outcome {
  offer_result result = offer_result::refused;
  smart_ptr<connection> adopted;  // set only when `result` is `adopted`
};

/// The most length digits a frame header may have: enough for `max_frame_payload` in decimal.
inline constexpr size_t max_header_digits = 8;
static_assert(max_frame_payload >= 10'000'000 && max_frame_payload < 100'000'000,
              "max_header_digits must be the number of decimal digits of max_frame_payload");

/// The JSON-RPC protocol handler: turns accepted sockets into connections served by the main run loop.
class manager final : public ipc {
 public:
  /// The single instance, not initialised.
  static manager& instance();

  /// The manager, initialised on demand.
  static manager& shared();

  /// Sets the status to 0 and returns 0.
  int32_t applicationWillInitialize() override;

  /// Returns the status.
  int32_t applicationDidInitialize() override { return status_; }

  /// Returns "jsonrpc".
  std::string name() const override { return "jsonrpc"; }

  /// Takes `s` over when `bytes` begin with optional digits, ":" and "{": a new connection takes the
  /// socket's state (`s` is left closed), holds its input while answers wait for the peer (with a send buffer
  /// of `adopted_send_buffer`), is watched on the main run loop in place of `s`, and joins the list of
  /// accepted connections until it closes. Returns false when the bytes do not match or there is
  /// no main run loop (logged).
  bool adopt(smart_ptr<socket> s, const char* bytes, size_t count, close_function on_close) override;

  /// Reads the frame header waiting on `s` into a small buffer of its own, never past its "{" (the rest stays
  /// in the socket), and adopts the socket once the header is JSON-RPC: the new connection is given the
  /// buffered bytes before anything else it reads, so no byte of the stream is lost. The bytes read stay here
  /// between calls, so a socket left `waiting` becomes readable again only when the peer sends more. The
  /// peer's delegate pointer is carried over, so a caller that wants requests handled sets `s`'s delegate
  /// first. Returns `waiting` while the header is incomplete; `refused` for other bytes, for a header with
  /// more than `max_header_digits` digits, when the peer ends or fails first, when there is no main run loop,
  /// and when the connection closes at once on a protocol error in the header (its on-close function has then
  /// run); `adopted` with the connection otherwise.
  offer_outcome offer(smart_ptr<socket> s, close_function on_close);

  /// The number of offered sockets whose header is still incomplete (their bytes are held here).
  size_t undecided_count() const { return sniffers_.size(); }

 private:
  /// The header bytes read so far from one offered socket.
  struct sniffer {
    smart_ptr<socket> peer;
    char bytes[max_header_digits + 2] = {};
    size_t count = 0;
  };

  /// Makes a connection of `s` and watches it on the main run loop in place of `s`. Returns null when there
  /// is no main run loop (logged).
  smart_ptr<connection> take_over(smart_ptr<socket> s, close_function on_close);

  std::vector<sniffer> sniffers_;
};

}  // namespace jsonrpc
}  // namespace quorvane
