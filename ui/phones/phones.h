// What the "Phones and Tablets" window shows of each printer: the name a phone shows, its ipp:// and ipps://
// addresses on each address of this computer a phone can reach, and the web page its QR code opens.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/printer.h"
#include "ui/phones/self_check.h"

namespace quorvane::phones {

/// One printer as phones see it.
struct phone_printer {
  std::string uuid;
  std::string name;                    // model::phone_name
  std::vector<std::string> ipp_uris;   // one per address, IPv4 first
  std::vector<std::string> ipps_uris;  // likewise
  std::string page_url;                // the printer's web page, what the QR code holds
};

/// The hosts a phone may use for this computer: its reachable addresses (IPv4 first, each once), else
/// "`host_name`.local".
std::vector<std::string> phone_hosts(const std::vector<local_address>& addresses,
                                     const std::string& host_name);

/// The printers phones see: each enabled printer that exists, in the order given, with its addresses on
/// `hosts` (the first host for the page) and IPP `port`.
std::vector<phone_printer> phone_printers(const std::vector<model::printer_ptr>& printers,
                                          const std::vector<std::string>& hosts, uint16_t port);

/// The printers as the self-check looks for them.
std::vector<expected_printer> expected_printers(const std::vector<phone_printer>& printers);

}  // namespace quorvane::phones
