#include "ui/session/tray_status.h"

namespace quorvane {

namespace {

// "1 UNIT ago" or "N UNITs ago".
std::string count_ago(long long count, const char* unit) {
  return std::to_string(count) + " " + unit + (count == 1 ? "" : "s") + " ago";
}

}  // namespace

void tray_status::arrived(const arrival& a, std::chrono::milliseconds when) {
  last_ = a;
  last_time_ = when;
}

std::string time_ago(std::chrono::milliseconds elapsed) {
  using namespace std::chrono;
  if (elapsed < minutes(1)) return "just now";
  if (elapsed < hours(1)) return count_ago(duration_cast<minutes>(elapsed).count(), "minute");
  if (elapsed < hours(24)) return count_ago(duration_cast<hours>(elapsed).count(), "hour");
  return count_ago(duration_cast<hours>(elapsed).count() / 24, "day");
}

std::string tray_status::tooltip(std::chrono::milliseconds now) const {
  std::string text = connected_ ? "Quorvane: connected to the print service"
                                : "Quorvane: not connected to the print service";
  if (!last_) return text;
  text += "\nLast document: " + last_->document;
  const std::string& from = !last_->device.empty() ? last_->device : last_->user;
  if (!from.empty()) text += " from " + from;
  text += ", " + time_ago(now - last_time_);
  if (!last_->reason.empty()) text += " (failed)";
  return text;
}

}  // namespace quorvane
