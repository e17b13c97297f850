// The network address of the IPP client that the calling PAPPL client thread serves.
#pragma once

#include <string>

namespace quorvane::print_service {

/// The numeric address ("192.168.1.20", "fe80::1") of the peer of the connection that the calling thread
/// serves, as last seen on this thread; "" on a thread that serves no IPP connection. PAPPL runs each
/// connection on a thread of its own and asks for the peer's address (to authorise the request) before it
/// creates a job, so on the thread that creates a job this is the address of the device that sent it.
std::string current_client_address();

}  // namespace quorvane::print_service
