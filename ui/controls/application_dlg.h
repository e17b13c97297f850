// The application chooser of the printer settings: one existing program the user may execute.
#pragma once

#include <QFileDialog>
#include <QString>

namespace quorvane {

/// The name filter the console offers: every file, of which the chooser lists the executable ones.
inline constexpr const char* application_name_filter =
    QT_TRANSLATE_NOOP("quorvane::MyFileDialog", "Applications (*)");

/// A modal "Choose Executable" chooser. It lists folders and executable files only; a chosen file must
/// exist, be a regular file and be executable, otherwise the chooser beeps and stays open. The working
/// folder of the process is left unchanged.
class MyFileDialog : public QFileDialog {
  Q_OBJECT

 public:
  /// A chooser owned by `parent` with the name filter `filter` (`application_name_filter` when empty),
  /// starting in `initial_folder` when given.
  explicit MyFileDialog(QWidget* parent = nullptr, const QString& filter = QString(),
                        const QString& initial_folder = QString());

  /// The chosen file's absolute path; empty until a file was chosen.
  QString path() const;

 public slots:
  /// Closes with the selection when it is an executable file; otherwise beeps and stays open.
  void accept() override;
};

}  // namespace quorvane
