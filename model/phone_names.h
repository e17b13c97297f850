// What phones and tablets see of a printer: the name they show, the path of its IPP resource and web page,
// and the addresses built from them. The print service advertises with these and the console shows the same.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvane::model {

/// The longest DNS-SD service instance name, in bytes.
inline constexpr size_t dnssd_name_limit = 63;

/// The name a phone shows for a printer: `display_name` without its leading private-use character (U+E000 to
/// U+F8FF, the console's hidden prefix) and leading spaces; else `name`; else `uuid`. A name longer than
/// `dnssd_name_limit` bytes is cut after its last word that fits (at a space, else after a hyphen, comma or
/// similar mark), never inside a UTF-8 character, and loses the spaces and separators it then ends with; a
/// name without such a break is cut at the last whole character that fits.
std::string phone_name(std::string_view display_name, std::string_view name, std::string_view uuid);

/// The description a phone shows for a printer (printer-info): the name `phone_name` starts from, not
/// shortened to a DNS-SD name, at most `description_limit` bytes (never cut inside a UTF-8 character).
std::string phone_description(std::string_view display_name, std::string_view name, std::string_view uuid);

/// The longest printer-info IPP allows, in bytes (text(127)).
inline constexpr size_t description_limit = 127;

/// The last segment of a printer's IPP resource and web page: its uuid, with "_" before a uuid that begins
/// with a digit (as PAPPL names it).
std::string printer_path(std::string_view uuid);

/// `host` as it stands in a URL: an IPv6 address in brackets, anything else as it is.
std::string url_host(std::string_view host);

/// The printer's IPP address, "<scheme>://HOST:PORT/ipp/print/<printer_path>" (`scheme` "ipp" or "ipps").
std::string printer_ipp_uri(std::string_view scheme, std::string_view host, uint16_t port,
                            std::string_view uuid);

/// The printer's web page on the IPP port, "http://HOST:PORT/printers/<printer_path>".
std::string printer_page_url(std::string_view host, uint16_t port, std::string_view uuid);

}  // namespace quorvane::model
