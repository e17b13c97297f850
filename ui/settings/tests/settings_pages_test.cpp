// The settings pages offscreen: view and edit mode, the choosers, switching printers, the access list and
// the main window's page buttons.
#include <stdlib.h>

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "test_support/scoped_environment.h"
#include "test_support/temporary_folder.h"
#include "ui/layout/dialog_layout.h"
#include "ui/lists/acl_list.h"
#include "ui/lists/attribute_list.h"
#include "ui/settings/general_page.h"
#include "ui/settings/page_buttons.h"
#include "ui/settings/security_page.h"
#include "ui/settings/user_accounts_dlg.h"

namespace quorvane {
namespace {

const std::string pc_prefix = "\xEE\x80\x8C";  // U+E00C

smart_ptr<model::printer> make_printer(const std::string& display_name, int32_t action = 0,
                                       const std::string& param = "") {
  auto p = make_counted<model::printer>();
  p->setUuid(new_uuid());
  p->setDisplayName(display_name);
  p->setLocation(u"Quorvane @ host");
  p->setAction(action);
  p->setActionParam(wide_string::from_narrow(param));
  p->setMedia({make_counted<model::media>(*model::builtin_media_at(0))});
  return p;
}

/// Stands in for the main window: the five page buttons, and what the pages send.
class SettingsPagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int id : {button_add_user, button_remove_user, button_edit, button_cancel, button_save}) {
      auto* button = new QPushButton(&host_);
      button->setProperty("ctrlId", id);
    }
    for (auto* page : {static_cast<QWidget*>(&general_), static_cast<QWidget*>(&security_)})
      page->setParent(&host_);
    general_.set_button_host(&host_);
    general_.set_update_printer([this](smart_ptr<model::printer> p) { sent_.push_back(p); });
    general_.set_folder_chooser([this](QWidget*, const std::string&) { return folder_answer_; });
    general_.set_application_chooser([this](QWidget*) { return application_answer_; });
    security_.set_button_host(&host_);
    security_.set_update_printer([this](smart_ptr<model::printer> p) { sent_.push_back(p); });
    host_.show();
  }

  QPushButton* button(int id) { return find_control<QPushButton>(&host_, id); }
  QWidget* control(int id) { return general_.control(id); }
  QString text(int id) { return static_cast<QLabel*>(control(id))->text(); }
  QLineEdit* edit(int id) { return static_cast<QLineEdit*>(control(id)); }

  QWidget host_;
  CGeneralSettings general_;
  CSecuritySettings security_;
  std::vector<smart_ptr<model::printer>> sent_;
  std::optional<std::string> folder_answer_;
  std::optional<std::string> application_answer_;
};

TEST_F(SettingsPagesTest, ViewModeShowsThePrinterWithoutItsPrefix) {
  auto p = make_printer(pc_prefix + "Open On My PC @ host", 1);
  general_.set_active(true);
  general_.show_printer(p);
  EXPECT_EQ(text(CGeneralSettings::id_name), "Open On My PC @ host");
  EXPECT_EQ(text(CGeneralSettings::id_location), "Quorvane @ host");
  EXPECT_EQ(text(CGeneralSettings::id_folder), "Default");
  EXPECT_EQ(text(CGeneralSettings::id_action_label), "Open With:");
  EXPECT_EQ(text(CGeneralSettings::id_action), "Default");
  EXPECT_TRUE(control(CGeneralSettings::id_name)->isVisible());
  EXPECT_FALSE(control(CGeneralSettings::id_name_edit)->isVisible());
  EXPECT_FALSE(control(CGeneralSettings::id_folder_button)->isVisible());
  EXPECT_EQ(general_.attributes()->rows().size(), 3u);  // FEATURES, PAPER, A4
  EXPECT_FALSE(general_.attributes()->edit_mode());
  // The table's rectangles in pixels (6 x 13 base units).
  EXPECT_EQ(control(CGeneralSettings::id_name_edit)->geometry(), QRect(177, 26, 377, 24));
  EXPECT_EQ(general_.attributes()->geometry(), QRect(12, 174, 543, 315));
  EXPECT_EQ(general_.size(), QSize(569, 505));
}

TEST_F(SettingsPagesTest, ViewModeCutsLongTextsInTheMiddleLikeEditModeAndEditStartsFromTheWholeText) {
  const std::string long_name =
      "Printer of the second floor reading room beside the north staircase, east end";
  auto p = make_printer(pc_prefix + long_name, model::action_none);
  general_.set_active(true);
  general_.show_printer(p);
  auto* name = qobject_cast<elided_label*>(control(CGeneralSettings::id_name));
  ASSERT_TRUE(name) << "the view-mode texts are elided labels";
  EXPECT_TRUE(name->is_elided());
  EXPECT_TRUE(name->shown_text().startsWith("Printer")) << name->shown_text().toStdString();
  EXPECT_TRUE(name->shown_text().endsWith("east end")) << name->shown_text().toStdString();
  for (int id : {CGeneralSettings::id_location, CGeneralSettings::id_folder, CGeneralSettings::id_action}) {
    EXPECT_TRUE(qobject_cast<elided_label*>(control(id))) << id;
  }
  general_.begin_edit();
  EXPECT_EQ(edit(CGeneralSettings::id_name_edit)->text().toStdString(), long_name);
  general_.cancel_edit();

  // A page grown by the main window shows the whole name.
  general_.set_extra_room(QSize(300, 0));
  EXPECT_FALSE(name->is_elided());
  general_.set_extra_room(QSize(0, 0));
  EXPECT_EQ(general_.size(), QSize(569, 505));
  EXPECT_TRUE(name->is_elided());
}

TEST_F(SettingsPagesTest, RenameKeepsTheThreeBytePrefix) {
  auto p = make_printer(pc_prefix + "Open On My PC @ host", 1);
  general_.set_active(true);
  general_.show_printer(p);
  general_.begin_edit();
  EXPECT_TRUE(edit(CGeneralSettings::id_name_edit)->isVisible());
  EXPECT_EQ(edit(CGeneralSettings::id_name_edit)->text(), "Open On My PC @ host");
  EXPECT_EQ(text(CGeneralSettings::id_action_label), "Action:");
  EXPECT_TRUE(general_.attributes()->edit_mode());
  edit(CGeneralSettings::id_name_edit)->setText("Office");
  edit(CGeneralSettings::id_location_edit)->clear();  // an empty edit keeps the old value
  general_.apply_edit();
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_EQ(sent_[0]->displayName(), pc_prefix + "Office");
  EXPECT_EQ(sent_[0]->location().narrow(), "Quorvane @ host");
  EXPECT_EQ(text(CGeneralSettings::id_name), "Office");
  EXPECT_EQ(text(CGeneralSettings::id_location), "Quorvane @ host");
  EXPECT_FALSE(general_.editing());
  EXPECT_FALSE(general_.attributes()->edit_mode());
  EXPECT_FALSE(control(CGeneralSettings::id_name_edit)->isVisible());
}

TEST_F(SettingsPagesTest, ActionTwoPrinterKeepsFolderAndActionButTakesNameAndFeatures) {
  auto p = make_printer("Office Laser", model::action_print, "Office Laser");
  p->setFeature(model::printer_feature::color, model::feature_offered);
  general_.set_active(true);
  general_.show_printer(p);
  EXPECT_EQ(text(CGeneralSettings::id_action_label), "Print:");
  general_.begin_edit();
  EXPECT_TRUE(control(CGeneralSettings::id_folder)->isVisible());
  EXPECT_TRUE(control(CGeneralSettings::id_action)->isVisible());
  EXPECT_FALSE(control(CGeneralSettings::id_folder_button)->isVisible());
  EXPECT_FALSE(control(CGeneralSettings::id_action_button)->isVisible());
  EXPECT_FALSE(control(CGeneralSettings::id_application_button)->isVisible());
  EXPECT_EQ(edit(CGeneralSettings::id_name_edit)->text(), "Office Laser") << "no prefix to skip";
  folder_answer_ = "/tmp";
  general_.run_command(CGeneralSettings::command_other_folder);
  general_.run_command(CGeneralSettings::command_nothing);
  ASSERT_TRUE(general_.attributes()->attributes()->flip(1));  // Color on
  edit(CGeneralSettings::id_name_edit)->setText("Laser");
  general_.apply_edit();
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_EQ(p->action(), model::action_print);
  EXPECT_EQ(p->directory().narrow(), "");
  EXPECT_EQ(p->actionParam().narrow(), "Office Laser");
  EXPECT_EQ(p->displayName(), "Laser");
  EXPECT_EQ(p->color() & model::feature_on, model::feature_on);
}

TEST_F(SettingsPagesTest, ChoosersChangeTheWorkingValuesAndNothingClearsTheApplication) {
  auto p = make_printer(pc_prefix + "Office", model::action_open, "/usr/bin/gimp");
  general_.set_active(true);
  general_.show_printer(p);
  general_.begin_edit();
  auto* folder = static_cast<QPushButton*>(control(CGeneralSettings::id_folder_button));
  auto* action = static_cast<QPushButton*>(control(CGeneralSettings::id_action_button));
  auto* application = static_cast<QPushButton*>(control(CGeneralSettings::id_application_button));
  EXPECT_TRUE(folder->isVisible());
  EXPECT_FALSE(control(CGeneralSettings::id_folder)->isVisible());
  EXPECT_EQ(folder->text(), "Default");
  EXPECT_EQ(action->text(), "Open With");
  EXPECT_TRUE(application->isVisible());
  EXPECT_EQ(application->text(), "gimp");
  EXPECT_NE(folder->menu(), nullptr) << "opens its menu on press";
  EXPECT_EQ(folder->menu()->actions().size(), 3);  // Default, separator, Other...

  const testing_support::temporary_folder incoming;
  folder_answer_ = incoming.path();
  folder->menu()->findChild<QAction*>("command32810")->trigger();
  EXPECT_EQ(folder->toolTip(), QString::fromStdString(incoming.path()));
  folder_answer_.reset();  // cancelled
  general_.run_command(CGeneralSettings::command_other_folder);
  EXPECT_EQ(general_.edits().folder(), incoming.path());
  // A folder that cannot take documents is refused with a word to the user.
  std::vector<std::string> refusals;
  general_.set_refusal_notice([&](QWidget*, const std::string& message) { refusals.push_back(message); });
  folder_answer_ = incoming.path() + "/gone";
  general_.run_command(CGeneralSettings::command_other_folder);
  ASSERT_EQ(refusals.size(), 1u);
  EXPECT_EQ(refusals[0], "Unable to use folder '" + *folder_answer_ +
                             "': it does not exist or is not a folder. Choose another folder.");
  EXPECT_EQ(general_.edits().folder(), incoming.path());
  EXPECT_EQ(folder->toolTip(), QString::fromStdString(incoming.path()));

  action->menu()->findChild<QAction*>("command32814")->trigger();  // Nothing
  EXPECT_EQ(action->text(), "Nothing");
  EXPECT_FALSE(application->isVisible());
  EXPECT_EQ(general_.edits().application(), "");
  action->menu()->findChild<QAction*>("command32815")->trigger();  // Open With
  EXPECT_TRUE(application->isVisible());
  EXPECT_EQ(application->text(), "Default");
  application_answer_ = "/usr/bin/eog";
  general_.run_command(CGeneralSettings::command_other_application);
  EXPECT_EQ(application->text(), "eog");
  general_.run_command(CGeneralSettings::command_default_application);
  EXPECT_EQ(application->text(), "Default");

  general_.apply_edit();
  EXPECT_EQ(p->directory().narrow(), incoming.path());
  EXPECT_EQ(p->action(), model::action_open);
  EXPECT_EQ(p->actionParam().narrow(), "");
  // The folder and action texts stay until the service reports the printer back.
  EXPECT_EQ(text(CGeneralSettings::id_folder), "Default");
}

TEST_F(SettingsPagesTest, CancelDropsTheEdits) {
  auto p = make_printer(pc_prefix + "Office");
  general_.set_active(true);
  general_.show_printer(p);
  general_.begin_edit();
  edit(CGeneralSettings::id_name_edit)->setText("Other");
  general_.attributes()->attributes()->flip(2);  // A4 off
  general_.cancel_edit();
  EXPECT_TRUE(sent_.empty());
  EXPECT_EQ(p->displayName(), pc_prefix + "Office");
  EXPECT_TRUE(p->media()[0]->enabled());
  EXPECT_TRUE(general_.attributes()->rows()[2].value);
  EXPECT_EQ(text(CGeneralSettings::id_name), "Office");
  EXPECT_FALSE(general_.attributes()->edit_mode());
}

TEST_F(SettingsPagesTest, SwitchingPrintersWhileEditingAppliesTheEditsToTheFirst) {
  auto first = make_printer(pc_prefix + "First");
  auto second = make_printer(pc_prefix + "Second");
  general_.set_active(true);
  general_.show_printer(first);
  general_.begin_edit();
  edit(CGeneralSettings::id_location_edit)->setText("Cellar");
  general_.attributes()->attributes()->flip(2);  // A4 off
  general_.show_printer(second);
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_EQ(sent_[0].get(), first.get());
  EXPECT_EQ(first->location().narrow(), "Cellar");
  EXPECT_FALSE(first->media()[0]->enabled());
  EXPECT_FALSE(general_.editing());
  EXPECT_EQ(text(CGeneralSettings::id_name), "Second");
  EXPECT_TRUE(general_.attributes()->rows()[2].value) << "the second printer's rows";
  general_.show_printer(second);  // the same printer again: nothing
  EXPECT_EQ(sent_.size(), 1u);
}

TEST_F(SettingsPagesTest, PagesShowAndHideTheMainWindowsButtons) {
  general_.set_active(true);
  EXPECT_TRUE(button(button_edit)->isVisible());
  for (int id : {button_save, button_cancel, button_add_user, button_remove_user})
    EXPECT_FALSE(button(id)->isVisible()) << id;
  general_.set_active(false);
  security_.set_active(true);
  for (int id : {button_save, button_cancel, button_edit}) EXPECT_FALSE(button(id)->isVisible()) << id;
  EXPECT_TRUE(button(button_add_user)->isVisible());
  EXPECT_TRUE(button(button_remove_user)->isVisible());
  EXPECT_FALSE(button(button_add_user)->isEnabled()) << "no printer yet";
}

TEST_F(SettingsPagesTest, SecurityPageAddsAndRemovesUsers) {
  auto p = make_printer(pc_prefix + "Office");
  security_.set_active(true);
  security_.show_printer(p);
  EXPECT_EQ(security_.users()->names(), QStringList{"Everyone"});
  EXPECT_FALSE(button(button_remove_user)->isEnabled());
  EXPECT_TRUE(button(button_add_user)->isEnabled());
  EXPECT_EQ(security_.users()->selected_row(), 0);

  security_.set_user_chooser([](QWidget*) { return std::optional<std::string>("alice"); });
  security_.ask_and_add_user();
  security_.add_user("alice");
  ASSERT_EQ(sent_.size(), 2u);
  EXPECT_EQ(p->acl(), (std::vector<std::string>{"alice", "alice"}));
  EXPECT_EQ(security_.users()->names(), QStringList{"Everyone"}) << "shown when the service reports back";

  // The service reports back one user; removing the last one leaves the list empty.
  auto reported = make_printer(pc_prefix + "Office");
  reported->setUuid(p->uuid());
  reported->setAcl({"alice"});
  security_.show_printer(reported);
  EXPECT_EQ(security_.users()->names(), QStringList{"alice"});
  EXPECT_TRUE(button(button_remove_user)->isEnabled());
  security_.remove_selected_user();
  ASSERT_EQ(sent_.size(), 3u);
  EXPECT_TRUE(reported->acl().empty());
  security_.refresh();
  EXPECT_EQ(security_.users()->names(), QStringList{"Everyone"});
  EXPECT_FALSE(button(button_remove_user)->isEnabled());
  security_.remove_selected_user();  // "Everyone": nothing changes, the printer is still sent
  EXPECT_EQ(sent_.size(), 4u);
  EXPECT_TRUE(reported->acl().empty());
}

TEST_F(SettingsPagesTest, GeneralPageShowsTheSecondPrintersFeaturesAfterASwitchOnTheSecurityPage) {
  auto first = make_printer(pc_prefix + "First");
  auto second = make_printer(pc_prefix + "Second");
  second->setFeature(model::printer_feature::duplex, model::feature_offered | model::feature_on);
  general_.set_active(true);
  general_.show_printer(first);
  general_.set_active(false);
  security_.set_active(true);
  // The main window gives the newly selected printer to both pages.
  general_.show_printer(second);
  security_.show_printer(second);
  security_.set_active(false);
  general_.set_active(true);
  const std::vector<attribute_entry>& rows = general_.attributes()->rows();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[1].kind, attribute_duplex);
  EXPECT_TRUE(rows[1].value);
}

TEST(EditAclTest, FirstAccountIsChosenAndSelectionChangesIt) {
  CEditACL dialog(nullptr, std::vector<std::string>{"alice", "bob"});
  EXPECT_EQ(dialog.windowTitle(), "Add User");
  EXPECT_EQ(dialog.users()->names(), (QStringList{"alice", "bob"}));
  EXPECT_EQ(dialog.chosen_user(), "alice");
  dialog.users()->select_row(1);
  EXPECT_EQ(dialog.chosen_user(), "bob");
  EXPECT_EQ(dialog.size(), QSize(474, 297));

  CEditACL empty(nullptr, std::vector<std::string>{});
  EXPECT_EQ(empty.chosen_user(), "");
}

TEST(EditAclTest, OkAndCancelEndTheDialog) {
  CEditACL dialog(nullptr, std::vector<std::string>{"alice"});
  dialog.show();
  QTest::mouseClick(find_control<QPushButton>(&dialog, CEditACL::id_ok), Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  dialog.show();
  QTest::mouseClick(find_control<QPushButton>(&dialog, CEditACL::id_cancel), Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(SettingsPagesTest, ActionIconOfAChosenApplication) {
  const testing_support::temporary_folder folder;
  const std::filesystem::path root = folder.path();
  std::filesystem::create_directories(root / "share/applications");
  QPixmap red(48, 48);
  red.fill(Qt::red);
  red.save(QString::fromStdString((root / "red.png").string()));
  std::ofstream(root / "share/applications/viewer.desktop")
      << "[Desktop Entry]\nType=Application\nExec=/usr/bin/viewer-of-tests %f\nIcon="
      << (root / "red.png").string() << "\n";
  const testing_support::scoped_environment dirs("XDG_DATA_DIRS", (root / "share").string());

  auto with_entry = make_printer(pc_prefix + "A", model::action_open, "/usr/bin/viewer-of-tests");
  general_.show_printer(with_entry);
  QImage icon = static_cast<QLabel*>(control(CGeneralSettings::id_icon))->pixmap().toImage();
  EXPECT_EQ(icon.pixelColor(24, 24), QColor(Qt::red)) << "the desktop entry's icon";

  auto unknown = make_printer(pc_prefix + "B", model::action_open, "/opt/none/no-such-program-of-tests");
  general_.show_printer(unknown);
  icon = static_cast<QLabel*>(control(CGeneralSettings::id_icon))->pixmap().toImage();
  EXPECT_EQ(icon, console_images()("IDI_PC").scaled(48, 48).toImage().convertToFormat(icon.format()))
      << "IDI_PC";
}

}  // namespace
}  // namespace quorvane
