#include "ui/app/system_tray.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPen>

#include <algorithm>

#include "ui/main/main_window.h"

namespace quorvane {
namespace {

struct tray_item {
  const char* text;  // null: a separator
  int command;
};

// The notification-area menu ("System Tray").
constexpr tray_item tray_menu[] = {
    {QT_TRANSLATE_NOOP("quorvane::CSystemTray", "Check For Updates..."), command_tray_check_updates},
    {nullptr, 0},
    {QT_TRANSLATE_NOOP("quorvane::CSystemTray", "Open Quorvane"), command_open},
    {QT_TRANSLATE_NOOP("quorvane::CSystemTray", "Phones and Tablets..."), command_tray_phones},
    {QT_TRANSLATE_NOOP("quorvane::CSystemTray", "Recent Documents..."), command_tray_recent_documents},
    {nullptr, 0},
    {QT_TRANSLATE_NOOP("quorvane::CSystemTray", "Preferences..."), command_tray_preferences},
    {nullptr, 0},
    {QT_TRANSLATE_NOOP("quorvane::CSystemTray", "Exit"), command_tray_exit},
};

}  // namespace

QImage disconnected_picture(const QImage& picture) {
  QImage grey = picture.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < grey.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(grey.scanLine(y));
    for (int x = 0; x < grey.width(); ++x) {
      // Lightened halfway to white, so that the grey icon reads as inactive beside the others.
      const int level = (qGray(line[x]) + 255) / 2;
      line[x] = qRgba(level, level, level, qAlpha(line[x]));
    }
  }
  QPainter painter(&grey);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal side = grey.width() * 0.45;
  const QRectF dot(grey.width() - side, grey.height() - side, side, side);
  painter.setPen(QPen(Qt::white, std::max<qreal>(1, side / 8)));
  painter.setBrush(QColor(200, 30, 30));
  painter.drawEllipse(dot.adjusted(0.5, 0.5, -0.5, -0.5));
  return grey;
}

CSystemTray::CSystemTray(const QIcon& icon, QObject* parent) : QObject(parent), connected_icon_(icon) {
  // Each size the icon has gets its grey twin; a tray asks for the size it draws.
  QList<QSize> sizes = icon.availableSizes();
  if (sizes.isEmpty()) sizes = {QSize(48, 48)};
  for (const QSize& size : sizes) {
    disconnected_icon_.addPixmap(QPixmap::fromImage(disconnected_picture(icon.pixmap(size).toImage())));
  }
  icon_.setIcon(disconnected_icon_);
  menu_.setObjectName(QStringLiteral("trayMenu"));
  for (const tray_item& item : tray_menu) {
    if (!item.text) {
      menu_.addSeparator();
      continue;
    }
    QAction* action = menu_.addAction(QCoreApplication::translate("quorvane::CSystemTray", item.text));
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

void CSystemTray::set_connected(bool connected) {
  connected_ = connected;
  icon_.setIcon(connected ? connected_icon_ : disconnected_icon_);
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
