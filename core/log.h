// Logging: one line per message to syslog and standard error, filtered by a process-wide level.
#pragma once

#include <cstdint>
#include <string>

namespace quorvane {

/// Log levels; a message is written when its level is at most the threshold.
enum log_level : int32_t {
  log_none = 0,
  log_error = 1,
  log_warning = 2,
  log_information = 3,
  log_verbose = 10,
};

/// Opens the syslog connection with the ident "Quorvane Console"; later calls do nothing.
void register_event_source();

/// Sets the threshold (under the threshold lock).
void set_log_level(int32_t level);

/// The threshold in force.
int32_t log_level_threshold();

/// Writes one line built from a printf-style format when `level` passes the threshold.
/// `function` is the qualified function name, `file` the source path as recorded by the build.
void log_message(int32_t level, const char* function, const char* file, int line, const char* format, ...)
    __attribute__((format(printf, 5, 6)));

/// Builds the line `log_message` writes: "%d %s %s %s:%d %s" (thread, ctime text, function, base file
/// name, line, message), cut to 2047 bytes and at its first newline.
std::string format_log_line(long thread_id, const char* time_text, const char* function, const char* file,
                            int line, const char* message);

/// The qualified name of a function from the compiler's pretty name: "int a::b::f(int) const" gives
/// "a::b::f".
std::string qualified_function_name(const char* pretty_function);

namespace detail {
/// `log_message` with the compiler's pretty function name, reduced only when the message is written.
void log_pretty(int32_t level, const char* pretty_function, const char* file, int line, const char* format,
                ...) __attribute__((format(printf, 5, 6)));
}  // namespace detail

}  // namespace quorvane

/// Logs with the calling function, file and line filled in.
#define QV_LOG(level, ...) \
  ::quorvane::detail::log_pretty((level), __PRETTY_FUNCTION__, __FILE__, __LINE__, __VA_ARGS__)
