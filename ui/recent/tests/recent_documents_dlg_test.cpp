#include "ui/recent/recent_documents_dlg.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/values.h"
#include "spooler/delivery_failure.h"
#include "ui/test_support/sample_documents.h"

namespace quorvane {
namespace {

constexpr int64_t noon = 1'800'000'000;

// The window over links that record what it asks, with two documents kept in a temporary folder and one
// that failed.
class RecentDocumentsWindow : public ::testing::Test {
 protected:
  RecentDocumentsWindow() {
    listed = {kept("c", "contract", noon), failed("b", "broken scan", noon - 60),
              kept("a", "agenda", noon - 120)};
    links.load = [this] { return listed; };
    links.unlist = [this](const std::string& uuid) {
      unlisted.push_back(uuid);
      if (!unlist_works) return false;
      std::erase_if(listed, [&](const delivered_document& d) { return d.uuid == uuid; });
      return true;
    };
    links.open = [this](const std::string& file) { opened.push_back(file); };
    links.show_in_folder = [this](const std::string& file) { shown.push_back(file); };
    links.print_printers = [this] { return printers; };
    links.print_again = [this](const recent_row& row, model::printer_ptr printer,
                               std::function<void(std::string)> done) {
      printed.push_back(row.file + " on " + printer->name().narrow());
      print_done = std::move(done);
    };
    links.choose_printer = [this](QWidget*, const QStringList& names) -> std::optional<int> {
      offered = names;
      return choice;
    };
    for (const char* queue : {"Laser", "Photo"}) {
      auto p = make_counted<model::printer>();
      p->setName(wide_string::from_narrow(queue));
      p->setDisplayName(std::string("\xee\x80\x8c") + queue + " printer");
      p->setAction(model::action_print);
      printers.push_back(p);
    }
  }

  delivered_document kept(const std::string& uuid, const std::string& name, int64_t when) {
    delivered_document d = testing::saved_document(uuid, name, when, folder.path().toStdString());
    QFile file(QString::fromStdString(d.file));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("%PDF-1.4\n%%EOF\n");
    return d;
  }
  delivered_document failed(const std::string& uuid, const std::string& name, int64_t when) {
    delivered_document d = kept(uuid, name, when);
    d.file.clear();
    d.status = 13;
    d.failure = static_cast<int32_t>(delivery_failure::folder_not_writable);
    return d;
  }

  std::vector<std::string> shown_names() const {
    std::vector<std::string> names;
    const QAbstractItemModel* model = window->list()->model();
    for (int row = 0; row < model->rowCount(); ++row) {
      names.push_back(
          model->index(row, recent_documents_model::document_column).data().toString().toStdString());
    }
    return names;
  }
  std::vector<bool> enabled_items(int row) const {
    std::vector<bool> enabled;
    for (QAction* action : window->context_menu_for(row)->actions()) {
      if (!action->isSeparator()) enabled.push_back(action->isEnabled());
    }
    return enabled;
  }
  void trigger(int row, const char* item) {
    QMenu* menu = window->context_menu_for(row);
    QAction* action = menu->findChild<QAction*>(QString::fromLatin1(item));
    ASSERT_TRUE(action) << item;
    ASSERT_TRUE(action->isEnabled()) << item;
    action->trigger();
  }
  void open_window() { window = std::make_unique<CRecentDocumentsDlg>(links); }

  QTemporaryDir folder;
  std::vector<delivered_document> listed;
  std::vector<model::printer_ptr> printers;
  recent_documents_links links;
  bool unlist_works = true;
  std::optional<int> choice = 1;
  std::vector<std::string> unlisted, opened, shown, printed;
  QStringList offered;
  std::function<void(std::string)> print_done;
  std::unique_ptr<CRecentDocumentsDlg> window;
};

TEST_F(RecentDocumentsWindow, ListsNewestFirstWithEveryColumnAndFollowsArrivals) {
  open_window();
  EXPECT_EQ(shown_names(), (std::vector<std::string>{"contract", "broken scan", "agenda"}));
  EXPECT_FALSE(window->empty_label()->isVisibleTo(window.get()));
  const QAbstractItemModel* model = window->list()->model();
  EXPECT_EQ(model->index(1, recent_documents_model::outcome_column).data().toString().toStdString(),
            std::string("Not delivered: ") + reason_sentence(delivery_failure::folder_not_writable));
  EXPECT_EQ(model->index(0, recent_documents_model::location_column).data().toString(),
            folder.filePath("contract.pdf"));
  EXPECT_EQ(model->index(0, recent_documents_model::from_column).data().toString(), "anna (192.168.1.23)");
  EXPECT_EQ(model->headerData(recent_documents_model::location_column, Qt::Horizontal).toString(),
            "Where It Is Now");
  EXPECT_FALSE(window->list()->isHeaderHidden());

  window->arrive(kept("d", "delivery note", noon + 60));
  EXPECT_EQ(shown_names().front(), "delivery note");
  EXPECT_EQ(shown_names().size(), 4u);
}

TEST_F(RecentDocumentsWindow, TheEmptyListSaysHowToGetAFirstDocumentAndTheSearchSaysWhenNothingMatches) {
  listed.clear();
  open_window();
  QLabel* empty = window->empty_label();
  EXPECT_TRUE(empty->isVisibleTo(window.get()));
  EXPECT_TRUE(empty->text().contains("Print from a phone or tablet")) << empty->text().toStdString();
  EXPECT_GE(empty->geometry().top(), window->list()->geometry().top()) << "inside the list's place";
  EXPECT_LE(empty->geometry().bottom(), window->list()->geometry().bottom());

  window->arrive(kept("a", "agenda", noon));
  EXPECT_FALSE(empty->isVisibleTo(window.get())) << "an arrival replaces the empty text";

  QTest::keyClicks(window->search(), "invoice");
  EXPECT_TRUE(shown_names().empty());
  EXPECT_TRUE(empty->isVisibleTo(window.get()));
  EXPECT_EQ(empty->text(), "No document matches \"invoice\".");
  window->search()->clear();
  EXPECT_EQ(shown_names(), (std::vector<std::string>{"agenda"}));
  EXPECT_FALSE(empty->isVisibleTo(window.get()));
}

TEST_F(RecentDocumentsWindow, TheSearchBoxNarrowsTheListAsTheUserTypes) {
  open_window();
  QTest::keyClicks(window->search(), "SCAN");
  EXPECT_EQ(shown_names(), (std::vector<std::string>{"broken scan"}));
  window->search()->clear();
  QTest::keyClicks(window->search(), "not delivered");
  EXPECT_EQ(shown_names(), (std::vector<std::string>{"broken scan"})) << "the outcome is searched too";
  window->search()->clear();
  QTest::keyClicks(window->search(), "192.168");
  EXPECT_EQ(shown_names().size(), 3u);
}

TEST_F(RecentDocumentsWindow, TheContextMenuOffersWhatAppliesAndEachItemActsOnItsRow) {
  open_window();
  // Open, Show in Folder, Print Again, Remove From List.
  EXPECT_EQ(enabled_items(0), (std::vector<bool>{true, true, true, true}));
  EXPECT_EQ(enabled_items(1), (std::vector<bool>{false, false, false, true}))
      << "a failed delivery kept no file";
  const std::string contract = folder.filePath("contract.pdf").toStdString();

  trigger(0, "open");
  trigger(0, "showInFolder");
  EXPECT_EQ(opened, std::vector<std::string>{contract});
  EXPECT_EQ(shown, std::vector<std::string>{contract});

  // A double click opens as well.
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  const QRect agenda = window->list()->visualRect(window->list()->model()->index(2, 1));
  // (The first click of a double click, as a mouse sends it: the view opens only the row it pressed.)
  QTest::mouseClick(window->list()->viewport(), Qt::LeftButton, {}, agenda.center());
  QTest::mouseDClick(window->list()->viewport(), Qt::LeftButton, {}, agenda.center());
  EXPECT_EQ(opened.back(), folder.filePath("agenda.pdf").toStdString());

  // Print Again offers the printers that print on CUPS, by their shown names, and prints on the one chosen.
  trigger(0, "printAgain");
  EXPECT_EQ(offered, (QStringList{"Laser printer", "Photo printer"}));
  EXPECT_EQ(printed, std::vector<std::string>{contract + " on Photo"});
  EXPECT_EQ(window->status_label()->text(), "Printing 'contract' on 'Photo printer'...");
  print_done("");
  EXPECT_EQ(window->status_label()->text(), "'contract' was sent to 'Photo printer' again.");
  trigger(2, "printAgain");
  print_done(reason_sentence(delivery_failure::printer_stopped));
  EXPECT_EQ(window->status_label()->text().toStdString(),
            std::string("Unable to print 'agenda' on 'Photo printer': ") +
                reason_sentence(delivery_failure::printer_stopped));
  choice.reset();
  trigger(0, "printAgain");
  EXPECT_EQ(printed.size(), 2u) << "cancelled in the chooser: nothing printed";

  // Remove From List takes the row off, for good: the next load does not bring it back.
  trigger(1, "remove");
  EXPECT_EQ(unlisted, std::vector<std::string>{"b"});
  EXPECT_EQ(shown_names(), (std::vector<std::string>{"contract", "agenda"}));
  window->reload();
  EXPECT_EQ(shown_names(), (std::vector<std::string>{"contract", "agenda"}));
  // A removal the database refuses keeps the row and says so.
  unlist_works = false;
  trigger(0, "remove");
  EXPECT_EQ(shown_names(), (std::vector<std::string>{"contract", "agenda"}));
  EXPECT_TRUE(window->status_label()->text().startsWith("Unable to remove 'contract' from the list"));
}

TEST_F(RecentDocumentsWindow, WithoutACupsPrinterPrintAgainIsOffAndAFileGoneSinceCannotBeOpened) {
  printers.clear();
  ASSERT_TRUE(QFile::remove(folder.filePath("agenda.pdf")));
  open_window();
  EXPECT_EQ(enabled_items(0), (std::vector<bool>{true, true, false, true}));
  EXPECT_EQ(enabled_items(2), (std::vector<bool>{false, false, false, true}));
  EXPECT_EQ(window->list()->model()->index(2, recent_documents_model::location_column).data().toString(),
            "No longer there: " + folder.filePath("agenda.pdf"));
  window->run(CRecentDocumentsDlg::command::open, 2);
  EXPECT_TRUE(opened.empty());
}

}  // namespace
}  // namespace quorvane
