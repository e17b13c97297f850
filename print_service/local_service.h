// The local print service: its life cycle, the consoles' sessions on 127.0.0.1, the printers it offers and
// the observers it tells of changes. The methods it answers are in service_methods.h; the job queue and its
// delivery to an observing console in job_queue.h.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <json/json.h>

#include "net/jsonrpc_connection.h"
#include "net/poll_runloop.h"
#include "print_service/cups/cups_printers.h"
#include "print_service/cups/cups_watch.h"
#include "print_service/ipp/ipp_job_queue.h"
#include "print_service/job_queue.h"
#include "print_service/service_context.h"
#include "print_service/service_error.h"
#include "print_service/service_methods.h"
#include "print_service/service_options.h"
#include "print_service/store/service_store.h"

namespace quorvane::print_service {

class ipp_server;

/// The service on one run loop. Every member runs on that loop's thread.
class local_service final : public jsonrpc::connection::delegate,
                            public ipp_job_queue,
                            public service_context {
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

  /// Handles one request or notification of a console or of the submit tool: a message that is not a
  /// request ends the session; the others go to their method in `service_methods`.
  void request_handler(smart_ptr<jsonrpc::connection> c, Json::Value& message,
                       jsonrpc::reply_function reply) override;

  /// The number of connected sessions.
  size_t session_count() const { return sessions_.size(); }

  // What the methods and the job queue use (see `service_context`).

  /// The run loop the service runs on.
  poll_runloop& loop() override { return loop_; }

  /// The service's durable state.
  service_store& store() override { return store_; }

  /// Whether the service is closing its sessions (no job goes out any more).
  bool stopping() const override { return stopping_; }

  /// The oldest observing session that jobs for `receiver` go to, or null.
  session* first_observer(const std::string& receiver) override;

  /// Whose consoles a job for `printer` goes to (see `service_context`).
  std::string receiver_of(const Json::Value& printer) override;

  /// Whether the service prints `printer`'s jobs itself (see `service_context`).
  bool prints_itself(const Json::Value& printer) override;

  /// Whether `s` sees `printer` (see `service_context`).
  bool may_see(const session& s, const Json::Value& printer) override;

  /// Why `s` may not change or remove `printer` (see `service_context`).
  std::string change_fault(const session& s, const Json::Value& printer) override;

  /// The account receiving the documents of `receiver`'s jobs (see `service_context`).
  std::optional<uid_t> receiver_account(const std::string& receiver) override;

  /// Whether the service serves every account of the computer (`--system`).
  bool machine() const { return machine_; }

  /// Writes `message` to `c`. Returns false when `c` was already closed or is closed now because the write
  /// failed (its session then ends and a job it held goes back to the queue).
  bool write_to(const smart_ptr<jsonrpc::connection>& c, const Json::Value& message);

  /// Sends the call `request` to `c`; `callback` hears the answer, or the close. Closes `c` as `write_to`
  /// does when the frame did not go out whole. Returns false when `c` is closed (then `callback` has heard
  /// of the close unless `c` was closed before).
  bool call_on(const smart_ptr<jsonrpc::connection>& c, Json::Value& request,
               jsonrpc::result_callback callback) override;

  /// Sends a list notification (`method` [records]) to every observing session.
  void notify_observers(const char* method, const Json::Value& records) override;

  /// Sends "printersWereUpdated" [[every offered printer]] to `c`.
  void send_printer_list(const smart_ptr<jsonrpc::connection>& c) override;

  /// Sends "devicesWereUpdated" [[every device that printed]] to `c`; nothing when none has.
  void send_device_list(const smart_ptr<jsonrpc::connection>& c) override;

  /// Queues a job that a device sent over IPP (see `ipp_job_queue`); the device becomes a device record.
  int64_t queue_ipp_job(const device_job& job, const std::string& document, job_end_function on_end,
                        std::string& error) override;

  /// Ends the job `id` cancelled unless a console has it (see `ipp_job_queue`).
  bool cancel_queued_job(int64_t id) override;

  /// The printers the service offers now (stored ones, less CUPS queues that are gone).
  std::vector<Json::Value> offered_printers() override;

  /// The offered printer with `uuid` (ASCII case ignored); none when it is not stored or is a CUPS queue
  /// that is gone.
  std::optional<Json::Value> offered_printer(const std::string& uuid) override;

  /// Whether `uuid` is a CUPS queue held back only because CUPS does not answer (its jobs wait).
  bool printer_withdrawn(const std::string& uuid) const override;

  /// The IPP side's port (0 before it started) and how it listens.
  ipp_reach ipp_listening() const override;

  /// Takes a reading of the CUPS queues: new queues are stored and offered, what CUPS says of known ones is
  /// refreshed, and observers hear "printersWereUpdated" for each printer that changed or is offered again
  /// and "printersWereRemoved" for each queue that is gone. An unreachable CUPS (`reachable` false)
  /// withdraws every CUPS queue until a later reading.
  void apply_cups_queues(bool reachable, const std::vector<cups_queue>& queues);

 private:
  /// Run loop handler of the listening socket: accepts every waiting peer.
  static void on_listener_readable(smart_ptr<socket> s, int32_t event, void* context);

  /// Run loop handler of an accepted socket not yet taken over: looks at its first bytes.
  static void on_first_bytes(smart_ptr<socket> s, int32_t event, void* context);

  /// Called when a session's connection closes.
  void session_closed(jsonrpc::connection* c);

  /// The session of `c`, or null.
  session* find_session(const jsonrpc::connection* c);

  /// Runs `write` (a write to `c` returning whether it was sent or queued) while `c` is open. A write that
  /// fails has closed `c` (its peer is gone or has stopped reading), so its session has ended and a job it
  /// held is back in the queue. Returns `write`'s result, false without running it when `c` is closed.
  template <typename write_function>
  bool write_if_open(const smart_ptr<jsonrpc::connection>& c, write_function write);

  /// The printer record for a reading of `queue` (known as `uuid`): new from the queue, or the stored one
  /// with what CUPS says refreshed. Remembers what CUPS says of its description and location.
  Json::Value printer_for_queue(const cups_queue& queue, const std::string& uuid,
                                const std::optional<Json::Value>& stored);

  /// Whether `uuid` names one of the computer's CUPS queues (ASCII case ignored).
  bool is_cups_printer(const std::string& uuid) const;

  /// The session a newly accepted peer of `account` gets: whose printers it makes and whether it may change
  /// the CUPS printers. None when the account may not use the service (logged).
  std::optional<session> session_for(const smart_ptr<socket>& peer, const std::optional<uid_t>& account);

  /// The offered printers as the IPP side advertises them: in machine mode, same names of different
  /// accounts told apart (see `told_apart`).
  std::vector<Json::Value> advertised_printers();

  /// Stores the device at `address` (hardware address `hardware`) as used now and tells the observers.
  void record_device(const std::string& address, const std::string& hardware);

  poll_runloop& loop_;
  service_store store_;
  job_queue jobs_{*this};
  service_methods methods_{*this, jobs_};
  smart_ptr<socket> listener_;
  std::vector<session> sessions_;  // oldest first
  /// A peer accepted and not read yet, with the session it gets once it speaks JSON-RPC.
  struct unread_peer {
    smart_ptr<socket> peer;
    session waiting;
  };
  std::vector<unread_peer> unread_;         // their handler's context is this
  bool machine_ = false;                    // --system
  std::string own_login_;                   // the login name of the account the service runs as
  std::set<std::string> cups_uuids_;        // the uuids of the CUPS queues, lower case
  std::set<std::string> gone_queue_uuids_;  // CUPS queues not offered now (gone, or CUPS unreachable)
  bool cups_reachable_ = true;
  std::unique_ptr<cups_watch> cups_watch_;
  bool stopping_ = false;
  std::unique_ptr<ipp_server> ipp_;
  ipp_reach ipp_reach_;  // how the IPP side was asked to listen; its port once started
};

/// Returns `printers` with the display name of each printer whose phone name (`ipp_server::service_name`)
/// it shares with a printer of another owner followed by " (WHO)", WHO being `who(owner)` (the owner's full
/// name, else login), so that phones show distinct printers. Printers without owner (the CUPS printers) and
/// names shared only among one owner's printers are left alone; the name is shortened, at a whole character,
/// so that the suffix stays within DNS-SD's limit.
std::vector<Json::Value> told_apart(std::vector<Json::Value> printers,
                                    const std::function<std::string(const std::string& owner)>& who);

/// Why `folder` cannot hold the service's state: it is missing or not a folder, belongs to another account
/// than the one the service runs as, or others than its owner may write into it. "" when it can.
std::string data_folder_fault(const std::string& folder);

/// Writes `content` as the whole of the file `path`, readable by its owner only, through a new file renamed
/// over it (a link at `path` is replaced, never followed). Returns false with errno set on failure.
bool write_private_file(const std::string& path, const std::string& content);

/// Runs the service until SIGINT or SIGTERM. Returns the process's exit status.
int run_service(const serve_options& options);

}  // namespace quorvane::print_service
