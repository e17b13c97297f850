// Test support for the console's widgets: the user's folders and settings moved to a temporary folder, so
// that a test never reads or writes the user's own data.
#pragma once

#include <stdlib.h>

#include <QSettings>

#include <memory>
#include <string>

#include "database/tests/temporary_folder.h"

namespace quorvane::testing_support {

/// Points HOME, XDG_CONFIG_HOME, XDG_DATA_HOME and QSettings' user scope at one temporary folder for the
/// rest of the test program (once; later calls return the same folder). Call it before anything reads
/// those places (the database, QSettings).
inline const std::string& use_temporary_home() {
  static const std::unique_ptr<temporary_folder> home = [] {
    auto folder = std::make_unique<temporary_folder>();
    const std::string& root = folder->path();
    setenv("HOME", root.c_str(), /*overwrite=*/1);
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), /*overwrite=*/1);
    setenv("XDG_DATA_HOME", (root + "/data").c_str(), /*overwrite=*/1);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(root + "/config"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(root + "/config"));
    return folder;
  }();
  return home->path();
}

}  // namespace quorvane::testing_support
