#include "ui/phones/phones_dlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QThread>
#include <QVBoxLayout>

#include "core/os.h"
#include "ui/phones/qr_code.h"
#include "ui/phones/self_check_inputs.h"

namespace quorvane {
namespace {

// Removes every item of `layout`, deleting their widgets.
void clear_layout(QLayout* layout) {
  while (QLayoutItem* item = layout->takeAt(0)) {
    if (QWidget* widget = item->widget()) widget->deleteLater();
    if (QLayout* inner = item->layout()) clear_layout(inner);
    delete item;
  }
}

QLabel* selectable_label(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setWordWrap(true);
  return label;
}

// The mark in front of a check: a green tick, a red cross, or an orange question mark.
QString mark_of(phones::check_state state) {
  switch (state) {
    case phones::check_state::passed:
      return QStringLiteral("<span style=\"color:#1a8f2e; font-size:16px\">\u2714</span>");
    case phones::check_state::failed:
      return QStringLiteral("<span style=\"color:#c62828; font-size:16px\">\u2718</span>");
    case phones::check_state::unknown:
      break;
  }
  return QStringLiteral("<span style=\"color:#c77700; font-size:16px\">?</span>");
}

}  // namespace

CPhonesDlg::CPhonesDlg(source from, QWidget* parent, gather_function gather)
    : QDialog(parent), from_(std::move(from)), gather_(std::move(gather)) {
  if (!gather_) gather_ = phones::gather_check_inputs;
  setObjectName(QStringLiteral("phonesDlg"));
  setWindowTitle(tr("Phones and Tablets"));
  auto* outer = new QVBoxLayout(this);
  outer->addWidget(selectable_label(tr("Phones and tablets on this network list these printers under the "
                                       "names below. Scan a printer's code "
                                       "with a phone's camera to open its page and print from the browser."),
                                    this));

  auto* scroll = new QScrollArea(this);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  auto* printers = new QWidget(scroll);
  printer_box_ = new QVBoxLayout(printers);
  scroll->setWidget(printers);
  outer->addWidget(scroll, /*stretch=*/1);

  auto* heading = new QLabel(tr("<b>Self-check</b>"), this);
  outer->addWidget(heading);
  check_state_ = new QLabel(this);
  check_state_->setObjectName(QStringLiteral("checkState"));
  outer->addWidget(check_state_);
  check_grid_ = new QGridLayout;
  check_grid_->setColumnStretch(1, 1);
  outer->addLayout(check_grid_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  again_ = buttons->addButton(tr("Check Again"), QDialogButtonBox::ActionRole);
  again_->setObjectName(QStringLiteral("checkAgain"));
  connect(again_, &QPushButton::clicked, this, [this] { check(); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  outer->addWidget(buttons);
  resize(720, 640);
  check();
}

CPhonesDlg::~CPhonesDlg() {
  // A check still reading finds the window gone and drops what it read.
  *alive_ = false;
}

void CPhonesDlg::show_printers() {
  clear_layout(printer_box_);
  qr_labels_.clear();
  const ipp_reach reach = from_.reach ? from_.reach() : ipp_reach{};
  const std::vector<phones::local_address> addresses = phones::this_computer_addresses();
  printers_ = phones::phone_printers(from_.printers ? from_.printers() : std::vector<model::printer_ptr>{},
                                     phones::phone_hosts(addresses, host_name().narrow()), reach.port);
  QWidget* holder = printer_box_->parentWidget();
  if (reach.port == 0) {
    printer_box_->addWidget(selectable_label(
        tr("The print service has not said how phones reach it (it is not connected yet), so the printers' "
           "addresses are not known."),
        holder));
  } else if (printers_.empty()) {
    printer_box_->addWidget(selectable_label(
        tr("No printer is offered to phones: tick a printer in the list to offer it."), holder));
  }
  for (const phones::phone_printer& p : printers_) {
    auto* frame = new QFrame(holder);
    frame->setFrameShape(QFrame::StyledPanel);
    auto* row = new QHBoxLayout(frame);
    auto* text = new QVBoxLayout;
    auto* name = selectable_label(
        QStringLiteral("<b>%1</b>").arg(QString::fromStdString(p.name).toHtmlEscaped()), frame);
    text->addWidget(name);
    QStringList uris;
    for (size_t i = 0; i < p.ipp_uris.size(); ++i) {
      uris << QString::fromStdString(p.ipp_uris[i]) << QString::fromStdString(p.ipps_uris[i]);
    }
    // The page the code opens, written out for a device without a camera.
    uris << QString() << QString::fromStdString(p.page_url);
    auto* addresses_label = selectable_label(uris.join(QLatin1Char('\n')), frame);
    addresses_label->setWordWrap(false);
    text->addWidget(addresses_label);
    text->addStretch(1);
    row->addLayout(text, /*stretch=*/1);
    auto* code = new QVBoxLayout;
    auto* qr = new QLabel(frame);
    qr->setObjectName(QStringLiteral("qrCode"));
    qr->setPixmap(QPixmap::fromImage(phones::qr_image(p.page_url, /*module_pixels=*/3)));
    qr->setToolTip(QString::fromStdString(p.page_url));
    code->addWidget(qr, 0, Qt::AlignHCenter);
    row->addLayout(code);
    printer_box_->addWidget(frame);
    qr_labels_.push_back(qr);
  }
  printer_box_->addStretch(1);
}

void CPhonesDlg::check() {
  if (checking_) return;
  show_printers();
  checking_ = true;
  again_->setEnabled(false);
  check_state_->setText(tr("Checking..."));
  check_state_->setVisible(true);
  const std::vector<phones::expected_printer> expected = phones::expected_printers(printers_);
  const ipp_reach reach = from_.reach ? from_.reach() : ipp_reach{};
  auto inputs = std::make_shared<phones::check_inputs>();
  QThread* reader =
      QThread::create([inputs, expected, reach, gather = gather_] { *inputs = gather(expected, reach); });
  std::shared_ptr<bool> alive = alive_;
  // The thread ends on its own; the window takes the result only while it exists.
  connect(reader, &QThread::finished, reader, &QObject::deleteLater);
  connect(reader, &QThread::finished, this, [this, inputs, alive] {
    if (!*alive) return;
    lines_ = phones::run_self_check(*inputs);
    checking_ = false;
    again_->setEnabled(true);
    check_state_->setVisible(false);
    show_lines();
    emit checked();
  });
  reader->start();
}

void CPhonesDlg::show_lines() {
  clear_layout(check_grid_);
  int row = 0;
  for (const phones::check_line& line : lines_) {
    auto* mark = new QLabel(mark_of(line.result.state), this);
    mark->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    check_grid_->addWidget(mark, row, 0);
    QString text = line.title.toHtmlEscaped();
    if (!line.result.problem.isEmpty()) text += QStringLiteral("<br>") + line.result.problem.toHtmlEscaped();
    auto* label = selectable_label(text, this);
    label->setTextFormat(Qt::RichText);
    label->setObjectName(QStringLiteral("check%1").arg(row));
    check_grid_->addWidget(label, row, 1);
    ++row;
  }
}

}  // namespace quorvane
