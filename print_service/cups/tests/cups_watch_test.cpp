// The CUPS watch against a real scheduler of the test's own (stopped and started at will, or refusing
// subscriptions), changed with the real lpadmin, cupsdisable and cupsenable.
#include "print_service/cups/cups_watch.h"

#include <cups/cups.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include <unistd.h>

#include "net/poll_runloop.h"
#include "print_service/cups/cups_printers.h"
#include "private_cupsd.h"
#include "service_process.h"

namespace quorvane::print_service::testing {
namespace {

using namespace std::chrono_literals;

// How long a change may take to reach the watcher: one fetch interval, the reading of every queue and
// the run loop's turn (a second or two), with room for a heavily loaded machine.
constexpr auto change_bound = event_bound;

struct report {
  bool reachable;
  std::vector<cups_queue> queues;
};

std::optional<cups_queue> queue_named(const report& r, const std::string& name) {
  for (const cups_queue& q : r.queues) {
    if (q.name == name) return q;
  }
  return std::nullopt;
}

class CupsWatch : public ::testing::Test {
 protected:
  void start_scheduler(bool refuse_subscriptions) {
    ASSERT_FALSE(root_.path().empty());
    cupsd_ = std::make_unique<private_cupsd>(root_.path() + "/cupsd", refuse_subscriptions);
    if (!cupsd_->start()) GTEST_SKIP() << "no private cupsd: " << cupsd_->reason();
    // The watcher's thread asks libcups, which reads the server from the environment.
    setenv("CUPS_SERVER", cupsd_->server().c_str(), 1);
  }
  void start_watch(cups_watch_timing timing = {}) {
    watch_ = std::make_unique<cups_watch>(
        loop_,
        [this](bool reachable, std::vector<cups_queue> queues) {
          reports_.push_back({reachable, std::move(queues)});
        },
        timing);
    ASSERT_TRUE(watch_->start(/*reachable=*/true));
  }
  void TearDown() override {
    if (watch_) watch_->stop();
    if (HasFailure() && cupsd_) std::cerr << read_file(root_.path() + "/cupsd/log/error_log");
  }

  // Runs the loop until the newest report satisfies `wanted`; returns how long that took, or none.
  std::optional<std::chrono::milliseconds> wait_for(const std::function<bool(const report&)>& wanted,
                                                    std::chrono::milliseconds limit = change_bound) {
    const auto start = std::chrono::steady_clock::now();
    const bool seen = loop_.run_until([&] { return !reports_.empty() && wanted(reports_.back()); }, limit);
    if (!seen) return std::nullopt;
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  }

  int tool(const std::vector<std::string>& argv) {
    std::string output;
    const int status = cupsd_->run_tool(argv, &output);
    EXPECT_EQ(status, 0) << argv[0] << ": " << output;
    return status;
  }

  temporary_folder root_;
  poll_runloop loop_;
  std::unique_ptr<private_cupsd> cupsd_;
  std::unique_ptr<cups_watch> watch_;
  std::vector<report> reports_;
};

TEST_F(CupsWatch, QueueChangesReachItThroughTheSubscription) {
  start_scheduler(/*refuse_subscriptions=*/false);
  start_watch();
  ASSERT_TRUE(wait_for([](const report& r) { return r.reachable; })) << "no first reading";
  EXPECT_EQ(watch_->mode(), cups_watch_mode::subscription);

  const std::string q = "qv-watch";
  struct step {
    const char* name;
    std::vector<std::string> command;
    std::function<bool(const report&)> seen;
  } steps[] = {
      {"added",
       {"lpadmin", "-p", q, "-E", "-v", "file:///dev/null", "-D", "Front desk", "-L", "Hall"},
       [&](const report& r) {
         auto got = queue_named(r, q);
         return got && got->info == "Front desk" && got->location == "Hall" && got->state == 3;
       }},
      {"description and location changed",
       {"lpadmin", "-p", q, "-D", "Back office", "-L", "Room 9"},
       [&](const report& r) {
         auto got = queue_named(r, q);
         return got && got->info == "Back office" && got->location == "Room 9";
       }},
      {"stopped",
       {"cupsdisable", q},
       [&](const report& r) {
         auto got = queue_named(r, q);
         return got && got->state == 5;
       }},
      {"idle again",
       {"cupsenable", q},
       [&](const report& r) {
         auto got = queue_named(r, q);
         return got && got->state == 3;
       }},
      {"removed", {"lpadmin", "-x", q}, [&](const report& r) { return r.reachable && !queue_named(r, q); }},
  };
  for (const step& s : steps) {
    ASSERT_EQ(tool(s.command), 0) << s.name;
    const auto took = wait_for(s.seen);
    ASSERT_TRUE(took) << s.name << ": not reported within " << change_bound.count() << " s";
    std::cout << s.name << ": reported after " << took->count() << " ms\n";
  }
  EXPECT_EQ(watch_->mode(), cups_watch_mode::subscription) << "never fell back to polling";
}

TEST_F(CupsWatch, ASchedulerThatStopsIsReportedOnceAndItsQueuesWhenBack) {
  start_scheduler(/*refuse_subscriptions=*/false);
  start_watch({/*fetch_interval=*/1000ms, /*poll_interval=*/5000ms, /*retry_interval=*/200ms, 300});
  ASSERT_TRUE(wait_for([](const report& r) { return r.reachable; }));
  ASSERT_EQ(tool({"lpadmin", "-p", "qv-kept", "-E", "-v", "file:///dev/null"}), 0);
  ASSERT_TRUE(wait_for([](const report& r) { return queue_named(r, "qv-kept").has_value(); }));

  cupsd_->stop();
  ASSERT_TRUE(wait_for([](const report& r) { return !r.reachable; })) << "the outage was not reported";
  // Many attempts fail meanwhile (every 200 ms); the outage is reported once.
  loop_.run_until([] { return false; }, 2s);
  size_t outages = 0;
  for (const report& r : reports_) outages += r.reachable ? 0 : 1;
  EXPECT_EQ(outages, 1u);
  EXPECT_EQ(watch_->mode(), cups_watch_mode::connecting);

  ASSERT_TRUE(cupsd_->start()) << cupsd_->reason();
  EXPECT_TRUE(wait_for([](const report& r) { return r.reachable && queue_named(r, "qv-kept").has_value(); }))
      << "the queues were not read again when the scheduler came back";
  // Back on a subscription: a change after the restart arrives too.
  ASSERT_EQ(tool({"lpadmin", "-p", "qv-kept", "-D", "After the restart"}), 0);
  EXPECT_TRUE(wait_for([](const report& r) {
    auto got = queue_named(r, "qv-kept");
    return got && got->info == "After the restart";
  }));
  EXPECT_EQ(watch_->mode(), cups_watch_mode::subscription);
}

TEST_F(CupsWatch, RefusedSubscriptionsFallBackToReadingTheQueuesAtAModestPace) {
  start_scheduler(/*refuse_subscriptions=*/true);
  start_watch({/*fetch_interval=*/1000ms, /*poll_interval=*/1000ms, /*retry_interval=*/200ms, 300});
  ASSERT_TRUE(wait_for([](const report& r) { return r.reachable; }));
  EXPECT_EQ(watch_->mode(), cups_watch_mode::polling);
  ASSERT_EQ(tool({"lpadmin", "-p", "qv-polled", "-E", "-v", "file:///dev/null"}), 0);
  EXPECT_TRUE(wait_for([](const report& r) { return queue_named(r, "qv-polled").has_value(); }));
}

TEST_F(CupsWatch, OnlyTheSchedulersOwnQueuesAreListedNotPrintersFoundOnTheNetwork) {
  start_scheduler(/*refuse_subscriptions=*/false);
  ASSERT_EQ(tool({"lpadmin", "-p", "qv-own", "-E", "-v", "file:///dev/null"}), 0);
  const std::string publish = find_program("avahi-publish");
  if (publish.empty()) GTEST_SKIP() << "avahi-publish is not installed";

  // An IPP printer on the network, as this service's own advertised printers are to libcups.
  // Letters and digits only: libcups names a found printer after its service name with other characters
  // replaced.
  const std::string advertised = "QvAdvertised" + std::to_string(getpid());
  const std::string publish_log = root_.path() + "/avahi-publish.log";
  child_process publisher;
  ASSERT_TRUE(publisher.spawn(
      {publish, "-s", advertised, "_ipp._tcp", "9", "rp=ipp/print", "pdl=application/pdf"}, {}, publish_log));
  // libcups's plain list of destinations includes what DNS-SD finds: wait until it shows the advertisement,
  // so that leaving it out below is the listing's doing.
  const auto deadline = std::chrono::steady_clock::now() + event_bound;
  bool browsed = false;
  while (!browsed && std::chrono::steady_clock::now() < deadline) {
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    browsed = cupsGetDest(advertised.c_str(), nullptr, count, dests) != nullptr;
    cupsFreeDests(count, dests);
    if (!browsed) std::this_thread::sleep_for(200ms);
  }
  if (!browsed)
    GTEST_SKIP() << "the advertisement never reached libcups (no avahi-daemon?): " << read_file(publish_log);

  bool reachable = false;
  const std::vector<cups_queue> queues = list_cups_queues(reachable, /*log_outcome=*/false);
  EXPECT_TRUE(reachable);
  std::vector<std::string> names;
  for (const cups_queue& q : queues) names.push_back(q.name);
  EXPECT_EQ(names, std::vector<std::string>{"qv-own"});
}

TEST_F(CupsWatch, StopEndsTheWorkerAndDropsReportsNotRunYet) {
  start_scheduler(/*refuse_subscriptions=*/false);
  // The pause between two requests is far longer than the bound below: a stop that waited for the pause
  // to end instead of cutting it short fails, however slow the machine.
  constexpr auto pause = 3 * event_bound;
  start_watch({/*fetch_interval=*/pause, /*poll_interval=*/pause, /*retry_interval=*/pause, 300});
  // The worker's first reading is posted, but the loop does not run before the stop.
  const auto deadline = std::chrono::steady_clock::now() + event_bound;
  while (watch_->mode() != cups_watch_mode::subscription && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_EQ(watch_->mode(), cups_watch_mode::subscription) << "the watch never subscribed";
  // Most likely in its pause by now; a stop during a request waits for that one request.
  std::this_thread::sleep_for(500ms);
  const auto before = std::chrono::steady_clock::now();
  watch_->stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, event_bound) << "stop waited for the pause to end";
  EXPECT_EQ(watch_->mode(), cups_watch_mode::connecting);
  // The loop runs its posted work in order: once a marker posted now has run, so has every report the worker
  // posted before the stop.
  bool marker_ran = false;
  loop_.post([&] { marker_ran = true; });
  ASSERT_TRUE(loop_.run_until([&] { return marker_ran; }, event_bound));
  EXPECT_TRUE(reports_.empty()) << "a report posted before the stop ran after it";
}

}  // namespace
}  // namespace quorvane::print_service::testing
