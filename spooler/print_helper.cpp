#include "spooler/print_helper.h"

#include <limits.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "core/json_text.h"
#include "core/log.h"

extern char** environ;

namespace quorvane {

namespace {

// The members of a reply, in the order of `print_outcome`.
constexpr const char* outcome_members[] = {"status", "state", "platformID", "orientation", "deliveryFailure"};

// Sends all of `bytes` on the socket `fd` without raising SIGPIPE when the helper has gone. Returns 0 or
// the errno.
int send_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (put < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<size_t>(put));
  }
  return 0;
}

// Everything the socket `fd` delivers until its end. Returns 0 or the errno.
int receive_all(int fd, std::string& text) {
  char buffer[4096];
  for (;;) {
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got == 0) return 0;
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    text.append(buffer, static_cast<size_t>(got));
  }
}

// Closes a descriptor on every path.
struct descriptor {
  int fd = -1;
  ~descriptor() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

bool printable_format(const std::string& format) {
  return format == "application/pdf" || format == "image/jpeg" || format == "image/png";
}

Json::Value print_request(const model::printer& printer, const model::job& job, int32_t log_level) {
  Json::Value request(Json::objectValue);
  printer.writeJSON(request["printer"]);
  job.writeJSON(request["job"]);
  request["logLevel"] = log_level;
  return request;
}

bool read_print_request(const Json::Value& request, model::printer_ptr& printer, model::job_ptr& job) {
  if (!request.isObject() || !request["printer"].isObject() || !request["job"].isObject()) return false;
  printer = make_counted<model::printer>();
  printer->readJSON(request["printer"]);
  job = make_counted<model::job>();
  job->readJSON(request["job"]);
  return true;
}

Json::Value purge_request(const std::string& printer, int32_t job_id, const std::string& user,
                          int32_t log_level) {
  Json::Value request(Json::objectValue);
  request["printer"] = printer;
  request["job"] = job_id;
  request["user"] = user;
  request["logLevel"] = log_level;
  return request;
}

Json::Value outcome_reply(const print_outcome& outcome) {
  const int32_t values[] = {outcome.status, outcome.state, outcome.platform_id, outcome.orientation,
                            outcome.delivery_failure};
  Json::Value reply(Json::objectValue);
  for (size_t i = 0; i < std::size(values); ++i) reply[outcome_members[i]] = values[i];
  return reply;
}

bool read_outcome_reply(const Json::Value& reply, print_outcome& outcome) {
  int32_t values[std::size(outcome_members)];
  for (size_t i = 0; i < std::size(outcome_members); ++i) {
    const Json::Value* member =
        reply.isObject()
            ? reply.find(outcome_members[i], outcome_members[i] + std::strlen(outcome_members[i]))
            : nullptr;
    if (!member || !member->isInt()) return false;
    values[i] = member->asInt();
  }
  outcome = {values[0], values[1], values[2], values[3], values[4]};
  return true;
}

std::string print_helper_path() {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length > 0) {
    std::string folder(self, static_cast<size_t>(length));
    folder.resize(folder.rfind('/') + 1);
    const std::string beside = folder + "../libexec/quorvane/quorvane-print";
    if (access(beside.c_str(), X_OK) == 0) return beside;
  }
  return QUORVANE_PRINT_HELPER_BUILT;
}

bool run_print_helper(const std::string& helper, const std::string& mode, const Json::Value& request,
                      Json::Value& reply) {
  // One socket serves as the helper's standard input and output: a send to a helper that has gone fails
  // with EPIPE instead of ending the console with SIGPIPE.
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    QV_LOG(log_error, "Unable to run the print helper '%s': %s", helper.c_str(), std::strerror(errno));
    return false;
  }
  descriptor ours{ends[0]};
  descriptor theirs{ends[1]};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, theirs.fd, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, theirs.fd, STDOUT_FILENO);
  std::string mode_argument = mode;
  char* arguments[] = {const_cast<char*>(helper.c_str()), mode_argument.data(), nullptr};
  pid_t pid = -1;
  const int error = posix_spawn(&pid, helper.c_str(), &actions, nullptr, arguments, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    QV_LOG(log_error, "Unable to run the print helper '%s': %s", helper.c_str(), std::strerror(error));
    return false;
  }
  close(theirs.fd);
  theirs.fd = -1;

  // The helper reads its whole request before it answers, so writing all first cannot block both sides.
  const int sent = send_all(ours.fd, compact_json(request));
  shutdown(ours.fd, SHUT_WR);
  std::string answer;
  const int received = receive_all(ours.fd, answer);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) {
    QV_LOG(log_error, "Unable to run the print helper '%s': it ended by signal %d (%s)", helper.c_str(),
           WTERMSIG(status), strsignal(WTERMSIG(status)));
    return false;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    QV_LOG(log_error, "Unable to run the print helper '%s': it exited with status %d", helper.c_str(),
           WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return false;
  }
  if (sent != 0 || received != 0) {
    QV_LOG(log_error, "Unable to run the print helper '%s': %s", helper.c_str(),
           std::strerror(sent != 0 ? sent : received));
    return false;
  }
  if (!parse_json(answer, reply) || !reply.isObject()) {
    QV_LOG(log_error, "Unable to run the print helper '%s': its answer is no JSON object", helper.c_str());
    return false;
  }
  return true;
}

}  // namespace quorvane
