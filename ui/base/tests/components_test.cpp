#include "ui/base/components.h"

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/workspace.h"
#include "database/database_sqlite.h"
#include "model/manager.h"
#include "net/jsonrpc_manager.h"
#include "spooler/spooler_impl.h"
#include "test_support/scoped_environment.h"
#include "test_support/temporary_folder.h"

namespace quorvane {
namespace {

TEST(ConsoleComponents, RegisterInStartUpOrderAndAllComeUpThroughTheLifecycle) {
  const testing_support::temporary_folder folder;
  const std::string& root = folder.path();
  ASSERT_FALSE(root.empty());
  const testing_support::scoped_environment data_home("XDG_DATA_HOME", root + "/data");
  const testing_support::scoped_environment temporary("TMPDIR", root);

  register_console_components();
  register_console_components();  // a second registration changes nothing

  const std::vector<component*> want = {&model::manager::instance(), &jsonrpc::manager::instance(),
                                        &spooler_impl::instance(), &database::manager_impl::instance(),
                                        &workspace_posix::instance()};
  std::vector<component*> walk;
  for (component* c = component::head(); c; c = c->next()) walk.push_back(c);
  EXPECT_EQ(walk, want) << "the walk meets the last registered first";
  EXPECT_EQ(ipc::ipc_head(), &jsonrpc::manager::instance());

  run_component_lifecycle();
  for (component* c : walk) EXPECT_EQ(c->status(), 0);
  EXPECT_TRUE(std::filesystem::exists(root + "/data/Quorvane/quorvane.db"));

  component::clear_list();
}

}  // namespace
}  // namespace quorvane
