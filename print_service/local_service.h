// The local print service: the consoles' sessions on 127.0.0.1, the printers it offers, and the job queue
// it delivers to an observing console.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <json/json.h>

#include "net/jsonrpc_connection.h"
#include "net/poll_runloop.h"
#include "print_service/service_options.h"
#include "print_service/service_store.h"

namespace quorvane::print_service {

/// Error codes of the service's JSON-RPC error objects.
enum service_error : int32_t {
  error_invalid_request = -32600,  // not a request: the connection is closed after the answer
  error_method_not_found = -32601,
  error_invalid_params = -32602,
  error_unknown_printer = -32001,
  error_ambiguous_printer = -32002,
  error_unreadable_file = -32003,
  error_storage = -32004,
  error_unknown_job = -32005,
  error_not_permitted = -32006,  // a job from another account than the service's
};

/// How often a job is handed to a console that then closes without answering before it ends aborted.
constexpr int32_t max_delivery_attempts = 3;

/// The status a job ends with when no console answered it (the connection-closed code consoles use too).
constexpr int32_t status_no_answer = 10;

/// The status a job ends with when its printer was removed before it could be delivered.
constexpr int32_t status_printer_gone = -1;

/// How long one write to a console may wait for it to read. A console that stops reading longer than this
/// is closed, so that it cannot hold up the other consoles served from the same run loop.
constexpr std::chrono::milliseconds console_send_limit{5000};

/// The service on one run loop. Every member runs on that loop's thread.
class local_service final : public jsonrpc::connection::delegate {
 public:
  /// A service that will run on `loop` (which must be the main run loop while the service runs).
  explicit local_service(poll_runloop& loop);

  /// Closes every session and the listening socket.
  ~local_service() override;

  /// Not copyable: sessions and callbacks point at this object.
  local_service(const local_service&) = delete;
  local_service& operator=(const local_service&) = delete;

  /// Opens the store in the data folder, offers the CUPS queues and listens on 127.0.0.1. Returns false after
  /// logging the cause (a data folder that cannot be made, a store that cannot be opened, a port in use).
  bool start(const serve_options& options);

  /// The port the service listens on, or -1 before `start` succeeded.
  int32_t port() const;

  /// Handles one request or notification of a console or of the submit tool.
  void request_handler(smart_ptr<jsonrpc::connection> c, Json::Value& message,
                       jsonrpc::reply_function reply) override;

  /// The number of connected sessions.
  size_t session_count() const { return sessions_.size(); }

 private:
  struct session {
    smart_ptr<jsonrpc::connection> connection;
    bool observing = false;
  };

  struct waiter {
    const jsonrpc::connection* connection;
    Json::Value request_id;
    jsonrpc::reply_function reply;
  };

  /// Run loop handler of the listening socket: accepts every waiting peer.
  static void on_listener_readable(smart_ptr<socket> s, int32_t event, void* context);

  /// Run loop handler of an accepted socket not yet taken over: looks at its first bytes.
  static void on_first_bytes(smart_ptr<socket> s, int32_t event, void* context);

  /// Called when a session's connection closes.
  void session_closed(jsonrpc::connection* c);

  /// The session of `c`, or null.
  session* find_session(const jsonrpc::connection* c);

  /// Writes `message` to `c` through `write_or_close`. Returns false when `c` was already closed or is closed
  /// now because the write failed.
  bool write_to(const smart_ptr<jsonrpc::connection>& c, const Json::Value& message);

  /// Runs `write` (a write to `c` returning whether every byte went out); when it fails, closes `c` through
  /// `handle_close`, so its session ends and a job it held goes back to the queue. Returns `write`'s result,
  /// false without running it when `c` is closed.
  template <typename write_function>
  bool write_or_close(const smart_ptr<jsonrpc::connection>& c, write_function write);

  // Each method handler returns the "result" array, or sets `error` and `message` and returns null.

  /// "authenticate" [token]: any string is accepted.
  Json::Value handle_authenticate(const Json::Value& params, int32_t& error, std::string& message);
  /// "attributes": [0, the stored attributes over their defaults].
  Json::Value handle_attributes(int32_t& error, std::string& message);
  /// "saveAttributes" [object]: merges and keeps the members; a new "logLevel" applies at once.
  Json::Value handle_save_attributes(const Json::Value& params, int32_t& error, std::string& message);
  /// "observe" [bool]: (un)subscribes the session; the caller sends the printer list after the answer.
  Json::Value handle_observe(session& s, const Json::Value& params, int32_t& error, std::string& message);
  /// "updatePrinter" [printer]: stores it by uuid and tells every observer.
  Json::Value handle_update_printer(const Json::Value& params, int32_t& error, std::string& message);
  /// "removePrinter" [printer]: deletes it and tells every observer.
  Json::Value handle_remove_printer(const Json::Value& params, int32_t& error, std::string& message);
  /// "submitJob" [{...}] from the submit tool of the service's own account: spools the file, queues the job.
  Json::Value handle_submit_job(const jsonrpc::connection& c, const Json::Value& params, int32_t& error,
                                std::string& message);
  /// "watchJob" [id]: answers now when the job has ended, else keeps the reply until it ends. Returns true
  /// when the caller must answer with `error` instead.
  bool handle_watch_job(const jsonrpc::connection* c, const Json::Value& message,
                        const jsonrpc::reply_function& reply, int32_t& error, std::string& text);

  /// The printers the service offers now (stored ones, less CUPS queues that are gone).
  std::vector<Json::Value> offered_printers();

  /// The offered printer whose uuid or name is `key`; sets `error` when none or several match.
  std::optional<Json::Value> find_offered_printer(const std::string& key, int32_t& error,
                                                  std::string& message);

  /// Stores the CUPS queues as printers (new ones) or refreshes what CUPS says of stored ones.
  void offer_cups_queues();

  /// Sends a list notification to every observing session.
  void notify_observers(const char* method, const Json::Value& records);

  /// Hands the oldest unfinished job to the oldest observing session, unless a job is out already.
  void deliver_next_job();

  /// The answer (or the close) for the job handed out with "print".
  void print_answered(int64_t job_id, const jsonrpc::connection* c, const Json::Value& response);

  /// Records a job's end and tells whoever waits for it. An end the store cannot write now is kept here and
  /// written again before the next delivery; the job does not go out again meanwhile.
  void finish_job(int64_t job_id, int32_t status, int32_t state, int32_t platform_id);

  /// Writes the ends kept by `finish_job` that the store could not take; those written are forgotten.
  void record_kept_ends();

  /// The job with `id` as the store has it, with its end when one is kept here; none when unknown.
  std::optional<queued_job> find_job(int64_t id);

  /// The status object of a job as "watchJob" reports it.
  static Json::Value job_status(const queued_job& job);

  poll_runloop& loop_;
  service_store store_;
  std::string spool_folder_;
  smart_ptr<socket> listener_;
  std::vector<session> sessions_;  // oldest first
  std::set<std::string> gone_queue_uuids_;
  std::optional<int64_t> job_out_;  // the job handed out and not yet answered
  const jsonrpc::connection* job_out_to_ = nullptr;
  std::multimap<int64_t, waiter> waiters_;
  std::map<int64_t, queued_job> kept_ends_;  // ended jobs whose end the store has not taken yet
  bool stopping_ = false;
};

/// Runs the service until SIGINT or SIGTERM. Returns the process's exit status.
int run_service(const serve_options& options);

}  // namespace quorvane::print_service
