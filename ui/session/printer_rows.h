// The rows of the console's printer list: one per printer the service reported, in the list's sort order.
#pragma once

#include <QAbstractTableModel>
#include <QMetaType>

#include <functional>
#include <string>
#include <vector>

#include "model/printer.h"

namespace quorvane {

/// The hidden first character of a display name: its three bytes when the name begins with a character of
/// the Private Use Area (U+E000 to U+F8FF, the console's own icon marks such as U+E00C), else "".
std::string display_name_prefix(const std::string& display_name);

/// The part of a display name the console shows and sorts by: the name without `display_name_prefix`.
std::string shown_display_name(const std::string& display_name);

/// The list's sort order: `a` before `b` when its bytes compare lower as unsigned bytes (a prefix of the
/// other sorts first). Both are shown names.
bool shown_name_less(const std::string& a, const std::string& b);

/// The printer list's rows as an item model. Each row holds the printer record the service last sent for it
/// (not the stored record) and the shown name. A row has three columns (check image, the two lines of text,
/// lock image: a list view shows column 0) and every column answers every role:
///   printer_role        model::printer_ptr  the row's printer record (Qt::UserRole + 1)
///   Qt::DisplayRole     QString   the shown display name (the display name without its hidden mark)
///   Qt::CheckStateRole  Qt::CheckState  Checked when the printer is enabled
///   Qt::AccessibleTextRole  QString  what a screen reader says: "Office at Room 1, enabled, locked"
///   location_role       QString   the printer's location
///   locked_role         bool      true when the printer has an access list
///   uuid_role           QString   the printer's uuid
/// Setting Qt::CheckStateRole switches the printer on or off and reports it to the enabled handler (which
/// sends it to the service); setting it to the state it already has does nothing.
class printer_list_model final : public QAbstractTableModel {
  Q_OBJECT

 public:
  /// The roles above Qt's own.
  enum role : int {
    printer_role = Qt::UserRole + 1,
    location_role,
    locked_role,
    uuid_role,
  };

  /// The number of columns of every row.
  static constexpr int column_count = 3;

  /// Called with the printer whose enabled state the user changed through the check state.
  using enabled_handler = std::function<void(model::printer_ptr printer)>;

  /// An empty list.
  explicit printer_list_model(QObject* parent = nullptr);

  /// The number of rows (0 for any valid parent: the list is flat).
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  /// Three (0 for any valid parent).
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  /// The value of `role` for the row of `index`; invalid for a row out of range or an unknown role.
  QVariant data(const QModelIndex& index, int role) const override;
  /// Qt::CheckStateRole only: switches the row's printer on or off. False for other roles and bad indexes.
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  /// Selectable, enabled, user-checkable, never editable.
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  /// The role names for QML-style inspection and model testers.
  QHash<int, QByteArray> roleNames() const override;

  /// The first row whose printer has exactly this uuid (byte equality); -1 when none.
  int find_row(const std::string& uuid) const;
  /// The printer of `row`; null when out of range.
  model::printer_ptr printer_at(int row) const;
  /// The shown name of `row`; "" when out of range.
  std::string shown_text(int row) const;

  /// Inserts a row for `printer` and sorts the list, as if the row went to index 0 first: it ends up in
  /// front of the rows whose shown names compare equal to its own. Returns the row the printer ends up in.
  int insert_printer(model::printer_ptr printer);
  /// Makes `row` hold `printer` (releasing the old one) and redraws it; the shown name changes only when it
  /// differs. The list is not re-sorted.
  void set_printer(int row, model::printer_ptr printer);
  /// Deletes `row` and releases its printer; nothing when out of range.
  void remove_row(int row);
  /// Deletes every row.
  void clear();
  /// Sorts the rows by shown name (rows that compare equal keep their order). Returns the row in which the
  /// row `follow` (before sorting) ends up; -1 for -1.
  int sort_by_name(int follow = -1);

  /// Sets who hears of a check-state change.
  void set_enabled_handler(enabled_handler handler) { enabled_handler_ = std::move(handler); }

 private:
  struct row_entry {
    model::printer_ptr printer;
    std::string shown;
  };

  std::vector<row_entry> rows_;
  bool in_order_ = true;  // the rows are in sort order (a rename through `set_printer` may break it)
  enabled_handler enabled_handler_;
};

}  // namespace quorvane

Q_DECLARE_METATYPE(quorvane::model::printer_ptr)
