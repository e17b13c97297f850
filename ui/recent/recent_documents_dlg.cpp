#include "ui/recent/recent_documents_dlg.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTreeView>

#include "ui/layout/dialog_units.h"
#include "ui/session/printer_rows.h"

namespace quorvane {
namespace {

using k = control_kind;
namespace s = control_style;

constexpr int width_du = 600;
constexpr int height_du = 276;

constexpr dialog_control controls[] = {
    {CRecentDocumentsDlg::id_search_label, k::text, "searchLabel",
     QT_TRANSLATE_NOOP("quorvane::CRecentDocumentsDlg", "Search:"), 7, 9, 30, 8, s::no_wrap},
    {CRecentDocumentsDlg::id_search, k::edit, "search", "", 40, 7, 200, 12},
    {CRecentDocumentsDlg::id_list, k::custom, "documents", "", 7, 24, 586, 220},
    {CRecentDocumentsDlg::id_empty, k::text, "emptyText", "", 100, 110, 400, 40, s::center | s::hidden},
    {CRecentDocumentsDlg::id_status, k::text, "status", "", 7, 251, 520, 18},
    {CRecentDocumentsDlg::id_close, k::push_button, "close",
     QT_TRANSLATE_NOOP("quorvane::CRecentDocumentsDlg", "Close"), 543, 253, 50, 14},
};

// The outcome of a failed delivery in bold, which stands out on light and dark palettes alike.
class outcome_delegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.column() == recent_documents_model::outcome_column &&
        index.data(recent_documents_model::failed_role).toBool()) {
      option->font.setBold(true);
    }
  }
};

// The columns' widths in dialog units, the last one taking the rest.
constexpr int column_widths_du[] = {72, 100, 90, 80, 120};

}  // namespace

std::span<const dialog_control> recent_documents_controls() {
  return controls;
}

CRecentDocumentsDlg::CRecentDocumentsDlg(recent_documents_links links, QWidget* parent)
    : QDialog(parent), links_(std::move(links)) {
  setWindowTitle(tr("Recent Documents"));
  setObjectName(QStringLiteral("recentDocuments"));
  const dialog_units units = dialog_units::from_dialog_font();
  setFixedSize(units.size(width_du, height_du));
  layout_ = dialog_layout::build(this, "quorvane::CRecentDocumentsDlg", controls, units,
                                 [this](const dialog_control&, QWidget* parent) {
                                   list_ = new QTreeView(parent);
                                   list_->setRootIsDecorated(false);
                                   list_->setUniformRowHeights(true);
                                   list_->setAlternatingRowColors(true);
                                   list_->setSelectionBehavior(QAbstractItemView::SelectRows);
                                   list_->setSelectionMode(QAbstractItemView::SingleSelection);
                                   list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
                                   list_->setContextMenuPolicy(Qt::CustomContextMenu);
                                   list_->setItemDelegate(new outcome_delegate(list_));
                                   return list_;
                                 });
  search_ = layout_.find<QLineEdit>(id_search);
  search_->setPlaceholderText(tr("Document, sender, printer..."));
  search_->setClearButtonEnabled(true);
  empty_ = layout_.find<QLabel>(id_empty);
  status_ = layout_.find<QLabel>(id_status);
  list_->setModel(&model_);
  for (int column = 0; column < static_cast<int>(std::size(column_widths_du)); ++column) {
    list_->setColumnWidth(column, units.size(column_widths_du[column], 0).width());
  }
  list_->header()->setStretchLastSection(true);

  menu_ = new QMenu(this);
  menu_->setObjectName(QStringLiteral("documentMenu"));
  const std::pair<command, QString> items[] = {
      {command::open, tr("Open")},
      {command::show_in_folder, tr("Show in Folder")},
      {command::print_again, tr("Print Again...")},
      {command::remove, tr("Remove From List")},
  };
  const char* names[] = {"open", "showInFolder", "printAgain", "remove"};
  for (size_t i = 0; i < std::size(items); ++i) {
    if (items[i].first == command::remove) menu_->addSeparator();
    QAction* action = menu_->addAction(items[i].second);
    action->setObjectName(QString::fromLatin1(names[i]));
    const command what = items[i].first;
    connect(action, &QAction::triggered, this, [this, what] { run(what, menu_->property("row").toInt()); });
  }
  menu_->setDefaultAction(menu_->actions().first());

  connect(list_, &QTreeView::customContextMenuRequested, this, [this](const QPoint& at) {
    const QModelIndex index = list_->indexAt(at);
    if (!index.isValid()) return;
    list_->setCurrentIndex(index);
    context_menu_for(index.row())->popup(list_->viewport()->mapToGlobal(at));
  });
  connect(list_, &QTreeView::doubleClicked, this,
          [this](const QModelIndex& index) { run(command::open, index.row()); });
  connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) { model_.set_search(text); });
  connect(layout_.find<QPushButton>(id_close), &QPushButton::clicked, this, &QDialog::close);
  for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved}) {
    connect(&model_, signal, this, [this] { show_list_or_empty(); });
  }
  connect(&model_, &QAbstractItemModel::modelReset, this, [this] { show_list_or_empty(); });

  if (!links_.choose_printer) {
    links_.choose_printer = [](QWidget* parent, const QStringList& names) -> std::optional<int> {
      bool chosen = false;
      const QString name = QInputDialog::getItem(parent, tr("Print Again"), tr("Print on:"), names, 0,
                                                 /*editable=*/false, &chosen);
      if (!chosen) return std::nullopt;
      return static_cast<int>(names.indexOf(name));
    };
  }
  reload();
}

void CRecentDocumentsDlg::reload() {
  model_.load(links_.load ? links_.load() : std::vector<delivered_document>());
  show_list_or_empty();
}

void CRecentDocumentsDlg::arrive(const delivered_document& document) {
  model_.arrive(document);
}

void CRecentDocumentsDlg::show_list_or_empty() {
  const QString text = model_.documents().empty_text();
  empty_->setText(text);
  empty_->setVisible(!text.isEmpty());
  empty_->raise();
}

QMenu* CRecentDocumentsDlg::context_menu_for(int row) {
  const recent_row* shown = model_.row_at(row);
  menu_->setProperty("row", row);
  const bool has_file = shown && !shown->file.empty();
  const bool can_print = has_file && links_.print_printers && !links_.print_printers().empty();
  const bool enabled[] = {has_file, has_file, can_print, shown != nullptr};
  int i = 0;
  for (QAction* action : menu_->actions()) {
    if (!action->isSeparator()) action->setEnabled(enabled[i++]);
  }
  return menu_;
}

void CRecentDocumentsDlg::run(command what, int row) {
  const recent_row* shown = model_.row_at(row);
  if (!shown) return;
  const recent_row document = *shown;
  switch (what) {
    case command::open:
      if (!document.file.empty() && links_.open) links_.open(document.file);
      return;
    case command::show_in_folder:
      if (!document.file.empty() && links_.show_in_folder) links_.show_in_folder(document.file);
      return;
    case command::remove:
      if (links_.unlist && links_.unlist(document.uuid)) {
        model_.remove(document.uuid);
        status_->clear();
      } else {
        status_->setText(tr("Unable to remove '%1' from the list: the console's database refused.")
                             .arg(document.document));
      }
      return;
    case command::print_again:
      break;
  }
  const std::vector<model::printer_ptr> printers =
      links_.print_printers ? links_.print_printers() : std::vector<model::printer_ptr>();
  if (document.file.empty() || printers.empty() || !links_.print_again) return;
  QStringList names;
  for (const model::printer_ptr& p : printers)
    names << QString::fromStdString(shown_display_name(p->displayName()));
  const std::optional<int> chosen = links_.choose_printer(this, names);
  if (!chosen || *chosen < 0 || *chosen >= static_cast<int>(printers.size())) return;
  const QString printer_name = names[*chosen];
  status_->setText(tr("Printing '%1' on '%2'...").arg(document.document, printer_name));
  // The print ends later, on a worker: the window may be gone by then.
  QPointer<CRecentDocumentsDlg> self(this);
  links_.print_again(document, printers[static_cast<size_t>(*chosen)],
                     [self, document, printer_name](const std::string& failure) {
                       if (!self) return;
                       self->status_->setText(
                           failure.empty()
                               ? tr("'%1' was sent to '%2' again.").arg(document.document, printer_name)
                               : tr("Unable to print '%1' on '%2': %3")
                                     .arg(document.document, printer_name, QString::fromStdString(failure)));
                     });
}

}  // namespace quorvane
