#include <string>

#include <gtest/gtest.h>

#include "core/json_text.h"
#include "model/device.h"
#include "model/job.h"
#include "model/json_p.h"
#include "model/tests/model_fixture.h"

namespace quorvane::model {
namespace {

using testing_support::log_capture;
using testing_support::Store;

TEST(JobJson, ConstructorDefaultsDifferFromReadDefaults) {
  job made;
  EXPECT_EQ(made.name().narrow(), "untitled");
  EXPECT_EQ(made.user().narrow(), "anonymous");
  EXPECT_EQ(made.format().narrow(), "application/octet-stream");
  EXPECT_EQ(made.printQuality(), 4);
  EXPECT_TRUE(made.isColor());
  EXPECT_EQ(made.orientation(), 3);
  EXPECT_EQ(made.copies(), 1);
  EXPECT_TRUE(made.fitToPage());
  EXPECT_FALSE(made.media());
  EXPECT_EQ(made.state(), 5);

  job read;
  read.readJSON(Json::Value(Json::objectValue));
  EXPECT_EQ(read.name().narrow(), "");
  EXPECT_EQ(read.user().narrow(), "");
  EXPECT_EQ(read.format().narrow(), "");
  EXPECT_EQ(read.printQuality(), 0);
  EXPECT_FALSE(read.isColor());
  EXPECT_EQ(read.orientation(), 0);
  EXPECT_EQ(read.copies(), 0);
  EXPECT_FALSE(read.fitToPage());
  EXPECT_EQ(read.state(), 0);
  EXPECT_EQ(read.timeAtCreation(), 0);
  ASSERT_TRUE(read.media()) << "a job read from JSON always has a media object";
  EXPECT_FALSE(read.media()->enabled());
  EXPECT_EQ(read.media()->width(), 0);
}

TEST(JobJson, WithoutMediaNoKeyAndReadingItsOwnOutputAddsOne) {
  job made;
  Json::Value out(Json::objectValue);
  made.writeJSON(out);
  EXPECT_FALSE(out.isMember("media"));
  job back;
  back.readJSON(out);
  ASSERT_TRUE(back.media());
  EXPECT_EQ(back.copies(), 1);
  EXPECT_EQ(back.name().narrow(), "untitled");
}

TEST(JobJson, RoundTripsEveryField) {
  Json::Value in;
  ASSERT_TRUE(quorvane::parse_json(
      R"({"uuid":"j1","deviceAddress":"192.0.2.7","deviceID":"phone \u00e9","printerID":"p1",
      "platformID":77,"name":"Report \ud83d\udda8","user":"O'Brien","format":"application/pdf","printQuality":5,
      "firstPage":2,"lastPage":9,"isColor":true,"orientation":4,"duplex":2,"copies":3,"fitToPage":true,
      "media":{"name":"iso_a4_210x297mm","width":21000,"height":29700,"enabled":true,"klass":0,"type":0,
               "displayName":"A4"},
      "state":9,"filename":"/tmp/job 1.pdf","timeAtCreation":4102444800123})",
      in));
  job j;
  j.readJSON(in);
  EXPECT_EQ(j.deviceID().narrow(), "phone \xc3\xa9");
  EXPECT_EQ(j.name().narrow(), "Report \xf0\x9f\x96\xa8");
  EXPECT_EQ(j.user().narrow(), "O'Brien");
  EXPECT_EQ(j.platformID(), 77);
  EXPECT_EQ(j.orientation(), 4);
  EXPECT_EQ(j.copies(), 3);
  EXPECT_EQ(j.lastPage(), 9);
  EXPECT_EQ(j.timeAtCreation(), 4102444800123);
  ASSERT_TRUE(j.media());
  EXPECT_EQ(j.media()->height(), 29700);
  Json::Value out(Json::objectValue);
  j.writeJSON(out);
  // Compared as text: the reader keeps large numbers unsigned, the writer signed.
  EXPECT_EQ(quorvane::compact_json(out), quorvane::compact_json(in));
}

TEST(DeviceJson, LastUsedKeepsSixtyFourBits) {
  device d;
  d.setUuid("d1");
  d.setHost(wide_string::from_narrow("pixel-\xc3\xa9"));
  d.setLastUsed(int64_t{1} << 40);
  Json::Value out(Json::objectValue);
  d.writeJSON(out);
  EXPECT_TRUE(out["lastUsed"].isInt64());
  device back;
  Json::Value reparsed;
  ASSERT_TRUE(quorvane::parse_json(quorvane::compact_json(out), reparsed));
  back.readJSON(reparsed);
  EXPECT_EQ(back.lastUsed(), int64_t{1} << 40);
  EXPECT_EQ(back.host().narrow(), "pixel-\xc3\xa9");
  EXPECT_EQ(back.uuid(), "d1");
}

// ---- saving

TEST_F(Store, CleanJobOrDeviceWithoutARowWritesNothing) {
  job j;
  device d;
  log_capture log;
  EXPECT_TRUE(j.save());
  EXPECT_TRUE(d.save());
  EXPECT_TRUE(log.messages_starting("exec:").empty());
  EXPECT_EQ(j.oid(), 0);
  EXPECT_EQ(d.oid(), 0);
}

TEST_F(Store, DirtyJobFillsItsSearchColumns) {
  job_ptr j = make_counted<job>();
  j->setUuid("J'1");
  j->setDeviceID(wide_string::from_narrow("dev'ice \xf0\x9f\x93\xb1"));
  j->setPrinterID("p_1%");
  j->setPlatformID(42);
  j->setState(9);
  ASSERT_TRUE(j->save());
  ASSERT_NE(j->oid(), 0);
  smart_ptr<database::statement> row = database::manager::shared().select("SELECT * FROM job;");
  ASSERT_TRUE(row->step());
  EXPECT_EQ(row->columnInt64(0), j->oid());
  EXPECT_EQ(row->columnText(1), "J'1");
  EXPECT_EQ(row->columnText(2), "dev'ice \xf0\x9f\x93\xb1");
  EXPECT_EQ(row->columnText(3), "p_1%");
  EXPECT_EQ(row->columnInt(4), 0) << "column id is always 0";
  EXPECT_EQ(row->columnInt(5), 42) << "column internalID holds platformID";
  EXPECT_EQ(row->columnInt(6), 9);
  Json::Value stored;
  ASSERT_TRUE(quorvane::parse_json(row->columnText(7), stored));
  job back;
  back.readJSON(stored);
  EXPECT_EQ(back.deviceID().narrow(), "dev'ice \xf0\x9f\x93\xb1");
  EXPECT_EQ(back.copies(), 1);

  // A changed job with a row replaces its row when released.
  const int64_t oid = j->oid();
  j->setState(8);
  j.reset();
  EXPECT_EQ(query_text("SELECT state FROM job WHERE oid = " + std::to_string(oid) + ";"), "8");
}

TEST_F(Store, DirtyDeviceIsInsertedThenReplaced) {
  device_ptr d = make_counted<device>();
  d->setUuid("dev-1");
  d->setHost(wide_string::from_narrow("it's-a-phone"));
  ASSERT_TRUE(d->save());
  const int64_t oid = d->oid();
  EXPECT_EQ(oid, 1);
  d->setLastUsed(5);
  ASSERT_TRUE(d->save());
  EXPECT_EQ(d->oid(), oid);
  EXPECT_EQ(query_text("SELECT count(*) FROM device;"), "1");
  Json::Value stored;
  ASSERT_TRUE(quorvane::parse_json(query_text("SELECT json FROM device;"), stored));
  EXPECT_EQ(stored["lastUsed"].asInt64(), 5);
  EXPECT_EQ(stored["host"].asString(), "it's-a-phone");
}

}  // namespace
}  // namespace quorvane::model
