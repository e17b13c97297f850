#include "ui/qt_runloop.h"

#include <fcntl.h>

#include <QMetaObject>

namespace quorvane {

qt_runloop::qt_runloop() = default;

qt_runloop::~qt_runloop() {
  for (entry& e : entries_) {
    if (e.notifier) e.notifier->setEnabled(false);
  }
  entries_.clear();
  std::lock_guard lock(queue_lock_);
  queue_.clear();
}

std::vector<qt_runloop::entry>::iterator qt_runloop::find_entry(const socket* s) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    const socket* held = it->watched.get();
    if (held == s) return it;
    if (held && s && held->handle() != socket::invalid_handle && held->handle() == s->handle()) return it;
  }
  return entries_.end();
}

bool qt_runloop::watch(smart_ptr<socket> s, int32_t mask, handler h, void* context) {
  if (!s) return false;
  auto it = find_entry(s.get());
  if (it != entries_.end()) {
    it->mask = mask;
    it->on_event = h;
    it->context = context;
    return true;
  }
  const int handle = s->handle();
  // Handlers read until the system reports that it would block, so a watched socket must never block.
  if (handle != socket::invalid_handle) {
    const int flags = fcntl(handle, F_GETFL);
    if (flags >= 0) fcntl(handle, F_SETFL, flags | O_NONBLOCK);
  }
  // A closed socket keeps its entry (as in the interface's contract) but has nothing to be notified about.
  std::unique_ptr<QSocketNotifier> notifier;
  if (handle != socket::invalid_handle) {
    notifier = std::make_unique<QSocketNotifier>(handle, QSocketNotifier::Read);
    QObject::connect(
        notifier.get(), &QSocketNotifier::activated, &receiver_,
        [this](QSocketDescriptor descriptor, QSocketNotifier::Type) { notify(int(descriptor)); });
  }
  entries_.push_back(entry{std::move(s), mask, h, context, std::move(notifier)});
  return true;
}

void qt_runloop::unwatch(smart_ptr<socket> s) {
  auto it = find_entry(s.get());
  if (it == entries_.end()) return;
  // The notifier may be the one whose activation is running now: it is disabled at once (so nothing more is
  // reported for it) and deleted when control is back in the event loop.
  if (QSocketNotifier* notifier = it->notifier.release()) {
    notifier->setEnabled(false);
    notifier->deleteLater();
  }
  entries_.erase(it);
}

void qt_runloop::post(std::function<void()> work) {
  {
    std::lock_guard lock(queue_lock_);
    queue_.push_back(std::move(work));
  }
  QMetaObject::invokeMethod(
      &receiver_, [this] { drain_queue(); }, Qt::QueuedConnection);
}

void qt_runloop::notify(int handle) {
  for (const entry& e : entries_) {
    if (e.watched && e.watched->handle() == handle) {
      // Copies, because the handler may unwatch (and so destroy) the entry while it runs.
      smart_ptr<socket> s = e.watched;
      const handler h = e.on_event;
      void* context = e.context;
      h(std::move(s), /*event=*/4, context);
      return;
    }
  }
}

void qt_runloop::drain_queue() {
  for (;;) {
    std::function<void()> item;
    {
      std::lock_guard lock(queue_lock_);
      if (queue_.empty()) return;
      item = std::move(queue_.front());
      queue_.pop_front();
    }
    // Outside the lock: the item may post more work, which then runs in this same drain.
    if (item) item();
  }
}

}  // namespace quorvane
