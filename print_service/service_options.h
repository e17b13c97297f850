// The command line of quorvane-service: running the service, or submitting one document to it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace quorvane::print_service {

/// The port the service listens on (on 127.0.0.1) unless told otherwise.
constexpr int32_t default_port = 6631;

/// The port the IPP printers listen on unless told otherwise.
constexpr int32_t default_ipp_port = 8631;

/// What the program was asked to do.
enum class command_kind { serve, submit, help };

/// How many ended jobs the service keeps as history unless told otherwise.
constexpr int32_t default_keep_jobs = 1000;

/// How many days the service keeps an ended job as history unless told otherwise.
constexpr int32_t default_keep_days = 7;

/// The state folder of the computer's print service (`--system`) when systemd names none.
constexpr const char* system_data_folder = "/var/lib/quorvane-service";

/// Options of `quorvane-service [serve] [--system] [--port N] [--data DIR] [--log-level N] [--keep-jobs N]
/// [--keep-days D] [--ipp-port N] [--ipp-listen all|loopback] [--no-dnssd]`.
struct serve_options {
  bool machine = false;  // --system: the computer's print service, serving the consoles of every account
  int32_t port = default_port;
  int32_t ipp_port = default_ipp_port;  // 0: the first free port of PAPPL's range
  bool ipp_loopback_only = false;       // --ipp-listen loopback
  bool dnssd = true;                    // --no-dnssd turns advertising off
  std::string data_folder;
  int32_t log_level = 3;
  bool log_level_given = false;  // --log-level was on the command line (it then wins over the stored one)
  int32_t keep_jobs = default_keep_jobs;  // the newest ended jobs kept for "watchJob"
  int32_t keep_days = default_keep_days;  // days an ended job is kept after its end
};

/// Options of `quorvane-service submit --printer NAME-OR-UUID [...] FILE`.
struct submit_options {
  std::string printer;
  int32_t port = default_port;
  std::string user;
  std::string device_address;
  std::string format;
  int32_t copies = 1;
  std::string name;
  bool wait = false;
  std::string file;
};

/// The parsed command line.
struct command_line {
  command_kind kind = command_kind::serve;
  serve_options serve;
  submit_options submit;
};

/// Reads an environment variable ("" when unset); tests pass their own.
using environment_reader = std::function<std::string(const char* name)>;

/// The service's default state folder: $XDG_STATE_HOME/quorvane-service when that is absolute, else
/// $HOME/.local/state/quorvane-service (the account's home when HOME is unset); "" when there is no home.
std::string default_data_folder(const environment_reader& env);

/// The state folder of the computer's print service: systemd's $STATE_DIRECTORY (its first entry) when it
/// is absolute, else /var/lib/quorvane-service.
std::string system_data_folder_of(const environment_reader& env);

/// Parses argv[1..argc). Returns false and sets `error` to one line naming the fault on bad input.
bool parse_command_line(int argc, const char* const* argv, const environment_reader& env, command_line& out,
                        std::string& error);

/// The text that --help prints.
std::string usage_text();

}  // namespace quorvane::print_service
