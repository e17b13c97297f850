// PAPPL 1.3 keeps the peer address of a connection inside its private client object and gives a job no
// trace of it. Every Print-Job, Create-Job and Send-Document is authorised first, which asks libcups for
// the connection's address with httpGetAddress on the connection's own thread. This program defines that
// function, so the dynamic linker binds PAPPL's calls to it; it notes the address for the calling thread
// and returns what the libcups function returns.
#include "print_service/ipp/ipp_client_address.h"

#include <cups/cups.h>
#include <dlfcn.h>
#include <netdb.h>
#include <sys/socket.h>

namespace quorvane::print_service {
namespace {

using get_address_function = http_addr_t* (*)(http_t*);

thread_local std::string noted_address;

get_address_function libcups_get_address() {
  static const auto function = reinterpret_cast<get_address_function>(dlsym(RTLD_NEXT, "httpGetAddress"));
  return function;
}

}  // namespace

std::string current_client_address() {
  return noted_address;
}

std::string client_address(http_t* http) {
  httpGetAddress(http);
  return noted_address;
}

}  // namespace quorvane::print_service

extern "C" http_addr_t* httpGetAddress(http_t* http) {
  using namespace quorvane::print_service;
  const get_address_function get_address = libcups_get_address();
  http_addr_t* address = get_address ? get_address(http) : nullptr;
  const int family = address ? address->addr.sa_family : AF_UNSPEC;
  if (family == AF_INET || family == AF_INET6) {
    char text[NI_MAXHOST] = "";
    const socklen_t length = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    if (getnameinfo(&address->addr, length, text, sizeof(text), nullptr, 0, NI_NUMERICHOST) == 0) {
      // IPv4 peers of a dual-stack socket show as ::ffff:a.b.c.d; keep the IPv4 form.
      std::string value = text;
      if (value.rfind("::ffff:", 0) == 0 && value.find('.') != std::string::npos) value.erase(0, 7);
      noted_address = value;
    }
  }
  return address;
}
