// The service offers a real CUPS queue (a virtual IPP printer on the machine's cupsd, started by the
// cups-test-env fixture) as a printer of its own.
#include <gtest/gtest.h>

#include <sys/fsuid.h>
#include <unistd.h>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>

#include "console_peer.h"
#include "net/tests/other_account.h"
#include "print_service/service_error.h"
#include "private_cupsd.h"
#include "service_process.h"
#include "test_support/runloop_guard.h"

namespace quorvane::print_service::testing {
namespace {

using namespace std::chrono_literals;

// Connects `console` to the service on `port`, authenticates and observes; true once the first printer list
// has arrived.
bool observe(console_peer& console, poll_runloop& loop, int port) {
  if (console.connect(port) != 0) return false;
  console.authenticate();
  console.observe(true);
  return loop.run_until([&] { return !console.record().updated.empty(); }, event_bound);
}

// The printers a console hears in its first list after observing.
std::vector<smart_ptr<model::printer>> first_list(poll_runloop& loop, int port) {
  console_peer console;
  if (!observe(console, loop, port)) return {};
  return console.record().updated.front();
}

// The tests on the shared scheduler of the cups-test-env fixture; skipped with its reason when there is none.
class CupsQueues : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = cups_test_environment();
    if (env_.count("QV_CUPS_AVAILABLE") == 0) GTEST_SKIP() << "QV_CUPS_ENV names no CUPS test environment";
    if (env_.at("QV_CUPS_AVAILABLE") != "1") {
      GTEST_SKIP() << "no CUPS test environment: "
                   << (env_.count("QV_CUPS_REASON") ? env_.at("QV_CUPS_REASON") : "");
    }
  }

  std::map<std::string, std::string> env_;
  temporary_folder root;
  poll_runloop loop;
  testing_support::runloop_guard main_loop{loop};
};

TEST_F(CupsQueues, AreOfferedAsPrintersWithAStableUuid) {
  const std::string queue = env_.at("QV_CUPS_QUEUE");
  service_process service(root.path() + "/data", {});
  ASSERT_TRUE(service.start()) << read_file(service.log_file());

  smart_ptr<model::printer> offered;
  for (const auto& p : first_list(loop, service.port())) {
    if (p->name().narrow() == queue) offered = p;
  }
  ASSERT_TRUE(offered) << "queue " << queue << " not offered\n" << read_file(service.log_file());
  EXPECT_EQ(offered->action(), 2);
  EXPECT_TRUE(offered->autoCreated());
  EXPECT_TRUE(offered->exists());
  EXPECT_EQ(offered->uuid().size(), 36u);
  EXPECT_FALSE(offered->displayName().empty());
  EXPECT_FALSE(offered->make().empty()) << "make and model come from the queue's driver";
  const auto& formats = offered->formats();
  EXPECT_NE(std::find(formats.begin(), formats.end(), "application/pdf"), formats.end());
  ASSERT_FALSE(offered->media().empty());
  for (const auto& m : offered->media()) {
    EXPECT_NE(m->name().find('_'), std::string::npos) << "not a PWG media name: " << m->name();
    EXPECT_GT(m->width(), 0) << m->name();
  }

  // After a restart the same queue is the same printer.
  EXPECT_EQ(service.stop(), 0);
  ASSERT_TRUE(service.start()) << read_file(service.log_file());
  std::string uuid_again;
  for (const auto& p : first_list(loop, service.port())) {
    if (p->name().narrow() == queue) uuid_again = p->uuid();
  }
  EXPECT_EQ(uuid_again, offered->uuid());
  EXPECT_EQ(service.stop(), 0);
}

// How long a change of a CUPS queue may take to reach an observing console. The service asks the scheduler
// for events every second and then reads the queues, so a change arrives within a second or two (the test
// prints how long each took); the rest is room for a heavily loaded machine, where the scheduler, the
// service and this test all wait for a core.
constexpr auto change_bound = event_bound;

// The printer named `queue` in a list, or null.
smart_ptr<model::printer> named(const std::vector<smart_ptr<model::printer>>& list,
                                const std::string& queue) {
  for (const auto& p : list) {
    if (p->name().narrow() == queue) return p;
  }
  return {};
}

// Runs the loop until a list that arrives after `seen` lists satisfies `wanted`; how long that took, or -1.
long long wait_for_list(poll_runloop& loop, const std::vector<std::vector<smart_ptr<model::printer>>>& lists,
                        size_t seen,
                        const std::function<bool(const std::vector<smart_ptr<model::printer>>&)>& wanted) {
  const auto start = std::chrono::steady_clock::now();
  const bool found = loop.run_until(
      [&] {
        for (size_t i = seen; i < lists.size(); ++i) {
          if (wanted(lists[i])) return true;
        }
        return false;
      },
      change_bound);
  if (!found) return -1;
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
      .count();
}

// Runs a CUPS tool against the scheduler the test environment uses; its output goes to `output`.
int cups_tool(const std::vector<std::string>& argv, const std::string& output) {
  return run_cups_tool(argv, {}, output);
}

TEST_F(CupsQueues, LpadminChangesReachAnObservingConsoleWithinSeconds) {
  service_process service(root.path() + "/data", {});
  ASSERT_TRUE(service.start()) << read_file(service.log_file());
  console_peer console;
  ASSERT_TRUE(observe(console, loop, service.port()));

  // A queue of this test's own on the shared scheduler, removed again whatever happens. It points at a
  // printer that does not exist: nothing is printed on it.
  const std::string queue = "quorvane-watch-" + std::to_string(getpid());
  const std::string tool_output = root.path() + "/tool.out";
  struct remove_queue {
    std::string name, output;
    ~remove_queue() { cups_tool({"lpadmin", "-x", name}, output); }
  } cleanup{queue, tool_output};

  const auto& updated = console.record().updated;
  std::string uuid;
  struct step {
    const char* name;
    std::vector<std::string> command;
    std::function<bool(const smart_ptr<model::printer>&)> seen;
  } steps[] = {
      {"added",
       {"lpadmin", "-p", queue, "-E", "-v", "ipp://127.0.0.1:9/ipp/print", "-D", "Front desk", "-L", "Hall"},
       [](const smart_ptr<model::printer>& p) {
         return p->displayName() == "Front desk" && p->location().narrow() == "Hall" && p->state() == 3;
       }},
      {"description and location changed",
       {"lpadmin", "-p", queue, "-D", "Back office", "-L", "Room 9"},
       [](const smart_ptr<model::printer>& p) {
         return p->displayName() == "Back office" && p->location().narrow() == "Room 9";
       }},
      {"stopped", {"cupsdisable", queue}, [](const smart_ptr<model::printer>& p) { return p->state() == 5; }},
      {"idle again",
       {"cupsenable", queue},
       [](const smart_ptr<model::printer>& p) { return p->state() == 3; }},
  };
  for (const step& s : steps) {
    const size_t seen = updated.size();
    ASSERT_EQ(cups_tool(s.command, tool_output), 0) << s.name << ": " << read_file(tool_output);
    const long long took = wait_for_list(loop, updated, seen, [&](const auto& list) {
      const smart_ptr<model::printer> p = named(list, queue);
      if (p && uuid.empty()) uuid = p->uuid();
      return p && p->uuid() == uuid && s.seen(p);
    });
    ASSERT_GE(took, 0) << s.name << ": no printersWereUpdated within " << change_bound.count() << " s\n"
                       << read_file(service.log_file());
    std::cout << s.name << ": heard after " << took << " ms\n";
  }

  const size_t removals = console.record().removed.size();
  ASSERT_EQ(cups_tool({"lpadmin", "-x", queue}, tool_output), 0) << read_file(tool_output);
  const long long took = wait_for_list(loop, console.record().removed, removals, [&](const auto& list) {
    const smart_ptr<model::printer> p = named(list, queue);
    return p && p->uuid() == uuid;
  });
  ASSERT_GE(took, 0) << "no printersWereRemoved within " << change_bound.count() << " s";
  std::cout << "removed: heard after " << took << " ms\n";
  EXPECT_EQ(service.stop(), 0);
}

// The shared scheduler serves other tests at the same time: this one stops and starts a scheduler of its own.
// A phone prints on the office printer while nobody is logged in: the computer's service prints a job for a
// CUPS printer itself, on the virtual IPP printer's queue, with the device's user as the CUPS job's owner.
TEST_F(CupsQueues, TheComputersServicePrintsOnThemWithNoConsoleConnected) {
  const std::string queue = env_.at("QV_CUPS_QUEUE");
  service_process service(root.path() + "/data", {});
  service.set_extra_arguments({"--system"});
  ASSERT_TRUE(service.start()) << read_file(service.log_file());
  const std::string pdf = root.path() + "/report.pdf";
  ASSERT_TRUE(write_file(pdf, one_page_pdf()));
  child_process submit;
  ASSERT_TRUE(submit.spawn({service_binary(), "submit", "--port", std::to_string(service.port()), "--printer",
                            queue, "--user", "phone-user", "--wait", pdf},
                           {}, root.path() + "/submit.out"));
  ASSERT_TRUE(submit.wait(2 * event_bound_ms)) << "the job did not end without a console\n"
                                               << read_file(service.log_file());
  const std::string said = read_file(root.path() + "/submit.out");
  ASSERT_EQ(submit.exit_status(), 0) << said << read_file(service.log_file());
  const size_t id_at = said.find("job id ");
  ASSERT_NE(id_at, std::string::npos) << said;
  const std::string cups_job = queue + "-" + std::to_string(std::atoi(said.c_str() + id_at + 7));
  EXPECT_EQ(service.stop(), 0);

  const std::string listed = root.path() + "/lpstat.out";
  ASSERT_EQ(run_cups_tool({"lpstat", "-W", "all", "-o", queue}, {}, listed), 0) << read_file(listed);
  const std::string jobs = read_file(listed);
  const size_t line = jobs.find(cups_job + " ");
  ASSERT_NE(line, std::string::npos) << "no CUPS job " << cups_job << " in:\n" << jobs;
  EXPECT_EQ(jobs.compare(jobs.find_first_not_of(' ', line + cups_job.size()), 10, "phone-user"), 0)
      << "not the device's user:\n"
      << jobs;
}

// On the computer's service the CUPS queues are everyone's to see and only an administrator's to change.
TEST_F(CupsQueues, OnTheComputersServiceEveryAccountSeesThemAndOnlyAnAdministratorChangesThem) {
  quorvane::testing::other_account user("cupsuser");
  if (!user.made()) GTEST_SKIP() << user.why_not();
  const std::string queue = env_.at("QV_CUPS_QUEUE");
  service_process service(root.path() + "/data", {});
  service.set_extra_arguments({"--system"});
  ASSERT_TRUE(service.start()) << read_file(service.log_file());

  // The user's console (its socket made under the user's file system id) and root's.
  std::unique_ptr<console_peer> theirs;
  {
    const uid_t before = static_cast<uid_t>(setfsuid(user.uid()));
    theirs = std::make_unique<console_peer>();
    setfsuid(before);
  }
  console_peer roots;
  ASSERT_TRUE(observe(*theirs, loop, service.port()));
  ASSERT_TRUE(observe(roots, loop, service.port()));
  smart_ptr<model::printer> offered;
  for (const auto& p : theirs->record().updated.front()) {
    if (p->name().narrow() == queue) offered = p;
  }
  ASSERT_TRUE(offered) << "the user's console does not see queue " << queue;

  // A change of the queue's description: refused for the user, taken from root.
  offered->setDisplayName(std::string("Renamed by its user"));
  std::vector<int32_t> statuses;
  theirs->stub().updatePrinter(offered, [&](int32_t status) { statuses.push_back(status); });
  ASSERT_TRUE(loop.run_until([&] { return !statuses.empty(); }, event_bound));
  EXPECT_EQ(statuses, std::vector<int32_t>{error_not_permitted}) << "the user changed a CUPS printer";
  offered->setDisplayName(std::string("Renamed by root"));
  roots.stub().updatePrinter(offered, [&](int32_t status) { statuses.push_back(status); });
  ASSERT_TRUE(loop.run_until([&] { return statuses.size() == 2; }, event_bound));
  EXPECT_EQ(statuses.back(), 0) << "root may change a CUPS printer";
  theirs->stub().handle_close();
  roots.stub().handle_close();
  EXPECT_EQ(service.stop(), 0);
}

TEST(CupsScheduler, StoppedAndStartedAgainTheServiceGoesOnAndOffersItsQueuesAgain) {
  temporary_folder root;
  private_cupsd cupsd(root.path() + "/cupsd");
  if (!cupsd.start()) GTEST_SKIP() << "no private cupsd: " << cupsd.reason();
  ASSERT_EQ(cupsd.run_tool({"lpadmin", "-p", "qv-comes-back", "-E", "-v", "file:///dev/null"}), 0);

  poll_runloop loop;
  const testing_support::runloop_guard main_loop(loop);
  service_process service(root.path() + "/data", {"CUPS_SERVER=" + cupsd.server()});
  ASSERT_TRUE(service.start()) << read_file(service.log_file());
  console_peer console;
  ASSERT_TRUE(observe(console, loop, service.port()));
  const smart_ptr<model::printer> offered = named(console.record().updated.front(), "qv-comes-back");
  ASSERT_TRUE(offered) << read_file(service.log_file());

  cupsd.stop();
  EXPECT_GE(wait_for_list(loop, console.record().removed, 0,
                          [&](const auto& list) {
                            const auto p = named(list, "qv-comes-back");
                            return p && p->uuid() == offered->uuid();
                          }),
            0)
      << "the queue was still offered with CUPS stopped";
  // The service goes on answering while it tries to reach CUPS again, and says so once.
  loop.run_until([] { return false; }, 5s);
  auto attributes = console.attributes();
  ASSERT_TRUE(loop.run_until([&] { return !attributes->statuses.empty(); }, event_bound));
  EXPECT_EQ(attributes->statuses, std::vector<int32_t>{0});
  const std::string log = read_file(service.log_file());
  size_t outages = 0;
  for (size_t at = log.find("Unable to reach CUPS"); at != std::string::npos;
       at = log.find("Unable to reach CUPS", at + 1)) {
    ++outages;
  }
  EXPECT_EQ(outages, 1u) << log;

  const size_t lists = console.record().updated.size();
  ASSERT_TRUE(cupsd.start()) << cupsd.reason();
  EXPECT_GE(wait_for_list(loop, console.record().updated, lists,
                          [&](const auto& list) {
                            const auto p = named(list, "qv-comes-back");
                            return p && p->uuid() == offered->uuid();
                          }),
            0)
      << "the queue was not offered again\n"
      << read_file(service.log_file());
  EXPECT_EQ(service.stop(), 0);
}

// A service that starts while CUPS is down used to end the jobs queued for CUPS queues as if those queues
// were gone; they wait for CUPS instead.
TEST(CupsScheduler, JobsForAQueueWaitWhileCupsIsDownAndGoOutWhenItIsBack) {
  temporary_folder root;
  private_cupsd cupsd(root.path() + "/cupsd");
  if (!cupsd.start()) GTEST_SKIP() << "no private cupsd: " << cupsd.reason();
  ASSERT_EQ(cupsd.run_tool({"lpadmin", "-p", "qv-waits", "-E", "-v", "file:///dev/null"}), 0);

  poll_runloop loop;
  const testing_support::runloop_guard main_loop(loop);
  service_process service(root.path() + "/data", {"CUPS_SERVER=" + cupsd.server()});
  ASSERT_TRUE(service.start()) << read_file(service.log_file());
  const std::string pdf = root.path() + "/w.pdf";
  ASSERT_TRUE(write_file(pdf, "%PDF-1.4"));
  child_process submit;
  ASSERT_TRUE(submit.spawn(
      {service_binary(), "submit", "--port", std::to_string(service.port()), "--printer", "qv-waits", pdf},
      {}, root.path() + "/submit.out"));
  ASSERT_TRUE(submit.wait(event_bound_ms));
  ASSERT_EQ(submit.exit_status(), 0) << read_file(root.path() + "/submit.out");
  EXPECT_EQ(service.stop(), 0);

  cupsd.stop();
  ASSERT_TRUE(service.start(service.port())) << read_file(service.log_file());
  console_peer console;
  ASSERT_TRUE(observe(console, loop, service.port()));
  loop.run_until([] { return false; }, 3s);
  EXPECT_TRUE(console.record().prints.empty()) << "the job went out to a queue CUPS cannot take";

  ASSERT_TRUE(cupsd.start()) << cupsd.reason();
  ASSERT_TRUE(loop.run_until([&] { return !console.record().prints.empty(); }, event_bound))
      << "the job did not go out when CUPS came back\n"
      << read_file(service.log_file());
  EXPECT_EQ(console.record().prints[0].printer->name().narrow(), "qv-waits");
  console.record().prints[0].completion(0, 9, 0);
  EXPECT_EQ(service.stop(), 0);
}

}  // namespace
}  // namespace quorvane::print_service::testing
