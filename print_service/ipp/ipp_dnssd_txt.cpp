#include "print_service/ipp/ipp_dnssd_txt.h"

#include <avahi-client/publish.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <dlfcn.h>

#include <cstring>
#include <mutex>

namespace quorvane::print_service {
namespace {

std::mutex air_mutex;
std::function<std::string(const std::string&)> air_of;  // guarded by air_mutex

// The value of `key` in `txt`, or "" when it has none.
std::string txt_value(AvahiStringList* txt, const char* key) {
  AvahiStringList* entry = avahi_string_list_find(txt, key);
  char* found_key = nullptr;
  char* value = nullptr;
  if (!entry || avahi_string_list_get_pair(entry, &found_key, &value, nullptr) != 0) return {};
  std::string text = value ? value : "";
  avahi_free(found_key);
  avahi_free(value);
  return text;
}

}  // namespace

void set_dnssd_air(std::function<std::string(const std::string&)> air) {
  std::lock_guard<std::mutex> lock(air_mutex);
  air_of = std::move(air);
}

}  // namespace quorvane::print_service

using namespace quorvane::print_service;

// PAPPL registers each printer's _ipp._tcp and _ipps._tcp services with their TXT record here: the record
// goes out with the service's own keys added to a copy (PAPPL frees its list after the call).
extern "C" int avahi_entry_group_add_service_strlst(AvahiEntryGroup* group, AvahiIfIndex interface,
                                                    AvahiProtocol protocol, AvahiPublishFlags flags,
                                                    const char* name, const char* type, const char* domain,
                                                    const char* host, uint16_t port, AvahiStringList* txt) {
  using function_type = int (*)(AvahiEntryGroup*, AvahiIfIndex, AvahiProtocol, AvahiPublishFlags, const char*,
                                const char*, const char*, const char*, uint16_t, AvahiStringList*);
  static const auto next =
      reinterpret_cast<function_type>(dlsym(RTLD_NEXT, "avahi_entry_group_add_service_strlst"));
  const bool printer_service = type && (!std::strcmp(type, "_ipp._tcp") || !std::strcmp(type, "_ipps._tcp"));
  std::string air;
  if (printer_service && txt && !avahi_string_list_find(txt, "air")) {
    const std::string resource = txt_value(txt, "rp");
    std::lock_guard<std::mutex> lock(air_mutex);
    if (air_of && !resource.empty()) air = air_of(resource);
  }
  if (air.empty()) return next(group, interface, protocol, flags, name, type, domain, host, port, txt);
  AvahiStringList* extended = avahi_string_list_add_pair(avahi_string_list_copy(txt), "air", air.c_str());
  const int status = next(group, interface, protocol, flags, name, type, domain, host, port, extended);
  avahi_string_list_free(extended);
  return status;
}
