// Internals of the socket shared with its tests.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "net/socket.h"

namespace quorvane::detail {

/// The complete rows of the text of the kernel's neighbour table (/proc/net/arp), in its order, each hardware
/// address as "AA:BB:CC:DD:EE:FF"; rows without one (all zero, or unreadable) are left out.
std::vector<neighbour> neighbours_in_arp_table(std::string_view table);

/// Finds `ipv4_text`'s hardware address in the text of the kernel's neighbour table (/proc/net/arp): the
/// first row for that address with a non-zero hardware address, as "AA:BB:CC:DD:EE:FF". Empty when none.
std::string hardware_address_in_arp_table(std::string_view table, std::string_view ipv4_text);

}  // namespace quorvane::detail
