// How the print service's methods fail: the JSON-RPC error codes it answers with and one failure value.
#pragma once

#include <cstdint>
#include <string>

#include "net/jsonrpc_message.h"

namespace quorvane::print_service {

/// Error codes of the service's JSON-RPC error objects.
enum service_error : int32_t {
  error_invalid_request = jsonrpc::error_invalid_request,  // the connection is closed after the answer
  error_method_not_found = jsonrpc::error_method_not_found,
  error_invalid_params = jsonrpc::error_invalid_params,
  error_unknown_printer = -32001,
  error_ambiguous_printer = -32002,
  error_unreadable_file = -32003,
  error_storage = -32004,
  error_unknown_job = -32005,
  error_not_permitted = -32006,  // another account's: a job from an account other than the service's, a
                                 // change of another account's printer or of a CUPS printer by a console
                                 // that does not administer the computer
};

/// Why a request failed: the error object's code and message.
struct service_failure {
  int32_t code = 0;
  std::string message;
};

}  // namespace quorvane::print_service
