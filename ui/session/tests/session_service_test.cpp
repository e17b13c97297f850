// The console's session against the real quorvane-service on a free port with a data folder of its own.
#include <QDir>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "service_process.h"
#include "spooler/spooler.h"
#include "ui/base/qt_runloop.h"
#include "ui/session/service_session.h"
#include "ui/test_support/console_test_env.h"
#include "ui/test_support/scripted_peer.h"

namespace quorvane {
namespace {

using print_service::testing::child_process;
using print_service::testing::read_file;
using print_service::testing::service_process;
using print_service::testing::temporary_folder;
using print_service::testing::write_file;

// No CUPS queue may join the printers the test counts.
const std::vector<std::string> no_cups = {"CUPS_SERVER=/nonexistent/quorvane-test/cups.sock"};

class SessionWithService : public ::testing::Test {
 protected:
  SessionWithService() : service(service_root.path() + "/service", no_cups) {
    set_main_runloop(&loop);
    // The HOME of one test program is shared by its tests: each starts with an empty Dropbox folder.
    std::filesystem::remove_all(env.home() + "/Dropbox");
    QDir().mkpath(QString::fromStdString(env.home() + "/Dropbox"));
  }
  ~SessionWithService() override {
    session.reset();
    service.stop();
    set_main_runloop(nullptr);
  }

  void open_session(uint16_t port) {
    session = std::make_unique<service_session>(list, port);
    session->on_view_changed([this](bool connected) {
      views.push_back(connected);
      if (connected) rows_when_connected = rows.rowCount();
    });
    session->start();
  }
  bool wait_connected(int timeout_ms = print_service::testing::event_bound_ms) {
    return QTest::qWaitFor([&] { return !session->connecting(); }, timeout_ms);
  }
  bool wait_rows(int count, int timeout_ms = print_service::testing::event_bound_ms) {
    return QTest::qWaitFor([&] { return rows.rowCount() == count; }, timeout_ms);
  }

  testing::console_test_env env;
  qt_runloop loop;
  temporary_folder service_root;  // each test's service starts without the printers of an earlier one
  service_process service;
  printer_list_model rows;
  printer_list_controller list{rows, nullptr, {}, {}};
  std::unique_ptr<service_session> session;
  std::vector<bool> views;
  int rows_when_connected = -1;
};

// Submits `document` to the Dropbox printer with --wait and the given extra options.
bool spawn_submit(child_process& submit, int port, const std::string& document, const std::string& output,
                  const std::vector<std::string>& options = {}) {
  std::vector<std::string> argv = {print_service::testing::service_binary(),
                                   "submit",
                                   "--port",
                                   std::to_string(port),
                                   "--printer",
                                   "send_to_dropbox",
                                   "--wait"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(document);
  return submit.spawn(argv, no_cups, output);
}

// The names of the files in `folder`, sorted.
std::vector<std::string> file_names(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The number of times `text` occurs in `haystack`.
int occurrences(const std::string& haystack, const std::string& text) {
  int count = 0;
  for (size_t at = haystack.find(text); at != std::string::npos; at = haystack.find(text, at + text.size())) {
    ++count;
  }
  return count;
}

// A positive number from the environment variable `name`, else `fallback`.
unsigned environment_number(const char* name, unsigned fallback) {
  const char* text = std::getenv(name);
  const unsigned long value = text ? std::strtoul(text, nullptr, 10) : 0;
  return value > 0 ? static_cast<unsigned>(value) : fallback;
}

TEST_F(SessionWithService, ConnectsOnceTheServiceStartsAndTheFirstRunsPrintersComeBackFromIt) {
  const uint16_t port = testing::closed_port();
  open_session(port);
  EXPECT_TRUE(session->connecting()) << "the service is not running yet";
  EXPECT_TRUE(session->retry_pending());
  ASSERT_TRUE(service.start(port)) << read_file(service.log_file());
  ASSERT_TRUE(wait_connected()) << "timer 1 retries every 3000 ms";
  EXPECT_EQ(rows_when_connected, 0) << "printers appear only when the service reports them";
  // How phones reach the printers, as the service told it: this run's IPP port, loopback only, not
  // advertised.
  EXPECT_EQ(session->ipp().port, service.ipp_port());
  EXPECT_TRUE(session->ipp().loopback_only);
  EXPECT_FALSE(session->ipp().dnssd);
  EXPECT_EQ(testing::stored_printer_count(), 2)
      << "open_on_my_pc, and send_to_dropbox since ~/Dropbox exists";
  ASSERT_TRUE(wait_rows(2));
  EXPECT_EQ(rows.shown_text(0), "Open On My PC @ " + host_name().narrow());
  EXPECT_EQ(rows.shown_text(1), "Send To Dropbox @ " + host_name().narrow());
  EXPECT_EQ(rows.printer_at(1)->directory().narrow(), env.home() + "/Dropbox/Quorvane");
  EXPECT_EQ(QSettings("Tessaly Software", "Quorvane").value("Preferences/SetupPrinters").toInt(), 0);

  // A second run (a new session with the same data) creates nothing and shows the same printers.
  session.reset();
  rows.clear();
  open_session(static_cast<uint16_t>(service.port()));
  ASSERT_TRUE(wait_connected());
  ASSERT_TRUE(wait_rows(2));
  EXPECT_EQ(testing::stored_printer_count(), 2);
}

TEST_F(SessionWithService, AServiceRestartEmptiesTheListAndTheSessionComesBack) {
  ASSERT_TRUE(service.start(0)) << read_file(service.log_file());
  open_session(static_cast<uint16_t>(service.port()));
  ASSERT_TRUE(wait_connected());
  ASSERT_TRUE(wait_rows(2));
  const int port = service.port();
  service.stop();
  ASSERT_TRUE(QTest::qWaitFor([&] { return session->connecting(); }, print_service::testing::event_bound_ms));
  EXPECT_EQ(rows.rowCount(), 0);
  ASSERT_TRUE(service.start(port)) << read_file(service.log_file());
  ASSERT_TRUE(wait_connected());
  ASSERT_TRUE(wait_rows(2));
  EXPECT_EQ(views, (std::vector<bool>{false, true, false, true}));
}

TEST_F(SessionWithService, APrintForAKeepInFolderPrinterCopiesTheFileAndIsAnswered) {
  ASSERT_TRUE(service.start(0)) << read_file(service.log_file());
  open_session(static_cast<uint16_t>(service.port()));
  ASSERT_TRUE(wait_connected());
  ASSERT_TRUE(wait_rows(2));
  const std::string document = env.root() + "/report.pdf";
  ASSERT_TRUE(write_file(document, "%PDF-1.4\n%test\n"));

  child_process submit;
  const std::string output = env.root() + "/submit.txt";
  ASSERT_TRUE(
      submit.spawn({print_service::testing::service_binary(), "submit", "--port",
                    std::to_string(service.port()), "--printer", "send_to_dropbox", "--wait", document},
                   no_cups, output));
  ASSERT_TRUE(QTest::qWaitFor([&] { return submit.finished(); }, print_service::testing::event_bound_ms))
      << read_file(output);
  EXPECT_EQ(submit.exit_status(), 0) << read_file(output);
  EXPECT_NE(read_file(output).find("status 0, state 9, job id 0"), std::string::npos) << read_file(output);
  EXPECT_EQ(read_file(env.home() + "/Dropbox/Quorvane/report.pdf"), "%PDF-1.4\n%test\n");
}

// Where a round's kill of the service falls, all while its job is out.
enum kill_point : int {
  kill_before_delivery,  // the "print" arrived; nothing is copied yet
  kill_after_delivery,   // the copy is made; the answer is not sent yet
  kill_after_answer,     // the answer has just been written; the service has not stored the job's end
  kill_a_little_later,   // some loop turns after the answer: the service may have stored the end or not
  kill_points
};

// The service is killed (SIGKILL) once per job at a random point of its delivery, restarted, and goes on.
// Every job must end with status 0 and be copied exactly once. QUORVANE_KILL_ROUNDS sets the number of
// jobs and kills (10 by default; scripts/kill-proof.sh runs 100) and QUORVANE_KILL_SEED the random points.
TEST_F(SessionWithService, ServiceKillsWhileJobsAreOutLeaveEveryJobDeliveredExactlyOnce) {
  const unsigned rounds = environment_number("QUORVANE_KILL_ROUNDS", 10);
  const unsigned seed = environment_number("QUORVANE_KILL_SEED", std::random_device()());
  SCOPED_TRACE("QUORVANE_KILL_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  service.set_log_level(3);  // every hand-over of a job to the console is logged, nothing more
  ASSERT_TRUE(service.start(0)) << read_file(service.log_file());
  const int port = service.port();
  open_session(static_cast<uint16_t>(port));
  ASSERT_TRUE(wait_connected());
  ASSERT_TRUE(wait_rows(2));

  QObject guard;  // cancels a kill still scheduled when the test ends
  kill_point point = kill_before_delivery;
  int turns = 0;
  bool armed = false;
  bool killed = false;
  std::map<kill_point, int> kills_at;
  auto kill = [&] {
    if (!armed) return;
    armed = false;
    service.kill_now();
    killed = true;
    ++kills_at[point];
  };
  std::function<void(int)> kill_after_turns = [&](int left) {
    if (left == 0) return kill();
    QTimer::singleShot(0, &guard, [&, left] { kill_after_turns(left - 1); });
  };
  // The console's own delivery (the spooler's copy into the printer's folder), with the kill at its point.
  std::map<std::string, int> deliveries;  // by document name
  session->set_print_function([&](model::printer_ptr printer, model::job_ptr job, print_completion done) {
    ++deliveries[std::filesystem::path(job->filename().narrow()).filename().string()];
    if (point == kill_before_delivery) kill();
    spooler::shared().print(printer, job, [&, done](int32_t status, int32_t state, int32_t platform_job_id) {
      if (point == kill_after_delivery) kill();
      done(status, state, platform_job_id);
      if (point == kill_after_answer) kill();
      if (point == kill_a_little_later) kill_after_turns(turns);
    });
  });

  const std::string folder = env.home() + "/Dropbox/Quorvane";
  std::vector<std::string> expected_names;
  int failed_ends = 0;
  for (unsigned round = 0; round < rounds; ++round) {
    const std::string name = "job-" + std::to_string(round) + ".pdf";
    expected_names.push_back(name);
    const std::string document = service_root.path() + "/" + name;
    ASSERT_TRUE(write_file(document, "%PDF-1.4\n%" + name + "\n"));
    point = static_cast<kill_point>(random() % kill_points);
    turns = static_cast<int>(random() % 20);
    armed = true;
    killed = false;
    child_process submit;
    const std::string output = service_root.path() + "/submit-" + std::to_string(round) + ".txt";
    ASSERT_TRUE(spawn_submit(submit, port, document, output));
    ASSERT_TRUE(QTest::qWaitFor([&] { return killed; }, print_service::testing::event_bound_ms))
        << "round " << round << ": the job never reached the console\n"
        << read_file(output);
    ASSERT_TRUE(service.start(port)) << read_file(service.log_file());
    // The session may have seen the close and be waiting for its 3 s retry: it tries at once instead.
    session->attempt();
    ASSERT_TRUE(QTest::qWaitFor([&] { return submit.finished(); }, print_service::testing::event_bound_ms))
        << "round " << round << ", kill point " << point << ": " << read_file(output) << "\n"
        << read_file(service.log_file());
    const std::string said = read_file(output);
    if (submit.exit_status() != 0 || said.find("status 0, state 9") == std::string::npos) {
      ++failed_ends;
      ADD_FAILURE() << "round " << round << ", kill point " << point << ": " << said;
    }
  }

  const std::vector<std::string> names = file_names(folder);
  int lost = 0;
  for (const std::string& name : expected_names) {
    if (std::count(names.begin(), names.end(), name) == 0) ++lost;
    if (read_file(folder + "/" + name) != "%PDF-1.4\n%" + name + "\n") ADD_FAILURE() << name << " differs";
  }
  const int duplicates = static_cast<int>(names.size()) - (static_cast<int>(expected_names.size()) - lost);
  const int handed = occurrences(read_file(service.log_file()), "handed to");
  int delivered = 0;
  for (const auto& entry : deliveries) delivered += entry.second;
  std::printf(
      "kills %u (before delivery %d, after delivery %d, after the answer %d, a little later %d); "
      "jobs %u; handed to the console %d times; delivered %d times; duplicate files %d; lost %d; jobs "
      "not ended with status 0: %d; seed %u\n",
      rounds, kills_at[kill_before_delivery], kills_at[kill_after_delivery], kills_at[kill_after_answer],
      kills_at[kill_a_little_later], rounds, handed, delivered, duplicates, lost, failed_ends, seed);
  std::sort(expected_names.begin(), expected_names.end());
  EXPECT_EQ(names, expected_names) << "every job's file once, nothing else";
  for (const auto& [name, count] : deliveries) EXPECT_EQ(count, 1) << name << " was delivered again";
  EXPECT_EQ(deliveries.size(), rounds);
}

// A legal 250-character file name by a 300-character user with every name flag on makes a spool name
// beyond 255 bytes: the job still arrives, under a name cut short within the user's name.
TEST_F(SessionWithService, ALongFileAndUserNameWithEveryNameFlagAreDeliveredUnderAShortenedName) {
  ASSERT_TRUE(service.start(0)) << read_file(service.log_file());
  open_session(static_cast<uint16_t>(service.port()));
  ASSERT_TRUE(wait_connected());
  ASSERT_TRUE(wait_rows(2));
  Json::Value flags(Json::objectValue);
  flags["filenameGenerationFlags"] = 7;  // user, device address and hardware address join the name
  int saved = -1;
  session->saveAttributes(flags, [&](int32_t status) { saved = status; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return saved != -1; }, print_service::testing::event_bound_ms));
  ASSERT_EQ(saved, 0);

  // 243 + 3 + 4 characters, 253 bytes: "äöü" take two bytes each.
  const std::string stem = std::string(243, 'a') + "\xc3\xa4\xc3\xb6\xc3\xbc";
  const std::string document = service_root.path() + "/" + stem + ".pdf";
  ASSERT_TRUE(write_file(document, "%PDF-1.4\n%long\n"));
  std::string user;
  for (int i = 0; i < 300; ++i) user += "\xc3\xbc";  // 300 characters, 600 bytes
  child_process submit;
  const std::string output = service_root.path() + "/submit.txt";
  ASSERT_TRUE(spawn_submit(submit, service.port(), document, output, {"--user", user}));
  ASSERT_TRUE(QTest::qWaitFor([&] { return submit.finished(); }, print_service::testing::event_bound_ms))
      << read_file(output);
  EXPECT_EQ(submit.exit_status(), 0) << read_file(output);
  EXPECT_NE(read_file(output).find("status 0, state 9"), std::string::npos) << read_file(output);

  const std::string folder = env.home() + "/Dropbox/Quorvane";
  const std::vector<std::string> names = file_names(folder);
  ASSERT_EQ(names.size(), 1u);
  const std::string& name = names[0];
  EXPECT_LE(name.size(), 255u);
  EXPECT_EQ(name.substr(0, stem.size() + 1), stem + "+") << "the document's name, then the user's";
  EXPECT_EQ(name.substr(name.size() - 4), ".pdf") << "the extension stays";
  EXPECT_EQ(QString::fromUtf8(name.c_str()).toUtf8().toStdString(), name) << "no half character";
  EXPECT_EQ(read_file(folder + "/" + name), "%PDF-1.4\n%long\n");
}

}  // namespace
}  // namespace quorvane
