// Printing through a real cupsd onto a virtual IPP Everywhere printer (scripts/cups-test-env.sh, started by
// the CTest fixture), checking what arrived and the attributes of the CUPS job.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "delivery.h"
#include "fixtures.h"
#include "spooler/delivery_failure.h"
#include "spooler/spooler_impl.h"
#include "test_support/log_capture.h"

namespace quorvane {
namespace {

using test::make_job;
using test::make_printer;
using test::outcome;
using test::recorder;
using test::temp_folder;

// What the environment script wrote.
struct cups_env {
  bool available = false;
  std::string reason, queue, spool, queue_uri;
};

cups_env read_env() {
  cups_env env;
  const char* path = getenv("QV_CUPS_ENV");
  if (!path) {
    env.reason = "QV_CUPS_ENV is not set (run the test through ctest)";
    return env;
  }
  std::istringstream lines(test::read_file(path));
  std::map<std::string, std::string> values;
  for (std::string line; std::getline(lines, line);) {
    const size_t equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  env.available = values["QV_CUPS_AVAILABLE"] == "1";
  env.reason =
      values.count("QV_CUPS_REASON") ? values["QV_CUPS_REASON"] : "no environment file " + std::string(path);
  env.queue = values["QV_CUPS_QUEUE"];
  env.spool = values["QV_CUPS_SPOOL"];
  env.queue_uri = values["QV_CUPS_QUEUE_URI"];
  return env;
}

// An IPP attribute set as ipptool shows it: name -> value text.
using attributes = std::map<std::string, std::string>;

class cups_print : public test::main_loop_test {
 protected:
  void SetUp() override {
    test::main_loop_test::SetUp();
    env_ = read_env();
    if (!env_.available) GTEST_SKIP() << "CUPS is not available: " << env_.reason;
  }

  // A printer on the test queue with the four feature words.
  model::printer_ptr printer(int32_t color, int32_t landscape, int32_t duplex, int32_t copy) {
    model::printer_ptr p = make_printer(model::action_print, "", "", env_.queue);
    p->setFeature(model::printer_feature::color, color);
    p->setFeature(model::printer_feature::landscape, landscape);
    p->setFeature(model::printer_feature::duplex, duplex);
    p->setFeature(model::printer_feature::copy, copy);
    return p;
  }

  // A job whose title is unique to the test run (the virtual printer names the file after it).
  model::job_ptr job(const std::string& path, const std::string& format, const std::string& title) {
    model::job_ptr j = make_job(path, format, title + "_" + std::to_string(getpid()));
    j->setUser(wide_string::from_narrow("guest"));
    j->setDeviceAddress("192.0.2.7");
    return j;
  }

  outcome print(model::printer_ptr p, model::job_ptr j) {
    outcome o;
    spooler_.print(std::move(p), std::move(j), recorder(o));
    EXPECT_TRUE(wait_for(o, 120)) << "no completion";
    EXPECT_EQ(o.calls, 1);
    return o;
  }

  // The document the virtual printer received for `title`, waited for; empty when none came.
  std::string arrived(const std::string& title) {
    const std::string suffix = "-" + title + "_" + std::to_string(getpid()) + ".pdf";
    for (int tries = 0; tries < 600; ++tries) {
      std::error_code ignored;
      for (const auto& entry : std::filesystem::directory_iterator(env_.spool, ignored)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
            entry.file_size(ignored) > 0) {
          // Let the writer finish the file.
          std::this_thread::sleep_for(std::chrono::milliseconds(200));
          return entry.path().string();
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {};
  }

  // "Pages:" and "Page size:" of pdfinfo.
  static std::string pdfinfo(const std::string& path, const std::string& key) {
    std::istringstream lines(test::run("pdfinfo '" + path + "' 2>&1"));
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind(key + ":", 0) == 0) {
        const size_t start = line.find_first_not_of(' ', key.size() + 1);
        return start == std::string::npos ? "" : line.substr(start);
      }
    }
    return "(no " + key + ")";
  }

  // The attributes of an IPP request run with ipptool; "status" holds the IPP status.
  attributes ipp(const std::string& operation, const std::string& extra, int32_t job_id = 0) {
    temp_folder dir;
    const std::string file = dir.file("request.test");
    test::write_file(file, "{\n OPERATION " + operation +
                               "\n GROUP operation-attributes-tag\n"
                               " ATTR charset attributes-charset utf-8\n"
                               " ATTR naturalLanguage attributes-natural-language en\n"
                               " ATTR uri printer-uri $uri\n" +
                               extra +
                               " ATTR keyword requested-attributes all\n"
                               "}\n");
    const std::string output = test::run("ipptool -v -t -d job_id=" + std::to_string(job_id) + " '" +
                                         env_.queue_uri + "' " + file + " 2>&1");
    attributes found;
    static const std::regex attribute(R"(^\s+([a-z0-9-]+) \([^)]*\) = (.*)$)");
    static const std::regex status(R"(status-code = ([a-z-]+))");
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
      std::smatch m;
      if (std::regex_search(line, m, status)) found["status"] = m[1];
      if (std::regex_match(line, m, attribute)) found.emplace(m[1], m[2]);
    }
    if (!found.count("status")) found["status"] = "(none) " + output;
    return found;
  }

  attributes job_attributes(int32_t job_id) {
    return ipp("Get-Job-Attributes", " ATTR integer job-id $job_id\n ATTR name requesting-user-name root\n",
               job_id);
  }

  // Compares attributes with what is wanted; "" wants the attribute absent.
  static void expect_attributes(const attributes& got, const std::map<std::string, std::string>& want) {
    for (const auto& [name, value] : want) {
      auto found = got.find(name);
      const std::string have = found == got.end() ? "" : found->second;
      EXPECT_EQ(have, value) << name << ": got '" << have << "', want '" << value << "'";
    }
  }

  cups_env env_;
  spooler_impl spooler_;
};

TEST_F(cups_print, prints_a_pdf_with_the_printers_options_owned_by_the_remote_user) {
  temp_folder dir;
  ASSERT_TRUE(test::make_pdf(dir.file("three.pdf"), 3));
  model::job_ptr j = job(dir.file("three.pdf"), "application/pdf", "qv_pdf_options");
  j->setCopies(2);
  j->setOrientation(4);
  j->setDuplex(1);
  j->setIsColor(true);
  j->setMedia(make_counted<model::media>("iso_a5_148x210mm", "A5", 1, 1, 14800, 21000));
  model::printer_ptr p = printer(9, 9, 9, 9);
  const outcome o = print(p, j);
  ASSERT_EQ(o.status, 0) << o.text();
  EXPECT_EQ(o.state, 5);
  ASSERT_GT(o.id, 0);
  EXPECT_EQ(p->reference_count(), 1) << "the print path released the printer when the job ended";
  EXPECT_EQ(j->reference_count(), 1) << "the print path released the job when the job ended";

  const attributes a = job_attributes(o.id);
  ASSERT_EQ(a.at("status"), "successful-ok") << "the job id reported is CUPS's";
  expect_attributes(a, {{"job-id", std::to_string(o.id)},
                        {"job-name", j->name().narrow()},
                        {"job-originating-user-name", "Guest"},
                        {"quorvane-origin", "quorvane://Guest@192.0.2.7"},
                        {"copies", "2"},
                        {"orientation-requested", "landscape"},
                        {"sides", "two-sided-long-edge"},
                        {"print-color-mode", "color"},
                        {"media", "iso_a5_148x210mm"},
                        {"document-format-supplied", "application/pdf"}});
  const std::string document = arrived("qv_pdf_options");
  ASSERT_FALSE(document.empty()) << "nothing arrived at the printer";
  // The printer makes the copies, so one rendering of the three pages went out; for two-sided printing the
  // queue's PDF filter pads an odd page count with a blank back.
  EXPECT_EQ(pdfinfo(document, "Pages"), "4");
}

TEST_F(cups_print, renders_the_copies_and_the_page_range_itself_when_the_printer_makes_no_copies) {
  temp_folder dir;
  ASSERT_TRUE(test::make_pdf(dir.file("three.pdf"), 3));
  model::job_ptr j = job(dir.file("three.pdf"), "application/pdf", "qv_pdf_rendered_copies");
  j->setCopies(2);
  j->setFirstPage(2);
  j->setLastPage(0);
  j->setOrientation(4);
  j->setDuplex(2);
  j->setUser(wide_string::from_narrow("Jane Doe"));
  // Not a size this printer offers: its default paper is used.
  j->setMedia(make_counted<model::media>("custom_quorvane_1x1in", "odd", 0, 0, 2540, 2540));
  const outcome o = print(printer(8, 8, 8, 8), j);
  ASSERT_EQ(o.status, 0) << o.text();
  ASSERT_GT(o.id, 0);
  const attributes printer_attributes = ipp("Get-Printer-Attributes", "");
  const attributes a = job_attributes(o.id);
  expect_attributes(
      a, {{"job-originating-user-name", "Jane Doe"},
          {"quorvane-origin", "quorvane://Jane%20Doe@192.0.2.7"},
          {"print-color-mode", "monochrome"},
          {"orientation-requested", ""},
          {"sides", ""},
          {"media", printer_attributes.count("media-default") ? printer_attributes.at("media-default")
                                                              : "(no media-default)"}});
  EXPECT_TRUE(a.count("copies") == 0 || a.at("copies") == "1") << "copies: " << a.at("copies");
  const std::string document = arrived("qv_pdf_rendered_copies");
  ASSERT_FALSE(document.empty());
  EXPECT_EQ(pdfinfo(document, "Pages"), "4") << "pages 2 and 3, twice";
}

TEST_F(cups_print, prints_a_jpeg_landscape_and_a_png_portrait_at_once) {
  temp_folder dir;
  ASSERT_TRUE(test::make_jpeg(dir.file("wide.jpg"), 400, 300, 0x3366cc));
  ASSERT_TRUE(test::make_png(dir.file("tall.png"), 300, 400, 0xcc6633));
  model::job_ptr wide = job(dir.file("wide.jpg"), "image/jpeg", "qv_jpeg_wide");
  model::job_ptr tall = job(dir.file("tall.png"), "image/png", "qv_png_tall");
  wide->setOrientation(3);
  tall->setOrientation(4);
  tall->setDuplex(2);
  // Both on the one image library at the same time.
  outcome o_wide, o_tall;
  spooler_.print(printer(9, 9, 9, 9), wide, recorder(o_wide));
  spooler_.print(printer(9, 9, 9, 9), tall, recorder(o_tall));
  ASSERT_TRUE(loop_.run_until([&] { return o_wide.calls && o_tall.calls; }, std::chrono::seconds(120)));
  ASSERT_EQ(o_wide.status, 0) << o_wide.text();
  ASSERT_EQ(o_tall.status, 0) << o_tall.text();
  EXPECT_NE(o_wide.id, o_tall.id);
  EXPECT_EQ(wide->orientation(), 4) << "wider than tall";
  EXPECT_EQ(tall->orientation(), 3) << "taller than wide";

  expect_attributes(job_attributes(o_wide.id), {{"orientation-requested", "landscape"},
                                                {"document-format-supplied", "application/pdf"},
                                                {"print-color-mode", "color"}});
  expect_attributes(job_attributes(o_tall.id),
                    {{"orientation-requested", "portrait"}, {"sides", "two-sided-short-edge"}});
  // One page each; the two-sided one gets a blank back from the queue's PDF filter.
  for (auto [title, pages] : {std::pair{"qv_jpeg_wide", "1"}, std::pair{"qv_png_tall", "2"}}) {
    const std::string document = arrived(title);
    ASSERT_FALSE(document.empty()) << title;
    EXPECT_EQ(pdfinfo(document, "Pages"), pages) << title;
    // The paper turns with the image.
    std::istringstream size(pdfinfo(document, "Page size"));
    double width = 0, height = 0;
    std::string by;
    size >> width >> by >> height;
    EXPECT_EQ(width > height, std::string(title) == "qv_jpeg_wide")
        << title << ": " << width << " x " << height;
  }
}

TEST_F(cups_print, hands_over_an_empty_document_for_zero_copies) {
  temp_folder dir;
  ASSERT_TRUE(test::make_pdf(dir.file("one.pdf"), 1));
  model::job_ptr j = job(dir.file("one.pdf"), "application/pdf", "qv_zero_copies");
  j->setCopies(0);
  const outcome o = print(printer(0, 0, 0, 0), j);
  EXPECT_EQ(o.status, 0) << o.text();
  EXPECT_EQ(o.state, 5);
  ASSERT_GT(o.id, 0);
  // The job ends without anything printed: no page, not even a blank one, reaches the printer.
  std::string state;
  for (int tries = 0; tries < 300 && state != "completed" && state != "aborted" && state != "canceled";
       ++tries) {
    state = job_attributes(o.id)["job-state"];
    if (state != "completed") std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(state, "completed");
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(env_.spool, ignored)) {
    EXPECT_EQ(entry.path().filename().string().find(j->name().narrow()), std::string::npos)
        << "got " << entry.path() << ", want nothing printed";
  }
}

// ---- documents over the render budget, and more copies than the console prints

TEST_F(cups_print, refuses_documents_over_the_render_budget_and_too_many_copies_before_any_cups_job) {
  temp_folder dir;
  // Each bomb is a few hundred bytes: only its header or its page size makes it large.
  ASSERT_TRUE(test::make_jpeg_claiming(dir.file("bomb.jpg"), 65535, 65535));
  ASSERT_TRUE(test::make_png_claiming(dir.file("bomb.png"), 30000, 30000));
  ASSERT_TRUE(test::make_pdf(dir.file("huge-page.pdf"), 1, 14400, 14400));
  ASSERT_TRUE(test::make_pdf(dir.file("one.pdf"), 1));
  ASSERT_TRUE(test::make_pdf_sharing_resources(dir.file("shared.pdf"), 1000, 5000));
  ASSERT_TRUE(test::make_pdf(dir.file("101.pdf"), 101, 200, 200));
  const std::string a3 = "more than an A3 page at 600 dpi (7016 x 9921)";
  struct {
    const char* name;
    const char* file;
    const char* format;
    int32_t copies;
    int32_t copy_feature;  // 9: the printer makes the copies, 8: the document is rendered once for each
    std::string reason;    // ending in "...": the line starts with it
    delivery_failure why;
  } cases[] = {
      {"a JPEG claiming 65535 x 65535", "bomb.jpg", "image/jpeg", 1, 9,
       "the image is 65535 x 65535 pixels, " + a3, delivery_failure::document_too_large},
      {"a PNG claiming 30000 x 30000", "bomb.png", "image/png", 1, 9,
       "the image is 30000 x 30000 pixels, " + a3, delivery_failure::document_too_large},
      {"a PDF page of 200 x 200 inches", "huge-page.pdf", "application/pdf", 1, 9,
       "page 1 measures 200 x 200 inches, drawn at 72 dpi as 14400 x 14400 pixels, " + a3,
       delivery_failure::document_too_large},
      {"2,000,000,000 copies rendered by the console", "one.pdf", "application/pdf", 2000000000, 8,
       "2000000000 copies asked for, at most 999 are printed", delivery_failure::too_many_copies},
      {"1,000 copies made by the printer", "one.pdf", "application/pdf", 1000, 9,
       "1000 copies asked for, at most 999 are printed", delivery_failure::too_many_copies},
      {"999 copies of 101 pages rendered by the console", "101.pdf", "application/pdf", 999, 8,
       "999 copies of 101 pages are 100899 pages to render, at most 100000 go into one print document",
       delivery_failure::too_many_pages},
      {"a PDF whose page records take a gigabyte in poppler", "shared.pdf", "application/pdf", 1, 9,
       "laying out pages 1 to ...", delivery_failure::document_too_large},
  };
  const std::string user = "budget" + std::to_string(getpid());
  for (const auto& c : cases) {
    model::job_ptr j = job(dir.file(c.file), c.format, "qv_budget");
    j->setUser(wide_string::from_narrow(user));
    j->setCopies(c.copies);
    testing_support::log_capture log;
    const outcome o = print(printer(1, 1, 1, c.copy_feature), j);
    const std::vector<std::string> lines = log.messages_starting("Unable to print '");
    EXPECT_EQ(o.text(), "(-1, 8, 0)") << c.name;
    EXPECT_EQ(failure_of(*j, o.status), c.why) << c.name;
    ASSERT_EQ(lines.size(), 1u) << c.name;
    std::string want = "Unable to print '" + j->name().narrow() + "': " + c.reason;
    if (want.size() > 3 && want.compare(want.size() - 3, 3, "...") == 0) {
      want.resize(want.size() - 3);
      EXPECT_EQ(lines[0].substr(0, want.size()), want) << c.name << ": got '" << lines[0] << "'";
    } else {
      EXPECT_EQ(lines[0], want) << c.name;
    }
  }
  // CUPS never held a job of this user.
  const attributes a = ipp("Get-Jobs", " ATTR name requesting-user-name " + user +
                                           "\n ATTR boolean my-jobs true\n ATTR keyword which-jobs all\n");
  ASSERT_EQ(a.at("status"), "successful-ok");
  EXPECT_EQ(a.count("job-id"), 0u) << "got job " << a.at("job-id") << ", want none";
}

TEST_F(cups_print, hands_999_copies_to_a_printer_that_makes_them) {
  temp_folder dir;
  ASSERT_TRUE(test::make_pdf(dir.file("one.pdf"), 1));
  model::job_ptr j = job(dir.file("one.pdf"), "application/pdf", "qv_999_copies");
  j->setCopies(999);
  const outcome o = print(printer(1, 1, 1, 9), j);
  ASSERT_EQ(o.status, 0) << o.text();
  expect_attributes(job_attributes(o.id), {{"copies", "999"}});
}

TEST_F(cups_print, reports_a_queue_that_does_not_exist_as_client_error_not_found) {
  temp_folder dir;
  ASSERT_TRUE(test::make_pdf(dir.file("one.pdf"), 1));
  // An empty name would give CUPS's default destination: it names no queue either.
  for (const std::string& name : {"quorvane-no-such-queue-" + std::to_string(getpid()), std::string()}) {
    model::printer_ptr p = printer(1, 1, 1, 1);
    p->setName(wide_string::from_narrow(name));
    model::job_ptr j = job(dir.file("one.pdf"), "application/pdf", "qv_no_queue");
    const outcome o = print(p, j);
    EXPECT_EQ(o.text(), "(1030, 8, 0)") << "'" << name << "': IPP client-error-not-found";
    EXPECT_EQ(failure_of(*j, o.status), delivery_failure::printer_gone) << "'" << name << "'";
  }
}

TEST_F(cups_print, cancels_the_cups_job_when_rendering_fails_after_it_was_created) {
  temp_folder dir;
  ASSERT_TRUE(test::make_pdf(dir.file("one.pdf"), 1));
  // Page 5 of a one-page document: the file loads, the job is created, then there is nothing to render.
  model::job_ptr j = job(dir.file("one.pdf"), "application/pdf", "qv_abandoned");
  j->setFirstPage(5);
  const std::string user = "abandon" + std::to_string(getpid());
  j->setUser(wide_string::from_narrow(user));
  const outcome o = print(printer(1, 1, 1, 1), j);
  EXPECT_EQ(o.text(), "(-1, 8, 0)");
  // The only job of this user is the abandoned one, and CUPS no longer holds it as pending.
  const attributes a = ipp("Get-Jobs", " ATTR name requesting-user-name " + user +
                                           "\n ATTR boolean my-jobs true\n ATTR keyword which-jobs all\n");
  ASSERT_EQ(a.at("status"), "successful-ok");
  expect_attributes(a, {{"job-originating-user-name", user}, {"job-state", "canceled"}});
}

// Runs `done` at the end of the scope.
struct at_exit {
  std::function<void()> done;
  ~at_exit() { done(); }
};

TEST_F(cups_print, deletes_a_queued_job_from_cups) {
  temp_folder dir;
  ASSERT_TRUE(test::make_pdf(dir.file("one.pdf"), 1));
  model::printer_ptr p = printer(1, 1, 1, 1);
  model::job_ptr j = job(dir.file("one.pdf"), "application/pdf", "qv_deleted");
  // A stopped queue keeps the job queued until it is deleted (jobs of other tests just wait a moment).
  ASSERT_EQ(system(("cupsdisable '" + env_.queue + "'").c_str()), 0);
  at_exit enable{[this] { EXPECT_EQ(system(("cupsenable '" + env_.queue + "'").c_str()), 0); }};
  const outcome o = print(p, j);
  ASSERT_EQ(o.status, 0) << o.text();
  ASSERT_EQ(job_attributes(o.id)["job-state"], "pending");
  j->setPlatformID(o.id);
  int calls = 0;
  int32_t error = -99;
  auto record = [&](int32_t e) {
    ++calls;
    error = e;
  };
  spooler_.deleteJob(p, j, record);
  EXPECT_EQ(calls, 0) << "the deletion runs on a worker";
  ASSERT_TRUE(loop_.run_until([&] { return calls > 0; }, std::chrono::seconds(60)));
  EXPECT_EQ(error, 0);
  EXPECT_EQ(job_attributes(o.id).at("status"), "client-error-not-found") << "the job is cancelled and purged";

  // CUPS no longer knows the job.
  calls = 0;
  spooler_.deleteJob(p, j, record);
  ASSERT_TRUE(loop_.run_until([&] { return calls > 0; }, std::chrono::seconds(60)));
  EXPECT_EQ(error, 1030);
}

}  // namespace
}  // namespace quorvane
