#include "net/poll_runloop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/log.h"

namespace quorvane {

poll_runloop::poll_runloop() {
  wake_handle_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_handle_ < 0)
    QV_LOG(log_error, "Unable to create eventfd 'run loop wake-up': %s", std::strerror(errno));
}

poll_runloop::~poll_runloop() {
  watches_.clear();
  posted_.clear();
  if (wake_handle_ >= 0) ::close(wake_handle_);
}

bool poll_runloop::watch(smart_ptr<socket> s, int32_t mask, handler h, void* context) {
  return watches_.watch(std::move(s), mask, h, context) != watch_list::watch_outcome::rejected;
}

void poll_runloop::unwatch(smart_ptr<socket> s) {
  watches_.unwatch(s.get());
}

void poll_runloop::want_writable(const socket* s, bool wanted) {
  watches_.want_writable(s, wanted);
}

void poll_runloop::want_readable(const socket* s, bool wanted) {
  watches_.want_readable(s, wanted);
}

void poll_runloop::post(std::function<void()> work) {
  posted_.push(std::move(work));
  const uint64_t one = 1;
  if (wake_handle_ >= 0) (void)!::write(wake_handle_, &one, sizeof one);
}

int poll_runloop::run_once(int timeout_ms) {
  std::vector<pollfd> handles;
  handles.reserve(watches_.size() + 1);
  handles.push_back(pollfd{wake_handle_, POLLIN, 0});
  for (const watch_list::entry& e : watches_.entries()) {
    if (e.watched && e.watched->handle() != socket::invalid_handle) {
      // poll() reports a hang-up or error whatever is asked, so a socket left unread still hears of its end.
      const short events =
          static_cast<short>((e.readable_wanted ? POLLIN : 0) | (e.writable_wanted ? POLLOUT : 0));
      handles.push_back(pollfd{e.watched->handle(), events, 0});
    }
  }
  const int ready = ::poll(handles.data(), handles.size(), timeout_ms);
  if (ready < 0) {
    if (errno != EINTR) QV_LOG(log_error, "Unable to wait for sockets 'poll': %s", std::strerror(errno));
    return 0;
  }
  if (ready == 0) return 0;

  int ran = 0;
  // Each ready handle is looked up again at dispatch time: an earlier handler in this round may have
  // unwatched it, and a notification for a socket no longer watched is ignored.
  // Room to write is reported first: a handler that finds the peer gone while writing closes the socket,
  // and the input notification of the same round then finds no entry.
  for (size_t i = 1; i < handles.size(); ++i) {
    if ((handles[i].revents & POLLOUT) && watches_.notify(handles[i].fd, event_writable)) ++ran;
    if (handles[i].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
      if (watches_.notify(handles[i].fd, event_readable)) ++ran;
    }
  }
  if (handles[0].revents & POLLIN) {
    uint64_t count;
    (void)!::read(wake_handle_, &count, sizeof count);
    ran += posted_.drain();
  }
  return ran;
}

bool poll_runloop::run_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return done();
    run_once(static_cast<int>(left.count()) + 1);
  }
  return true;
}

void poll_runloop::run() {
  while (!stop_requested_.exchange(false)) run_once(/*timeout_ms=*/-1);
}

void poll_runloop::stop() {
  stop_requested_ = true;
  const uint64_t one = 1;
  if (wake_handle_ >= 0) (void)!::write(wake_handle_, &one, sizeof one);
}

}  // namespace quorvane
