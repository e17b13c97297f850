#include "net/jsonrpc_manager.h"

#include <sys/socket.h>

#include <algorithm>
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

namespace {

// `classify_first_bytes` with the length bound of a header that `offer` reads: a length needing more digits
// than the largest frame can never be served, so the peer is refused instead of being read digit by digit.
first_bytes classify_header(const char* bytes, size_t count) {
  size_t digits = 0;
  while (digits < count && bytes[digits] >= '0' && bytes[digits] <= '9') ++digits;
  if (digits > max_header_digits) return first_bytes::other;
  return classify_first_bytes(bytes, count);
}

}  // namespace

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
  // A peer that does not read what it asked for must not make the loop work for it meanwhile.
  adopted->set_holds_input_while_unsent(true);
  const int send_buffer = adopted_send_buffer;
  if (setsockopt(adopted->handle(), SOL_SOCKET, SO_SNDBUF, &send_buffer, sizeof send_buffer) != 0) {
    QV_LOG(log_warning, "Unable to limit the send buffer of connection '%s': %s",
           adopted->peer_address_text().c_str(), std::strerror(errno));
  }
  adopted->watch_on(*loop);
  detail::add_accepted(adopted);
  return adopted;
}

bool manager::adopt(smart_ptr<socket> s, const char* bytes, size_t count, close_function on_close) {
  if (!s || classify_first_bytes(bytes, count) != first_bytes::jsonrpc) return false;
  return take_over(std::move(s), std::move(on_close)) != nullptr;
}

offer_outcome manager::offer(smart_ptr<socket> s, close_function on_close) {
  if (!s) return {};
  // Sockets their owner has closed or let go of are forgotten; dropping the last reference closes them.
  std::erase_if(sniffers_, [&](const sniffer& held) {
    return held.peer != s &&
           (held.peer->handle() == socket::invalid_handle || held.peer->reference_count() == 1);
  });
  auto held = std::find_if(sniffers_.begin(), sniffers_.end(), [&](const sniffer& x) { return x.peer == s; });
  if (held == sniffers_.end()) held = sniffers_.insert(sniffers_.end(), sniffer{s});

  // The bytes are consumed, not peeked: bytes left in the socket would keep it readable, and the run loop
  // would call back at once, over and over, until the peer sent more.
  first_bytes seen;
  while ((seen = classify_header(held->bytes, held->count)) == first_bytes::undecided) {
    // Never more than the shortest header still possible, so nothing after its "{" leaves the socket.
    const size_t wanted = held->count > 0 && held->bytes[held->count - 1] == ':' ? 1 : 2;
    ssize_t received;
    do {
      received = s->recv(held->bytes + held->count, wanted, MSG_DONTWAIT);
    } while (received < 0 && errno == EINTR);
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return {offer_result::waiting, nullptr};
    // The peer ended or failed before its header was complete.
    if (received <= 0) break;
    held->count += static_cast<size_t>(received);
  }
  const std::string header(held->bytes, held->count);
  sniffers_.erase(held);
  if (seen != first_bytes::jsonrpc) return {};

  smart_ptr<connection> adopted = take_over(std::move(s), std::move(on_close));
  if (!adopted) return {};
  // The header cannot complete a frame on its own (a "," must follow a payload), so delivering it dispatches
  // nothing; it only fails on a header the connection rejects, such as one that declares a length of 0.
  if (!adopted->deliver(header.data(), header.size())) return {};
  return {offer_result::adopted, std::move(adopted)};
}

}  // namespace jsonrpc
}  // namespace quorvane
