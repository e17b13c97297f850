// JSON-RPC 2.0 messages: building requests, notifications, replies and errors, reading answers, and the
// status values that travel in them.
#pragma once

#include <cstdint>
#include <string>

#include <json/value.h>

namespace quorvane::jsonrpc {

/// The status of success: the first element of a "result" array.
inline constexpr int32_t status_ok = 0;

/// The status a pending call hears when the connection closes under it; a job that no console answered
/// ends with it too.
inline constexpr int32_t status_connection_closed = 10;

/// The status of an answer that cannot be read: an "error" that is not an object or has no integer code, a
/// "result" that is not an array, a status that is not an integer.
inline constexpr int32_t status_malformed_response = -1;

/// The error codes JSON-RPC 2.0 itself defines.
enum protocol_error : int32_t {
  error_invalid_request = -32600,  // not a request
  error_method_not_found = -32601,
  error_invalid_params = -32602,
};

/// A request for `method` with `params` (left out when null). `connection::call` gives it its "id".
Json::Value request(const char* method, Json::Value params = Json::Value());

/// A notification: `method` with `params` (left out when null) and no "id".
Json::Value notification(const char* method, Json::Value params = Json::Value());

/// The params array [`value`].
Json::Value one_param(Json::Value value);

/// Whether a reply carries the "jsonrpc" member. The console's answers to "print" have exactly "id" and
/// "result" (or "error"), as the service has always read them.
enum class version_member { included, left_out };

/// The reply to request `id` carrying `result`.
Json::Value result_reply(const Json::Value& id, Json::Value result,
                         version_member version = version_member::included);

/// The reply to request `id` carrying the error object {`code`, `message`}.
Json::Value error_reply(const Json::Value& id, int32_t code, const std::string& message,
                        version_member version = version_member::included);

/// The result array [`status`]; callers append what follows the status.
Json::Value status_result(int32_t status);

/// What a pending call hears when its connection closes: {"error": {"code": `status_connection_closed`}},
/// without an "id".
Json::Value close_notice();

/// Whether `response` is the close notice rather than an answer: it carries no "id".
bool is_close_notice(const Json::Value& response);

/// The status of a response: "error"."code" when "error" is present and not null, else "result"[0] (0 when
/// absent); `status_malformed_response` for an error without an integer code and for members of the wrong
/// type.
int32_t response_status(const Json::Value& response);

/// Whether `response` carries an "error" that is not null.
bool is_error(const Json::Value& response);

/// The error object of `response` as text: its "message" ("error" when none) and " (code N)" when it has an
/// integer code.
std::string error_text(const Json::Value& response);

/// Element `index` of the array `array` (params, or a result); null when `array` is not an array or is
/// shorter.
const Json::Value& element(const Json::Value& array, Json::ArrayIndex index);

}  // namespace quorvane::jsonrpc
