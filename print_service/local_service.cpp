#include "print_service/local_service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/log.h"
#include "core/os.h"
#include "net/jsonrpc_manager.h"
#include "net/socket.h"
#include "print_service/cups_printers.h"
#include "print_service/peer_owner.h"
#include "print_service/spool.h"
#include "service/print_completion.h"

namespace quorvane::print_service {
namespace {

Json::Value error_reply(const Json::Value& id, int32_t code, const std::string& message) {
  Json::Value reply(Json::objectValue);
  reply["jsonrpc"] = "2.0";
  reply["id"] = id;
  reply["error"]["code"] = code;
  reply["error"]["message"] = message;
  return reply;
}

Json::Value result_reply(const Json::Value& id, const Json::Value& result) {
  Json::Value reply(Json::objectValue);
  reply["jsonrpc"] = "2.0";
  reply["id"] = id;
  reply["result"] = result;
  return reply;
}

Json::Value status_only(int32_t status) {
  Json::Value result(Json::arrayValue);
  result.append(status);
  return result;
}

// Element `index` of a params array, or null.
const Json::Value& param(const Json::Value& params, Json::ArrayIndex index) {
  static const Json::Value null_value;
  return params.isArray() && index < params.size() ? params[index] : null_value;
}

std::string string_member(const Json::Value& object, const char* name) {
  const Json::Value& value = object[name];
  return value.isString() ? value.asString() : std::string();
}

bool same_uuid(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

std::string login_name() {
  if (const passwd* account = getpwuid(getuid()); account && account->pw_name) return account->pw_name;
  return "anonymous";
}

poll_runloop* signalled_loop = nullptr;

void on_stop_signal(int) {
  if (signalled_loop) signalled_loop->stop();
}

}  // namespace

local_service::local_service(poll_runloop& loop) : loop_(loop) {}

local_service::~local_service() {
  stopping_ = true;
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
}

int32_t local_service::port() const {
  return listener_ ? listener_->local_port() : -1;
}

bool local_service::start(const serve_options& options) {
  if (!make_folders(options.data_folder)) {
    QV_LOG(log_error, "Unable to create data folder '%s': %s", options.data_folder.c_str(), strerror(errno));
    return false;
  }
  if (!store_.open(options.data_folder + "/service.db")) return false;
  spool_folder_ = options.data_folder + "/spool";

  // The stored log level is the user's choice from the console; an explicit --log-level wins.
  Json::Value defaults(Json::objectValue);
  defaults["printMode"] = 0;
  defaults["logLevel"] = options.log_level;
  defaults["filenameGenerationFlags"] = 0;
  const Json::Value attributes = store_.attributes(defaults);
  set_log_level(options.log_level_given || !attributes["logLevel"].isInt() ? options.log_level
                                                                           : attributes["logLevel"].asInt());

  offer_cups_queues();

  listener_ = listen_on_loopback(static_cast<uint16_t>(options.port));
  if (!listener_) return false;
  loop_.watch(listener_, /*mask=*/4, &local_service::on_listener_readable, this);
  // With --port 0 the system picks the port; the file tells tools and tests which one.
  const std::string port_file = options.data_folder + "/service.port";
  if (std::FILE* f = std::fopen(port_file.c_str(), "w")) {
    std::fprintf(f, "%d\n", port());
    std::fclose(f);
  }
  const size_t queued = store_.unfinished_jobs().size();
  QV_LOG(log_information, "Print service listening on 127.0.0.1:%d, data in '%s', %zu job(s) queued", port(),
         options.data_folder.c_str(), queued);
  return true;
}

void local_service::offer_cups_queues() {
  bool reachable = false;
  const std::vector<cups_queue> queues = list_cups_queues(reachable);
  std::set<std::string> live;
  for (const cups_queue& queue : queues) {
    const std::string uuid = store_.queue_uuid(queue.name);
    if (uuid.empty()) continue;
    live.insert(uuid);
    const Json::Value fresh = printer_from_queue(queue, uuid);
    std::optional<Json::Value> stored = store_.find_printer(uuid);
    if (!stored) {
      store_.save_printer(fresh);
      continue;
    }
    // What the user set in the console stays; what CUPS knows of the queue is refreshed.
    for (const char* key : {"name", "make", "model", "formats", "media", "state", "exists"}) {
      if (fresh.isMember(key)) {
        (*stored)[key] = fresh[key];
      } else {
        stored->removeMember(key);
      }
    }
    store_.save_printer(*stored);
  }
  gone_queue_uuids_.clear();
  for (const std::string& uuid : store_.queue_uuids()) {
    if (!live.count(uuid)) gone_queue_uuids_.insert(uuid);
  }
}

std::vector<Json::Value> local_service::offered_printers() {
  std::vector<Json::Value> printers = store_.printers();
  std::erase_if(printers,
                [&](const Json::Value& p) { return gone_queue_uuids_.count(p["uuid"].asString()) > 0; });
  return printers;
}

void local_service::on_listener_readable(smart_ptr<socket> s, int32_t, void* context) {
  auto* self = static_cast<local_service*>(context);
  while (smart_ptr<socket> peer = s->accept()) {
    peer->set_delegate(self);
    self->loop_.watch(peer, /*mask=*/4, &local_service::on_first_bytes, self);
    QV_LOG(log_verbose, "Accepted '%s'", peer->peer_address_text().c_str());
  }
}

void local_service::on_first_bytes(smart_ptr<socket> s, int32_t, void* context) {
  auto* self = static_cast<local_service*>(context);
  const std::string peer = s->peer_address_text();
  jsonrpc::offer_outcome outcome = jsonrpc::manager::shared().offer(
      s, [self](smart_ptr<jsonrpc::connection> c) { self->session_closed(c.get()); });
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
  outcome.adopted->set_send_timeout(console_send_limit);
  self->sessions_.push_back(session{std::move(outcome.adopted), false});
  QV_LOG(log_information, "Session opened for '%s' (%zu open)", peer.c_str(), self->sessions_.size());
}

local_service::session* local_service::find_session(const jsonrpc::connection* c) {
  for (session& s : sessions_) {
    if (s.connection.get() == c) return &s;
  }
  return nullptr;
}

template <typename write_function>
bool local_service::write_or_close(const smart_ptr<jsonrpc::connection>& c, write_function write) {
  if (!c->connected()) return false;
  if (write()) return true;
  // The frame went out in part or not at all (the connection logged why): the stream cannot be resumed, and
  // a console that stopped reading must not cost every later write another wait.
  c->handle_close();
  return false;
}

bool local_service::write_to(const smart_ptr<jsonrpc::connection>& c, const Json::Value& message) {
  return write_or_close(c, [&] { return c->write_message(message); });
}

void local_service::session_closed(jsonrpc::connection* c) {
  std::erase_if(waiters_, [c](const auto& entry) { return entry.second.connection == c; });
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
  const bool wants_reply = message.isMember("id") && !id.isNull();
  const Json::Value& method_value = message["method"];
  const Json::Value& params = message["params"];

  // Something that is not a request at all ends the session: the peer does not speak our protocol.
  if (!method_value.isString() || (!params.isNull() && !params.isArray())) {
    QV_LOG(log_warning, "Unable to handle request from '%s': malformed message; closing the connection",
           c->peer_address_text().c_str());
    if (wants_reply) reply(error_reply(id, error_invalid_request, "Invalid Request"));
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

  int32_t error = 0;
  std::string text;
  Json::Value result;
  if (method == "authenticate") {
    result = handle_authenticate(params, error, text);
  } else if (method == "attributes") {
    result = handle_attributes(error, text);
  } else if (method == "saveAttributes") {
    result = handle_save_attributes(params, error, text);
  } else if (method == "observe") {
    result = handle_observe(*s, params, error, text);
  } else if (method == "updatePrinter") {
    result = handle_update_printer(params, error, text);
  } else if (method == "removePrinter") {
    result = handle_remove_printer(params, error, text);
  } else if (method == "submitJob") {
    result = handle_submit_job(*c, params, error, text);
  } else if (method == "watchJob") {
    if (!handle_watch_job(c.get(), message, reply, error, text)) return;
  } else {
    error = error_method_not_found;
    text = "Method not found";
  }
  if (!wants_reply) return;
  reply(error ? error_reply(id, error, text) : result_reply(id, result));
  // A failed answer closed the session (and `s` with it).
  if (!c->connected()) return;

  // Observing starts with the whole list, after the answer, and may release queued jobs.
  if (method == "observe" && !error && s->observing) {
    Json::Value all(Json::arrayValue);
    for (Json::Value& p : offered_printers()) all.append(std::move(p));
    Json::Value notification(Json::objectValue);
    notification["jsonrpc"] = "2.0";
    notification["method"] = "printersWereUpdated";
    notification["params"].append(all);
    write_to(c, notification);
    deliver_next_job();
  }
}

Json::Value local_service::handle_authenticate(const Json::Value& params, int32_t& error,
                                               std::string& message) {
  // Only processes of this machine reach the loopback port; any token, the empty one included, is accepted.
  if (!param(params, 0).isString()) {
    error = error_invalid_params;
    message = "authenticate expects [token]";
    return {};
  }
  return status_only(0);
}

Json::Value local_service::handle_attributes(int32_t&, std::string&) {
  Json::Value defaults(Json::objectValue);
  defaults["printMode"] = 0;
  defaults["logLevel"] = log_level_threshold();
  defaults["filenameGenerationFlags"] = 0;
  Json::Value result = status_only(0);
  result.append(store_.attributes(defaults));
  return result;
}

Json::Value local_service::handle_save_attributes(const Json::Value& params, int32_t& error,
                                                  std::string& message) {
  const Json::Value& members = param(params, 0);
  if (!members.isObject()) {
    error = error_invalid_params;
    message = "saveAttributes expects [object]";
    return {};
  }
  for (const char* name : {"printMode", "logLevel", "filenameGenerationFlags"}) {
    if (members.isMember(name) && !members[name].isInt()) {
      error = error_invalid_params;
      message = std::string("attribute '") + name + "' must be an integer";
      return {};
    }
  }
  if (!store_.save_attributes(members)) {
    error = error_storage;
    message = "the attributes could not be stored";
    return {};
  }
  if (members.isMember("logLevel")) set_log_level(members["logLevel"].asInt());
  return status_only(0);
}

Json::Value local_service::handle_observe(session& s, const Json::Value& params, int32_t& error,
                                          std::string& message) {
  if (!param(params, 0).isBool()) {
    error = error_invalid_params;
    message = "observe expects [true] or [false]";
    return {};
  }
  s.observing = param(params, 0).asBool();
  return status_only(0);
}

Json::Value local_service::handle_update_printer(const Json::Value& params, int32_t& error,
                                                 std::string& message) {
  const Json::Value& printer = param(params, 0);
  if (!printer.isObject() || string_member(printer, "uuid").empty()) {
    error = error_invalid_params;
    message = "updatePrinter expects [printer] with a uuid";
    return {};
  }
  if (!store_.save_printer(printer)) {
    error = error_storage;
    message = "the printer could not be stored";
    return {};
  }
  Json::Value list(Json::arrayValue);
  list.append(printer);
  notify_observers("printersWereUpdated", list);
  return status_only(0);
}

Json::Value local_service::handle_remove_printer(const Json::Value& params, int32_t& error,
                                                 std::string& message) {
  const Json::Value& printer = param(params, 0);
  const std::string uuid = printer.isObject() ? string_member(printer, "uuid") : std::string();
  if (uuid.empty()) {
    error = error_invalid_params;
    message = "removePrinter expects [printer] with a uuid";
    return {};
  }
  std::optional<Json::Value> stored = store_.find_printer(uuid);
  if (!store_.remove_printer(uuid)) {
    error = error_storage;
    message = "the printer could not be removed";
    return {};
  }
  Json::Value list(Json::arrayValue);
  list.append(stored ? *stored : printer);
  notify_observers("printersWereRemoved", list);
  return status_only(0);
}

void local_service::notify_observers(const char* method, const Json::Value& records) {
  Json::Value notification(Json::objectValue);
  notification["jsonrpc"] = "2.0";
  notification["method"] = method;
  notification["params"].append(records);
  // Copies, because a failed write may close a session and change the list.
  std::vector<smart_ptr<jsonrpc::connection>> observers;
  for (const session& s : sessions_) {
    if (s.observing) observers.push_back(s.connection);
  }
  for (const auto& c : observers) write_to(c, notification);
}

std::optional<Json::Value> local_service::find_offered_printer(const std::string& key, int32_t& error,
                                                               std::string& message) {
  std::vector<Json::Value> by_name;
  for (Json::Value& p : offered_printers()) {
    if (same_uuid(string_member(p, "uuid"), key)) return std::move(p);
    if (string_member(p, "name") == key) by_name.push_back(std::move(p));
  }
  if (by_name.size() == 1) return std::move(by_name.front());
  if (by_name.empty()) {
    error = error_unknown_printer;
    message = "Unable to find printer '" + key + "': no printer has that name or uuid";
  } else {
    error = error_ambiguous_printer;
    message = "Unable to find printer '" + key + "': " + std::to_string(by_name.size()) +
              " printers have that name; give its uuid";
  }
  return std::nullopt;
}

Json::Value local_service::handle_submit_job(const jsonrpc::connection& c, const Json::Value& params,
                                             int32_t& error, std::string& message) {
  // The service reads the document with its own rights; only its own account (or root) may name one, so
  // another local user cannot have this user's files printed.
  const std::string& peer = c.peer_address_text();
  const size_t colon = peer.rfind(':');
  const int peer_port = colon == std::string::npos ? 0 : std::atoi(peer.c_str() + colon + 1);
  const std::optional<uid_t> owner =
      loopback_peer_owner(static_cast<uint16_t>(peer_port), static_cast<uint16_t>(port()));
  if (!owner || (*owner != getuid() && *owner != 0)) {
    error = error_not_permitted;
    message = "Unable to accept job from '" + peer + "': only the service's own account may submit documents";
    QV_LOG(log_warning, "%s", message.c_str());
    return {};
  }
  const Json::Value& request = param(params, 0);
  const std::string file = request.isObject() ? string_member(request, "file") : std::string();
  if (file.empty() || file.front() != '/' || !request["printer"].isString() ||
      (request.isMember("copies") && !request["copies"].isInt())) {
    error = error_invalid_params;
    message = "submitJob expects [{\"printer\", \"file\" (absolute path), ...}]";
    return {};
  }
  std::optional<Json::Value> printer = find_offered_printer(request["printer"].asString(), error, message);
  if (!printer) return {};

  std::string format = string_member(request, "format");
  if (format.empty()) format = detect_file_format(file);
  if (format.empty()) {
    error = error_unreadable_file;
    message = "Unable to read document '" + file + "': " + strerror(errno);
    return {};
  }
  std::string user = string_member(request, "user");
  if (user.empty()) user = login_name();
  std::string address = string_member(request, "deviceAddress");
  if (address.empty()) address = "127.0.0.1";

  Json::Value defaults(Json::objectValue);
  const Json::Value attributes = store_.attributes(defaults);
  const int32_t flags =
      attributes["filenameGenerationFlags"].isInt() ? attributes["filenameGenerationFlags"].asInt() : 0;
  // The device is known by its hardware address when the neighbour table has it.
  sockaddr_in device{};
  device.sin_family = AF_INET;
  const std::string device_hardware = inet_pton(AF_INET, address.c_str(), &device.sin_addr) == 1
                                          ? hardware_address_of(device)
                                          : std::string();
  const std::string job_uuid = new_uuid();
  const std::string folder = spool_folder_ + "/" + job_uuid;
  const std::string spooled =
      copy_into_spool(file, folder, spooled_file_name(file, flags, user, address, device_hardware));
  if (spooled.empty()) {
    error = error_unreadable_file;
    message = "Unable to spool document '" + file + "': it cannot be read (see the service's log)";
    return {};
  }

  const std::string printer_uuid = string_member(*printer, "uuid");
  std::string title = string_member(request, "name");
  if (title.empty()) title = file.substr(file.rfind('/') + 1);
  Json::Value job(Json::objectValue);
  job["uuid"] = job_uuid;
  job["deviceAddress"] = address;
  job["deviceID"] = device_hardware;
  job["printerID"] = printer_uuid;
  job["platformID"] = 0;
  job["name"] = title;
  job["user"] = user;
  job["format"] = format;
  job["printQuality"] = 4;
  job["firstPage"] = 0;
  job["lastPage"] = 0;
  job["isColor"] = true;
  job["orientation"] = 3;
  job["duplex"] = 0;
  job["copies"] = request.isMember("copies") ? request["copies"].asInt() : 1;
  job["fitToPage"] = true;
  job["state"] = 3;
  job["filename"] = spooled;
  job["timeAtCreation"] = static_cast<Json::Int64>(time(nullptr));
  const int64_t job_id = store_.add_job(printer_uuid, job);
  if (job_id == 0) {
    unlink(spooled.c_str());
    rmdir(folder.c_str());
    error = error_storage;
    message = "the job could not be queued";
    return {};
  }
  QV_LOG(log_information, "Job %lld queued for printer '%s': '%s' (%s)", static_cast<long long>(job_id),
         printer_uuid.c_str(), spooled.c_str(), format.c_str());
  loop_.post([this] { deliver_next_job(); });

  Json::Value result = status_only(0);
  result.append(static_cast<Json::Int64>(job_id));
  return result;
}

Json::Value local_service::job_status(const queued_job& job) {
  Json::Value status(Json::objectValue);
  status["job"] = static_cast<Json::Int64>(job.id);
  status["finished"] = job.finished;
  status["status"] = job.status;
  status["state"] = job.finished ? job.state : 3;
  status["platformID"] = job.platform_id;
  status["attempts"] = job.attempts;
  return status;
}

bool local_service::handle_watch_job(const jsonrpc::connection* c, const Json::Value& message,
                                     const jsonrpc::reply_function& reply, int32_t& error,
                                     std::string& text) {
  const Json::Value& id_param = param(message["params"], 0);
  if (!id_param.isIntegral()) {
    error = error_invalid_params;
    text = "watchJob expects [job id]";
    return true;
  }
  const std::optional<queued_job> job = find_job(id_param.asInt64());
  if (!job) {
    error = error_unknown_job;
    text = "Unable to find job '" + std::to_string(id_param.asInt64()) + "': no such job";
    return true;
  }
  if (job->finished || !message.isMember("id")) {
    Json::Value result = status_only(0);
    result.append(job_status(*job));
    if (message.isMember("id")) reply(result_reply(message["id"], result));
    return false;
  }
  waiters_.emplace(job->id, waiter{c, message["id"], reply});
  return false;
}

void local_service::deliver_next_job() {
  if (stopping_ || job_out_) return;
  session* target = nullptr;
  for (session& s : sessions_) {
    if (s.observing) {
      target = &s;
      break;
    }
  }
  if (!target) return;
  record_kept_ends();
  for (const queued_job& job : store_.unfinished_jobs()) {
    if (kept_ends_.count(job.id)) continue;
    std::optional<Json::Value> printer = store_.find_printer(job.printer_uuid);
    if (!printer || gone_queue_uuids_.count(job.printer_uuid)) {
      QV_LOG(log_warning, "Unable to deliver job %lld to printer '%s': the printer no longer exists",
             static_cast<long long>(job.id), job.printer_uuid.c_str());
      finish_job(job.id, status_printer_gone, job_state_aborted, 0);
      continue;
    }
    // A job that was out when the service ended used up that attempt too.
    if (job.attempts >= max_delivery_attempts) {
      QV_LOG(log_warning, "Unable to deliver job %lld: no answer after %d attempts",
             static_cast<long long>(job.id), job.attempts);
      finish_job(job.id, status_no_answer, job_state_aborted, 0);
      continue;
    }
    const int32_t attempt = job.attempts + 1;
    if (!store_.set_attempts(job.id, attempt)) return;
    Json::Value request(Json::objectValue);
    request["jsonrpc"] = "2.0";
    request["method"] = "print";
    request["params"].append(*printer);
    request["params"].append(job.record);
    job_out_ = job.id;
    job_out_to_ = target->connection.get();
    QV_LOG(log_information, "Job %lld handed to '%s' (attempt %d)", static_cast<long long>(job.id),
           target->connection->peer_address_text().c_str(), attempt);
    const int64_t job_id = job.id;
    const jsonrpc::connection* to = job_out_to_;
    // The callback must not hold the connection: the connection keeps it among its pending calls.
    smart_ptr<jsonrpc::connection> c = target->connection;
    // A failed call closes the session, whose close hands the job back to the queue through the callback.
    write_or_close(c, [&] {
      return c->call(
          request, [this, job_id, to](const Json::Value& response) { print_answered(job_id, to, response); });
    });
    return;
  }
}

void local_service::print_answered(int64_t job_id, const jsonrpc::connection* c,
                                   const Json::Value& response) {
  if (!job_out_ || *job_out_ != job_id || job_out_to_ != c) return;
  job_out_.reset();
  job_out_to_ = nullptr;

  // The connection's own close notice carries no id: the console went away without answering.
  if (!response.isMember("id")) {
    const std::optional<queued_job> job = find_job(job_id);
    if (job && job->attempts >= max_delivery_attempts) {
      QV_LOG(log_warning, "Unable to deliver job %lld: no answer after %d attempts",
             static_cast<long long>(job_id), job->attempts);
      finish_job(job_id, status_no_answer, job_state_aborted, 0);
    } else {
      QV_LOG(log_information, "Job %lld back in the queue: the console closed without answering",
             static_cast<long long>(job_id));
    }
    if (!stopping_) loop_.post([this] { deliver_next_job(); });
    return;
  }

  int32_t status = 0, state = job_state_aborted, platform_id = 0;
  const Json::Value& error = response["error"];
  const Json::Value& result = response["result"];
  if (!error.isNull()) {
    status = error.isObject() && error["code"].isInt() ? error["code"].asInt() : -1;
  } else if (result.isArray() && result.size() >= 2 && result[0].isInt() && result[1].isInt()) {
    status = result[0].asInt();
    state = result[1].asInt();
    platform_id = result.size() >= 3 && result[2].isInt() ? result[2].asInt() : 0;
  } else {
    QV_LOG(log_warning, "Unable to read the answer to job %lld: no [status, state, job id]",
           static_cast<long long>(job_id));
    status = -1;
  }
  finish_job(job_id, status, state, platform_id);
  if (!stopping_) loop_.post([this] { deliver_next_job(); });
}

void local_service::finish_job(int64_t job_id, int32_t status, int32_t state, int32_t platform_id) {
  QV_LOG(log_information, "Job %lld ended: status %d, state %d, job id %d", static_cast<long long>(job_id),
         status, state, platform_id);
  std::optional<queued_job> job = store_.find_job(job_id);
  if (!job) {
    job.emplace();
    job->id = job_id;
  }
  job->finished = true;
  job->status = status;
  job->state = state;
  job->platform_id = platform_id;
  // Whoever waits hears the end that happened, even when the store cannot take it now.
  if (!store_.finish_job(job_id, status, state, platform_id)) kept_ends_[job_id] = *job;
  auto [first, last] = waiters_.equal_range(job_id);
  std::vector<waiter> told;
  for (auto it = first; it != last; ++it) told.push_back(std::move(it->second));
  waiters_.erase(first, last);
  for (waiter& w : told) {
    Json::Value result = status_only(0);
    result.append(job_status(*job));
    w.reply(result_reply(w.request_id, result));
  }
}

void local_service::record_kept_ends() {
  std::erase_if(kept_ends_, [this](const auto& entry) {
    const queued_job& job = entry.second;
    return store_.finish_job(job.id, job.status, job.state, job.platform_id);
  });
}

std::optional<queued_job> local_service::find_job(int64_t id) {
  if (const auto kept = kept_ends_.find(id); kept != kept_ends_.end()) return kept->second;
  return store_.find_job(id);
}

int run_service(const serve_options& options) {
  signal(SIGPIPE, SIG_IGN);
  poll_runloop loop;
  if (!loop.valid()) return 1;
  set_main_runloop(&loop);
  int status = 0;
  {
    local_service service(loop);
    if (!service.start(options)) {
      status = 1;
    } else {
      signalled_loop = &loop;
      struct sigaction action {};
      action.sa_handler = on_stop_signal;
      sigaction(SIGINT, &action, nullptr);
      sigaction(SIGTERM, &action, nullptr);
      loop.run();
      QV_LOG(log_information, "Print service stopping");
    }
  }
  signalled_loop = nullptr;
  set_main_runloop(nullptr);
  return status;
}

}  // namespace quorvane::print_service
