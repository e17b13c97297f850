// Shows the settings pages with a sample printer for screenshots: `settings_pages_shot general-view`,
// `general-edit`, `general-kept`, `general-refused` (a read-only folder refused in edit mode) (a printer with
// the action "Nothing", whose documents go to the default folder), `security-add-user` (the security page
// with the "Add User" dialog open) or `security-locked` (the security page of a printer that two accounts
// may use). The window stays until it is closed or killed.
#include <QApplication>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <cstring>

#include "core/os.h"
#include "ui/layout/dialog_layout.h"
#include "ui/settings/general_page.h"
#include "ui/settings/page_buttons.h"
#include "ui/settings/security_page.h"
#include "ui/settings/user_accounts_dlg.h"

namespace {

using namespace quorvane;

smart_ptr<model::printer> sample_printer(int32_t action) {
  auto p = make_counted<model::printer>();
  p->setUuid(new_uuid());
  p->setDisplayName(
      "\xEE\x80\x8C"
      "Open On My PC @ " +
      host_name().narrow());
  p->setLocation(wide_string::from_narrow("Quorvane @ " + host_name().narrow()));
  p->setAction(action);
  p->setFeature(model::printer_feature::color, model::feature_offered | model::feature_on);
  p->setFeature(model::printer_feature::duplex, model::feature_offered);
  p->setFeature(model::printer_feature::landscape, model::feature_offered | model::feature_on);
  model::media_list sizes;
  for (const smart_ptr<model::media>& size : model::default_printer_media()) {
    auto copy = make_counted<model::media>(*size);
    copy->setEnabled(size->klass() != 2);  // envelopes off
    sizes.push_back(copy);
  }
  p->setMedia(sizes);
  p->setAcl({"cloudsdk"});
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  set_dialog_font_app_wide();
  const char* mode = argc > 1 ? argv[1] : "general-view";

  // The page holder and the page buttons as the main window places them.
  const dialog_units units = dialog_units::from_dialog_font();
  QWidget window;
  window.setWindowTitle(QStringLiteral("Quorvane"));
  auto* holder = new QTabWidget(&window);
  auto* general = new CGeneralSettings();
  auto* security = new CSecuritySettings();
  holder->addTab(general, QStringLiteral("General"));
  holder->addTab(security, QStringLiteral("Security"));
  holder->move(4, 4);
  holder->resize(holder->sizeHint());
  struct button_row {
    int id;
    const char* text;
    QRect rect;
  };
  const int top = holder->height() + 10;
  const button_row buttons[] = {
      {button_edit, "Edit", {4, top, units.x(50), units.y(14)}},
      {button_save, "Save", {4, top, units.x(50), units.y(14)}},
      {button_cancel, "Cancel", {4 + units.x(55), top, units.x(50), units.y(14)}},
      {button_add_user, "+", {4, top, units.x(22), units.y(14)}},
      {button_remove_user, "-", {4 + units.x(27), top, units.x(22), units.y(14)}},
  };
  for (const button_row& b : buttons) {
    auto* button = new QPushButton(QString::fromUtf8(b.text), &window);
    button->setFlat(true);
    button->setGeometry(b.rect);
    button->setProperty("ctrlId", b.id);
  }
  window.setFixedSize(holder->width() + 8, top + units.y(14) + 6);
  general->set_button_host(&window);
  security->set_button_host(&window);

  // "general-kept": a printer that keeps its documents in the default folder (action "Nothing").
  const bool kept = std::strcmp(mode, "general-kept") == 0;
  const smart_ptr<model::printer> printer = sample_printer(kept ? model::action_none : model::action_open);
  const bool locked = std::strcmp(mode, "security-locked") == 0;
  if (locked) printer->setAcl({"alice", "carol"});
  general->set_active(true);
  general->show_printer(printer);
  security->show_printer(printer);
  QObject::connect(holder, &QTabWidget::currentChanged, [&](int index) {
    general->set_active(index == 0);
    security->set_active(index == 1);
  });
  window.show();

  if (std::strcmp(mode, "general-edit") == 0) {
    general->begin_edit();
    set_page_button_visible(&window, button_edit, false);
    set_page_button_visible(&window, button_save, true);
    set_page_button_visible(&window, button_cancel, true);
  } else if (std::strcmp(mode, "general-refused") == 0) {
    // A read-only folder picked with "Other...": the page refuses it with a warning.
    general->begin_edit();
    set_page_button_visible(&window, button_edit, false);
    set_page_button_visible(&window, button_save, true);
    set_page_button_visible(&window, button_cancel, true);
    general->set_folder_chooser(
        [](QWidget*, const std::string&) { return std::optional<std::string>("/sys"); });
    QTimer::singleShot(0, general,
                       [general] { general->run_command(CGeneralSettings::command_other_folder); });
  } else if (locked) {
    holder->setCurrentIndex(1);
  } else if (std::strcmp(mode, "security-add-user") == 0) {
    holder->setCurrentIndex(1);
    auto* dialog = new CEditACL(&window);
    dialog->move(window.x() + 60, window.y() + 120);
    QTimer::singleShot(0, dialog, &QDialog::open);
  }
  return application.exec();
}
