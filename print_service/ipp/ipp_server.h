// The service's IPP Everywhere side: a PAPPL system on a thread of its own that offers every enabled
// printer of the store to the devices of the network, and hands the jobs they send to the job queue.
#pragma once

#include <pappl/pappl.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <json/json.h>

#include "net/poll_runloop.h"
#include "print_service/ipp/ipp_job_queue.h"
#include "print_service/ipp/ipp_request_hooks.h"
#include "print_service/ipp/ipp_sign_in.h"

namespace quorvane::print_service {

/// How the IPP side listens.
struct ipp_listen_options {
  int32_t port = 8631;         // 0: a free port the kernel chooses
  bool loopback_only = false;  // 127.0.0.1 and ::1 instead of every interface
  bool dnssd = true;           // advertise the printers through Avahi
};

/// The PAPPL system with its printers. Created and driven on the main run loop's thread; PAPPL's own
/// threads (its run loop, one per client connection, one per job) call back into it. It decides about the
/// requests devices send: administrative operations are refused (the console owns the printers), formats
/// the printers do not take are refused before a job exists, a document is read only while the spool's
/// file system has room for it, and every job PAPPL accepts is in the service's queue before the device
/// hears that it was accepted.
class ipp_server : private ipp_request_policy {
 public:
  /// A server that hands jobs to `queue` through `loop` (the main run loop).
  ipp_server(poll_runloop& loop, ipp_job_queue& queue);
  /// Stops the system (see `stop`).
  ~ipp_server();
  ipp_server(const ipp_server&) = delete;
  ipp_server& operator=(const ipp_server&) = delete;

  /// Creates the PAPPL system (spool in `state_folder`/ipp-spool, log to standard error at a level matching
  /// `log_level`), listens and starts its thread. False after logging the cause (a port in use).
  bool start(const ipp_listen_options& options, const std::string& state_folder, int32_t log_level);

  /// The port the devices reach the printers on, or -1 before `start` succeeded.
  int32_t port() const { return port_; }

  /// Offers exactly the printers of `printers` whose "enabled" and "exists" are true: new ones are created,
  /// changed ones updated, the others withdrawn (no longer advertised, new jobs refused, a job in flight
  /// cancelled and waited for before the printer is deleted).
  void offer(const std::vector<Json::Value>& printers);

  /// Releases every job waiting for a console (it stays queued), then shuts PAPPL down and waits for its
  /// threads. Does nothing the second time.
  void stop();

  /// The DNS-SD service name of a printer: the name a phone shows (`model::phone_name`, the same as the
  /// console's "Phones and Tablets" window shows), at most 63 bytes.
  static std::string service_name(const Json::Value& printer);

  /// What devices read as printer-info: `model::phone_description`, at most 127 bytes.
  static std::string printer_info(const Json::Value& printer);

  /// Whether the IPP side offers `printer` (its "enabled" and "exists" are true and it has a uuid).
  static bool is_offered(const Json::Value& printer);

 private:
  struct offered_printer {
    pappl_printer_t* printer = nullptr;
    Json::Value record;
  };
  struct waiting_job;
  struct raster_job;
  using job_key = std::pair<const void*, int>;  // (PAPPL printer, job id)

  /// Creates the PAPPL system (`system_`) listening on `options`' port (one the kernel chooses for 0), on
  /// IPv4 and, where it can, IPv6. False after logging the cause.
  bool create_listening_system(const ipp_listen_options& options, pappl_loglevel_t level);

  /// Refuses administrative operations, held jobs, unsupported formats and documents declared larger than
  /// the spool can take.
  ipp_status_t admit(ipp_t* request, http_t* http, std::string& message,
                     ipp_attribute_t*& unsupported) override;
  /// Signs the device in for `op` on a printer whose access list is not empty (see ipp_sign_in.h): the
  /// job operations need Basic credentials over TLS, checked with PAM and waited for while the address's
  /// failures say so; on success the request's requesting-user-name becomes the signed-in name. Returns
  /// `accepted` for every other operation and printer, else why not, with the device's `message`.
  sign_in_result sign_in(int op, ipp_t* request, http_t* http, std::string& message);
  /// The DNS-SD "air" value of the printer advertised with the resource path `resource`: "username,password"
  /// for a printer with an access list, "none" for the others, "" for a resource of none of ours.
  std::string dnssd_air(const std::string& resource) const;
  /// Says once in the log, when a printer with an access list is first offered, that this process can
  /// check no other account's password (it is not root and cannot read /etc/shadow).
  void note_uncheckable_passwords(const std::vector<Json::Value>& printers);
  /// Notes which passwords PAM can check here and gives the DNS-SD records their "air" key.
  void prepare_sign_in();
  /// Whether the password of `user` can be checked here: every account's when PAM can read the shadow
  /// passwords, else only the account this process runs as.
  bool can_check_password(const std::string& user) const;

  /// Whether the IPP spool's file system can take `bytes` more of a document from `http`.
  bool document_room(http_t* http, uint64_t bytes, ipp_status_t& status, std::string& message) override;
  /// An unnamed file in the IPP spool for a raster document, which PAPPL reads without storing it.
  int document_copy(std::string_view head) override;
  /// Corrects what PAPPL says of the printers (see complete_printer_response), and queues the job that a
  /// successful Print-Job or Send-Document made before the device hears of it (or, when the job's thread
  /// has it already, waits until that thread has queued it or the job has ended).
  void before_response(ipp_t* request, ipp_t* response, http_t* http) override;
  /// PAPPL's identify callback: a printer without a device of its own shows the message in the log.
  static void identify(pappl_printer_t* printer, pappl_identify_actions_t actions, const char* message);

  /// PAPPL's driver callback: fills the driver data of the printer being created.
  static bool driver_callback(pappl_system_t* system, const char* driver_name, const char* device_uri,
                              const char* device_id, pappl_pr_driver_data_t* data, ipp_t** attributes,
                              void* context);
  /// Fills `data` from the printer record `printer`.
  static void fill_driver_data(const Json::Value& printer, pappl_pr_driver_data_t& data);
  /// PAPPL's event callback: notes the device address of each job created.
  static void event_callback(pappl_system_t* system, pappl_printer_t* printer, pappl_job_t* job,
                             pappl_event_t event, void* context);
  /// The printfile callback (PDF documents).
  static bool print_file(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
  /// The MIME filter of JPEG and PNG documents, handed over as they are.
  static bool filter_image(pappl_job_t* job, pappl_device_t* device, void* context);
  /// Raster callbacks: PAPPL reads and checks the pages; when the job ends, the document as the device
  /// sent it (the request hooks kept a copy) is converted into a PDF that is handed over.
  static bool raster_start_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
  static bool raster_start_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                                unsigned page);
  static bool raster_write_line(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                                unsigned y, const unsigned char* line);
  static bool raster_end_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                              unsigned page);
  static bool raster_end_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
  /// Before a Cancel-Job (`request`) runs: waits while another device's thread stores that job from its
  /// file, which PAPPL removes when it cancels a job that has not started.
  void wait_for_answer_of(ipp_t* request);
  /// On a job's thread: waits while the device's thread stores `job` from its file (see before_response).
  void wait_while_answering(pappl_job_t* job);
  /// Sets the message and reason of a raster job aborted for `problem` (see raster_problem; "" for a page
  /// PAPPL could not read).
  static void set_raster_abort_message(pappl_job_t* job, const std::string& problem);

  /// Queues the document `file` of `job` unless it is queued already (the device's thread and the job's
  /// thread both ask); returns what the job waits on, or null while the service stops.
  std::shared_ptr<waiting_job> queue_once(pappl_job_t* job, const pappl_pr_options_t& options,
                                          const std::string& file, const std::string& format);

  /// On a job thread: queues the document `file` of `job` (once), waits for its end and sets the IPP
  /// job's end from it. Returns what the PAPPL callback returns (false: aborted).
  bool hand_off(pappl_job_t* job, const pappl_pr_options_t& options, const std::string& file,
                const std::string& format);

  /// The job of `job` from its options, as the queue takes it.
  device_job job_record(pappl_job_t* job, const pappl_pr_options_t& options, const std::string& format);

  /// Registers the web page of every printer of `printers` that has none yet (a page stays for the run),
  /// and makes the pages show these records (a printer not offered says that it takes no jobs).
  void add_pages(const std::vector<Json::Value>& printers);
  /// PAPPL's resource callback of "/" and the printers' pages (context: the server).
  static bool web_page(pappl_client_t* client, void* context);
  /// On a connection's thread: answers the request for a page (GET) or a document sent from one (POST).
  /// False when the connection must end after the answer (the request's body was not read to its end).
  bool serve_page(pappl_client_t* client);
  /// The page of "/": the offered printers, each linked to its page.
  std::string printer_list();
  /// Reads the form sent from the page of `printer` and queues its document as a device's job; answers
  /// with the printer's page saying what became of it. False as serve_page.
  bool receive_document(pappl_client_t* client, const Json::Value& printer);

  /// Creates a PAPPL printer for `printer`. Null after logging on failure.
  pappl_printer_t* create_printer(const Json::Value& printer);

  /// Ends (cancelled, aborted-by-system, with a message) the jobs of `printer` that wait for a document.
  static void end_jobs_without_document(pappl_printer_t* printer);

  /// Withdraws `printer` now and deletes it once no job of it is in flight.
  void withdraw(const std::string& uuid, pappl_printer_t* printer);

  /// Deletes a withdrawn printer whose jobs have ended, then offers the last list again (the printer may
  /// have come back meanwhile).
  void finish_withdrawal(const std::string& uuid, pappl_printer_t* printer);

  poll_runloop& loop_;
  ipp_job_queue& queue_;
  pappl_system_t* system_ = nullptr;
  std::thread run_thread_;
  int32_t port_ = -1;
  bool dnssd_ = true;
  std::string spool_folder_;
  sign_in_delays sign_in_delays_;          // per device address; thread-safe
  bool every_password_checkable_ = false;  // set at start: root, or /etc/shadow readable
  std::string own_account_;                // the login name this process runs as
  bool uncheckable_noted_ = false;         // main thread: the log said so once

  // Main thread only.
  std::map<std::string, offered_printer> printers_;  // by uuid
  const Json::Value* creating_ = nullptr;            // the record the driver callback reads
  std::vector<Json::Value> wanted_;                  // the last list given to `offer`
  std::map<std::string, int> printer_ids_;           // by uuid, so a printer keeps its id in this run
  std::set<std::string> page_paths_;                 // the printers' pages registered with PAPPL

  // Shared with PAPPL's threads and with the closures and end functions handed to the run loop, which may
  // outlive this object.
  struct shared_state;
  std::shared_ptr<shared_state> shared_;
  std::map<std::string, std::thread> withdrawals_;  // by uuid, until the printer is deleted
  std::set<std::string> withdrawing_;  // uuids whose PAPPL printer is not deleted yet (main thread)
};

}  // namespace quorvane::print_service
