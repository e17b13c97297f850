// The workspace: the per-user data folder in which the database lives.
#pragma once

#include "core/component.h"
#include "core/os.h"

namespace quorvane {

/// The component that owns the per-user data folder.
class workspace : public component {
 public:
  /// A copy of the data folder path; empty until the first phase has succeeded.
  virtual wide_string data_folder() const = 0;

  /// The workspace, initialised on demand.
  static workspace& shared();
};

/// The workspace on POSIX systems: "Quorvane" under $XDG_DATA_HOME (else ~/.local/share).
class workspace_posix final : public workspace {
 public:
  /// The single instance, not initialised.
  static workspace_posix& instance();

  /// Finds the program's folder and creates the data folder. Returns 0, or the status unchanged (non-zero)
  /// when either cannot be found or the folder cannot be created.
  int32_t applicationWillInitialize() override;

  /// Returns the status.
  int32_t applicationDidInitialize() override { return status_; }

  /// The data folder; empty until the first phase has succeeded.
  wide_string data_folder() const override { return data_folder_; }

  /// The folder that holds the running program.
  const wide_string& module_folder() const { return module_folder_; }

 private:
  wide_string module_folder_;
  wide_string data_folder_;
};

/// The account's home folder: $HOME, else the home directory of the account's password entry. Empty when
/// neither names one.
std::string home_folder();

/// The per-user local application-data folder: $XDG_DATA_HOME if absolute, else $HOME/.local/share
/// (the account's home directory when HOME is unset). Empty when none can be found.
std::string local_data_folder();

}  // namespace quorvane
