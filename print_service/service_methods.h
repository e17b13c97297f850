// The JSON-RPC methods of the print service, found by name in one table; every handler has the same shape
// and reports failure the same way.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <json/json.h>

#include "net/jsonrpc_connection.h"
#include "print_service/service_context.h"
#include "print_service/service_error.h"

namespace quorvane::print_service {

class job_queue;

/// One request as its method handler sees it.
struct method_call {
  session& caller;                                   // the session the request came on
  const smart_ptr<jsonrpc::connection>& connection;  // its connection
  const Json::Value& params;                         // an array, or null
  const Json::Value& id;                             // null for a notification
  const jsonrpc::reply_function& reply;              // writes an answer given later
};

/// What a handler did: a "result" to answer with, a failure to answer with as an error object, or nothing
/// yet (the handler answers later through `method_call::reply`). A follow-up, when set, runs after the
/// answer went out on a connection that is still open.
class method_outcome {
 public:
  /// Answer with "result" `result`.
  static method_outcome success(Json::Value result);
  /// Answer with "result" [`status`].
  static method_outcome status(int32_t status);
  /// Answer with the error object of `why`.
  static method_outcome failure(service_failure why);
  /// Answer with the error object {`code`, `message`}.
  static method_outcome failure(int32_t code, std::string message);
  /// No answer now: the handler keeps `method_call::reply` and answers later.
  static method_outcome later();

  /// This outcome with `follow_up` run after the answer went out.
  method_outcome then(std::function<void()> follow_up) &&;

  /// The answer to request `id`: a reply with "result" or "error"; null for `later`.
  Json::Value answer(const Json::Value& id) const;
  /// Whether the answer comes later.
  bool is_later() const { return later_; }
  /// The failure, if the request failed.
  const std::optional<service_failure>& failure() const { return failure_; }
  /// Runs the follow-up, if any.
  void run_follow_up() const;

 private:
  method_outcome() = default;

  Json::Value result_;
  std::optional<service_failure> failure_;
  bool later_ = false;
  std::function<void()> follow_up_;
};

/// The methods a console and the submit tool call, over one service and its job queue.
class service_methods {
 public:
  /// Methods of `service` queuing jobs in `delivery`; both outlive this object.
  service_methods(service_context& service, job_queue& jobs) : service_(service), jobs_(jobs) {}

  /// Runs the handler of `method`; `error_method_not_found` when there is none.
  method_outcome dispatch(const std::string& method, const method_call& call);

 private:
  /// The shape of every handler.
  using handler = method_outcome (service_methods::*)(const method_call& call);

  /// One row of the method table.
  struct method_entry {
    const char* name;
    handler run;
  };

  /// The methods by name.
  static const method_entry methods_[];

  /// "authenticate" [token]: any string is accepted.
  method_outcome authenticate(const method_call& call);
  /// "attributes": [0, the stored attributes over their defaults].
  method_outcome attributes(const method_call& call);
  /// "saveAttributes" [object]: merges and keeps the members; a new "logLevel" applies at once.
  method_outcome save_attributes(const method_call& call);
  /// "observe" [bool]: (un)subscribes the session; observing starts with the printer list, after the answer,
  /// and may release queued jobs.
  method_outcome observe(const method_call& call);
  /// "updatePrinter" [printer]: stores it by uuid and tells every observer.
  method_outcome update_printer(const method_call& call);
  /// "removePrinter" [printer]: deletes it and tells every observer.
  method_outcome remove_printer(const method_call& call);
  /// "submitJob" [{...}] from the submit tool of the service's own account: spools the file, queues the job.
  method_outcome submit_job(const method_call& call);
  /// "watchJob" [id]: answers now when the job has ended, else when it ends.
  method_outcome watch_job(const method_call& call);

  /// The offered printer whose uuid or name is `key`; sets `why` when none or several match.
  std::optional<Json::Value> find_offered_printer(const std::string& key, service_failure& why);

  service_context& service_;
  job_queue& jobs_;
};

}  // namespace quorvane::print_service
