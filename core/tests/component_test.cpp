#include "core/component.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support/scoped_environment.h"
#include "test_support/temporary_folder.h"

#include "core/workspace.h"

namespace quorvane {
namespace {

std::vector<std::string> calls;

// A component that records its phases; `fail_first` makes its first phase fail that many times.
class recording_component final : public component {
 public:
  explicit recording_component(std::string name, component* dependency = nullptr, int fail_first = 0)
      : name_(std::move(name)), dependency_(dependency), failures_left_(fail_first) {}

  int32_t applicationWillInitialize() override {
    if (status_ == 0) return 0;
    if (dependency_) initialized(*dependency_);
    calls.push_back("will " + name_);
    if (failures_left_ > 0) {
      --failures_left_;
      return status_;
    }
    status_ = 0;
    return 0;
  }
  int32_t applicationDidInitialize() override {
    if (status_ == 0) calls.push_back("did " + name_);
    return status_;
  }

 private:
  std::string name_;
  component* dependency_;
  int failures_left_;
};

class ComponentList : public ::testing::Test {
 protected:
  void SetUp() override {
    component::clear_list();
    calls.clear();
  }
  void TearDown() override { component::clear_list(); }
};

TEST_F(ComponentList, EmptyListWalksDoNothing) {
  run_component_lifecycle();
  EXPECT_EQ(component::head(), nullptr);
  EXPECT_TRUE(calls.empty());
}

TEST_F(ComponentList, LastRegisteredIsInitialisedFirstAndDependenciesOnDemand) {
  recording_component storage("storage");
  recording_component model("model", &storage);
  storage.register_component();
  model.register_component();
  model.register_component();  // registering twice keeps one entry
  ASSERT_EQ(component::head(), &model);
  ASSERT_EQ(model.next(), &storage);
  ASSERT_EQ(storage.next(), nullptr);

  run_component_lifecycle();
  EXPECT_EQ(calls, (std::vector<std::string>{"will storage", "will model", "did model", "did storage"}));
}

TEST_F(ComponentList, FailedFirstPhaseIsRetriedByTheNextAccess) {
  recording_component flaky("flaky", nullptr, /*fail_first=*/1);
  flaky.register_component();
  run_component_lifecycle();
  EXPECT_NE(flaky.status(), 0);
  EXPECT_EQ(calls, (std::vector<std::string>{"will flaky"})) << "no second phase while not initialised";

  initialized(flaky);
  EXPECT_EQ(flaky.status(), 0);
  initialized(flaky);
  EXPECT_EQ(calls, (std::vector<std::string>{"will flaky", "will flaky"}))
      << "set-up runs once after success";
}

// The workspace reads XDG_DATA_HOME on its first phase; each case points it at a fresh folder.
class Workspace : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(root_.empty()); }
  testing_support::temporary_folder folder_;
  const std::string& root_ = folder_.path();
  testing_support::scoped_environment data_home_{"XDG_DATA_HOME", root_};
};

TEST_F(Workspace, CreatesTheDataFolderReplacingAFileOfThatName) {
  { std::ofstream(root_ + "/Quorvane") << "not a folder"; }
  workspace_posix ws;
  EXPECT_TRUE(ws.data_folder().empty());
  EXPECT_EQ(ws.applicationWillInitialize(), 0);
  EXPECT_EQ(ws.data_folder().narrow(), root_ + "/Quorvane");
  EXPECT_TRUE(std::filesystem::is_directory(root_ + "/Quorvane"));
  EXPECT_FALSE(ws.module_folder().empty());
  EXPECT_EQ(ws.applicationDidInitialize(), 0);
}

TEST_F(Workspace, ALinkToAFolderIsKeptAndOtherLinksAreReplaced) {
  // A data folder moved elsewhere and linked back keeps its contents.
  std::filesystem::create_directory(root_ + "/elsewhere");
  { std::ofstream(root_ + "/elsewhere/quorvane.db") << "rows"; }
  std::filesystem::create_directory_symlink(root_ + "/elsewhere", root_ + "/Quorvane");
  workspace_posix linked;
  EXPECT_EQ(linked.applicationWillInitialize(), 0);
  EXPECT_TRUE(std::filesystem::is_symlink(root_ + "/Quorvane")) << "the link to a folder must stay";
  EXPECT_TRUE(std::filesystem::exists(root_ + "/Quorvane/quorvane.db"));

  // A dangling link is no folder: it is replaced by one (its target is not created).
  std::filesystem::remove(root_ + "/Quorvane");
  std::filesystem::create_symlink(root_ + "/missing", root_ + "/Quorvane");
  workspace_posix dangling;
  EXPECT_EQ(dangling.applicationWillInitialize(), 0);
  EXPECT_FALSE(std::filesystem::is_symlink(root_ + "/Quorvane"));
  EXPECT_TRUE(std::filesystem::is_directory(root_ + "/Quorvane"));
  EXPECT_FALSE(std::filesystem::exists(root_ + "/missing"));
}

TEST_F(Workspace, CreatesMissingParentFolders) {
  setenv("XDG_DATA_HOME", (root_ + "/a/b").c_str(), 1);
  workspace_posix ws;
  EXPECT_EQ(ws.applicationWillInitialize(), 0);
  EXPECT_TRUE(std::filesystem::is_directory(root_ + "/a/b/Quorvane"));
}

TEST_F(Workspace, UncreatableFolderLeavesItUninitialisedAndIsRetried) {
  if (geteuid() == 0) {
    // root ignores permission bits; a path through a plain file cannot be created by anyone.
    { std::ofstream(root_ + "/file") << "x"; }
    setenv("XDG_DATA_HOME", (root_ + "/file/sub").c_str(), 1);
  } else {
    chmod(root_.c_str(), 0500);
  }
  workspace_posix ws;
  EXPECT_NE(ws.applicationWillInitialize(), 0);
  EXPECT_TRUE(ws.data_folder().empty());
  EXPECT_NE(ws.applicationDidInitialize(), 0);

  chmod(root_.c_str(), 0700);
  setenv("XDG_DATA_HOME", root_.c_str(), 1);
  EXPECT_EQ(initialized(ws).status(), 0) << "the next access tries again";
  EXPECT_EQ(ws.data_folder().narrow(), root_ + "/Quorvane");
}

}  // namespace
}  // namespace quorvane
