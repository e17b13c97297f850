#include "ui/lists/attribute_list.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

#include "ui/lists/list_painting_p.h"

namespace quorvane {

namespace {

constexpr int check_size = 16;
constexpr int text_font_size = 14;
constexpr int text_top = 8;
constexpr int header_text_left = 14;  // from the row's left edge, in both modes
constexpr qreal faded_opacity = 0.3;

}  // namespace

// ---- attribute_model

attribute_model::attribute_model(QObject* parent) : QAbstractTableModel(parent) {}

int attribute_model::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int attribute_model::columnCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return edit_mode_ ? 3 : 2;
}

attribute_model::cell attribute_model::cell_of(int column) const {
  if (edit_mode_) {
    if (column == 0) return cell::check;
    return column == 1 ? cell::image : cell::text;
  }
  return column == 0 ? cell::image : cell::text;
}

const attribute_entry* attribute_model::entry(int row) const {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
  return &rows_[static_cast<size_t>(row)];
}

QVariant attribute_model::data(const QModelIndex& index, int role) const {
  const attribute_entry* row = index.isValid() ? entry(index.row()) : nullptr;
  if (!row) return {};
  const cell what = cell_of(index.column());
  if (role == Qt::DisplayRole && (what == cell::text || is_attribute_header(row->kind)))
    return QString::fromStdString(attribute_text(*row));
  if (role == Qt::AccessibleTextRole) {
    // Every cell of a row is named after it (the image and the check box show no text); a feature or paper
    // size says whether it is on, which view mode shows only by fading it.
    const QString text = QString::fromStdString(attribute_text(*row));
    if (is_attribute_header(row->kind)) return text;
    return text + QStringLiteral(", ") +
           (row->value ? QCoreApplication::translate("attribute_model", "on")
                       : QCoreApplication::translate("attribute_model", "off"));
  }
  if (role == Qt::CheckStateRole && what == cell::check && !is_attribute_header(row->kind))
    return row->value ? Qt::Checked : Qt::Unchecked;
  return {};
}

bool attribute_model::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || !index.isValid() || cell_of(index.column()) != cell::check) return false;
  const attribute_entry* row = entry(index.row());
  if (!row || !edit_mode_ || is_attribute_header(row->kind)) return false;
  const bool ticked = value.value<Qt::CheckState>() == Qt::Checked;
  if (row->value == ticked) return true;
  return flip(index.row());
}

Qt::ItemFlags attribute_model::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  const attribute_entry* row = entry(index.row());
  if (row && edit_mode_ && cell_of(index.column()) == cell::check && !is_attribute_header(row->kind))
    flags |= Qt::ItemIsUserCheckable;
  return flags;
}

void attribute_model::set_rows(std::vector<attribute_entry> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

void attribute_model::set_edit_mode(bool on) {
  if (on == edit_mode_) return;
  if (on) {
    beginInsertColumns(QModelIndex(), 0, 0);
    edit_mode_ = true;
    endInsertColumns();
  } else {
    beginRemoveColumns(QModelIndex(), 0, 0);
    edit_mode_ = false;
    endRemoveColumns();
  }
}

bool attribute_model::flip(int row) {
  if (!edit_mode_ || row < 0 || row >= static_cast<int>(rows_.size())) return false;
  attribute_entry& changed = rows_[static_cast<size_t>(row)];
  if (is_attribute_header(changed.kind)) return false;
  changed.value = !changed.value;
  emit dataChanged(index(row, 0), index(row, columnCount() - 1));
  return true;
}

// ---- attribute_list_delegate

attribute_list_delegate::attribute_list_delegate(const image_loader& images, QObject* parent)
    : QStyledItemDelegate(parent),
      checked_(images("IDI_CHECKED")),
      unchecked_(images("IDI_UNCHECKED")),
      images_{images(attribute_image_name(attribute_color)),
              images(attribute_image_name(attribute_landscape)),
              images(attribute_image_name(attribute_duplex)), images(attribute_image_name(attribute_paper))} {
}

QRect attribute_list_delegate::check_rect(const QRect& cell) {
  return {cell.left() + (cell.width() - check_size) / 2, cell.top() + (cell.height() - check_size) / 2 + 2,
          check_size, check_size};
}

void attribute_list_delegate::paint_header(QPainter& painter, const QStyleOptionViewItem& option,
                                           const attribute_entry& entry, int row) const {
  using namespace list_painting;
  const QRect& r = option.rect;
  const list_colours colours = colours_for(option.palette);
  const int bottom = r.top() + r.height() - 1;  // the last pixel row of the cell
  painter.fillRect(QRect(r.left(), bottom, r.width(), 1), colours.header_bottom_line);
  int gradient_top = r.top();
  if (entry.kind == attribute_paper_header) {
    // Right under "FEATURES" (no feature rows) the line is white, so the two headers read as separate.
    painter.fillRect(QRect(r.left(), r.top(), r.width(), 1),
                     row == 1 ? colours.paper_top_line_first : colours.paper_top_line);
    gradient_top += 1;
  }
  if (bottom > gradient_top) {
    QLinearGradient gradient(0, gradient_top, 0, bottom);
    gradient.setColorAt(0, colours.header_top);
    gradient.setColorAt(1, colours.header_bottom);
    painter.fillRect(QRect(r.left(), gradient_top, r.width(), bottom - gradient_top), gradient);
  }
  draw_line(painter, sized_font(option.font, text_font_size, /*bold=*/true), colours.header_text,
            r.left() + header_text_left, r.top() + text_top, r.left() + r.width(),
            QString::fromStdString(attribute_text(entry)));
}

void attribute_list_delegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
  using namespace list_painting;
  const auto* model = qobject_cast<const attribute_model*>(index.model());
  const attribute_entry* entry = model ? model->entry(index.row()) : nullptr;
  if (!entry) return;
  painter->save();
  if (is_attribute_header(entry->kind)) {
    paint_header(*painter, option, *entry, index.row());
    painter->restore();
    return;
  }
  const QRect& cell = option.rect;
  const list_colours colours = colours_for(option.palette);
  painter->fillRect(cell, colours.background);
  const bool edit_mode = model->edit_mode();
  switch (model->cell_of(index.column())) {
    case attribute_model::cell::check: {
      const QRect check = check_rect(cell);
      draw_image(*painter, entry->value ? checked_ : unchecked_, check.x(), check.y());
      break;
    }
    case attribute_model::cell::image: {
      const QPixmap& image = images_[entry->kind - attribute_color];
      draw_image(*painter, image, cell.left(), cell.top() + 2,
                 edit_mode || entry->value ? 1.0 : faded_opacity);
      break;
    }
    case attribute_model::cell::text:
      draw_line(*painter, sized_font(option.font, text_font_size),
                edit_mode || entry->value ? colours.text : colours.off_text, cell.left() + 4,
                cell.top() + text_top, cell.left() + cell.width(),
                QString::fromStdString(attribute_text(*entry)));
      break;
  }
  painter->restore();
}

QSize attribute_list_delegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
  return {option.rect.width(), CAttributeList::row_height};
}

bool attribute_list_delegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                          const QStyleOptionViewItem& option, const QModelIndex& index) {
  auto* attributes = qobject_cast<attribute_model*>(model);
  if (event->type() == QEvent::MouseButtonRelease && attributes &&
      attributes->cell_of(index.column()) == attribute_model::cell::check) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton && check_rect(option.rect).contains(mouse->position().toPoint()))
      return attributes->flip(index.row());
  }
  return QStyledItemDelegate::editorEvent(event, model, option, index);
}

// ---- CAttributeList

CAttributeList::CAttributeList(QWidget* parent, const image_loader& images)
    : QTreeView(parent), model_(new attribute_model(this)) {
  setItemDelegate(new attribute_list_delegate(images, this));
  setModel(model_);
  list_painting::set_up_self_drawn_view(this, QAbstractItemView::NoSelection);
  // Without a selection the list still takes the keyboard: in edit mode Space ticks the focused row.
  setFocusPolicy(Qt::StrongFocus);
  header()->setStretchLastSection(true);
  arrange_columns();
}

void CAttributeList::set_rows(std::vector<attribute_entry> rows) {
  model_->set_rows(std::move(rows));
  arrange_columns();
}

void CAttributeList::set_edit_mode(bool on) {
  if (on == model_->edit_mode()) return;
  setUpdatesEnabled(false);  // no half-changed columns on screen
  model_->set_edit_mode(on);
  arrange_columns();
  setUpdatesEnabled(true);
}

void CAttributeList::arrange_columns() {
  header()->setSectionResizeMode(QHeaderView::Fixed);
  if (model_->edit_mode()) {
    setColumnWidth(0, check_width);
    setColumnWidth(1, image_width);
  } else {
    setColumnWidth(0, image_width);
  }
  const std::vector<attribute_entry>& rows = model_->rows();
  for (size_t row = 0; row < rows.size(); ++row)
    setFirstColumnSpanned(static_cast<int>(row), QModelIndex(), is_attribute_header(rows[row].kind));
}

void CAttributeList::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space && model_->edit_mode() && currentIndex().isValid()) {
    model_->flip(currentIndex().row());
    event->accept();
    return;
  }
  QTreeView::keyPressEvent(event);
}

}  // namespace quorvane
