// What the print service's benchmarks share: the median of rounds, the service's run loop CPU time, and a
// fresh data folder on a fast file system.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace quorvane::print_service::testing {

/// The median of `values` (the mean of the middle two for an even count); `values` must not be empty.
inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

/// The CPU time the main thread of process `pid` (the service's run loop) has used, in seconds, to the
/// nanosecond (/proc/PID/schedstat); -1 when unknown.
inline double run_loop_cpu_seconds(pid_t pid) {
  std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/schedstat").c_str(), "r");
  if (!f) return -1;
  unsigned long long nanoseconds = 0;
  const bool read = std::fscanf(f, "%llu", &nanoseconds) == 1;
  std::fclose(f);
  return read ? static_cast<double>(nanoseconds) / 1e9 : -1;
}

/// Makes a new folder "<parent>/<prefix>-XXXXXX" and returns its path; `parent` "" means /dev/shm when there
/// is one (a disk's flushes would only add noise), else $TMPDIR, else /tmp. "" after saying why it failed.
inline std::string new_bench_folder(std::string parent, const std::string& prefix) {
  struct stat info {};
  if (parent.empty() && stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode)) parent = "/dev/shm";
  if (parent.empty()) parent = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
  std::string pattern = parent + "/" + prefix + "-XXXXXX";
  if (!mkdtemp(pattern.data())) {
    std::perror("mkdtemp");
    return {};
  }
  return pattern;
}

}  // namespace quorvane::print_service::testing
