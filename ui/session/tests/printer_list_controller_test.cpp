#include "ui/session/printer_list_controller.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "database/object.h"
#include "ui/session/default_printers.h"
#include "ui/test_support/console_test_env.h"

namespace quorvane {
namespace {

// Pages that record what the flows asked of them.
struct recording_pages : printer_pages {
  std::vector<std::string> calls;
  model::printer_ptr shown;
  bool editing = false;

  void show_printer(model::printer_ptr printer) override {
    if (editing && printer.get() != shown.get()) apply_edit();
    shown = printer;
    calls.push_back("show " + (printer ? printer->uuid() : std::string("none")));
  }
  void begin_edit() override {
    editing = true;
    calls.push_back("begin");
  }
  void apply_edit() override {
    if (!editing) return;
    editing = false;
    calls.push_back("apply " + shown->uuid());
  }
  void cancel_edit() override {
    if (!editing) return;
    editing = false;
    calls.push_back("cancel");
  }
};

model::printer_ptr service_printer(const std::string& uuid, const std::string& name,
                                   bool auto_created = false) {
  model::printer_ptr p = make_counted<model::printer>();
  p->setUuid(uuid);
  p->setDisplayName(name);
  p->setAutoCreated(auto_created);
  return p;
}

class PrinterListController : public ::testing::Test {
 protected:
  PrinterListController()
      : list(
            rows, &pages, [this](model::printer_ptr p) { updates.push_back(p); },
            [this](model::printer_ptr p) { removals.push_back(p); }) {
    list.on_selection_changed([this](int row) { view_selection = row; });
    list.enter_connected();
  }

  void update(std::list<model::printer_ptr> printers) { list.printersWereUpdated(printers); }
  void remove(std::list<model::printer_ptr> printers) { list.printersWereRemoved(printers); }
  std::vector<std::string> shown() const {
    std::vector<std::string> names;
    for (int row = 0; row < rows.rowCount(); ++row) names.push_back(rows.shown_text(row));
    return names;
  }
  bool visible(console_button b) const { return list.button(b).visible; }

  testing::console_test_env env;
  printer_list_model rows;
  recording_pages pages;
  std::vector<model::printer_ptr> updates;
  std::vector<model::printer_ptr> removals;
  int view_selection = -2;
  printer_list_controller list;
};

TEST_F(PrinterListController, UpdatesAddSortedRowsSelectRowZeroAndFollowTheStoredRecord) {
  model::printer_ptr stored = service_printer("u-b",
                                              "\xEE\x80\x8C"
                                              "Old name");
  ASSERT_TRUE(stored->save());
  stored.reset();

  update({service_printer("u-b",
                          "\xEE\x80\x8C"
                          "Beta"),
          service_printer("u-a", "Alpha")});
  EXPECT_EQ(shown(), (std::vector<std::string>{"Alpha", "Beta"}));
  EXPECT_EQ(list.selected_row(), 0);
  EXPECT_EQ(view_selection, 0);
  EXPECT_EQ(pages.shown->uuid(), "u-a");
  // Only the printer the database held is stored; the other reaches the list only.
  EXPECT_EQ(database::find_by_uuid<model::printer>("u-b")->displayName(),
            "\xEE\x80\x8C"
            "Beta");
  EXPECT_FALSE(database::find_by_uuid<model::printer>("u-a"));
  EXPECT_TRUE(updates.empty());
}

TEST_F(PrinterListController, AnUpdateOfTheSelectedPrinterReachesThePagesAfterTheirEditsAreApplied) {
  update({service_printer("u-a", "A"), service_printer("u-b", "B")});
  list.edit();
  EXPECT_TRUE(visible(button_save));
  model::printer_ptr newer = service_printer("u-a", "A2");
  update({newer});
  EXPECT_EQ(rows.printer_at(0).get(), newer.get());
  EXPECT_EQ(rows.shown_text(0), "A2");
  ASSERT_GE(pages.calls.size(), 2u);
  EXPECT_EQ(pages.calls[pages.calls.size() - 2], "apply u-a");
  EXPECT_EQ(pages.calls.back(), "show u-a");
  // An update of another row does not touch the pages.
  pages.calls.clear();
  update({service_printer("u-b", "B2")});
  EXPECT_TRUE(pages.calls.empty());
}

TEST_F(PrinterListController, ExistsFalseAndRemovalsDeleteRowsAndUnknownPrintersAreIgnored) {
  update({service_printer("u-a", "A"), service_printer("u-b", "B")});
  model::printer_ptr gone = service_printer("u-a", "A");
  gone->setExists(false);
  model::printer_ptr unknown = service_printer("u-x", "X");
  unknown->setExists(false);
  update({gone, unknown});
  EXPECT_EQ(shown(), (std::vector<std::string>{"B"}));
  EXPECT_EQ(list.selected_row(), 0) << "the selected row went; row 0 is selected instead";
  EXPECT_EQ(pages.shown->uuid(), "u-b");
  remove({service_printer("u-y", "Y")});
  EXPECT_EQ(rows.rowCount(), 1);
  remove({service_printer("u-b", "B")});
  EXPECT_EQ(rows.rowCount(), 0);
  EXPECT_EQ(list.selected_row(), -1);
  EXPECT_FALSE(list.button(button_remove_printer).enabled);
  EXPECT_FALSE(list.button(button_edit).enabled);
}

TEST_F(PrinterListController, AddThenCancelLeavesNoRowAndNothingStored) {
  update({service_printer("u-a", "A")});
  list.add_printer();
  ASSERT_TRUE(list.new_printer_pending());
  const std::string uuid = list.pending_printer_uuid();
  EXPECT_EQ(rows.find_row(uuid), list.selected_row());
  EXPECT_EQ(rows.shown_text(list.selected_row()), "New Printer @ " + host_name().narrow());
  EXPECT_TRUE(pages.editing);
  EXPECT_FALSE(visible(button_edit));
  EXPECT_TRUE(visible(button_save));
  EXPECT_TRUE(visible(button_cancel));

  list.cancel();
  EXPECT_FALSE(list.new_printer_pending());
  EXPECT_EQ(rows.find_row(uuid), -1);
  EXPECT_EQ(list.selected_row(), 0);
  EXPECT_EQ(testing::stored_printer_count(), 0);
  EXPECT_TRUE(updates.empty());
  EXPECT_TRUE(visible(button_edit));
  EXPECT_FALSE(visible(button_save));
}

TEST_F(PrinterListController, AddThenSaveStoresTheNewPrinterAndAppliesTheEdits) {
  list.add_printer();
  const std::string uuid = list.pending_printer_uuid();
  list.save();
  EXPECT_FALSE(list.new_printer_pending());
  model::printer_ptr stored = database::find_by_uuid<model::printer>(uuid);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->name().narrow(), "new_printer");
  EXPECT_EQ(stored->action(), model::action_none);
  EXPECT_EQ(pages.calls.back(), "apply " + uuid) << "the page sends the printer when it applies";
  EXPECT_TRUE(visible(button_edit));
  EXPECT_FALSE(visible(button_cancel));
}

TEST_F(PrinterListController, LeavingAnUnsavedNewPrinterKeepsItAsSaveWould) {
  update({service_printer("u-a", "A")});
  list.add_printer();
  const std::string uuid = list.pending_printer_uuid();
  list.select(rows.find_row("u-a"));
  EXPECT_FALSE(list.new_printer_pending());
  EXPECT_FALSE(list.editing());
  EXPECT_TRUE(database::find_by_uuid<model::printer>(uuid));
  EXPECT_TRUE(visible(button_edit));
}

TEST_F(PrinterListController, RemoveDeletesRowAndRecordAndTellsTheService) {
  model::printer_ptr stored = service_printer("u-a", "A");
  ASSERT_TRUE(stored->save());
  stored.reset();
  update({service_printer("u-a", "A"), service_printer("u-b", "B")});
  list.select(0);
  list.remove_printer();
  EXPECT_EQ(shown(), (std::vector<std::string>{"B"}));
  EXPECT_EQ(testing::stored_printer_count(), 0);
  ASSERT_EQ(removals.size(), 1u);
  EXPECT_EQ(removals[0]->uuid(), "u-a");
  EXPECT_EQ(list.selected_row(), 0);
}

TEST_F(PrinterListController, RemovingASavedPrinterStillDirtyDoesNotWriteItBack) {
  list.add_printer();
  const std::string uuid = list.pending_printer_uuid();
  list.save();
  rows.printer_at(list.selected_row())->setLocation(u"changed after saving");  // dirty, with a row
  list.remove_printer();
  EXPECT_EQ(rows.rowCount(), 0);
  EXPECT_EQ(testing::stored_printer_count(), 0);
}

TEST_F(PrinterListController, RemoveIsDisabledForAPrinterTheServiceCreated) {
  update({service_printer("u-a", "A", /*auto_created=*/true), service_printer("u-b", "B")});
  list.select(0);
  EXPECT_FALSE(list.button(button_remove_printer).enabled);
  list.select(1);
  EXPECT_TRUE(list.button(button_remove_printer).enabled);
}

TEST_F(PrinterListController, ANameReportedByTheServiceSortsTheListAgainAndTheSelectionFollows) {
  update({service_printer("u-a", "Alpha"), service_printer("u-b", "Beta"), service_printer("u-c", "Gamma")});
  list.select(0);
  // The rename's answer: only now does the service's record carry the new name.
  update({service_printer("u-a", "Zeta")});
  EXPECT_EQ(shown(), (std::vector<std::string>{"Beta", "Gamma", "Zeta"}));
  ASSERT_TRUE(list.selected_printer());
  EXPECT_EQ(list.selected_printer()->uuid(), "u-a");
  EXPECT_EQ(list.selected_row(), 2);
  // A name that keeps the order moves nothing.
  update({service_printer("u-b", "Delta")});
  EXPECT_EQ(shown(), (std::vector<std::string>{"Delta", "Gamma", "Zeta"}));
}

TEST_F(PrinterListController, APrinterTheServiceCreatedIsNeverRemovedNorAskedAbout) {
  update({service_printer("u-a", "A", /*auto_created=*/true), service_printer("u-b", "B")});
  list.select(0);
  EXPECT_EQ(list.printer_to_remove(), "");
  list.remove_printer();  // reached another way than the disabled "-"
  EXPECT_EQ(shown(), (std::vector<std::string>{"A", "B"}));
  EXPECT_TRUE(removals.empty()) << "the service would only offer its CUPS queue again";
}

TEST_F(PrinterListController, TheQuestionBeforeRemovingNamesThePrinterAsTheListShowsIt) {
  update({service_printer("u-a",
                          "\xEE\x80\x8C"
                          "Alpha"),
          service_printer("u-b", "Beta", /*auto_created=*/true)});
  list.select(0);
  EXPECT_EQ(list.printer_to_remove(), "Alpha") << "without the hidden prefix";
  list.add_printer();
  EXPECT_EQ(list.printer_to_remove(), "") << "the unsaved new printer is dropped without a question";
  list.cancel();
  list.select(1);
  EXPECT_EQ(list.printer_to_remove(), "") << "created by the service";
}

TEST_F(PrinterListController, EachPageShowsItsOwnButtonsAndTheConnectingViewNone) {
  update({service_printer("u-a", "A")});
  struct expectation {
    const char* name;
    std::vector<console_button> shown;
  };
  auto check = [&](const expectation& e) {
    for (console_button b : console_buttons) {
      const bool want = std::find(e.shown.begin(), e.shown.end(), b) != e.shown.end();
      EXPECT_EQ(visible(b), want) << e.name << ": button " << int(b) << " got " << visible(b) << ", want "
                                  << want;
    }
  };
  check({"connected, general page", {button_add_printer, button_remove_printer, button_edit}});
  list.page_activated(settings_page::security);
  check({"security page", {button_add_printer, button_remove_printer, button_add_user, button_remove_user}});
  list.page_activated(settings_page::general);
  list.edit();
  check({"editing", {button_add_printer, button_remove_printer, button_save, button_cancel}});
  list.enter_connecting();
  check({"connecting", {}});
  EXPECT_FALSE(pages.editing) << "the connecting view drops the edits";
  EXPECT_EQ(rows.rowCount(), 0);
  EXPECT_EQ(view_selection, -1);
}

TEST(DefaultPrinters, OpenOnMyPcAndTheNewPrinterCarryTheirFields) {
  testing::console_test_env env;
  const std::string host = host_name().narrow();
  model::printer_ptr open = make_open_on_my_pc_printer();
  EXPECT_EQ(open->name().narrow(), "open_on_my_pc");
  EXPECT_EQ(open->displayName(),
            "\xEE\x80\x8C"
            "Open On My PC @ " +
                host);
  EXPECT_EQ(open->action(), model::action_open);
  EXPECT_TRUE(open->actionParam().empty());
  EXPECT_EQ(open->location().narrow(), "Quorvane @ " + host);
  EXPECT_EQ(open->make().narrow(), "Quorvane");
  EXPECT_EQ(open->model().narrow(), "Virtual Printer");
  EXPECT_EQ(open->color(), 1);
  EXPECT_EQ(open->landscape() | open->duplex() | open->copy(), 0);
  EXPECT_EQ(open->formats(), model::default_formats());
  ASSERT_EQ(open->media().size(), model::default_printer_media().size());
  EXPECT_NE(open->media()[0].get(), model::default_printer_media()[0].get()) << "sizes are copies";
  EXPECT_EQ(open->uuid().size(), 36u);
  model::printer_ptr added = make_new_printer();
  EXPECT_EQ(added->name().narrow(), "new_printer");
  EXPECT_EQ(added->color(), 0);
  EXPECT_NE(added->uuid(), open->uuid());
}

struct dropbox_case {
  const char* name;
  std::vector<std::string> folders;  // made under HOME
  std::string info_json;             // ~/.dropbox/info.json, "" for none
  std::string want;                  // under HOME, "" for none
};

TEST(DefaultPrinters, TheDropboxFolderIsLookedUpInItsOrder) {
  testing::console_test_env env;
  const std::string home = env.home();
  const dropbox_case cases[] = {
      {"nothing", {}, "", ""},
      {"documents first", {"Documents/Dropbox", "Documents/My Dropbox", "Dropbox"}, "", "Documents/Dropbox"},
      {"then My Dropbox", {"Documents/My Dropbox", "Dropbox"}, "", "Documents/My Dropbox"},
      {"then the client's personal path",
       {"P", "B", "Dropbox"},
       R"({"business":{"path":"HOME/B"},"personal":{"path":"HOME/P"}})",
       "P"},
      {"then its business path", {"B", "Dropbox"}, R"({"business":{"path":"HOME/B"}})", "B"},
      {"a path that is not a folder is skipped",
       {"Dropbox"},
       R"({"personal":{"path":"HOME/none"}})",
       "Dropbox"},
      {"unreadable info.json", {"Dropbox"}, "{not json", "Dropbox"},
      {"last ~/Dropbox", {"Dropbox"}, "", "Dropbox"},
  };
  for (const dropbox_case& c : cases) {
    QDir(QString::fromStdString(home)).removeRecursively();
    QDir().mkpath(QString::fromStdString(home));
    for (const std::string& folder : c.folders) QDir().mkpath(QString::fromStdString(home + "/" + folder));
    if (!c.info_json.empty()) {
      QDir().mkpath(QString::fromStdString(home + "/.dropbox"));
      QString text = QString::fromStdString(c.info_json);
      text.replace("HOME", QString::fromStdString(home));
      QFile file(QString::fromStdString(home + "/.dropbox/info.json"));
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      file.write(text.toUtf8());
    }
    EXPECT_EQ(find_dropbox_folder(), c.want.empty() ? "" : home + "/" + c.want) << c.name;
  }
  // The console's own sub-folder is made on first use.
  EXPECT_EQ(dropbox_quorvane_folder(), home + "/Dropbox/Quorvane");
  EXPECT_TRUE(QDir(QString::fromStdString(home + "/Dropbox/Quorvane")).exists());
}

}  // namespace
}  // namespace quorvane
