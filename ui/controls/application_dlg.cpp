#include "ui/controls/application_dlg.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include "ui/controls/file_choice.h"

namespace quorvane {

MyFileDialog::MyFileDialog(QWidget* parent, const QString& filter, const QString& initial_folder)
    : QFileDialog(parent ? parent : QApplication::activeWindow()) {
  setWindowTitle(tr("Choose Executable"));
  setFileMode(QFileDialog::ExistingFile);
  setAcceptMode(QFileDialog::AcceptOpen);
  setOption(QFileDialog::DontUseNativeDialog, true);
  setOption(QFileDialog::ReadOnly, true);
  setNameFilter(filter.isEmpty() ? tr(application_name_filter) : filter);
  // Programs on Linux have no common extension: list what may be executed, and the folders to reach it.
  setFilter(QDir::AllDirs | QDir::Files | QDir::Executable | QDir::NoDotAndDotDot);
  if (!initial_folder.isEmpty()) setDirectory(initial_folder);
}

QString MyFileDialog::path() const {
  const QStringList chosen = selectedFiles();
  return result() == QDialog::Accepted && !chosen.isEmpty() ? QDir::cleanPath(chosen.front()) : QString();
}

void MyFileDialog::accept() {
  const QStringList chosen = selectedFiles();
  // A folder typed or chosen opens it, as in any file chooser.
  if (!chosen.isEmpty() && QFileInfo(chosen.front()).isDir()) {
    QFileDialog::accept();
    return;
  }
  if (chosen.isEmpty() || !is_choosable_application(chosen.front())) {
    QApplication::beep();
    return;
  }
  QFileDialog::accept();
}

}  // namespace quorvane
