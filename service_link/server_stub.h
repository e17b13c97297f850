// The console's JSON-RPC client of the print service, which also receives the service's own messages.
#pragma once

#include <cstdint>
#include <string>

#include <json/value.h>

#include "net/jsonrpc_connection.h"
#include "service_link/server.h"

namespace quorvane {

/// `server` over one JSON-RPC connection; the connection's delegate is the stub itself, which forwards the
/// service's notifications and print requests to its `server::delegate`. One stub serves every connection
/// to the service; request ids keep rising across reconnections.
class server_stub : public server, public jsonrpc::connection, public jsonrpc::connection::delegate {
 public:
  /// A stub reporting to `receiver` (not owned; null: incoming messages are ignored).
  explicit server_stub(server::delegate* receiver);
  /// Closes the socket; callbacks still pending are destroyed without being called.
  ~server_stub() override;

  /// How long `connect` waits for the service's side of a new connection to finish its handshake before
  /// it can tell the account that owns it.
  static constexpr int handshake_wait_ms = 200;

  /// Connects, checks that the socket that answered belongs to this account, root or the computer's print
  /// service account, and on success only watches the connection on the main run loop. Returns 0, or -1 when
  /// the connect failed, the peer belongs to another account (logged) or there is no main run loop (then the
  /// socket is closed and nothing is watched, so the caller retries as if the service were down).
  int32_t connect(const sockaddr* address, socklen_t length) override;

  /// Sends "authenticate" [token]; the status arrives in `callback` (10 at every close while outstanding).
  void authenticate(const std::string& token, status_callback callback) override;
  /// Sends "updatePrinter" [printer JSON] (an empty object for a null printer).
  void updatePrinter(smart_ptr<model::printer> printer, status_callback callback) override;
  /// Sends "removePrinter" [printer JSON] (an empty object for a null printer).
  void removePrinter(smart_ptr<model::printer> printer, status_callback callback) override;
  /// Sends "attributes" without params; `callback` gets the status and "result"[1] (null on any failure).
  void attributes(attributes_callback callback) override;
  /// Sends "saveAttributes" [a copy of `attributes`].
  void saveAttributes(const Json::Value& attributes, status_callback callback) override;
  /// Sends "observe" [enable].
  void observe(bool enable, status_callback callback) override;

  /// Hands one notification or print request to the delegate. A message that cannot be read safely (a
  /// "method" that is not a string, "params" that is not an array, list or print elements that are neither
  /// objects nor null) is dropped with a warning; a dropped "print" that carries an id is answered
  /// (-1, 8, 0) so the service does not wait for it. A "print" whose file or program path ("directory",
  /// "actionParam", "filename") holds a NUL byte is refused with the error -32602.
  void request_handler(smart_ptr<jsonrpc::connection> c, Json::Value& message,
                       jsonrpc::reply_function reply) override;

  /// The delegate given to the constructor.
  server::delegate* service_delegate() const { return service_delegate_; }

 private:
  /// Sends `request` and reports its status to `callback`.
  void send_status_request(Json::Value request, status_callback callback);

  server::delegate* service_delegate_;
};

/// The "print" reply {"id": id, "result": [status, state, platform job id]}.
Json::Value print_reply(const Json::Value& id, int32_t status, int32_t state, int32_t platform_job_id);

}  // namespace quorvane
