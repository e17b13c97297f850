// The computer's print service (`--system`) delivering to the consoles of many accounts: 1,000 jobs are
// queued while no console observes, spread over the printers of N accounts (each console made under its
// account, so the service tells them apart as it does real ones), then every console observes and answers
// each "print" at once. The cost of a delivered job with 20 consoles of 20 accounts is compared with one
// console of one account in the same run: the service's run loop CPU time per job (the steadier figure on a
// shared machine) and the wall time from the first "print" to the last answer.
// Goal: cost(20 consoles) / cost(1 console) at most 1.2.
//
//   bench_machine_consoles [ROUNDS [FOLDER]]    (as root: it makes 20 accounts with useradd)
//
// ROUNDS defaults to 3; the data folder is under FOLDER, by default /dev/shm when there is one.
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "console_peer.h"
#include "core/log.h"
#include "net/poll_runloop.h"
#include "net/tests/other_account.h"
#include "service_process.h"

namespace quorvane::print_service::testing {
namespace {

using namespace std::chrono_literals;
using quorvane::testing::other_account;

constexpr size_t job_count = 1000;

struct cost {
  double wall_per_job = -1;  // seconds
  double cpu_per_job = -1;   // the service's run loop, seconds
};

// One console of one account: its record, its stub made under the account's file system id.
struct account_console {
  answering_console record;
  smart_ptr<server_stub> stub;
};

// Delivers `job_count` jobs to the consoles of the first `count` of `accounts`; a negative cost after saying
// why.
cost deliver(const std::string& root, const std::vector<std::unique_ptr<other_account>>& accounts,
             size_t count) {
  poll_runloop loop;
  set_main_runloop(&loop);
  cost result;
  {
    service_process service(root + "/data", {"CUPS_SERVER=/nonexistent/quorvane-bench/cups.sock"});
    service.set_log_level(1);
    service.set_extra_arguments({"--system"});
    if (!service.start()) {
      std::fprintf(stderr, "the service did not start: %s\n", read_file(service.log_file()).c_str());
      set_main_runloop(nullptr);
      return result;
    }
    const std::string document = root + "/page.pdf";
    write_file(document, "%PDF-1.4\n" + std::string(2000, 'x') + "\n%%EOF\n");

    // Each account's console and printer.
    std::vector<std::unique_ptr<account_console>> consoles;
    std::vector<std::string> printers;
    for (size_t i = 0; i < count; ++i) {
      auto console = std::make_unique<account_console>();
      const uid_t before = static_cast<uid_t>(setfsuid(accounts[i]->uid()));
      console->stub = smart_ptr<server_stub>(new server_stub(&console->record));
      const int32_t connected = connect_to_loopback(*console->stub, static_cast<uint16_t>(service.port()));
      setfsuid(before);
      if (connected != 0) {
        std::fprintf(stderr, "console %zu did not connect\n", i);
        return result;
      }
      console->stub->authenticate("", [](int32_t) {});
      char tail[13];
      std::snprintf(tail, sizeof tail, "%012u", static_cast<unsigned>(i));
      const std::string uuid = std::string("5b2d8f1e-3c4a-4e6b-9d7f-") + tail;
      printers.push_back(uuid);
      add_printer(*console->stub, uuid.c_str(), "drain" + std::to_string(i));
      consoles.push_back(std::move(console));
    }

    // The jobs, queued by root while nobody observes, spread over the printers in turn.
    answering_console nobody;
    smart_ptr<server_stub> submitter(new server_stub(&nobody));
    connect_to_loopback(*submitter, static_cast<uint16_t>(service.port()));
    size_t accepted = 0, failed = 0;
    for (size_t i = 0; i < job_count; ++i) {
      Json::Value request = submit_job_request(printers[i % printers.size()], document);
      submitter->call(request, [&](const Json::Value& response) {
        (response.isMember("result") ? accepted : failed) += 1;
      });
    }
    loop.run_until([&] { return accepted + failed == job_count; }, 600s);
    const auto answered = [&] {
      size_t total = 0;
      for (const auto& c : consoles) total += c->record.answered;
      return total;
    };
    if (accepted != job_count) {
      std::fprintf(stderr, "only %zu of %zu jobs were queued\n", accepted, job_count);
    } else {
      // From the first "print" on: what it takes the consoles to start observing is not a job's cost.
      std::chrono::steady_clock::time_point start;
      double cpu_start = -1;
      const pid_t pid = service.process().pid();
      for (auto& c : consoles) {
        c->record.on_print = [&] {
          if (cpu_start < 0) {
            start = std::chrono::steady_clock::now();
            cpu_start = run_loop_cpu_seconds(pid);
          }
        };
      }
      for (auto& c : consoles) c->stub->observe(true, [](int32_t) {});
      if (loop.run_until([&] { return answered() >= job_count; }, 600s)) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        result.wall_per_job = seconds / job_count;
        result.cpu_per_job = (run_loop_cpu_seconds(pid) - cpu_start) / job_count;
      } else {
        std::fprintf(stderr, "stalled at %zu of %zu jobs delivered\n", answered(), job_count);
      }
    }
    for (auto& c : consoles) c->stub->handle_close();
    submitter->handle_close();
    service.stop();
  }
  set_main_runloop(nullptr);
  return result;
}

}  // namespace
}  // namespace quorvane::print_service::testing

int main(int argc, char** argv) {
  using namespace quorvane::print_service::testing;
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
  if (rounds < 1) {
    std::fprintf(stderr, "usage: %s [ROUNDS [FOLDER]]\n", argv[0]);
    return 2;
  }
  quorvane::set_log_level(quorvane::log_error);
  std::vector<std::unique_ptr<other_account>> accounts;
  for (int i = 0; i < 20; ++i) {
    accounts.push_back(std::make_unique<other_account>("b" + std::to_string(i) + "x"));
    if (!accounts.back()->made()) {
      std::fprintf(stderr, "%s\n", accounts.back()->why_not().c_str());
      return 1;
    }
  }
  const std::string parent = argc > 2 ? argv[2] : "";
  const std::string base = new_bench_folder(parent, "qv-machine");
  if (base.empty()) return 1;
  std::printf("data folder %s, %zu jobs\n", base.c_str(), job_count);

  const size_t sizes[] = {1, 20};
  std::vector<double> wall[2], cpu[2];
  for (int round = 0; round < rounds; ++round) {
    // Alternating which goes first spreads the machine's slow moments over both.
    for (int k = 0; k < 2; ++k) {
      const int which = (round + k) % 2;
      const std::string root = base + "/r" + std::to_string(round) + "-" + std::to_string(sizes[which]);
      mkdir(root.c_str(), 0711);
      const cost c = deliver(root, accounts, sizes[which]);
      if (c.cpu_per_job <= 0) return 1;
      wall[which].push_back(c.wall_per_job);
      cpu[which].push_back(c.cpu_per_job);
      std::printf("round %d: %2zu console(s): %.3f ms/job wall, run loop CPU %.3f ms/job\n", round + 1,
                  sizes[which], c.wall_per_job * 1000, c.cpu_per_job * 1000);
      std::fflush(stdout);
    }
  }
  std::system(("rm -rf '" + base + "'").c_str());
  std::printf("median: 1 console %.3f ms/job wall, %.3f ms CPU; 20 consoles %.3f ms/job wall, %.3f ms CPU\n",
              median(wall[0]) * 1000, median(cpu[0]) * 1000, median(wall[1]) * 1000, median(cpu[1]) * 1000);
  std::printf("cost(20 consoles) / cost(1 console): CPU %.2f, wall %.2f (goal <= 1.20)\n",
              median(cpu[1]) / median(cpu[0]), median(wall[1]) / median(wall[0]));
  return 0;
}
