#include "ui/session/service_hint.h"

#include <QCoreApplication>

#include <filesystem>

#include "core/os.h"
#include "ui/session/service_session.h"

namespace quorvane {

namespace {

constexpr const char* unit_file = "quorvane-service.service";

// True when one of `folders` holds the service's unit file.
bool holds_unit(const std::vector<std::string>& folders) {
  std::error_code error;
  for (const std::string& folder : folders) {
    if (!folder.empty() && std::filesystem::exists(std::filesystem::path(folder) / unit_file, error))
      return true;
  }
  return false;
}

}  // namespace

service_install find_service_install(const std::vector<std::string>& system_folders,
                                     const std::vector<std::string>& user_folders) {
  if (holds_unit(system_folders)) return service_install::system_unit;
  if (holds_unit(user_folders)) return service_install::user_unit;
  return service_install::by_hand;
}

service_install find_service_install() {
  const std::string home = environment("HOME");
  const std::string config = environment("XDG_CONFIG_HOME");
  // systemd's unit search paths (systemd.unit(5)); a unit installed under /usr/local counts as well.
  return find_service_install(
      {"/etc/systemd/system", "/usr/local/lib/systemd/system", "/usr/lib/systemd/system",
       "/lib/systemd/system"},
      {config.empty() ? (home.empty() ? std::string() : home + "/.config/systemd/user")
                      : config + "/systemd/user",
       "/etc/systemd/user", "/usr/local/lib/systemd/user", "/usr/lib/systemd/user", "/lib/systemd/user"});
}

QString service_hint(int failed_attempts, service_install install, uint16_t port) {
  if (failed_attempts < attempts_before_service_hint) return QString();
  QString command;
  switch (install) {
    case service_install::system_unit:
      command = QStringLiteral("sudo systemctl start quorvane-service");
      break;
    case service_install::user_unit:
      command = QStringLiteral("systemctl --user start quorvane-service");
      break;
    case service_install::by_hand:
      command = port == default_service_port ? QStringLiteral("quorvane-service")
                                             : QStringLiteral("quorvane-service --port %1").arg(port);
      break;
  }
  return QCoreApplication::translate("ServiceHint", "The print service is not running. Start it with:\n%1")
      .arg(command);
}

}  // namespace quorvane
