#include "ui/main/summary_pages.h"

#include "ui/session/printer_rows.h"

namespace quorvane {

printer_summary summarize(const model::printer* printer) {
  if (!printer) return {};
  std::string action;
  switch (printer->action()) {
    case model::action_open:
      action = printer->actionParam().empty() ? "Open With: Default"
                                              : "Open With: " + printer->actionParam().narrow();
      break;
    case model::action_print:
      action = "Print on: " + printer->name().narrow();
      break;
    default:
      action = "Nothing";
      break;
  }
  const std::string folder = printer->directory().empty() ? "Default" : printer->directory().narrow();
  printer_summary summary;
  summary.general = "Name: " + shown_display_name(printer->displayName()) +
                    "\nLocation: " + printer->location().narrow() + "\nFolder: " + folder +
                    "\nAction: " + action;
  summary.security = "Users:";
  if (printer->acl().empty()) summary.security += "\nEveryone";
  for (const std::string& user : printer->acl()) summary.security += "\n" + user;
  return summary;
}

summary_pages::summary_pages(QLabel* general, QLabel* security, std::function<void(model::printer_ptr)> send)
    : general_(general), security_(security), send_(std::move(send)) {}

void summary_pages::show_printer(model::printer_ptr printer) {
  if (printer.get() != printer_.get()) apply_edit();
  printer_ = std::move(printer);
  const printer_summary summary = summarize(printer_.get());
  general_->setText(QString::fromStdString(summary.general));
  security_->setText(QString::fromStdString(summary.security));
}

void summary_pages::begin_edit() {
  if (printer_) editing_ = true;
}

void summary_pages::apply_edit() {
  if (!editing_) return;
  editing_ = false;
  if (printer_ && send_) send_(printer_);
}

void summary_pages::cancel_edit() {
  editing_ = false;
}

}  // namespace quorvane
