#include "net/watch_list.h"

#include <fcntl.h>

namespace quorvane {

size_t watch_list::index_of(const socket* s) const {
  for (size_t i = 0; i < entries_.size(); ++i) {
    const socket* held = entries_[i].watched.get();
    if (held == s) return i;
    if (held && s && held->handle() != socket::invalid_handle && held->handle() == s->handle()) return i;
  }
  return entries_.size();
}

const watch_list::entry* watch_list::find(const socket* s) const {
  const size_t i = index_of(s);
  return i < entries_.size() ? &entries_[i] : nullptr;
}

watch_list::watch_outcome watch_list::watch(smart_ptr<socket> s, int32_t mask, runloop::handler h,
                                            void* context) {
  if (!s) return watch_outcome::rejected;
  // Handlers read until the system reports that it would block, so a watched socket must never block.
  if (s->handle() != socket::invalid_handle) {
    const int flags = fcntl(s->handle(), F_GETFL);
    if (flags >= 0) fcntl(s->handle(), F_SETFL, flags | O_NONBLOCK);
  }
  if (const size_t i = index_of(s.get()); i < entries_.size()) {
    entry& e = entries_[i];
    e.mask = mask;
    e.on_event = h;
    e.context = context;
    return watch_outcome::replaced;
  }
  entries_.push_back(entry{std::move(s), mask, h, context, false, true});
  return watch_outcome::added;
}

smart_ptr<socket> watch_list::unwatch(const socket* s) {
  const size_t i = index_of(s);
  if (i == entries_.size()) return {};
  smart_ptr<socket> held = std::move(entries_[i].watched);
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
  return held;
}

const watch_list::entry* watch_list::want_writable(const socket* s, bool wanted) {
  const size_t i = index_of(s);
  if (i == entries_.size()) return nullptr;
  entries_[i].writable_wanted = wanted;
  return &entries_[i];
}

const watch_list::entry* watch_list::want_readable(const socket* s, bool wanted) {
  const size_t i = index_of(s);
  if (i == entries_.size()) return nullptr;
  entries_[i].readable_wanted = wanted;
  return &entries_[i];
}

bool watch_list::notify(int handle, int32_t event) const {
  for (const entry& e : entries_) {
    if (e.watched && e.watched->handle() == handle) {
      // An earlier handler of the same round may have written the queue empty and withdrawn the wish.
      if (event == event_writable && !e.writable_wanted) return false;
      // Copies, because the handler may unwatch (and so destroy) the entry while it runs.
      smart_ptr<socket> s = e.watched;
      const runloop::handler h = e.on_event;
      void* context = e.context;
      h(std::move(s), event, context);
      return true;
    }
  }
  return false;
}

void work_queue::push(std::function<void()> work) {
  std::lock_guard lock(lock_);
  items_.push_back(std::move(work));
}

int work_queue::drain() {
  int ran = 0;
  for (;;) {
    std::function<void()> item;
    {
      std::lock_guard lock(lock_);
      if (items_.empty()) break;
      item = std::move(items_.front());
      items_.pop_front();
    }
    // Outside the lock: the item may post more work, which then runs in this same drain.
    if (item) item();
    ++ran;
  }
  return ran;
}

void work_queue::clear() {
  // The items are destroyed when `dropped` goes, after the lock is released.
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard lock(lock_);
    dropped.swap(items_);
  }
}

}  // namespace quorvane
