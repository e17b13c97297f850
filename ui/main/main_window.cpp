#include "ui/main/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QIcon>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>

#include "core/os.h"
#include "ui/controls/background.h"
#include "ui/controls/bitmap_resource.h"
#include "ui/layout/dialog_units.h"
#include "ui/layout/png_image.h"
#include "ui/lists/printer_list.h"
#include "ui/main/main_window_layout.h"
#include "ui/main/settings_pages.h"
#include "ui/session/service_hint.h"
#include "ui/settings/general_page.h"
#include "ui/settings/security_page.h"

namespace quorvane {
namespace {

// The menu bar: menus with their items in order; command 0 is a separator. Each text has its mnemonic (Alt+F
// opens File), one letter used once in its menu.
struct menu_item {
  const char* text;
  int command;
};

struct menu_entry {
  const char* title;
  std::initializer_list<menu_item> items;
};

const menu_entry menu_bar[] = {
    {QT_TRANSLATE_NOOP("quorvane::CQuorvaneDlg", "&File"),
     {{QT_TRANSLATE_NOOP("quorvane::CQuorvaneDlg", "&Phones and Tablets..."), command_phones},
      {QT_TRANSLATE_NOOP("quorvane::CQuorvaneDlg", "&Recent Documents..."), command_recent_documents},
      {nullptr, 0},
      {QT_TRANSLATE_NOOP("quorvane::CQuorvaneDlg", "Check For &Updates..."), command_check_updates},
      {nullptr, 0},
      {QT_TRANSLATE_NOOP("quorvane::CQuorvaneDlg", "Pr&eferences..."), command_preferences},
      {nullptr, 0},
      {QT_TRANSLATE_NOOP("quorvane::CQuorvaneDlg", "E&xit"), command_exit}}},
    {QT_TRANSLATE_NOOP("quorvane::CQuorvaneDlg", "&Help"),
     {{QT_TRANSLATE_NOOP("quorvane::CQuorvaneDlg", "&Contents"), command_help},
      {nullptr, 0},
      {QT_TRANSLATE_NOOP("quorvane::CQuorvaneDlg", "&About Quorvane..."), command_about}}},
};

}  // namespace

CQuorvaneDlg::CQuorvaneDlg(uint16_t port, QWidget* parent)
    : QMainWindow(parent),
      controller_(
          rows_, nullptr, [this](model::printer_ptr p) { session_.updatePrinter(std::move(p)); },
          [this](model::printer_ptr p) { session_.removePrinter(std::move(p)); }),
      session_(controller_, port),
      tray_available_([] { return QSystemTrayIcon::isSystemTrayAvailable(); }) {
  setWindowTitle(QStringLiteral("Quorvane"));
  setWindowIcon(QIcon(png_pixmap(QStringLiteral(":/images/IDI_QUORVANE.png"))));
  // A close box, a maximise box and a system menu; no minimise box (closing hides to the notification area).
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);

  const dialog_units units = dialog_units::from_dialog_font();
  client_ = new QWidget(this);
  client_->setObjectName(QStringLiteral("client"));
  design_size_ = units.size(main_window_width_du, main_window_height_du);
  client_->setMinimumSize(units.size(main_window_min_width_du, main_window_min_height_du));
  client_->resize(design_size_);
  layout_ = dialog_layout::build(client_, "quorvane::CQuorvaneDlg", main_window_controls(), units,
                                 [this](const dialog_control& row, QWidget* parent) -> QWidget* {
                                   if (row.id == control_printer_list) return make_printer_list(parent);
                                   if (row.id == control_background) return new CBackground(parent);
                                   return nullptr;
                                 });
  follow_selection();
  // The connecting picture at the screen's pixel ratio (the table's picture is the 1x PNG).
  layout_.find<QLabel>(control_connecting_picture)
      ->setPixmap(image_for_ratio(QStringLiteral("IDB_CONNECTING"), screen_pixel_ratio()));

  // The page holder takes the placeholder frame's place.
  page_holder_ = new QTabWidget(client_);
  page_holder_->setObjectName(QStringLiteral("pageHolder"));
  page_holder_->setGeometry(control(control_page_placeholder)->geometry());
  // The connecting view's controls lie above the list and the pages.
  for (int id : {control_background, control_connecting_picture, control_connecting_text, control_progress,
                 control_connecting_hint}) {
    control(id)->raise();
  }

  controller_.on_selection_changed([this](int row) { select_in_view(row); });
  controller_.on_button_changed([this](console_button id, button_state state) {
    if (QPushButton* b = button(id)) {
      b->setVisible(state.visible);
      b->setEnabled(state.enabled);
    }
  });
  controller_.on_activate_page([this](settings_page page) { page_holder_->setCurrentIndex(int(page)); });
  connect(page_holder_, &QTabWidget::currentChanged, this, [this](int index) {
    controller_.page_activated(index == 1 ? settings_page::security : settings_page::general);
  });
  for (console_button id : console_buttons) {
    QPushButton* b = button(id);
    const button_state state = controller_.button(id);
    b->setVisible(state.visible);
    b->setEnabled(state.enabled);
  }
  connect(button(button_add_printer), &QPushButton::clicked, this, [this] { controller_.add_printer(); });
  connect(button(button_remove_printer), &QPushButton::clicked, this, [this] {
    // Removing cannot be undone (the service forgets the printer and phones lose it): ask first.
    const std::string name = controller_.printer_to_remove();
    if (!name.empty() &&
        QMessageBox::question(
            this, tr("Remove Printer"),
            tr("Remove the printer \"%1\"? Phones and tablets will no longer be able to print "
               "to it.")
                .arg(QString::fromStdString(name)),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
      return;
    controller_.remove_printer();
  });
  connect(button(button_edit), &QPushButton::clicked, this, [this] { controller_.edit(); });
  connect(button(button_save), &QPushButton::clicked, this, [this] { controller_.save(); });
  connect(button(button_cancel), &QPushButton::clicked, this, [this] { controller_.cancel(); });
  make_pages();

  session_.on_view_changed([this](bool connected) { apply_view(connected); });
  // A service that does not answer for a while is most likely not running: the view says how to start it,
  // and keeps trying.
  // The command can be copied from the view.
  layout_.find<QLabel>(control_connecting_hint)->setTextInteractionFlags(Qt::TextSelectableByMouse);
  session_.on_attempt_failed([this](int failed) {
    const QString hint = service_hint(failed, find_service_install(), session_.port());
    auto* label = layout_.find<QLabel>(control_connecting_hint);
    label->setText(hint);
    label->setVisible(connecting_view_ && !hint.isEmpty());
  });
  // The console mostly sits idle in the notification area: what the service's notifications needed for a
  // moment (messages, parsed copies, the database's work) goes back to the system after each batch.
  connect(&rows_, &QAbstractItemModel::rowsInserted, this, &CQuorvaneDlg::release_memory_when_idle);
  connect(&rows_, &QAbstractItemModel::rowsRemoved, this, &CQuorvaneDlg::release_memory_when_idle);
  connect(&rows_, &QAbstractItemModel::dataChanged, this, &CQuorvaneDlg::release_memory_when_idle);
  setCentralWidget(client_);
  build_menus();
  // The window opens at the table's size; the list and the pages take what it grows or shrinks by.
  client_->installEventFilter(this);
  resize(design_size_.width(), design_size_.height() + menuBar()->sizeHint().height());
  apply_view(false);
}

CQuorvaneDlg::~CQuorvaneDlg() {
  controller_.set_pages(nullptr);
}

QWidget* CQuorvaneDlg::make_printer_list(QWidget* parent) {
  list_view_ = new CPrinterList(parent);
  list_view_->setModel(&rows_);
  list_view_->set_update_printer([this](model::printer_ptr p) { updatePrinter(std::move(p)); });
  return list_view_;
}

void CQuorvaneDlg::make_pages() {
  general_ = new CGeneralSettings();
  security_ = new CSecuritySettings();
  const update_printer_function send = [this](model::printer_ptr p) { updatePrinter(std::move(p)); };
  general_->set_update_printer(send);
  general_->set_button_host(client_);
  security_->set_update_printer(send);
  security_->set_button_host(client_);
  {
    // The tabs arrive quietly: the controller decides which page is current.
    QSignalBlocker quiet(page_holder_);
    page_holder_->addTab(general_, tr("General"));
    page_holder_->addTab(security_, tr("Security"));
    page_holder_->setCurrentIndex(int(controller_.current_page()));
  }
  pages_ = std::make_unique<settings_pages>(general_, security_);
  controller_.set_pages(pages_.get());
  pages_->show_printer(controller_.selected_printer());

  // A page shows the buttons it works with when it becomes active; the window has the last word, so that
  // the connecting view shows none and an edit in progress keeps Save and Cancel.
  auto follow = [this](int index) {
    general_->set_active(index == 0);
    security_->set_active(index == 1);
    sync_button_visibility();
  };
  connect(page_holder_, &QTabWidget::currentChanged, general_, follow);
  follow(page_holder_->currentIndex());
  connect(button(button_add_user), &QPushButton::clicked, security_,
          [this] { security_->ask_and_add_user(); });
  connect(button(button_remove_user), &QPushButton::clicked, security_,
          [this] { security_->remove_selected_user(); });
}

bool CQuorvaneDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == client_ && event->type() == QEvent::Resize) {
    const QSize extra = client_->size() - design_size_;
    layout_.fit(extra);
    page_holder_->setGeometry(control(control_page_placeholder)->geometry());
    // The pages grow and shrink with their holder, which follows the window on both axes.
    general_->set_extra_room(extra);
    security_->set_extra_room(extra);
  }
  return QMainWindow::eventFilter(watched, event);
}

void CQuorvaneDlg::fit_to_screen() {
  const QScreen* shown_on = screen();
  if (!shown_on) return;
  // The frame is known once the window is shown; before that the window itself must fit.
  const QRect room = shown_on->availableGeometry();
  const QMargins frame(geometry().left() - frameGeometry().left(), geometry().top() - frameGeometry().top(),
                       frameGeometry().right() - geometry().right(),
                       frameGeometry().bottom() - geometry().bottom());
  const QSize most = room.marginsRemoved(frame).size();
  if (width() > most.width() || height() > most.height()) resize(size().boundedTo(most));
  // A window reaching past the available area's far edges is moved back inside it.
  QRect outer = frameGeometry();
  if (outer.right() > room.right()) outer.moveRight(room.right());
  if (outer.bottom() > room.bottom()) outer.moveBottom(room.bottom());
  if (outer.left() < room.left()) outer.moveLeft(room.left());
  if (outer.top() < room.top()) outer.moveTop(room.top());
  if (outer.topLeft() != frameGeometry().topLeft()) move(outer.topLeft());
}

void CQuorvaneDlg::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // A window manager adds its frame after the window is mapped: fitted again once that is known.
  QTimer::singleShot(0, this, [this] { fit_to_screen(); });
}

void CQuorvaneDlg::follow_selection() {
  list_view_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  connect(list_view_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    if (syncing_selection_) return;
    const QModelIndexList selected = list_view_->selectionModel()->selectedRows();
    controller_.select(selected.isEmpty() ? -1 : selected.first().row());
  });
}

void CQuorvaneDlg::select_in_view(int row) {
  if (!list_view_) return;
  syncing_selection_ = true;
  QItemSelectionModel* selection = list_view_->selectionModel();
  if (row < 0) {
    selection->clear();
  } else {
    selection->setCurrentIndex(rows_.index(row, 0),
                               QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
  syncing_selection_ = false;
}

void CQuorvaneDlg::sync_button_visibility() {
  for (console_button id : console_buttons) {
    if (QPushButton* b = button(id)) b->setVisible(controller_.button(id).visible);
  }
}

QWidget* CQuorvaneDlg::control(int id) const {
  return layout_.control(id);
}

QPushButton* CQuorvaneDlg::button(console_button id) const {
  return layout_.find<QPushButton>(id);
}

void CQuorvaneDlg::updatePrinter(model::printer_ptr printer, server::status_callback done) {
  session_.updatePrinter(std::move(printer), std::move(done));
}

void CQuorvaneDlg::saveAttributes(const Json::Value& attributes, server::status_callback done) {
  session_.saveAttributes(attributes, std::move(done));
}

void CQuorvaneDlg::build_menus() {
  for (const menu_entry& entry : menu_bar) {
    QMenu* menu = menuBar()->addMenu(tr(entry.title));
    for (const menu_item& item : entry.items) {
      if (!item.text) {
        menu->addSeparator();
        continue;
      }
      QAction* action = menu->addAction(tr(item.text));
      action->setObjectName(QStringLiteral("command%1").arg(item.command));
      action->setProperty("command", item.command);
      // A command nobody handles yet is shown disabled rather than doing nothing.
      action->setEnabled(false);
      const int command = item.command;
      connect(action, &QAction::triggered, this, [this, command] {
        auto handler = handlers_.find(command);
        if (handler != handlers_.end() && handler->second) handler->second();
      });
      actions_[item.command] = action;
    }
  }
}

QAction* CQuorvaneDlg::command_action(int command) const {
  auto found = actions_.find(command);
  return found == actions_.end() ? nullptr : found->second;
}

void CQuorvaneDlg::set_command_handler(int command, std::function<void()> handler) {
  const bool enabled = bool(handler);
  handlers_[command] = std::move(handler);
  if (QAction* action = command_action(command)) action->setEnabled(enabled);
}

void CQuorvaneDlg::preferences() {
  auto handler = handlers_.find(command_preferences);
  if (handler != handlers_.end() && handler->second) handler->second();
}

void CQuorvaneDlg::apply_view(bool connected) {
  connecting_view_ = !connected;
  for (int id : {control_background, control_connecting_picture, control_connecting_text, control_progress}) {
    control(id)->setVisible(!connected);
  }
  control(control_page_placeholder)->setVisible(false);
  // The hint comes back with the next failed attempts, not with the view.
  control(control_connecting_hint)->setVisible(false);
  list_view_->setVisible(connected);
  page_holder_->setVisible(connected);
  auto* progress = layout_.find<QProgressBar>(control_progress);
  // A range of 0..0 animates the busy indicator; any other range stops it.
  progress->setRange(0, connected ? 1 : 0);
  if (!connected) progress->raise();
}

void CQuorvaneDlg::release_memory_when_idle() {
  if (release_pending_) return;
  release_pending_ = true;
  QTimer::singleShot(0, this, [this] {
    release_pending_ = false;
    release_free_memory();
  });
}

bool CQuorvaneDlg::tray_available() const {
  return tray_available_ && tray_available_();
}

void CQuorvaneDlg::start(bool start_minimized) {
  session_.start();
  fit_to_screen();
  if (!start_minimized) {
    show_allowed_ = true;
    show();
  } else if (tray_available()) {
    // Only the notification icon is shown; it brings the window back.
    show_allowed_ = false;
  } else {
    // Without a notification area a hidden window could never come back.
    show_allowed_ = true;
    showMinimized();
  }
}

void CQuorvaneDlg::setVisible(bool visible) {
  if (visible && !show_allowed_) return;
  QMainWindow::setVisible(visible);
}

void CQuorvaneDlg::show_from_tray() {
  show_allowed_ = true;
  if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void CQuorvaneDlg::hide_to_tray() {
  if (tray_available()) {
    show_allowed_ = false;
    hide();
  } else {
    showMinimized();
  }
}

void CQuorvaneDlg::closeEvent(QCloseEvent* event) {
  if (closing_allowed_) {
    event->accept();
    return;
  }
  event->ignore();
  hide_to_tray();
}

void CQuorvaneDlg::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && isMinimized() && tray_available()) {
    // Hiding from inside the state change confuses some window managers; it is done right after.
    QTimer::singleShot(0, this, [this] {
      if (isMinimized()) hide_to_tray();
    });
  }
}

}  // namespace quorvane
