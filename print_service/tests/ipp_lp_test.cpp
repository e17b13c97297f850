// A computer printing to the service as a Mac or a Linux desktop does: a CUPS queue made with
// `lpadmin -m everywhere` (the driver built from the service's own IPP attributes) on a scheduler of the
// test's own, and `lp`. CUPS's ipp backend sends the job to the service's IPP printer; the console's
// `server_stub` receives the "print" and answers it, and the CUPS job completes.
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include "ipp_fixture.h"
#include "private_cupsd.h"

namespace quorvane::print_service::testing {
namespace {

using namespace std::chrono_literals;

class LpThroughCups : public ipp_console_test {
 protected:
  void SetUp() override {
    ipp_console_test::SetUp();
    if (HasFatalFailure()) return;
    // The scheduler's filters and backends run as its unprivileged user: its folders must be reachable.
    chmod(root_.path().c_str(), 0755);
    cupsd_ = std::make_unique<private_cupsd>(root_.path() + "/cupsd");
    if (!cupsd_->start()) GTEST_SKIP() << "no private cupsd: " << cupsd_->reason();
  }
  void TearDown() override {
    if (HasFailure() && cupsd_)
      std::cerr << "--- cupsd log\n" << read_file(root_.path() + "/cupsd/log/error_log");
    if (cupsd_) cupsd_->stop();
    ipp_console_test::TearDown();
  }

  // Runs the CUPS tool `argv` against the private scheduler while the console answers prints; its exit
  // status, its output appended to `output`.
  int tool(const std::vector<std::string>& argv, std::string& output) {
    std::vector<std::string> command = argv;
    command[0] = find_program(argv[0]);
    const std::string out_file = root_.path() + "/tool-" + std::to_string(++tool_runs_) + ".txt";
    child_process process;
    if (command[0].empty() ||
        !process.spawn(command, {"CUPS_SERVER=" + cupsd_->server(), "HOME=" + home_}, out_file)) {
      return 127;
    }
    EXPECT_TRUE(run_until([&] { return process.finished(); }, 60s)) << argv[0] << " did not end";
    output += read_file(out_file);
    return process.exit_status();
  }

  // The state of the private scheduler's job `id` (IPP job-state), 0 when it cannot be read.
  int cups_job_state(int id) {
    http_t* http = httpConnect2("127.0.0.1", std::stoi(cupsd_->server().substr(10)), nullptr, AF_INET,
                                HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
    if (!http) return 0;
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    const std::string uri = "ipp://localhost/jobs/" + std::to_string(id);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "job-state");
    ipp_t* response = cupsDoRequest(http, request, "/");
    const int state = ippGetInteger(ippFindAttribute(response, "job-state", IPP_TAG_ENUM), 0);
    ippDelete(response);
    httpClose(http);
    return state;
  }

  // The state of the service's IPP job named `title` (as CUPS's backend sent it), 0 when there is none.
  int service_job_state(const std::string& title) {
    http_t* http = httpConnect2("127.0.0.1", service_->ipp_port(), nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1,
                                5000, nullptr);
    if (!http) return 0;
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printer_uri().c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
    const char* wanted[] = {"job-name", "job-state"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, wanted);
    ipp_t* response = cupsDoRequest(http, request, "/");
    int state = 0;
    std::string name;
    for (ipp_attribute_t* a = ippFirstAttribute(response); a; a = ippNextAttribute(response)) {
      if (!ippGetName(a)) {
        name.clear();  // the next job's group
      } else if (std::string(ippGetName(a)) == "job-name") {
        name = ippGetString(a, 0, nullptr);
      } else if (std::string(ippGetName(a)) == "job-state" && name == title) {
        state = ippGetInteger(a, 0);
      }
    }
    ippDelete(response);
    httpClose(http);
    return state;
  }

  std::unique_ptr<private_cupsd> cupsd_;
  int tool_runs_ = 0;
};

// One lp job per end the console gives it, with the end the service's IPP job takes. CUPS's job completes
// when the service's does; otherwise CUPS's ipp backend decides (canceled, "Print job canceled at printer.",
// or, when it sees the end late, completed), so only its ending is checked then.
struct lp_case {
  const char* title;
  answer console_answer;
  ipp_jstate_t service_state;
};

TEST_F(LpThroughCups, AQueueMadeFromTheServicesAttributesPrintsToTheConsole) {
  observe();
  std::string output;
  // The queue's driver comes from the service's printer (IPP Everywhere), as on a client computer. A job
  // the service does not complete ends the CUPS job instead of stopping the queue.
  ASSERT_EQ(tool({"lpadmin", "-p", "qv-phone-path", "-E", "-v", printer_uri(), "-m", "everywhere", "-o",
                  "printer-error-policy=abort-job"},
                 output),
            0)
      << output;
  const std::string pdf = document("Quarterly report.pdf", one_page_pdf());

  const lp_case cases[] = {
      {"Quarterly report", {0, 9, 77}, IPP_JSTATE_COMPLETED},
      {"Not delivered", {5, 8, 0}, IPP_JSTATE_ABORTED},
      {"Cancelled at the console", {0, 7, 0}, IPP_JSTATE_CANCELED},
  };
  for (const lp_case& c : cases) {
    SCOPED_TRACE(c.title);
    answer_for = [&](const model::job&) { return c.console_answer; };
    const size_t before = console_->record().prints.size();
    output.clear();
    ASSERT_EQ(tool({"lp", "-d", "qv-phone-path", "-U", "laptop-user", "-t", c.title, "-n", "2", "-o",
                    "sides=two-sided-long-edge", "-o", "media=iso_a5_148x210mm", "-o",
                    "print-color-mode=color", pdf},
                   output),
              0)
        << output;
    std::smatch id;
    ASSERT_TRUE(std::regex_search(output, id, std::regex("qv-phone-path-([0-9]+)"))) << output;
    const int cups_job = std::stoi(id[1]);

    // CUPS's job ends once the service's IPP job has, which follows the console's answer.
    int state = 0;
    ASSERT_TRUE(run_until(
        [&] {
          state = cups_job_state(cups_job);
          return state >= IPP_JSTATE_CANCELED;
        },
        60s))
        << "the CUPS job did not end; last state " << state;
    if (c.service_state == IPP_JSTATE_COMPLETED) {
      EXPECT_EQ(state, IPP_JSTATE_COMPLETED);
    }
    EXPECT_EQ(service_job_state(c.title), c.service_state);

    ASSERT_EQ(console_->record().prints.size(), before + 1) << "one print per lp job";
    const auto& print = console_->record().prints.back();
    EXPECT_EQ(print.printer->uuid(), printer_uuid_);
    const model::job& job = *print.job;
    EXPECT_EQ(job.printerID(), printer_uuid_);
    EXPECT_EQ(job.name().narrow(), c.title);
    EXPECT_EQ(job.user().narrow(), "laptop-user");
    EXPECT_EQ(job.deviceAddress(), "127.0.0.1");
    EXPECT_EQ(job.format().narrow(), "application/pdf");
    EXPECT_EQ(job.copies(), 2);
    EXPECT_EQ(job.duplex(), 1);
    EXPECT_TRUE(job.isColor());
    ASSERT_TRUE(job.media());
    EXPECT_EQ(job.media()->name(), "iso_a5_148x210mm");
    ASSERT_EQ(delivered_.size(), before + 1);
    EXPECT_EQ(delivered_.back().rfind("%PDF-", 0), 0u) << "the console gets a PDF";
  }
  EXPECT_EQ(tool({"lpadmin", "-x", "qv-phone-path"}, output), 0) << output;
}

}  // namespace
}  // namespace quorvane::print_service::testing
