#include "ui/session/printer_rows.h"

#include <QCoreApplication>

#include <algorithm>
#include <numeric>

namespace quorvane {
namespace {

bool is_continuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

}  // namespace

std::string display_name_prefix(const std::string& display_name) {
  // The console's own printers begin with a Private Use Area character (three bytes in UTF-8) that is never
  // shown. Names from elsewhere (a CUPS queue's description) have none and are shown whole.
  if (display_name.size() < 3) return std::string();
  const auto b0 = static_cast<unsigned char>(display_name[0]);
  const auto b1 = static_cast<unsigned char>(display_name[1]);
  const auto b2 = static_cast<unsigned char>(display_name[2]);
  if (!is_continuation(b1) || !is_continuation(b2)) return std::string();
  const bool private_use = b0 == 0xEE || (b0 == 0xEF && b1 <= 0xA3);
  return private_use ? display_name.substr(0, 3) : std::string();
}

std::string shown_display_name(const std::string& display_name) {
  return display_name.substr(display_name_prefix(display_name).size());
}

bool shown_name_less(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  });
}

printer_list_model::printer_list_model(QObject* parent) : QAbstractTableModel(parent) {}

int printer_list_model::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int printer_list_model::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : column_count;
}

namespace {

// The row's name for assistive technology: the shown name, "at" its location when it has one, then
// "enabled" or "disabled", and "locked" when the printer has an access list.
QString accessible_name(const std::string& shown, const model::printer& p) {
  // What a screen reader says for the row, which shows it with images alone: on or off, and the lock.
  const QString name = QString::fromStdString(shown);
  const QString location = QString::fromStdU16String(p.location().text());
  QString said = location.isEmpty()
                     ? name
                     : QCoreApplication::translate("printer_list_model", "%1 at %2").arg(name, location);
  said +=
      QStringLiteral(", ") + (p.enabled() ? QCoreApplication::translate("printer_list_model", "enabled")
                                          : QCoreApplication::translate("printer_list_model", "disabled"));
  if (!p.acl().empty())
    said += QStringLiteral(", ") + QCoreApplication::translate("printer_list_model", "locked");
  return said;
}

}  // namespace

QVariant printer_list_model::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() < 0 || index.row() >= rowCount()) return QVariant();
  const row_entry& row = rows_[static_cast<size_t>(index.row())];
  const model::printer& p = *row.printer;
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      return QString::fromStdString(row.shown);
    case Qt::CheckStateRole:
      return p.enabled() ? Qt::Checked : Qt::Unchecked;
    case Qt::AccessibleTextRole:
      return accessible_name(row.shown, p);
    case location_role:
      return QString::fromStdU16String(p.location().text());
    case locked_role:
      return !p.acl().empty();
    case printer_role:
      return QVariant::fromValue(row.printer);
    case uuid_role:
      return QString::fromStdString(p.uuid());
    default:
      return QVariant();
  }
}

bool printer_list_model::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || !index.isValid() || index.row() >= rowCount()) return false;
  const model::printer_ptr& p = rows_[static_cast<size_t>(index.row())].printer;
  const bool enabled = value.value<Qt::CheckState>() == Qt::Checked;
  if (enabled == p->enabled()) return true;
  p->setEnabled(enabled);
  emit dataChanged(this->index(index.row(), 0), this->index(index.row(), column_count - 1),
                   {Qt::CheckStateRole});
  if (enabled_handler_) enabled_handler_(p);
  return true;
}

Qt::ItemFlags printer_list_model::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemNeverHasChildren;
}

QHash<int, QByteArray> printer_list_model::roleNames() const {
  QHash<int, QByteArray> names = QAbstractTableModel::roleNames();
  names[location_role] = "location";
  names[locked_role] = "locked";
  names[printer_role] = "printer";
  names[uuid_role] = "uuid";
  return names;
}

int printer_list_model::find_row(const std::string& uuid) const {
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].printer->uuid() == uuid) return static_cast<int>(i);
  }
  return -1;
}

model::printer_ptr printer_list_model::printer_at(int row) const {
  if (row < 0 || row >= rowCount()) return nullptr;
  return rows_[static_cast<size_t>(row)].printer;
}

std::string printer_list_model::shown_text(int row) const {
  if (row < 0 || row >= rowCount()) return std::string();
  return rows_[static_cast<size_t>(row)].shown;
}

int printer_list_model::insert_printer(model::printer_ptr printer) {
  std::string shown = shown_display_name(printer->displayName());
  if (!in_order_) {
    // A renamed row broke the order: the new row goes first and the whole list is sorted.
    beginInsertRows(QModelIndex(), 0, 0);
    rows_.insert(rows_.begin(), row_entry{std::move(printer), std::move(shown)});
    endInsertRows();
    return sort_by_name(0);
  }
  // In order already: the row goes straight to its place, in front of the rows that compare equal to it,
  // where sorting after inserting it first would put it.
  const auto at = std::lower_bound(
      rows_.begin(), rows_.end(), shown,
      [](const row_entry& row, const std::string& name) { return shown_name_less(row.shown, name); });
  const int row = static_cast<int>(at - rows_.begin());
  beginInsertRows(QModelIndex(), row, row);
  rows_.insert(at, row_entry{std::move(printer), std::move(shown)});
  endInsertRows();
  return row;
}

void printer_list_model::set_printer(int row, model::printer_ptr printer) {
  if (row < 0 || row >= rowCount() || !printer) return;
  const auto at = static_cast<size_t>(row);
  row_entry& entry = rows_[at];
  std::string shown = shown_display_name(printer->displayName());
  if (shown != entry.shown) {
    entry.shown = std::move(shown);
    // The list is not re-sorted; it stays in order when the new name still fits between its neighbours.
    in_order_ = in_order_ && (at == 0 || !shown_name_less(entry.shown, rows_[at - 1].shown)) &&
                (at + 1 == rows_.size() || !shown_name_less(rows_[at + 1].shown, entry.shown));
  }
  entry.printer = std::move(printer);
  emit dataChanged(index(row, 0), index(row, column_count - 1));
}

void printer_list_model::remove_row(int row) {
  if (row < 0 || row >= rowCount()) return;
  beginRemoveRows(QModelIndex(), row, row);
  rows_.erase(rows_.begin() + row);
  endRemoveRows();
}

void printer_list_model::clear() {
  if (rows_.empty()) return;
  beginResetModel();
  rows_.clear();
  in_order_ = true;
  endResetModel();
}

int printer_list_model::sort_by_name(int follow) {
  std::vector<size_t> order(rows_.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [this](size_t a, size_t b) { return shown_name_less(rows_[a].shown, rows_[b].shown); });
  in_order_ = true;
  if (std::is_sorted(order.begin(), order.end())) return follow;

  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<int> new_row_of(rows_.size());
  std::vector<row_entry> sorted;
  sorted.reserve(rows_.size());
  for (size_t i = 0; i < order.size(); ++i) {
    new_row_of[order[i]] = static_cast<int>(i);
    sorted.push_back(std::move(rows_[order[i]]));
  }
  rows_ = std::move(sorted);
  QModelIndexList after;
  after.reserve(before.size());
  for (const QModelIndex& old : before) {
    after.push_back(old.isValid() ? index(new_row_of[static_cast<size_t>(old.row())], old.column())
                                  : QModelIndex());
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
  return follow < 0 || follow >= static_cast<int>(new_row_of.size())
             ? -1
             : new_row_of[static_cast<size_t>(follow)];
}

}  // namespace quorvane
