// The attribute list of the general settings page: the features and paper sizes of a printer under two
// grey section headers, ticked on and off while the page is edited.
#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTreeView>

#include <vector>

#include "ui/lists/attribute_rows.h"
#include "ui/lists/list_images.h"

namespace quorvane {

/// The rows of the attribute list. In view mode column 0 is the image and column 1 the text; in edit mode a
/// check column comes first (check, image, text).
class attribute_model final : public QAbstractTableModel {
  Q_OBJECT

 public:
  /// What a column of the current mode shows.
  enum class cell { check, image, text };

  /// An empty list in view mode.
  explicit attribute_model(QObject* parent = nullptr);

  /// The number of rows (none below the root's children).
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  /// 2 in view mode, 3 in edit mode.
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  /// The row's text in the text column, its check state in the check column (edit mode, non-headers), and in
  /// every column for Qt::AccessibleTextRole its text with "on" or "off" (headers: the text alone).
  QVariant data(const QModelIndex& index, int role) const override;
  /// Sets a row's value from Qt::CheckStateRole in the check column; only in edit mode, never for headers.
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  /// Enabled and selectable; checkable in the check column in edit mode.
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  /// Replaces every row.
  void set_rows(std::vector<attribute_entry> rows);
  /// The rows with their current values.
  const std::vector<attribute_entry>& rows() const { return rows_; }
  /// The row at `row`; null when out of range.
  const attribute_entry* entry(int row) const;

  /// Switches between view mode and edit mode, inserting or removing the check column.
  void set_edit_mode(bool on);
  /// True in edit mode.
  bool edit_mode() const { return edit_mode_; }
  /// What `column` shows in the current mode.
  cell cell_of(int column) const;

  /// Flips the value of a feature or paper row in edit mode; false (nothing changes) otherwise.
  bool flip(int row);

 private:
  std::vector<attribute_entry> rows_;
  bool edit_mode_ = false;
};

/// Draws the cells of the attribute list; a click on a check image flips the row's value.
class attribute_list_delegate final : public QStyledItemDelegate {
  Q_OBJECT

 public:
  /// A delegate drawing with the images that `images` gives.
  explicit attribute_list_delegate(const image_loader& images, QObject* parent = nullptr);

  /// Paints one cell (a header row is one cell spanning the row).
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  /// The column's width by 28 pixels.
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  /// Where the check image of a row whose check cell is `cell` is drawn.
  static QRect check_rect(const QRect& cell);

 protected:
  /// Flips the row's value for a left-button release on its check image.
  bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

 private:
  /// Draws header row `row` over the whole row rectangle of `option`.
  void paint_header(QPainter& painter, const QStyleOptionViewItem& option, const attribute_entry& entry,
                    int row) const;

  QPixmap checked_;
  QPixmap unchecked_;
  QPixmap images_[4];  // colour, landscape, duplex, paper: kinds 2 to 5
};

/// The attribute list: no header, fixed columns (view: 30 and the rest; edit: 24, 30 and the rest), rows
/// 28 pixels high.
class CAttributeList final : public QTreeView {
  Q_OBJECT

 public:
  static constexpr int row_height = 28;
  static constexpr int check_width = 24;
  static constexpr int image_width = 30;

  /// An empty list in view mode, drawing with `images`.
  explicit CAttributeList(QWidget* parent = nullptr, const image_loader& images = console_images());

  /// Replaces every row (view or edit mode stays).
  void set_rows(std::vector<attribute_entry> rows);
  /// The rows with their current values.
  const std::vector<attribute_entry>& rows() const { return model_->rows(); }
  /// Switches the mode and the columns; the rows and their values stay.
  void set_edit_mode(bool on);
  /// True in edit mode.
  bool edit_mode() const { return model_->edit_mode(); }
  /// The list's rows as a model.
  attribute_model* attributes() const { return model_; }

 protected:
  /// Space flips the current row in edit mode; other keys as usual.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  /// Sets the column widths of the mode and lets header rows span the whole row.
  void arrange_columns();

  attribute_model* model_;
};

}  // namespace quorvane
