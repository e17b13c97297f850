// The folder chooser: folders only.
#pragma once

#include <QFileDialog>
#include <QString>

namespace quorvane {

/// A modal chooser of one existing folder. A typed name that is not an existing folder beeps and keeps the
/// chooser open. `exec()` gives QDialog::Accepted with `path()` set, QDialog::Rejected when cancelled, or
/// -1 when the chosen folder has no local path.
class CFolderDialog : public QFileDialog {
  Q_OBJECT

 public:
  /// A chooser owned by `parent` (the active window when null), starting in `initial_folder` when it is an
  /// existing folder.
  explicit CFolderDialog(QWidget* parent = nullptr, const QString& initial_folder = QString());

  /// Runs the chooser modally: QDialog::Accepted, QDialog::Rejected or -1 (see the class).
  int exec() override;

  /// The chosen folder's absolute path; empty until a folder was chosen.
  const QString& path() const { return path_; }

 public slots:
  /// Closes with the selection when it is an existing folder; otherwise beeps and stays open.
  void accept() override;

 private:
  QString path_;
};

}  // namespace quorvane
