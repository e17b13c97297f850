#include "ui/preferences/advanced.h"

#include <QCoreApplication>

namespace quorvane {

QString log_level_name(int32_t level) {
  for (const log_level_choice& choice : log_level_choices) {
    if (choice.level == level)
      return QCoreApplication::translate("quorvane::CPreferencesAdvanced", choice.name);
  }
  return QCoreApplication::translate("quorvane::CPreferencesAdvanced", "None");
}

Json::Value log_level_attributes(int32_t level) {
  Json::Value attributes(Json::objectValue);
  attributes["logLevel"] = level;
  return attributes;
}

int32_t chosen_log_level(std::optional<int> command) {
  if (command) {
    for (const log_level_choice& choice : log_level_choices) {
      if (choice.command == *command) return choice.level;
    }
  }
  return 0;
}

Json::Value advanced_preferences::set(int32_t bit, bool ticked) {
  flags_ = ticked ? (flags_ | bit) : (flags_ & ~bit);
  Json::Value attributes(Json::objectValue);
  attributes["filenameGenerationFlags"] = flags_;
  return attributes;
}

QString advanced_preferences::sample_text(int32_t flags) {
  QString sample = QStringLiteral("doc");
  if (flags & device_user) sample += QStringLiteral("+johndoe");
  if (flags & device_ip_address) sample += QStringLiteral("+192.168.1.10");
  if (flags & device_ethernet_address) sample += QStringLiteral("+12-34-56-78-9A-BC");
  return QCoreApplication::translate("quorvane::CPreferencesAdvanced", "Sample: %1")
      .arg(sample + QStringLiteral(".pdf"));
}

}  // namespace quorvane
