// Running a program as a child and measuring its wall time and peak memory, for the reference comparisons.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace quorvane::bench {

/// Wall time and peak resident memory of one child process.
struct run_cost {
  double seconds = -1;
  long peak_kib = 0;
  bool ok = false;
};

/// Runs `argv` with its output sent to /dev/null and waits for it.
inline run_cost measure(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
  run_cost cost;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], &files, nullptr, args.data(), environ) == 0) {
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) == pid) {
      cost.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      cost.peak_kib = usage.ru_maxrss;
      cost.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
  }
  posix_spawn_file_actions_destroy(&files);
  return cost;
}

/// The median of the values.
inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace quorvane::bench
