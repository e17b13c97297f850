// One console per user: the first start holds a lock and listens; a later start hands its command line to
// the first one and ends.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace quorvane {

/// The name both the lock and the local socket are made from, with the user id appended.
inline constexpr const char* single_instance_id = "{C62BAF6D-46E9-44b5-B495-2150A230D859}";

/// The per-user single-instance mechanism: a `QLockFile` decides who is first (a lock left by a process
/// that died is taken over), a `QLocalServer` of the first carries the command lines of later starts.
class single_instance : public QObject {
 public:
  /// Called in the first instance with the command line of a later start.
  using activation = std::function<void(const QStringList& arguments)>;

  /// An instance whose lock file and socket live in `folder` (the user's runtime folder by default).
  explicit single_instance(QString folder = QString());
  /// Stops listening and releases the lock.
  ~single_instance() override;

  /// Tries to become the first instance: takes the lock and listens. True when this process is the first;
  /// false when another holds the lock (or listening failed, logged; then the lock is released again).
  bool become_primary(activation on_activation);

  /// Sends `arguments` to the first instance; true when they were written. Retries for up to `timeout_ms`
  /// while the first is still starting.
  bool send_to_primary(const QStringList& arguments, int timeout_ms = 3000) const;

  /// The lock file's path.
  QString lock_path() const;
  /// The local socket's path.
  QString socket_path() const;

 private:
  /// Reads one command line from a connecting later start.
  void receive();

  QString folder_;
  QString base_name_;
  std::unique_ptr<QLockFile> lock_;
  QLocalServer server_;
  activation on_activation_;
};

}  // namespace quorvane
