#include "ui/settings/security.h"

#include <QCoreApplication>

namespace quorvane {

access_view access_view_of(const model::printer& p) {
  if (p.acl().empty())
    return {{QCoreApplication::translate("quorvane::security", "Everyone").toStdString()}, false};
  return {p.acl(), true};
}

bool add_access_user(model::printer& p, const std::string& name) {
  std::vector<std::string> users = p.acl();
  users.push_back(name);
  const bool changed = users != p.acl();
  if (changed) p.setAcl(users);
  return changed;
}

bool remove_access_row(model::printer& p, const std::vector<std::string>& shown, int row) {
  // An empty list is shown as "Everyone", which stands for no entry at all.
  std::vector<std::string> users = p.acl().empty() ? std::vector<std::string>() : shown;
  if (row >= 0 && static_cast<size_t>(row) < users.size()) users.erase(users.begin() + row);
  const bool changed = users != p.acl();
  if (changed) p.setAcl(users);
  return changed;
}

}  // namespace quorvane
