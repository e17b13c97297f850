// What the Recent Documents window lists: the documents the console received lately, newest first, each row
// in the words the window shows (time, document, from whom, printer, outcome with the reason of a failure,
// where the file is now), narrowed by a search text. No widgets: the window shows `recent_documents_model`.
#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <functional>
#include <string>
#include <vector>

#include "spooler/delivered_jobs.h"

namespace quorvane {

/// One row as the window shows it.
struct recent_row {
  std::string uuid;  ///< the job's uuid: what "Remove From List" takes off
  QString time;      ///< when it arrived, local time ("2026-12-11 14:05")
  QString document;  ///< the job's name
  QString from;      ///< the user and the device ("anna (192.168.1.23)")
  QString printer;   ///< the printer's shown name
  QString outcome;  ///< "Saved in the folder", "Opened with evince", "Printed on laser", "Not delivered: ..."
  QString location;    ///< the file's path, "No longer there: PATH", or "Not kept"
  std::string file;    ///< the file Open, Show in Folder and Print Again act on; empty when there is none now
  std::string format;  ///< the document's MIME type
  bool failed = false;
};

/// The rows of the recent documents and the search over them.
class recent_documents {
 public:
  /// Tells whether a file is there now.
  using exists_function = std::function<bool(const std::string& path)>;

  /// An empty list; `exists` tells whether a kept file is still there (the file system by default).
  explicit recent_documents(exists_function exists = {});

  /// Replaces the list with `documents` (newest first, as the record lists them).
  void load(const std::vector<delivered_document>& documents);
  /// A document that just arrived goes to the top; an entry of the same job is replaced. Returns its row
  /// among the shown ones, -1 when the search hides it.
  int arrive(const delivered_document& document);
  /// Takes the job `uuid` off the list; false when it is not listed.
  bool remove(const std::string& uuid);
  /// Shows only the rows whose time, document, sender, printer, outcome or location holds `text` (case
  /// ignored; an empty text shows every row).
  void set_search(const QString& text);

  /// The rows shown, newest first.
  const std::vector<recent_row>& rows() const { return shown_; }
  /// The number of listed documents, hidden by the search or not.
  size_t listed() const { return all_.size(); }
  /// What the window says instead of rows: how to get a first document when nothing is listed, that the
  /// search matches nothing when it hides every row; empty when rows are shown.
  QString empty_text() const;

  /// The row of `document` as the window shows it.
  recent_row row_of(const delivered_document& document) const;

 private:
  /// True when `row` holds the search text.
  bool matches(const recent_row& row) const;
  /// Rebuilds the shown rows from all rows.
  void refilter();

  exists_function exists_;
  std::vector<recent_row> all_;
  std::vector<recent_row> shown_;
  QString search_;
};

/// The shown rows as a table for the window's view: the columns time, document, from, printer, outcome and
/// location; DisplayRole the text, ToolTipRole the whole text (long reasons and paths are cut in the view),
/// FontRole bold for a failed row's outcome, `uuid_role` the job's uuid, `file_role` the file.
class recent_documents_model final : public QAbstractTableModel {
  Q_OBJECT

 public:
  /// The columns, left to right.
  enum column : int {
    time_column,
    document_column,
    from_column,
    printer_column,
    outcome_column,
    location_column
  };
  /// The roles above Qt's own.
  enum role : int { uuid_role = Qt::UserRole + 1, file_role, failed_role };
  /// The number of columns.
  static constexpr int column_count = 6;

  /// A model over an empty list (see `recent_documents` for `exists`).
  explicit recent_documents_model(recent_documents::exists_function exists = {}, QObject* parent = nullptr);

  /// The list's rows and search.
  const recent_documents& documents() const { return documents_; }
  /// `recent_documents::load`, as a model reset.
  void load(const std::vector<delivered_document>& documents);
  /// `recent_documents::arrive`: a row inserted at the top (a reset when an entry was replaced).
  void arrive(const delivered_document& document);
  /// `recent_documents::remove`, as a removed row (or nothing when not shown).
  bool remove(const std::string& uuid);
  /// `recent_documents::set_search`, as a model reset.
  void set_search(const QString& text);
  /// The row shown at `row`; null when out of range.
  const recent_row* row_at(int row) const;

  /// The number of shown rows (0 under a valid parent).
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  /// Six (0 under a valid parent).
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  /// The value of `role` at `index`; invalid out of range or for other roles.
  QVariant data(const QModelIndex& index, int role) const override;
  /// The columns' titles.
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  recent_documents documents_;
};

}  // namespace quorvane
