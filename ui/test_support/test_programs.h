// Programs a test starts beside itself (a private session bus, an X server, a desktop daemon), ended by the
// test.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <memory>

namespace quorvane::testing_support {

/// Starts `program` with `arguments` in `environment`; null when it does not start within 10 s.
inline std::unique_ptr<QProcess> start_program(const QString& program, const QStringList& arguments,
                                               const QProcessEnvironment& environment) {
  auto process = std::make_unique<QProcess>();
  process->setProcessEnvironment(environment);
  process->start(program, arguments);
  if (!process->waitForStarted(10000)) return nullptr;
  return process;
}

/// The first line `process` writes, read within 10 s; empty when none came.
inline QString first_line(QProcess& process) {
  for (int i = 0; i < 100 && !process.canReadLine(); ++i) process.waitForReadyRead(100);
  return QString::fromUtf8(process.readLine()).trimmed();
}

/// Ends `process`: asked first, killed when it does not end within 5 s.
inline void end_program(QProcess* process) {
  if (!process) return;
  process->terminate();
  if (!process->waitForFinished(5000)) process->kill();
}

}  // namespace quorvane::testing_support
