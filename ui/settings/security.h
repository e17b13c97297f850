// The access list of a printer as the security page shows and changes it.
#pragma once

#include <string>
#include <vector>

#include "model/printer.h"

namespace quorvane {

/// What the security page's user list shows.
struct access_view {
  std::vector<std::string> rows;  ///< the users, or the one row "Everyone" when the list is empty
  bool remove_enabled = false;    ///< "-" is enabled only for a real list
};

/// The rows of `p`'s access list.
access_view access_view_of(const model::printer& p);

/// Appends `name` to `p`'s access list (a name already there is added again). Returns true when the list
/// changed (always, for a new entry).
bool add_access_user(model::printer& p, const std::string& name);

/// Removes row `row` of the shown rows `shown` and makes the remaining rows `p`'s access list. A row out of
/// range removes nothing. The "Everyone" row of an empty list is not a user: removing it leaves the list
/// empty. Returns true when the list changed.
bool remove_access_row(model::printer& p, const std::vector<std::string>& shown, int row);

}  // namespace quorvane
