// The process-wide list of accepted connections, shared by the connection and the manager.
#pragma once

#include "net/jsonrpc_connection.h"

namespace quorvane::jsonrpc::detail {

/// Appends `c` to the process-wide list of accepted connections.
void add_accepted(smart_ptr<connection> c);

/// Removes `c` from that list and drops the list's reference; true when it was there.
bool remove_accepted(const connection* c);

}  // namespace quorvane::jsonrpc::detail
