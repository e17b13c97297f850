#include "ui/controls/file_choice.h"

#include <QFileInfo>

namespace quorvane {

bool is_choosable_folder(const QString& path) {
  if (path.isEmpty()) return false;
  const QFileInfo info(path);
  return info.exists() && info.isDir();
}

bool is_choosable_application(const QString& path) {
  if (path.isEmpty()) return false;
  const QFileInfo info(path);
  return info.exists() && info.isFile() && info.isExecutable();
}

}  // namespace quorvane
