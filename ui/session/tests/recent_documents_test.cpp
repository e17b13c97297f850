#include "ui/session/recent_documents.h"

#include <QAbstractItemModelTester>
#include <QDateTime>
#include <QSignalSpy>

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/values.h"
#include "spooler/delivery_failure.h"
#include "ui/test_support/sample_documents.h"

namespace quorvane {
namespace {

constexpr int64_t noon = 1'800'000'000;

// A document as the record lists it: saved into the folder by "Inbox" from anna's phone.
delivered_document saved(const std::string& uuid, const std::string& name, int64_t when = noon) {
  return testing::saved_document(uuid, name, when);
}

// The files that are there: the kept ones except those named "gone".
const recent_documents::exists_function files_there = [](const std::string& path) {
  return path.find("gone") == std::string::npos;
};

std::vector<std::string> shown_names(const recent_documents& list) {
  std::vector<std::string> names;
  for (const recent_row& row : list.rows()) names.push_back(row.document.toStdString());
  return names;
}

TEST(RecentDocuments, EachRowSaysWhatHappenedToItsDocumentAndWhereItIsNow) {
  struct row_case {
    const char* name;
    delivered_document document;
    const char* outcome;
    std::string location;
    std::string file;  // what the context actions get
    const char* from;
  };
  auto with = [](delivered_document d, auto change) {
    change(d);
    return d;
  };
  const std::string folder_failure =
      std::string("Not delivered: ") + reason_sentence(delivery_failure::folder_not_writable);
  const std::string unknown_failure =
      std::string("Not delivered: ") + reason_sentence(delivery_failure::unknown);
  const row_case cases[] = {
      // Delivered, and where the document went.
      {"saved", saved("1", "report"), "Saved in the folder", "/home/anna/Inbox/report.pdf",
       "/home/anna/Inbox/report.pdf", "anna (192.168.1.23)"},
      {"saved, moved away since", saved("2", "gone"), "Saved in the folder",
       "No longer there: /home/anna/Inbox/gone.pdf", "", "anna (192.168.1.23)"},
      {"opened with an application",
       with(saved("3", "photo"),
            [](delivered_document& d) {
              d.action = model::action_open;
              d.action_param = "/usr/bin/eog";
              d.file = "/tmp/spool/photo-5012.jpg";
              d.user.clear();
            }),
       "Opened with eog", "/tmp/spool/photo-5012.jpg", "/tmp/spool/photo-5012.jpg", "192.168.1.23"},
      {"opened with the desktop's application",
       with(saved("4", "memo"),
            [](delivered_document& d) {
              d.action = model::action_open;
              d.device.clear();
            }),
       "Opened", "/home/anna/Inbox/memo.pdf", "/home/anna/Inbox/memo.pdf", "anna"},
      {"printed",
       with(saved("5", "ticket"),
            [](delivered_document& d) {
              d.action = model::action_print;
              d.action_param = "Laser_Floor_2";
              d.file.clear();
              d.user.clear();
              d.device.clear();
            }),
       "Printed on Laser_Floor_2", "Not kept", "", "Unknown sender"},
      // Failed, with the reason in plain words from the reason table.
      {"failed with its reason",
       with(saved("6", "scan"),
            [](delivered_document& d) {
              d.status = 13;
              d.failure = static_cast<int32_t>(delivery_failure::folder_not_writable);
              d.file.clear();
            }),
       folder_failure.c_str(), "Not kept", "", "anna (192.168.1.23)"},
      {"failed without a recorded reason",
       with(saved("7", "scan2"),
            [](delivered_document& d) {
              d.status = -1;
              d.file.clear();
            }),
       unknown_failure.c_str(), "Not kept", "", "anna (192.168.1.23)"},
  };
  const recent_documents list(files_there);
  for (const row_case& c : cases) {
    const recent_row row = list.row_of(c.document);
    EXPECT_EQ(row.outcome.toStdString(), c.outcome) << c.name;
    EXPECT_EQ(row.location.toStdString(), c.location) << c.name;
    EXPECT_EQ(row.file, c.file) << c.name;
    EXPECT_EQ(row.from.toStdString(), c.from) << c.name;
    EXPECT_EQ(row.failed, c.document.status != 0) << c.name;
    EXPECT_EQ(row.printer.toStdString(), "Inbox") << c.name << ": shown without the hidden mark";
    EXPECT_EQ(row.document.toStdString(), c.document.document) << c.name;
    EXPECT_EQ(row.time, QDateTime::fromSecsSinceEpoch(noon).toString("yyyy-MM-dd HH:mm")) << c.name;
  }
  EXPECT_NE(folder_failure, unknown_failure);
}

TEST(RecentDocuments, NewestFirstArrivalsOnTopSearchAndRemoval) {
  recent_documents list(files_there);
  EXPECT_NE(list.empty_text().toStdString().find("No documents have arrived yet"), std::string::npos);
  list.load({saved("b", "budget", noon - 60), saved("a", "agenda", noon - 120)});
  EXPECT_EQ(shown_names(list), (std::vector<std::string>{"budget", "agenda"}));
  EXPECT_TRUE(list.empty_text().isEmpty());

  // Live: an arrival goes on top; the same job again replaces its row instead of adding one.
  EXPECT_EQ(list.arrive(saved("c", "contract", noon)), 0);
  EXPECT_EQ(list.arrive(saved("a", "agenda v2", noon + 60)), 0);
  EXPECT_EQ(shown_names(list), (std::vector<std::string>{"agenda v2", "contract", "budget"}));

  // The search looks at every column, case ignored, and keeps the order.
  struct search_case {
    const char* text;
    std::vector<std::string> want;
  };
  const search_case searches[] = {
      {"CONTRACT", {"contract"}},
      {"192.168.1.23", {"agenda v2", "contract", "budget"}},
      {"  budget ", {"budget"}},
      {"Inbox/agenda", {"agenda v2"}},
      {"", {"agenda v2", "contract", "budget"}},
  };
  for (const search_case& s : searches) {
    list.set_search(QString::fromUtf8(s.text));
    EXPECT_EQ(shown_names(list), s.want) << "'" << s.text << "'";
  }
  list.set_search("nothing like it");
  EXPECT_TRUE(list.rows().empty());
  EXPECT_EQ(list.empty_text().toStdString(), "No document matches \"nothing like it\".");
  EXPECT_EQ(list.arrive(saved("d", "draft")), -1) << "hidden by the search, yet listed";
  EXPECT_EQ(list.listed(), 4u);
  list.set_search("draft");
  EXPECT_EQ(shown_names(list), (std::vector<std::string>{"draft"}));

  list.set_search("");
  EXPECT_TRUE(list.remove("c"));
  EXPECT_FALSE(list.remove("c"));
  EXPECT_EQ(shown_names(list), (std::vector<std::string>{"draft", "agenda v2", "budget"}));
  for (const char* uuid : {"d", "a", "b"}) EXPECT_TRUE(list.remove(uuid));
  EXPECT_NE(list.empty_text().toStdString().find("No documents have arrived yet"), std::string::npos);
}

TEST(RecentDocumentsModel, ArrivalsRemovalsAndSearchesKeepAConsistentModel) {
  recent_documents_model model(files_there);
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  model.load({saved("b", "budget", noon - 60), saved("a", "agenda", noon - 120)});
  ASSERT_EQ(model.rowCount(), 2);
  EXPECT_EQ(model.columnCount(), 6);

  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
  model.arrive(saved("c", "contract", noon));
  ASSERT_EQ(inserted.count(), 1);
  EXPECT_EQ(inserted.at(0).at(1).toInt(), 0) << "at the top";
  EXPECT_EQ(model.index(0, recent_documents_model::document_column).data().toString(), "contract");
  EXPECT_EQ(model.index(0, recent_documents_model::location_column).data(Qt::ToolTipRole).toString(),
            "/home/anna/Inbox/contract.pdf");
  EXPECT_EQ(model.index(0, 0).data(recent_documents_model::uuid_role).toString(), "c");
  EXPECT_EQ(model.index(0, 0).data(recent_documents_model::file_role).toString(),
            "/home/anna/Inbox/contract.pdf");
  EXPECT_EQ(
      model.headerData(recent_documents_model::outcome_column, Qt::Horizontal, Qt::DisplayRole).toString(),
      "Outcome");

  model.set_search("agenda");
  model.arrive(saved("d", "draft", noon + 1));
  EXPECT_EQ(inserted.count(), 1) << "a hidden arrival inserts no row";
  EXPECT_EQ(model.rowCount(), 1);
  model.arrive(saved("a", "agenda", noon + 2));  // the same job again: its row is replaced
  EXPECT_EQ(model.rowCount(), 1);

  QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
  EXPECT_TRUE(model.remove("d")) << "listed, though hidden";
  EXPECT_EQ(removed.count(), 0);
  EXPECT_TRUE(model.remove("a"));
  EXPECT_EQ(removed.count(), 1);
  EXPECT_EQ(model.rowCount(), 0);
  model.set_search("");
  EXPECT_EQ(model.rowCount(), 2);
  EXPECT_EQ(model.row_at(2), nullptr);
}

}  // namespace
}  // namespace quorvane
