// Which local account owns a TCP socket, asked of the kernel one socket at a time (socket diagnostics over
// netlink), so that both ends of the service link can tell whom they are talking to.
#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace quorvane {

/// What the kernel reports of one TCP socket.
struct tcp_socket_facts {
  uid_t uid = 0;      // the owning account; 0 for sockets that have none yet (see `state`)
  uint8_t state = 0;  // TCP state as the kernel numbers it (1 established, 3 handshake, 10 listening)
  uint32_t receive_queue = 0;  // a listening socket: connections waiting to be accepted
  uint32_t send_queue = 0;     // a listening socket: its backlog
};

/// The TCP state number the kernel reports for a connection still in its handshake, which has no owner yet.
inline constexpr uint8_t tcp_state_handshake = 3;

/// The TCP state number of a closed connection the kernel still remembers (TIME-WAIT), also without owner.
inline constexpr uint8_t tcp_state_time_wait = 6;

/// Asks the kernel about the IPv4 TCP socket bound to `local` and connected to `remote` (a listening socket
/// when `remote` is all zeros). One exact lookup, whatever the number of sockets on the machine. Returns none
/// when no such socket exists or the kernel cannot be asked (the cause is logged at the verbose level).
std::optional<tcp_socket_facts> find_tcp_socket(const sockaddr_in& local, const sockaddr_in& remote);

/// The account owning the other end of the connected IPv4 TCP socket `handle`, both ends being on this
/// machine. Waits up to `handshake_wait_ms` milliseconds for a peer still in its handshake to become a
/// connection with an owner. Returns none when the peer is gone, not on this machine, or the kernel cannot
/// be asked.
std::optional<uid_t> peer_account(int handle, int handshake_wait_ms = 0);

/// True for the account this process runs as and for root: the accounts the service link trusts.
bool is_trusted_account(uid_t account);

/// The system account the computer's print service (`quorvane-service --system`) runs as.
inline constexpr const char* service_account_name = "quorvane-service";

/// True for the accounts a console may take the print service from: its own, root, and the computer's print
/// service account (when that account exists).
bool is_service_account(uid_t account);

/// What the account database says of one local account.
struct account_facts {
  uid_t uid = 0;
  gid_t gid = 0;
  std::string login;      // the login name
  std::string full_name;  // the first field of the comment (GECOS), "" when it has none
};

/// Looks `account` up in the account database. Returns none when it has no entry.
std::optional<account_facts> find_account(uid_t account);

/// The user id of the account whose login name is `login`. Returns none when it has no entry.
std::optional<uid_t> find_login(const std::string& login);

/// Whether `account` belongs to the group `group`, as its primary group or as a supplementary one. False
/// when the account or the group is unknown.
bool is_group_member(const account_facts& account, const char* group);

}  // namespace quorvane
