#include "ui/phones/firewall_rules.h"

#include <json/json.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

#include "core/json_text.h"

namespace quorvane::phones {
namespace {

// The packet a phone sends: an mDNS query (UDP 5353 to the mDNS group) or an IPP connection (TCP).
struct packet {
  std::string l4;  // "udp" or "tcp"
  int port = 0;
  std::string destination;  // "224.0.0.251", or "" (this computer's address, whichever)
};

// A match or a rule is true, false, or cannot be judged.
enum class truth { yes, no, maybe };

truth both(truth a, truth b) {
  if (a == truth::no || b == truth::no) return truth::no;
  if (a == truth::maybe || b == truth::maybe) return truth::maybe;
  return truth::yes;
}

enum class verdict { accept, drop, next };  // next: the chain ended or returned

struct outcome {
  verdict v = verdict::next;
  bool certain = true;
};

std::string protocol_rule(const packet& p) {
  return p.l4 + " dport " + std::to_string(p.port) + " accept";
}

// ---- nftables

struct nft_chain {
  std::string family, table, name, hook, type;
  int priority = 0;
  std::string policy = "accept";
  std::vector<const Json::Value*> rules;  // each rule's "expr" array
};

class nft_ruleset {
 public:
  bool load(std::string_view json_text) {
    if (!parse_json(std::string(json_text), root_) || !root_.isObject() || !root_["nftables"].isArray())
      return false;
    for (const Json::Value& item : root_["nftables"]) {
      if (item.isMember("chain")) {
        const Json::Value& c = item["chain"];
        nft_chain chain;
        chain.family = c["family"].asString();
        chain.table = c["table"].asString();
        chain.name = c["name"].asString();
        chain.hook = c.get("hook", "").asString();
        chain.type = c.get("type", "").asString();
        chain.priority = c.get("prio", 0).isInt() ? c.get("prio", 0).asInt() : 0;
        chain.policy = c.get("policy", "accept").asString();
        chains_[key(chain.family, chain.table, chain.name)] = chain;
      } else if (item.isMember("rule")) {
        const Json::Value& r = item["rule"];
        auto found = chains_.find(key(r["family"].asString(), r["table"].asString(), r["chain"].asString()));
        if (found != chains_.end() && r["expr"].isArray()) found->second.rules.push_back(&r["expr"]);
      } else if (item.isMember("set")) {
        const Json::Value& s = item["set"];
        sets_[key(s["family"].asString(), s["table"].asString(), s["name"].asString())] = &s["elem"];
      }
    }
    return true;
  }

  // The filter chains on the input hook that an IPv4 packet passes, lowest priority first.
  std::vector<const nft_chain*> input_chains() const {
    std::vector<const nft_chain*> found;
    for (const auto& [k, chain] : chains_) {
      if (chain.hook == "input" && chain.type == "filter" && (chain.family == "inet" || chain.family == "ip"))
        found.push_back(&chain);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const nft_chain* a, const nft_chain* b) { return a->priority < b->priority; });
    return found;
  }

  outcome run(const nft_chain& chain, const packet& p, int depth) const {
    outcome result;
    if (depth > 16) return {verdict::next, false};
    for (const Json::Value* rule : chain.rules) {
      truth matched = truth::yes;
      for (const Json::Value& expr : *rule) {
        if (matched == truth::no) break;
        if (expr.isMember("match")) {
          matched = both(matched, match(chain, expr["match"], p));
          continue;
        }
        if (expr.isMember("limit") || expr.isMember("xt") || expr.isMember("quota")) {
          matched = both(matched, truth::maybe);
          continue;
        }
        std::optional<outcome> decided = act(chain, expr, p, depth);
        if (!decided) continue;
        decided->certain = decided->certain && matched == truth::yes && result.certain;
        if (decided->v != verdict::next || expr.isMember("return") || expr.isMember("goto")) return *decided;
        result.certain = decided->certain;
        break;
      }
    }
    if (!chain.hook.empty()) result.v = chain.policy == "drop" ? verdict::drop : verdict::accept;
    return result;
  }

 private:
  static std::string key(const std::string& family, const std::string& table, const std::string& name) {
    return family + "\n" + table + "\n" + name;
  }

  // A verdict statement: its outcome; none for a statement that is no verdict (counter, log, ...).
  std::optional<outcome> act(const nft_chain& chain, const Json::Value& expr, const packet& p,
                             int depth) const {
    if (expr.isMember("accept")) return outcome{verdict::accept, true};
    if (expr.isMember("drop") || expr.isMember("reject")) return outcome{verdict::drop, true};
    if (expr.isMember("return")) return outcome{verdict::next, true};
    for (const char* jump : {"jump", "goto"}) {
      if (!expr.isMember(jump)) continue;
      auto target = chains_.find(key(chain.family, chain.table, expr[jump]["target"].asString()));
      if (target == chains_.end()) return outcome{verdict::next, false};
      return run(target->second, p, depth + 1);
    }
    return std::nullopt;
  }

  // What the packet shows for a match's left side; none when it cannot be known.
  std::optional<Json::Value> value_of(const Json::Value& left, const packet& p, truth& implied) const {
    if (left.isMember("payload")) {
      const std::string protocol = left["payload"]["protocol"].asString();
      const std::string field = left["payload"]["field"].asString();
      if ((protocol == "udp" || protocol == "tcp" || protocol == "th") && field == "dport") {
        // "udp dport ..." also says "udp".
        if (protocol != "th" && protocol != p.l4) implied = truth::no;
        return Json::Value(p.port);
      }
      if (protocol == "ip" && field == "protocol") return Json::Value(p.l4);
      if (protocol == "ip" && field == "daddr" && !p.destination.empty()) return Json::Value(p.destination);
      if (protocol == "ip6") implied = truth::no;  // an IPv6 header: not this IPv4 packet
      return std::nullopt;
    }
    if (left.isMember("meta")) {
      const std::string meta = left["meta"]["key"].asString();
      if (meta == "l4proto") return Json::Value(p.l4);
      if (meta == "nfproto") return Json::Value("ipv4");
      return std::nullopt;
    }
    if (left.isMember("ct") && left["ct"]["key"].asString() == "state") return Json::Value("new");
    return std::nullopt;
  }

  // Whether `value` is in `right`: a number, a word, a list of flags, a range, a prefix, a set or a named
  // set.
  truth contains(const nft_chain& chain, const Json::Value& right, const Json::Value& value) const {
    if (right.isArray()) {
      truth any = truth::no;
      for (const Json::Value& item : right) {
        const truth t = contains(chain, item, value);
        if (t == truth::yes) return t;
        if (t == truth::maybe) any = t;
      }
      return any;
    }
    if (right.isObject()) {
      if (right.isMember("set")) return contains(chain, right["set"], value);
      if (right.isMember("range") && right["range"].size() == 2 && value.isInt() && right["range"][0].isInt())
        return right["range"][0].asInt() <= value.asInt() && value.asInt() <= right["range"][1].asInt()
                   ? truth::yes
                   : truth::no;
      if (right.isMember("elem")) return contains(chain, right["elem"]["val"], value);
      return truth::maybe;
    }
    if (right.isString() && right.asString().rfind('@', 0) == 0) {
      auto set = sets_.find(key(chain.family, chain.table, right.asString().substr(1)));
      return set == sets_.end() || !set->second->isArray() ? truth::maybe
                                                           : contains(chain, *set->second, value);
    }
    if (right.isInt() && value.isInt()) return right.asInt() == value.asInt() ? truth::yes : truth::no;
    if (right.isString() && value.isString())
      return right.asString() == value.asString() ? truth::yes : truth::no;
    return truth::maybe;
  }

  truth match(const nft_chain& chain, const Json::Value& m, const packet& p) const {
    const Json::Value& left = m["left"];
    const std::string op = m.get("op", "==").asString();
    // The interface: the phone's packets come from a network interface, never from loopback.
    if (left.isMember("meta")) {
      const std::string meta = left["meta"]["key"].asString();
      if (meta == "iifname" || meta == "iif" || meta == "iiftype") {
        const truth is_lo = contains(chain, m["right"], Json::Value(meta == "iiftype" ? "loopback" : "lo"));
        if (is_lo == truth::yes) return op == "!=" ? truth::yes : truth::no;
        return truth::maybe;
      }
    }
    truth implied = truth::yes;
    const std::optional<Json::Value> value = value_of(left, p, implied);
    if (implied == truth::no) return truth::no;
    if (!value) return truth::maybe;
    const truth in = contains(chain, m["right"], *value);
    if (op == "!=") return in == truth::yes ? truth::no : in == truth::no ? truth::yes : truth::maybe;
    if (op == "==" || op == "in") return in;
    return truth::maybe;
  }

  Json::Value root_;
  std::map<std::string, nft_chain> chains_;
  std::map<std::string, const Json::Value*> sets_;
};

// ---- iptables-save

struct ipt_rule {
  std::vector<std::string> words;
};

class ipt_table {
 public:
  bool load(std::string_view text) {
    std::istringstream lines{std::string(text)};
    std::string line;
    bool in_filter = false;
    while (std::getline(lines, line)) {
      if (line.rfind("*", 0) == 0) {
        in_filter = line == "*filter";
        found_filter_ = found_filter_ || in_filter;
        continue;
      }
      if (!in_filter) continue;
      std::istringstream words(line);
      std::vector<std::string> w;
      for (std::string word; words >> word;) w.push_back(word);
      if (w.empty()) continue;
      if (w[0].rfind(':', 0) == 0) {
        policies_[w[0].substr(1)] = w.size() > 1 ? w[1] : "-";
      } else if (w[0] == "-A" && w.size() > 1) {
        rules_[w[1]].push_back(ipt_rule{std::vector<std::string>(w.begin() + 2, w.end())});
      }
    }
    return found_filter_;
  }

  outcome run(const std::string& chain, const packet& p, int depth) const {
    outcome result;
    if (depth > 16) return {verdict::next, false};
    auto rules = rules_.find(chain);
    if (rules != rules_.end()) {
      for (const ipt_rule& rule : rules->second) {
        const auto [matched, target] = judge(rule, p);
        if (matched == truth::no || target.empty()) continue;
        outcome decided;
        if (target == "ACCEPT") {
          decided = {verdict::accept, true};
        } else if (target == "DROP" || target == "REJECT") {
          decided = {verdict::drop, true};
        } else if (target == "RETURN") {
          decided = {verdict::next, true};
        } else if (rules_.count(target) || policies_.count(target)) {
          decided = run(target, p, depth + 1);
        } else {
          continue;  // LOG and other targets that do not decide
        }
        decided.certain = decided.certain && matched == truth::yes && result.certain;
        if (decided.v != verdict::next || target == "RETURN") return decided;
        result.certain = decided.certain;
      }
    }
    auto policy = policies_.find(chain);
    if (policy != policies_.end() && policy->second != "-")
      result.v = policy->second == "DROP" ? verdict::drop : verdict::accept;
    return result;
  }

 private:
  // Whether the rule matches the packet, and its target.
  static std::pair<truth, std::string> judge(const ipt_rule& rule, const packet& p) {
    truth matched = truth::yes;
    std::string target;
    const std::vector<std::string>& w = rule.words;
    for (size_t i = 0; i < w.size(); ++i) {
      const bool negated = w[i] == "!";
      if (negated && ++i >= w.size()) break;
      const std::string& option = w[i];
      const std::string value = i + 1 < w.size() ? w[i + 1] : "";
      truth t = truth::yes;
      bool takes_value = true;
      if (option == "-j" || option == "-g") {
        target = value;
        break;  // what follows are the target's own options
      } else if (option == "-p") {
        t = value == p.l4 ? truth::yes : truth::no;
      } else if (option == "--dport" || option == "--dports" || option == "--destination-port") {
        t = truth::no;
        std::istringstream ports(value);
        for (std::string item; std::getline(ports, item, ',');) {
          const size_t colon = item.find(':');
          const int low = std::atoi(item.substr(0, colon).c_str());
          const int high = colon == std::string::npos ? low : std::atoi(item.substr(colon + 1).c_str());
          if (low <= p.port && p.port <= high) t = truth::yes;
        }
      } else if (option == "-i") {
        t = value == "lo" ? truth::no : truth::maybe;
      } else if (option == "--state" || option == "--ctstate") {
        t = value.find("NEW") != std::string::npos ? truth::yes : truth::no;
      } else if (option == "-d") {
        t = !p.destination.empty() && (value == p.destination || value == p.destination + "/32")
                ? truth::yes
                : truth::maybe;
      } else if (option == "-m") {
        t = value == "limit" || value == "recent" || value == "hashlimit" ? truth::maybe : truth::yes;
      } else if (option.rfind("-", 0) == 0 && option != "--state" && option != "--ctstate") {
        // Anything else (a source address, an address type, ...) cannot be judged for every phone.
        t = truth::maybe;
        takes_value = !value.empty() && value.rfind("-", 0) != 0;
      } else {
        takes_value = false;
      }
      if (negated) t = t == truth::yes ? truth::no : t == truth::no ? truth::yes : truth::maybe;
      matched = both(matched, t);
      if (takes_value) ++i;
    }
    return {matched, target};
  }

  bool found_filter_ = false;
  std::map<std::string, std::string> policies_;
  std::map<std::string, std::vector<ipt_rule>> rules_;
};

// The lines of `text`, without trailing spaces.
std::vector<std::string> lines_of(std::string_view text) {
  std::vector<std::string> lines;
  std::istringstream in{std::string(text)};
  for (std::string line; std::getline(in, line);) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// Whether a port item ("8631/tcp", "8631", "8000:9000/tcp", "5353/udp") covers `port` over `l4`.
bool port_item_covers(const std::string& item, int port, const std::string& l4) {
  const size_t slash = item.find('/');
  const std::string ports = item.substr(0, slash);
  if (slash != std::string::npos && item.substr(slash + 1) != l4) return false;
  if (ports.empty() || ports.find_first_not_of("0123456789:-") != std::string::npos) return false;
  const size_t dash = ports.find_first_of(":-");
  const int low = std::atoi(ports.substr(0, dash).c_str());
  const int high = dash == std::string::npos ? low : std::atoi(ports.substr(dash + 1).c_str());
  return low <= port && port <= high;
}

}  // namespace

bool read_nftables(std::string_view json, int ipp_port, firewall_reading& reading) {
  nft_ruleset ruleset;
  if (!ruleset.load(json)) return false;
  reading = firewall_reading{};
  reading.tool = "nftables";
  std::vector<std::string> commands;
  for (const packet& p : {packet{"udp", mdns_port, "224.0.0.251"}, packet{"tcp", ipp_port, ""}}) {
    bool open = true;
    for (const nft_chain* chain : ruleset.input_chains()) {
      const outcome o = ruleset.run(*chain, p, 0);
      reading.certain = reading.certain && o.certain;
      // A base chain left by "return" or a goto that ends takes its policy.
      const bool dropped = o.v == verdict::drop || (o.v == verdict::next && chain->policy == "drop");
      if (!dropped) continue;
      open = false;
      commands.push_back("sudo nft insert rule " + chain->family + " " + chain->table + " " + chain->name +
                         " " + protocol_rule(p));
    }
    (p.l4 == "udp" ? reading.mdns_open : reading.ipp_open) = open;
  }
  for (const std::string& command : commands)
    reading.open_command += (reading.open_command.empty() ? "" : " && ") + command;
  return true;
}

bool read_iptables(std::string_view text, int ipp_port, firewall_reading& reading) {
  ipt_table table;
  if (!table.load(text)) return false;
  reading = firewall_reading{};
  reading.tool = "iptables";
  for (const packet& p : {packet{"udp", mdns_port, "224.0.0.251"}, packet{"tcp", ipp_port, ""}}) {
    const outcome o = table.run("INPUT", p, 0);
    reading.certain = reading.certain && o.certain;
    const bool open = o.v != verdict::drop;
    (p.l4 == "udp" ? reading.mdns_open : reading.ipp_open) = open;
    if (!open) {
      reading.open_command += (reading.open_command.empty() ? "" : " && ") +
                              std::string("sudo iptables -I INPUT -p ") + p.l4 + " --dport " +
                              std::to_string(p.port) + " -j ACCEPT";
    }
  }
  return true;
}

bool read_ufw(std::string_view text, int ipp_port, firewall_reading& reading) {
  const std::vector<std::string> lines = lines_of(text);
  if (lines.empty() || lines[0].rfind("Status: ", 0) != 0) return false;
  reading = firewall_reading{};
  reading.tool = "ufw";
  if (lines[0] != "Status: active") return true;
  bool incoming_allowed = false;
  // The first rule that covers a port decides; without one, the default for incoming packets does.
  std::optional<bool> mdns, ipp;
  for (const std::string& line : lines) {
    if (line.rfind("Default:", 0) == 0) incoming_allowed = line.find("allow (incoming)") != std::string::npos;
    std::istringstream words(line);
    std::string to, action;
    if (!(words >> to >> action)) continue;
    if (action != "ALLOW" && action != "DENY" && action != "REJECT" && action != "LIMIT") continue;
    std::string direction;
    words >> direction;
    if (direction == "OUT" || direction == "FWD") continue;
    const bool allows = action == "ALLOW" || action == "LIMIT";
    if (!mdns && port_item_covers(to, mdns_port, "udp")) mdns = allows;
    if (!ipp && port_item_covers(to, ipp_port, "tcp")) ipp = allows;
  }
  // ufw's own rules before the user's let mDNS in.
  reading.mdns_open = mdns.value_or(true);
  reading.ipp_open = ipp.value_or(incoming_allowed);
  std::string command;
  if (!reading.mdns_open) command = "sudo ufw allow 5353/udp";
  if (!reading.ipp_open)
    command += (command.empty() ? "" : " && ") + ("sudo ufw allow " + std::to_string(ipp_port) + "/tcp");
  reading.open_command = command;
  return true;
}

bool read_firewalld(std::string_view text, int ipp_port, firewall_reading& reading) {
  const std::vector<std::string> lines = lines_of(text);
  std::map<std::string, std::string> fields;
  for (const std::string& line : lines) {
    const size_t colon = line.find(':');
    if (line.rfind("  ", 0) != 0 || colon == std::string::npos) continue;
    const size_t first = line.find_first_not_of(' ');
    const std::string value = colon + 1 < line.size() ? line.substr(colon + 1) : "";
    fields[line.substr(first, colon - first)] = value;
  }
  if (!fields.count("services") || !fields.count("ports")) return false;
  reading = firewall_reading{};
  reading.tool = "firewalld";
  const auto items = [&](const std::string& field) {
    std::vector<std::string> out;
    std::istringstream words(fields[field]);
    for (std::string word; words >> word;) out.push_back(word);
    return out;
  };
  const std::vector<std::string> services = items("services"), ports = items("ports");
  const bool accepts_all = fields["target"].find("ACCEPT") != std::string::npos;
  const auto covered = [&](int port, const char* l4) {
    return std::any_of(ports.begin(), ports.end(),
                       [&](const std::string& p) { return port_item_covers(p, port, l4); });
  };
  reading.mdns_open =
      accepts_all || std::count(services.begin(), services.end(), "mdns") || covered(mdns_port, "udp");
  reading.ipp_open = accepts_all || covered(ipp_port, "tcp");
  std::string opens;
  if (!reading.mdns_open) opens += " --add-service=mdns";
  if (!reading.ipp_open) opens += " --add-port=" + std::to_string(ipp_port) + "/tcp";
  // The running firewall and the one after a restart.
  if (!opens.empty())
    reading.open_command = "sudo firewall-cmd" + opens + " && sudo firewall-cmd --permanent" + opens;
  return true;
}

}  // namespace quorvane::phones
