// The notification-area icon of the console and its menu.
#pragma once

#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <functional>
#include <map>

namespace quorvane {

/// The notification-area icon with the tip "Quorvane" and its menu ("Check For Updates...", "Open Quorvane",
/// "Phones and Tablets...", "Recent Documents...", "Preferences...", "Exit"; the first item is drawn as the
/// default). A double click opens the window. The icon is always shown: where no notification area exists
/// yet, Qt embeds it once one appears.
class CSystemTray : public QObject {
 public:
  /// An icon (shown at once) whose menu items are disabled until given a handler.
  explicit CSystemTray(const QIcon& icon, QObject* parent = nullptr);

  /// Shows the icon's picture for a connected print service (the console's icon as it is) or for one that is
  /// not connected (the icon in grey with a red mark); not connected at first.
  void set_connected(bool connected);
  /// True while the picture says that the print service is connected.
  bool connected() const { return connected_; }

  /// Makes the menu item of `command` run `handler` and enables it; an empty handler disables it.
  void set_command_handler(int command, std::function<void()> handler);
  /// Runs `handler` on a double click of the icon.
  void on_double_click(std::function<void()> handler) { double_click_ = std::move(handler); }

  /// The menu's action for `command`; null when the menu has none.
  QAction* command_action(int command) const;
  /// The icon.
  QSystemTrayIcon& icon() { return icon_; }
  /// The context menu.
  QMenu& menu() { return menu_; }

 private:
  QMenu menu_;  // owned here: the icon does not take ownership of its menu
  QSystemTrayIcon icon_;
  QIcon connected_icon_;
  QIcon disconnected_icon_;
  bool connected_ = false;
  std::map<int, QAction*> actions_;
  std::map<int, std::function<void()>> handlers_;
  std::function<void()> double_click_;
};

/// The picture of a print service that is not connected, made from the console's icon `picture`: its
/// colours turned to grey and lightened (the alpha kept), with a red dot in the lower right quarter.
QImage disconnected_picture(const QImage& picture);

}  // namespace quorvane
