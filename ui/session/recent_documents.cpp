#include "ui/session/recent_documents.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QDateTime>

#include <algorithm>

#include "model/values.h"
#include "spooler/delivery_failure.h"
#include "ui/session/printer_rows.h"

namespace quorvane {

namespace {

QString from_utf8(const std::string& value) {
  return QString::fromStdString(value);
}

// The last part of a path: an application's program name rather than its folder.
QString base_name(const std::string& path) {
  const size_t slash = path.rfind('/');
  return from_utf8(slash == std::string::npos ? path : path.substr(slash + 1));
}

// The sentence saying why the delivery of `d` failed, from the one reason table.
QString reason_of(const delivered_document& d) {
  model::job job;
  job.setDeliveryFailure(d.failure);
  return QString::fromUtf8(reason_sentence(failure_of(job, d.status)));
}

QString outcome_of(const delivered_document& d) {
  if (d.status != 0)
    return QCoreApplication::translate("RecentDocuments", "Not delivered: %1").arg(reason_of(d));
  switch (d.action) {
    case model::action_open:
      return d.action_param.empty() ? QCoreApplication::translate("RecentDocuments", "Opened")
                                    : QCoreApplication::translate("RecentDocuments", "Opened with %1")
                                          .arg(base_name(d.action_param));
    case model::action_print:
      return QCoreApplication::translate("RecentDocuments", "Printed on %1").arg(from_utf8(d.action_param));
    default:
      return QCoreApplication::translate("RecentDocuments", "Saved in the folder");
  }
}

QString from_of(const delivered_document& d) {
  if (d.user.empty() && d.device.empty())
    return QCoreApplication::translate("RecentDocuments", "Unknown sender");
  if (d.user.empty()) return from_utf8(d.device);
  if (d.device.empty()) return from_utf8(d.user);
  return QStringLiteral("%1 (%2)").arg(from_utf8(d.user), from_utf8(d.device));
}

bool file_exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

recent_documents::recent_documents(exists_function exists) : exists_(std::move(exists)) {
  if (!exists_) exists_ = file_exists;
}

recent_row recent_documents::row_of(const delivered_document& d) const {
  recent_row row;
  row.uuid = d.uuid;
  row.time = QDateTime::fromSecsSinceEpoch(d.delivered).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
  row.document = from_utf8(d.document);
  row.from = from_of(d);
  row.printer = from_utf8(shown_display_name(d.printer));
  row.outcome = outcome_of(d);
  row.failed = d.status != 0;
  row.format = d.format;
  if (d.file.empty()) {
    row.location = QCoreApplication::translate("RecentDocuments", "Not kept");
  } else if (exists_(d.file)) {
    row.location = from_utf8(d.file);
    row.file = d.file;
  } else {
    // Moved or deleted since: the list says where it was.
    row.location =
        QCoreApplication::translate("RecentDocuments", "No longer there: %1").arg(from_utf8(d.file));
  }
  return row;
}

void recent_documents::load(const std::vector<delivered_document>& documents) {
  all_.clear();
  for (const delivered_document& d : documents) all_.push_back(row_of(d));
  refilter();
}

int recent_documents::arrive(const delivered_document& document) {
  all_.erase(std::remove_if(all_.begin(), all_.end(),
                            [&](const recent_row& row) { return row.uuid == document.uuid; }),
             all_.end());
  all_.insert(all_.begin(), row_of(document));
  refilter();
  return !shown_.empty() && shown_.front().uuid == document.uuid ? 0 : -1;
}

bool recent_documents::remove(const std::string& uuid) {
  const auto found =
      std::find_if(all_.begin(), all_.end(), [&](const recent_row& row) { return row.uuid == uuid; });
  if (found == all_.end()) return false;
  all_.erase(found);
  refilter();
  return true;
}

void recent_documents::set_search(const QString& text) {
  search_ = text.trimmed();
  refilter();
}

bool recent_documents::matches(const recent_row& row) const {
  if (search_.isEmpty()) return true;
  for (const QString* field :
       {&row.time, &row.document, &row.from, &row.printer, &row.outcome, &row.location}) {
    if (field->contains(search_, Qt::CaseInsensitive)) return true;
  }
  return false;
}

void recent_documents::refilter() {
  shown_.clear();
  for (const recent_row& row : all_) {
    if (matches(row)) shown_.push_back(row);
  }
}

QString recent_documents::empty_text() const {
  if (all_.empty()) {
    return QCoreApplication::translate(
        "RecentDocuments",
        "No documents have arrived yet.\nPrint from a phone or tablet on the same network to one of the "
        "printers of the Quorvane window; every document that arrives is listed here.");
  }
  if (shown_.empty())
    return QCoreApplication::translate("RecentDocuments", "No document matches \"%1\".").arg(search_);
  return QString();
}

// ---- the model

recent_documents_model::recent_documents_model(recent_documents::exists_function exists, QObject* parent)
    : QAbstractTableModel(parent), documents_(std::move(exists)) {}

void recent_documents_model::load(const std::vector<delivered_document>& documents) {
  beginResetModel();
  documents_.load(documents);
  endResetModel();
}

void recent_documents_model::arrive(const delivered_document& document) {
  const bool replaces = std::any_of(documents_.rows().begin(), documents_.rows().end(),
                                    [&](const recent_row& row) { return row.uuid == document.uuid; });
  if (replaces) {
    beginResetModel();
    documents_.arrive(document);
    endResetModel();
    return;
  }
  // Whether the search shows it is known once it is a row.
  recent_documents next = documents_;
  if (next.arrive(document) < 0) {
    documents_ = std::move(next);
    return;
  }
  beginInsertRows(QModelIndex(), 0, 0);
  documents_ = std::move(next);
  endInsertRows();
}

bool recent_documents_model::remove(const std::string& uuid) {
  const auto& rows = documents_.rows();
  const auto shown =
      std::find_if(rows.begin(), rows.end(), [&](const recent_row& row) { return row.uuid == uuid; });
  if (shown == rows.end()) return documents_.remove(uuid);
  const int row = static_cast<int>(shown - rows.begin());
  beginRemoveRows(QModelIndex(), row, row);
  documents_.remove(uuid);
  endRemoveRows();
  return true;
}

void recent_documents_model::set_search(const QString& text) {
  beginResetModel();
  documents_.set_search(text);
  endResetModel();
}

const recent_row* recent_documents_model::row_at(int row) const {
  if (row < 0 || row >= rowCount()) return nullptr;
  return &documents_.rows()[static_cast<size_t>(row)];
}

int recent_documents_model::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(documents_.rows().size());
}

int recent_documents_model::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : column_count;
}

QVariant recent_documents_model::data(const QModelIndex& index, int role) const {
  const recent_row* row = index.isValid() ? row_at(index.row()) : nullptr;
  if (!row || index.column() < 0 || index.column() >= column_count) return QVariant();
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: {
      const QString* fields[] = {&row->time,    &row->document, &row->from,
                                 &row->printer, &row->outcome,  &row->location};
      return *fields[index.column()];
    }
    case uuid_role:
      return from_utf8(row->uuid);
    case file_role:
      return from_utf8(row->file);
    case failed_role:
      return row->failed;
    default:
      return QVariant();
  }
}

QVariant recent_documents_model::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
  switch (section) {
    case time_column:
      return QCoreApplication::translate("RecentDocuments", "Time");
    case document_column:
      return QCoreApplication::translate("RecentDocuments", "Document");
    case from_column:
      return QCoreApplication::translate("RecentDocuments", "From");
    case printer_column:
      return QCoreApplication::translate("RecentDocuments", "Printer");
    case outcome_column:
      return QCoreApplication::translate("RecentDocuments", "Outcome");
    case location_column:
      return QCoreApplication::translate("RecentDocuments", "Where It Is Now");
    default:
      return QVariant();
  }
}

}  // namespace quorvane
