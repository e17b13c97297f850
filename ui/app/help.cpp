#include "ui/app/help.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>

#include <memory>
#include <utility>

#include "core/log.h"

namespace quorvane {

QString help_document_path(const QString& program_folder) {
  QString folder = program_folder;
  if (folder.isEmpty())
    folder = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
  for (const QString& candidate : {folder + QStringLiteral("/../share/quorvane/help/index.html"),
                                   folder + QStringLiteral("/help/index.html")}) {
    const QFileInfo file(candidate);
    if (file.isFile() && file.isReadable()) return QDir::cleanPath(file.absoluteFilePath());
  }
  return QString();
}

void open_with_desktop(const QString& path, open_outcome done) {
  // Not detached: only xdg-open's exit status says whether an application for HTML was found.
  // Without a parent: quitting the console must not end a viewer that xdg-open still waits for.
  auto* process = new QProcess();
  process->setWorkingDirectory(QFileInfo(path).absolutePath());
  process->setProcessChannelMode(QProcess::ForwardedChannels);
  auto report = std::make_shared<open_outcome>(std::move(done));
  QObject::connect(process, &QProcess::finished, process,
                   [process, report](int code, QProcess::ExitStatus how) {
                     if (*report) std::exchange(*report, {})(how == QProcess::NormalExit && code == 0);
                     process->deleteLater();
                   });
  QObject::connect(process, &QProcess::errorOccurred, process,
                   [process, report](QProcess::ProcessError error) {
                     if (error != QProcess::FailedToStart) return;
                     if (*report) std::exchange(*report, {})(false);
                     process->deleteLater();
                   });
  process->start(QStringLiteral("xdg-open"), {path});
}

namespace {

void show_help_error(QWidget* parent, const QString& path) {
  QV_LOG(log_error, "Unable to display help '%s'",
         path.isEmpty() ? "(not found)" : path.toUtf8().constData());
  QMessageBox::critical(parent, QCoreApplication::translate("quorvane::help", "Help Error"),
                        QCoreApplication::translate("quorvane::help", "Unable to display help."));
}

}  // namespace

void open_help(QWidget* parent, const document_opener& open, const QString& program_folder) {
  const QString path = help_document_path(program_folder);
  if (path.isEmpty() || !open) {
    show_help_error(parent, path);
    return;
  }
  QPointer<QWidget> over(parent);
  open(path, [over, path](bool opened) {
    if (!opened) show_help_error(over, path);
  });
}

}  // namespace quorvane
