#include "ui/main/main_window_layout.h"

#include "ui/session/printer_list_controller.h"

namespace quorvane {
namespace {

using k = control_kind;
namespace s = control_style;

// How the controls follow a window larger or smaller than the table: the list and the pages take the room,
// the buttons stay under them, the connecting view stays centred.
constexpr control_anchor list_anchor{follow::fixed, follow::grow};
constexpr control_anchor pages_anchor{follow::grow, follow::grow};
constexpr control_anchor button_anchor{follow::fixed, follow::move};
constexpr control_anchor centred{follow::centre, follow::centre};

constexpr dialog_control controls[] = {
    {control_printer_list, k::custom, "printerList", "", 3, 3, 191, 326, s::none, list_anchor},
    {control_page_placeholder, k::frame, "pagePlaceholder", "", 199, 3, 383, 326, s::hidden, pages_anchor},
    {button_add_printer, k::flat_button, "addPrinter", "+", 3, 333, 22, 14, s::none, button_anchor},
    {button_remove_printer, k::flat_button, "removePrinter", "-", 30, 333, 22, 14, s::none, button_anchor},
    {button_edit, k::flat_button, "edit", QT_TRANSLATE_NOOP("quorvane::CQuorvaneDlg", "Edit"), 199, 333, 50,
     14, s::none, button_anchor},
    {button_save, k::flat_button, "save", QT_TRANSLATE_NOOP("quorvane::CQuorvaneDlg", "Save"), 200, 333, 50,
     14, s::none, button_anchor},
    {button_cancel, k::flat_button, "cancel", QT_TRANSLATE_NOOP("quorvane::CQuorvaneDlg", "Cancel"), 254, 333,
     50, 14, s::none, button_anchor},
    {button_add_user, k::flat_button, "addUser", "+", 199, 333, 22, 14, s::none, button_anchor},
    {button_remove_user, k::flat_button, "removeUser", "-", 226, 333, 22, 14, s::none, button_anchor},
    {control_background, k::custom, "background", "", 3, 3, 579, 326, s::none, pages_anchor},
    {control_connecting_picture, k::picture, "connectingPicture", "IDB_CONNECTING", 259, 103, 64, 59, s::none,
     centred},
    {control_connecting_text, k::text, "connectingText",
     QT_TRANSLATE_NOOP("quorvane::CQuorvaneDlg", "Connecting to Quorvane Service..."), 234, 172, 117, 8,
     s::center | s::no_wrap, centred},
    {control_progress, k::marquee, "progress", "", 219, 188, 141, 14, s::none, centred},
    {control_connecting_hint, k::text, "connectingHint", "", 142, 210, 301, 24, s::center | s::hidden,
     centred},
};

}  // namespace

std::span<const dialog_control> main_window_controls() {
  return controls;
}

}  // namespace quorvane
