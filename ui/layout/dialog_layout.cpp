#include "ui/layout/dialog_layout.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QToolTip>
#include <QTreeView>

#include <algorithm>
#include <utility>

#include "core/log.h"
#include "ui/layout/png_image.h"

namespace quorvane {
namespace {

QLabel* make_text(const dialog_control& row, const QString& text, QWidget* parent) {
  auto* label = row.style & control_style::elide ? new elided_label(text, parent) : new QLabel(text, parent);
  Qt::Alignment horizontal = Qt::AlignLeft;
  if (row.style & control_style::center) horizontal = Qt::AlignHCenter;
  if (row.style & control_style::right) horizontal = Qt::AlignRight;
  label->setAlignment(horizontal | Qt::AlignTop);
  // A static text wraps at word boundaries unless told otherwise; labels of one line stay one line.
  label->setWordWrap(!(row.style & (control_style::no_wrap | control_style::elide)));
  label->setTextFormat(Qt::PlainText);
  return label;
}

QLabel* make_picture(const dialog_control& row, QWidget* parent) {
  auto* picture = new QLabel(parent);
  picture->setAlignment(Qt::AlignCenter);
  if (row.text && *row.text) {
    const QPixmap pixmap = png_pixmap(QStringLiteral(":/images/%1.png").arg(QString::fromUtf8(row.text)));
    if (!pixmap.isNull()) picture->setPixmap(pixmap);
  }
  return picture;
}

QWidget* make_button(const dialog_control& row, const QString& text, QWidget* parent) {
  if (row.kind == control_kind::split_button) {
    auto* button = new QToolButton(parent);
    button->setText(text);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setPopupMode(QToolButton::MenuButtonPopup);
    button->setMenu(new QMenu(button));
    return button;
  }
  auto* button = new QPushButton(text, parent);
  switch (row.kind) {
    case control_kind::default_button:
      button->setDefault(true);
      break;
    case control_kind::flat_button:
      button->setFlat(true);
      break;
    case control_kind::menu_button:
      button->setMenu(new QMenu(button));
      break;
    default:
      break;
  }
  return button;
}

QWidget* make_standard(const dialog_control& row, const char* context, QWidget* parent) {
  // A picture's text names an image; every other text is shown, in the user's language.
  const QString text = !row.text || !*row.text || !context || row.kind == control_kind::picture
                           ? QString::fromUtf8(row.text)
                           : QCoreApplication::translate(context, row.text);
  switch (row.kind) {
    case control_kind::text:
      return make_text(row, text, parent);
    case control_kind::picture:
      return make_picture(row, parent);
    case control_kind::frame: {
      auto* frame = new QFrame(parent);
      if (row.style & control_style::border) {
        frame->setFrameShape(QFrame::Box);
        frame->setFrameShadow(QFrame::Plain);
      }
      return frame;
    }
    case control_kind::group_box:
      return new QGroupBox(text, parent);
    case control_kind::horizontal_line: {
      auto* line = new QFrame(parent);
      line->setFrameShape(QFrame::HLine);
      line->setFrameShadow(QFrame::Sunken);
      return line;
    }
    case control_kind::push_button:
    case control_kind::default_button:
    case control_kind::flat_button:
    case control_kind::menu_button:
    case control_kind::split_button:
      return make_button(row, text, parent);
    case control_kind::check_box:
      return new QCheckBox(text, parent);
    case control_kind::radio_button:
      return new QRadioButton(text, parent);
    case control_kind::edit: {
      auto* edit = new QLineEdit(text, parent);
      if (row.style & control_style::password) edit->setEchoMode(QLineEdit::Password);
      if (row.style & control_style::read_only) edit->setReadOnly(true);
      return edit;
    }
    case control_kind::list:
      return new QListView(parent);
    case control_kind::report_list: {
      auto* view = new QTreeView(parent);
      view->setHeaderHidden(true);
      view->setRootIsDecorated(false);
      view->setUniformRowHeights(true);
      return view;
    }
    case control_kind::progress:
    case control_kind::marquee: {
      auto* bar = new QProgressBar(parent);
      bar->setTextVisible(false);
      if (row.kind == control_kind::marquee) bar->setRange(0, 0);
      return bar;
    }
    case control_kind::tab_holder:
      return new QTabWidget(parent);
    case control_kind::custom:
      break;
  }
  return nullptr;
}

// The position and size along one axis of a control at `start` and `size` in a dialog `extra` larger.
std::pair<int, int> follow_axis(int start, int size, follow how, int extra) {
  switch (how) {
    case follow::fixed:
      break;
    case follow::grow:
      return {start, std::max(0, size + extra)};
    case follow::move:
      return {start + extra, size};
    case follow::centre:
      // Halved toward minus infinity, so that growing by one pixel and shrinking by one mirror each other.
      return {start + (extra >= 0 ? extra / 2 : -((1 - extra) / 2)), size};
  }
  return {start, size};
}

}  // namespace

QRect anchored_rect(const QRect& design, control_anchor anchor, QSize extra) {
  const auto [x, w] = follow_axis(design.x(), design.width(), anchor.horizontal, extra.width());
  const auto [y, h] = follow_axis(design.y(), design.height(), anchor.vertical, extra.height());
  return {x, y, w, h};
}

dialog_layout dialog_layout::build(QWidget* parent, const char* context,
                                   std::span<const dialog_control> table, const dialog_units& units,
                                   const factory& make_custom) {
  dialog_layout layout;
  for (const dialog_control& row : table) {
    QWidget* widget = nullptr;
    if (row.kind == control_kind::custom) {
      if (make_custom) widget = make_custom(row, parent);
    } else {
      widget = make_standard(row, context, parent);
    }
    if (!widget) {
      QV_LOG(log_error, "Unable to create control '%s' (%d): no factory made it", row.name ? row.name : "",
             row.id);
      continue;
    }
    if (row.name) widget->setObjectName(QString::fromUtf8(row.name));
    widget->setProperty("ctrlId", row.id);
    const QRect design = units.rect(row.x, row.y, row.w, row.h);
    widget->setGeometry(design);
    layout.placed_.push_back({widget, design, row.anchor});
    if (row.style & control_style::disabled) widget->setEnabled(false);
    if (row.style & control_style::hidden) widget->hide();
    layout.widgets_.emplace_back(widget);
    if (row.id != no_control_id) layout.by_id_[row.id] = widget;
  }
  return layout;
}

void dialog_layout::fit(QSize extra) const {
  for (const placed& control : placed_) {
    if (control.widget) control.widget->setGeometry(anchored_rect(control.design, control.anchor, extra));
  }
}

QWidget* dialog_layout::control(int id) const {
  const auto it = by_id_.find(id);
  return it == by_id_.end() ? nullptr : it->second.data();
}

}  // namespace quorvane

namespace quorvane {

elided_label::elided_label(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setTextFormat(Qt::PlainText);
}

QString elided_label::shown_text() const {
  return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
}

bool elided_label::is_elided() const {
  return shown_text() != text();
}

void elided_label::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  style()->drawItemText(&painter, contentsRect(), int(alignment()) | Qt::TextSingleLine, palette(),
                        isEnabled(), shown_text(), foregroundRole());
}

bool elided_label::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    // The tooltip is decided when asked, so that it follows the label's width as the window is resized.
    auto* help = static_cast<QHelpEvent*>(event);
    if (is_elided()) {
      QToolTip::showText(help->globalPos(), text(), this);
    } else {
      QToolTip::hideText();
      event->ignore();
    }
    return true;
  }
  return QLabel::event(event);
}

}  // namespace quorvane
