#include "service_link/server_stub.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "core/json_text.h"
#include "core/log.h"
#include "core/runloop.h"
#include "net/peer_account.h"

namespace quorvane {
namespace {

using jsonrpc::one_param;
using jsonrpc::response_status;
using jsonrpc::status_malformed_response;

// Whether `value` can be read as a record: an object, or null (the record keeps its defaults).
bool is_record(const Json::Value& value) {
  return value.isObject() || value.isNull();
}

// The list elements of a list notification: element 0 of "params" when it is an array, else none. Returns
// false when "params" or an element cannot be read safely.
bool list_elements(const Json::Value& message, const Json::Value*& elements) {
  static const Json::Value empty(Json::arrayValue);
  elements = &empty;
  const Json::Value& params = message["params"];
  if (params.isNull()) return true;
  if (!params.isArray()) return false;
  if (params.empty() || !params[0].isArray()) return true;
  for (const Json::Value& element : params[0]) {
    if (!is_record(element)) return false;
  }
  elements = &params[0];
  return true;
}

template <class Record>
std::list<smart_ptr<Record>> records_of(const Json::Value& elements) {
  std::list<smart_ptr<Record>> records;
  for (const Json::Value& element : elements) {
    smart_ptr<Record> record(new Record());
    record->readJSON(element);
    records.push_back(std::move(record));
  }
  return records;
}

// The attributes object of an "attributes" response: "result"[1] when the status came from the result.
Json::Value attributes_of(const Json::Value& response) {
  const Json::Value& error = response["error"];
  const Json::Value& result = response["result"];
  if (!error.isNull() || !result.isArray() || result.size() < 2) return Json::Value();
  return result[1];
}

// The members of a print request that name files or programs: (element of "params", key).
constexpr std::pair<Json::ArrayIndex, const char*> path_members[] = {
    {0, "directory"},
    {0, "actionParam"},
    {1, "filename"},
};

// The JSON-RPC refusal of a request with unusable params (-32602).
Json::Value invalid_params_reply(const Json::Value& id, const std::string& message) {
  return jsonrpc::error_reply(id, jsonrpc::error_invalid_params, message, jsonrpc::version_member::left_out);
}

enum class incoming { printers_updated, printers_removed, devices_updated, devices_removed, print };

struct incoming_method {
  const char* name;
  incoming kind;
};

// The messages the service sends on its own, in the order they are matched.
constexpr incoming_method incoming_methods[] = {
    {"printersWereUpdated", incoming::printers_updated},
    {"printersWereRemoved", incoming::printers_removed},
    {"devicesWereUpdated", incoming::devices_updated},
    {"devicesWereRemoved", incoming::devices_removed},
    {"print", incoming::print},
};

}  // namespace

Json::Value print_reply(const Json::Value& id, int32_t status, int32_t state, int32_t platform_job_id) {
  Json::Value result = jsonrpc::status_result(status);
  result.append(state);
  result.append(platform_job_id);
  return jsonrpc::result_reply(id, std::move(result), jsonrpc::version_member::left_out);
}

server_stub::server_stub(server::delegate* receiver) : service_delegate_(receiver) {
  set_delegate(static_cast<jsonrpc::connection::delegate*>(this));
}

server_stub::~server_stub() = default;

int32_t server_stub::connect(const sockaddr* address, socklen_t length) {
  const int32_t result = socket::connect(address, length);
  if (result != 0) return result;
  // Whoever listens on the service's port when the service is down could send print requests whose action
  // starts a program of its choosing: only a service of this account, root or the computer's print service
  // account is spoken to.
  const std::optional<uid_t> account = peer_account(handle(), handshake_wait_ms);
  if (!account || !is_service_account(*account)) {
    const std::string who =
        account ? "account " + std::to_string(*account) : std::string("an unknown account");
    QV_LOG(log_warning,
           "Unable to use print service: the socket that answered belongs to %s, not to this one",
           who.c_str());
    close();
    return -1;
  }
  runloop* loop = main_runloop();
  if (!loop) {
    QV_LOG(log_error, "Unable to watch connection 'print service': there is no main run loop");
    close();
    return -1;
  }
  watch_on(*loop);
  return 0;
}

void server_stub::send_status_request(Json::Value request, status_callback callback) {
  // A frame that was not sent completely stays pending and hears of the next close.
  call(request, [callback = std::move(callback)](const Json::Value& response) {
    const int32_t status = response_status(response);
    if (status == status_malformed_response) {
      QV_LOG(log_warning, "Unable to read response '%s': members of the wrong type",
             compact_json(response).substr(0, 200).c_str());
    }
    if (callback) callback(status);
  });
}

void server_stub::authenticate(const std::string& token, status_callback callback) {
  Json::Value request = jsonrpc::request("authenticate", one_param(token));
  send_status_request(std::move(request), std::move(callback));
}

void server_stub::updatePrinter(smart_ptr<model::printer> printer, status_callback callback) {
  Json::Value record(Json::objectValue);
  if (printer) printer->writeJSON(record);
  Json::Value request = jsonrpc::request("updatePrinter", one_param(std::move(record)));
  send_status_request(std::move(request), std::move(callback));
}

void server_stub::removePrinter(smart_ptr<model::printer> printer, status_callback callback) {
  Json::Value record(Json::objectValue);
  if (printer) printer->writeJSON(record);
  Json::Value request = jsonrpc::request("removePrinter", one_param(std::move(record)));
  send_status_request(std::move(request), std::move(callback));
}

void server_stub::attributes(attributes_callback callback) {
  Json::Value request = jsonrpc::request("attributes");
  call(request, [callback = std::move(callback)](const Json::Value& response) {
    const int32_t status = response_status(response);
    if (status == status_malformed_response) {
      QV_LOG(log_warning, "Unable to read response '%s': members of the wrong type",
             compact_json(response).substr(0, 200).c_str());
    }
    Json::Value attributes = attributes_of(response);
    if (callback) callback(status, attributes);
  });
}

void server_stub::saveAttributes(const Json::Value& attributes, status_callback callback) {
  Json::Value request = jsonrpc::request("saveAttributes", one_param(attributes));
  send_status_request(std::move(request), std::move(callback));
}

void server_stub::observe(bool enable, status_callback callback) {
  Json::Value request = jsonrpc::request("observe", one_param(enable));
  send_status_request(std::move(request), std::move(callback));
}

void server_stub::request_handler(smart_ptr<jsonrpc::connection>, Json::Value& message,
                                  jsonrpc::reply_function reply) {
  const Json::Value id = message.get("id", Json::Value());
  if (!service_delegate_) return;
  const Json::Value& method = message["method"];
  if (!method.isString()) {
    QV_LOG(log_warning, "Unable to handle message '%s': \"method\" is not a string",
           compact_json(message).substr(0, 200).c_str());
    return;
  }
  const incoming_method* match = nullptr;
  for (const incoming_method& m : incoming_methods) {
    if (method.asString() == m.name) {
      match = &m;
      break;
    }
  }
  if (!match) return;

  if (match->kind != incoming::print) {
    const Json::Value* elements = nullptr;
    if (!list_elements(message, elements)) {
      QV_LOG(log_warning, "Unable to handle message '%s': \"params\" is not an array of records",
             match->name);
      return;
    }
    switch (match->kind) {
      case incoming::printers_updated: {
        auto printers = records_of<model::printer>(*elements);
        service_delegate_->printersWereUpdated(printers);
        break;
      }
      case incoming::printers_removed: {
        auto printers = records_of<model::printer>(*elements);
        service_delegate_->printersWereRemoved(printers);
        break;
      }
      case incoming::devices_updated: {
        auto devices = records_of<model::device>(*elements);
        service_delegate_->devicesWereUpdated(devices);
        break;
      }
      case incoming::devices_removed: {
        auto devices = records_of<model::device>(*elements);
        service_delegate_->devicesWereRemoved(devices);
        break;
      }
      case incoming::print:
        break;
    }
    return;
  }

  // "print": both records must be readable before the delegate sees either.
  static const Json::Value null_value;
  const Json::Value& params = message["params"];
  const bool readable = params.isArray() && is_record(params.size() > 0 ? params[0] : null_value) &&
                        is_record(params.size() > 1 ? params[1] : null_value);
  if (!readable) {
    QV_LOG(log_warning, "Unable to handle message 'print': \"params\" is not [printer, job]");
    // The service waits for every request with an id; it hears of the failure instead of waiting for ever.
    if (!id.isNull()) reply(print_reply(id, -1, model::job_state_aborted, 0));
    return;
  }
  // A file name cut at a NUL byte would name another file than the one sent: such a request is refused.
  const char* cut_path = nullptr;
  for (const auto& [record, key] : path_members) {
    const Json::Value& element = params.size() > record ? params[record] : null_value;
    if (has_nul_text(element, key)) cut_path = key;
  }
  if (cut_path) {
    QV_LOG(log_warning, "Unable to handle message 'print': its \"%s\" contains a NUL byte", cut_path);
    if (!id.isNull()) reply(invalid_params_reply(id, std::string("a NUL byte in \"") + cut_path + "\""));
    return;
  }
  smart_ptr<model::printer> printer(new model::printer());
  smart_ptr<model::job> job(new model::job());
  printer->readJSON(params.size() > 0 ? params[0] : null_value);
  job->readJSON(params.size() > 1 ? params[1] : null_value);
  print_completion completion = [id, reply = std::move(reply)](int32_t status, int32_t state,
                                                               int32_t job_id) {
    reply(print_reply(id, status, state, job_id));
  };
  service_delegate_->print(printer, job, std::move(completion));
}

}  // namespace quorvane
