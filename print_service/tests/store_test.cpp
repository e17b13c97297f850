#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "print_service/service_store.h"

namespace quorvane::print_service {
namespace {

class Store : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qv-store-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    reopen();
  }
  void TearDown() override {
    store_.reset();
    std::system(("rm -rf '" + root_ + "'").c_str());
  }
  // Closes and opens the file again, as a restart of the service does.
  void reopen() {
    store_.reset();
    store_ = std::make_unique<service_store>();
    ASSERT_TRUE(store_->open(root_ + "/service.db"));
  }
  static Json::Value printer(const char* uuid, const char* name) {
    Json::Value p(Json::objectValue);
    p["uuid"] = uuid;
    p["name"] = name;
    return p;
  }
  std::string root_;
  std::unique_ptr<service_store> store_;
};

TEST_F(Store, PrintersSurviveARestartInTheirOrder) {
  ASSERT_TRUE(store_->save_printer(printer("b-uuid", "second-stored-first")));
  ASSERT_TRUE(store_->save_printer(printer("a-uuid", "one")));
  ASSERT_TRUE(store_->save_printer(printer("B-UUID", "replaced")));
  EXPECT_FALSE(store_->save_printer(printer("", "no uuid")));
  reopen();
  auto all = store_->printers();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0]["name"].asString(), "replaced") << "a replaced printer keeps its place";
  EXPECT_EQ(all[1]["name"].asString(), "one");
  ASSERT_TRUE(store_->find_printer("A-uuid"));
  ASSERT_TRUE(store_->remove_printer("a-uuid"));
  EXPECT_FALSE(store_->find_printer("a-uuid"));
  EXPECT_TRUE(store_->remove_printer("never-there"));
}

TEST_F(Store, AttributesMergeOverDefaultsAndPersist) {
  Json::Value defaults(Json::objectValue);
  defaults["printMode"] = 0;
  defaults["logLevel"] = 3;
  Json::Value change(Json::objectValue);
  change["logLevel"] = 10;
  change["custom"] = "kept";
  ASSERT_TRUE(store_->save_attributes(change));
  EXPECT_FALSE(store_->save_attributes(Json::Value(5)));
  reopen();
  const Json::Value got = store_->attributes(defaults);
  EXPECT_EQ(got["printMode"].asInt(), 0);
  EXPECT_EQ(got["logLevel"].asInt(), 10);
  EXPECT_EQ(got["custom"].asString(), "kept");
}

TEST_F(Store, QueueUuidIsStableAcrossRestarts) {
  const std::string first = store_->queue_uuid("office");
  ASSERT_EQ(first.size(), 36u);
  EXPECT_NE(store_->queue_uuid("lab"), first);
  reopen();
  EXPECT_EQ(store_->queue_uuid("office"), first);
  EXPECT_EQ(store_->queue_uuids().size(), 2u);
}

TEST_F(Store, JobsKeepTheirOrderAttemptsAndOutcome) {
  Json::Value record(Json::objectValue);
  record["uuid"] = "j1";
  const int64_t first = store_->add_job("p", record);
  record["uuid"] = "j2";
  const int64_t second = store_->add_job("p", record);
  ASSERT_GT(first, 0);
  ASSERT_GT(second, first);
  ASSERT_TRUE(store_->set_attempts(first, 2));
  ASSERT_TRUE(store_->finish_job(second, 0, 9, 42));
  reopen();

  auto open = store_->unfinished_jobs();
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open[0].uuid, "j1");
  EXPECT_EQ(open[0].attempts, 2);
  auto done = store_->find_job(second);
  ASSERT_TRUE(done);
  EXPECT_TRUE(done->finished);
  EXPECT_EQ(done->status, 0);
  EXPECT_EQ(done->state, 9);
  EXPECT_EQ(done->platform_id, 42);
  EXPECT_EQ(done->record["uuid"].asString(), "j2");
  EXPECT_FALSE(store_->find_job(999));
}

TEST(StoreOpen, AFolderThatDoesNotExistFails) {
  service_store store;
  EXPECT_FALSE(store.open("/nonexistent-folder-qv/service.db"));
  EXPECT_TRUE(store.printers().empty());
  EXPECT_EQ(store.add_job("p", Json::Value(Json::objectValue)), 0);
}

}  // namespace
}  // namespace quorvane::print_service
