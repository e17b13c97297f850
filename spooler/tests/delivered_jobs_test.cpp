#include "spooler/delivered_jobs.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "database/database.h"
#include "test_support/temporary_folder.h"

namespace quorvane {
namespace {

const auto* const data_home = ::testing::AddGlobalTestEnvironment(new testing_support::data_home_environment);

constexpr int64_t day = 24 * 3600;

class DeliveredJobs : public ::testing::Test {
 protected:
  DeliveredJobs() { database::manager::shared().exec("DROP TABLE IF EXISTS delivered_job;"); }

  // A record of `capacity` jobs kept for `keep` seconds, on the test's clock.
  smart_ptr<delivered_jobs> make(size_t capacity = delivered_jobs::default_capacity,
                                 int64_t keep = delivered_jobs::default_keep_seconds) {
    return make_counted<delivered_jobs>(capacity, keep, [this] { return now; });
  }

  static model::job_ptr job_with_uuid(const std::string& uuid) {
    model::job_ptr job = make_counted<model::job>();
    job->setUuid(uuid);
    return job;
  }

  int64_t now = 1'800'000'000;
};

TEST_F(DeliveredJobs, AnswersAreFoundByUuidAndAReRecordReplacesThem) {
  smart_ptr<delivered_jobs> jobs = make();
  EXPECT_EQ(jobs->find("a"), std::nullopt);
  ASSERT_TRUE(jobs->record("a", {0, 9, 0}));
  ASSERT_TRUE(jobs->record("b", {5, 8, 0}));
  // A uuid is text from the wire: quotes and wildcards match only themselves.
  ASSERT_TRUE(jobs->record("it's_%", {0, 9, 77}));
  EXPECT_EQ(jobs->find("a"), (delivery_answer{0, 9, 0}));
  EXPECT_EQ(jobs->find("b"), (delivery_answer{5, 8, 0}));
  EXPECT_EQ(jobs->find("it's_%"), (delivery_answer{0, 9, 77}));
  EXPECT_EQ(jobs->find("it's_x"), std::nullopt);
  EXPECT_EQ(jobs->find("A"), std::nullopt) << "uuids are compared exactly";
  ASSERT_TRUE(jobs->record("a", {-1, 8, 0}));
  EXPECT_EQ(jobs->find("a"), (delivery_answer{-1, 8, 0}));
  EXPECT_EQ(jobs->count(), 3);
}

// Which records a short history leaves, with a capacity of 3 and a keeping time of 2 days.
struct retention_case {
  const char* name;
  std::vector<std::pair<std::string, int64_t>> recorded;  // uuid, days after the start
  int64_t asked_at_day;
  std::vector<std::string> found;
  int64_t count;
};

/// Names a case by its name in failure messages.
void PrintTo(const retention_case& c, std::ostream* out) {
  *out << c.name;
}

class DeliveredJobsRetention : public DeliveredJobs, public ::testing::WithParamInterface<retention_case> {};

TEST_P(DeliveredJobsRetention, KeepsTheNewestWithinTheKeepingTime) {
  const retention_case& c = GetParam();
  const int64_t start = now;
  smart_ptr<delivered_jobs> jobs = make(3, 2 * day);
  for (const auto& [uuid, at_day] : c.recorded) {
    now = start + at_day * day;
    ASSERT_TRUE(jobs->record(uuid, {0, 9, 0}));
  }
  now = start + c.asked_at_day * day;
  std::vector<std::string> found;
  for (const char* uuid : {"a", "b", "c", "d", "e"}) {
    if (jobs->find(uuid)) found.push_back(uuid);
  }
  EXPECT_EQ(found, c.found);
  EXPECT_EQ(jobs->count(), c.count);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeliveredJobsRetention,
    ::testing::Values(
        retention_case{"UpToTheCapacityAllStay", {{"a", 0}, {"b", 0}, {"c", 0}}, 0, {"a", "b", "c"}, 3},
        retention_case{
            "BeyondItTheOldestGo", {{"a", 0}, {"b", 0}, {"c", 0}, {"d", 0}, {"e", 0}}, 0, {"c", "d", "e"}, 3},
        retention_case{"ARecordedAgainJobIsNewest",
                       {{"a", 0}, {"b", 0}, {"c", 0}, {"a", 0}, {"d", 0}},
                       0,
                       {"a", "c", "d"},
                       3},
        retention_case{"OnTheLastDayOfTheKeepingTimeItIsFound", {{"a", 0}}, 2, {"a"}, 1},
        retention_case{"AfterTheKeepingTimeItIsNotFound", {{"a", 0}}, 3, {}, 1},
        retention_case{"AndTheNextRecordRemovesIt", {{"a", 0}, {"b", 1}, {"c", 4}}, 4, {"c"}, 1}),
    [](const ::testing::TestParamInfo<retention_case>& info) { return std::string(info.param.name); });

TEST_F(DeliveredJobs, RecordsSurviveTheDatabaseBeingClosedAndOpenedAgain) {
  ASSERT_TRUE(make()->record("kept", {0, 9, 12}));
  // What a console restart does to the database: the next use opens the file again.
  ASSERT_TRUE(database::manager::shared().close());
  EXPECT_EQ(make()->find("kept"), (delivery_answer{0, 9, 12}));
}

TEST_F(DeliveredJobs, ARepeatedJobIsDeliveredOnceAndAnsweredAsTheFirstTime) {
  smart_ptr<delivered_jobs> jobs = make();
  int deliveries = 0;
  bool recorded_before_answer = false;
  const delivered_jobs::deliver_function deliver = [&](model::printer_ptr, model::job_ptr,
                                                       print_completion done) {
    ++deliveries;
    done(deliveries == 1 ? 0 : 99, model::job_state_completed, 0);
  };
  std::vector<delivery_answer> answers;
  auto completion = [&](int32_t status, int32_t state, int32_t platform_job_id) {
    if (answers.empty()) recorded_before_answer = jobs->find("j-1").has_value();
    answers.push_back({status, state, platform_job_id});
  };
  jobs->print(make_counted<model::printer>(), job_with_uuid("j-1"), completion, deliver);
  jobs->print(make_counted<model::printer>(), job_with_uuid("j-1"), completion, deliver);
  // A new record object, as after a console restart, finds it too.
  make()->print(make_counted<model::printer>(), job_with_uuid("j-1"), completion, deliver);
  EXPECT_EQ(deliveries, 1);
  EXPECT_TRUE(recorded_before_answer) << "the record is written before the answer is sent";
  EXPECT_EQ(answers, (std::vector<delivery_answer>(3, delivery_answer{0, 9, 0})));

  jobs->print(make_counted<model::printer>(), job_with_uuid("j-2"), completion, deliver);
  EXPECT_EQ(deliveries, 2) << "another job is delivered";
}

TEST_F(DeliveredJobs, ARepeatWhileTheDeliveryRunsGetsItsAnswerWhenItEnds) {
  smart_ptr<delivered_jobs> jobs = make();
  std::vector<print_completion> running;
  const delivered_jobs::deliver_function deliver = [&](model::printer_ptr, model::job_ptr,
                                                       print_completion done) { running.push_back(done); };
  std::vector<std::pair<int, delivery_answer>> answers;
  for (int asker : {1, 2}) {
    jobs->print(
        make_counted<model::printer>(), job_with_uuid("slow"),
        [&answers, asker](int32_t status, int32_t state, int32_t id) {
          answers.push_back({asker, {status, state, id}});
        },
        deliver);
  }
  ASSERT_EQ(running.size(), 1u) << "the repeat waits for the delivery under way";
  EXPECT_TRUE(answers.empty());
  running[0](1, model::job_state_aborted, 0);
  const std::vector<std::pair<int, delivery_answer>> expected = {{1, {1, 8, 0}}, {2, {1, 8, 0}}};
  EXPECT_EQ(answers, expected);
  EXPECT_EQ(jobs->find("slow"), (delivery_answer{1, 8, 0})) << "a failed delivery is answered alike";
  running[0](0, model::job_state_completed, 0);
  EXPECT_EQ(answers.size(), 2u) << "a second answer of one delivery is ignored";
}

TEST_F(DeliveredJobs, AJobWithoutUuidIsDeliveredEveryTimeAndNotRecorded) {
  smart_ptr<delivered_jobs> jobs = make();
  int deliveries = 0;
  const delivered_jobs::deliver_function deliver = [&](model::printer_ptr, model::job_ptr,
                                                       print_completion done) {
    ++deliveries;
    done(0, model::job_state_completed, 0);
  };
  for (int i = 0; i < 2; ++i) {
    jobs->print(
        make_counted<model::printer>(), make_counted<model::job>(), [](int32_t, int32_t, int32_t) {},
        deliver);
  }
  EXPECT_EQ(deliveries, 2);
  EXPECT_EQ(jobs->count(), 0);
}

// A job as the service sends it, from a phone.
model::job_ptr phone_job(const std::string& uuid, const std::string& name) {
  model::job_ptr job = make_counted<model::job>();
  job->setUuid(uuid);
  job->setName(wide_string::from_narrow(name));
  job->setUser(u"anna");
  job->setDeviceAddress("192.168.1.23");
  job->setFormat(u"application/pdf");
  job->setFilename(u"/var/spool/received/17.pdf");
  return job;
}

model::printer_ptr printer_of(const std::string& display_name, const std::string& folder, int32_t action,
                              const std::string& param = "") {
  model::printer_ptr p = make_counted<model::printer>();
  p->setName(u"queue-" + wide_string::from_narrow(display_name).text());
  p->setDisplayName(display_name);
  p->setDirectory(wide_string::from_narrow(folder));
  p->setAction(action);
  p->setActionParam(wide_string::from_narrow(param));
  return p;
}

TEST(DeliveredDocument, KeepsTheFileTheDeliveryLeftAndWhyItFailed) {
  struct document_case {
    const char* name;
    model::printer_ptr printer;
    int32_t status;
    bool named_device;
    std::string want_file;
    std::string want_param;
    int32_t want_failure;
  };
  const std::string after = "/home/anna/Inbox/report.pdf";  // where the delivery put the job's file
  const document_case cases[] = {
      // Kept: a printer with a folder, one whose "Default" folder is all it does, one that opens a copy.
      {"folder", printer_of("Inbox", "/home/anna/Inbox", model::action_none), 0, false, after, "", 0},
      {"default folder", printer_of("Keep", "", model::action_none), 0, false, after, "", 0},
      {"opened copy", printer_of("Open", "", model::action_open, "evince"), 0, true, after, "evince", 0},
      // Nothing kept: printed, or failed.
      {"printed", printer_of("Laser", "", model::action_print), 0, false, "", "queue-Laser", 0},
      {"failed", printer_of("Inbox", "/home/anna/Inbox", model::action_none), 13, false, "", "", 1},
  };
  for (const document_case& c : cases) {
    model::job_ptr job = phone_job("u-1", "report");
    job->setFilename(wide_string::from_narrow(after));
    if (c.named_device) job->setDeviceID(u"Anna's phone");
    if (c.status != 0) job->setDeliveryFailure(1);
    const delivered_document d = delivered_document_of(*c.printer, *job, c.status);
    EXPECT_EQ(d.file, c.want_file) << c.name;
    EXPECT_EQ(d.action_param, c.want_param) << c.name;
    EXPECT_EQ(d.failure, c.want_failure) << c.name;
    EXPECT_EQ(d.status, c.status) << c.name;
    EXPECT_EQ(d.device, c.named_device ? "Anna's phone" : "192.168.1.23") << c.name;
    EXPECT_EQ(d.document, "report") << c.name;
    EXPECT_EQ(d.user, "anna") << c.name;
    EXPECT_EQ(d.printer, c.printer->displayName()) << c.name;
    EXPECT_EQ(d.uuid, "u-1") << c.name;
  }
}

TEST_F(DeliveredJobs, DeliveriesAreListedNewestFirstAndOneTakenOffTheListStillAnswersItsRepeat) {
  smart_ptr<delivered_jobs> jobs = make();
  int deliveries = 0;
  // The spooler's part: the file moves into the folder, or the delivery fails with its reason.
  const delivered_jobs::deliver_function deliver = [&](model::printer_ptr, model::job_ptr job,
                                                       print_completion done) {
    ++deliveries;
    if (job->name().narrow() == "broken") {
      job->setDeliveryFailure(12);
      done(-1, model::job_state_aborted, 0);
      return;
    }
    job->setFilename(u"/home/anna/Inbox/" + job->name().text() + u".pdf");
    done(0, model::job_state_completed, 0);
  };
  const model::printer_ptr inbox = printer_of("\xee\x80\x8cInbox", "/home/anna/Inbox", model::action_none);
  auto ignore = [](int32_t, int32_t, int32_t) {};
  // Names are text from the wire: quotes and wildcards stay as they are.
  const std::vector<std::string> names = {"first", "it's 100% _mine_", "broken"};
  for (size_t i = 0; i < names.size(); ++i) {
    now += 60;
    jobs->print(inbox, phone_job("u-" + std::to_string(i), names[i]), ignore, deliver);
  }
  ASSERT_TRUE(jobs->record("bare", {0, 9, 0})) << "a record without a document";

  std::vector<delivered_document> listed = jobs->listed_documents();
  ASSERT_EQ(listed.size(), 3u) << "the bare record is not listed";
  EXPECT_EQ(listed[0].document, "broken");
  EXPECT_EQ(listed[0].status, -1);
  EXPECT_EQ(listed[0].failure, 12);
  EXPECT_EQ(listed[0].file, "");
  EXPECT_EQ(listed[1].document, "it's 100% _mine_");
  EXPECT_EQ(listed[1].file, "/home/anna/Inbox/it's 100% _mine_.pdf");
  EXPECT_EQ(listed[1].delivered, 1'800'000'120);
  EXPECT_EQ(listed[2].document, "first");
  EXPECT_EQ(listed[2].printer, "\xee\x80\x8cInbox") << "stored as the service names it";
  EXPECT_EQ(listed[2].format, "application/pdf");
  EXPECT_EQ(listed[2].user, "anna");
  EXPECT_EQ(listed[2].device, "192.168.1.23");

  EXPECT_FALSE(jobs->unlist("it's 100% _mine_")) << "by uuid, not by name";
  EXPECT_TRUE(jobs->unlist("u-1"));
  EXPECT_FALSE(jobs->unlist("u-1")) << "already off the list";
  EXPECT_FALSE(jobs->unlist("bare")) << "never listed";
  listed = make()->listed_documents();
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0].uuid, "u-2");
  EXPECT_EQ(listed[1].uuid, "u-0");

  // Off the list, the record still keeps the job from being delivered twice.
  jobs->print(inbox, phone_job("u-1", names[1]), ignore, deliver);
  EXPECT_EQ(deliveries, 3);
  // Past the keeping time nothing is listed.
  now += delivered_jobs::default_keep_seconds + 1;
  EXPECT_TRUE(jobs->listed_documents().empty());
}

TEST_F(DeliveredJobs, ATableOfAnEarlierVersionGetsItsNewColumnsAndKeepsItsRecords) {
  database::manager& db = database::manager::shared();
  ASSERT_EQ(db.exec("CREATE TABLE delivered_job(uuid TEXT PRIMARY KEY, status INTEGER, state INTEGER, "
                    "platform_id INTEGER, delivered INTEGER);"),
            0);
  ASSERT_EQ(db.exec("INSERT INTO delivered_job VALUES('old', 0, 9, 4, " + std::to_string(now) + ");"), 0);
  smart_ptr<delivered_jobs> jobs = make();
  EXPECT_EQ(jobs->find("old"), (delivery_answer{0, 9, 4}));
  EXPECT_TRUE(jobs->listed_documents().empty()) << "an old record says nothing of its document";
  delivered_document d;
  d.uuid = "new";
  d.document = "photo";
  ASSERT_TRUE(jobs->record(d, {0, 9, 0}));
  const std::vector<delivered_document> listed = jobs->listed_documents();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].document, "photo");
  EXPECT_EQ(jobs->find("old"), (delivery_answer{0, 9, 4}));
}

}  // namespace
}  // namespace quorvane
