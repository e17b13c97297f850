// The "Phones and Tablets" window: for each printer phones are offered, the name a phone shows, its ipp://
// and ipps:// addresses on this computer's addresses and a QR code of its web page; below, the self-check
// with a tick for each check that passed and, for the others, the sentence that says what is wrong and what
// to do.
#pragma once

#include <QDialog>

#include <functional>
#include <memory>
#include <vector>

#include "model/printer.h"
#include "ui/phones/phones.h"
#include "ui/phones/self_check.h"
#include "ui/session/service_session.h"

class QGridLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace quorvane {

/// The window (not modal). The self-check runs when the window is made and on "Check Again", its inputs
/// read on a thread of its own.
class CPhonesDlg final : public QDialog {
  Q_OBJECT

 public:
  /// Where the window reads the printers and how phones reach them; asked again at every check.
  struct source {
    std::function<std::vector<model::printer_ptr>()> printers;
    std::function<ipp_reach()> reach;
  };
  /// Reads the self-check's inputs (`phones::gather_check_inputs` unless a test gives another).
  using gather_function =
      std::function<phones::check_inputs(const std::vector<phones::expected_printer>&, const ipp_reach&)>;

  /// A window showing what `from` gives; the first check starts at once.
  explicit CPhonesDlg(source from, QWidget* parent = nullptr, gather_function gather = {});
  ~CPhonesDlg() override;

  /// Shows the printers again and runs the self-check; nothing while one runs.
  void check();
  /// Whether a self-check runs.
  bool checking() const { return checking_; }
  /// The printers shown.
  const std::vector<phones::phone_printer>& printers() const { return printers_; }
  /// The lines of the last finished self-check (empty before the first ends).
  const std::vector<phones::check_line>& lines() const { return lines_; }
  /// The label holding the QR code of printer `index`; null when none.
  QLabel* qr_label(size_t index) const { return index < qr_labels_.size() ? qr_labels_[index] : nullptr; }

 signals:
  /// A self-check has ended and its lines are shown.
  void checked();

 private:
  void show_printers();
  void show_lines();

  source from_;
  gather_function gather_;
  std::vector<phones::phone_printer> printers_;
  std::vector<phones::check_line> lines_;
  std::vector<QLabel*> qr_labels_;
  QVBoxLayout* printer_box_ = nullptr;
  QGridLayout* check_grid_ = nullptr;
  QLabel* check_state_ = nullptr;
  QPushButton* again_ = nullptr;
  bool checking_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace quorvane
