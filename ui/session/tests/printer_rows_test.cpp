#include "ui/session/printer_rows.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quorvane {
namespace {

model::printer_ptr printer_named(const std::string& display_name, const std::string& uuid) {
  model::printer_ptr p = make_counted<model::printer>();
  p->setDisplayName(display_name);
  p->setUuid(uuid);
  return p;
}

std::vector<std::string> shown_rows(const printer_list_model& rows) {
  std::vector<std::string> shown;
  for (int row = 0; row < rows.rowCount(); ++row) shown.push_back(rows.shown_text(row));
  return shown;
}

struct prefix_case {
  const char* name;
  std::string display_name;
  std::string prefix;
};

TEST(PrinterRows, TheHiddenPrefixIsAPrivateUseCharacterOnly) {
  const prefix_case cases[] = {
      // The console's own marks are hidden.
      {"open mark U+E00C", "\xEE\x80\x8COpen On My PC @ pc", "\xEE\x80\x8C"},
      {"dropbox mark U+E049", "\xEE\x81\x89Send To Dropbox", "\xEE\x81\x89"},
      {"last private-use character U+F8FF", "\xEF\xA3\xBFX", "\xEF\xA3\xBF"},
      // Anything else is shown whole: a CUPS queue's description has no mark.
      {"plain name", "Office", ""},
      {"shorter than three bytes", "ab", ""},
      {"empty", "", ""},
      {"U+F900 is not private use", "\xEF\xA4\x80X", ""},
      {"two-byte letters", "\xC3\x84rger", ""},
      {"cut-off mark", "\xEE\x80", ""},
      {"mark without continuation bytes",
       "\xEE"
       "ab",
       ""},
  };
  for (const prefix_case& c : cases) {
    EXPECT_EQ(display_name_prefix(c.display_name), c.prefix) << c.name;
    EXPECT_EQ(shown_display_name(c.display_name), c.display_name.substr(c.prefix.size())) << c.name;
  }
}

TEST(PrinterRows, SortIsByUnsignedBytesAndEqualNamesKeepTheirOrder) {
  printer_list_model rows;
  rows.insert_printer(
      printer_named("\xEE\x80\x8C"
                    "beta",
                    "1"));
  rows.insert_printer(printer_named("Zulu", "2"));
  rows.insert_printer(printer_named("\xC3\x84pfel", "3"));  // bytes above ASCII sort after "Zulu"
  rows.insert_printer(
      printer_named("\xEE\x80\x8C"
                    "Alpha",
                    "4"));
  rows.insert_printer(printer_named("Alph", "5"));  // a prefix of another name sorts first
  rows.insert_printer(
      printer_named("\xEE\x81\x89"
                    "beta",
                    "6"));
  EXPECT_EQ(shown_rows(rows),
            (std::vector<std::string>{"Alph", "Alpha", "Zulu", "beta", "beta", "\xC3\x84pfel"}));
  // Names that differ only in their hidden mark compare equal; a new row goes in front of its equals.
  EXPECT_EQ(rows.printer_at(3)->uuid(), "6");
  EXPECT_EQ(rows.printer_at(4)->uuid(), "1");
}

TEST(PrinterRows, ARowInsertedIntoASortedListGoesStraightToItsPlace) {
  printer_list_model rows;
  QAbstractItemModelTester tester(&rows, QAbstractItemModelTester::FailureReportingMode::Fatal);
  for (const char* name : {"Delta", "Alpha", "Charlie"}) rows.insert_printer(printer_named(name, name));
  QSignalSpy inserted(&rows, &QAbstractItemModel::rowsInserted);
  QSignalSpy moved(&rows, &QAbstractItemModel::layoutChanged);
  EXPECT_EQ(rows.insert_printer(printer_named("Bravo", "b")), 1);
  EXPECT_EQ(shown_rows(rows), (std::vector<std::string>{"Alpha", "Bravo", "Charlie", "Delta"}));
  ASSERT_EQ(inserted.count(), 1);
  EXPECT_EQ(inserted[0][1].toInt(), 1) << "inserted where it belongs";
  EXPECT_EQ(moved.count(), 0) << "no other row moves";
}

TEST(PrinterRows, InsertingAfterARenameBrokeTheOrderSortsTheWholeList) {
  printer_list_model rows;
  QAbstractItemModelTester tester(&rows, QAbstractItemModelTester::FailureReportingMode::Fatal);
  for (const char* name : {"A", "B", "C"}) rows.insert_printer(printer_named(name, name));
  // A rename that still fits between its neighbours keeps the order; one that does not breaks it.
  rows.set_printer(1, printer_named("Bb", "B"));
  EXPECT_EQ(rows.insert_printer(printer_named("Ab", "ab")), 1);
  rows.set_printer(0, printer_named("D", "A"));
  EXPECT_EQ(shown_rows(rows), (std::vector<std::string>{"D", "Ab", "Bb", "C"}));
  EXPECT_EQ(rows.insert_printer(printer_named("Ba", "ba")), 1);
  EXPECT_EQ(shown_rows(rows), (std::vector<std::string>{"Ab", "Ba", "Bb", "C", "D"}));
  // Sorted again: the next row goes straight to its place.
  EXPECT_EQ(rows.insert_printer(printer_named("E", "e")), 5);
}

TEST(PrinterRows, RowsCarryWhatTheListDraws) {
  printer_list_model rows;
  QAbstractItemModelTester tester(&rows, QAbstractItemModelTester::FailureReportingMode::Fatal);
  model::printer_ptr p = printer_named("\xEE\x80\x8COffice", "u-1");
  p->setLocation(u"Room 4");
  p->setEnabled(false);
  rows.insert_printer(p);
  const QModelIndex at = rows.index(0, 0);
  EXPECT_EQ(at.data(Qt::DisplayRole).toString(), "Office");
  EXPECT_EQ(at.data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Unchecked);
  EXPECT_EQ(at.data(printer_list_model::location_role).toString(), "Room 4");
  EXPECT_FALSE(at.data(printer_list_model::locked_role).toBool());
  EXPECT_EQ(at.data(printer_list_model::printer_role).value<model::printer_ptr>().get(), p.get());
  EXPECT_EQ(at.data(printer_list_model::uuid_role).toString(), "u-1");
  // Every column answers every role: a three-column view draws the check, the texts and the lock from them.
  EXPECT_EQ(rows.columnCount(), 3);
  const QModelIndex lock_column = rows.index(0, 2);
  EXPECT_EQ(lock_column.data(Qt::UserRole + 1).value<model::printer_ptr>().get(), p.get());
  EXPECT_EQ(lock_column.data(Qt::DisplayRole).toString(), "Office");
  p->setAcl({"ann"});
  EXPECT_TRUE(at.data(printer_list_model::locked_role).toBool());
  EXPECT_FALSE(rows.index(1, 0).data(Qt::DisplayRole).isValid());
}

TEST(PrinterRows, TickingTheCheckBoxSwitchesThePrinterAndReportsItOnce) {
  printer_list_model rows;
  std::vector<model::printer_ptr> reported;
  rows.set_enabled_handler([&](model::printer_ptr p) { reported.push_back(p); });
  model::printer_ptr p = printer_named("Office", "u-1");
  rows.insert_printer(p);
  QSignalSpy changed(&rows, &QAbstractItemModel::dataChanged);

  EXPECT_TRUE(rows.setData(rows.index(0, 0), Qt::Unchecked, Qt::CheckStateRole));
  EXPECT_FALSE(p->enabled());
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0].get(), p.get());
  EXPECT_EQ(changed.count(), 1);

  // The state the printer already has: nothing to send.
  EXPECT_TRUE(rows.setData(rows.index(0, 0), Qt::Unchecked, Qt::CheckStateRole));
  EXPECT_EQ(reported.size(), 1u);
  EXPECT_FALSE(rows.setData(rows.index(0, 0), "x", Qt::DisplayRole));
}

TEST(PrinterRows, ReplacingARowsPrinterNeitherSortsNorMovesTheSelection) {
  printer_list_model rows;
  QAbstractItemModelTester tester(&rows, QAbstractItemModelTester::FailureReportingMode::Fatal);
  rows.insert_printer(printer_named("A", "a"));
  rows.insert_printer(printer_named("B", "b"));
  rows.set_printer(0, printer_named("C", "a"));
  EXPECT_EQ(shown_rows(rows), (std::vector<std::string>{"C", "B"}));
  EXPECT_EQ(rows.find_row("a"), 0);
  // Sorting reports where a followed row went; a persistent index (a view's selection) follows too.
  QPersistentModelIndex selection(rows.index(0, 0));
  EXPECT_EQ(rows.sort_by_name(0), 1);
  EXPECT_EQ(selection.row(), 1);
  EXPECT_EQ(shown_rows(rows), (std::vector<std::string>{"B", "C"}));
  rows.remove_row(0);
  EXPECT_EQ(rows.find_row("b"), -1);
  rows.clear();
  EXPECT_EQ(rows.rowCount(), 0);
}

}  // namespace
}  // namespace quorvane
