// The user list of the security page and of the "Add User" dialog: one 36-pixel row per user name with
// the user image.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QTreeView>

#include "ui/lists/list_images.h"

namespace quorvane {

/// User names in two columns: the image (column 0) and the name (column 1).
class acl_model final : public QAbstractTableModel {
  Q_OBJECT

 public:
  /// No rows.
  explicit acl_model(QObject* parent = nullptr);

  /// The number of names.
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  /// Always 2.
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  /// The name in column 1 for Qt::DisplayRole, and in both columns for Qt::AccessibleTextRole.
  QVariant data(const QModelIndex& index, int role) const override;

  /// Replaces every row.
  void set_names(QStringList names);
  /// The names in row order.
  const QStringList& names() const { return names_; }

 private:
  QStringList names_;
};

/// Draws the cells of the user list.
class acl_list_delegate final : public QStyledItemDelegate {
  Q_OBJECT

 public:
  /// A delegate drawing with the images that `images` gives.
  explicit acl_list_delegate(const image_loader& images, QObject* parent = nullptr);

  /// Paints one cell: the user image in column 0, the name in column 1.
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  /// The column's width by 36 pixels.
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  /// Where the user image of a row whose column-0 cell is `cell` is drawn.
  static QRect image_rect(const QRect& cell);

 private:
  QPixmap user_;
  QPixmap selected_user_;  // the image in the selected text colour: the image's own blue is the selection's
};

/// The user list: no header, fixed columns (28 pixels and the rest), single row selection that keeps its
/// colour when the window loses focus.
class CACLList final : public QTreeView {
  Q_OBJECT

 public:
  static constexpr int row_height = 36;
  static constexpr int image_width = 28;

  /// An empty list drawing with `images`.
  explicit CACLList(QWidget* parent = nullptr, const image_loader& images = console_images());

  /// Replaces the rows, keeping no selection.
  void set_names(QStringList names);
  /// The names in row order.
  const QStringList& names() const { return model_->names(); }
  /// The selected row; -1 when none.
  int selected_row() const;
  /// Selects `row` (nothing when out of range).
  void select_row(int row);

 signals:
  /// The selected row changed to `row` (-1 when none).
  void selectedRowChanged(int row);

 private:
  acl_model* model_;
};

}  // namespace quorvane
