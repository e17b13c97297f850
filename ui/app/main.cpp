// quorvane: the desktop console of the Quorvane print service.
#include <QApplication>

#include "ui/app/quorvane_app.h"
#include "ui/base/translations.h"
#include "ui/layout/dialog_units.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  application.setApplicationName(QStringLiteral("Quorvane"));
  application.setOrganizationName(QStringLiteral("Tessaly Software"));
  // The desktop entry's name: Wayland compositors match the window to the menu entry and icon by it.
  application.setDesktopFileName(QStringLiteral("quorvane"));
  // Hidden to the notification area, the console keeps running; it ends with Exit.
  application.setQuitOnLastWindowClosed(false);
  quorvane::set_dialog_font_app_wide();
  quorvane::install_translations(QLocale::system());

  quorvane::CQuorvaneApp console;
  if (console.init_instance(application.arguments()) == quorvane::CQuorvaneApp::start_outcome::forwarded) {
    return 0;
  }
  return application.exec();
}
