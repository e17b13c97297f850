#include "ui/updates/update_check_dlg.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>

#include "ui/http/http_client.h"

namespace quorvane {
namespace {

using k = control_kind;
namespace s = control_style;

constexpr int dialog_width = 300;
constexpr int dialog_height = 190;

// "Software Update", 300 x 190 dialog units.
const dialog_control update_table[] = {
    {no_control_id, k::picture, "icon", "IDI_QUORVANE", 7, 7, 32, 30},
    {CUpdateDialog::id_heading, k::text, "heading", "", 48, 8, 245, 10, s::no_wrap},
    {CUpdateDialog::id_detail, k::text, "detail", "", 48, 22, 245, 26},
    {CUpdateDialog::id_busy, k::marquee, "busy", "", 48, 52, 245, 10},
    {CUpdateDialog::id_notes, k::custom, "notes", "", 48, 52, 245, 100, s::hidden},
    {CUpdateDialog::id_notes_link, k::text, "notesLink", "", 48, 156, 150, 10, s::hidden | s::no_wrap},
    {CUpdateDialog::id_download, k::default_button, "download",
     QT_TRANSLATE_NOOP("quorvane::CUpdateDialog", "Download"), 189, 170, 50, 14, s::hidden},
    {CUpdateDialog::id_close, k::push_button, "close", QT_TRANSLATE_NOOP("quorvane::CUpdateDialog", "Close"),
     243, 170, 50, 14},
};

}  // namespace

CUpdateDialog::CUpdateDialog(http_client& client, QWidget* parent)
    : QDialog(parent),
      checker_(client),
      open_([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
  setWindowTitle(QCoreApplication::translate("quorvane::CUpdateDialog", "Software Update"));
  const dialog_units units = dialog_units::from_dialog_font();
  setFixedSize(units.size(dialog_width, dialog_height));
  layout_ = dialog_layout::build(this, "quorvane::CUpdateDialog", update_table, units,
                                 [](const dialog_control&, QWidget* parent) {
                                   auto* notes = new QTextBrowser(parent);
                                   // Links in the notes go to the browser through `open`, never into this
                                   // view.
                                   notes->setOpenLinks(false);
                                   return notes;
                                 });
  if (auto* heading = layout_.find<QLabel>(id_heading)) {
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
  }
  auto* link = layout_.find<QLabel>(id_notes_link);
  link->setTextFormat(Qt::RichText);
  link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  connect(link, &QLabel::linkActivated, this, [this] { open_url(outcome_.release.notes_link); });
  connect(layout_.find<QTextBrowser>(id_notes), &QTextBrowser::anchorClicked, this,
          [this](const QUrl& url) { open_url(url); });
  connect(layout_.find<QPushButton>(id_download), &QPushButton::clicked, this, [this] {
    if (open_url(outcome_.release.download)) accept();
  });
  connect(layout_.find<QPushButton>(id_close), &QPushButton::clicked, this, &QDialog::reject);
  show_texts(update_texts::checking());
}

void CUpdateDialog::start() {
  checking_ = true;
  outcome_ = update_outcome{};
  show_texts(update_texts::checking());
  checker_.check(QString::fromLatin1(console_version), [this](const update_outcome& outcome) {
    checking_ = false;
    outcome_ = outcome;
    show_texts(update_texts::of(outcome, QString::fromLatin1(console_version)));
  });
}

void CUpdateDialog::show_texts(const update_texts& texts) {
  layout_.find<QLabel>(id_heading)->setText(texts.heading);
  layout_.find<QLabel>(id_detail)->setText(texts.detail);
  layout_.control(id_busy)->setVisible(checking_);
  auto* notes = layout_.find<QTextBrowser>(id_notes);
  if (texts.show_notes) {
    // Notes are HTML in most feeds; plain text shows as it is.
    if (Qt::mightBeRichText(outcome_.release.notes))
      notes->setHtml(outcome_.release.notes);
    else
      notes->setPlainText(outcome_.release.notes);
  } else {
    notes->clear();
  }
  notes->setVisible(texts.show_notes);
  auto* link = layout_.find<QLabel>(id_notes_link);
  link->setText(
      texts.show_notes_link
          ? QStringLiteral("<a href=\"%%1\">%%2</a>")
                .arg(outcome_.release.notes_link.toString(QUrl::FullyEncoded).toHtmlEscaped(),
                     QCoreApplication::translate("quorvane::CUpdateDialog", "Release notes").toHtmlEscaped())
          : QString());
  link->setVisible(texts.show_notes_link);
  auto* download = layout_.find<QPushButton>(id_download);
  download->setVisible(texts.offer_download);
  if (texts.offer_download) download->setFocus();
}

bool CUpdateDialog::open_url(const QUrl& url) {
  if (open_ && url.isValid() && open_(url)) return true;
  layout_.find<QLabel>(id_detail)->setText(
      QCoreApplication::translate("quorvane::CUpdateDialog",
                                  "Unable to open '%1': no web browser could be started.")
          .arg(url.toDisplayString()));
  return false;
}

CUpdateDialog* check_for_updates(QWidget* parent) {
  static QPointer<CUpdateDialog> open_window;
  if (!open_window) {
    open_window = new CUpdateDialog(console_http_client(), parent);
    open_window->setAttribute(Qt::WA_DeleteOnClose);
  }
  open_window->show();
  open_window->raise();
  open_window->activateWindow();
  if (!open_window->checking()) open_window->start();
  return open_window;
}

}  // namespace quorvane
