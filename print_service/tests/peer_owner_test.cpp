#include <gtest/gtest.h>

#include "print_service/peer_owner.h"

namespace quorvane::print_service {
namespace {

TEST(PeerOwner, FindsTheAccountOfThePeerSocketOnly) {
  // 19E7 is port 6631 (the service), D4A2 is 54434 (a client).
  const std::string table =
      "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
      "   0: 0100007F:19E7 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 11 1\n"
      "   1: 0100007F:D4A2 0100007F:19E7 01 00000000:00000000 00:00000000 00000000  1000        0 22 1\n"
      "   2: 0100007F:19E7 0100007F:D4A2 01 00000000:00000000 00:00000000 00000000     0        0 33 1\n";
  struct {
    const char* name;
    uint16_t local_port, remote_port;
    std::optional<uid_t> want;
  } cases[] = {
      {"the client's end", 54434, 6631, 1000},
      {"the service's end", 6631, 54434, 0},
      {"an unknown connection", 54435, 6631, std::nullopt},
      {"the listening socket is no peer", 6631, 0, std::nullopt},
  };
  for (const auto& c : cases) {
    const auto got = loopback_socket_owner_in_table(table, c.local_port, c.remote_port);
    EXPECT_EQ(got, c.want) << c.name << ": got " << (got ? std::to_string(*got) : "none") << ", want "
                           << (c.want ? std::to_string(*c.want) : "none");
  }
  EXPECT_EQ(loopback_socket_owner_in_table("", 1, 2), std::nullopt);
}

}  // namespace
}  // namespace quorvane::print_service
