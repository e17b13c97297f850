#include "print_service/service_methods.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <initializer_list>
#include <string>

#include "core/json_text.h"
#include "core/log.h"
#include "net/peer_account.h"
#include "print_service/job_queue.h"

namespace quorvane::print_service {
namespace {

using jsonrpc::element;
using jsonrpc::status_result;

bool same_uuid(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// The first of `names` whose member of `object` holds a NUL byte, or null.
const char* member_with_nul(const Json::Value& object, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (has_nul_text(object, name)) return name;
  }
  return nullptr;
}

// The attributes "saveAttributes" takes, each an integer of [low, high].
struct attribute_range {
  const char* name;
  int32_t low;
  int32_t high;
};
constexpr attribute_range saved_attributes[] = {
    {"printMode", 0, 1},
    {"logLevel", log_none, log_verbose},
    {"filenameGenerationFlags", 0, 7},  // bits 0 to 2: user, address, hardware address
};

// Why `members` cannot be saved, or "" when every member is a known attribute with a value in its range.
std::string attribute_fault(const Json::Value& members) {
  for (const std::string& name : members.getMemberNames()) {
    const attribute_range* known = nullptr;
    for (const attribute_range& range : saved_attributes) {
      if (name == range.name) known = &range;
    }
    if (!known) return "attribute '" + name + "' is not one the service keeps";
    const Json::Value& value = members[name];
    // Only JSON integers: isInt would also take 1.0 and its kind.
    const bool integral = value.type() == Json::intValue || value.type() == Json::uintValue;
    if (!integral || !value.isInt() || value.asInt() < known->low || value.asInt() > known->high) {
      return "attribute '" + name + "' must be an integer from " + std::to_string(known->low) + " to " +
             std::to_string(known->high);
    }
  }
  return {};
}

// A printer as an error message names it: its name, else its uuid.
std::string printer_name(const Json::Value& printer) {
  const std::string name = string_member(printer, "name");
  return name.empty() ? string_member(printer, "uuid") : name;
}

}  // namespace

method_outcome method_outcome::success(Json::Value result) {
  method_outcome outcome;
  outcome.result_ = std::move(result);
  return outcome;
}

method_outcome method_outcome::status(int32_t status) {
  return success(status_result(status));
}

method_outcome method_outcome::failure(service_failure why) {
  method_outcome outcome;
  outcome.failure_ = std::move(why);
  return outcome;
}

method_outcome method_outcome::failure(int32_t code, std::string message) {
  return failure(service_failure{code, std::move(message)});
}

method_outcome method_outcome::later() {
  method_outcome outcome;
  outcome.later_ = true;
  return outcome;
}

method_outcome method_outcome::then(std::function<void()> follow_up) && {
  follow_up_ = std::move(follow_up);
  return std::move(*this);
}

Json::Value method_outcome::answer(const Json::Value& id) const {
  if (later_) return Json::Value();
  return failure_ ? jsonrpc::error_reply(id, failure_->code, failure_->message)
                  : jsonrpc::result_reply(id, result_);
}

void method_outcome::run_follow_up() const {
  if (follow_up_) follow_up_();
}

const service_methods::method_entry service_methods::methods_[] = {
    {"authenticate", &service_methods::authenticate},
    {"attributes", &service_methods::attributes},
    {"saveAttributes", &service_methods::save_attributes},
    {"observe", &service_methods::observe},
    {"updatePrinter", &service_methods::update_printer},
    {"removePrinter", &service_methods::remove_printer},
    {"submitJob", &service_methods::submit_job},
    {"watchJob", &service_methods::watch_job},
};

method_outcome service_methods::dispatch(const std::string& method, const method_call& call) {
  for (const method_entry& entry : methods_) {
    if (method == entry.name) return (this->*entry.run)(call);
  }
  return method_outcome::failure(error_method_not_found, "Method not found");
}

method_outcome service_methods::authenticate(const method_call& call) {
  // Only processes of this machine reach the loopback port; any token, the empty one included, is accepted.
  if (!element(call.params, 0).isString()) {
    return method_outcome::failure(error_invalid_params, "authenticate expects [token]");
  }
  return method_outcome::status(0);
}

method_outcome service_methods::attributes(const method_call&) {
  Json::Value defaults(Json::objectValue);
  defaults["printMode"] = 0;
  defaults["logLevel"] = log_level_threshold();
  defaults["filenameGenerationFlags"] = 0;
  Json::Value attributes = service_.store().attributes(defaults);
  // How phones reach the printers, for the console's "Phones and Tablets" window; never stored.
  const ipp_reach ipp = service_.ipp_listening();
  attributes["ippPort"] = ipp.port;
  attributes["ippListen"] = ipp.loopback_only ? "loopback" : "all";
  attributes["ippDnssd"] = ipp.dnssd;
  Json::Value result = status_result(0);
  result.append(std::move(attributes));
  return method_outcome::success(std::move(result));
}

method_outcome service_methods::save_attributes(const method_call& call) {
  const Json::Value& members = element(call.params, 0);
  if (!members.isObject())
    return method_outcome::failure(error_invalid_params, "saveAttributes expects [object]");
  // Anything else would be stored for ever and sent with every "attributes": nothing of a refused object is
  // kept.
  if (const std::string fault = attribute_fault(members); !fault.empty()) {
    return method_outcome::failure(error_invalid_params, fault);
  }
  // The attributes are the whole service's (its log, the spooled files' names): on the computer's service
  // only an administrator changes them for everyone.
  if (!call.caller.administrator) {
    return method_outcome::failure(
        error_not_permitted,
        "Unable to save the attributes: only an administrator (root or a member of "
        "lpadmin) may change the computer's print service");
  }
  if (!service_.store().save_attributes(members)) {
    return method_outcome::failure(error_storage, "the attributes could not be stored");
  }
  if (members.isMember("logLevel")) set_log_level(members["logLevel"].asInt());
  return method_outcome::status(0);
}

method_outcome service_methods::observe(const method_call& call) {
  if (!element(call.params, 0).isBool()) {
    return method_outcome::failure(error_invalid_params, "observe expects [true] or [false]");
  }
  call.caller.observing = element(call.params, 0).asBool();
  if (!call.caller.observing) return method_outcome::status(0);
  // The list follows the answer, so the console knows its subscription stands when the printers arrive.
  smart_ptr<jsonrpc::connection> c = call.connection;
  return method_outcome::status(0).then([this, c] {
    service_.send_printer_list(c);
    service_.send_device_list(c);
    jobs_.deliver_next_job();
  });
}

method_outcome service_methods::update_printer(const method_call& call) {
  const Json::Value& printer = element(call.params, 0);
  if (!printer.isObject() || string_member(printer, "uuid").empty()) {
    return method_outcome::failure(error_invalid_params, "updatePrinter expects [printer] with a uuid");
  }
  // A uuid cut at a NUL byte would name another printer wherever it is read as C text (the IPP printers
  // are named by it).
  if (const char* cut = member_with_nul(printer, {"uuid", "directory", "actionParam"})) {
    return method_outcome::failure(error_invalid_params, std::string("a NUL byte in \"") + cut + "\"");
  }
  // The owner is the service's to say: a new printer is the caller's, a stored one keeps its owner, and only
  // those allowed to change a stored printer may.
  Json::Value record = printer;
  const std::optional<Json::Value> stored = service_.store().find_printer(string_member(printer, "uuid"));
  if (stored) {
    if (const std::string fault = service_.change_fault(call.caller, *stored); !fault.empty()) {
      return method_outcome::failure(error_not_permitted,
                                     "Unable to change printer '" + printer_name(*stored) + "': " + fault);
    }
    record["owner"] = string_member(*stored, "owner");
  } else {
    record["owner"] = call.caller.owner;
  }
  if (!service_.store().save_printer(record)) {
    return method_outcome::failure(error_storage, "the printer could not be stored");
  }
  Json::Value list(Json::arrayValue);
  list.append(std::move(record));
  service_.notify_observers("printersWereUpdated", list);
  return method_outcome::status(0);
}

method_outcome service_methods::remove_printer(const method_call& call) {
  const Json::Value& printer = element(call.params, 0);
  const std::string uuid = string_member(printer, "uuid");
  if (uuid.empty()) {
    return method_outcome::failure(error_invalid_params, "removePrinter expects [printer] with a uuid");
  }
  std::optional<Json::Value> stored = service_.store().find_printer(uuid);
  if (stored) {
    if (const std::string fault = service_.change_fault(call.caller, *stored); !fault.empty()) {
      return method_outcome::failure(error_not_permitted,
                                     "Unable to remove printer '" + printer_name(*stored) + "': " + fault);
    }
  }
  if (!service_.store().remove_printer(uuid)) {
    return method_outcome::failure(error_storage, "the printer could not be removed");
  }
  // A printer the service never had is told gone to its sender's consoles only.
  Json::Value gone = stored ? *stored : printer;
  if (!stored) gone["owner"] = call.caller.owner;
  Json::Value list(Json::arrayValue);
  list.append(std::move(gone));
  service_.notify_observers("printersWereRemoved", list);
  return method_outcome::status(0);
}

std::optional<Json::Value> service_methods::find_offered_printer(const std::string& key,
                                                                 service_failure& why) {
  std::vector<Json::Value> by_name;
  for (Json::Value& p : service_.offered_printers()) {
    if (same_uuid(string_member(p, "uuid"), key)) return std::move(p);
    if (string_member(p, "name") == key) by_name.push_back(std::move(p));
  }
  if (by_name.size() == 1) return std::move(by_name.front());
  if (by_name.empty()) {
    why = {error_unknown_printer, "Unable to find printer '" + key + "': no printer has that name or uuid"};
  } else {
    why = {error_ambiguous_printer, "Unable to find printer '" + key +
                                        "': " + std::to_string(by_name.size()) +
                                        " printers have that name; give its uuid"};
  }
  return std::nullopt;
}

method_outcome service_methods::submit_job(const method_call& call) {
  // The service reads the document with its own rights; only its own account (or root) may name one, so
  // another local user cannot have this user's files printed.
  // Every connection was checked when it was accepted; asked again here, because this one lets the peer
  // name a file to read.
  const std::string& peer = call.connection->peer_address_text();
  const std::optional<uid_t> owner = peer_account(call.connection->handle());
  if (!owner || !is_trusted_account(*owner)) {
    const std::string message =
        "Unable to accept job from '" + peer + "': only the service's own account may submit documents";
    QV_LOG(log_warning, "%s", message.c_str());
    return method_outcome::failure(error_not_permitted, message);
  }
  const Json::Value& request = element(call.params, 0);
  job_submission submission;
  submission.file = request.isObject() ? string_member(request, "file") : std::string();
  if (submission.file.empty() || submission.file.front() != '/' || !request["printer"].isString() ||
      (request.isMember("copies") && !request["copies"].isInt())) {
    return method_outcome::failure(error_invalid_params,
                                   "submitJob expects [{\"printer\", \"file\" (absolute path), ...}]");
  }
  // The file and the texts the spooled file is named after are refused whole rather than cut at a NUL.
  if (const char* cut = member_with_nul(request, {"file", "user", "deviceAddress", "format", "name"})) {
    return method_outcome::failure(error_invalid_params, std::string("a NUL byte in \"") + cut + "\"");
  }
  service_failure why;
  std::optional<Json::Value> printer = find_offered_printer(request["printer"].asString(), why);
  if (!printer) return method_outcome::failure(std::move(why));
  submission.printer = std::move(*printer);
  submission.user = string_member(request, "user");
  submission.device_address = string_member(request, "deviceAddress");
  submission.format = string_member(request, "format");
  submission.title = string_member(request, "name");
  submission.copies = request.isMember("copies") ? request["copies"].asInt() : 1;

  const std::optional<int64_t> job_id = jobs_.queue(submission, why);
  if (!job_id) return method_outcome::failure(std::move(why));
  Json::Value result = status_result(0);
  result.append(static_cast<Json::Int64>(*job_id));
  return method_outcome::success(std::move(result));
}

method_outcome service_methods::watch_job(const method_call& call) {
  const Json::Value& id_param = element(call.params, 0);
  // isIntegral also holds for 2^63 and above (and 1e19), which no signed 64-bit id can be.
  if (!id_param.isInt64() || !id_param.isIntegral())
    return method_outcome::failure(error_invalid_params, "watchJob expects [job id]");
  const std::optional<queued_job> job = jobs_.find_job(id_param.asInt64());
  if (!job) {
    return method_outcome::failure(
        error_unknown_job, "Unable to find job '" + std::to_string(id_param.asInt64()) + "': no such job");
  }
  if (job->finished || call.id.isNull()) return method_outcome::success(job_queue::watch_result(*job));
  jobs_.wait_for_end(job->id, call.connection.get(), call.id, call.reply);
  return method_outcome::later();
}

}  // namespace quorvane::print_service
