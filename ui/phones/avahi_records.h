// What avahi publishes, as `avahi-browse --parsable` prints it: the services seen ("+" lines) and the
// resolved records ("=" lines) with their host, address, port and TXT keys.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::phones {

/// One line of `avahi-browse -kp[r]`: a service seen on one interface and protocol, resolved or not.
struct avahi_record {
  bool resolved = false;  // an "=" line: host, address, port and txt are set
  std::string interface;
  std::string protocol;  // "IPv4" or "IPv6"
  std::string name;      // the service instance name, unescaped
  std::string type;      // "_ipp._tcp", ...
  std::string host;      // "desk.local"
  std::string address;
  int port = 0;
  std::map<std::string, std::string> txt;  // keys as published (a key without "=" has the value "")
};

/// The records of `avahi-browse -kp[r][t]` output. Names come unescaped (avahi writes a space as "\032", a
/// dot as "\."); TXT strings lose their quotes and escapes. Lines that are neither "+" nor "=", or have too
/// few fields, are skipped; "-" lines (a service gone) are skipped too.
std::vector<avahi_record> parse_avahi_browse(std::string_view output);

/// `text` with avahi's escapes undone: "\DDD" (a decimal byte) and "\c" (the character c).
std::string unescape_avahi(std::string_view text);

/// Whether avahi-browse said that the daemon does not run ("Daemon not running" on its error output).
bool avahi_not_running(std::string_view errors);

}  // namespace quorvane::phones
