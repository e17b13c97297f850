#include "ui/components.h"

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

namespace quorvane {
namespace {

TEST(ConsoleComponents, RegisterInStartUpOrderAndAllComeUpThroughTheLifecycle) {
  char pattern[] = "/tmp/quorvane-components-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string root = pattern;
  setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
  setenv("TMPDIR", root.c_str(), 1);

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
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace quorvane
