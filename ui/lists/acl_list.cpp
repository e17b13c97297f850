#include "ui/lists/acl_list.h"

#include <QHeaderView>
#include <QPainter>

#include "ui/lists/list_painting_p.h"

namespace quorvane {

namespace {

constexpr int user_image_width = 24;
constexpr int user_image_height = 21;
constexpr int name_font_size = 14;

}  // namespace

acl_model::acl_model(QObject* parent) : QAbstractTableModel(parent) {}

int acl_model::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : names_.size();
}

int acl_model::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 2;
}

QVariant acl_model::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= names_.size()) return {};
  // The name is shown in column 1; a screen reader names both cells of the row after the user.
  if ((role == Qt::DisplayRole && index.column() == 1) || role == Qt::AccessibleTextRole)
    return names_.at(index.row());
  return {};
}

void acl_model::set_names(QStringList names) {
  beginResetModel();
  names_ = std::move(names);
  endResetModel();
}

namespace {

// `image` with every painted pixel in `colour`, its alpha kept.
QPixmap tinted(const QPixmap& image, const QColor& colour) {
  QPixmap copy = image;
  if (!copy.isNull()) {
    QPainter tint(&copy);
    tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
    tint.fillRect(copy.rect(), colour);
  }
  return copy;
}

}  // namespace

acl_list_delegate::acl_list_delegate(const image_loader& images, QObject* parent)
    : QStyledItemDelegate(parent),
      user_(images("IDI_USER")),
      selected_user_(tinted(user_, list_painting::selected_text_colour)) {}

QRect acl_list_delegate::image_rect(const QRect& cell) {
  return {cell.left() + 1, cell.top() + (cell.height() - user_image_height) / 2, user_image_width,
          user_image_height};
}

void acl_list_delegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
  using namespace list_painting;
  const list_colours colours = colours_for(option.palette);
  const bool selected = begin_selectable_cell(*painter, option, colours);
  const QRect& cell = option.rect;
  if (index.column() == 0) {
    const QRect image = image_rect(cell);
    // The selected row's image takes the selected text's colour (white but on some dark themes).
    const QPixmap& shown = !selected ? user_
                           : colours.selected_text == selected_text_colour
                               ? selected_user_
                               : tinted(user_, colours.selected_text);
    draw_image(*painter, shown, image.x(), image.y());
  } else {
    draw_line(*painter, sized_font(option.font, name_font_size),
              selected ? colours.selected_text : colours.text, cell.left() + 4, cell.top() + 10,
              cell.left() + cell.width(), index.data(Qt::DisplayRole).toString());
  }
  painter->restore();
}

QSize acl_list_delegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  return {index.column() == 0 ? CACLList::image_width : option.rect.width(), CACLList::row_height};
}

CACLList::CACLList(QWidget* parent, const image_loader& images)
    : QTreeView(parent), model_(new acl_model(this)) {
  setItemDelegate(new acl_list_delegate(images, this));
  setModel(model_);
  list_painting::set_up_self_drawn_view(this, QAbstractItemView::SingleSelection);
  header()->setStretchLastSection(true);
  setColumnWidth(0, image_width);
  connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            emit selectedRowChanged(current.isValid() ? current.row() : -1);
          });
}

void CACLList::set_names(QStringList names) {
  model_->set_names(std::move(names));
  setColumnWidth(0, image_width);
}

int CACLList::selected_row() const {
  const QModelIndexList rows = selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void CACLList::select_row(int row) {
  if (row < 0 || row >= model_->rowCount()) return;
  setCurrentIndex(model_->index(row, 0));
  selectionModel()->select(model_->index(row, 0),
                           QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

}  // namespace quorvane
