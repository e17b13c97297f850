#include "print_service/job_queue.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "core/json_text.h"
#include "core/log.h"
#include "core/os.h"
#include "core/thread.h"
#include "model/values.h"
#include "net/socket.h"
#include "print_service/store/spool.h"
#include "spooler/print_helper.h"

namespace quorvane::print_service {
namespace {

std::string login_name() {
  if (const passwd* account = getpwuid(getuid()); account && account->pw_name) return account->pw_name;
  return "anonymous";
}

// Whether the console keeps `printer`'s documents in a folder (a printer that neither opens nor prints), so
// that it may move the spooled file away instead of copying it.
bool keeps_in_folder(const Json::Value& printer) {
  return printer["action"].isInt() && printer["action"].asInt() == model::action_none;
}

}  // namespace

Json::Value job_queue::job_record(const job_submission& submission, const job_identity& identity) {
  const std::string& file = submission.file;
  Json::Value job(Json::objectValue);
  job["uuid"] = identity.uuid;
  job["deviceAddress"] = identity.device_address;
  job["deviceID"] = identity.device_hardware;
  job["printerID"] = submission.printer["uuid"].asString();
  job["platformID"] = 0;
  job["name"] = submission.title.empty() ? file.substr(file.rfind('/') + 1) : submission.title;
  job["user"] = identity.user;
  job["format"] = identity.format;
  job["printQuality"] = 4;
  job["firstPage"] = 0;
  job["lastPage"] = 0;
  job["isColor"] = true;
  job["orientation"] = model::orientation_portrait;
  job["duplex"] = model::duplex_none;
  job["copies"] = submission.copies;
  job["fitToPage"] = true;
  job["state"] = model::job_state_pending;
  job["filename"] = identity.spooled;
  job["timeAtCreation"] = static_cast<Json::Int64>(time(nullptr));
  // A device's job brings its own options, and its address as PAPPL gave it.
  if (const device_job* device = submission.device) {
    job["deviceAddress"] = device->device_address;
    job["printQuality"] = device->print_quality;
    job["firstPage"] = device->first_page;
    job["lastPage"] = device->last_page;
    job["isColor"] = device->is_color;
    job["orientation"] = device->orientation;
    job["duplex"] = device->duplex;
    job["fitToPage"] = device->fit_to_page;
    job["media"] = device->media;
    job["timeAtCreation"] = static_cast<Json::Int64>(device->time_at_creation);
  }
  return job;
}

std::optional<int64_t> job_queue::queue(const job_submission& submission, service_failure& why) {
  const std::string& file = submission.file;
  std::string format = submission.format;
  if (format.empty()) format = detect_file_format(file);
  if (format.empty()) {
    why = {error_unreadable_file, "Unable to read document '" + file + "': " + strerror(errno)};
    return std::nullopt;
  }
  const std::string user = submission.user.empty() ? login_name() : submission.user;
  const std::string address = submission.device_address.empty() ? "127.0.0.1" : submission.device_address;

  Json::Value defaults(Json::objectValue);
  const Json::Value attributes = service_.store().attributes(defaults);
  const int32_t flags =
      attributes["filenameGenerationFlags"].isInt() ? attributes["filenameGenerationFlags"].asInt() : 0;
  // The device is known by its hardware address when the neighbour table has it.
  const std::string device_hardware = hardware_address_of(address);
  // A document that would fill the disk is refused before a byte is written.
  struct stat info {};
  const uint64_t size = stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? info.st_size : 0;
  if (std::string cause; !spool_has_room(spool_folder_, size, cause)) {
    why = {error_storage, "Unable to spool document '" + file + "': " + cause};
    QV_LOG(log_warning, "%s", why.message.c_str());
    return std::nullopt;
  }
  const std::string job_uuid = new_uuid();
  const std::string folder = spool_folder_ + "/" + job_uuid;
  const std::string& document = submission.document_name.empty() ? file : submission.document_name;
  const std::string spooled =
      copy_into_spool(file, folder, spooled_file_name(document, flags, user, address, device_hardware));
  if (spooled.empty()) {
    why = {error_unreadable_file,
           "Unable to spool document '" + file + "': it cannot be read (see the service's log)"};
    return std::nullopt;
  }

  // The computer's service opens the document to the account that receives it, and to nobody else.
  if (const std::optional<uid_t> receiver =
          service_.receiver_account(service_.receiver_of(submission.printer));
      receiver && !grant_receiver_access(spooled, *receiver, keeps_in_folder(submission.printer))) {
    unlink(spooled.c_str());
    rmdir(folder.c_str());
    why = {error_storage, "Unable to spool document '" + file + "': it cannot be opened to its receiver"};
    return std::nullopt;
  }
  const std::string printer_uuid = submission.printer["uuid"].asString();
  const Json::Value job = job_record(submission, {job_uuid, spooled, format, user, address, device_hardware});
  const int64_t job_id = service_.store().add_job(printer_uuid, job);
  if (job_id == 0) {
    unlink(spooled.c_str());
    rmdir(folder.c_str());
    why = {error_storage, "the job could not be queued"};
    return std::nullopt;
  }
  add_pending(job_id, pending_job{printer_uuid, service_.receiver_of(submission.printer), 0});
  QV_LOG(log_information, "Job %lld queued for printer '%s': '%s' (%s)", static_cast<long long>(job_id),
         printer_uuid.c_str(), spooled.c_str(), format.c_str());
  schedule();
  return job_id;
}

void job_queue::on_end(int64_t job_id, job_end_function on_end) {
  end_functions_[job_id] = std::move(on_end);
}

bool job_queue::cancel_waiting(int64_t job_id) {
  if (out_.count(job_id) || !pending_.count(job_id)) return false;
  QV_LOG(log_information, "Job %lld cancelled by its device before a console had it",
         static_cast<long long>(job_id));
  finish_job(job_id, 0, model::job_state_canceled, 0);
  return true;
}

void job_queue::schedule() {
  service_.loop().post([this] { deliver_next_job(); });
}

Json::Value job_queue::job_status(const queued_job& job) {
  Json::Value status(Json::objectValue);
  status["job"] = static_cast<Json::Int64>(job.id);
  status["finished"] = job.finished;
  status["status"] = job.status;
  status["state"] = job.finished ? job.state : model::job_state_pending;
  status["platformID"] = job.platform_id;
  status["attempts"] = job.attempts;
  return status;
}

Json::Value job_queue::watch_result(const queued_job& job) {
  Json::Value result = jsonrpc::status_result(jsonrpc::status_ok);
  result.append(job_status(job));
  return result;
}

void job_queue::wait_for_end(int64_t job_id, const jsonrpc::connection* c, Json::Value request_id,
                             jsonrpc::reply_function reply) {
  waiters_.emplace(job_id, waiter{c, std::move(request_id), std::move(reply)});
}

void job_queue::connection_closed(const jsonrpc::connection* c) {
  std::erase_if(waiters_, [c](const auto& entry) { return entry.second.connection == c; });
}

void job_queue::add_pending(int64_t job_id, pending_job job) {
  pending_by_receiver_[job.receiver].insert(job_id);
  pending_[job_id] = std::move(job);
}

void job_queue::remove_pending(int64_t job_id) {
  const auto found = pending_.find(job_id);
  if (found == pending_.end()) return;
  const auto ids = pending_by_receiver_.find(found->second.receiver);
  if (ids != pending_by_receiver_.end()) {
    ids->second.erase(job_id);
    if (ids->second.empty()) pending_by_receiver_.erase(ids);
  }
  pending_.erase(found);
}

void job_queue::deliver_next_job() {
  if (service_.stopping()) return;
  record_kept_ends();
  // Each receiver's jobs wait only for their own consoles; a receiver whose job is out waits for its answer.
  std::vector<std::string> receivers;
  for (const auto& [receiver, ids] : pending_by_receiver_) {
    if (!busy_receivers_.count(receiver)) receivers.push_back(receiver);
  }
  for (const std::string& receiver : receivers) {
    if (service_.stopping()) return;
    // The jobs of no account (CUPS printers, printers gone) may need no console: in machine mode the
    // service prints on its CUPS printers itself.
    session* target = service_.first_observer(receiver);
    if (target || receiver.empty()) deliver_to(receiver, target);
  }
}

void job_queue::deliver_to(const std::string& receiver, session* target) {
  const auto ids = pending_by_receiver_.find(receiver);
  if (ids == pending_by_receiver_.end()) return;
  // Oldest first; an end (which leaves the set) moves on to the next job. A copy, because it does.
  const std::vector<int64_t> waiting_ids(ids->second.begin(), ids->second.end());
  for (const int64_t job_id : waiting_ids) {
    const auto found = pending_.find(job_id);
    if (found == pending_.end()) continue;
    const pending_job waiting = found->second;
    // A CUPS queue is withdrawn while CUPS does not answer; its jobs wait for it to come back.
    if (service_.printer_withdrawn(waiting.printer_uuid)) continue;
    std::optional<Json::Value> printer = service_.offered_printer(waiting.printer_uuid);
    if (!printer) {
      QV_LOG(log_warning, "Unable to deliver job %lld to printer '%s': the printer no longer exists",
             static_cast<long long>(job_id), waiting.printer_uuid.c_str());
      finish_job(job_id, status_printer_gone, model::job_state_aborted, 0);
      continue;
    }
    if (waiting.attempts >= max_delivery_attempts) {
      QV_LOG(log_warning, "Unable to deliver job %lld: no answer after %d attempts",
             static_cast<long long>(job_id), waiting.attempts);
      finish_job(job_id, jsonrpc::status_connection_closed, model::job_state_aborted, 0);
      continue;
    }
    const std::optional<queued_job> stored = service_.store().find_job(job_id);
    if (!stored) {
      // The store cannot give the record now: the job waits for the next delivery.
      QV_LOG(log_warning, "Unable to read job %lld from the store", static_cast<long long>(job_id));
      continue;
    }
    if (stored->finished) {
      remove_pending(job_id);
      continue;
    }
    const queued_job& job = *stored;
    if (service_.prints_itself(*printer)) {
      print_on_cups(receiver, *printer, job);
      return;
    }
    // Only the service's own CUPS printing needs no console.
    if (!target) continue;
    const int32_t attempt = job.attempts + 1;
    Json::Value params = jsonrpc::one_param(std::move(*printer));
    params.append(job.record);
    Json::Value request = jsonrpc::request("print", std::move(params));
    const jsonrpc::connection* to = target->connection.get();
    out_[job.id] = out_job{receiver, to};
    busy_receivers_.insert(receiver);
    QV_LOG(log_information, "Job %lld handed to '%s' (attempt %d)", static_cast<long long>(job.id),
           target->connection->peer_address_text().c_str(), attempt);
    // The callback must not hold the connection: the connection keeps it among its pending calls.
    smart_ptr<jsonrpc::connection> c = target->connection;
    // A failed call closes the session, whose close hands the job back to the queue through the callback;
    // a frame that never went out whole was not a delivery and costs the job no attempt.
    sending_ = true;
    service_.call_on(c, request, [this, job_id, to](const Json::Value& response) {
      print_answered(job_id, to, response);
    });
    sending_ = false;
    return;
  }
}

void job_queue::print_on_cups(const std::string& receiver, const Json::Value& printer,
                              const queued_job& job) {
  const int64_t job_id = job.id;
  out_[job_id] = out_job{receiver, nullptr};
  busy_receivers_.insert(receiver);
  QV_LOG(log_information, "Job %lld printed by the service on CUPS queue '%s'",
         static_cast<long long>(job_id), string_member(printer, "name").c_str());
  // The helper prints the records as a console would, the job's user (the device's) as the CUPS job's
  // originating user; the worker only waits for it.
  model::printer_ptr printer_record(new model::printer());
  model::job_ptr job_record(new model::job());
  printer_record->readJSON(printer);
  job_record->readJSON(job.record);
  auto request =
      std::make_shared<const Json::Value>(print_request(*printer_record, *job_record, log_level_threshold()));
  auto outcome = std::make_shared<print_outcome>();
  auto work = [request, outcome] {
    Json::Value reply;
    if (run_print_helper(print_helper_path(), "print", *request, reply) &&
        !read_outcome_reply(reply, *outcome)) {
      QV_LOG(log_error, "Unable to read the print helper's answer: %s", compact_json(reply).c_str());
    }
  };
  auto report = [this, alive = alive_, job_id, receiver, outcome] {
    if (!*alive) return;
    out_.erase(job_id);
    busy_receivers_.erase(receiver);
    finish_job(job_id, outcome->status, outcome->state, outcome->platform_id);
    if (!service_.stopping()) schedule();
  };
  if (!run_in_background(service_.loop(), std::move(work), std::move(report))) {
    out_.erase(job_id);
    busy_receivers_.erase(receiver);
    finish_job(job_id, -1, model::job_state_aborted, 0);
  }
}

void job_queue::print_answered(int64_t job_id, const jsonrpc::connection* c, const Json::Value& response) {
  // Only the console the job was handed to answers for it.
  const auto out = out_.find(job_id);
  if (out == out_.end() || out->second.to != c) return;
  busy_receivers_.erase(out->second.receiver);
  out_.erase(out);

  // The connection's own close notice carries no id: the console went away without answering. Only that
  // counts as an attempt: not a frame that could not be sent, and not the service ending (whatever a peer
  // does to it), so that nobody but the console can use a job's attempts up.
  if (jsonrpc::is_close_notice(response)) {
    std::optional<queued_job> job = find_job(job_id);
    if (job && !sending_ && !service_.stopping()) {
      job->attempts += 1;
      if (auto waiting = pending_.find(job_id); waiting != pending_.end())
        waiting->second.attempts = job->attempts;
      if (!service_.store().set_attempts(job_id, job->attempts)) {
        QV_LOG(log_warning, "Unable to record attempt %d of job %lld", job->attempts,
               static_cast<long long>(job_id));
      }
    }
    if (job && job->attempts >= max_delivery_attempts) {
      QV_LOG(log_warning, "Unable to deliver job %lld: no answer after %d attempts",
             static_cast<long long>(job_id), job->attempts);
      finish_job(job_id, jsonrpc::status_connection_closed, model::job_state_aborted, 0);
    } else {
      QV_LOG(log_information, "Job %lld back in the queue: the console closed without answering",
             static_cast<long long>(job_id));
    }
    if (!service_.stopping()) schedule();
    return;
  }

  int32_t status = 0, state = model::job_state_aborted, platform_id = 0;
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
  if (!service_.stopping()) schedule();
}

void job_queue::finish_job(int64_t job_id, int32_t status, int32_t state, int32_t platform_id) {
  const model::job_state_entry* named = model::find_value(model::job_states, state);
  QV_LOG(log_information, "Job %lld ended: status %d, state %d (%s), job id %d",
         static_cast<long long>(job_id), status, state, named ? named->name : "unknown", platform_id);
  remove_pending(job_id);
  std::optional<queued_job> job = service_.store().find_job(job_id);
  if (!job) {
    job.emplace();
    job->id = job_id;
  }
  job->finished = true;
  job->status = status;
  job->state = state;
  job->platform_id = platform_id;
  // Whoever waits hears the end that happened, even when the store cannot take it now.
  const bool stored = service_.store().finish_job(job_id, status, state, platform_id);
  if (!stored) kept_ends_[job_id] = *job;
  if (auto end = end_functions_.find(job_id); end != end_functions_.end()) {
    job_end_function call = std::move(end->second);
    end_functions_.erase(end);
    call(status, state, platform_id);
  }
  // Whoever waits hears of the end once its documents are gone.
  if (stored) end_stored(*job);
  auto [first, last] = waiters_.equal_range(job_id);
  std::vector<waiter> told;
  for (auto it = first; it != last; ++it) told.push_back(std::move(it->second));
  waiters_.erase(first, last);
  for (waiter& w : told) w.reply(jsonrpc::result_reply(w.request_id, watch_result(*job)));
}

void job_queue::record_kept_ends() {
  std::vector<queued_job> written;
  std::erase_if(kept_ends_, [&](const auto& entry) {
    const queued_job& job = entry.second;
    if (!service_.store().finish_job(job.id, job.status, job.state, job.platform_id)) return false;
    written.push_back(job);
    return true;
  });
  for (const queued_job& job : written) end_stored(job);
}

void job_queue::end_stored(const queued_job& job) {
  // Until the end is stored the job may still go out again, and its document with it.
  if (!job.uuid.empty() && remove_job_spool(spool_folder_, job.uuid)) {
    QV_LOG(log_verbose, "Spooled documents of job %lld deleted", static_cast<long long>(job.id));
  }
  prune_history();
}

void job_queue::load_queue(const std::vector<queued_job>& unfinished) {
  pending_.clear();
  pending_by_receiver_.clear();
  for (const queued_job& job : unfinished) {
    // A job whose printer is gone goes to any console, which hears nothing of it: its end is told at the
    // first delivery.
    const std::optional<Json::Value> printer = service_.store().find_printer(job.printer_uuid);
    add_pending(job.id, pending_job{job.printer_uuid,
                                    printer ? service_.receiver_of(*printer) : std::string(), job.attempts});
  }
}

void job_queue::prune_history() {
  const int64_t forgotten = service_.store().prune_history(history_, time(nullptr));
  if (forgotten > 0) {
    QV_LOG(log_verbose, "%lld ended job(s) beyond the history's bounds forgotten",
           static_cast<long long>(forgotten));
    service_.store().compact_if_sparse();
  }
}

std::optional<queued_job> job_queue::find_job(int64_t id) {
  if (const auto kept = kept_ends_.find(id); kept != kept_ends_.end()) return kept->second;
  return service_.store().find_job(id);
}

}  // namespace quorvane::print_service
