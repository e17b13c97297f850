#include "print_service/local_service.h"
#include "print_service/ipp/ipp_server.h"

#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "core/files.h"
#include "core/json_text.h"
#include "core/log.h"
#include "core/os.h"
#include "model/phone_names.h"
#include "net/jsonrpc_manager.h"
#include "net/peer_account.h"
#include "net/socket.h"
#include "print_service/cups/cups_printers.h"
#include "print_service/store/spool.h"

namespace quorvane::print_service {
namespace {

// The signals that stop the service. They are blocked in every thread (PAPPL's included, which would
// otherwise install handlers of its own) and taken by one thread with sigwait.
sigset_t stop_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

// An account for the log: "account 1001 (name)", or "an account the kernel could not tell".
std::string account_text(const std::optional<uid_t>& account) {
  if (!account) return "an account the kernel could not tell";
  std::string text = "account " + std::to_string(*account);
  if (const passwd* entry = getpwuid(*account); entry && entry->pw_name)
    text += std::string(" (") + entry->pw_name + ")";
  return text;
}

// Lets everyone pass through `folder` (mode 0711) without listing or changing it. False after logging.
bool allow_passing(const std::string& folder) {
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0 || chmod(folder.c_str(), (info.st_mode & 0700) | 0711) != 0) {
    QV_LOG(log_error, "Unable to open data folder '%s' for the consoles: %s", folder.c_str(),
           strerror(errno));
    return false;
  }
  return true;
}

}  // namespace

local_service::local_service(poll_runloop& loop) : loop_(loop) {}

local_service::~local_service() {
  // Devices' jobs waiting for a console are released first; they stay queued.
  if (ipp_) ipp_->stop();
  stopping_ = true;
  // No reading of the queues may arrive while the sessions close.
  if (cups_watch_) cups_watch_->stop();
  // Closing runs each connection's on-close function and tells its outstanding "print" of the close, while
  // this object still exists to hear it.
  while (!sessions_.empty()) {
    smart_ptr<jsonrpc::connection> c = sessions_.back().connection;
    c->handle_close();
    if (!sessions_.empty() && sessions_.back().connection == c) sessions_.pop_back();
  }
  if (listener_) {
    loop_.unwatch(listener_);
    listener_->close();
  }
  // A peer that connected but has not spoken yet must not reach this object through the run loop later.
  for (const unread_peer& unread : unread_) {
    loop_.unwatch(unread.peer);
    unread.peer->close();
  }
}

int32_t local_service::port() const {
  return listener_ ? listener_->local_port() : -1;
}

bool local_service::start(const serve_options& options) {
  if (!make_folders(options.data_folder)) {
    QV_LOG(log_error, "Unable to create data folder '%s': %s", options.data_folder.c_str(), strerror(errno));
    return false;
  }
  if (const std::string fault = data_folder_fault(options.data_folder); !fault.empty()) {
    QV_LOG(log_error, "Unable to use data folder '%s': %s", options.data_folder.c_str(), fault.c_str());
    return false;
  }
  machine_ = options.machine;
  const std::optional<account_facts> own = find_account(geteuid());
  own_login_ = own ? own->login : std::to_string(geteuid());
  // The computer's service lets every account reach its own job folders in the spool, never list them: the
  // folders on the way are passable by all, each job folder and file open to its receiver alone.
  if (machine_ && !allow_passing(options.data_folder)) return false;
  if (!store_.open(options.data_folder + "/service.db")) return false;
  for (const std::string& uuid : store_.queue_uuids()) cups_uuids_.insert(ascii_lower(uuid));
  jobs_.set_spool_folder(options.data_folder + "/spool");

  // The stored log level is the user's choice from the console; an explicit --log-level wins.
  Json::Value defaults(Json::objectValue);
  defaults["printMode"] = 0;
  defaults["logLevel"] = options.log_level;
  defaults["filenameGenerationFlags"] = 0;
  const Json::Value attributes = store_.attributes(defaults);
  set_log_level(options.log_level_given || !attributes["logLevel"].isInt() ? options.log_level
                                                                           : attributes["logLevel"].asInt());

  // Documents of jobs that ended while the last run was ending, or whose end it could not store and that
  // were ended since, are not needed any more.
  const std::vector<queued_job> unfinished = store_.unfinished_jobs();
  jobs_.load_queue(unfinished);
  std::set<std::string> queued_uuids;
  for (const queued_job& job : unfinished) queued_uuids.insert(job.uuid);
  clean_spool(options.data_folder + "/spool", queued_uuids, /*others_may_pass=*/machine_);
  jobs_.set_history_bounds({options.keep_jobs, int64_t{options.keep_days} * 24 * 3600});
  jobs_.prune_history();

  bool reachable = false;
  const std::vector<cups_queue> queues = list_cups_queues(reachable);
  apply_cups_queues(reachable, queues);
  // From now on a worker follows CUPS and hands each change to the run loop.
  cups_watch_ = std::make_unique<cups_watch>(loop_, [this](bool now_reachable, std::vector<cups_queue> now) {
    apply_cups_queues(now_reachable, now);
  });
  cups_watch_->start(reachable);

  // The IPP printers come up before service.port is written, so that whoever waits for that file finds
  // ipp.port too.
  ipp_listen_options ipp_options;
  ipp_options.port = options.ipp_port;
  ipp_options.loopback_only = options.ipp_loopback_only;
  ipp_options.dnssd = options.dnssd;
  ipp_ = std::make_unique<ipp_server>(loop_, *this);
  if (!ipp_->start(ipp_options, options.data_folder, log_level_threshold())) return false;
  ipp_reach_ = ipp_reach{ipp_->port(), options.ipp_loopback_only, options.dnssd};
  if (std::FILE* f = std::fopen((options.data_folder + "/ipp.port").c_str(), "w")) {
    std::fprintf(f, "%d\n", ipp_->port());
    std::fclose(f);
  }
  ipp_->offer(advertised_printers());

  listener_ = listen_on_loopback(static_cast<uint16_t>(options.port));
  if (!listener_) return false;
  loop_.watch(listener_, /*mask=*/event_readable, &local_service::on_listener_readable, this);
  // With --port 0 the system picks the port; the file tells tools and tests which one.
  if (!write_private_file(options.data_folder + "/service.port", std::to_string(port()) + "\n")) {
    QV_LOG(log_warning, "Unable to write file '%s/service.port': %s", options.data_folder.c_str(),
           strerror(errno));
  }
  const size_t queued = jobs_.queued_count();
  QV_LOG(log_information, "Print service %slistening on 127.0.0.1:%d, data in '%s', %zu job(s) queued",
         machine_ ? "of the computer " : "", port(), options.data_folder.c_str(), queued);
  return true;
}

Json::Value local_service::printer_for_queue(const cups_queue& queue, const std::string& uuid,
                                             const std::optional<Json::Value>& stored) {
  const Json::Value fresh = printer_from_queue(queue, uuid);
  const std::optional<queue_texts> last = store_.last_queue_texts(queue.name);
  if (!last || last->info != queue.info || last->location != queue.location) {
    store_.set_last_queue_texts(queue.name, {queue.info, queue.location});
  }
  if (!stored) return fresh;
  // What the user set in the console stays; what CUPS knows of the queue is refreshed.
  Json::Value printer = *stored;
  for (const char* key : {"name", "make", "model", "formats", "media", "state", "exists"}) {
    if (fresh.isMember(key)) {
      printer[key] = fresh[key];
    } else {
      printer.removeMember(key);
    }
  }
  // A description or location changed in CUPS since its last reading is the newer wish: it wins.
  if (last && last->info != queue.info) printer["displayName"] = fresh["displayName"];
  if (last && last->location != queue.location) printer["location"] = fresh["location"];
  return printer;
}

void local_service::apply_cups_queues(bool reachable, const std::vector<cups_queue>& queues) {
  std::set<std::string> offered_before;
  const std::vector<std::string> known = store_.queue_uuids();
  for (const std::string& uuid : known) {
    cups_uuids_.insert(ascii_lower(uuid));
    if (!gone_queue_uuids_.count(uuid)) offered_before.insert(uuid);
  }
  Json::Value updated(Json::arrayValue);
  std::set<std::string> live;
  cups_reachable_ = reachable;
  for (const cups_queue& queue : queues) {
    const std::string uuid = store_.queue_uuid(queue.name);
    if (uuid.empty()) continue;
    cups_uuids_.insert(ascii_lower(uuid));
    live.insert(uuid);
    const std::optional<Json::Value> stored = store_.find_printer(uuid);
    const Json::Value printer = printer_for_queue(queue, uuid, stored);
    const bool changed = !stored || printer != *stored;
    if (changed) store_.save_printer(printer);
    if (changed || !offered_before.count(uuid)) updated.append(printer);
  }
  gone_queue_uuids_.clear();
  Json::Value removed(Json::arrayValue);
  for (const std::string& uuid : known) {
    if (live.count(uuid)) continue;
    gone_queue_uuids_.insert(uuid);
    if (!offered_before.count(uuid)) continue;
    if (std::optional<Json::Value> printer = store_.find_printer(uuid)) removed.append(*printer);
  }
  if (!removed.empty()) notify_observers("printersWereRemoved", removed);
  if (!updated.empty()) {
    notify_observers("printersWereUpdated", updated);
    // Jobs held back while CUPS did not answer may go out now.
    jobs_.schedule();
  }
}

std::vector<Json::Value> local_service::offered_printers() {
  std::vector<Json::Value> printers = store_.printers();
  std::erase_if(printers,
                [&](const Json::Value& p) { return gone_queue_uuids_.count(p["uuid"].asString()) > 0; });
  return printers;
}

bool local_service::printer_withdrawn(const std::string& uuid) const {
  return !cups_reachable_ && gone_queue_uuids_.count(uuid) > 0;
}

ipp_reach local_service::ipp_listening() const {
  return ipp_reach_;
}

std::optional<Json::Value> local_service::offered_printer(const std::string& uuid) {
  std::optional<Json::Value> printer = store_.find_printer(uuid);
  if (!printer || gone_queue_uuids_.count(uuid)) return std::nullopt;
  return printer;
}

bool local_service::is_cups_printer(const std::string& uuid) const {
  return cups_uuids_.count(ascii_lower(uuid)) > 0;
}

std::string local_service::receiver_of(const Json::Value& printer) {
  if (!machine_ || is_cups_printer(string_member(printer, "uuid"))) return {};
  return string_member(printer, "owner");
}

bool local_service::prints_itself(const Json::Value& printer) {
  return machine_ && is_cups_printer(string_member(printer, "uuid"));
}

bool local_service::may_see(const session& s, const Json::Value& printer) {
  if (!machine_ || is_cups_printer(string_member(printer, "uuid"))) return true;
  return string_member(printer, "owner") == s.owner;
}

std::string local_service::change_fault(const session& s, const Json::Value& printer) {
  if (!machine_) return {};
  if (is_cups_printer(string_member(printer, "uuid"))) {
    if (s.administrator) return {};
    return "only an administrator (root or a member of lpadmin) may change the computer's CUPS printers";
  }
  const std::string owner = string_member(printer, "owner");
  // A printer stored before printers had owners is nobody's: the administrators may tidy it up.
  if (owner == s.owner || (owner.empty() && s.administrator)) return {};
  return "it belongs to another account";
}

std::optional<uid_t> local_service::receiver_account(const std::string& receiver) {
  if (receiver.empty()) return std::nullopt;
  return find_login(receiver);
}

std::optional<session> local_service::session_for(const smart_ptr<socket>& peer,
                                                  const std::optional<uid_t>& account) {
  session s;
  if (!machine_) {
    // The service is its account's own: another account may neither see nor change anything, so its
    // connection is closed before a byte of it is read.
    if (!account || !is_trusted_account(*account)) {
      QV_LOG(log_warning, "Unable to serve connection '%s': it belongs to %s, not to this account",
             peer->peer_address_text().c_str(), account_text(account).c_str());
      return std::nullopt;
    }
    s.owner = own_login_;
    s.administrator = true;
    return s;
  }
  // The computer's service serves every local account, each under the name the kernel tells, never one
  // the peer claims.
  const std::optional<account_facts> facts = account ? find_account(*account) : std::nullopt;
  if (!facts || facts->login.empty()) {
    QV_LOG(log_warning, "Unable to serve connection '%s': it belongs to %s, which has no local account",
           peer->peer_address_text().c_str(), account_text(account).c_str());
    return std::nullopt;
  }
  s.owner = facts->login;
  // CUPS's own policy: root and the lpadmin group administer its queues.
  s.administrator = facts->uid == 0 || is_group_member(*facts, "lpadmin");
  return s;
}

void local_service::on_listener_readable(smart_ptr<socket> s, int32_t, void* context) {
  auto* self = static_cast<local_service*>(context);
  while (smart_ptr<socket> peer = s->accept()) {
    const std::optional<uid_t> account = peer_account(peer->handle());
    std::optional<session> waiting = self->session_for(peer, account);
    if (!waiting) {
      peer->close();
      continue;
    }
    peer->set_delegate(self);
    self->unread_.push_back(unread_peer{peer, std::move(*waiting)});
    self->loop_.watch(peer, /*mask=*/event_readable, &local_service::on_first_bytes, self);
    QV_LOG(log_verbose, "Accepted '%s'", peer->peer_address_text().c_str());
  }
}

void local_service::on_first_bytes(smart_ptr<socket> s, int32_t, void* context) {
  auto* self = static_cast<local_service*>(context);
  const std::string peer = s->peer_address_text();
  jsonrpc::offer_outcome outcome = jsonrpc::manager::shared().offer(
      s, [self](smart_ptr<jsonrpc::connection> c) { self->session_closed(c.get()); });
  session waiting;
  if (outcome.result != jsonrpc::offer_result::waiting) {
    std::erase_if(self->unread_, [&](unread_peer& unread) {
      if (unread.peer.get() != s.get()) return false;
      waiting = std::move(unread.waiting);
      return true;
    });
  }
  switch (outcome.result) {
    case jsonrpc::offer_result::waiting:
      return;
    case jsonrpc::offer_result::refused:
      QV_LOG(log_warning, "Unable to serve connection '%s': it does not speak netstring JSON-RPC",
             peer.c_str());
      self->loop_.unwatch(s);
      s->close();
      return;
    case jsonrpc::offer_result::adopted:
      break;
  }
  waiting.connection = std::move(outcome.adopted);
  self->sessions_.push_back(std::move(waiting));
  QV_LOG(log_information, "Session opened for '%s' of '%s' (%zu open)", peer.c_str(),
         self->sessions_.back().owner.c_str(), self->sessions_.size());
}

session* local_service::find_session(const jsonrpc::connection* c) {
  for (session& s : sessions_) {
    if (s.connection.get() == c) return &s;
  }
  return nullptr;
}

session* local_service::first_observer(const std::string& receiver) {
  for (session& s : sessions_) {
    if (s.observing && (receiver.empty() || s.owner == receiver)) return &s;
  }
  return nullptr;
}

template <typename write_function>
bool local_service::write_if_open(const smart_ptr<jsonrpc::connection>& c, write_function write) {
  if (!c->connected()) return false;
  // The connection closes itself when the write fails (its peer is gone or has stopped reading).
  return write();
}

bool local_service::write_to(const smart_ptr<jsonrpc::connection>& c, const Json::Value& message) {
  return write_if_open(c, [&] { return c->write_message(message); });
}

bool local_service::call_on(const smart_ptr<jsonrpc::connection>& c, Json::Value& request,
                            jsonrpc::result_callback callback) {
  return write_if_open(c, [&] { return c->call(request, std::move(callback)); });
}

void local_service::notify_observers(const char* method, const Json::Value& records) {
  const std::string name = method;
  const bool printer_list = name == "printersWereUpdated" || name == "printersWereRemoved";
  // Copies, because a failed write may close a session and change the list; each observer hears of the
  // printers it may see (all of them in per-user mode).
  std::vector<std::pair<smart_ptr<jsonrpc::connection>, Json::Value>> observers;
  for (const session& s : sessions_) {
    if (!s.observing) continue;
    if (!printer_list || !machine_) {
      observers.emplace_back(s.connection, records);
      continue;
    }
    Json::Value visible(Json::arrayValue);
    for (const Json::Value& printer : records) {
      if (may_see(s, printer)) visible.append(printer);
    }
    if (!visible.empty()) observers.emplace_back(s.connection, std::move(visible));
  }
  for (auto& [c, list] : observers)
    write_to(c, jsonrpc::notification(method, jsonrpc::one_param(std::move(list))));
  // The IPP printers follow every change of the offered printers that observers hear of.
  if (ipp_ && printer_list) ipp_->offer(advertised_printers());
}

void local_service::send_printer_list(const smart_ptr<jsonrpc::connection>& c) {
  const session* s = find_session(c.get());
  if (!s) return;
  Json::Value visible(Json::arrayValue);
  for (Json::Value& p : offered_printers()) {
    if (may_see(*s, p)) visible.append(std::move(p));
  }
  write_to(c, jsonrpc::notification("printersWereUpdated", jsonrpc::one_param(std::move(visible))));
}

void local_service::send_device_list(const smart_ptr<jsonrpc::connection>& c) {
  Json::Value devices(Json::arrayValue);
  for (Json::Value& d : store_.devices()) devices.append(std::move(d));
  if (devices.empty()) return;
  write_to(c, jsonrpc::notification("devicesWereUpdated", jsonrpc::one_param(std::move(devices))));
}

void local_service::session_closed(jsonrpc::connection* c) {
  jobs_.connection_closed(c);
  const auto it = std::find_if(sessions_.begin(), sessions_.end(),
                               [c](const session& s) { return s.connection.get() == c; });
  if (it == sessions_.end()) return;
  // The session's reference may be the last but one; the connection is still inside its own close.
  smart_ptr<jsonrpc::connection> keep = it->connection;
  sessions_.erase(it);
  QV_LOG(log_information, "Session closed for '%s' (%zu open)", c->peer_address_text().c_str(),
         sessions_.size());
  if (!stopping_) loop_.post([keep] {});
}

void local_service::request_handler(smart_ptr<jsonrpc::connection> c, Json::Value& message,
                                    jsonrpc::reply_function reply) {
  // Answers, now or later to a "watchJob", go through `write_to` like every other write to a console.
  reply = [this, c](const Json::Value& answer) {
    if (!answer.isNull()) write_to(c, answer);
  };
  const Json::Value id = message.isMember("id") ? message["id"] : Json::Value();
  const bool wants_reply = !id.isNull();
  const Json::Value& method_value = message["method"];
  const Json::Value& params = message["params"];

  // Something that is not a request at all ends the session: the peer does not speak our protocol.
  if (!method_value.isString() || (!params.isNull() && !params.isArray())) {
    QV_LOG(log_warning, "Unable to handle request from '%s': malformed message; closing the connection",
           c->peer_address_text().c_str());
    if (wants_reply) reply(jsonrpc::error_reply(id, error_invalid_request, "Invalid Request"));
    smart_ptr<jsonrpc::connection> doomed = c;
    loop_.post([doomed] {
      if (doomed->connected()) doomed->handle_close();
    });
    return;
  }

  session* s = find_session(c.get());
  if (!s) return;
  const std::string method = method_value.asString();
  QV_LOG(log_verbose, "Request '%s' from '%s'", method.c_str(), c->peer_address_text().c_str());

  const method_outcome outcome = methods_.dispatch(method, method_call{*s, c, params, id, reply});
  if (outcome.is_later() || !wants_reply) return;
  reply(outcome.answer(id));
  // A failed answer closed the session (and `s` with it).
  if (c->connected()) outcome.run_follow_up();
}

std::vector<Json::Value> told_apart(std::vector<Json::Value> printers,
                                    const std::function<std::string(const std::string& owner)>& who) {
  std::map<std::string, std::set<std::string>> owners_by_name;
  for (const Json::Value& p : printers) {
    const std::string owner = string_member(p, "owner");
    if (!owner.empty()) owners_by_name[ipp_server::service_name(p)].insert(owner);
  }
  for (Json::Value& p : printers) {
    const std::string owner = string_member(p, "owner");
    const std::string name = ipp_server::service_name(p);
    if (owner.empty() || owners_by_name[name].size() < 2) continue;
    std::string named = who(owner);
    if (named.empty()) named = owner;
    // The account's part is kept whole (up to a third of the limit); the printer's part gives way.
    const std::string suffix = " (" + utf8_prefix(named, model::dnssd_name_limit / 3) + ")";
    p["displayName"] = utf8_prefix(name, model::dnssd_name_limit - suffix.size()) + suffix;
  }
  return printers;
}

std::vector<Json::Value> local_service::advertised_printers() {
  if (!machine_) return offered_printers();
  return told_apart(offered_printers(), [](const std::string& owner) {
    const std::optional<uid_t> uid = find_login(owner);
    const std::optional<account_facts> facts = uid ? find_account(*uid) : std::nullopt;
    return facts ? facts->full_name : std::string();
  });
}

std::string data_folder_fault(const std::string& folder) {
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0) return strerror(errno);
  if (!S_ISDIR(info.st_mode)) return "it is not a folder";
  // Whoever owns the folder, or may write into it, could replace the service's files with links or read
  // its job records.
  if (info.st_uid != geteuid()) {
    return "it belongs to account " + std::to_string(info.st_uid) + ", not to this one (" +
           std::to_string(geteuid()) + ")";
  }
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return std::string("others may write into it (mode ") + mode + "); allow only its owner to (chmod go-w)";
  }
  return {};
}

bool write_private_file(const std::string& path, const std::string& content) {
  // Written to a new file of its own (never through a link planted under either name) and renamed over
  // the old one, which replaces a link instead of following it.
  const std::string temporary = path + ".new";
  unlink(temporary.c_str());
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const int write_error = write_all(fd, content);
  close(fd);
  if (write_error != 0 || rename(temporary.c_str(), path.c_str()) != 0) {
    const int failure = write_error != 0 ? write_error : errno;
    unlink(temporary.c_str());
    errno = failure;
    return false;
  }
  return true;
}

int run_service(const serve_options& options) {
  // Job records, documents and the port file are the account's own, whatever the folder's mode.
  umask(077);
  signal(SIGPIPE, SIG_IGN);
  // Before any thread exists, so that every thread inherits the mask.
  const sigset_t signals = stop_signals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  if (!options.dnssd) {
    // PAPPL 1.3.1 registers every printer, and the system, again whenever avahi's host name changes (the
    // daemon starting or restarting), also those that advertise nothing, and avahi aborts the process on
    // the missing service name. Unadvertised, the service keeps PAPPL's avahi client off the system bus
    // altogether. Set before any thread exists: the environment is not safe to change once threads read it.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/quorvane-service/no-dnssd", 1);
  }
  poll_runloop loop;
  if (!loop.valid()) return 1;
  set_main_runloop(&loop);
  std::atomic<bool> done{false};
  std::thread signal_thread([&loop, &done, signals] {
    int number = 0;
    while (sigwait(&signals, &number) == 0 && !done) {
      QV_LOG(log_information, "Print service stopping on signal %d", number);
      loop.stop();
    }
  });
  int status = 0;
  {
    local_service service(loop);
    if (!service.start(options)) {
      status = 1;
    } else {
      loop.run();
      QV_LOG(log_information, "Print service stopping");
    }
  }
  done = true;
  pthread_kill(signal_thread.native_handle(), SIGTERM);
  signal_thread.join();
  set_main_runloop(nullptr);
  return status;
}

}  // namespace quorvane::print_service
