#include "ui/session/service_session.h"

#include <QSettings>
#include <QTimer>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/log.h"
#include "database/object.h"
#include "test_support/runloop_guard.h"
#include "test_support/scoped_environment.h"
#include "ui/base/qt_runloop.h"
#include "ui/test_support/console_test_env.h"
#include "ui/test_support/scripted_peer.h"

namespace quorvane {
namespace {

// A session on the scripted peer's port, on the Qt run loop.
class ServiceSession : public ::testing::Test {
 protected:
  ServiceSession() {
    // Most cases play a later run: the first run's printers would add requests to their transcripts.
    QSettings("Tessaly Software", "Quorvane").setValue("Preferences/SetupPrinters", 0);
    set_main_runloop(&loop);
    session = std::make_unique<service_session>(list, peer.port());
    session->on_view_changed([this](bool connected) { views.push_back(connected); });
  }
  ~ServiceSession() override {
    session.reset();
    set_main_runloop(nullptr);
  }

  // Plays the service's side of a session start up to the connected view.
  void answer_session_start(const Json::Value& attributes) {
    ASSERT_TRUE(peer.answer_session_start(attributes));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !session->connecting(); }, testing::console_bound_ms));
  }

  testing::console_test_env env;
  qt_runloop loop;
  testing::scripted_peer peer;
  printer_list_model rows;
  printer_list_controller list{rows, nullptr, {}, {}};
  std::unique_ptr<service_session> session;
  std::vector<bool> views;
};

TEST_F(ServiceSession, FirstRequestsGoOutInOrderAndTheFirstRunSendsItsDefaultPrinter) {
  const int32_t level_before = log_level_threshold();
  QSettings("Tessaly Software", "Quorvane").remove("Preferences/SetupPrinters");
  session->start();
  EXPECT_TRUE(session->connecting());
  EXPECT_EQ(views, std::vector<bool>{false});
  ASSERT_TRUE(peer.wait_for_messages(1));
  EXPECT_EQ(peer.texts()[0], R"({"id":1,"jsonrpc":"2.0","method":"authenticate","params":[""]})");
  peer.answer(1, 0);
  ASSERT_TRUE(peer.wait_for_messages(3));
  EXPECT_EQ(peer.texts()[1],
            R"({"id":2,"jsonrpc":"2.0","method":"saveAttributes","params":[{"printMode":1}]})");
  EXPECT_EQ(peer.texts()[2], R"({"id":3,"jsonrpc":"2.0","method":"attributes"})");
  peer.answer(2, 0);
  Json::Value attributes;
  attributes["logLevel"] = 2;
  attributes["filenameGenerationFlags"] = 5;
  attributes["printMode"] = 1;
  peer.answer(3, 0, attributes);
  ASSERT_TRUE(peer.wait_for_messages(4));
  EXPECT_EQ(peer.texts()[3], R"({"id":4,"jsonrpc":"2.0","method":"observe","params":[true]})");
  EXPECT_EQ(log_level_threshold(), 2);
  EXPECT_EQ(session->filename_flags(), 5);
  EXPECT_EQ(session->ipp().port, 0) << "a service that does not say its IPP port";
  EXPECT_TRUE(session->connecting()) << "connected only once observe succeeded";

  peer.answer(4, 0);
  ASSERT_TRUE(peer.wait_for_messages(5));
  EXPECT_FALSE(session->connecting());
  EXPECT_EQ(views, (std::vector<bool>{false, true}));
  const Json::Value& update = peer.messages()[4];
  EXPECT_EQ(update["method"].asString(), "updatePrinter");
  EXPECT_EQ(update["params"][0]["name"].asString(), "open_on_my_pc");
  EXPECT_EQ(testing::stored_printer_count(), 1) << "no Dropbox folder: one default printer";
  EXPECT_EQ(QSettings("Tessaly Software", "Quorvane").value("Preferences/SetupPrinters").toInt(), 0);
  EXPECT_EQ(rows.rowCount(), 0) << "printers appear only when the service reports them";

  Json::Value notification;
  notification["jsonrpc"] = "2.0";
  notification["method"] = "printersWereUpdated";
  notification["params"][0].append(update["params"][0]);
  peer.send(notification);
  ASSERT_TRUE(QTest::qWaitFor([&] { return rows.rowCount() == 1; }, testing::console_bound_ms));
  EXPECT_EQ(rows.shown_text(0), "Open On My PC @ " + host_name().narrow());
  set_log_level(level_before);
}

TEST_F(ServiceSession, ALaterRunCreatesNoPrinterAndSendsEveryStoredOne) {
  for (const char* uuid : {"s-1", "s-2"}) {
    model::printer_ptr stored = make_counted<model::printer>();
    stored->setUuid(uuid);
    ASSERT_TRUE(stored->save());
  }
  session->start();
  answer_session_start(Json::Value(Json::objectValue));
  ASSERT_TRUE(peer.wait_for_messages(6));
  ASSERT_TRUE(peer.settle());
  ASSERT_EQ(peer.messages().size(), 6u);
  for (size_t i : {4u, 5u}) {
    EXPECT_EQ(peer.messages()[i]["method"].asString(), "updatePrinter");
    EXPECT_EQ(peer.messages()[i]["params"][0]["uuid"].asString(), i == 4 ? "s-1" : "s-2");
  }
  EXPECT_EQ(testing::stored_printer_count(), 2);
}

TEST_F(ServiceSession, AFailedAuthenticateOrObserveLeavesTheConnectingView) {
  session->start();
  ASSERT_TRUE(peer.wait_for_messages(1));
  Json::Value error;
  error["id"] = 1;
  error["error"]["code"] = -32001;
  peer.send(error);
  ASSERT_TRUE(peer.settle());
  EXPECT_EQ(peer.messages().size(), 1u) << "nothing follows a refused authenticate";
  EXPECT_TRUE(session->connecting());
  EXPECT_FALSE(session->retry_pending())
      << "the connection stays open; only its close leads to a new attempt";
}

TEST_F(ServiceSession, AFailedAttributesStillObservesAndAFailedObserveStaysConnecting) {
  session->start();
  ASSERT_TRUE(peer.wait_for_messages(1));
  peer.answer(1, 0);
  ASSERT_TRUE(peer.wait_for_messages(3));
  peer.answer(3, 7);
  ASSERT_TRUE(peer.wait_for_messages(4));
  EXPECT_EQ(peer.messages()[3]["method"].asString(), "observe");
  peer.answer(4, 3);
  ASSERT_TRUE(peer.settle());
  EXPECT_TRUE(session->connecting());
  EXPECT_EQ(peer.messages().size(), 4u);
}

TEST_F(ServiceSession, PrintIsHandedOnUnchangedAndAnsweredWithoutJsonrpc) {
  model::printer_ptr got_printer;
  model::job_ptr got_job;
  session->set_print_function([&](model::printer_ptr p, model::job_ptr j, print_completion done) {
    got_printer = p;
    got_job = j;
    done(0, model::job_state_completed, 0);
  });
  session->start();
  answer_session_start(Json::Value(Json::objectValue));
  Json::Value request;
  request["jsonrpc"] = "2.0";
  request["id"] = 12;
  request["method"] = "print";
  request["params"][0]["uuid"] = "p-1";
  request["params"][0]["action"] = 0;
  request["params"][1]["filename"] = "/tmp/job.pdf";
  const size_t before = peer.messages().size();
  peer.send(request);
  ASSERT_TRUE(peer.wait_for_messages(before + 1));
  EXPECT_EQ(peer.texts()[before], R"({"id":12,"result":[0,9,0]})");
  ASSERT_TRUE(got_printer && got_job);
  EXPECT_EQ(got_printer->uuid(), "p-1");
  EXPECT_EQ(got_job->filename().narrow(), "/tmp/job.pdf");
}

// The service stores a job's end when the answer reaches it; stopped before that, it sends the job again
// on the next connection, maybe to a console that was restarted meanwhile.
TEST_F(ServiceSession, AJobSentAgainIsAnsweredAsBeforeAndDeliveredOnce) {
  int deliveries = 0;
  const service_session::print_function deliver = [&](model::printer_ptr, model::job_ptr,
                                                      print_completion done) {
    ++deliveries;
    done(0, model::job_state_completed, 41 + deliveries);
  };
  session->set_print_function(deliver);
  // The arrival is told once, for the delivery that happened.
  std::vector<std::string> arrivals;
  session->on_arrival([&](const model::printer& p, const model::job& j, int32_t status) {
    arrivals.push_back(p.uuid() + " " + j.filename().narrow() + " " + std::to_string(status));
  });
  session->start();
  answer_session_start(Json::Value(Json::objectValue));
  auto send_print = [&](int id) {
    Json::Value request;
    request["jsonrpc"] = "2.0";
    request["id"] = id;
    request["method"] = "print";
    request["params"][0]["uuid"] = "p-1";
    request["params"][0]["action"] = 0;
    request["params"][1]["uuid"] = "0b7e5a52-4d31-4c3e-9d0e-2a4f8e1c6a10";
    request["params"][1]["filename"] = "/tmp/job.pdf";
    const size_t before = peer.messages().size();
    peer.send(request);
    return peer.wait_for_messages(before + 1) ? peer.texts()[before] : std::string("no answer");
  };
  EXPECT_EQ(send_print(12), R"({"id":12,"result":[0,9,42]})");

  peer.drop();
  EXPECT_EQ(arrivals, std::vector<std::string>{"p-1 /tmp/job.pdf 0"});
  ASSERT_TRUE(peer.wait_for_connections(2));
  answer_session_start(Json::Value(Json::objectValue));
  EXPECT_EQ(send_print(1), R"({"id":1,"result":[0,9,42]})") << "the recorded answer, on the new connection";
  EXPECT_EQ(arrivals.size(), 1u) << "a job answered from the record arrives no second time";

  // A console started again, on the same data.
  session = std::make_unique<service_session>(list, peer.port());
  session->set_print_function(deliver);
  session->start();
  ASSERT_TRUE(peer.wait_for_connections(3));
  answer_session_start(Json::Value(Json::objectValue));
  EXPECT_EQ(send_print(2), R"({"id":2,"result":[0,9,42]})");
  EXPECT_EQ(deliveries, 1);
}

TEST_F(ServiceSession, AClosedConnectionEmptiesTheListAndReconnectsAtOnce) {
  session->start();
  answer_session_start(Json::Value(Json::objectValue));
  Json::Value notification;
  notification["method"] = "printersWereUpdated";
  notification["params"][0][0]["uuid"] = "p-1";
  notification["params"][0][0]["displayName"] = "Office";
  peer.send(notification);
  ASSERT_TRUE(QTest::qWaitFor([&] { return rows.rowCount() == 1; }, testing::console_bound_ms));

  // Right after the close has been handled (the view turned back to connecting), the new attempt has
  // been made: no retry timer is armed, as it would be for a wait of 3 s.
  std::optional<bool> timer_armed;
  session->on_view_changed([&](bool connected) {
    views.push_back(connected);
    if (!connected) QTimer::singleShot(0, [&] { timer_armed = session->retry_pending(); });
  });
  const size_t before = peer.messages().size();
  peer.drop();
  ASSERT_TRUE(QTest::qWaitFor([&] { return timer_armed.has_value(); }, testing::console_bound_ms));
  EXPECT_FALSE(*timer_armed) << "the new attempt waits for the retry timer instead of being made at once";
  ASSERT_TRUE(peer.wait_for_connections(2));
  EXPECT_TRUE(session->connecting());
  EXPECT_EQ(rows.rowCount(), 0);
  EXPECT_EQ(views.back(), false);
  ASSERT_TRUE(peer.wait_for_messages(before + 1));
  EXPECT_EQ(peer.messages()[before]["method"].asString(), "authenticate");
  EXPECT_GT(peer.messages()[before]["id"].asInt(), 4) << "request ids keep rising across connections";
}

TEST_F(ServiceSession, RequestsOfAnEarlierConnectionDoNothingOnTheNextOne) {
  session->start();
  ASSERT_TRUE(peer.wait_for_messages(1));
  peer.answer(1, 0);
  ASSERT_TRUE(peer.wait_for_messages(3));
  // "attributes" is outstanding when the connection closes: its status 10 must not send "observe" on the
  // next connection before that one has authenticated.
  peer.drop();
  ASSERT_TRUE(peer.wait_for_connections(2));
  ASSERT_TRUE(peer.wait_for_messages(4));
  ASSERT_TRUE(peer.settle());
  ASSERT_EQ(peer.messages().size(), 4u);
  EXPECT_EQ(peer.messages()[3]["method"].asString(), "authenticate");
  peer.answer(peer.messages()[3]["id"], 0);
  ASSERT_TRUE(peer.wait_for_messages(6));
  peer.answer(peer.messages()[4]["id"], 0);
  peer.answer(peer.messages()[5]["id"], 0, Json::Value(Json::objectValue));
  ASSERT_TRUE(peer.wait_for_messages(7));
  EXPECT_EQ(peer.messages()[6]["method"].asString(), "observe");
  peer.answer(peer.messages()[6]["id"], 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !session->connecting(); }, testing::console_bound_ms));
}

TEST(ServiceSessionPort, TheEnvironmentOverridesPort6631) {
  struct port_case {
    const char* value;  // null: unset
    uint16_t want;
  };
  const port_case cases[] = {
      {nullptr, 6631}, {"7000", 7000}, {"65535", 65535}, {"0", 6631},
      {"65536", 6631}, {"70x", 6631},  {"", 6631},
  };
  for (const port_case& c : cases) {
    const testing_support::scoped_environment port(
        "QUORVANE_SERVICE_PORT", c.value ? std::optional<std::string>(c.value) : std::nullopt);
    EXPECT_EQ(service_port(), c.want) << (c.value ? c.value : "unset");
  }
}

// A session whose service is not running: nothing listens on its port.
class ServiceSessionDown : public ::testing::Test {
 protected:
  testing::console_test_env env;
  qt_runloop loop;
  const testing_support::runloop_guard main_loop{loop};
  const uint16_t port = testing::closed_port();
  printer_list_model rows;
  printer_list_controller list{rows, nullptr, {}, {}};
  service_session session{list, port};
};

TEST_F(ServiceSessionDown, AFailedAttemptArmsTimerOneAt3000Ms) {
  session.start();
  EXPECT_TRUE(session.connecting());
  EXPECT_TRUE(session.retry_pending());
  EXPECT_EQ(session.retry_interval_ms(), 3000);
  EXPECT_FALSE(session.stub().connected());
}

TEST_F(ServiceSessionDown, FailedAttemptsAreCountedInARowAndAConnectStartsTheCountAgain) {
  std::vector<int> told;
  session.on_attempt_failed([&](int failed) { told.push_back(failed); });
  session.start();
  session.attempt();
  session.attempt();
  EXPECT_EQ(told, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(session.failed_attempts(), 3);
  EXPECT_TRUE(session.retry_pending()) << "the session keeps trying";

  // The service comes up on that port: the next attempt connects and the count starts again.
  testing::scripted_peer service(port);
  if (service.port() != port) GTEST_SKIP() << "another program took port " << port << " meanwhile";
  session.attempt();
  EXPECT_EQ(session.failed_attempts(), 0);
  EXPECT_EQ(told.size(), 3u);
}

}  // namespace
}  // namespace quorvane
