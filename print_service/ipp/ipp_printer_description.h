// What devices read about a printer beyond PAPPL's own attributes: the values IPP Everywhere asks of every
// printer, given as a printer without a device of its own can honestly give them, and the corrections made
// to PAPPL's answers before a device reads them. Free of PAPPL's types, so that it is tested on IPP messages
// alone.
#pragma once

#include <cups/cups.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::print_service {

/// The printer attributes PAPPL 1.3.1 does not give and IPP Everywhere requires: preferred-attributes-
/// supported (false), overrides-supported, print-rendering-intent-default and -supported (auto: the console
/// prints through the system's colour management), and one supply that never runs out (printer-supply with
/// the level "no restriction" of the Printer MIB, and its description), since the printer uses none. The
/// caller owns the message (ippDelete).
ipp_t* virtual_printer_attributes();

/// What a device reads as a printer's names.
struct printer_names {
  std::string name;  ///< printer-name: the name phones list it by
  std::string info;  ///< printer-info: its description
};

/// Corrects a response of PAPPL's before a device reads it:
/// - every printer-name and printer-info (also inside collections, as in system-configured-printers) whose
///   value is the name PAPPL knows a printer by (its uuid) becomes what `names_of` gives for that uuid
///   (values it gives nothing for stay);
/// - printer-more-info, which PAPPL points at a page of its own web interface (off), points at the
///   printer's page of this service, "http://HOST:PORT/printers/<path>";
/// - a printer-up-time of 0 (a printer made less than a second ago) becomes 1, the least IPP allows;
/// - for a device on the loopback interface, to which PAPPL lists only the ipp URI of a printer while it
///   says that ipp and ipps both work (uri-security-supported), the ipps URI is added to
///   printer-uri-supported and printer-xri-supported, with its uri-authentication-supported value
///   (`ipps_authentication`: "none", or "basic" when sign-in is asked over TLS), so that each list names
///   both. Only when `tls` (the server takes TLS) is true.
/// - operations-supported lists only the operations for which `device_operation` is true (PAPPL lists every
///   operation it has, among them the ones the service refuses devices), and job-hold-until-supported only
///   no-hold (a held job is refused).
void complete_printer_response(ipp_t* response,
                               const std::function<std::optional<printer_names>(std::string_view)>& names_of,
                               bool loopback_client, bool tls, const char* ipps_authentication,
                               const std::function<bool(int)>& device_operation);

}  // namespace quorvane::print_service
