// The console's stored preferences: QSettings("Tessaly Software", "Quorvane"), group "Preferences", each an
// integer with a default for when it is absent.
#pragma once

#include <cstdint>

namespace quorvane {

/// One stored preference: its name in the group "Preferences" and its value when absent.
struct preference_value {
  const char* name;
  int32_t default_value;
};

/// Non-zero: the main window starts hidden, only the tray icon shows.
inline constexpr preference_value start_minimized_preference{"StartMinimized", 0};
/// Non-zero: the stored proxy settings are used as they are; 0: the system's proxy configuration decides.
inline constexpr preference_value configure_proxy_manually_preference{"ConfigureProxyManually", 0};
/// Non-zero: every document that arrives (or fails to) is told in a desktop notification.
inline constexpr preference_value notify_arrivals_preference{"NotifyArrivals", 1};
/// Non-zero: the first connection creates the default printers when the database holds none.
inline constexpr preference_value setup_printers_preference{"SetupPrinters", 1};

/// The stored value of `preference`, or its default when absent or not an integer.
int32_t read_preference(const preference_value& preference);

/// Stores `value` for `preference` and writes it to disk at once.
void write_preference(const preference_value& preference, int32_t value);

}  // namespace quorvane
