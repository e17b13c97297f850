// Colours and drawing steps shared by the console's self-drawn lists.
#pragma once

#include <QAbstractItemView>
#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPalette>
#include <QRect>
#include <QString>

class QTreeView;

namespace quorvane::list_painting {

// The design's colours, painted on a light palette.
inline const QColor selected_colour{54, 116, 223};
inline const QColor background_colour{255, 255, 255};
inline const QColor selected_text_colour{255, 255, 255};
inline const QColor text_colour{0, 0, 0};
inline const QColor location_colour{72, 72, 72};
inline const QColor header_top_colour{237, 237, 237};
inline const QColor header_bottom_colour{217, 217, 217};
inline const QColor header_bottom_line_colour{185, 185, 185};
inline const QColor paper_top_line_first_colour{255, 255, 255};
inline const QColor paper_top_line_colour{218, 218, 218};
inline const QColor header_text_colour{65, 65, 65};
inline const QColor off_text_colour{128, 128, 128};

/// The colours a self-drawn list paints with.
struct list_colours {
  QColor background;
  QColor text;
  QColor location;  ///< the printer's location under its name
  QColor selected;
  QColor selected_text;
  QColor header_top;  ///< the headers' gradient
  QColor header_bottom;
  QColor header_bottom_line;
  QColor paper_top_line_first;  ///< the line over "PAPER" right under "FEATURES"
  QColor paper_top_line;
  QColor header_text;
  QColor off_text;  ///< a feature or paper size that is off, in view mode
};

/// The colours for a list shown with `palette`: the design's on a light palette; on a dark one (is_dark)
/// the palette's base, text, highlight and button colours, every text at least 4.5:1 against what it is
/// drawn on.
list_colours colours_for(const QPalette& palette);

/// Starts painting a cell of a list whose rows can be selected: saves `painter` (the caller restores it) and
/// fills the cell with `colours`' selection colour when its row is selected, else with its background; true
/// when selected.
bool begin_selectable_cell(QPainter& painter, const QStyleOptionViewItem& option,
                           const list_colours& colours);

/// `font` at `pixel_size` pixels, bold when asked.
QFont sized_font(const QFont& font, int pixel_size, bool bold = false);

/// Draws `text` on one line from (`left`, `top`) in `font` and `colour`, cut with an ending ellipsis at
/// `right` (exclusive); nothing when there is no room.
void draw_line(QPainter& painter, const QFont& font, const QColor& colour, int left, int top, int right,
               const QString& text);

/// Draws `image` at (`x`, `y`) at its own size, its opacity scaled by `opacity`; nothing for a null image.
void draw_image(QPainter& painter, const QPixmap& image, int x, int y, qreal opacity = 1.0);

/// Sets up `view` as a self-drawn flat list: no header, no tree decoration or indentation, rows of one
/// height, no editing, no horizontal scroll bar, fixed columns that cannot be moved, and whole rows
/// selected in `mode`. Whether the last column stretches is left to the list.
void set_up_self_drawn_view(QTreeView* view, QAbstractItemView::SelectionMode mode);

}  // namespace quorvane::list_painting
