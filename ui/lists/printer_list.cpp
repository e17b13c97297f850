#include "ui/lists/printer_list.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "core/log.h"
#include "ui/lists/list_painting_p.h"
#include "ui/session/printer_rows.h"

namespace quorvane {

namespace {

constexpr int image_size = 16;
constexpr int name_font_size = 14;
constexpr int location_font_size = 13;
constexpr int idle_state = 3;

}  // namespace

smart_ptr<model::printer> printer_of(const QModelIndex& index) {
  if (!index.isValid()) return {};
  return index.data(printer_record_role).value<smart_ptr<model::printer>>();
}

printer_list_delegate::printer_list_delegate(const image_loader& images, QObject* parent)
    : QStyledItemDelegate(parent),
      checked_(images("IDI_CHECKED")),
      unchecked_(images("IDI_UNCHECKED")),
      lock_(images("IDI_LOCK")) {}

QRect printer_list_delegate::check_rect(const QRect& cell) {
  return {cell.left() + (cell.width() - image_size) / 2, cell.top() + (cell.height() - image_size) / 2,
          image_size, image_size};
}

QRect printer_list_delegate::lock_rect(const QRect& cell) {
  return {cell.left() + (cell.width() - image_size) / 2, cell.top() + (cell.height() - image_size) / 2 - 1,
          image_size, image_size};
}

void printer_list_delegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
  using namespace list_painting;
  const list_colours colours = colours_for(option.palette);
  const bool selected = begin_selectable_cell(*painter, option, colours);
  const QRect& cell = option.rect;

  const smart_ptr<model::printer> printer = printer_of(index);
  if (printer) {
    switch (index.column()) {
      case 0: {
        const QRect check = check_rect(cell);
        draw_image(*painter, printer->enabled() ? checked_ : unchecked_, check.x(), check.y());
        break;
      }
      case 1: {
        // The model gives the name as shown; a model without it gets the record's name less its mark.
        const QVariant shown = index.data(Qt::DisplayRole);
        const QString name = shown.isValid()
                                 ? shown.toString()
                                 : QString::fromStdString(shown_display_name(printer->displayName()));
        const int left = cell.left() + 4;
        const int right = cell.left() + cell.width();
        draw_line(*painter, sized_font(option.font, name_font_size),
                  selected ? colours.selected_text : colours.text, left, cell.top() + 5, right, name);
        draw_line(*painter, sized_font(option.font, location_font_size),
                  selected ? colours.selected_text : colours.location, left, cell.top() + 5 + 18, right,
                  QString::fromStdU16String(printer->location().text()));
        if (printer->state() != idle_state) QV_LOG(log_verbose, "printing");
        break;
      }
      case 2: {
        if (!printer->acl().empty()) {
          const QRect lock = lock_rect(cell);
          draw_image(*painter, lock_, lock.x(), lock.y());
        }
        break;
      }
      default:
        break;
    }
  }
  painter->restore();
}

QSize printer_list_delegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const int column = index.column();
  const int width = column >= 0 && column < 3 ? CPrinterList::column_widths[column] : option.rect.width();
  return {width, CPrinterList::row_height};
}

bool printer_list_delegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                        const QStyleOptionViewItem& option, const QModelIndex& index) {
  if (event->type() == QEvent::MouseButtonRelease && index.column() == 0) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton && check_rect(option.rect).contains(mouse->position().toPoint())) {
      emit checkClicked(index);
      return true;
    }
  }
  return QStyledItemDelegate::editorEvent(event, model, option, index);
}

CPrinterList::CPrinterList(QWidget* parent, const image_loader& images)
    : QTreeView(parent), delegate_(new printer_list_delegate(images, this)) {
  setItemDelegate(delegate_);
  list_painting::set_up_self_drawn_view(this, QAbstractItemView::SingleSelection);
  header()->setStretchLastSection(false);
  connect(delegate_, &printer_list_delegate::checkClicked, this, &CPrinterList::toggle_enabled);
}

void CPrinterList::setModel(QAbstractItemModel* model) {
  if (QAbstractItemModel* old = this->model()) disconnect(old, nullptr, this, nullptr);
  QTreeView::setModel(model);
  if (model) {
    // A model that is reset or gets its columns again must not fall back to the header's default widths.
    connect(model, &QAbstractItemModel::modelReset, this, &CPrinterList::fix_columns);
    connect(model, &QAbstractItemModel::columnsInserted, this, &CPrinterList::fix_columns);
    connect(model, &QAbstractItemModel::layoutChanged, this, &CPrinterList::fix_columns);
  }
  fix_columns();
}

void CPrinterList::fix_columns() {
  header()->setSectionResizeMode(QHeaderView::Fixed);
  for (int column = 0; column < 3; ++column) setColumnWidth(column, column_widths[column]);
}

void CPrinterList::toggle_enabled(const QModelIndex& index) {
  const smart_ptr<model::printer> printer = printer_of(index);
  if (printer) set_enabled(index, !printer->enabled());
}

void CPrinterList::set_enabled(const QModelIndex& index, bool ticked) {
  const smart_ptr<model::printer> printer = printer_of(index);
  if (!printer || !apply_enabled_check(*printer, ticked)) return;
  if (send_) send_(printer);
  const QRect row = visualRect(index.siblingAtColumn(0)).united(visualRect(index.siblingAtColumn(2)));
  viewport()->update(QRect(0, row.top(), viewport()->width(), row.height()));
}

void CPrinterList::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space && currentIndex().isValid()) {
    toggle_enabled(currentIndex());
    event->accept();
    return;
  }
  QTreeView::keyPressEvent(event);
}

}  // namespace quorvane
