#include "ui/phones/self_check.h"

#include <arpa/inet.h>

#include <QCoreApplication>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>

#include "ui/phones/firewall_rules.h"

namespace quorvane::phones {
namespace {

QString text_of(const std::string& text) {
  return QString::fromStdString(text);
}

check_result passed() {
  return {check_state::passed, {}};
}

check_result failed(QString problem) {
  return {check_state::failed, std::move(problem)};
}

check_result unknown(QString why) {
  return {check_state::unknown, std::move(why)};
}

// The resolved _ipp._tcp records.
std::vector<avahi_record> resolved(const check_inputs& in) {
  std::vector<avahi_record> records;
  for (avahi_record& r : parse_avahi_browse(in.browse.output)) {
    if (r.resolved) records.push_back(std::move(r));
  }
  return records;
}

// Whether `name` is `wanted` or avahi's new name for it after a collision ("wanted #2").
bool is_name_or_renamed(const std::string& name, const std::string& wanted) {
  if (name == wanted) return true;
  if (name.size() <= wanted.size() + 2 || name.compare(0, wanted.size(), wanted) != 0) return false;
  const std::string rest = name.substr(wanted.size());
  return rest.rfind(" #", 0) == 0 && rest.find_first_not_of("0123456789", 2) == std::string::npos;
}

// Whether `r` is this service's record of `printer`: its resource path on the service's IPP port.
bool is_ours(const avahi_record& r, const expected_printer& printer, int ipp_port) {
  auto rp = r.txt.find("rp");
  return r.port == ipp_port && rp != r.txt.end() && rp->second == "ipp/print/" + printer.path;
}

// Why the browse results cannot be judged; empty when they can.
QString browse_unusable(const check_inputs& in) {
  if (!in.browse.started)
    return QCoreApplication::translate(
        "SelfCheck", "avahi-browse is missing, so the advertisements cannot be read (install avahi-utils).");
  if (avahi_not_running(in.browse.errors) || in.browse.exit_status != 0)
    return QCoreApplication::translate("SelfCheck",
                                       "The advertisements cannot be read while avahi-daemon does not run.");
  return {};
}

// Joins sentences with a space.
QString joined(const QStringList& sentences) {
  return sentences.join(QLatin1Char(' '));
}

}  // namespace

address_kind kind_of_address(std::string_view address) {
  const std::string text(address.substr(0, address.find('%')));
  in_addr v4{};
  in6_addr v6{};
  if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
    const uint32_t host = ntohl(v4.s_addr);
    if ((host >> 24) == 127) return address_kind::loopback;
    if ((host >> 16) == 0xa9fe) return address_kind::link_local;
    return address_kind::reachable;
  }
  if (inet_pton(AF_INET6, text.c_str(), &v6) == 1) {
    if (IN6_IS_ADDR_LOOPBACK(&v6)) return address_kind::loopback;
    if (IN6_IS_ADDR_LINKLOCAL(&v6)) return address_kind::link_local;
    if (IN6_IS_ADDR_V4MAPPED(&v6)) return kind_of_address(text.substr(text.rfind(':') + 1));
    return address_kind::reachable;
  }
  return address_kind::loopback;
}

std::vector<std::string> listening_addresses(std::string_view proc_net_tcp, bool v6, int port) {
  std::vector<std::string> found;
  std::istringstream lines{std::string(proc_net_tcp)};
  std::string line;
  std::getline(lines, line);  // the heading
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string slot, local, remote, state;
    if (!(words >> slot >> local >> remote >> state) || state != "0A") continue;  // 0A: listening
    const size_t colon = local.find(':');
    if (colon == std::string::npos || std::strtol(local.c_str() + colon + 1, nullptr, 16) != port) continue;
    const std::string hex = local.substr(0, colon);
    // The kernel prints the address as 32-bit words in the machine's byte order.
    unsigned char bytes[16] = {};
    const size_t words_count = v6 ? 4 : 1;
    if (hex.size() != words_count * 8) continue;
    for (size_t w = 0; w < words_count; ++w) {
      const uint32_t word = static_cast<uint32_t>(std::strtoul(hex.substr(w * 8, 8).c_str(), nullptr, 16));
      std::memcpy(bytes + w * 4, &word, 4);
    }
    char text[INET6_ADDRSTRLEN] = {};
    if (inet_ntop(v6 ? AF_INET6 : AF_INET, bytes, text, sizeof text)) found.emplace_back(text);
  }
  return found;
}

check_result avahi_daemon_check::run(const check_inputs& in) {
  if (!in.browse.started)
    return unknown(QCoreApplication::translate(
        "SelfCheck", "avahi-browse is missing, so avahi-daemon cannot be asked (install avahi-utils)."));
  if (avahi_not_running(in.browse.errors) || in.browse.exit_status != 0) {
    return failed(QCoreApplication::translate(
        "SelfCheck",
        "avahi-daemon is not running, so phones cannot find the printers. Start it: "
        "sudo systemctl enable --now avahi-daemon"));
  }
  return passed();
}

check_result published_names_check::run(const check_inputs& in) {
  if (!in.dnssd) {
    return failed(QCoreApplication::translate(
        "SelfCheck",
        "The print service was started with --no-dnssd, so it publishes no printer. "
        "Start it without that option."));
  }
  if (const QString why = browse_unusable(in); !why.isEmpty()) return unknown(why);
  if (in.ipp_port <= 0)
    return unknown(
        QCoreApplication::translate("SelfCheck", "The print service has not said which IPP port it uses."));
  const std::vector<avahi_record> records = resolved(in);
  QStringList problems;
  for (const expected_printer& printer : in.printers) {
    std::set<std::string> our_names;
    std::string our_host;
    for (const avahi_record& r : records) {
      if (!is_ours(r, printer, in.ipp_port)) continue;
      our_names.insert(r.name);
      our_host = r.host;
    }
    // Another service under the printer's name (or under avahi's new name for it: it came second): on this
    // computer and port 631 it is CUPS sharing a queue.
    std::set<std::string> others;
    bool cups = false;
    for (const avahi_record& r : records) {
      if (!is_name_or_renamed(r.name, printer.name) || is_ours(r, printer, in.ipp_port)) continue;
      others.insert(r.host + ":" + std::to_string(r.port));
      cups = cups || (r.port == 631 && (our_host.empty() || r.host == our_host));
    }
    const QString name = text_of(printer.name);
    if (our_names.empty()) {
      problems << QCoreApplication::translate(
                      "SelfCheck",
                      "'%1' is not published, so phones do not list it; restart the print service.")
                      .arg(name);
    } else if (!our_names.count(printer.name)) {
      problems << QCoreApplication::translate(
                      "SelfCheck", "'%1' is published as '%2' because another service took its name.")
                      .arg(name, text_of(*our_names.begin()));
    }
    if (!others.empty()) {
      if (cups) {
        problems << QCoreApplication::translate("SelfCheck",
                                                "CUPS on this computer also advertises a printer named '%1', "
                                                "so phones may print to the wrong "
                                                "one; stop CUPS sharing that queue (sudo cupsctl "
                                                "--no-share-printers) or rename one of them.")
                        .arg(name);
      } else {
        problems << QCoreApplication::translate(
                        "SelfCheck",
                        "Another service (%1) also advertises a printer named '%2'; rename one of them.")
                        .arg(text_of(*others.begin()), name);
      }
    }
  }
  return problems.isEmpty() ? passed() : failed(joined(problems));
}

check_result phone_keys_check::run(const check_inputs& in) {
  if (const QString why = browse_unusable(in); !why.isEmpty()) return unknown(why);
  const std::vector<avahi_record> records = resolved(in);
  std::set<std::string> universal;
  for (const avahi_record& r : parse_avahi_browse(in.browse_universal.output)) universal.insert(r.name);
  QStringList problems;
  for (const expected_printer& printer : in.printers) {
    auto found = std::find_if(records.begin(), records.end(),
                              [&](const avahi_record& r) { return is_ours(r, printer, in.ipp_port); });
    if (found == records.end()) continue;  // the names check says it is missing
    QStringList missing;
    if (!universal.count(found->name)) missing << QStringLiteral("_universal");
    for (const char* key : {"URF", "air"}) {
      if (!found->txt.count(key)) missing << QString::fromLatin1(key);
    }
    if (!missing.isEmpty()) {
      problems << QCoreApplication::translate("SelfCheck",
                                              "'%1' is published without %2, which phones look for; restart "
                                              "the print service, and if that "
                                              "does not help, update it.")
                      .arg(text_of(found->name), missing.join(QStringLiteral(", ")));
    }
  }
  return problems.isEmpty() ? passed() : failed(joined(problems));
}

check_result ipp_port_check::run(const check_inputs& in) {
  if (in.ipp_port <= 0)
    return unknown(
        QCoreApplication::translate("SelfCheck", "The print service has not said which IPP port it uses."));
  std::vector<std::string> listening = listening_addresses(in.proc_net_tcp, false, in.ipp_port);
  for (std::string& a : listening_addresses(in.proc_net_tcp6, true, in.ipp_port))
    listening.push_back(std::move(a));
  const QString port = QString::number(in.ipp_port);
  if (listening.empty()) {
    return failed(
        QCoreApplication::translate(
            "SelfCheck",
            "Nothing listens on the IPP port %1: the print service is not running or could not open it. "
            "Start the print service (systemctl --user restart quorvane-service).")
            .arg(port));
  }
  const bool beyond_loopback = std::any_of(listening.begin(), listening.end(), [](const std::string& a) {
    return a == "0.0.0.0" || a == "::" || kind_of_address(a) != address_kind::loopback;
  });
  if (!beyond_loopback) {
    return failed(
        QCoreApplication::translate(
            "SelfCheck",
            "The print service takes IPP connections on port %1 from this computer only (it runs with "
            "--ipp-listen loopback), so phones cannot reach it. Start it with --ipp-listen all.")
            .arg(port));
  }
  return passed();
}

check_result firewall_check::run(const check_inputs& in) {
  const int port = in.ipp_port > 0 ? in.ipp_port : 8631;
  firewall_reading reading;
  bool read = false;
  QString unreadable;
  // The tool the machine manages its firewall with decides which reading (and command) counts.
  if (in.firewalld_state.started && in.firewalld_state.exit_status == 0) {
    read = read_firewalld(in.firewalld_zone.output, port, reading);
    if (!read) unreadable = QStringLiteral("firewall-cmd --list-all");
  } else if (in.ufw_status.started && in.ufw_status.output.rfind("Status: active", 0) == 0) {
    read = read_ufw(in.ufw_status.output, port, reading);
  } else if (in.nft_ruleset.started) {
    read = in.nft_ruleset.exit_status == 0 && read_nftables(in.nft_ruleset.output, port, reading);
    if (!read) unreadable = QStringLiteral("nft list ruleset");
  } else if (in.iptables_save.started) {
    read = in.iptables_save.exit_status == 0 && read_iptables(in.iptables_save.output, port, reading);
    if (!read) unreadable = QStringLiteral("iptables-save");
  } else {
    return passed();  // no firewall tool: nothing filters
  }
  if (!read) {
    return unknown(
        QCoreApplication::translate(
            "SelfCheck",
            "The firewall's rules could not be read (%1 needs administrator rights). If phones do not find "
            "the printers, let UDP port 5353 and TCP port %2 in.")
            .arg(unreadable, QString::number(port)));
  }
  if (reading.mdns_open && reading.ipp_open) return passed();
  QStringList blocked;
  if (!reading.mdns_open)
    blocked << QCoreApplication::translate("SelfCheck", "UDP port 5353 (how phones find printers)");
  if (!reading.ipp_open)
    blocked << QCoreApplication::translate("SelfCheck", "TCP port %1 (how phones print)").arg(port);
  const QString sentence =
      QCoreApplication::translate("SelfCheck", "The firewall (%1) blocks %2. To let them in, run: %3")
          .arg(text_of(reading.tool), blocked.join(QCoreApplication::translate("SelfCheck", " and ")),
               text_of(reading.open_command));
  return reading.certain ? failed(sentence)
                         : unknown(QCoreApplication::translate("SelfCheck", "Perhaps: %1").arg(sentence));
}

check_result network_address_check::run(const check_inputs& in) {
  const bool reachable = std::any_of(in.addresses.begin(), in.addresses.end(), [](const local_address& a) {
    return a.kind == address_kind::reachable;
  });
  if (reachable) return passed();
  return failed(QCoreApplication::translate(
      "SelfCheck",
      "This computer has no network address a phone can reach, only its own (loopback) or a link-local "
      "one. Connect it to the network the phones use (the same Wi-Fi, say)."));
}

std::vector<check_line> run_self_check(const check_inputs& in) {
  return {
      {QCoreApplication::translate("SelfCheck", "avahi-daemon is running"), avahi_daemon_check::run(in)},
      {QCoreApplication::translate("SelfCheck", "Each printer is published under its own name"),
       published_names_check::run(in)},
      {QCoreApplication::translate("SelfCheck", "Phones find what they look for (_universal, URF, air)"),
       phone_keys_check::run(in)},
      {QCoreApplication::translate("SelfCheck", "The IPP port is open to the network"),
       ipp_port_check::run(in)},
      {QCoreApplication::translate("SelfCheck", "The firewall lets mDNS and IPP in"),
       firewall_check::run(in)},
      {QCoreApplication::translate("SelfCheck", "This computer has a network address phones can reach"),
       network_address_check::run(in)},
  };
}

}  // namespace quorvane::phones
