// quorvane-print: prints one job on a CUPS destination, or removes one CUPS job, for the console (see
// print_helper.h for the exchange). Not meant to be run by hand.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "core/files.h"
#include "core/json_text.h"
#include "core/log.h"
#include "spooler/cups_spooler.h"
#include "spooler/image_library.h"
#include "spooler/print_helper.h"
#include "spooler/spooler_p.h"

namespace {

using namespace quorvane;

// The whole standard input.
std::string read_input() {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return text;
    text.append(buffer, static_cast<size_t>(got));
  }
}

// Prints the job of `request`; the outcome as the completion would have it.
print_outcome print_job(const Json::Value& request) {
  model::printer_ptr printer;
  model::job_ptr job;
  print_outcome outcome;
  if (!read_print_request(request, printer, job)) {
    QV_LOG(log_error, "Unable to print: the request holds no printer and job");
    return outcome;
  }
  outcome.orientation = job->orientation();
  const std::string format = job->format().narrow();
  image_library images;
  std::unique_ptr<CupsSpooler> printing;
  if (format == "application/pdf") {
    printing = std::make_unique<PDFSpooler>(printer, job);
  } else if (printable_format(format)) {
    printing = std::make_unique<IMGSpooler>(images, printer, job);
  } else {
    QV_LOG(log_error, "Unsupported format: %s", format.c_str());
    outcome.delivery_failure = static_cast<int32_t>(delivery_failure::format_not_printable);
    return outcome;
  }
  printing->print();
  printing->updateJob();
  return {printing->status(), printing->jobState(), printing->platformJobId(), job->orientation(),
          job->deliveryFailure()};
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 2 ? argv[1] : "";
  Json::Value request;
  if ((mode != "print" && mode != "purge") || !parse_json(read_input(), request) || !request.isObject()) {
    std::fprintf(stderr, "usage: quorvane-print print|purge < REQUEST (run by the Quorvane console)\n");
    return 2;
  }
  register_event_source();
  set_log_level(int_member(request, "logLevel", log_error));
  Json::Value reply(Json::objectValue);
  if (mode == "print") {
    reply = outcome_reply(print_job(request));
  } else {
    reply["status"] = purge_cups_job(string_member(request, "printer"), int_member(request, "job"),
                                     string_member(request, "user"));
  }
  return write_all(STDOUT_FILENO, compact_json(reply)) == 0 ? 0 : 1;
}
