#include "ui/app/system_tray.h"

#include "ui/main/main_window.h"

namespace quorvane {
namespace {

struct tray_item {
  const char* text;  // null: a separator
  int command;
};

// The notification-area menu ("System Tray").
constexpr tray_item tray_menu[] = {
    {"Check For Updates...", command_tray_check_updates},
    {nullptr, 0},
    {"Open Quorvane", command_open},
    {nullptr, 0},
    {"Preferences...", command_tray_preferences},
    {nullptr, 0},
    {"Exit", command_tray_exit},
};

}  // namespace

CSystemTray::CSystemTray(const QIcon& icon, QObject* parent) : QObject(parent), icon_(icon) {
  menu_.setObjectName(QStringLiteral("trayMenu"));
  for (const tray_item& item : tray_menu) {
    if (!item.text) {
      menu_.addSeparator();
      continue;
    }
    QAction* action = menu_.addAction(QString::fromUtf8(item.text));
    action->setObjectName(QStringLiteral("command%1").arg(item.command));
    action->setEnabled(false);
    const int command = item.command;
    connect(action, &QAction::triggered, this, [this, command] {
      auto handler = handlers_.find(command);
      if (handler != handlers_.end() && handler->second) handler->second();
    });
    actions_[command] = action;
  }
  // The first item is the default one, drawn in bold.
  menu_.setDefaultAction(menu_.actions().first());
  icon_.setToolTip(QStringLiteral("Quorvane"));
  icon_.setContextMenu(&menu_);
  connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick && double_click_) double_click_();
  });
  icon_.show();
}

void CSystemTray::set_command_handler(int command, std::function<void()> handler) {
  const bool enabled = bool(handler);
  handlers_[command] = std::move(handler);
  if (QAction* action = command_action(command)) action->setEnabled(enabled);
}

QAction* CSystemTray::command_action(int command) const {
  auto found = actions_.find(command);
  return found == actions_.end() ? nullptr : found->second;
}

}  // namespace quorvane
