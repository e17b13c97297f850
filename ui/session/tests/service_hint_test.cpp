#include "ui/session/service_hint.h"

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quorvane {
namespace {

TEST(ServiceHint, SaysNothingBeforeTheThirdFailureThenTheCommandForHowTheServiceIsInstalled) {
  struct hint_case {
    const char* name;
    int failed;
    service_install install;
    uint16_t port;
    const char* want;  // "" for no hint
  };
  const hint_case cases[] = {
      // Too early: a slow service is not yet a stopped one.
      {"first failure", 1, service_install::system_unit, 6631, ""},
      {"second failure", 2, service_install::user_unit, 6631, ""},
      // From the third failure on, the command that starts it here.
      {"system unit", 3, service_install::system_unit, 6631,
       "The print service is not running. Start it with:\nsudo systemctl start quorvane-service"},
      {"user unit", 3, service_install::user_unit, 6631,
       "The print service is not running. Start it with:\nsystemctl --user start quorvane-service"},
      {"by hand", 40, service_install::by_hand, 6631,
       "The print service is not running. Start it with:\nquorvane-service"},
      // A console told another port needs a service on that port; the units use the default one.
      {"by hand on another port", 3, service_install::by_hand, 7001,
       "The print service is not running. Start it with:\nquorvane-service --port 7001"},
  };
  for (const hint_case& c : cases) {
    EXPECT_EQ(service_hint(c.failed, c.install, c.port).toStdString(), c.want) << c.name;
  }
}

TEST(ServiceHint, TheSystemUnitWinsOverTheUserUnitAndMissingFoldersAreNoUnit) {
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  const std::string base = root.path().toStdString();
  const std::string system = base + "/system", user = base + "/user", empty = base + "/empty";
  for (const std::string& folder : {system, user, empty}) std::filesystem::create_directory(folder);
  for (const std::string& folder : {system, user})
    std::ofstream(folder + "/quorvane-service.service") << "[Unit]\n";
  const std::string missing = base + "/missing";

  struct install_case {
    const char* name;
    std::vector<std::string> system_folders, user_folders;
    service_install want;
  };
  const install_case cases[] = {
      {"both units", {empty, system}, {user}, service_install::system_unit},
      {"user unit only", {empty, missing}, {missing, user}, service_install::user_unit},
      {"no unit", {empty, missing, ""}, {empty}, service_install::by_hand},
  };
  for (const install_case& c : cases) {
    EXPECT_EQ(find_service_install(c.system_folders, c.user_folders), c.want) << c.name;
  }
}

}  // namespace
}  // namespace quorvane
