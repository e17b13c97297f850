#include "ui/app/about_dlg.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "ui/layout/dialog_units.h"
#include "ui/layout/png_image.h"

namespace quorvane {
namespace {

using k = control_kind;
namespace s = control_style;

constexpr dialog_control controls[] = {
    {CAboutDlg::id_icon, k::custom, "icon", "IDI_QUORVANE", 11, 11, 21, 20},
    {1010, k::text, "version", console_version_text, 44, 10, 119, 8, s::no_wrap},
    {1011, k::text, "copyright",
     QT_TRANSLATE_NOOP("quorvane::CAboutDlg",
                       "Copyright \xC2\xA9 2026 Tessaly Software. All rights reserved."),
     44, 23, 119, 16},
    {1012, k::text, "acknowledgement",
     QT_TRANSLATE_NOOP("quorvane::CAboutDlg",
                       "Built with Qt, jsoncpp, SQLite, uriparser, CUPS, poppler, cairo and "
                       "libjpeg-turbo; thanks to their authors."),
     44, 47, 119, 42},
    {CAboutDlg::id_ok, k::default_button, "ok", QT_TRANSLATE_NOOP("quorvane::CAboutDlg", "OK"), 178, 8, 50,
     16},
};

}  // namespace

std::span<const dialog_control> about_box_controls() {
  return controls;
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QCoreApplication::translate("quorvane::CAboutDlg", "About Quorvane"));
  const dialog_units units = dialog_units::from_dialog_font();
  setFixedSize(units.size(235, 100));
  layout_ = dialog_layout::build(
      this, "quorvane::CAboutDlg", about_box_controls(), units,
      [](const dialog_control& row, QWidget* parent) {
        // The application icon at the size of a dialog icon, whatever the size of its image.
        auto* icon = new QLabel(parent);
        const QPixmap image = png_pixmap(QStringLiteral(":/images/%1.png").arg(QString::fromUtf8(row.text)));
        if (!image.isNull())
          icon->setPixmap(image.scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        return icon;
      });
  connect(layout_.find<QPushButton>(id_ok), &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace quorvane
