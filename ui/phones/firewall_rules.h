// Whether a firewall lets a phone's packets in: mDNS (UDP 5353 to 224.0.0.251) and the IPP port (TCP), read
// from what each firewall tool prints, with the command that opens what it blocks.
#pragma once

#include <string>
#include <string_view>

namespace quorvane::phones {

/// The UDP port of mDNS.
inline constexpr int mdns_port = 5353;

/// What one firewall does with a phone's mDNS query and IPP connection.
struct firewall_reading {
  std::string tool;          // "nftables", "iptables", "ufw", "firewalld"
  bool mdns_open = true;     // UDP 5353 gets in
  bool ipp_open = true;      // TCP to the IPP port gets in
  bool certain = true;       // false: a rule the reading cannot judge (a source address, a rate) decided
  std::string open_command;  // the command that lets in what is blocked; empty when nothing is
};

/// Reads `nft -j list ruleset` output: the packet (IPv4, from a non-loopback interface, a new connection)
/// goes through every filter chain on the input hook of the inet and ip families in priority order, following
/// jumps, gotos and named sets; each chain that drops it gets an "nft insert rule" in the command. Returns
/// false when `json` is not such output.
bool read_nftables(std::string_view json, int ipp_port, firewall_reading& reading);

/// Reads `iptables-save` output: the filter table's INPUT chain, as `read_nftables` does. Returns false
/// when `text` has no filter table.
bool read_iptables(std::string_view text, int ipp_port, firewall_reading& reading);

/// Reads `ufw status verbose` output. mDNS counts as open unless a rule denies it (ufw's own before-rules
/// let mDNS in). Returns false when `text` is not such output.
bool read_ufw(std::string_view text, int ipp_port, firewall_reading& reading);

/// Reads `firewall-cmd --list-all` output (the default zone): the service "mdns" or port 5353/udp, and the
/// IPP port under ports, or the target ACCEPT. Returns false when `text` is not such output.
bool read_firewalld(std::string_view text, int ipp_port, firewall_reading& reading);

}  // namespace quorvane::phones
