#include "ui/main/main_window_layout.h"

#include "ui/session/printer_list_controller.h"

namespace quorvane {
namespace {

using k = control_kind;
namespace s = control_style;

constexpr dialog_control controls[] = {
    {control_printer_list, k::custom, "printerList", "", 3, 3, 191, 326},
    {control_page_placeholder, k::frame, "pagePlaceholder", "", 199, 3, 383, 326, s::hidden},
    {button_add_printer, k::flat_button, "addPrinter", "+", 3, 333, 22, 14},
    {button_remove_printer, k::flat_button, "removePrinter", "-", 30, 333, 22, 14},
    {button_edit, k::flat_button, "edit", "Edit", 199, 333, 50, 14},
    {button_save, k::flat_button, "save", "Save", 200, 333, 50, 14},
    {button_cancel, k::flat_button, "cancel", "Cancel", 254, 333, 50, 14},
    {button_add_user, k::flat_button, "addUser", "+", 199, 333, 22, 14},
    {button_remove_user, k::flat_button, "removeUser", "-", 226, 333, 22, 14},
    {control_background, k::custom, "background", "", 3, 3, 579, 326},
    {control_connecting_picture, k::picture, "connectingPicture", "IDB_CONNECTING", 259, 103, 64, 59},
    {control_connecting_text, k::text, "connectingText", "Connecting to Quorvane Service...", 234, 172, 117,
     8, s::center | s::no_wrap},
    {control_progress, k::marquee, "progress", "", 219, 188, 141, 14},
    {control_connecting_hint, k::text, "connectingHint", "", 142, 210, 301, 24, s::center | s::hidden},
};

}  // namespace

std::span<const dialog_control> main_window_controls() {
  return controls;
}

}  // namespace quorvane
