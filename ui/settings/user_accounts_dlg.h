// The "Add User" dialog: the local accounts, one of which the user picks to give access to a printer.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

#include "ui/layout/dialog_layout.h"
#include "ui/lists/list_images.h"

namespace quorvane {

class CACLList;

/// The "Add User" dialog.
class CEditACL final : public QDialog {
  Q_OBJECT

 public:
  /// Control ids of the dialog.
  enum control_id : int { id_ok = 1, id_cancel = 2, id_users = 1100 };

  /// A dialog listing this computer's normal accounts.
  explicit CEditACL(QWidget* parent = nullptr, const image_loader& images = console_images());
  /// A dialog listing `accounts` in their order.
  CEditACL(QWidget* parent, const std::vector<std::string>& accounts,
           const image_loader& images = console_images());

  /// The chosen account: the selected row's name; empty when the list is empty.
  const std::string& chosen_user() const { return chosen_; }
  /// The account list.
  CACLList* users() const { return users_; }

 private:
  dialog_layout layout_;
  CACLList* users_ = nullptr;
  std::string chosen_;
};

}  // namespace quorvane
