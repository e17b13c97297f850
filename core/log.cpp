#include "core/log.h"

#include <sys/syscall.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

namespace quorvane {
namespace {

// Read without the lock on every message, written only under it.
std::atomic<int32_t> threshold{log_information};
std::mutex threshold_lock;
std::atomic<bool> syslog_open{false};

constexpr size_t message_capacity = 1024;
constexpr size_t line_capacity = 2048;

int syslog_priority(int32_t level) {
  switch (level) {
    case log_error:
      return LOG_ERR;
    case log_warning:
      return LOG_WARNING;
    default:
      return LOG_INFO;
  }
}

const char* base_name(const char* path) {
  const char* base = path;
  for (const char* p = path; *p; ++p) {
    if (*p == '/' || *p == '\\') base = p + 1;
  }
  return base;
}

void vlog(int32_t level, const char* function, const char* file, int line, const char* format, va_list args) {
  char message[message_capacity];
  std::vsnprintf(message, sizeof message, format, args);

  char time_text[64];
  const time_t now = time(nullptr);
  if (!ctime_r(&now, time_text)) time_text[0] = '\0';
  time_text[strcspn(time_text, "\n")] = '\0';

  const std::string text =
      format_log_line(static_cast<long>(syscall(SYS_gettid)), time_text, function, file, line, message);
  if (syslog_open.load(std::memory_order_acquire)) syslog(syslog_priority(level), "%s", text.c_str());
  std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace

void register_event_source() {
  bool expected = false;
  if (syslog_open.compare_exchange_strong(expected, true)) openlog("Quorvane Console", LOG_PID, LOG_USER);
}

void set_log_level(int32_t level) {
  std::lock_guard lock(threshold_lock);
  threshold.store(level, std::memory_order_relaxed);
}

int32_t log_level_threshold() {
  return threshold.load(std::memory_order_relaxed);
}

std::string format_log_line(long thread_id, const char* time_text, const char* function, const char* file,
                            int line, const char* message) {
  char text[line_capacity];
  std::snprintf(text, sizeof text, "%ld %s %s %s:%d %s", thread_id, time_text, function, base_name(file),
                line, message);
  text[strcspn(text, "\n")] = '\0';
  return text;
}

std::string qualified_function_name(const char* pretty_function) {
  std::string_view name(pretty_function);
  // The parameter list starts at the first "(" that is not part of "operator()" or a lambda's "{...}".
  size_t depth = 0, open = std::string_view::npos;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == '<') ++depth;
    if (c == '>' && depth) --depth;
    if (c == '(' && depth == 0) {
      if (name.substr(0, i).ends_with("operator")) {
        ++i;  // skip the "()" of operator()
        continue;
      }
      open = i;
      break;
    }
  }
  std::string_view head = name.substr(0, open);
  // The return type ends at the last space outside template brackets.
  depth = 0;
  size_t start = 0;
  for (size_t i = 0; i < head.size(); ++i) {
    const char c = head[i];
    if (c == '<') ++depth;
    if (c == '>' && depth) --depth;
    if (c == ' ' && depth == 0) start = i + 1;
  }
  return std::string(head.substr(start));
}

void log_message(int32_t level, const char* function, const char* file, int line, const char* format, ...) {
  if (level > threshold.load(std::memory_order_relaxed)) return;
  va_list args;
  va_start(args, format);
  vlog(level, function, file, line, format, args);
  va_end(args);
}

namespace detail {
void log_pretty(int32_t level, const char* pretty_function, const char* file, int line, const char* format,
                ...) {
  if (level > threshold.load(std::memory_order_relaxed)) return;
  const std::string function = qualified_function_name(pretty_function);
  va_list args;
  va_start(args, format);
  vlog(level, function.c_str(), file, line, format, args);
  va_end(args);
}
}  // namespace detail

}  // namespace quorvane
