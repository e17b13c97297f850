// The private world of a console test: HOME, the XDG folders and the preferences under one temporary
// folder, and the console's database opened there.
#pragma once

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdlib>
#include <string>

#include "database/database.h"
#include "model/manager.h"

namespace quorvane::testing {

/// Points HOME, XDG_DATA_HOME, XDG_CONFIG_HOME, XDG_RUNTIME_DIR and TMPDIR at one temporary folder (made
/// once per process, so the database component, which opens its file once, stays inside it) and empties
/// the printer table and the preferences for each test.
class console_test_env {
 public:
  /// Prepares the folders and a clean database and preferences.
  console_test_env() {
    static QTemporaryDir* root = [] {
      auto* dir = new QTemporaryDir();
      const std::string path = dir->path().toStdString();
      for (const char* name : {"data", "config", "runtime", "tmp", "home"}) {
        QDir().mkpath(dir->path() + "/" + name);
      }
      // Qt ignores a runtime folder that others may enter.
      QFile::setPermissions(dir->path() + "/runtime",
                            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
      setenv("HOME", (path + "/home").c_str(), 1);
      setenv("XDG_DATA_HOME", (path + "/data").c_str(), 1);
      setenv("XDG_CONFIG_HOME", (path + "/config").c_str(), 1);
      setenv("XDG_RUNTIME_DIR", (path + "/runtime").c_str(), 1);
      setenv("TMPDIR", (path + "/tmp").c_str(), 1);
      unsetenv("XDG_DOCUMENTS_DIR");
      QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir->path() + "/config");
      QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir->path() + "/config");
      return dir;
    }();
    root_ = root->path().toStdString();
    model::manager::shared();
    database::manager::shared().exec("DELETE FROM printer;");
    QSettings("Tessaly Software", "Quorvane").clear();
  }

  /// The temporary folder.
  const std::string& root() const { return root_; }
  /// The temporary HOME.
  std::string home() const { return root_ + "/home"; }

 private:
  std::string root_;
};

/// The number of rows of the printer table.
inline int stored_printer_count() {
  smart_ptr<database::statement> rows = database::manager::shared().select("SELECT COUNT(*) FROM printer;");
  return rows->step() ? rows->columnInt(0) : -1;
}

}  // namespace quorvane::testing
