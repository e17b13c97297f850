// Runs the real quorvane-service (and its submit tool) for the integration tests and the benchmark.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "test_support/event_bound.h"
#include "test_support/temporary_folder.h"

namespace quorvane::print_service::testing {

/// How long a test waits for something that must happen (the tests' shared bound).
inline constexpr std::chrono::seconds event_bound = testing_support::event_bound;
/// The same bound in milliseconds, for the waits that take a count.
inline constexpr int event_bound_ms = testing_support::event_bound_ms;

using testing_support::temporary_folder;

/// A child process started from a program path with arguments and extra environment entries.
class child_process {
 public:
  /// No process yet.
  child_process() = default;
  /// Kills the process if it still runs.
  ~child_process();
  child_process(const child_process&) = delete;
  child_process& operator=(const child_process&) = delete;

  /// Starts the program (as `as_user` when given, which needs root); its standard output and error go to
  /// `output_file` (appended). False when it could not be started.
  bool spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
             const std::string& output_file, std::optional<uid_t> as_user = std::nullopt);
  /// True once the process has ended (its exit status is then in `exit_status`); never blocks.
  bool finished();
  /// Waits for the end for at most `timeout_ms`; false on timeout.
  bool wait(int timeout_ms);
  /// Sends `signal_number`; false when the process is not running.
  bool signal(int signal_number);
  /// Kills the process (SIGKILL) and collects it.
  void kill_now();

  /// The process id, or -1 when none runs.
  pid_t pid() const { return pid_; }
  /// The exit code, or 128 + the signal number that ended it; -1 before the end.
  int exit_status() const { return exit_status_; }

 private:
  pid_t pid_ = -1;
  int exit_status_ = -1;
};

/// The print service on a port of its own with a data folder of its own.
class service_process {
 public:
  /// A service keeping its state in `data_folder`; `environment` adds NAME=VALUE entries for it.
  service_process(std::string data_folder, std::vector<std::string> environment);

  /// Starts the service on `port` (0: a free one) and waits until it listens. False on failure or timeout.
  bool start(int port = 0);
  /// Options added to the command line of later starts ("--keep-jobs", "2", ...).
  void set_extra_arguments(std::vector<std::string> arguments) { extra_arguments_ = std::move(arguments); }
  /// The IPP options every start passes; by default a free port on loopback, not advertised. An IPP port of
  /// 0 is passed as a port the kernel found free.
  void set_ipp_arguments(std::vector<std::string> arguments) { ipp_arguments_ = std::move(arguments); }
  /// The log level every start passes (10, verbose, unless set).
  void set_log_level(int level) { log_level_ = level; }
  /// The IPP port of the last start (from DIR/ipp.port), or 0.
  int ipp_port() const;
  /// Stops the service with SIGTERM and waits for it. Returns its exit status (0 for a clean end; a
  /// sanitizer's leak report makes it non-zero).
  int stop();
  /// Kills the service (SIGKILL) without warning.
  void kill_now() { process_.kill_now(); }
  /// Freezes (SIGSTOP) or thaws (SIGCONT) the service.
  void freeze() { process_.signal(SIGSTOP); }
  /// Lets a frozen service run again.
  void thaw() { process_.signal(SIGCONT); }

  /// The port of the last start.
  int port() const { return port_; }
  /// The service's state folder.
  const std::string& data_folder() const { return data_folder_; }
  /// The service's log (standard error of every run), beside the data folder. Named without "..", because
  /// the data folder does not exist before the first start and a path through it could not be opened.
  std::string log_file() const {
    const size_t slash = data_folder_.rfind('/');
    return (slash == std::string::npos ? std::string(".") : data_folder_.substr(0, slash)) + "/service.log";
  }
  /// The running program.
  child_process& process() { return process_; }

 private:
  std::string data_folder_;
  std::vector<std::string> environment_;
  std::vector<std::string> extra_arguments_;
  child_process process_;
  int port_ = 0;
  int log_level_ = 10;
  std::vector<std::string> ipp_arguments_ = {"--ipp-port", "0", "--ipp-listen", "loopback", "--no-dnssd"};
};

/// A port on 127.0.0.1 that the kernel found free a moment ago; 0 when none could be had.
int free_port();

/// The path of the built quorvane-service program.
std::string service_binary();

/// The whole content of a file ("" when it cannot be read).
std::string read_file(const std::string& path);

/// Writes `content` to `path`; false on failure.
bool write_file(const std::string& path, const std::string& content);

/// The KEY=VALUE lines of the file that $QV_CUPS_ENV names (written by scripts/cups-test-env.sh); empty
/// when the variable is unset or the file cannot be read.
std::map<std::string, std::string> cups_test_environment();

/// A small one-page PDF document (420 x 595 points) with its cross-reference table and end marker.
std::string one_page_pdf();

}  // namespace quorvane::print_service::testing
