#include "net/poll_runloop.h"

#include <fcntl.h>
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
  entries_.clear();
  queue_.clear();
  if (wake_handle_ >= 0) ::close(wake_handle_);
}

std::vector<poll_runloop::entry>::iterator poll_runloop::find_entry(const socket* s) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    const socket* held = it->watched.get();
    if (held == s) return it;
    if (held && s && held->handle() != socket::invalid_handle && held->handle() == s->handle()) return it;
  }
  return entries_.end();
}

bool poll_runloop::watch(smart_ptr<socket> s, int32_t mask, handler h, void* context) {
  if (!s) return false;
  auto it = find_entry(s.get());
  if (it != entries_.end()) {
    it->mask = mask;
    it->on_event = h;
    it->context = context;
    return true;
  }
  // Handlers read until the system reports that it would block, so a watched socket must never block.
  if (s->handle() != socket::invalid_handle) {
    const int flags = fcntl(s->handle(), F_GETFL);
    if (flags >= 0) fcntl(s->handle(), F_SETFL, flags | O_NONBLOCK);
  }
  entries_.push_back(entry{std::move(s), mask, h, context});
  return true;
}

void poll_runloop::unwatch(smart_ptr<socket> s) {
  auto it = find_entry(s.get());
  if (it != entries_.end()) entries_.erase(it);
}

void poll_runloop::post(std::function<void()> work) {
  {
    std::lock_guard lock(queue_lock_);
    queue_.push_back(std::move(work));
  }
  const uint64_t one = 1;
  if (wake_handle_ >= 0) (void)!::write(wake_handle_, &one, sizeof one);
}

bool poll_runloop::notify(int handle) {
  for (const entry& e : entries_) {
    if (e.watched && e.watched->handle() == handle) {
      // Copies, because the handler may unwatch (and so destroy) the entry while it runs.
      smart_ptr<socket> s = e.watched;
      const handler h = e.on_event;
      void* context = e.context;
      h(std::move(s), /*event=*/4, context);
      return true;
    }
  }
  return false;
}

int poll_runloop::drain_queue() {
  int ran = 0;
  for (;;) {
    std::function<void()> item;
    {
      std::lock_guard lock(queue_lock_);
      if (queue_.empty()) break;
      item = std::move(queue_.front());
      queue_.pop_front();
    }
    // Outside the lock: the item may post more work, which then runs in this same drain.
    if (item) item();
    ++ran;
  }
  return ran;
}

int poll_runloop::run_once(int timeout_ms) {
  std::vector<pollfd> handles;
  handles.reserve(entries_.size() + 1);
  handles.push_back(pollfd{wake_handle_, POLLIN, 0});
  for (const entry& e : entries_) {
    if (e.watched && e.watched->handle() != socket::invalid_handle) {
      handles.push_back(pollfd{e.watched->handle(), POLLIN, 0});
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
  for (size_t i = 1; i < handles.size(); ++i) {
    if (handles[i].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
      if (notify(handles[i].fd)) ++ran;
    }
  }
  if (handles[0].revents & POLLIN) {
    uint64_t count;
    (void)!::read(wake_handle_, &count, sizeof count);
    ran += drain_queue();
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
