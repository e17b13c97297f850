// The network address of the IPP client that the calling PAPPL client thread serves.
#pragma once

#include <cups/cups.h>

#include <string>

namespace quorvane::print_service {

/// The numeric address ("192.168.1.20", "fe80::1") of the peer of the connection that the calling thread
/// serves, as last seen on this thread; "" on a thread that serves no IPP connection. PAPPL runs each
/// connection on a thread of its own and asks for the peer's address (to authorise the request) before it
/// creates a job, so on the thread that creates a job this is the address of the device that sent it.
std::string current_client_address();

/// The numeric address of the peer of `http` (as current_client_address gives it), which it also notes for
/// the calling thread; "" when the connection has no IP peer.
std::string client_address(http_t* http);

}  // namespace quorvane::print_service
