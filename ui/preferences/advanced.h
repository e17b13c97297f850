// The working values of the Advanced preferences page: the file-name flags the print service uses for
// received jobs, the sample name they give, and the logging levels of the "Logging:" menu.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <span>

#include <json/value.h>

namespace quorvane {

/// One entry of the "Logging:" menu: its command id, its text (English, translated where shown) and the level
/// it sets.
struct log_level_choice {
  int command;
  const char* name;
  int32_t level;
};

/// The "Logging:" menu in its order; "None" follows a separator.
inline constexpr log_level_choice log_level_choices[] = {
    {32826, QT_TRANSLATE_NOOP("quorvane::CPreferencesAdvanced", "Error"), 1},
    {32827, QT_TRANSLATE_NOOP("quorvane::CPreferencesAdvanced", "Warning"), 2},
    {32828, QT_TRANSLATE_NOOP("quorvane::CPreferencesAdvanced", "Information"), 3},
    {32829, QT_TRANSLATE_NOOP("quorvane::CPreferencesAdvanced", "Verbose"), 10},
    {32830, QT_TRANSLATE_NOOP("quorvane::CPreferencesAdvanced", "None"), 0},
};

/// The name shown for a log level: "Error", "Warning", "Information", "Verbose", and "None" for any other.
QString log_level_name(int32_t level);

/// The "saveAttributes" object that sets the service's log level: {"logLevel": level}.
Json::Value log_level_attributes(int32_t level);

/// The level a closed "Logging:" menu gives: the chosen entry's, or 0 ("None") when no entry was chosen.
int32_t chosen_log_level(std::optional<int> command);

/// The file-name flags and what changes them.
class advanced_preferences {
 public:
  /// The file-name parts, as bits of "filenameGenerationFlags".
  enum : int32_t { device_user = 1, device_ip_address = 2, device_ethernet_address = 4 };

  /// Starts from the flags the service last reported.
  explicit advanced_preferences(int32_t flags) : flags_(flags) {}

  /// The flags, bits above the three of the page included.
  int32_t flags() const { return flags_; }
  /// True when `bit` is set.
  bool has(int32_t bit) const { return (flags_ & bit) != 0; }

  /// A check box was clicked: sets or clears `bit`, keeping every other bit, and returns the
  /// "saveAttributes" object to send: {"filenameGenerationFlags": flags}.
  Json::Value set(int32_t bit, bool ticked);

  /// The sample for the flags: "Sample: doc", then "+johndoe", "+192.168.1.10", "+12-34-56-78-9A-BC" for the
  /// set bits, then ".pdf".
  static QString sample_text(int32_t flags);

 private:
  int32_t flags_;
};

}  // namespace quorvane
