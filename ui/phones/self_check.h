// The self-check of the "Phones and Tablets" window: why a phone may not find or reach the printers. Each
// check is a class that judges what was read from the machine (`check_inputs`, gathered by
// `gather_check_inputs` or recorded by a test) and says in one sentence what is wrong and what to do.
#pragma once

#include <QString>

#include <string>
#include <string_view>
#include <vector>

#include "ui/phones/avahi_records.h"

namespace quorvane::phones {

/// What a check found.
enum class check_state {
  passed,
  failed,   // the problem sentence says what is wrong and what to do
  unknown,  // the check could not be made; the sentence says why
};

/// The outcome of one check.
struct check_result {
  check_state state = check_state::unknown;
  QString problem;  // empty when passed
};

/// One run of a program: whether it could be started, its exit status and what it wrote.
struct program_run {
  bool started = false;  // false: the program is not installed (or could not be run)
  int exit_status = -1;
  std::string output;
  std::string errors;
};

/// A printer as a phone should find it.
struct expected_printer {
  std::string name;  // the name a phone shows (model::phone_name)
  std::string path;  // model::printer_path(uuid): the TXT key rp is "ipp/print/<path>"
};

/// How this computer's addresses count for a phone.
enum class address_kind { loopback, link_local, reachable };

/// One address of a network interface of this computer.
struct local_address {
  std::string interface;
  std::string address;  // numeric, without a zone
  address_kind kind = address_kind::reachable;
};

/// How `address` (numeric IPv4 or IPv6) counts for a phone: loopback (127/8, ::1), link-local (169.254/16,
/// fe80::/10: not usable from a QR code or typed in), else reachable. An address that is not numeric counts
/// as loopback (never offered).
address_kind kind_of_address(std::string_view address);

/// The local addresses listening on TCP `port` in `/proc/net/tcp` (`v6` false) or `/proc/net/tcp6` text, as
/// numeric addresses ("0.0.0.0", "::", "127.0.0.1", ...).
std::vector<std::string> listening_addresses(std::string_view proc_net_tcp, bool v6, int port);

/// Everything the checks read.
struct check_inputs {
  program_run browse;            // avahi-browse -kprt _ipp._tcp
  program_run browse_universal;  // avahi-browse -kpt _universal._sub._ipp._tcp
  std::vector<expected_printer> printers;
  int ipp_port = 0;  // 0: the service did not say
  bool loopback_only = false;
  bool dnssd = true;
  std::string proc_net_tcp, proc_net_tcp6;  // /proc/net/tcp and /proc/net/tcp6
  std::vector<local_address> addresses;
  program_run firewalld_state;  // firewall-cmd --state
  program_run firewalld_zone;   // firewall-cmd --list-all
  program_run ufw_status;       // ufw status verbose
  program_run nft_ruleset;      // nft -j list ruleset
  program_run iptables_save;    // iptables-save
};

/// avahi-daemon runs (avahi-browse could reach it).
class avahi_daemon_check {
 public:
  static check_result run(const check_inputs& in);
};

/// Each printer is published under the name the console shows, by this service: a printer that avahi
/// renamed, one missing, and another service holding its name (CUPS sharing the same queue, say) are named.
class published_names_check {
 public:
  static check_result run(const check_inputs& in);
};

/// What phones look for in each printer's advertisement: the _universal subtype and the TXT keys URF and air.
class phone_keys_check {
 public:
  static check_result run(const check_inputs& in);
};

/// The IPP port is open on the addresses a phone uses (not on loopback only).
class ipp_port_check {
 public:
  static check_result run(const check_inputs& in);
};

/// The firewall (firewalld, ufw, nftables or iptables, whichever is in use) lets UDP 5353 (mDNS) and the IPP
/// port in; if not, the sentence holds the exact command that opens them.
class firewall_check {
 public:
  static check_result run(const check_inputs& in);
};

/// This computer has an address a phone can reach (not only loopback or link-local).
class network_address_check {
 public:
  static check_result run(const check_inputs& in);
};

/// One line of the self-check: the check's title and its outcome.
struct check_line {
  QString title;
  check_result result;
};

/// Every check on `in`, in the order the window shows them.
std::vector<check_line> run_self_check(const check_inputs& in);

}  // namespace quorvane::phones
