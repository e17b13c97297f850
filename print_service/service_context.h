// What the job queue and the console's methods need of the service that holds them: its run loop, its store,
// the consoles' sessions and the printers it offers. `local_service` implements it; the queue and the
// methods know only this, so the arrows run one way: the service holds them, they use this.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include <json/json.h>

#include "core/runloop.h"
#include "net/jsonrpc_connection.h"
#include "print_service/store/service_store.h"

namespace quorvane::print_service {

/// One connected console or submit tool.
struct session {
  smart_ptr<jsonrpc::connection> connection;
  bool observing = false;  // set by "observe": the session hears of printer changes and is handed jobs
  std::string owner;  // the login name its printers are made under (the peer's account's, from the kernel)
  bool administrator = false;  // may change the computer's CUPS printers (root or lpadmin in machine mode)
};

/// How devices reach the service's IPP printers, as the console's "attributes" tell it.
struct ipp_reach {
  int32_t port = 0;            // 0: the IPP side is not running
  bool loopback_only = false;  // --ipp-listen loopback
  bool dnssd = false;          // the printers are advertised (no --no-dnssd)
};

/// The service as its job queue and its methods use it. Every call comes on the service's run loop thread.
class service_context {
 public:
  virtual ~service_context() = default;

  /// The run loop the service runs on.
  virtual runloop& loop() = 0;

  /// The service's durable state.
  virtual service_store& store() = 0;

  /// Whether the service is closing its sessions (no job goes out any more).
  virtual bool stopping() const = 0;

  /// The oldest observing session that jobs for `receiver` go to (see `receiver_of`), or null.
  virtual session* first_observer(const std::string& receiver) = 0;

  /// Whose consoles a job for `printer` goes to: its owner's login name in machine mode, "" (any console)
  /// for a CUPS printer and for every printer of a per-user service.
  virtual std::string receiver_of(const Json::Value& printer) = 0;

  /// Whether the service prints jobs for `printer` itself, on the CUPS queue, instead of handing them to a
  /// console: the CUPS printers of the computer's service.
  virtual bool prints_itself(const Json::Value& printer) = 0;

  /// Whether `s` sees `printer` in its lists: its own printers and the CUPS printers in machine mode, every
  /// printer in per-user mode.
  virtual bool may_see(const session& s, const Json::Value& printer) = 0;

  /// Why `s` may not change or remove the stored printer `printer` ("" when it may): another account's
  /// printer, or a CUPS printer when `s` is no administrator.
  virtual std::string change_fault(const session& s, const Json::Value& printer) = 0;

  /// The account that receives the documents of jobs for `receiver` (a login name), none for "" or an
  /// account without an entry; its spooled files are made readable by that account alone.
  virtual std::optional<uid_t> receiver_account(const std::string& receiver) = 0;

  /// Sends the call `request` to `c`; `callback` hears the answer, or the close. Returns false when `c` is
  /// closed (then `callback` has heard of the close unless `c` was closed before).
  virtual bool call_on(const smart_ptr<jsonrpc::connection>& c, Json::Value& request,
                       jsonrpc::result_callback callback) = 0;

  /// Sends a list notification (`method` [records]) to every observing session, each record of a printer
  /// list only to the sessions that may see it.
  virtual void notify_observers(const char* method, const Json::Value& records) = 0;

  /// Sends "printersWereUpdated" [[every offered printer its session may see]] to `c`.
  virtual void send_printer_list(const smart_ptr<jsonrpc::connection>& c) = 0;

  /// Sends "devicesWereUpdated" [[every device that printed]] to `c`; nothing when none has.
  virtual void send_device_list(const smart_ptr<jsonrpc::connection>& c) = 0;

  /// The printers the service offers now.
  virtual std::vector<Json::Value> offered_printers() = 0;

  /// The offered printer with `uuid` (ASCII case ignored); none when it is not offered.
  virtual std::optional<Json::Value> offered_printer(const std::string& uuid) = 0;

  /// Whether `uuid` is a printer held back only for a while (its jobs wait rather than fail).
  virtual bool printer_withdrawn(const std::string& uuid) const = 0;

  /// The IPP side's port and how it listens.
  virtual ipp_reach ipp_listening() const = 0;
};

}  // namespace quorvane::print_service
