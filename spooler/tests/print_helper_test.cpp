// The exchange with the print helper program: requests and replies, and a helper that misbehaves.
#include <sys/stat.h>

#include <string>

#include "core/json_text.h"
#include "delivery.h"
#include "fixtures.h"
#include "gtest/gtest.h"
#include "spooler/delivery_failure.h"
#include "spooler/print_helper.h"
#include "test_support/log_capture.h"

namespace quorvane {
namespace {

using test::temp_folder;

// Writes an executable shell script.
std::string make_script(temp_folder& folder, const std::string& name, const std::string& body) {
  const std::string path = folder.file(name);
  EXPECT_TRUE(test::write_file(path, "#!/bin/sh\n" + body + "\n"));
  chmod(path.c_str(), 0700);
  return path;
}

TEST(print_helper, carries_the_records_and_the_outcome_whole) {
  model::printer_ptr printer = test::make_printer(model::action_print, "", "", "office queue");
  printer->setFeature(model::printer_feature::copy, 9);
  model::job_ptr job = test::make_job("/spool/r\xC3\xA9sum\xC3\xA9.pdf", "application/pdf");
  job->setCopies(1000);
  job->setOrientation(4);
  job->setMedia(make_counted<model::media>("iso_a5_148x210mm", "A5", 1, 1, 14800, 21000));
  // Through the text the helper reads, as it travels.
  Json::Value request;
  ASSERT_TRUE(parse_json(compact_json(print_request(*printer, *job, log_verbose)), request));
  model::printer_ptr printer_read;
  model::job_ptr job_read;
  ASSERT_TRUE(read_print_request(request, printer_read, job_read));
  EXPECT_EQ(printer_read->name().narrow(), "office queue");
  EXPECT_EQ(printer_read->copy(), 9);
  EXPECT_EQ(job_read->filename().narrow(), "/spool/r\xC3\xA9sum\xC3\xA9.pdf");
  EXPECT_EQ(job_read->copies(), 1000) << "a count over the limit reaches the helper, which refuses it";
  EXPECT_EQ(job_read->orientation(), 4);
  ASSERT_TRUE(job_read->media());
  EXPECT_EQ(job_read->media()->name(), "iso_a5_148x210mm");
  EXPECT_EQ(int_member(request, "logLevel"), log_verbose);

  const print_outcome sent{1030, 8, 0, 4, static_cast<int32_t>(delivery_failure::printer_gone)};
  print_outcome got;
  ASSERT_TRUE(read_outcome_reply(outcome_reply(sent), got));
  EXPECT_EQ(got.status, 1030);
  EXPECT_EQ(got.state, 8);
  EXPECT_EQ(got.platform_id, 0);
  EXPECT_EQ(got.orientation, 4);
  EXPECT_EQ(got.delivery_failure, static_cast<int32_t>(delivery_failure::printer_gone));
}

TEST(print_helper, refuses_requests_and_replies_that_lack_a_part) {
  model::printer_ptr printer;
  model::job_ptr job;
  Json::Value no_job(Json::objectValue);
  no_job["printer"] = Json::Value(Json::objectValue);
  EXPECT_FALSE(read_print_request(no_job, printer, job));
  EXPECT_FALSE(read_print_request(Json::Value("text"), printer, job));

  const print_outcome untouched{7, 7, 7, 7, 7};
  struct {
    const char* name;
    const char* reply;
  } cases[] = {
      {"no failure member", R"({"status":0,"state":5,"platformID":3,"orientation":3})"},
      {"status as text", R"({"status":"0","state":5,"platformID":3,"orientation":3,"deliveryFailure":0})"},
      {"status beyond 32 bits",
       R"({"status":4294967296,"state":5,"platformID":3,"orientation":3,"deliveryFailure":0})"},
      {"an array", "[0,5,3,3,0]"},
  };
  for (const auto& c : cases) {
    Json::Value reply;
    ASSERT_TRUE(parse_json(c.reply, reply)) << c.name;
    print_outcome got = untouched;
    EXPECT_FALSE(read_outcome_reply(reply, got)) << c.name;
    EXPECT_EQ(got.status, 7) << c.name << ": the outcome was changed";
  }
}

TEST(print_helper, finds_the_helper_program_built_beside_the_tests) {
  const std::string helper = print_helper_path();
  EXPECT_TRUE(test::exists(helper)) << helper;
  EXPECT_NE(helper.find("/libexec/quorvane/quorvane-print"), std::string::npos) << helper;
}

// ---- a helper that answers, and one that does not

TEST(print_helper, reads_the_answer_of_a_helper_that_read_a_large_request_first) {
  temp_folder folder;
  // Larger than a socket's buffers: a console that waited for the answer before writing all would hang.
  Json::Value request(Json::objectValue);
  request["padding"] = std::string(4 << 20, 'x');
  const std::string helper =
      make_script(folder, "counts", R"sh(printf '{"mode":"%s","bytes":%s}' "$1" "$(wc -c)")sh");
  Json::Value reply;
  ASSERT_TRUE(run_print_helper(helper, "print", request, reply));
  EXPECT_EQ(string_member(reply, "mode"), "print");
  EXPECT_EQ(reply["bytes"].asUInt64(), compact_json(request).size());
}

TEST(print_helper, fails_without_ending_the_console_when_the_helper_does) {
  temp_folder folder;
  Json::Value request(Json::objectValue);
  request["padding"] = std::string(1 << 20, 'x');
  struct {
    const char* name;
    std::string helper;
    std::string why;
  } cases[] = {
      {"crashes", make_script(folder, "crashes", "kill -SEGV $$"),
       "it ended by signal 11 (Segmentation fault)"},
      // Gone before reading: writing the rest of the request must not raise SIGPIPE in the console.
      {"exits at once", make_script(folder, "exits", "exit 3"), "it exited with status 3"},
      {"answers no JSON", make_script(folder, "garbage", "cat >/dev/null; echo 'Segmentation fault'"),
       "its answer is no JSON object"},
      {"answers nothing", make_script(folder, "silent", "cat >/dev/null"), "its answer is no JSON object"},
      {"is missing", folder.file("no-such-helper"), "No such file or directory"},
  };
  for (const auto& c : cases) {
    testing_support::log_capture log;
    Json::Value reply;
    EXPECT_FALSE(run_print_helper(c.helper, "print", request, reply)) << c.name;
    const std::vector<std::string> lines = log.messages_starting("Unable to run the print helper");
    ASSERT_EQ(lines.size(), 1u) << c.name;
    EXPECT_EQ(lines[0], "Unable to run the print helper '" + c.helper + "': " + c.why) << c.name;
  }
}

}  // namespace
}  // namespace quorvane
