#include "ui/controls/folder_dlg.h"

#include <QApplication>
#include <QDir>
#include <QUrl>

#include "ui/controls/file_choice.h"

namespace quorvane {

CFolderDialog::CFolderDialog(QWidget* parent, const QString& initial_folder)
    : QFileDialog(parent ? parent : QApplication::activeWindow()) {
  setFileMode(QFileDialog::Directory);
  setOption(QFileDialog::ShowDirsOnly, true);
  // Qt's own dialog everywhere, so the behaviour does not depend on the desktop's portal.
  setOption(QFileDialog::DontUseNativeDialog, true);
  setAcceptMode(QFileDialog::AcceptOpen);
  if (is_choosable_folder(initial_folder)) setDirectory(initial_folder);
}

int CFolderDialog::exec() {
  path_.clear();
  const int result = QFileDialog::exec();
  if (result != QDialog::Accepted) return result;
  const QList<QUrl> urls = selectedUrls();
  if (urls.isEmpty() || !urls.front().isLocalFile()) return -1;
  path_ = QDir::cleanPath(urls.front().toLocalFile());
  return QDialog::Accepted;
}

void CFolderDialog::accept() {
  const QStringList chosen = selectedFiles();
  if (chosen.isEmpty() || !is_choosable_folder(chosen.front())) {
    QApplication::beep();
    return;
  }
  QFileDialog::accept();
}

}  // namespace quorvane
