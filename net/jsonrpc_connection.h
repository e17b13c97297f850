// JSON-RPC 2.0 over one socket, one netstring frame per message: "<length>:<payload>,".
#pragma once

#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/runloop.h"
#include "net/jsonrpc_message.h"
#include "net/socket.h"

namespace quorvane::jsonrpc {

class connection;

/// Receives the result of one call: the whole response, or {"error":{"code":10}} whenever the connection
/// closes while the call is outstanding.
using result_callback = std::function<void(const Json::Value&)>;

/// Sends one reply to an incoming request; a null value sends nothing.
using reply_function = std::function<void(const Json::Value&)>;

/// Called each time a connection closes.
using close_function = std::function<void(smart_ptr<connection>)>;

/// The largest payload a frame may declare. A peer that declares more is in error; the connection closes
/// before anything of that size is allocated.
inline constexpr size_t max_frame_payload = size_t{64} << 20;

/// The read buffer's first capacity.
inline constexpr size_t initial_read_capacity = 4192;

/// How many bytes may wait for a watched connection's peer before a further message closes it. A peer that
/// reads keeps this near zero; the largest messages sent in normal use (the full list of printers or of the
/// jobs kept) are well under 1 MiB, so only a peer that has stopped reading gets this far, and it then costs
/// at most this, one message more, and the system's socket buffer.
inline constexpr size_t max_outgoing_bytes = size_t{4} << 20;

/// The system's send buffer (SO_SNDBUF, which Linux doubles) of every connection the manager adopts: how
/// many bytes of answers the system holds for a peer before the rest waits in the outgoing queue, where it
/// makes the connection stop reading (see `set_holds_input_while_unsent`). Left to itself, the system grows
/// the buffer up to 4 MiB for a peer that does not read, and such a peer had thousands of requests
/// answered before anything waited.
inline constexpr int adopted_send_buffer = 16 << 10;

/// The largest read buffer kept once it is drained; a larger one (grown for a large frame, such as a
/// notification listing many printers) goes back to `initial_read_capacity`, so that a connection that
/// mostly waits does not hold the memory of its largest frame.
inline constexpr size_t kept_read_capacity = size_t{64} << 10;

/// The netstring frame of `value`: "<length>:" + `compact_json(value)` + ",".
std::string frame(const Json::Value& value);

/// A JSON-RPC connection: sends calls and replies, routes responses to their callbacks, hands incoming
/// requests and notifications to the delegate. The same object serves successive connections; request ids
/// keep rising and outstanding calls survive a close. Used on its run loop's thread only.
class connection : public socket {
 public:
  /// Receives incoming requests and notifications (set with `set_delegate`).
  class delegate : public socket::delegate {
   public:
    /// Handles one message whose "method" is not null; `reply` writes the answer (null: nothing is sent).
    virtual void request_handler(smart_ptr<connection> c, Json::Value& message, reply_function reply) = 0;
  };

  /// A client connection: a fresh socket, no pending calls, next id 1.
  connection();

  /// Takes over an accepted socket (its handle, peer texts, connected flag and delegate); `source` is left
  /// closed. `on_close` is called each time this connection closes.
  connection(socket& source, close_function on_close);

  /// Closes the socket; pending callbacks are destroyed without being called.
  ~connection() override;

  /// Sends `request` with the next id (set as its "id") and keeps `callback` until a response with that id
  /// arrives. Returns `write_message`'s answer; on false the call stays pending, and its callback has heard
  /// of the close the failure caused (or hears of the next one when the connection was already closed).
  bool call(Json::Value& request, result_callback callback);

  /// Writes `value` as one frame. Unwatched, the call waits until every byte is sent. Watched, it never
  /// waits: what the socket cannot take now joins the outgoing queue, written as the socket becomes writable,
  /// behind anything queued before. Returns true when the frame was sent or queued; false when the connection
  /// is not connected, and false after closing it through `handle_close` (logged) when the peer is gone or
  /// already has `max_outgoing_bytes` or more waiting for it.
  bool write_message(const Json::Value& value);

  /// The run loop handler (see `runloop::handler`): on `event_writable` writes what it can of the outgoing
  /// queue; otherwise reads what arrived and dispatches every complete frame. Closes through `handle_close`
  /// at the peer's end, a send or receive failure or a protocol error. `context` is the connection.
  static void on_ready(smart_ptr<socket> s, int32_t event, void* context);

  /// Watches this connection on `loop` with `on_ready`; `loop` must outlive the watch, which ends at the
  /// next `handle_close`. Returns `loop.watch`'s result.
  bool watch_on(runloop& loop);

  /// Consumes `count` bytes as if they had just been received, dispatching every complete frame (the read
  /// path of `on_ready` without the socket: the header bytes `manager::offer` read, tests and benchmarks).
  /// Returns false when a protocol error closed the connection.
  bool deliver(const char* bytes, size_t count);

  /// Closes the connection: unwatches it, runs the virtual `close`, the on-close function, tells every
  /// pending call {"error":{"code":10}} in ascending id order (the calls stay pending), discards unread and
  /// unsent bytes and leaves the process-wide list of accepted connections.
  void handle_close();

  /// The id the next call will carry.
  int32_t next_request_id() const { return next_request_id_; }

  /// The number of calls still waiting for their response.
  size_t pending_count() const { return pending_.size(); }

  /// The read buffer's capacity: it grows to hold a frame and goes back to `initial_read_capacity` when it
  /// is drained while above `kept_read_capacity`.
  size_t read_capacity() const { return capacity_; }

  /// The number of received bytes not yet consumed.
  size_t unread_count() const { return end_ - begin_; }

  /// The number of bytes waiting in the outgoing queue.
  size_t unsent_count() const { return outgoing_.size() - outgoing_begin_; }

  /// While `holds` (off unless set), the connection reads and handles nothing more from its peer as long as
  /// anything waits in its outgoing queue: a peer that sends requests without reading the answers then
  /// costs the run loop nothing until it reads, instead of having every request it can pipeline answered
  /// into a queue that only grows. Frames already read wait in the read buffer and are handled, in order,
  /// once the queue is written out. The serving side sets it (`manager` does for every connection it
  /// adopts); a client keeps reading, so that two connected peers can never both wait for the other.
  void set_holds_input_while_unsent(bool holds) { holds_input_while_unsent_ = holds; }

  /// True while input is held back: `set_holds_input_while_unsent` is on and the outgoing queue is not empty.
  bool input_held() const { return holds_input_while_unsent_ && unsent_count() > 0; }

 protected:
  /// Dispatches every complete frame in the read buffer. Returns false on a protocol error (no ":" among 10
  /// or more bytes, a non-digit length, a declared length above `max_frame_payload`, a missing ",", an
  /// unparsable payload); true otherwise, also while a frame is incomplete.
  bool process_input();

 private:
  /// Grows the read buffer to `capacity` bytes, keeping the unread bytes (moved to the front).
  void grow(size_t capacity);

  /// Moves the unread bytes to the front of the buffer.
  void compact();

  /// Parses one payload of `length` bytes into `message`. Returns false with the reader's complaint in
  /// `errors` when it is not one JSON value, a value nested beyond the reader's limit included.
  bool parse_payload(const char* text, size_t length, Json::Value& message, std::string& errors);

  /// Hands one parsed message to the delegate or to the pending call it answers.
  void dispatch(Json::Value& message);

  /// Writes what the socket takes of the outgoing queue, and stops asking for writability once it is empty,
  /// then handles the input held back meanwhile. Closes (logged) when the peer is gone.
  void write_queued();

  /// Handles the frames read while input was held and asks the loop for input again, unless the handling
  /// holds it anew. Closes on a protocol error among them.
  void resume_input();

  /// Logs that a send to the peer failed with `error`, then closes the connection. Returns false.
  bool fail_send(int error);

  close_function on_close_;
  std::map<int32_t, result_callback> pending_;
  std::unique_ptr<Json::CharReader> reader_;
  std::unique_ptr<char[]> buffer_;
  size_t begin_ = 0;  // first unread byte
  size_t end_ = 0;    // end of the unread bytes
  size_t capacity_ = 0;
  std::string outgoing_;       // frames, or their tails, the socket has not taken yet
  size_t outgoing_begin_ = 0;  // the first byte of `outgoing_` still to send
  int32_t next_request_id_ = 1;
  runloop* watched_on_ = nullptr;  // the loop given to watch_on, if any
  bool holds_input_while_unsent_ = false;
  uint64_t closes_ = 0;  // rises at every handle_close, so a reader can tell that a dispatch closed
};

/// The connections taken over by `manager::adopt` and not yet closed, oldest first.
const std::vector<smart_ptr<connection>>& accepted_connections();

}  // namespace quorvane::jsonrpc
