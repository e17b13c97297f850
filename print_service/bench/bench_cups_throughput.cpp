// The real quorvane-service against a private cupsd, in the same run and on the same file system:
//
// - burst: N jobs submitted one after another by one client (each submission waits for its answer, as
//   `lp` does), timed from the first submission to the N-th job reaching its end: for the service a console
//   that answers every "print" at once, for CUPS a raw queue whose backend only records its start;
// - paced: one job at a time, the latency from its submission to that end.
//
// Prints the median of interleaved rounds of each and the ratios ours/CUPS: burst throughput (goal >= 1.2)
// and paced latency (goal <= 0.8). Both keep what they accept on the disk in their own ways: the service
// flushes every accepted job's document and record before answering; cupsd, as configured by default, does
// not flush its spool.
//
//   bench_cups_throughput [ROUNDS [BURST_JOBS [PACED_JOBS]]]   (defaults 3, 100, 20)
#include <cups/cups.h>
#include <fcntl.h>
#include <poll.h>
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
#include "private_cupsd.h"
#include "service_process.h"

namespace quorvane::print_service::testing {
namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
  return std::chrono::duration<double>(clock_type::now() - start).count();
}

// A backend that writes its job id into the FIFO its device URI names, and nothing else.
constexpr const char* recording_backend =
    "#!/bin/sh\n"
    "if [ $# -eq 0 ]; then echo 'direct qvrecord \"Unknown\" \"Records its start\"'; exit 0; fi\n"
    "echo \"$1\" > \"${DEVICE_URI#qvrecord:}\"\n"
    "exit 0\n";

// A private cupsd with the queue "bench" whose backend records each job's start in a FIFO.
class cups_side {
 public:
  explicit cups_side(const std::string& root) : root_(root), cupsd_(root + "/cups") {}
  ~cups_side() {
    if (http_) httpClose(http_);
    if (fifo_ >= 0) close(fifo_);
  }

  bool start(std::string& why) {
    // The system's helpers, with a backend folder of our own.
    const std::string bin = root_ + "/serverbin";
    mkdir(bin.c_str(), 0755);
    mkdir((bin + "/backend").c_str(), 0755);
    for (const char* sub : {"cgi-bin", "daemon", "driver", "filter", "monitor", "notifier"}) {
      symlink((std::string("/usr/lib/cups/") + sub).c_str(), (bin + "/" + sub).c_str());
    }
    const std::string backend = bin + "/backend/qvrecord";
    // Mode 0700: cupsd runs it as its own account (root runs it as root), so that it may write the FIFO.
    if (!write_file(backend, recording_backend) || chmod(backend.c_str(), 0700) != 0) {
      why = "cannot write the backend";
      return false;
    }
    const std::string fifo = root_ + "/starts.fifo";
    if (mkfifo(fifo.c_str(), 0600) != 0) {
      why = "cannot make the FIFO";
      return false;
    }
    // Read and write: the backend's open never waits for a reader, and no end of file comes between jobs.
    fifo_ = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    cupsd_.set_server_bin(bin);
    if (fifo_ < 0 || !cupsd_.start()) {
      why = "cupsd: " + cupsd_.reason();
      return false;
    }
    std::string output;
    if (cupsd_.run_tool({"lpadmin", "-p", "bench", "-E", "-v", "qvrecord:" + fifo}, &output) != 0 ||
        !output.empty()) {
      why = "lpadmin: " + output;
      return false;
    }
    // libcups looks the queue up on the process's server, whichever connection the job goes through.
    cupsSetServer(cupsd_.server().c_str());
    const size_t colon = cupsd_.server().rfind(':');
    http_ = httpConnect2("127.0.0.1", std::atoi(cupsd_.server().c_str() + colon + 1), nullptr, AF_INET,
                         HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
    if (!http_) why = "cannot connect to cupsd";
    return http_ != nullptr;
  }

  // Submits `document`; true when cupsd accepted it.
  bool submit(const std::string& document) {
    if (cupsPrintFile2(http_, "bench", document.c_str(), "bench", 0, nullptr) > 0) return true;
    std::fprintf(stderr, "cupsd refused the job: %s\n", cupsLastErrorString());
    return false;
  }

  // Waits until `count` more backends have started (60 s at most).
  bool wait_for_starts(size_t count) {
    const auto deadline = clock_type::now() + 60s;
    while (count > 0 && clock_type::now() < deadline) {
      pollfd p{fifo_, POLLIN, 0};
      if (poll(&p, 1, 1000) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(fifo_, buffer, sizeof buffer);
      for (ssize_t i = 0; i < n && count > 0; ++i) count -= buffer[i] == '\n';
    }
    if (count > 0) {
      std::fprintf(stderr, "%zu backend start(s) missing; cupsd's log:\n%s\n", count,
                   read_file(root_ + "/cups/log/error_log").c_str());
    }
    return count == 0;
  }

  void stop() {
    cupsSetServer(nullptr);
    cupsd_.stop();
  }

 private:
  std::string root_;
  private_cupsd cupsd_;
  http_t* http_ = nullptr;
  int fifo_ = -1;
};

// The service with a stored printer "bench", a console that answers at once and a submitting connection.
class service_side {
 public:
  explicit service_side(const std::string& root)
      : root_(root), service_(root + "/data", {"CUPS_SERVER=/nonexistent/quorvane-bench/cups.sock"}) {}

  bool start(std::string& why) {
    set_main_runloop(&loop_);
    service_.set_log_level(1);
    if (!service_.start()) {
      why = "the service did not start: " + read_file(service_.log_file());
      return false;
    }
    console_stub_ = new server_stub(&console_);
    submitter_ = new server_stub(&console_);
    connect_to_loopback(*console_stub_, static_cast<uint16_t>(service_.port()));
    connect_to_loopback(*submitter_, static_cast<uint16_t>(service_.port()));
    console_stub_->authenticate("", [](int32_t) {});
    add_printer(*console_stub_, "7c3e9a1f-4d5b-4f6c-8e7d-1a2b3c4d5e6f", "bench");
    bool ready = false;
    console_stub_->observe(true, [&](int32_t) { ready = true; });
    return loop_.run_until([&] { return ready; }, 10s);
  }

  // Submits `document` and waits for the answer; true when the service accepted it.
  bool submit(const std::string& document) {
    int answer = 0;  // 1 accepted, -1 refused
    Json::Value request = submit_job_request("bench", document);
    submitter_->call(request,
                     [&](const Json::Value& response) { answer = response.isMember("result") ? 1 : -1; });
    loop_.run_until([&] { return answer != 0; }, 60s);
    return answer == 1;
  }

  // Waits until the console has answered `count` jobs in all.
  bool wait_for_prints(size_t count) {
    return loop_.run_until([&] { return console_.answered >= count; }, 60s);
  }

  size_t printed() const { return console_.answered; }

  void stop() {
    console_stub_->handle_close();
    submitter_->handle_close();
    service_.stop();
    set_main_runloop(nullptr);
  }

 private:
  std::string root_;
  poll_runloop loop_;
  service_process service_;
  answering_console console_;
  smart_ptr<server_stub> console_stub_;
  smart_ptr<server_stub> submitter_;
};

struct figures {
  double burst_jobs_per_second = 0;
  double paced_latency_seconds = 0;  // median over the paced jobs
};

// One round of each measure on one side; `submit` and `wait` are the side's own.
template <typename side_type, typename wait_function>
bool measure(side_type& side, const std::string& document, size_t burst, size_t paced, wait_function wait,
             figures& out) {
  const auto start = clock_type::now();
  for (size_t i = 0; i < burst; ++i) {
    if (!side.submit(document)) return false;
  }
  if (!wait(burst)) return false;
  out.burst_jobs_per_second = static_cast<double>(burst) / seconds_since(start);
  std::vector<double> latencies;
  for (size_t i = 0; i < paced; ++i) {
    const auto submitted = clock_type::now();
    if (!side.submit(document) || !wait(1)) return false;
    latencies.push_back(seconds_since(submitted));
  }
  out.paced_latency_seconds = median(latencies);
  return true;
}

}  // namespace
}  // namespace quorvane::print_service::testing

int main(int argc, char** argv) {
  using namespace quorvane::print_service::testing;
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
  const size_t burst = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 100;
  const size_t paced = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 20;
  if (rounds < 1 || burst < 1 || paced < 1) {
    std::fprintf(stderr, "usage: %s [ROUNDS [BURST_JOBS [PACED_JOBS]]]\n", argv[0]);
    return 2;
  }
  quorvane::set_log_level(quorvane::log_error);
  temporary_folder root;
  const std::string document = root.path() + "/page.pdf";
  write_file(document, "%PDF-1.4\n" + std::string(2000, 'x') + "\n%%EOF\n");

  std::vector<double> ours_burst, cups_burst, ours_paced, cups_paced;
  for (int round = 0; round < rounds; ++round) {
    // Alternating which side goes first spreads the machine's slow moments over both.
    for (int k = 0; k < 2; ++k) {
      const bool ours = (round + k) % 2 == 0;
      const std::string folder = root.path() + "/r" + std::to_string(round) + (ours ? "-ours" : "-cups");
      mkdir(folder.c_str(), 0700);
      figures f;
      std::string why;
      bool ok = false;
      if (ours) {
        service_side side(folder);
        size_t base = 0;
        ok = side.start(why) && measure(
                                    side, document, burst, paced,
                                    [&](size_t n) {
                                      base += n;
                                      return side.wait_for_prints(base);
                                    },
                                    f);
        side.stop();
      } else {
        cups_side side(folder);
        ok = side.start(why) &&
             measure(
                 side, document, burst, paced, [&](size_t n) { return side.wait_for_starts(n); }, f);
        side.stop();
      }
      if (!ok) {
        std::fprintf(stderr, "round %d (%s) failed: %s\n", round + 1, ours ? "ours" : "CUPS",
                     why.empty() ? "a job was refused or did not arrive" : why.c_str());
        return 1;
      }
      (ours ? ours_burst : cups_burst).push_back(f.burst_jobs_per_second);
      (ours ? ours_paced : cups_paced).push_back(f.paced_latency_seconds);
      std::printf("round %d %-4s: burst %6.1f jobs/s, paced latency %6.2f ms\n", round + 1,
                  ours ? "ours" : "CUPS", f.burst_jobs_per_second, f.paced_latency_seconds * 1000);
      std::fflush(stdout);
    }
  }
  const double burst_ratio = median(ours_burst) / median(cups_burst);
  const double paced_ratio = median(ours_paced) / median(cups_paced);
  std::printf("burst throughput: ours %.1f, CUPS %.1f jobs/s; ours/CUPS = %.2f (goal >= 1.20)\n",
              median(ours_burst), median(cups_burst), burst_ratio);
  std::printf("paced latency: ours %.2f, CUPS %.2f ms; ours/CUPS = %.2f (goal <= 0.80)\n",
              median(ours_paced) * 1000, median(cups_paced) * 1000, paced_ratio);
  return 0;
}
