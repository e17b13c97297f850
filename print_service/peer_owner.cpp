#include "print_service/peer_owner.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace quorvane::print_service {
namespace {

// 127.0.0.1 as the kernel's table writes it (the address bytes in host order on little-endian machines,
// which is the same text as reading them back with the same conversion).
std::string loopback_endpoint(uint16_t port) {
  char text[32];
  std::snprintf(text, sizeof text, "%08X:%04X", 0x0100007Fu, port);
  return text;
}

}  // namespace

std::optional<uid_t> loopback_socket_owner_in_table(std::string_view table, uint16_t local_port,
                                                    uint16_t remote_port) {
  const std::string local = loopback_endpoint(local_port);
  const std::string remote = loopback_endpoint(remote_port);
  // Columns: sl, local address, remote address, st, tx:rx queue, tr:when, retrnsmt, uid, ...
  std::istringstream lines{std::string(table)};
  std::string line;
  std::getline(lines, line);
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string slot, local_address, remote_address, state, queues, timer, retransmits;
    long uid = -1;
    if (!(fields >> slot >> local_address >> remote_address >> state >> queues >> timer >> retransmits >>
          uid)) {
      continue;
    }
    if (local_address == local && remote_address == remote && uid >= 0) return static_cast<uid_t>(uid);
  }
  return std::nullopt;
}

std::optional<uid_t> loopback_peer_owner(uint16_t peer_port, uint16_t our_port) {
  std::ifstream in("/proc/net/tcp");
  if (!in) return std::nullopt;
  std::stringstream table;
  table << in.rdbuf();
  return loopback_socket_owner_in_table(table.str(), peer_port, our_port);
}

}  // namespace quorvane::print_service
