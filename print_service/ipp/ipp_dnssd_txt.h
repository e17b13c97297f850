// The TXT keys the service adds to PAPPL's DNS-SD advertisements of its printers. PAPPL 1.3 builds each
// printer's TXT record itself with no way to add a key; this program defines the Avahi call PAPPL registers
// the _ipp._tcp and _ipps._tcp services with, so the dynamic linker binds PAPPL's call to it, and adds the
// keys there.
#pragma once

#include <functional>
#include <string>

namespace quorvane::print_service {

/// Gives the value of the "air" key (how a device signs in: "none", or "username,password") of the printer
/// whose "rp" key (its resource path, "ipp/print/<name>") PAPPL advertises; "" adds no key. Called on
/// whichever thread PAPPL registers from, never with a lock of the caller's held. Null: no key is added.
void set_dnssd_air(std::function<std::string(const std::string& resource_path)> air);

}  // namespace quorvane::print_service
