#include "net/jsonrpc_message.h"

#include <utility>

namespace quorvane::jsonrpc {

Json::Value request(const char* method, Json::Value params) {
  Json::Value message(Json::objectValue);
  message["jsonrpc"] = "2.0";
  message["method"] = method;
  if (!params.isNull()) message["params"] = std::move(params);
  return message;
}

Json::Value notification(const char* method, Json::Value params) {
  // The same object: what makes a request is the "id" that `connection::call` adds.
  return request(method, std::move(params));
}

Json::Value one_param(Json::Value value) {
  Json::Value params(Json::arrayValue);
  params.append(std::move(value));
  return params;
}

Json::Value result_reply(const Json::Value& id, Json::Value result, version_member version) {
  Json::Value reply(Json::objectValue);
  if (version == version_member::included) reply["jsonrpc"] = "2.0";
  reply["id"] = id;
  reply["result"] = std::move(result);
  return reply;
}

Json::Value error_reply(const Json::Value& id, int32_t code, const std::string& message,
                        version_member version) {
  Json::Value reply(Json::objectValue);
  if (version == version_member::included) reply["jsonrpc"] = "2.0";
  reply["id"] = id;
  reply["error"]["code"] = code;
  reply["error"]["message"] = message;
  return reply;
}

Json::Value status_result(int32_t status) {
  Json::Value result(Json::arrayValue);
  result.append(status);
  return result;
}

Json::Value close_notice() {
  Json::Value notice(Json::objectValue);
  notice["error"]["code"] = status_connection_closed;
  return notice;
}

bool is_close_notice(const Json::Value& response) {
  return !response.isObject() || !response.isMember("id");
}

int32_t response_status(const Json::Value& response) {
  if (!response.isObject()) return status_malformed_response;
  const Json::Value& error = response["error"];
  if (!error.isNull()) {
    if (!error.isObject()) return status_malformed_response;
    // An error without a code is still an error: reporting it as 0 would call a failure a success.
    const Json::Value& code = error["code"];
    return code.isInt() ? code.asInt() : status_malformed_response;
  }
  const Json::Value& result = response["result"];
  if (result.isNull()) return status_ok;
  if (!result.isArray()) return status_malformed_response;
  if (result.empty()) return status_ok;
  return result[0].isInt() ? result[0].asInt() : status_malformed_response;
}

bool is_error(const Json::Value& response) {
  return response.isObject() && !response["error"].isNull();
}

std::string error_text(const Json::Value& response) {
  static const Json::Value none;
  const Json::Value& error = response.isObject() ? response["error"] : none;
  const Json::Value& message = error.isObject() ? error["message"] : none;
  const Json::Value& code = error.isObject() ? error["code"] : none;
  std::string text = message.isString() ? message.asString() : std::string("error");
  if (code.isInt()) text += " (code " + std::to_string(code.asInt()) + ")";
  return text;
}

const Json::Value& element(const Json::Value& array, Json::ArrayIndex index) {
  static const Json::Value null_value;
  return array.isArray() && index < array.size() ? array[index] : null_value;
}

}  // namespace quorvane::jsonrpc
