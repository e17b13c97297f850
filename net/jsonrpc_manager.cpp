#include "net/jsonrpc_manager.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "core/log.h"
#include "core/runloop.h"
#include "net/jsonrpc_p.h"

namespace quorvane {

namespace {
ipc* ipc_list_head = nullptr;
}

void ipc::register_ipc() {
  register_component();
  if (ipc_registered_) return;
  ipc_registered_ = true;
  next_ipc_ = ipc_list_head;
  ipc_list_head = this;
}

ipc* ipc::ipc_head() {
  return ipc_list_head;
}

ipc::~ipc() {
  for (ipc** link = &ipc_list_head; *link; link = &(*link)->next_ipc_) {
    if (*link == this) {
      *link = next_ipc_;
      break;
    }
  }
}

namespace jsonrpc {

first_bytes classify_first_bytes(const char* bytes, size_t count) {
  size_t digits = 0;
  while (digits < count && bytes[digits] >= '0' && bytes[digits] <= '9') ++digits;
  if (digits + 2 <= count) {
    return bytes[digits] == ':' && bytes[digits + 1] == '{' ? first_bytes::jsonrpc : first_bytes::other;
  }
  // Everything seen fits the form so far; only a byte that breaks it decides before ":{" has arrived.
  if (digits + 1 == count && bytes[digits] != ':') return first_bytes::other;
  return first_bytes::undecided;
}

manager& manager::instance() {
  static manager the_manager;
  return the_manager;
}

manager& manager::shared() {
  return initialized(instance());
}

int32_t manager::applicationWillInitialize() {
  status_ = 0;
  return 0;
}

smart_ptr<connection> manager::take_over(smart_ptr<socket> s, close_function on_close) {
  runloop* loop = main_runloop();
  if (!loop) {
    QV_LOG(log_error, "Unable to adopt connection '%s': there is no main run loop",
           s->peer_address_text().c_str());
    return nullptr;
  }
  // The accepted socket may still be watched (for its first bytes); its entry would otherwise stand for the
  // connection's handle, with a socket object that no longer owns it.
  loop->unwatch(s);
  smart_ptr<connection> adopted(new connection(*s, std::move(on_close)));
  loop->watch(adopted, /*mask=*/4, &connection::on_readable, adopted.get());
  detail::add_accepted(adopted);
  return adopted;
}

bool manager::adopt(smart_ptr<socket> s, const char* bytes, size_t count, close_function on_close) {
  if (!s || classify_first_bytes(bytes, count) != first_bytes::jsonrpc) return false;
  return take_over(std::move(s), std::move(on_close)) != nullptr;
}

offer_outcome manager::offer(smart_ptr<socket> s, close_function on_close) {
  // Enough to decide: a length of at most 64 MiB has at most 8 digits (more with leading zeros, which only
  // delay the decision), then ":" and "{".
  char first[32];
  ssize_t seen;
  do {
    seen = s->recv(first, sizeof first, MSG_PEEK | MSG_DONTWAIT);
  } while (seen < 0 && errno == EINTR);
  if (seen < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return {offer_result::waiting, nullptr};
  if (seen <= 0) return {};
  switch (classify_first_bytes(first, static_cast<size_t>(seen))) {
    case first_bytes::jsonrpc: {
      smart_ptr<connection> adopted = take_over(std::move(s), std::move(on_close));
      if (!adopted) return {};
      return {offer_result::adopted, std::move(adopted)};
    }
    case first_bytes::undecided: {
      // A full peek of digits alone can never become a frame header this side of the size bound, and a peer
      // that has finished sending will never complete one (its bytes would be peeked again forever).
      if (static_cast<size_t>(seen) == sizeof first) return {};
      pollfd ended{s->handle(), POLLRDHUP, 0};
      if (::poll(&ended, 1, /*timeout=*/0) > 0 && (ended.revents & (POLLRDHUP | POLLHUP | POLLERR))) {
        return {};
      }
      return {offer_result::waiting, nullptr};
    }
    case first_bytes::other:
      break;
  }
  return {};
}

}  // namespace jsonrpc
}  // namespace quorvane
