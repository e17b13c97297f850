#include "ui/base/qt_runloop.h"

#include <QMetaObject>

namespace quorvane {

qt_runloop::qt_runloop() = default;

qt_runloop::~qt_runloop() {
  for (auto& [watched, held] : notifiers_) {
    held.read->setEnabled(false);
    if (held.write) held.write->setEnabled(false);
  }
  notifiers_.clear();
  watches_.clear();
  posted_.clear();
}

bool qt_runloop::watch(smart_ptr<socket> s, int32_t mask, handler h, void* context) {
  const socket* watched = s.get();
  if (watches_.watch(std::move(s), mask, h, context) == watch_list::watch_outcome::rejected) return false;
  // The entry keeps the socket it was made for, which may be another object with the same handle.
  follow_handle(watches_.find(watched)->watched.get());
  return true;
}

void qt_runloop::follow_handle(const socket* held) {
  const int handle = held->handle();
  auto it = notifiers_.find(held);
  if (it != notifiers_.end()) {
    if (int(it->second.read->socket()) == handle) return;
    drop_notifiers(it);
  }
  // A closed socket keeps its entry (as in the interface's contract) but has nothing to be notified about.
  if (handle == socket::invalid_handle) return;
  notifiers_.emplace(held, notifiers{make_notifier(handle, QSocketNotifier::Read, event_readable), nullptr});
}

std::unique_ptr<QSocketNotifier> qt_runloop::make_notifier(int handle, QSocketNotifier::Type type,
                                                           int32_t event) {
  auto notifier = std::make_unique<QSocketNotifier>(handle, type);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, &receiver_,
                   [this, event](QSocketDescriptor descriptor, QSocketNotifier::Type) {
                     watches_.notify(int(descriptor), event);
                   });
  return notifier;
}

void qt_runloop::want_writable(const socket* s, bool wanted) {
  const watch_list::entry* e = watches_.want_writable(s, wanted);
  if (!e) return;
  auto it = notifiers_.find(e->watched.get());
  if (it == notifiers_.end()) return;
  notifiers& held = it->second;
  if (!held.write) {
    if (!wanted) return;
    held.write = make_notifier(int(held.read->socket()), QSocketNotifier::Write, event_writable);
  }
  held.write->setEnabled(wanted);
}

void qt_runloop::want_readable(const socket* s, bool wanted) {
  const watch_list::entry* e = watches_.want_readable(s, wanted);
  if (!e) return;
  auto it = notifiers_.find(e->watched.get());
  if (it != notifiers_.end()) it->second.read->setEnabled(wanted);
}

void qt_runloop::drop_notifiers(notifier_map::iterator it) {
  // A notifier may be the one whose activation is running now: each is disabled at once (so nothing more is
  // reported for it) and deleted when control is back in the event loop.
  for (std::unique_ptr<QSocketNotifier>* owned : {&it->second.read, &it->second.write}) {
    if (QSocketNotifier* notifier = owned->release()) {
      notifier->setEnabled(false);
      notifier->deleteLater();
    }
  }
  notifiers_.erase(it);
}

void qt_runloop::unwatch(smart_ptr<socket> s) {
  const smart_ptr<socket> held = watches_.unwatch(s.get());
  if (!held) return;
  auto it = notifiers_.find(held.get());
  if (it != notifiers_.end()) drop_notifiers(it);
}

void qt_runloop::post(std::function<void()> work) {
  posted_.push(std::move(work));
  QMetaObject::invokeMethod(
      &receiver_, [this] { posted_.drain(); }, Qt::QueuedConnection);
}

}  // namespace quorvane
