// The self-check's judgements on recorded inputs: avahi-browse output, /proc/net/tcp, addresses and the
// firewall tools' output as they were read on machines in each state.
#include "ui/phones/self_check.h"

#include <gtest/gtest.h>

#include "ui/phones/firewall_rules.h"

namespace quorvane::phones {
namespace {

const char* state_name(check_state s) {
  return s == check_state::passed ? "passed" : s == check_state::failed ? "failed" : "unknown";
}

// A resolved avahi-browse line of a printer on `host`:`port`, with its TXT strings.
std::string resolved_line(const std::string& escaped_name, const std::string& host, int port,
                          const std::string& txt, const std::string& interface = "eth0") {
  return "=;" + interface + ";IPv4;" + escaped_name + ";_ipp._tcp;local;" + host + ";192.168.1.20;" +
         std::to_string(port) + ";" + txt + "\n";
}

const std::string our_txt =
    R"("rp=ipp/print/_5e1f0a52" "URF=V1.4,W8,SRGB24,RS300" "air=none" "pdl=application/pdf" "UUID=x")";

// A machine where everything is right: one printer "Office Laser", published by the service on port 8631.
check_inputs good_machine() {
  check_inputs in;
  in.browse.started = true;
  in.browse.exit_status = 0;
  in.browse.output = "+;eth0;IPv4;Office\\032Laser;_ipp._tcp;local\n" +
                     resolved_line("Office\\032Laser", "desk.local", 8631, our_txt) +
                     resolved_line("Office\\032Laser", "desk.local", 8631, our_txt, "lo");
  in.browse_universal.started = true;
  in.browse_universal.exit_status = 0;
  in.browse_universal.output = "+;eth0;IPv4;Office\\032Laser;_ipp._tcp;local\n";
  in.printers = {{"Office Laser", "_5e1f0a52"}};
  in.ipp_port = 8631;
  // 0.0.0.0:8631 (21B7) and [::]:8631 listening, one connection established.
  in.proc_net_tcp =
      "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
      "   0: 00000000:21B7 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 1 1\n"
      "   1: 0100007F:21B7 0100007F:C350 01 00000000:00000000 00:00000000 00000000     0        0 2 1\n";
  in.proc_net_tcp6 =
      "  sl  local_address                         remote_address                        st tx_queue\n"
      "   0: 00000000000000000000000000000000:21B7 00000000000000000000000000000000:0000 0A "
      "00000000:00000000\n";
  in.addresses = {{"lo", "127.0.0.1", address_kind::loopback},
                  {"wlan0", "192.168.1.20", address_kind::reachable}};
  return in;
}

// nft -j list ruleset of a table "filter" whose input chain drops what it does not accept.
std::string nft_ruleset(const std::string& policy, const std::string& rules) {
  return R"({"nftables": [{"metainfo": {"version": "1.0.6", "json_schema_version": 1}},
    {"table": {"family": "inet", "name": "filter", "handle": 1}},
    {"chain": {"family": "inet", "table": "filter", "name": "input", "handle": 1, "type": "filter",
               "hook": "input", "prio": 0, "policy": ")" +
         policy + R"("}},
    {"chain": {"family": "inet", "table": "filter", "name": "services", "handle": 2}})" +
         rules + "]}";
}

std::string nft_rule(const std::string& chain, const std::string& exprs) {
  return R"(, {"rule": {"family": "inet", "table": "filter", "chain": ")" + chain + R"(", "expr": [)" +
         exprs + "]}}";
}

const std::string established =
    R"({"match": {"op": "in", "left": {"ct": {"key": "state"}}, "right": ["established", "related"]}}, {"accept": null})";
const std::string from_loopback =
    R"({"match": {"op": "==", "left": {"meta": {"key": "iifname"}}, "right": "lo"}}, {"accept": null})";
std::string port_rule(const char* l4, const std::string& right, const char* action) {
  return std::string(R"({"match": {"op": "==", "left": {"payload": {"protocol": ")") + l4 +
         R"(", "field": "dport"}}, "right": )" + right + "}}, {\"" + action + "\": null}";
}

// ---- the whole self-check on a good machine, then one thing wrong at a time

TEST(SelfCheck, EachCheckTurnsRedOnItsOwnFault) {
  const struct {
    const char* name;
    void (*spoil)(check_inputs&);
    size_t check;  // index in run_self_check's lines
    check_state want;
    const char* sentence;  // a part of the problem sentence
  } cases[] = {
      {"avahi-daemon stopped",
       [](check_inputs& in) {
         in.browse = {true, 1, "", "Failed to create client object: Daemon not running\n"};
       },
       0, check_state::failed, "sudo systemctl enable --now avahi-daemon"},
      {"avahi-utils missing", [](check_inputs& in) { in.browse = {}; }, 0, check_state::unknown,
       "avahi-utils"},
      {"renamed by avahi",
       [](check_inputs& in) {
         in.browse.output = resolved_line("Office\\032Laser\\032\\0352", "desk.local", 8631, our_txt) +
                            resolved_line("Office\\032Laser", "desk.local", 631, R"("rp=printers/office")");
       },
       1, check_state::failed, "published as 'Office Laser #2'"},
      {"CUPS shares the same queue under the name",
       [](check_inputs& in) {
         in.browse.output += resolved_line("Office\\032Laser", "desk.local", 631, R"("rp=printers/office")");
       },
       1, check_state::failed, "sudo cupsctl --no-share-printers"},
      {"CUPS came second and was renamed",
       [](check_inputs& in) {
         in.browse.output +=
             resolved_line("Office\\032Laser\\032#3", "desk.local", 631, R"("rp=printers/office")");
       },
       1, check_state::failed, "sudo cupsctl --no-share-printers"},
      {"a longer name is someone else's",
       [](check_inputs& in) {
         in.browse.output +=
             resolved_line("Office\\032Laser\\032#3b", "desk.local", 631, R"("rp=printers/o")") +
             resolved_line("Office\\032Laser\\0322", "desk.local", 631, R"("rp=printers/o")");
       },
       99, check_state::passed, ""},
      {"another computer holds the name",
       [](check_inputs& in) {
         in.browse.output += resolved_line("Office\\032Laser", "other.local", 8631, R"("rp=ipp/print/x")");
       },
       1, check_state::failed, "(other.local:8631)"},
      {"not published at all", [](check_inputs& in) { in.browse.output = ""; }, 1, check_state::failed,
       "'Office Laser' is not published"},
      {"service without DNS-SD", [](check_inputs& in) { in.dnssd = false; }, 1, check_state::failed,
       "--no-dnssd"},
      {"no _universal subtype", [](check_inputs& in) { in.browse_universal.output = ""; }, 2,
       check_state::failed, "without _universal,"},
      {"no air key",
       [](check_inputs& in) {
         in.browse.output = resolved_line("Office\\032Laser", "desk.local", 8631,
                                          R"("rp=ipp/print/_5e1f0a52" "URF=V1.4,W8")");
       },
       2, check_state::failed, "without air,"},
      {"listening on loopback only",
       [](check_inputs& in) {
         in.proc_net_tcp =
             "heading\n   0: 0100007F:21B7 00000000:0000 0A 00000000:00000000 00:00000000 00000000 0 0 1 1\n";
         in.proc_net_tcp6 =
             "heading\n   0: 00000000000000000000000001000000:21B7 00000000000000000000000000000000:0000 0A "
             "0\n";
       },
       3, check_state::failed, "--ipp-listen all"},
      {"nothing listening (only a connection on the port)",
       [](check_inputs& in) {
         in.proc_net_tcp =
             "heading\n   1: 0100007F:21B7 0100007F:C350 01 00000000:00000000 00:00000000 00000000 0 0 2 1\n";
         in.proc_net_tcp6 = "";
       },
       3, check_state::failed, "Nothing listens on the IPP port 8631"},
      {"nftables drops mDNS",
       [](check_inputs& in) {
         in.nft_ruleset = {true, 0,
                           nft_ruleset("accept", nft_rule("input", port_rule("udp", "5353", "drop"))), ""};
       },
       4, check_state::failed, "sudo nft insert rule inet filter input udp dport 5353 accept"},
      {"nftables not readable without root",
       [](check_inputs& in) {
         in.nft_ruleset = {true, 1, "", "Operation not permitted (you must be root)"};
       },
       4, check_state::unknown, "administrator rights"},
      {"only loopback and link-local addresses",
       [](check_inputs& in) {
         in.addresses = {{"lo", "127.0.0.1", address_kind::loopback},
                         {"eth0", "169.254.3.4", address_kind::link_local}};
       },
       5, check_state::failed, "no network address a phone can reach"},
  };
  {
    const std::vector<check_line> lines = run_self_check(good_machine());
    ASSERT_EQ(lines.size(), 6u);
    for (const check_line& line : lines) {
      EXPECT_EQ(line.result.state, check_state::passed)
          << line.title.toStdString() << ": " << line.result.problem.toStdString();
    }
  }
  for (const auto& c : cases) {
    check_inputs in = good_machine();
    c.spoil(in);
    const std::vector<check_line> lines = run_self_check(in);
    for (size_t i = 0; i < lines.size(); ++i) {
      const check_result& got = lines[i].result;
      // Only the spoilt check changes; the advertisement checks cannot be made without the daemon.
      const bool follows = (c.check == 0 && (i == 1 || i == 2)) || (c.check == 1 && i == 2);
      if (i != c.check) {
        if (!follows) {
          EXPECT_EQ(got.state, check_state::passed)
              << c.name << ": check " << i << " " << got.problem.toStdString();
        }
        continue;
      }
      EXPECT_EQ(got.state, c.want) << c.name << ": got " << state_name(got.state) << ", want "
                                   << state_name(c.want);
      EXPECT_TRUE(got.problem.contains(QString::fromUtf8(c.sentence)))
          << c.name << ": got '" << got.problem.toStdString() << "', want it to say '" << c.sentence << "'";
    }
  }
}

// ---- firewalls, each as its tool prints it

TEST(SelfCheck, FirewallRulesAsEachToolPrintsThem) {
  const std::string typical = nft_rule("input", established) + nft_rule("input", from_loopback);
  const struct {
    const char* name;
    bool (*read)(std::string_view, int, firewall_reading&);
    std::string text;
    bool mdns_open, ipp_open, certain;
    const char* command;
  } cases[] = {
      // nftables
      {"nft: empty ruleset", read_nftables, R"({"nftables": [{"metainfo": {"version": "1.0.6"}}]})", true,
       true, true, ""},
      {"nft: policy drop, only ssh", read_nftables,
       nft_ruleset("drop", typical + nft_rule("input", port_rule("tcp", "22", "accept"))), false, false, true,
       "sudo nft insert rule inet filter input udp dport 5353 accept && "
       "sudo nft insert rule inet filter input tcp dport 8631 accept"},
      {"nft: policy drop, both in a set", read_nftables,
       nft_ruleset("drop", typical + nft_rule("input", port_rule("udp", "5353", "accept")) +
                               nft_rule("input", port_rule("tcp", R"({"set": [22, {"range": [8000, 8999]}]})",
                                                           "accept"))),
       true, true, true, ""},
      {"nft: accepted in a jumped-to chain", read_nftables,
       nft_ruleset("drop", typical + nft_rule("input", R"({"jump": {"target": "services"}})") +
                               nft_rule("services", port_rule("th", "5353", "accept")) +
                               nft_rule("services", port_rule("tcp", "8631", "accept"))),
       true, true, true, ""},
      {"nft: a drop only for loopback does not count", read_nftables,
       nft_ruleset("accept", nft_rule("input", R"({"match": {"op": "==", "left": {"meta": {"key": "iifname"}},
         "right": "lo"}}, {"drop": null})")),
       true, true, true, ""},
      {"nft: udp dport != 53 drop drops mDNS, not TCP", read_nftables,
       nft_ruleset("accept",
                   nft_rule("input", R"({"match": {"op": "!=", "left": {"payload": {"protocol": "udp",
         "field": "dport"}}, "right": 53}}, {"drop": null})")),
       false, true, true, "sudo nft insert rule inet filter input udp dport 5353 accept"},
      {"nft: a drop by source address cannot be judged", read_nftables,
       nft_ruleset("accept",
                   nft_rule("input", R"({"match": {"op": "==", "left": {"payload": {"protocol": "ip",
         "field": "saddr"}}, "right": "10.0.0.9"}}, {"drop": null})")),
       false, false, false, nullptr},
      // iptables-save
      {"iptables: INPUT DROP with mDNS and the port", read_iptables,
       "*filter\n:INPUT DROP [0:0]\n:FORWARD DROP [0:0]\n-A INPUT -i lo -j ACCEPT\n"
       "-A INPUT -m conntrack --ctstate RELATED,ESTABLISHED -j ACCEPT\n"
       "-A INPUT -p udp -m udp --dport 5353 -j ACCEPT\n-A INPUT -p tcp -m multiport --dports 22,8600:8700 -j "
       "ACCEPT\n"
       "COMMIT\n",
       true, true, true, ""},
      {"iptables: REJECT at the end", read_iptables,
       "*filter\n:INPUT ACCEPT [0:0]\n-A INPUT -i lo -j ACCEPT\n-A INPUT -p tcp --dport 22 -j ACCEPT\n"
       "-A INPUT -j REJECT --reject-with icmp-host-prohibited\nCOMMIT\n",
       false, false, true,
       "sudo iptables -I INPUT -p udp --dport 5353 -j ACCEPT && sudo iptables -I INPUT -p tcp --dport 8631 "
       "-j ACCEPT"},
      // ufw
      {"ufw: inactive", read_ufw, "Status: inactive\n", true, true, true, ""},
      {"ufw: deny incoming, port not allowed", read_ufw,
       "Status: active\nLogging: on (low)\nDefault: deny (incoming), allow (outgoing), disabled (routed)\n"
       "New profiles: skip\n\nTo                         Action      From\n--                         ------ "
       "     ----\n"
       "22/tcp                     ALLOW IN    Anywhere\n",
       true, false, true, "sudo ufw allow 8631/tcp"},
      {"ufw: port allowed, mDNS denied", read_ufw,
       "Status: active\nDefault: deny (incoming), allow (outgoing), disabled (routed)\n\n"
       "To                         Action      From\n--                         ------      ----\n"
       "8631/tcp                   ALLOW IN    Anywhere\n5353/udp                   DENY IN     Anywhere\n",
       false, true, true, "sudo ufw allow 5353/udp"},
      // firewalld
      {"firewalld: public zone without mdns or the port", read_firewalld,
       "public (active)\n  target: default\n  icmp-block-inversion: no\n  interfaces: eth0\n  sources: \n"
       "  services: dhcpv6-client ssh\n  ports: \n  protocols: \n  forward: yes\n",
       false, false, true,
       "sudo firewall-cmd --add-service=mdns --add-port=8631/tcp && "
       "sudo firewall-cmd --permanent --add-service=mdns --add-port=8631/tcp"},
      {"firewalld: mdns and a port range", read_firewalld,
       "home (active)\n  target: default\n  services: dhcpv6-client mdns samba-client ssh\n  ports: "
       "8000-9000/tcp\n",
       true, true, true, ""},
  };
  for (const auto& c : cases) {
    firewall_reading got;
    ASSERT_TRUE(c.read(c.text, 8631, got)) << c.name << ": not read";
    EXPECT_EQ(got.mdns_open, c.mdns_open)
        << c.name << ": mDNS open " << got.mdns_open << ", want " << c.mdns_open;
    EXPECT_EQ(got.ipp_open, c.ipp_open) << c.name << ": IPP open " << got.ipp_open << ", want " << c.ipp_open;
    EXPECT_EQ(got.certain, c.certain) << c.name;
    if (c.command) {
      EXPECT_EQ(got.open_command, c.command) << c.name;
    }
  }
  // Output of something else is not taken for a firewall that lets everything in.
  firewall_reading reading;
  EXPECT_FALSE(read_nftables("Error: Could not process rule: Operation not permitted", 8631, reading));
  EXPECT_FALSE(read_iptables("# Warning: iptables-legacy tables present\n", 8631, reading));
  EXPECT_FALSE(read_ufw("ERROR: You need to be root to run this script\n", 8631, reading));
  EXPECT_FALSE(read_firewalld("FirewallD is not running\n", 8631, reading));
}

// ---- the small readers

TEST(SelfCheck, AvahiBrowseLinesAreUnescaped) {
  const std::vector<avahi_record> records = parse_avahi_browse(
      "+;eth0;IPv6;Caf\\195\\169\\032\\059\\032B\\.W;_ipp._tcp;local\n"
      "-;eth0;IPv4;Gone;_ipp._tcp;local\n"
      "=;eth0;IPv4;Caf\\195\\169\\032\\059\\032B\\.W;_ipp._tcp;local;desk.local;192.168.1.20;631;"
      R"("note=Hall; 2\"nd\" floor" "air=username,password" "TLS")"
      "\n=;cut;short\n");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].name, "Caf\xC3\xA9 ; B.W");
  EXPECT_FALSE(records[0].resolved);
  EXPECT_TRUE(records[1].resolved);
  EXPECT_EQ(records[1].port, 631);
  EXPECT_EQ(records[1].txt.at("note"), "Hall; 2\"nd\" floor");
  EXPECT_EQ(records[1].txt.at("air"), "username,password");
  EXPECT_EQ(records[1].txt.count("TLS"), 1u);
}

TEST(SelfCheck, AddressesAsAPhoneSeesThem) {
  const struct {
    const char* address;
    address_kind want;
  } cases[] = {
      {"127.0.0.1", address_kind::loopback},
      {"127.1.2.3", address_kind::loopback},
      {"::1", address_kind::loopback},
      {"169.254.10.1", address_kind::link_local},
      {"fe80::1%wlan0", address_kind::link_local},
      {"192.168.1.20", address_kind::reachable},
      {"10.0.0.5", address_kind::reachable},
      {"fd00::2", address_kind::reachable},
      {"192.0.2.2", address_kind::reachable},
      {"::ffff:127.0.0.1", address_kind::loopback},
      {"desk.local", address_kind::loopback},
  };
  for (const auto& c : cases) EXPECT_EQ(kind_of_address(c.address), c.want) << c.address;
  // /proc/net/tcp6 words in the machine's byte order: ::1 and fd00::2 listening on 631 (0277).
  const std::vector<std::string> got = listening_addresses(
      "heading\n 0: 00000000000000000000000001000000:0277 0:0 0A\n 1: 000000FD000000000000000002000000:0277 "
      "0:0 0A\n"
      " 2: 000000FD000000000000000002000000:0278 0:0 0A\n",
      true, 631);
  EXPECT_EQ(got, (std::vector<std::string>{"::1", "fd00::2"}));
}

}  // namespace
}  // namespace quorvane::phones
