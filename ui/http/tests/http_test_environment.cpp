// The console tests' home: HOME, the XDG folders and Qt's settings path point at a temporary folder for the
// whole test program, so that no test reads or writes the user's own settings or database.
#include <stdlib.h>

#include <QSettings>

#include <memory>

#include <gtest/gtest.h>

#include "test_support/temporary_folder.h"

namespace {

class console_home_environment final : public ::testing::Environment {
 public:
  void SetUp() override {
    folder_ = std::make_unique<quorvane::testing_support::temporary_folder>();
    const std::string root = folder_->path();
    setenv("HOME", root.c_str(), /*overwrite=*/1);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
      const std::string path = root + "/" + name;
      setenv(name, path.c_str(), /*overwrite=*/1);
    }
    const QString config = QString::fromStdString(root + "/XDG_CONFIG_HOME");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config);
  }
  void TearDown() override { folder_.reset(); }

 private:
  std::unique_ptr<quorvane::testing_support::temporary_folder> folder_;
};

const auto* const home = ::testing::AddGlobalTestEnvironment(new console_home_environment);

}  // namespace
