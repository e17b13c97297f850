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
  switch (watches_.watch(std::move(s), mask, h, context)) {
    case watch_list::watch_outcome::rejected:
      return false;
    case watch_list::watch_outcome::replaced:
      return true;
    case watch_list::watch_outcome::added:
      break;
  }
  // A closed socket keeps its entry (as in the interface's contract) but has nothing to be notified about.
  const int handle = watched->handle();
  if (handle == socket::invalid_handle) return true;
  auto notifier = std::make_unique<QSocketNotifier>(handle, QSocketNotifier::Read);
  QObject::connect(
      notifier.get(), &QSocketNotifier::activated, &receiver_,
      [this](QSocketDescriptor descriptor, QSocketNotifier::Type) { watches_.notify(int(descriptor)); });
  notifiers_.emplace(watched, std::move(notifier));
  return true;
}

void qt_runloop::unwatch(smart_ptr<socket> s) {
  const smart_ptr<socket> held = watches_.unwatch(s.get());
  if (!held) return;
  auto it = notifiers_.find(held.get());
  if (it == notifiers_.end()) return;
  // The notifier may be the one whose activation is running now: it is disabled at once (so nothing more is
  // reported for it) and deleted when control is back in the event loop.
  QSocketNotifier* notifier = it->second.release();
  notifiers_.erase(it);
  notifier->setEnabled(false);
  notifier->deleteLater();
}

void qt_runloop::post(std::function<void()> work) {
  posted_.push(std::move(work));
  QMetaObject::invokeMethod(
      &receiver_, [this] { posted_.drain(); }, Qt::QueuedConnection);
}

}  // namespace quorvane
