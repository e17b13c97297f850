// Opening a delivered file with an application.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "core/log.h"
#include "core/thread.h"
#include "spooler/spooler_p.h"

extern char** environ;

namespace quorvane {

namespace {

// How long the desktop's opener may take before it counts as having started the application: in its
// generic mode xdg-open runs the application itself and returns only when that ends.
constexpr auto opener_grace = std::chrono::seconds(5);

// Starts `argv` in a session of its own (so that it outlives the console). Returns the process id, or -1
// with errno set when the program does not exist or cannot be run.
pid_t spawn(const std::vector<std::string>& argv) {
  std::vector<char*> arguments;
  for (const std::string& a : argv) arguments.push_back(const_cast<char*>(a.c_str()));
  arguments.push_back(nullptr);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, arguments[0], nullptr, &attributes, arguments.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) {
    errno = error;
    return -1;
  }
  return pid;
}

// Collects the exit status of a program that runs on, so that it leaves no zombie; the waiting thread
// touches nothing else.
void reap_later(pid_t pid) {
  std::thread([pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

// Waits up to the grace period for the opener; true when it exited with 0 or is still running.
bool opener_succeeded(pid_t pid) {
  const auto deadline = std::chrono::steady_clock::now() + opener_grace;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (done < 0 && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) {
      reap_later(pid);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

void open_with_application(const std::string& application, const std::string& path, runloop* loop,
                           print_completion completion) {
  if (!application.empty()) {
    const pid_t pid = spawn({application, path});
    if (pid < 0) {
      completion(-1, model::job_state_completed, 0);
      return;
    }
    reap_later(pid);
    completion(0, model::job_state_completed, 0);
    return;
  }

  const pid_t pid = spawn({"xdg-open", path});
  if (pid < 0) {
    QV_LOG(log_error, "Unable to open '%s': xdg-open cannot be started: %s", path.c_str(), strerror(errno));
    completion(-1, model::job_state_completed, 0);
    return;
  }
  if (!loop) {
    reap_later(pid);
    completion(0, model::job_state_completed, 0);
    return;
  }
  auto opened = std::make_shared<bool>(false);
  auto report = [opened, completion]() { completion(*opened ? 0 : -1, model::job_state_completed, 0); };
  if (!run_in_background(
          *loop, [opened, pid] { *opened = opener_succeeded(pid); }, std::move(report))) {
    reap_later(pid);
    completion(0, model::job_state_completed, 0);
  }
}

}  // namespace quorvane
