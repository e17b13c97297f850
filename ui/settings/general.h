// What the general settings page shows of a printer, and its edits (working folder, action and application)
// with the rules that turn them into a changed printer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/printer.h"
#include "ui/lists/attribute_rows.h"

namespace quorvane {

/// Which picture stands for a printer's action.
struct action_icon {
  enum kind_type { quorvane, pc, application };
  kind_type kind = quorvane;
  std::string program;  ///< the application's path, for `application`

  /// Equal when kind and program are equal.
  friend bool operator==(const action_icon&, const action_icon&) = default;
};

/// The icon for `action` with `application`: the application's own for action 1 with a path, "IDI_PC" for
/// action 1 without one, else "IDI_QUORVANE".
action_icon icon_for_action(int32_t action, const std::string& application);

/// The texts of the general page in view mode.
struct general_view {
  std::string prefix;  ///< the display name's hidden prefix, kept on rename
  std::string name;    ///< the display name as shown
  std::string location;
  std::string folder;        ///< the folder, or "Default" (with the default folder where documents go there)
  std::string action_label;  ///< "Action:", "Open With:" or "Print:"
  std::string action_value;  ///< "-", the application (or "Default"), or the print parameter
  action_icon icon;
};

/// What the general page shows of `p` in view mode.
general_view view_of(const model::printer& p);

/// The edits of the general page between "Edit" and "Save" or "Cancel".
class general_edit {
 public:
  /// Takes the working folder, action and application from `p`.
  void begin(const model::printer& p);

  /// The working folder; empty for the default.
  const std::string& folder() const { return folder_; }
  /// The working action.
  int32_t action() const { return action_; }
  /// The working application path; empty for the default application.
  const std::string& application() const { return application_; }
  /// True when the printer prints on a system printer (action 2): its folder and action stay as they are.
  bool folder_and_action_locked() const { return action_ == model::action_print; }

  /// "Default" in the folder chooser.
  void choose_default_folder();
  /// A folder picked with "Other..." (an empty path, a cancelled chooser, changes nothing). A folder that
  /// documents cannot be saved in (missing, not a folder, read-only for the user or on a read-only disk) is
  /// refused and the working folder stays. Returns "" when the folder was taken or nothing changed, else the
  /// message that says why it was refused ("Unable to use folder '...': ...").
  std::string choose_folder(const std::string& path);
  /// "Nothing" (0) or "Open With" (1) in the action chooser; both clear the application. Other values, and
  /// any choice while locked, change nothing.
  void choose_action(int32_t action);
  /// "Default" in the application chooser (only while the action is 1).
  void choose_default_application();
  /// An application picked with "Other..." (only while the action is 1; an empty path changes nothing).
  void choose_application(const std::string& path);

  /// The folder chooser's caption: the folder, or "Default" followed by the default folder in brackets while
  /// the working action keeps documents there ("Nothing").
  std::string folder_caption() const;
  /// The action chooser's caption: "Nothing" or "Open With" ("Print" while locked).
  std::string action_caption() const;
  /// True when the application chooser is shown (action 1).
  bool application_shown() const { return action_ == model::action_open; }
  /// The application chooser's caption: the file name of the application, or "Default".
  std::string application_caption() const;
  /// The icon for the working action and application.
  action_icon icon() const { return icon_for_action(action_, application_); }

  /// Writes the edits into `p`: the name (after `prefix`) and location unless their edits are empty, the
  /// working folder, action and application, and the attribute rows' values. Marks `p` dirty only for
  /// values that change.
  void apply(model::printer& p, const std::string& prefix, const std::string& name_edit,
             const std::string& location_edit, const std::vector<attribute_entry>& rows) const;

 private:
  std::string folder_;
  int32_t action_ = model::action_none;
  std::string application_;
};

}  // namespace quorvane
