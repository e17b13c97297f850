// Soak of the real quorvane-service: N jobs submitted over one connection ("submitJob", at most 16
// not yet answered) and delivered to a console (the console's own server_stub) that answers every "print" at
// once. Prints the service's resident memory, database size and spool size after 1,000 jobs and after N
// (default 20,000), for the service with its default history bounds and, as the reference in the same run,
// with bounds too large to cut anything (what the service did before it pruned its history and deleted
// delivered documents cannot be run any more; the reference shows the growth those bounds prevent).
//
//   bench_service_soak [JOBS]
//
// The data folder is on /dev/shm when there is one: the figures are about growth, not disk speed (every job
// is two rounds of flushes on a disk).
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "console_peer.h"
#include "core/log.h"
#include "net/jsonrpc_connection.h"
#include "net/poll_runloop.h"
#include "service_process.h"

namespace quorvane::print_service::testing {
namespace {

using namespace std::chrono_literals;

// The resident set of process `pid` in KiB (VmRSS), -1 when unknown.
long resident_kib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// The CPU time process `pid` has used so far (user and system), in seconds; -1 when unknown.
double cpu_seconds(pid_t pid) {
  std::ifstream stat_file("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat_file)), std::istreambuf_iterator<char>());
  // The fields after the command name, which may hold spaces: utime and stime are the 12th and 13th.
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long user = 0, system = 0;
  for (int i = 1; i <= 13 && fields >> field; ++i) {
    if (i == 12) user = std::stoull(field);
    if (i == 13) system = std::stoull(field);
  }
  return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long long file_size(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : 0;
}

// Bytes of the files under `folder` and how many job folders it holds.
void folder_usage(const std::string& folder, long long& bytes, long& folders) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "/" + name;
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      ++folders;
      long ignored = 0;
      folder_usage(path, bytes, ignored);
    } else {
      bytes += info.st_size;
    }
  }
  closedir(dir);
}

struct sample {
  size_t jobs;
  long rss_kib;
  long long database_bytes;
  long long spool_bytes;
  long spool_folders;
  double seconds;      // wall time since the first submission (the machine's load shows in it)
  double cpu_seconds;  // the service's CPU time since its start
};

sample measure(service_process& service, size_t jobs, std::chrono::steady_clock::time_point start) {
  sample s{};
  s.jobs = jobs;
  s.rss_kib = resident_kib(service.process().pid());
  s.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  s.cpu_seconds = cpu_seconds(service.process().pid());
  for (const char* suffix : {"", "-journal", "-wal"}) {
    s.database_bytes += file_size(service.data_folder() + "/service.db" + suffix);
  }
  folder_usage(service.data_folder() + "/spool", s.spool_bytes, s.spool_folders);
  return s;
}

// Runs `total` jobs through a fresh service started with `arguments`; samples after 1,000 and `total`.
std::vector<sample> soak(const std::string& base, size_t total, const std::vector<std::string>& arguments) {
  std::vector<sample> samples;
  temporary_folder root_holder;
  const std::string root = base.empty() ? root_holder.path() : base;
  mkdir(root.c_str(), 0700);
  poll_runloop loop;
  set_main_runloop(&loop);
  {
    service_process service(root + "/data", {"CUPS_SERVER=/nonexistent/quorvane-bench/cups.sock"});
    service.set_extra_arguments(arguments);
    if (!service.start()) {
      std::fprintf(stderr, "the service did not start: %s\n", read_file(service.log_file()).c_str());
      set_main_runloop(nullptr);
      return samples;
    }
    const std::string document = root + "/page.pdf";
    write_file(document, "%PDF-1.4\n" + std::string(2000, 'x') + "\n%%EOF\n");

    answering_console console;
    smart_ptr<server_stub> stub(new server_stub(&console));
    connect_to_loopback(*stub, static_cast<uint16_t>(service.port()));
    stub->authenticate("", [](int32_t) {});
    add_printer(*stub, "3a7c1e5b-9d2f-4b6a-8c0e-1f3a5b7d9e2c", "soak");
    stub->observe(true, [](int32_t) {});

    smart_ptr<server_stub> submitter(new server_stub(&console));
    connect_to_loopback(*submitter, static_cast<uint16_t>(service.port()));
    size_t submitted = 0, accepted = 0, failed = 0;
    const auto start = std::chrono::steady_clock::now();
    const auto submit_more = [&] {
      // At most 16 jobs between submission and answer: a backlog would measure the queue, not the soak.
      while (submitted < total && submitted - console.answered - failed < 16) {
        ++submitted;
        Json::Value request = submit_job_request("soak", document);
        submitter->call(request, [&](const Json::Value& response) {
          (response.isMember("result") ? accepted : failed) += 1;
        });
      }
    };
    for (size_t checkpoint : {size_t{1000}, total}) {
      const bool reached = loop.run_until(
          [&] {
            submit_more();
            return console.answered >= checkpoint;
          },
          3600s);
      // The last answer is stored on the service's next turn.
      loop.run_until([] { return false; }, 200ms);
      if (!reached) {
        std::fprintf(stderr, "stalled at %zu answered jobs (%zu failed submissions)\n", console.answered,
                     failed);
        break;
      }
      samples.push_back(measure(service, checkpoint, start));
    }
    stub->handle_close();
    submitter->handle_close();
    service.stop();
  }
  set_main_runloop(nullptr);
  return samples;
}

void print_samples(const char* label, const std::vector<sample>& samples) {
  for (const sample& s : samples) {
    std::printf(
        "%-28s %7zu jobs  rss %7ld KiB  database %9lld bytes  spool %7lld bytes in %4ld folder(s)  "
        "%6.1f s\n",
        label, s.jobs, s.rss_kib, s.database_bytes, s.spool_bytes, s.spool_folders, s.seconds);
  }
  if (samples.size() == 2 && samples[0].rss_kib > 0 && samples[0].database_bytes > 0) {
    std::printf(
        "%-28s growth 1,000 -> %zu jobs: rss x%.2f, database x%.2f\n", label, samples[1].jobs,
        static_cast<double>(samples[1].rss_kib) / static_cast<double>(samples[0].rss_kib),
        static_cast<double>(samples[1].database_bytes) / static_cast<double>(samples[0].database_bytes));
  }
}

}  // namespace
}  // namespace quorvane::print_service::testing

int main(int argc, char** argv) {
  using namespace quorvane::print_service::testing;
  const size_t total = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20000;
  if (total < 1000) {
    std::fprintf(stderr, "usage: %s [JOBS >= 1000]\n", argv[0]);
    return 2;
  }
  quorvane::set_log_level(quorvane::log_error);
  std::string base;
  struct stat info {};
  if (stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode)) {
    char pattern[] = "/dev/shm/qv-soak-XXXXXX";
    if (mkdtemp(pattern)) base = pattern;
  }
  std::printf("data folder on %s\n",
              base.empty() ? "the temporary folder's file system" : "/dev/shm (tmpfs)");
  // The service would log every job; the log is not what is measured.
  print_samples("default bounds (1000 jobs, 7 days)",
                soak(base.empty() ? "" : base + "/a", total, {"--log-level", "1"}));
  print_samples("reference: nothing cut",
                soak(base.empty() ? "" : base + "/b", total,
                     {"--log-level", "1", "--keep-jobs", "1000000", "--keep-days", "3650"}));
  if (!base.empty()) std::system(("rm -rf '" + base + "'").c_str());
  return 0;
}
