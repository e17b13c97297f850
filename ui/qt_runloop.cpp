#include "ui/qt_runloop.h"

#include <QMetaObject>

namespace quorvane {

qt_runloop::qt_runloop() = default;

qt_runloop::~qt_runloop() {
  for (auto& [watched, notifier] : notifiers_) notifier->setEnabled(false);
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
    if (int(it->second->socket()) == handle) return;
    drop_notifier(it);
  }
  // A closed socket keeps its entry (as in the interface's contract) but has nothing to be notified about.
  if (handle == socket::invalid_handle) return;
  auto notifier = std::make_unique<QSocketNotifier>(handle, QSocketNotifier::Read);
  QObject::connect(
      notifier.get(), &QSocketNotifier::activated, &receiver_,
      [this](QSocketDescriptor descriptor, QSocketNotifier::Type) { watches_.notify(int(descriptor)); });
  notifiers_.emplace(held, std::move(notifier));
}

void qt_runloop::drop_notifier(notifier_map::iterator it) {
  // The notifier may be the one whose activation is running now: it is disabled at once (so nothing more is
  // reported for it) and deleted when control is back in the event loop.
  QSocketNotifier* notifier = it->second.release();
  notifiers_.erase(it);
  notifier->setEnabled(false);
  notifier->deleteLater();
}

void qt_runloop::unwatch(smart_ptr<socket> s) {
  const smart_ptr<socket> held = watches_.unwatch(s.get());
  if (!held) return;
  auto it = notifiers_.find(held.get());
  if (it != notifiers_.end()) drop_notifier(it);
}

void qt_runloop::post(std::function<void()> work) {
  posted_.push(std::move(work));
  QMetaObject::invokeMethod(
      &receiver_, [this] { posted_.drain(); }, Qt::QueuedConnection);
}

}  // namespace quorvane
