// The local user accounts that may be given access to a printer.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace quorvane {

/// The uid range of normal accounts.
struct uid_range {
  uid_t min = 1000;
  uid_t max = 60000;
};

/// UID_MIN and UID_MAX of a login.defs file; each defaults (1000, 60000) when the file lacks it, gives a
/// value that is not a number, or cannot be read.
uid_range read_uid_range(const std::string& login_defs_path);

/// The names of the accounts whose uid lies in `range`, in the order the system's account database gives
/// them (getpwent); empty when it gives none.
std::vector<std::string> local_user_accounts(const uid_range& range);

/// The normal accounts of this computer: `local_user_accounts` with the range of /etc/login.defs.
std::vector<std::string> local_user_accounts();

}  // namespace quorvane
