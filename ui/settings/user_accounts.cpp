#include "ui/settings/user_accounts.h"

#include <pwd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace quorvane {

namespace {

/// `text` as a uid; false when it is not a whole decimal number that fits.
bool parse_uid(const std::string& text, uid_t& out) {
  if (text.empty() || text[0] == '-') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value > static_cast<uid_t>(-1)) return false;
  out = static_cast<uid_t>(value);
  return true;
}

}  // namespace

uid_range read_uid_range(const std::string& login_defs_path) {
  uid_range range;
  std::ifstream file(login_defs_path);
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream words(line);
    std::string key;
    std::string value;
    if (!(words >> key >> value) || key[0] == '#') continue;
    if (key == "UID_MIN") parse_uid(value, range.min);
    if (key == "UID_MAX") parse_uid(value, range.max);
  }
  return range;
}

std::vector<std::string> local_user_accounts(const uid_range& range) {
  std::vector<std::string> names;
  setpwent();
  while (const passwd* account = getpwent())
    if (account->pw_uid >= range.min && account->pw_uid <= range.max && account->pw_name)
      names.emplace_back(account->pw_name);
  endpwent();
  return names;
}

std::vector<std::string> local_user_accounts() {
  return local_user_accounts(read_uid_range("/etc/login.defs"));
}

}  // namespace quorvane
