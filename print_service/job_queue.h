// The print service's job queue: queuing spooled documents, handing the oldest unfinished job to an
// observing console with "print", recording its answer, and telling whoever watches a job of its end.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <json/json.h>

#include "net/jsonrpc_connection.h"
#include "print_service/ipp/ipp_job_queue.h"
#include "print_service/service_context.h"
#include "print_service/service_error.h"
#include "print_service/store/service_store.h"

namespace quorvane::print_service {

/// How often a job is handed to a console that then closes without answering before it ends aborted, with
/// status `jsonrpc::status_connection_closed` (the service ending while the job is out does not count).
constexpr int32_t max_delivery_attempts = 3;

/// The status a job ends with when its printer was removed before it could be delivered.
constexpr int32_t status_printer_gone = -1;

/// A document to queue, as the submit tool names it.
struct job_submission {
  std::string file;     // absolute path of the document, read with the service's rights
  Json::Value printer;  // the offered printer the job goes to
  std::string user;
  std::string device_address;
  std::string format;  // empty: from the document's first bytes
  std::string title;   // empty: the document's base name
  int32_t copies = 1;
  std::string document_name;           // what the spooled copy is named from; empty: the file's base name
  const device_job* device = nullptr;  // a device's job: its options replace the defaults
};

/// The job queue of one service, delivered one job at a time to the oldest observing session.
class job_queue {
 public:
  /// The queue of `service`, which outlives it.
  explicit job_queue(service_context& service) : service_(service) {}

  /// Tells the helpers still printing that the queue is gone.
  ~job_queue() { *alive_ = false; }

  /// Not copyable: pending calls point at this object.
  job_queue(const job_queue&) = delete;
  job_queue& operator=(const job_queue&) = delete;

  /// Sets the folder documents are spooled into (one sub-folder per job).
  void set_spool_folder(std::string folder) { spool_folder_ = std::move(folder); }

  /// Sets how much history of ended jobs is kept; it is cut to these bounds after every job's end.
  void set_history_bounds(history_bounds bounds) { history_ = bounds; }

  /// Cuts the history to its bounds and compacts the store when that freed much of it.
  void prune_history();

  /// Takes the store's unfinished jobs (`unfinished`, oldest first) as the queue to deliver. The queue is
  /// kept here from then on, alongside the store, so that a delivery never reads every unfinished job.
  void load_queue(const std::vector<queued_job>& unfinished);

  /// The number of unfinished jobs, the one handed out included.
  size_t queued_count() const { return pending_.size(); }

  /// Copies the document into the spool and queues the job; a delivery is tried on the next turn of the run
  /// loop. Returns the job's id, or none with `why` set: `error_unreadable_file` when the document cannot
  /// be read or copied, `error_storage` when the job cannot be stored (nothing is left in the spool).
  std::optional<int64_t> queue(const job_submission& submission, service_failure& why);

  /// Tries a delivery on the next turn of the run loop (a console may have started observing).
  void schedule();

  /// Calls `on_end` once the job `job_id` has ended (before whoever watches it hears of the end).
  void on_end(int64_t job_id, job_end_function on_end);

  /// Ends the job `job_id` cancelled (status 0, state 7) unless a console has it or it has ended. Returns
  /// true when it ended so.
  bool cancel_waiting(int64_t job_id);

  /// Hands each receiver's oldest unfinished job to its oldest observing session, unless a job of that
  /// receiver is out already (see `service_context::receiver_of`: one receiver in per-user mode, each
  /// account and the CUPS printers in machine mode).
  void deliver_next_job();

  /// The job with `id` as the store has it, with its end when one is kept here; none when unknown.
  std::optional<queued_job> find_job(int64_t id);

  /// Keeps `reply` until the job `job_id` ends, then answers request `request_id` of `c` with the job's
  /// status. Dropped when `c` closes first.
  void wait_for_end(int64_t job_id, const jsonrpc::connection* c, Json::Value request_id,
                    jsonrpc::reply_function reply);

  /// Forgets the waits of the closed connection `c`.
  void connection_closed(const jsonrpc::connection* c);

  /// The status object of a job as "watchJob" reports it.
  static Json::Value job_status(const queued_job& job);

  /// The "result" of "watchJob" for `job`: [0, its status object].
  static Json::Value watch_result(const queued_job& job);

 private:
  /// What the queue keeps of an unfinished job; its record is read from the store when it goes out.
  struct pending_job {
    std::string printer_uuid;
    std::string receiver;  // whose consoles it goes to (see `service_context::receiver_of`)
    int32_t attempts = 0;
  };

  /// A job handed out with "print" and not yet answered.
  struct out_job {
    std::string receiver;
    const jsonrpc::connection* to = nullptr;
  };

  struct waiter {
    const jsonrpc::connection* connection;
    Json::Value request_id;
    jsonrpc::reply_function reply;
  };

  /// What the queue gave a job before its record is written.
  struct job_identity {
    std::string uuid;
    std::string spooled;  // the spooled copy of its document
    std::string format;
    std::string user;
    std::string device_address;
    std::string device_hardware;
  };

  /// The record stored for `submission`: the defaults of a submitted job, a device's options over them.
  static Json::Value job_record(const job_submission& submission, const job_identity& identity);

  /// Hands the oldest deliverable job of `receiver` to `target`, or prints it on its CUPS queue when its
  /// printer is one the service prints itself (`target` may then be null). Returns after one job went out,
  /// or when none of that receiver's jobs can go now.
  void deliver_to(const std::string& receiver, session* target);

  /// Prints `job` on the CUPS queue of `printer` with the print helper, on a worker, as the device's user;
  /// the helper's outcome ends the job as a console's answer would.
  void print_on_cups(const std::string& receiver, const Json::Value& printer, const queued_job& job);

  /// Adds the job `job_id` to the unfinished jobs.
  void add_pending(int64_t job_id, pending_job job);

  /// Takes the job `job_id` off the unfinished jobs.
  void remove_pending(int64_t job_id);

  /// The answer (or the close) for the job handed out with "print".
  void print_answered(int64_t job_id, const jsonrpc::connection* c, const Json::Value& response);

  /// Records a job's end and tells whoever waits for it. An end the store cannot write now is kept here and
  /// written again before the next delivery; the job does not go out again meanwhile.
  void finish_job(int64_t job_id, int32_t status, int32_t state, int32_t platform_id);

  /// Writes the ends kept by `finish_job` that the store could not take; those written are forgotten.
  void record_kept_ends();

  /// What follows a job's end once the store holds it: its spooled documents are deleted (the console has
  /// its own copy or has printed it) and the history is cut to its bounds.
  void end_stored(const queued_job& job);

  service_context& service_;
  std::string spool_folder_;
  history_bounds history_;
  std::map<int64_t, out_job> out_;        // the jobs handed out and not yet answered, by id
  std::set<std::string> busy_receivers_;  // the receivers one of whose jobs is out
  bool sending_ = false;  // a "print" frame is being written: a close now means it never went out whole
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // false once the queue is gone (for workers)
  std::multimap<int64_t, waiter> waiters_;
  std::map<int64_t, job_end_function> end_functions_;  // by job id, until the job ends
  std::map<int64_t, queued_job> kept_ends_;            // ended jobs whose end the store has not taken yet
  std::map<int64_t, pending_job> pending_;  // unfinished jobs by id (oldest first), as the store has them
  std::map<std::string, std::set<int64_t>> pending_by_receiver_;  // the same ids by receiver, oldest first
};

}  // namespace quorvane::print_service
