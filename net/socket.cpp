#include "net/socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "core/log.h"
#include "net/socket_p.h"

namespace quorvane {

namespace detail {

std::vector<neighbour> neighbours_in_arp_table(std::string_view table) {
  // Rows read "IP address  HW type  Flags  HW address  Mask  Device" after one heading line.
  std::vector<neighbour> out;
  std::istringstream rows{std::string(table)};
  std::string row;
  std::getline(rows, row);
  while (std::getline(rows, row)) {
    std::istringstream fields(row);
    std::string address, type, flags, hardware;
    if (!(fields >> address >> type >> flags >> hardware)) continue;
    unsigned bytes[6];
    char tail = 0;
    if (std::sscanf(hardware.c_str(), "%x:%x:%x:%x:%x:%x%c", &bytes[0], &bytes[1], &bytes[2], &bytes[3],
                    &bytes[4], &bytes[5], &tail) != 6) {
      continue;
    }
    // An incomplete entry shows an all-zero address: the kernel knows no hardware address for it.
    if ((bytes[0] | bytes[1] | bytes[2] | bytes[3] | bytes[4] | bytes[5]) == 0) continue;
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", bytes[0] & 0xff, bytes[1] & 0xff,
                  bytes[2] & 0xff, bytes[3] & 0xff, bytes[4] & 0xff, bytes[5] & 0xff);
    out.push_back({std::move(address), text});
  }
  return out;
}

std::string hardware_address_in_arp_table(std::string_view table, std::string_view ipv4_text) {
  for (neighbour& n : neighbours_in_arp_table(table)) {
    if (n.address == ipv4_text) return std::move(n.hardware);
  }
  return {};
}

}  // namespace detail

std::vector<neighbour> neighbour_table() {
  std::ifstream file("/proc/net/arp");
  if (!file) return {};
  std::ostringstream table;
  table << file.rdbuf();
  return detail::neighbours_in_arp_table(table.str());
}

std::string hardware_address_of(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN];
  if (address.sin_family != AF_INET || !inet_ntop(AF_INET, &address.sin_addr, text, sizeof text)) return {};
  for (neighbour& n : neighbour_table()) {
    if (n.address == text) return std::move(n.hardware);
  }
  return {};
}

std::string hardware_address_of(const std::string& ipv4_text) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  if (inet_pton(AF_INET, ipv4_text.c_str(), &address.sin_addr) != 1) return {};
  return hardware_address_of(address);
}

namespace {

// Every message goes out whole in one send, so there is nothing to gather: without this a request written
// right after another waits for the peer's delayed acknowledgement of the first (about 40 ms on Linux), as
// a "print" following "devicesWereUpdated" did.
void send_at_once(int handle) {
  const int on = 1;
  setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace

socket::socket() {
  open_handle();
}

socket::socket(int accepted_handle)
    : handle_(accepted_handle), connected_(accepted_handle != invalid_handle) {}

socket::~socket() {
  socket::close();
}

bool socket::open_handle() {
  handle_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (handle_ == invalid_handle) {
    QV_LOG(log_error, "Unable to create socket 'IPv4 stream': %s", std::strerror(errno));
    return false;
  }
  return true;
}

int32_t socket::connect(const sockaddr* address, socklen_t length) {
  if (handle_ == invalid_handle && !open_handle()) {
    connected_ = false;
    return -1;
  }
  int result;
  do {
    result = ::connect(handle_, address, length);
  } while (result != 0 && errno == EINTR);
  connected_ = result == 0;
  if (connected_) send_at_once(handle_);
  if (!connected_) {
    const int error = errno;
    QV_LOG(log_error, "connect failed: %d", error);
    // The state of a socket after a failed connect is unspecified; the next attempt starts from a fresh one.
    ::close(handle_);
    handle_ = invalid_handle;
    return -1;
  }
  return 0;
}

int listen_backlog() {
  // The kernel cuts any backlog to this limit; asking for the limit itself keeps bursts of consoles from
  // overflowing the queue while the service is busy.
  int limit = 0;
  if (std::ifstream file("/proc/sys/net/core/somaxconn"); file >> limit && limit > 0) return limit;
  return SOMAXCONN;
}

int32_t socket::listen() {
  return ::listen(handle_, listen_backlog());
}

smart_ptr<socket> socket::accept() {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  int accepted;
  do {
    accepted = ::accept4(handle_, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
  } while (accepted < 0 && errno == EINTR);
  if (accepted < 0) return nullptr;
  send_at_once(accepted);

  smart_ptr<socket> peer(new socket(accepted));
  peer->peer_address_ = address;
  peer->peer_address_length_ = length;

  char text[256];
  if (address.ss_family == AF_INET) {
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(&address);
    if (!inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text)) return peer;
    peer->peer_address_text_.append(text).append(":").append(std::to_string(ntohs(ipv4->sin_port)));
    // Loopback peers and peers behind a router have no neighbour entry of their own.
    peer->peer_hardware_text_ = "localhost";
    std::string hardware = hardware_address_of(*ipv4);
    if (!hardware.empty()) peer->peer_hardware_text_ = std::move(hardware);
  } else if (address.ss_family == AF_INET6) {
    // Only reachable for a handle made elsewhere: no neighbour lookup, so no hardware text.
    const auto* ipv6 = reinterpret_cast<const sockaddr_in6*>(&address);
    if (!inet_ntop(AF_INET6, &ipv6->sin6_addr, text, sizeof text)) return peer;
    peer->peer_address_text_.append("[").append(text).append("]:").append(
        std::to_string(ntohs(ipv6->sin6_port)));
  }
  return peer;
}

ssize_t socket::send(const void* bytes, size_t count, int flags) {
  if (count == 0) return 0;
  const char* next = static_cast<const char*>(bytes);
  // MSG_NOSIGNAL: a peer that has gone must give an error here, not end the process with SIGPIPE.
  const int send_flags = flags | MSG_NOSIGNAL;
  size_t total = 0;
  while (total < count) {
    const ssize_t sent = ::send(handle_, next + total, count - total, send_flags);
    if (sent > 0) {
      total += static_cast<size_t>(sent);
      continue;
    }
    if (sent == 0) return static_cast<ssize_t>(total);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // A watched (non-blocking) socket: wait here, as the caller asked for every byte.
      pollfd writable{handle_, POLLOUT, 0};
      int ready;
      do {
        ready = ::poll(&writable, 1, -1);
      } while (ready < 0 && errno == EINTR);
      if (ready < 0) return total > 0 ? static_cast<ssize_t>(total) : -1;
      continue;
    }
    return total > 0 ? static_cast<ssize_t>(total) : -1;
  }
  return static_cast<ssize_t>(total);
}

ssize_t socket::send_available(const void* bytes, size_t count) {
  if (count == 0) return 0;
  for (;;) {
    const ssize_t sent = ::send(handle_, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0) return sent;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return -1;
  }
}

ssize_t socket::recv(void* buffer, size_t capacity, int flags) {
  return ::recv(handle_, buffer, capacity, flags);
}

int32_t socket::close() {
  if (handle_ != invalid_handle) {
    connected_ = false;
    ::close(handle_);
    handle_ = invalid_handle;
  }
  return 0;
}

int socket::release_handle() {
  connected_ = false;
  return std::exchange(handle_, invalid_handle);
}

int32_t socket::bind_loopback(uint16_t port) {
  if (handle_ == invalid_handle && !open_handle()) return -1;
  const int on = 1;
  setsockopt(handle_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(handle_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    QV_LOG(log_error, "Unable to bind socket '127.0.0.1:%u': %s", static_cast<unsigned>(port),
           std::strerror(errno));
    return -1;
  }
  return 0;
}

int32_t socket::local_port() const {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (handle_ == invalid_handle ||
      getsockname(handle_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      address.sin_family != AF_INET) {
    return -1;
  }
  return ntohs(address.sin_port);
}

void socket::take_over(socket& source) {
  socket::close();
  handle_ = std::exchange(source.handle_, invalid_handle);
  peer_address_ = source.peer_address_;
  peer_address_length_ = source.peer_address_length_;
  peer_address_text_ = source.peer_address_text_;
  peer_hardware_text_ = source.peer_hardware_text_;
  connected_ = std::exchange(source.connected_, false);
  delegate_ = source.delegate_;
}

smart_ptr<socket> listen_on_loopback(uint16_t port) {
  smart_ptr<socket> listener(new socket);
  if (listener->bind_loopback(port) != 0) return nullptr;
  if (listener->listen() != 0) {
    QV_LOG(log_error, "Unable to listen on socket '127.0.0.1:%u': %s", static_cast<unsigned>(port),
           std::strerror(errno));
    return nullptr;
  }
  return listener;
}

int32_t connect_to_loopback(socket& s, uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return s.connect(reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

}  // namespace quorvane
