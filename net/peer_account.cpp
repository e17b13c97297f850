#include "net/peer_account.h"

#include <grp.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "core/log.h"

namespace quorvane {
namespace {

// Closes the netlink handle at the end of a query.
struct netlink_handle {
  int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  ~netlink_handle() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

std::optional<tcp_socket_facts> find_tcp_socket(const sockaddr_in& local, const sockaddr_in& remote) {
  netlink_handle netlink;
  if (netlink.fd < 0) {
    QV_LOG(log_verbose, "Unable to open socket 'sock_diag': %s", std::strerror(errno));
    return std::nullopt;
  }
  // The kernel answers at once; the limit only guards against a kernel that never does.
  const timeval limit{1, 0};
  ::setsockopt(netlink.fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);

  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } query{};
  query.header.nlmsg_len = sizeof query;
  query.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  // Without NLM_F_DUMP the kernel looks the one socket up by its address pair instead of listing them all.
  query.header.nlmsg_flags = NLM_F_REQUEST;
  query.request.sdiag_family = AF_INET;
  query.request.sdiag_protocol = IPPROTO_TCP;
  query.request.idiag_states = ~0u;
  query.request.id.idiag_sport = local.sin_port;
  query.request.id.idiag_dport = remote.sin_port;
  query.request.id.idiag_src[0] = local.sin_addr.s_addr;
  query.request.id.idiag_dst[0] = remote.sin_addr.s_addr;
  query.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  query.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (::sendto(netlink.fd, &query, sizeof query, 0, reinterpret_cast<const sockaddr*>(&kernel),
               sizeof kernel) != static_cast<ssize_t>(sizeof query)) {
    QV_LOG(log_verbose, "Unable to send query 'sock_diag': %s", std::strerror(errno));
    return std::nullopt;
  }
  alignas(nlmsghdr) char answer[8192];
  const ssize_t received = ::recv(netlink.fd, answer, sizeof answer, 0);
  if (received < 0) {
    QV_LOG(log_verbose, "Unable to receive answer 'sock_diag': %s", std::strerror(errno));
    return std::nullopt;
  }
  // As wide as the received count: NLMSG_OK compares it with an int and with the header's unsigned length.
  ssize_t remaining = received;
  for (auto* message = reinterpret_cast<nlmsghdr*>(answer); NLMSG_OK(message, remaining);
       message = NLMSG_NEXT(message, remaining)) {
    if (message->nlmsg_type == NLMSG_ERROR) {
      // ENOENT: no such socket (the peer is gone); anything else means the kernel cannot tell.
      const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(message));
      if (error->error != -ENOENT) {
        QV_LOG(log_verbose, "Unable to look up socket 'sock_diag': %s", std::strerror(-error->error));
      }
      return std::nullopt;
    }
    if (message->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
        message->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
      continue;
    }
    const auto* facts = static_cast<const inet_diag_msg*>(NLMSG_DATA(message));
    // Without a connection of that pair the kernel answers with the socket listening on `local`, if any:
    // that is what was asked only when `remote` is all zeros.
    if (facts->id.idiag_dport != remote.sin_port || facts->id.idiag_dst[0] != remote.sin_addr.s_addr) {
      return std::nullopt;
    }
    tcp_socket_facts found;
    found.uid = facts->idiag_uid;
    found.state = facts->idiag_state;
    found.receive_queue = facts->idiag_rqueue;
    found.send_queue = facts->idiag_wqueue;
    return found;
  }
  return std::nullopt;
}

std::optional<uid_t> peer_account(int handle, int handshake_wait_ms) {
  sockaddr_in ours{}, theirs{};
  socklen_t ours_length = sizeof ours, theirs_length = sizeof theirs;
  if (::getsockname(handle, reinterpret_cast<sockaddr*>(&ours), &ours_length) != 0 ||
      ::getpeername(handle, reinterpret_cast<sockaddr*>(&theirs), &theirs_length) != 0 ||
      ours.sin_family != AF_INET || theirs.sin_family != AF_INET) {
    return std::nullopt;
  }
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(handshake_wait_ms);
  for (;;) {
    // The peer's socket is the one bound to its address and connected to ours.
    const std::optional<tcp_socket_facts> facts = find_tcp_socket(theirs, ours);
    // A connection in TIME-WAIT is closed and has no owner either.
    if (!facts || facts->state == tcp_state_time_wait) return std::nullopt;
    // A connection the listener's side has not finished is reported without an owner (as 0): never read it
    // as root.
    if (facts->state != tcp_state_handshake) return facts->uid;
    if (std::chrono::steady_clock::now() >= give_up) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

bool is_trusted_account(uid_t account) {
  return account == 0 || account == ::getuid();
}

}  // namespace quorvane

namespace quorvane {

bool is_service_account(uid_t account) {
  if (is_trusted_account(account)) return true;
  const std::optional<account_facts> facts = find_account(account);
  return facts && facts->login == service_account_name;
}

std::optional<account_facts> find_account(uid_t account) {
  // The reentrant lookup: PAPPL's threads and libcups look accounts up too.
  std::vector<char> buffer(1024);
  passwd entry{};
  passwd* found = nullptr;
  int error = 0;
  while ((error = getpwuid_r(account, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
         buffer.size() < (1u << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  if (error != 0 || !found) return std::nullopt;
  account_facts facts;
  facts.uid = entry.pw_uid;
  facts.gid = entry.pw_gid;
  facts.login = entry.pw_name ? entry.pw_name : "";
  const std::string comment = entry.pw_gecos ? entry.pw_gecos : "";
  facts.full_name = comment.substr(0, comment.find(','));
  return facts;
}

std::optional<uid_t> find_login(const std::string& login) {
  std::vector<char> buffer(1024);
  passwd entry{};
  passwd* found = nullptr;
  int error = 0;
  while ((error = getpwnam_r(login.c_str(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
         buffer.size() < (1u << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  if (error != 0 || !found) return std::nullopt;
  return found->pw_uid;
}

bool is_group_member(const account_facts& account, const char* group) {
  std::vector<char> buffer(1024);
  struct group entry {};
  struct group* found = nullptr;
  int error = 0;
  while ((error = getgrnam_r(group, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
         buffer.size() < (1u << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  if (error != 0 || !found) return false;
  if (found->gr_gid == account.gid) return true;
  for (char** member = found->gr_mem; member && *member; ++member) {
    if (account.login == *member) return true;
  }
  return false;
}

}  // namespace quorvane
