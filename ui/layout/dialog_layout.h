// Dialog layouts kept as data: one table row per control (id, kind, name, text, rectangle in dialog units,
// style flags), turned into widgets by one builder; behaviour code then finds the controls by id.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <vector>

#include "ui/layout/dialog_units.h"

namespace quorvane {

/// What a table row creates.
enum class control_kind {
  text,       ///< QLabel, word-wrapped, aligned top-left unless a style flag says otherwise
  picture,    ///< QLabel holding a pixmap, centred; a text names an image resource (":/images/<text>.png")
  frame,      ///< QFrame without a border: a placeholder that marks where something else goes
  group_box,  ///< QGroupBox with the text as its title
  horizontal_line,  ///< QFrame drawn as a sunken horizontal line
  push_button,      ///< QPushButton
  default_button,   ///< QPushButton that is the dialog's default button
  flat_button,      ///< QPushButton without a raised frame
  menu_button,      ///< QPushButton with an (empty) QMenu: the whole face opens the menu
  split_button,     ///< QToolButton with an (empty) QMenu: the face clicks, the arrow opens the menu
  check_box,        ///< QCheckBox
  radio_button,     ///< QRadioButton
  edit,             ///< QLineEdit
  list,             ///< QListView
  report_list,      ///< QTreeView without header or root decoration, uniform row heights
  progress,         ///< QProgressBar from 0 to 100 without a text
  marquee,          ///< QProgressBar with the range 0..0, which Qt animates as a busy indicator
  tab_holder,       ///< QTabWidget
  custom,           ///< made by the factory given to the builder
};

/// Style flags of a table row.
namespace control_style {
inline constexpr uint32_t none = 0;
inline constexpr uint32_t center = 1u << 0;     ///< text: centred horizontally
inline constexpr uint32_t right = 1u << 1;      ///< text: aligned right
inline constexpr uint32_t password = 1u << 2;   ///< edit: characters shown as dots
inline constexpr uint32_t read_only = 1u << 3;  ///< edit: not editable
inline constexpr uint32_t disabled = 1u << 4;   ///< created disabled
inline constexpr uint32_t hidden = 1u << 5;     ///< created hidden
inline constexpr uint32_t no_wrap = 1u << 6;    ///< text: one line, not word-wrapped
inline constexpr uint32_t border = 1u << 7;     ///< frame: a one-pixel box
inline constexpr uint32_t elide =
    1u << 8;  ///< text: one line cut in the middle with "…" when it does not fit
}  // namespace control_style

/// How a control follows its dialog along one axis when the dialog is larger or smaller than its table.
enum class follow : uint8_t {
  fixed,   ///< stays where the table puts it, at its size
  grow,    ///< the near edge stays, the far edge follows the dialog's far edge
  move,    ///< keeps its size and its distance from the dialog's far edge
  centre,  ///< keeps its size and moves by half the change, staying centred
};

/// How a control follows its dialog's size, per axis.
struct control_anchor {
  follow horizontal = follow::fixed;
  follow vertical = follow::fixed;
};

/// `design` (pixels, as the table gives it) moved and sized by `anchor` for a dialog `extra` pixels larger
/// (negative: smaller) than its table. A size that would fall below zero is zero.
QRect anchored_rect(const QRect& design, control_anchor anchor, QSize extra);

/// The id of a control that behaviour code never looks up.
inline constexpr int no_control_id = -1;

/// One row of a dialog's layout table. Texts are UTF-8 English, marked for translation in the table with
/// QT_TRANSLATE_NOOP and the context the builder is given; `name` becomes the widget's objectName.
struct dialog_control {
  int id;
  control_kind kind;
  const char* name;
  const char* text;
  int x;
  int y;
  int w;
  int h;
  uint32_t style = control_style::none;
  control_anchor anchor = {};
};

/// The widgets a layout table made, by control id.
class dialog_layout {
 public:
  /// Makes the widget of a `control_kind::custom` row as a child of `parent`; null leaves the row out.
  using factory = std::function<QWidget*(const dialog_control& row, QWidget* parent)>;

  /// Creates the widgets of `table` on `parent` in table order (which is the tab order): objectName from the
  /// row's name, the property "ctrlId" from its id, geometry from its rectangle converted with `units`, the
  /// text translated in the translation context `context` (null: shown as written). A custom row without a
  /// factory, or whose factory returns null, is logged and left out.
  static dialog_layout build(QWidget* parent, const char* context, std::span<const dialog_control> table,
                             const dialog_units& units, const factory& make_custom = {});

  /// The control with this id; null when none was made (or it was deleted). Ids of -1 are not kept.
  QWidget* control(int id) const;

  /// The control with this id as a `T`; null when none or when it is not a `T`.
  template <class T>
  T* find(int id) const {
    return dynamic_cast<T*>(control(id));
  }

  /// Every widget the table made, in table order.
  const std::vector<QPointer<QWidget>>& widgets() const { return widgets_; }

  /// Places every control for a dialog `extra` pixels larger (negative: smaller) than its table, each by its
  /// row's anchor; a zero `extra` puts every control back where the table says.
  void fit(QSize extra) const;

 private:
  struct placed {
    QPointer<QWidget> widget;
    QRect design;
    control_anchor anchor;
  };
  std::map<int, QPointer<QWidget>> by_id_;
  std::vector<QPointer<QWidget>> widgets_;
  std::vector<placed> placed_;
};

/// A one-line text that, when it does not fit its width, shows its beginning and its end with "…" between
/// and offers the whole text as its tooltip; `text()` stays the whole text.
class elided_label final : public QLabel {
  Q_OBJECT

 public:
  /// A label showing `text`.
  explicit elided_label(const QString& text, QWidget* parent = nullptr);

  /// True when the text is wider than the label and is shown cut.
  bool is_elided() const;
  /// The text as shown: the whole text, or its ends around "…".
  QString shown_text() const;

 protected:
  /// Draws the shown text where QLabel would draw the whole one.
  void paintEvent(QPaintEvent* event) override;
  /// The whole text as a tooltip while it is shown cut; no tooltip otherwise.
  bool event(QEvent* event) override;
};

/// The child of `parent` (at any depth) whose "ctrlId" property is `id`, as a `T`; null when none.
template <class T>
T* find_control(const QWidget* parent, int id) {
  for (QWidget* child : parent->findChildren<QWidget*>()) {
    const QVariant value = child->property("ctrlId");
    if (value.isValid() && value.toInt() == id) {
      if (T* typed = dynamic_cast<T*>(child)) return typed;
    }
  }
  return nullptr;
}

}  // namespace quorvane
