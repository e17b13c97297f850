// Which local account owns the other end of a loopback TCP connection (from the kernel's socket table).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace quorvane::print_service {

/// The owner of the socket bound to 127.0.0.1:`local_port` and connected to 127.0.0.1:`remote_port`, in a
/// table written as /proc/net/tcp writes it; none when the table does not list that socket.
std::optional<uid_t> loopback_socket_owner_in_table(std::string_view table, uint16_t local_port,
                                                    uint16_t remote_port);

/// The account that owns the peer of one of our loopback connections: the peer's socket is bound to
/// `peer_port` and connected to our `our_port`. None when the kernel's table cannot be read or lacks it.
std::optional<uid_t> loopback_peer_owner(uint16_t peer_port, uint16_t our_port);

}  // namespace quorvane::print_service
