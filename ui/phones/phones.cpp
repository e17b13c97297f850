#include "ui/phones/phones.h"

#include <algorithm>

#include "model/phone_names.h"

namespace quorvane::phones {

std::vector<std::string> phone_hosts(const std::vector<local_address>& addresses,
                                     const std::string& host_name) {
  std::vector<std::string> hosts;
  // IPv4 first: every phone reaches it, and it is the shortest to type.
  for (bool v4 : {true, false}) {
    for (const local_address& a : addresses) {
      if (a.kind != address_kind::reachable || (a.address.find(':') == std::string::npos) != v4) continue;
      if (std::find(hosts.begin(), hosts.end(), a.address) == hosts.end()) hosts.push_back(a.address);
    }
  }
  if (hosts.empty() && !host_name.empty()) hosts.push_back(host_name + ".local");
  return hosts;
}

std::vector<phone_printer> phone_printers(const std::vector<model::printer_ptr>& printers,
                                          const std::vector<std::string>& hosts, uint16_t port) {
  std::vector<phone_printer> shown;
  for (const model::printer_ptr& p : printers) {
    if (!p || !p->enabled() || !p->exists()) continue;
    phone_printer entry;
    entry.uuid = p->uuid();
    entry.name = model::phone_name(p->displayName(), p->name().narrow(), entry.uuid);
    for (const std::string& host : hosts) {
      entry.ipp_uris.push_back(model::printer_ipp_uri("ipp", host, port, entry.uuid));
      entry.ipps_uris.push_back(model::printer_ipp_uri("ipps", host, port, entry.uuid));
    }
    if (!hosts.empty()) entry.page_url = model::printer_page_url(hosts.front(), port, entry.uuid);
    shown.push_back(std::move(entry));
  }
  return shown;
}

std::vector<expected_printer> expected_printers(const std::vector<phone_printer>& printers) {
  std::vector<expected_printer> expected;
  for (const phone_printer& p : printers) expected.push_back({p.name, model::printer_path(p.uuid)});
  return expected;
}

}  // namespace quorvane::phones
