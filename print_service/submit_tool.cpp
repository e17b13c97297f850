#include "print_service/submit_tool.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "core/files.h"
#include "core/json_text.h"
#include "net/jsonrpc_connection.h"
#include "net/peer_account.h"
#include "net/poll_runloop.h"

namespace quorvane::print_service {
namespace {

using namespace std::chrono_literals;

// The longest wait for an answer that the service gives at once.
constexpr auto answer_timeout = 30s;
// Between two attempts to reach a service that went away while --wait waits.
constexpr auto reconnect_interval = 500ms;

// One request sent and its answer, or the close that came instead.
std::optional<Json::Value> call_and_wait(poll_runloop& loop, jsonrpc::connection& c, const char* method,
                                         const Json::Value& params, std::chrono::milliseconds timeout) {
  Json::Value request = jsonrpc::request(method, params);
  std::optional<Json::Value> answer;
  auto done = std::make_shared<bool>(false);
  const bool sent = c.call(request, [&answer, done](const Json::Value& response) {
    if (*done) return;
    *done = true;
    answer = response;
  });
  // A request that could not be sent is never answered. When the connection had closed before it (the
  // close was told to the calls pending then), nothing else would tell this call: closing again does.
  if (!sent && !answer) c.handle_close();
  loop.run_until([&] { return answer.has_value(); }, timeout);
  *done = true;  // a late answer (after a timeout) is not for this caller any more
  return answer;
}

}  // namespace

int run_submit(const submit_options& options, std::FILE* out, std::FILE* err) {
  signal(SIGPIPE, SIG_IGN);
  // The service copies the document itself; it needs a path that does not depend on our folder.
  char absolute[PATH_MAX];
  if (!realpath(options.file.c_str(), absolute)) {
    std::fprintf(err, "Unable to read document '%s': %s\n", options.file.c_str(), std::strerror(errno));
    return submit_bad_input;
  }
  // Never waits on what the name stands for: a FIFO would hold the tool until someone writes to it.
  const int fd = open_regular_file(absolute);
  if (fd < 0) {
    std::fprintf(err, "Unable to read document '%s': %s\n", options.file.c_str(),
                 errno == EINVAL || errno == EISDIR ? "not a regular file" : std::strerror(errno));
    return submit_bad_input;
  }
  close(fd);

  poll_runloop loop;
  smart_ptr<jsonrpc::connection> c(new jsonrpc::connection());
  if (connect_to_loopback(*c, static_cast<uint16_t>(options.port)) != 0) {
    std::fprintf(err, "Unable to connect to service '127.0.0.1:%d': %s\n", options.port,
                 std::strerror(errno));
    return submit_no_service;
  }
  // The document's path goes only to a service of this account, root or the computer's print service
  // account, never to whoever else listens.
  if (const std::optional<uid_t> account = peer_account(c->handle(), /*handshake_wait_ms=*/200);
      !account || !is_service_account(*account)) {
    std::fprintf(err, "Unable to use service '127.0.0.1:%d': it does not run as this account\n",
                 options.port);
    return submit_no_service;
  }
  c->watch_on(loop);
  // Closes the connection (and forgets it on the loop) on every way out.
  struct closer {
    smart_ptr<jsonrpc::connection>& c;
    ~closer() {
      if (c->connected()) c->handle_close();
    }
  } close_at_end{c};

  Json::Value job(Json::objectValue);
  job["printer"] = options.printer;
  job["file"] = absolute;
  if (!options.user.empty()) job["user"] = options.user;
  if (!options.device_address.empty()) job["deviceAddress"] = options.device_address;
  if (!options.format.empty()) job["format"] = options.format;
  job["copies"] = options.copies;
  if (!options.name.empty()) job["name"] = options.name;
  const std::optional<Json::Value> submitted =
      call_and_wait(loop, *c, "submitJob", jsonrpc::one_param(job), answer_timeout);
  if (!submitted || jsonrpc::is_close_notice(*submitted)) {
    std::fprintf(err, "Unable to submit document '%s': the service did not answer\n", options.file.c_str());
    return submit_no_service;
  }
  if (jsonrpc::is_error(*submitted)) {
    std::fprintf(err, "Unable to submit document '%s': %s\n", options.file.c_str(),
                 jsonrpc::error_text(*submitted).c_str());
    return submit_refused;
  }
  const Json::Value& result = (*submitted)["result"];
  if (!result.isArray() || result.size() < 2 || !result[1].isInt64()) {
    std::fprintf(err, "Unable to submit document '%s': the service's answer has no job id\n",
                 options.file.c_str());
    return submit_no_service;
  }
  const Json::Int64 job_id = result[1].asInt64();
  if (!options.wait) {
    std::fprintf(out, "job %lld queued\n", static_cast<long long>(job_id));
    return submit_ok;
  }

  // The outcome may take as long as delivery takes; a service restart only interrupts the wait.
  const Json::Value watch = jsonrpc::one_param(job_id);
  for (;;) {
    const std::optional<Json::Value> answer =
        call_and_wait(loop, *c, "watchJob", watch, std::chrono::hours(24 * 365));
    if (answer && !jsonrpc::is_close_notice(*answer)) {
      if (jsonrpc::is_error(*answer)) {
        std::fprintf(err, "Unable to follow job '%lld': %s\n", static_cast<long long>(job_id),
                     jsonrpc::error_text(*answer).c_str());
        return submit_refused;
      }
      const Json::Value& result = (*answer)["result"];
      const Json::Value& status =
          result.isArray() && result.size() > 1 ? result[1] : Json::Value::nullSingleton();
      const int32_t job_status = int_member(status, "status", -1);
      std::fprintf(out, "status %d, state %d, job id %d\n", job_status, int_member(status, "state", 0),
                   int_member(status, "platformID", 0));
      std::fflush(out);
      return job_status == 0 ? submit_ok : submit_job_failed;
    }
    std::fprintf(err, "The service closed the connection; waiting for it to come back\n");
    while (connect_to_loopback(*c, static_cast<uint16_t>(options.port)) != 0) {
      loop.run_until([] { return false; }, reconnect_interval);
    }
    c->watch_on(loop);
  }
}

}  // namespace quorvane::print_service
