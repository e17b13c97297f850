// The printer list on the left of the main window: one 40-pixel row per printer with its on/off check
// image, display name and location, and a lock image when the printer has an access list.
#pragma once

#include <QStyledItemDelegate>
#include <QTreeView>

#include "model/printer.h"
#include "ui/lists/list_images.h"
#include "ui/session/printer_rows.h"
#include "ui/session/printer_update.h"

namespace quorvane {

/// The item-data role under which every column of a printer-list row answers a QVariant holding the row's
/// `smart_ptr<model::printer>`, and Qt::DisplayRole with the display name as shown (without its hidden mark).
inline constexpr int printer_record_role = printer_list_model::printer_role;

/// The printer carried by `index`'s row; null when the row has none.
smart_ptr<model::printer> printer_of(const QModelIndex& index);

/// Draws the cells of a printer-list row and turns a click on the check image into a toggle.
class printer_list_delegate final : public QStyledItemDelegate {
  Q_OBJECT

 public:
  /// A delegate drawing with the images that `images` gives.
  explicit printer_list_delegate(const image_loader& images, QObject* parent = nullptr);

  /// Paints one cell by the list's rules.
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  /// The column's width by 40 pixels.
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  /// Where the check image of a row whose column-0 cell is `cell` is drawn.
  static QRect check_rect(const QRect& cell);
  /// Where the lock image of a row whose column-2 cell is `cell` is drawn.
  static QRect lock_rect(const QRect& cell);

 signals:
  /// The user clicked the check image of `index`'s row.
  void checkClicked(const QModelIndex& index);

 protected:
  /// Emits `checkClicked` for a left-button release on a row's check image.
  bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

 private:
  QPixmap checked_;
  QPixmap unchecked_;
  QPixmap lock_;
};

/// The printer list: three fixed columns (24, 235 and 24 pixels), no header, single row selection that
/// keeps its colour when the window loses focus. The owner supplies a model whose rows carry their printer
/// under `printer_record_role`.
class CPrinterList final : public QTreeView {
  Q_OBJECT

 public:
  static constexpr int row_height = 40;
  static constexpr int column_widths[3] = {24, 235, 24};

  /// An empty list drawing with `images`.
  explicit CPrinterList(QWidget* parent = nullptr, const image_loader& images = console_images());

  /// Shows `model`'s rows with the fixed column widths.
  void setModel(QAbstractItemModel* model) override;

  /// Where a changed printer goes (the main window's "updatePrinter").
  void set_update_printer(update_printer_function send) { send_ = std::move(send); }

  /// Flips the printer of `index`'s row on or off as the user's click on its check image does: the printer
  /// changes, is sent once, and the row is redrawn. Does nothing for a row without a printer.
  void toggle_enabled(const QModelIndex& index);

  /// Sets the row's printer to `ticked`; sends it only when that changes `enabled`.
  void set_enabled(const QModelIndex& index, bool ticked);

 protected:
  /// Space toggles the current row's printer; other keys as usual.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  /// Gives the three columns their fixed widths.
  void fix_columns();

  printer_list_delegate* delegate_;
  update_printer_function send_;
};

}  // namespace quorvane
