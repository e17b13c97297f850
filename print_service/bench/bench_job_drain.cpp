// Draining a backlog with the real quorvane-service: N jobs are queued ("submitJob") while no console
// observes, then a console that answers every "print" at once starts observing, and the time from the
// first "print" to the N-th answer gives the rate at which the service delivers. Backlogs of 100 and 1,000
// jobs run on fresh services in interleaved rounds; prints each round, the median per-job rate of each size
// and the ratio rate(1,000) / rate(100) (goal: at least 0.8, a delivery's cost not growing with the backlog),
// and the same ratio from the service's run loop CPU time per job, which other programs on the machine
// disturb far less than the wall time.
//
//   bench_job_drain [ROUNDS [FOLDER]]
//
// ROUNDS defaults to 7. The data folder is under FOLDER, by default /dev/shm when there is one: the figure is
// about how the cost grows with the backlog, and a disk's flushes would only add the same noisy constant to
// every job.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "console_peer.h"
#include "core/log.h"
#include "net/poll_runloop.h"
#include "service_process.h"

namespace quorvane::print_service::testing {
namespace {

using namespace std::chrono_literals;

struct drain {
  double rate = -1;         // jobs per second, wall time
  double cpu_per_job = -1;  // the service's run loop, seconds per job
};

// How a backlog of `backlog` jobs drains; a negative rate after saying why.
drain drain_backlog(const std::string& root, size_t backlog) {
  poll_runloop loop;
  set_main_runloop(&loop);
  drain result;
  {
    service_process service(root + "/data", {"CUPS_SERVER=/nonexistent/quorvane-bench/cups.sock"});
    service.set_log_level(1);
    if (!service.start()) {
      std::fprintf(stderr, "the service did not start: %s\n", read_file(service.log_file()).c_str());
      set_main_runloop(nullptr);
      return result;
    }
    const std::string document = root + "/page.pdf";
    write_file(document, "%PDF-1.4\n" + std::string(2000, 'x') + "\n%%EOF\n");

    answering_console console;
    smart_ptr<server_stub> stub(new server_stub(&console));
    connect_to_loopback(*stub, static_cast<uint16_t>(service.port()));
    stub->authenticate("", [](int32_t) {});
    add_printer(*stub, "5b2d8f1e-3c4a-4e6b-9d7f-0a1b2c3d4e5f", "drain");

    // The backlog, queued while nobody observes.
    smart_ptr<server_stub> submitter(new server_stub(&console));
    connect_to_loopback(*submitter, static_cast<uint16_t>(service.port()));
    size_t accepted = 0, failed = 0;
    for (size_t i = 0; i < backlog; ++i) {
      Json::Value request = submit_job_request("drain", document);
      submitter->call(request, [&](const Json::Value& response) {
        (response.isMember("result") ? accepted : failed) += 1;
      });
    }
    loop.run_until([&] { return accepted + failed == backlog; }, 600s);
    if (accepted != backlog) {
      std::fprintf(stderr, "only %zu of %zu jobs were queued\n", accepted, backlog);
    } else {
      // From the first "print" on: what it takes a console to start observing is the same for any backlog.
      std::chrono::steady_clock::time_point start;
      double cpu_start = -1;
      const pid_t pid = service.process().pid();
      console.on_print = [&] {
        if (cpu_start < 0) {
          start = std::chrono::steady_clock::now();
          cpu_start = run_loop_cpu_seconds(pid);
        }
      };
      stub->observe(true, [](int32_t) {});
      if (loop.run_until([&] { return console.answered >= backlog; }, 600s)) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        result.rate = static_cast<double>(backlog) / seconds;
        // The last answer is the service's to handle still; it is one job's work in either backlog.
        result.cpu_per_job = (run_loop_cpu_seconds(pid) - cpu_start) / static_cast<double>(backlog);
      } else {
        std::fprintf(stderr, "stalled at %zu of %zu jobs delivered\n", console.answered, backlog);
      }
    }
    stub->handle_close();
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
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 7;
  if (rounds < 1) {
    std::fprintf(stderr, "usage: %s [ROUNDS [FOLDER]]\n", argv[0]);
    return 2;
  }
  quorvane::set_log_level(quorvane::log_error);
  const std::string parent = argc > 2 ? argv[2] : "";
  const std::string base = new_bench_folder(parent, "qv-drain");
  if (base.empty()) return 1;
  std::printf("data folder %s\n", base.c_str());

  const size_t sizes[] = {100, 1000};
  std::vector<double> rates[2], cpu[2];
  for (int round = 0; round < rounds; ++round) {
    // Alternating which size goes first spreads the machine's slow moments over both.
    for (int k = 0; k < 2; ++k) {
      const int which = (round + k) % 2;
      const std::string root = base + "/r" + std::to_string(round) + "-" + std::to_string(sizes[which]);
      mkdir(root.c_str(), 0700);
      const drain d = drain_backlog(root, sizes[which]);
      if (d.rate <= 0) return 1;
      rates[which].push_back(d.rate);
      cpu[which].push_back(d.cpu_per_job);
      std::printf("round %d: backlog %4zu drained at %7.1f jobs/s, run loop CPU %.3f ms/job\n", round + 1,
                  sizes[which], d.rate, d.cpu_per_job * 1000);
      std::fflush(stdout);
    }
  }
  std::system(("rm -rf '" + base + "'").c_str());
  const double small = median(rates[0]), large = median(rates[1]);
  std::printf("median: backlog 100 %.1f jobs/s, backlog 1000 %.1f jobs/s\n", small, large);
  // The CPU time is the steadier figure when other programs share the cores: wall time doubles whenever
  // the service waits for a core, whatever the backlog.
  std::printf(
      "run loop CPU per job: backlog 100 %.3f ms, backlog 1000 %.3f ms; rate by CPU(1000) / (100) = "
      "%.2f\n",
      median(cpu[0]) * 1000, median(cpu[1]) * 1000, median(cpu[0]) / median(cpu[1]));
  std::printf("rate(1000) / rate(100) = %.2f (goal >= 0.80)\n", large / small);
  return 0;
}
