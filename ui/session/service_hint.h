// What the connecting view adds once the print service has not answered a few times: that it is not running,
// and the command that starts it as it is installed on this machine. No widgets.
#pragma once

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

namespace quorvane {

/// How the print service is installed, as far as starting it goes.
enum class service_install {
  by_hand,      ///< no systemd unit of it: it is started as a program
  user_unit,    ///< the per-user unit quorvane-service.service
  system_unit,  ///< the machine's unit quorvane-service.service (it wins over a per-user unit)
};

/// Failed connection attempts before the connecting view says that the service is not running (about 6 s
/// at one attempt every 3 s).
inline constexpr int attempts_before_service_hint = 3;

/// Which unit of the service the folders hold: `system_unit` when one of `system_folders` holds
/// quorvane-service.service, else `user_unit` when one of `user_folders` does, else `by_hand`.
service_install find_service_install(const std::vector<std::string>& system_folders,
                                     const std::vector<std::string>& user_folders);
/// `find_service_install` over the folders where systemd looks for system units and for the user's units.
service_install find_service_install();

/// The connecting view's hint after `failed_attempts` failed attempts in a row, for a service installed as
/// `install` and reached on `port`: empty below `attempts_before_service_hint`, else "The print service is
/// not running" with the command that starts it (`--port` added to the program's own command line when
/// the port is not the default one).
QString service_hint(int failed_attempts, service_install install, uint16_t port);

}  // namespace quorvane
