// The Recent Documents window: the documents the console received lately (recent_documents.h decides the
// rows), a search box, and per document Open, Show in Folder, Print Again on a CUPS printer the user picks,
// and Remove From List. It follows arrivals while it exists; the application makes it when it is first
// opened, so that a console that never shows it does not load its rows.
#pragma once

#include <QDialog>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/printer.h"
#include "ui/layout/dialog_layout.h"
#include "ui/session/recent_documents.h"

class QLabel;
class QLineEdit;
class QMenu;
class QTreeView;

namespace quorvane {

/// What the window asks of the rest of the console.
struct recent_documents_links {
  /// The listed documents, newest first (the record of delivered jobs).
  std::function<std::vector<delivered_document>()> load;
  /// Takes a job off the list for good; false when that failed.
  std::function<bool(const std::string& uuid)> unlist;
  /// Opens a file with the desktop's default application.
  std::function<void(const std::string& file)> open;
  /// Shows a file in the file manager.
  std::function<void(const std::string& file)> show_in_folder;
  /// The printers that print on a CUPS printer, which Print Again offers.
  std::function<std::vector<model::printer_ptr>()> print_printers;
  /// Prints a row's file again on a printer; `done` hears "" on success, else the reason in words.
  std::function<void(const recent_row& row, model::printer_ptr printer,
                     std::function<void(std::string)> done)>
      print_again;
  /// Asks which of `names` to print on; none when the user cancels. A list dialog by default.
  std::function<std::optional<int>(QWidget* parent, const QStringList& names)> choose_printer;
};

/// The window.
class CRecentDocumentsDlg final : public QDialog {
  Q_OBJECT

 public:
  /// Control ids of the layout table.
  enum control_id : int {
    id_search_label = 1101,
    id_search = 1102,
    id_list = 1103,
    id_empty = 1104,
    id_status = 1105,
    id_close = 1106,
  };
  /// The context menu's commands.
  enum class command { open, show_in_folder, print_again, remove };

  /// The window over `links`, its rows loaded at once.
  explicit CRecentDocumentsDlg(recent_documents_links links, QWidget* parent = nullptr);

  /// A document arrived: its row goes to the top (when the search shows it).
  void arrive(const delivered_document& document);
  /// Loads the rows again (the files' places may have changed).
  void reload();

  /// The rows' model.
  recent_documents_model& model() { return model_; }
  /// The list.
  QTreeView* list() const { return list_; }
  /// The search box.
  QLineEdit* search() const { return search_; }
  /// The text shown instead of the list when it has no rows.
  QLabel* empty_label() const { return empty_; }
  /// The line under the list that tells how the last Print Again or removal went.
  QLabel* status_label() const { return status_; }
  /// The context menu for `row` as it would pop up (its actions enabled as they apply); owned by the window.
  QMenu* context_menu_for(int row);
  /// Runs `what` on the row `row` of the list.
  void run(command what, int row);

 private:
  /// Shows the list or the empty text, whichever applies.
  void show_list_or_empty();

  recent_documents_links links_;
  recent_documents_model model_;
  dialog_layout layout_;
  QTreeView* list_ = nullptr;
  QLineEdit* search_ = nullptr;
  QLabel* empty_ = nullptr;
  QLabel* status_ = nullptr;
  QMenu* menu_ = nullptr;
};

/// The window's controls.
std::span<const dialog_control> recent_documents_controls();

}  // namespace quorvane
