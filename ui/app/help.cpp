#include "ui/app/help.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>

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

bool open_with_desktop(const QString& path) {
  return QProcess::startDetached(QStringLiteral("xdg-open"), {path}, QFileInfo(path).absolutePath());
}

bool open_help(QWidget* parent, const document_opener& open, const QString& program_folder) {
  const QString path = help_document_path(program_folder);
  if (!path.isEmpty() && open && open(path)) return true;
  QV_LOG(log_error, "Unable to display help '%s'",
         path.isEmpty() ? "(not found)" : path.toUtf8().constData());
  QMessageBox::critical(parent, QCoreApplication::translate("quorvane::help", "Help Error"),
                        QCoreApplication::translate("quorvane::help", "Unable to display help."));
  return false;
}

}  // namespace quorvane
