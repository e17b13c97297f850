// Devices printing to the real quorvane-service over IPP: CUPS's own ipptool sends the jobs to the
// service's IPP printers on a loopback port, and the console's own `server_stub` answers them.
#include <arpa/inet.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <tuple>

#include "core/json_text.h"
#include "image_documents.h"
#include "ipp_fixture.h"
#include "raster_documents.h"
#include "test_support/temporary_folder.h"

namespace quorvane::print_service::testing {
namespace {

using namespace std::chrono_literals;

// `pages` pages of A6 at 300 dpi with a dark band, as PWG raster or Apple raster (URF), in `type`
// (sgray_8, srgb_8, ...).
bool write_raster(const std::string& path, cups_mode_t mode, int pages, const char* type = "sgray_8") {
  const page_spec page{
      type, 1240, 1748, 300, 300, [](unsigned x, unsigned y, unsigned byte) {
        return static_cast<unsigned char>(y >= 200 && y < 260 && x > 100 ? 30 + 60 * byte : 255);
      }};
  return write_file(path, write_with_cups(mode, std::vector<page_spec>(static_cast<size_t>(pages), page)));
}

class IppIntake : public ipp_console_test {
 protected:
  std::string system_uri() const {
    return "ipp://127.0.0.1:" + std::to_string(service_->ipp_port()) + "/ipp/system";
  }

  // Runs ipptool on `test_file` (of print_service/tests/ipp) with `document` and the variables `defines`,
  // answering prints meanwhile. Its exit status (0: every test of the file passed); its report in `report`.
  int ipptool(const std::string& test_file, const std::string& document,
              const std::map<std::string, std::string>& defines, std::string& report) {
    std::vector<std::string> argv = {"/usr/bin/ipptool", "-t", "-T", "20"};
    const std::string uri = uri_.empty() ? printer_uri() : uri_;
    if (!document.empty()) argv.insert(argv.end(), {"-f", document});
    for (const auto& [name, value] : defines) argv.insert(argv.end(), {"-d", name + "=" + value});
    argv.push_back(uri);
    argv.push_back(std::string(QUORVANE_IPP_TESTS) + "/" + test_file);
    const int status = run_ipptool(argv, report);
    // ipptool reports a test file it cannot read on its standard error and still exits 0.
    EXPECT_EQ(report.find("ipptool: "), std::string::npos) << report;
    return status;
  }

  // Runs ipptool with `argv`, answering prints meanwhile; as `ipptool`.
  int run_ipptool(const std::vector<std::string>& argv, std::string& report,
                  std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const std::string output = root_.path() + "/ipptool-" + std::to_string(++tool_runs_) + ".txt";
    child_process tool;
    EXPECT_TRUE(tool.spawn(argv, {"HOME=" + (tool_home_.empty() ? home_ : tool_home_)}, output));
    EXPECT_TRUE(run_until([&] { return tool.finished(); }, limit)) << "ipptool did not end";
    report = read_file(output);
    return tool.exit_status();
  }

  // Print-Job of `file` in `format` with plain options, to end in IPP job state `state`.
  int plain_print_job(const std::string& file, const char* format, const char* name, int state,
                      std::string& report) {
    return ipptool("print-job.test", file,
                   {{"format", format},
                    {"job_name", name},
                    {"copies", "1"},
                    {"sides", "one-sided"},
                    {"media", "iso_a4_210x297mm"},
                    {"color_mode", "monochrome"},
                    {"orientation", "3"},
                    {"page_ranges", "1-1"},
                    {"quality", "4"},
                    {"scaling", "auto"},
                    {"state", std::to_string(state)}},
                   report);
  }

  int tool_runs_ = 0;
  std::string tool_home_;  // ipptool's HOME when not the service's
  std::string uri_;        // the printer URI ipptool is given when not the plain ipp one
};

TEST_F(IppIntake, PrinterAttributesFollowTheStoreAndTheUuidSurvivesARestart) {
  std::string report;
  // Phones list the printer by its name and show its description: the display name without the hidden
  // character before it, never the uuid PAPPL knows it by.
  const std::map<std::string, std::string> expected = {
      {"name", "Open On My PC @ testhost"},
      {"info", "Open On My PC @ testhost"},
      {"location", "Study, first floor"},
      {"make_and_model", "Quorvane Virtual Printer"},
      {"media_default", "iso_a4_210x297mm"},
      {"media_regex", "/^(iso_a4_210x297mm|iso_a5_148x210mm)$$/"},
      {"color", "color"},
      {"sides", "two-sided-long-edge"},
  };
  ASSERT_EQ(ipptool("printer-attributes.test", "", expected, report), 0) << report;
  std::smatch uuid;
  ASSERT_TRUE(std::regex_search(report, uuid, std::regex("printer-uuid \\(uri\\) = (urn:uuid:[0-9a-f-]+)")))
      << report;
  const std::string first_uuid = uuid[1];

  // The same port after a restart gives the same printer-uuid.
  const int ipp_port = service_->ipp_port();
  console_.reset();
  ASSERT_EQ(service_->stop(), 0);
  service_->set_ipp_arguments(
      {"--ipp-port", std::to_string(ipp_port), "--ipp-listen", "loopback", "--no-dnssd"});
  ASSERT_TRUE(service_->start()) << read_file(service_->log_file());
  console_ = std::make_unique<console_peer>();
  ASSERT_EQ(console_->connect(service_->port()), 0);
  ASSERT_EQ(ipptool("printer-attributes.test", "", expected, report), 0) << report;
  ASSERT_TRUE(std::regex_search(report, uuid, std::regex("printer-uuid \\(uri\\) = (urn:uuid:[0-9a-f-]+)")));
  EXPECT_EQ(uuid[1], first_uuid);

  // Colour and duplex off, another default medium: the printer changes at once.
  Json::Value plain = printer_;
  plain["color"] = 8;
  plain["duplex"] = 8;
  plain["media"][0]["enabled"] = false;
  plain["media"][2]["enabled"] = true;
  update_printer(plain);
  ASSERT_EQ(ipptool("printer-attributes.test", "",
                    {{"name", "Open On My PC @ testhost"},
                     {"info", "Open On My PC @ testhost"},
                     {"location", "Study, first floor"},
                     {"make_and_model", "Quorvane Virtual Printer"},
                     {"media_default", "iso_a5_148x210mm"},
                     {"media_regex", "/^(iso_a5_148x210mm|na_letter_8.5x11in)$$/"},
                     {"color", "monochrome"},
                     {"sides", "one-sided"}},
                    report),
            0)
      << report;
}

// CUPS's IPP Everywhere suite in `folder`, with the sample documents its tests print: CUPS ships them apart
// from the suite and no Debian package has them, and ipptool reads every file a test file names before it
// runs its tests (a missing one ends the file there). PDF and JPEG documents; PWG raster samples at 300 dpi
// in sgray-8 and srgb-8, what the printers take, drawn by libcups; the other samples are empty files, whose
// tests the suite skips for a printer that offers neither their resolution nor their type. PostScript is
// not offered either: its documents are never sent.
void write_ipp_everywhere_suite(const std::string& folder, const std::string& pdf) {
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  for (const char* file : {"ipp-1.1.test", "ipp-2.0.test", "ipp-everywhere.test"}) {
    ASSERT_TRUE(write_file(folder + "/" + file, read_file(std::string("/usr/share/cups/ipptool/") + file)))
        << file;
  }
  for (const char* file : {"document-a4.pdf", "document-letter.pdf"})
    ASSERT_TRUE(write_file(folder + "/" + file, pdf));
  for (const char* file : {"document-a4.ps", "document-letter.ps"}) {
    ASSERT_TRUE(write_file(folder + "/" + file, "%!PS\nshowpage\n"));
  }
  for (const char* file : {"color.jpg", "gray.jpg"}) ASSERT_TRUE(write_jpeg(folder + "/" + file));
  const std::string suite = read_file(folder + "/ipp-everywhere.test");
  const std::regex sample(
      "pwg-raster-samples-([0-9]+)dpi/([a-z0-9-]+)/([a-z.]+)-(4x6|a4|letter)-[^\\s\"]+\\.pwg");
  std::set<std::string> written;
  for (std::sregex_iterator it(suite.begin(), suite.end(), sample), end; it != end; ++it) {
    const std::smatch& m = *it;
    if (!written.insert(m[0]).second) continue;
    const std::string path = folder + "/" + m[0].str();
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::string content;
    if (m[1] == "300" && (m[2] == "sgray-8" || m[2] == "srgb-8")) {
      const unsigned width = m[4] == "4x6" ? 1200 : m[4] == "a4" ? 2480 : 2550;
      const unsigned height = m[4] == "4x6" ? 1800 : m[4] == "a4" ? 3508 : 3300;
      const page_spec page{
          m[2] == "sgray-8" ? "sgray_8" : "srgb_8",
          width,
          height,
          300,
          300,
          [](unsigned x, unsigned y, unsigned byte) {
            return static_cast<unsigned char>((y / 300 + x / 300) % 2 ? 40 + 50 * byte : 255);
          }};
      content = write_with_cups(CUPS_RASTER_WRITE_PWG, {page});
    }
    ASSERT_TRUE(write_file(path, content)) << path;
  }
  ASSERT_GT(written.size(), 100u) << "the suite names its raster samples as this test expects";
}

TEST_F(IppIntake, CupsIppEverywhereSuitePassesEveryTest) {
  // CUPS's own suite (cups-ipp-utils) with the sample PDF of the cups-filters package, as IPP Everywhere's
  // self-certification runs it, and the documents its tests print: its jobs reach the console, which
  // delivers them.
  const std::string folder = root_.path() + "/suite";
  write_ipp_everywhere_suite(folder, read_file("/usr/share/cups/data/default.pdf"));
  if (HasFatalFailure()) return;
  answer_for = [](const model::job&) { return answer{0, 9, 0}; };
  observe();
  std::string report;
  const int status =
      run_ipptool({"/usr/bin/ipptool", "-V", "2.0", "-t", "-T", "30", "-f",
                   "/usr/share/cups/data/default.pdf", printer_uri(), folder + "/ipp-everywhere.test"},
                  report, /*limit=*/std::chrono::seconds(400));
  EXPECT_EQ(status, 0) << report;
  EXPECT_EQ(report.find("[FAIL]"), std::string::npos) << report;
  EXPECT_EQ(report.find("ipptool: "), std::string::npos) << "every file of the suite was read\n" << report;
  // The suite ran to its end, and the raster samples the printers take were printed in each compression.
  EXPECT_NE(report.find(", 0 failed,"), std::string::npos) << report;
  for (const char* test : {"Print document-a4 @ 300dpi, sgray-8 +\\[PASS\\]",
                           "Print onepage-letter @ 300dpi, srgb-8, gzip +\\[PASS\\]",
                           "Print color\\.jpg-4x6 @ 300dpi, srgb-8, deflate +\\[PASS\\]"}) {
    EXPECT_TRUE(std::regex_search(report, std::regex(test))) << test << "\n" << report;
  }
  EXPECT_GE(answered_, 30u);
}

// One document per format, each with the end the console gives it.
struct format_case {
  const char* label;
  const char* file;
  const char* format;     // what the device sends
  const char* delivered;  // the format the console receives
  answer console_answer;
  int ipp_state;  // the IPP job's end
};

TEST_F(IppIntake, EveryFormatReachesTheConsoleAndEndsAsTheConsoleAnswers) {
  const std::string pdf = document("report.pdf", one_page_pdf());
  const std::string png = root_.path() + "/photo.png";
  const std::string jpeg = root_.path() + "/photo.jpg";
  const std::string pwg = root_.path() + "/pages.pwg";
  const std::string urf = root_.path() + "/pages.urf";
  ASSERT_TRUE(write_png(png));
  ASSERT_TRUE(write_jpeg(jpeg));
  ASSERT_TRUE(write_raster(pwg, CUPS_RASTER_WRITE_PWG, 2));
  ASSERT_TRUE(write_raster(urf, CUPS_RASTER_WRITE_APPLE, 1, "srgb_8"));
  observe();

  const format_case cases[] = {
      // Delivered.
      {"pdf", pdf.c_str(), "application/pdf", "application/pdf", {0, 9, 41}, 9},
      {"jpeg", jpeg.c_str(), "image/jpeg", "image/jpeg", {0, 9, 42}, 9},
      {"pwg raster", pwg.c_str(), "image/pwg-raster", "application/pdf", {0, 9, 43}, 9},
      {"urf", urf.c_str(), "image/urf", "application/pdf", {0, 9, 44}, 9},
      // Not delivered: aborted with the status; cancelled at the console.
      {"png aborted", png.c_str(), "image/png", "image/png", {5, 8, 0}, 8},
      {"pdf cancelled", pdf.c_str(), "application/pdf", "application/pdf", {0, 7, 0}, 7},
      // Handed to a system printer, whose queue holds it as job 106: delivered.
      {"pdf handed to a printer", pdf.c_str(), "application/pdf", "application/pdf", {0, 5, 106}, 9},
      // Whatever the state, a status other than 0 is no delivery (an application that cannot be started).
      {"pdf not opened", pdf.c_str(), "application/pdf", "application/pdf", {-1, 9, 0}, 8},
  };
  for (const format_case& c : cases) {
    SCOPED_TRACE(c.label);
    answer_for = [&](const model::job&) { return c.console_answer; };
    const size_t before = console_->record().prints.size();
    std::string report;
    const int status = ipptool("print-job.test", c.file,
                               {{"format", c.format},
                                {"job_name", c.label},
                                {"copies", "2"},
                                {"sides", "two-sided-long-edge"},
                                {"media", "iso_a5_148x210mm"},
                                {"color_mode", "color"},
                                {"orientation", "4"},
                                {"page_ranges", "2-3"},
                                {"quality", "5"},
                                {"scaling", "none"},
                                {"state", std::to_string(c.ipp_state)}},
                               report);
    ASSERT_EQ(status, 0) << report;
    ASSERT_EQ(console_->record().prints.size(), before + 1);
    const auto& print = console_->record().prints.back();
    const model::job& job = *print.job;
    EXPECT_EQ(job.name().narrow(), c.label);
    EXPECT_EQ(job.user().narrow(), "phone-user");
    EXPECT_EQ(job.deviceAddress(), "127.0.0.1");
    EXPECT_EQ(job.printerID(), printer_uuid_);
    EXPECT_EQ(job.format().narrow(), c.delivered);
    EXPECT_EQ(job.copies(), 2);
    EXPECT_EQ(job.duplex(), 1);
    EXPECT_EQ(job.orientation(), 4);
    EXPECT_TRUE(job.isColor());
    EXPECT_EQ(job.firstPage(), 2);
    EXPECT_EQ(job.lastPage(), 3);
    EXPECT_EQ(job.printQuality(), 5);
    EXPECT_FALSE(job.fitToPage());
    ASSERT_TRUE(job.media());
    EXPECT_EQ(job.media()->name(), "iso_a5_148x210mm");
    EXPECT_EQ(job.media()->displayName(), "A5");
    EXPECT_EQ(job.media()->width(), 14800);
    EXPECT_GT(job.timeAtCreation(), 0);
    ASSERT_EQ(delivered_.size(), console_->record().prints.size());
    const std::string& delivered = delivered_.back();
    if (std::string(c.format) == c.delivered) {
      EXPECT_EQ(delivered, read_file(c.file)) << "the console gets the document as the device sent it";
    } else {
      EXPECT_EQ(delivered.rfind("%PDF-", 0), 0u) << "raster reaches the console as PDF";
      expect_pdf_shows_raster(delivered, read_file(c.file));
    }
    if (c.ipp_state == 8) {
      EXPECT_NE(report.find("status " + std::to_string(std::get<0>(c.console_answer))), std::string::npos)
          << report;
    }
  }
}

TEST_F(IppIntake, CreateJobWithSendDocumentIsDelivered) {
  observe();
  answer_for = [](const model::job&) { return answer{0, 9, 7}; };
  const std::string pdf = document("letter.pdf", one_page_pdf());
  std::string report;
  ASSERT_EQ(ipptool("create-job.test", pdf,
                    {{"format", "application/pdf"}, {"job_name", "Letter"}, {"state", "9"}}, report),
            0)
      << report;
  ASSERT_EQ(console_->record().prints.size(), 1u);
  EXPECT_EQ(console_->record().prints[0].job->user().narrow(), "tablet-user");
  EXPECT_EQ(console_->record().prints[0].job->name().narrow(), "Letter");
}

TEST_F(IppIntake, ACancelWhileTheJobWaitsNeverReachesTheConsole) {
  const std::string pdf = document("doc.pdf", one_page_pdf());
  std::string report;
  ASSERT_EQ(ipptool("cancel-waiting.test", pdf, {}, report), 0) << report;
  // Cancelled while it waits inside PAPPL behind a job waiting for a console: stored, then cancelled.
  ASSERT_EQ(ipptool("print-job-queued.test", pdf, {}, report), 0) << report;
  ASSERT_EQ(ipptool("cancel-pending.test", pdf, {}, report), 0) << report;
  answer_for = [](const model::job&) { return answer{0, 9, 1}; };
  observe();
  ASSERT_TRUE(run_until([&] { return !console_->record().prints.empty(); }));
  // Only the job left goes out.
  ASSERT_TRUE(console_->settle(loop_));
  ASSERT_EQ(console_->record().prints.size(), 1u);
  EXPECT_EQ(console_->record().prints[0].job->name().narrow(), "kept across a restart");
}

TEST_F(IppIntake, DevicesCannotManageThePrinters) {
  std::string report;
  ASSERT_EQ(ipptool("administration-refused.test", "", {{"system_uri", system_uri()}}, report), 0) << report;
  // The printer still prints.
  observe();
  answer_for = [](const model::job&) { return answer{0, 9, 1}; };
  const std::string pdf = document("doc.pdf", one_page_pdf());
  ASSERT_EQ(plain_print_job(pdf, "application/pdf", "after", 9, report), 0) << report;
  EXPECT_EQ(console_->record().prints.size(), 1u);
}

TEST_F(IppIntake, BadInputGetsACleanIppError) {
  observe();
  answer_for = [](const model::job&) { return answer{0, 9, 1}; };
  std::string report;
  ASSERT_EQ(ipptool("validate-job.test", "", {}, report), 0) << report;

  // A PDF cut short is refused by the service, never handed to the console.
  std::string cut = one_page_pdf();
  cut.resize(cut.size() / 2);
  const std::string truncated = document("cut.pdf", cut);
  ASSERT_EQ(plain_print_job(truncated, "application/pdf", "cut", 8, report), 0) << report;
  EXPECT_NE(report.find("cut short"), std::string::npos) << report;

  // Raster cut short inside a page (PAPPL reads on past the document's end: the device's connection must
  // not wait for more), and raster in a layout that is not converted (CMYK), are aborted with the reason
  // and never reach the console.
  const std::string cut_raster = root_.path() + "/cut.pwg";
  ASSERT_TRUE(write_raster(cut_raster, CUPS_RASTER_WRITE_PWG, 2));
  const std::string whole_raster = read_file(cut_raster);
  ASSERT_TRUE(write_file(cut_raster, whole_raster.substr(0, whole_raster.size() - 10)));
  ASSERT_EQ(plain_print_job(cut_raster, "image/pwg-raster", "cut raster", 8, report), 0) << report;
  EXPECT_NE(report.find("cut short on page 2"), std::string::npos) << report;
  const std::string cmyk = root_.path() + "/cmyk.pwg";
  ASSERT_TRUE(write_raster(cmyk, CUPS_RASTER_WRITE_PWG, 1, "cmyk_8"));
  ASSERT_EQ(plain_print_job(cmyk, "image/pwg-raster", "cmyk", 8, report), 0) << report;
  EXPECT_NE(report.find("are not taken"), std::string::npos) << report;
  // A layout that is not converted on a later page: the pages before it are not delivered either.
  const std::string mixed = root_.path() + "/mixed.pwg";
  const auto white = [](unsigned, unsigned, unsigned) { return static_cast<unsigned char>(255); };
  ASSERT_TRUE(
      write_file(mixed, write_with_cups(CUPS_RASTER_WRITE_PWG, {{"sgray_8", 100, 100, 300, 300, white},
                                                                {"cmyk_8", 100, 100, 300, 300, white}})));
  ASSERT_EQ(plain_print_job(mixed, "image/pwg-raster", "mixed", 8, report), 0) << report;
  EXPECT_NE(report.find("are not taken"), std::string::npos) << report;

  // Formats the printers do not take are refused before a job exists, with the format returned.
  const std::string text = document("notes.txt", "plain text\n");
  ASSERT_EQ(ipptool("print-job-unsupported-format.test", text, {{"format", "text/plain"}}, report), 0)
      << report;
  ASSERT_EQ(ipptool("validate-job-refused.test", "", {{"format", "application/postscript"}}, report), 0)
      << report;

  // A disabled printer is no longer there for devices.
  Json::Value disabled = printer_;
  disabled["enabled"] = false;
  update_printer(disabled);
  const std::string pdf = document("doc.pdf", one_page_pdf());
  ASSERT_EQ(ipptool("print-job-no-printer.test", pdf, {{"format", "application/pdf"}}, report), 0) << report;
  EXPECT_TRUE(console_->record().prints.empty());
}

// A printer whose uuid holds a NUL byte, in a store written before such uuids were refused, is not offered:
// PAPPL would name it by the text before the NUL, like a printer of that uuid, and deleting one of the two
// would free the other.
TEST_F(IppIntake, AStoredUuidWithANulByteIsNotOffered) {
  console_.reset();
  ASSERT_EQ(service_->stop(), 0);
  const std::string uuid("look-alike\0z", 12);
  const std::string json = compact_json(console_printer_json(uuid));
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((root_.path() + "/data/service.db").c_str(), &db), SQLITE_OK);
  sqlite3_stmt* insert = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO printer(uuid, json) VALUES(?, ?)", -1, &insert, nullptr),
            SQLITE_OK);
  sqlite3_bind_text(insert, 1, uuid.data(), static_cast<int>(uuid.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(insert, 2, json.data(), static_cast<int>(json.size()), SQLITE_TRANSIENT);
  EXPECT_EQ(sqlite3_step(insert), SQLITE_DONE);
  sqlite3_finalize(insert);
  sqlite3_close(db);

  ASSERT_TRUE(service_->start()) << read_file(service_->log_file());
  console_ = std::make_unique<console_peer>();
  ASSERT_EQ(console_->connect(service_->port()), 0);
  std::string report;
  uri_ = printer_uri("look-alike");
  const std::string pdf = document("doc.pdf", one_page_pdf());
  EXPECT_EQ(ipptool("print-job-no-printer.test", pdf, {{"format", "application/pdf"}}, report), 0) << report;
  // The printer beside it is offered as before.
  uri_.clear();
  EXPECT_EQ(ipptool("validate-job.test", "", {}, report), 0) << report;
}

TEST_F(IppIntake, EveryAcceptedJobIsStoredSoAStopLosesNoneAndARestartDeliversThem) {
  const std::string pdf = document("kept.pdf", one_page_pdf());
  std::string report;
  // No console observes: the first job waits for one inside the service, the later ones wait inside
  // PAPPL, which takes one job of a printer at a time. Each is stored once it is accepted.
  ASSERT_EQ(ipptool("print-job-queued.test", pdf, {}, report), 0) << report;
  for (const char* name : {"second", "third"}) {
    ASSERT_EQ(ipptool("print-job-accepted.test", pdf, {{"job_name", name}}, report), 0) << report;
  }
  console_.reset();
  ASSERT_EQ(service_->stop(), 0);
  EXPECT_NE(read_file(service_->log_file()).find("IPP printers stopped"), std::string::npos);
  ASSERT_TRUE(service_->start()) << read_file(service_->log_file());
  console_ = std::make_unique<console_peer>();
  ASSERT_EQ(console_->connect(service_->port()), 0);
  answer_for = [](const model::job&) { return answer{0, 9, 3}; };
  observe();
  ASSERT_TRUE(run_until([&] { return console_->record().prints.size() >= 3; }));
  std::vector<std::string> names;
  for (const auto& print : console_->record().prints) names.push_back(print.job->name().narrow());
  EXPECT_EQ(names, (std::vector<std::string>{"kept across a restart", "second", "third"}));
  ASSERT_EQ(delivered_.size(), 3u);
  for (const std::string& delivered : delivered_) EXPECT_EQ(delivered, one_page_pdf());
  // Each job went out once.
  ASSERT_TRUE(console_->settle(loop_));
  EXPECT_EQ(console_->record().prints.size(), 3u);
}

TEST_F(IppIntake, IppsWorksWithACertificateKeptInTheDataFolder) {
  // ipptool trusts the certificate on first use and keeps it under its own HOME: another one.
  tool_home_ = root_.path() + "/client-home";
  ASSERT_EQ(mkdir(tool_home_.c_str(), 0700), 0);
  uri_ = "ipps" + printer_uri().substr(3);
  std::string report;
  ASSERT_EQ(ipptool("printer-attributes.test", "",
                    {{"name", "Open On My PC @ testhost"},
                     {"info", "Open On My PC @ testhost"},
                     {"location", "Study, first floor"},
                     {"make_and_model", "Quorvane Virtual Printer"},
                     {"media_default", "iso_a4_210x297mm"},
                     {"media_regex", "/^(iso_a4_210x297mm|iso_a5_148x210mm)$$/"},
                     {"color", "color"},
                     {"sides", "two-sided-long-edge"}},
                    report),
            0)
      << report;
  const std::string tls = service_->data_folder() + "/tls";
  struct stat folder {};
  ASSERT_EQ(stat(tls.c_str(), &folder), 0);
  EXPECT_EQ(folder.st_mode & 0777, 0700u);
  std::set<std::string> kinds;
  for (const auto& entry : std::filesystem::directory_iterator(tls)) kinds.insert(entry.path().extension());
  EXPECT_EQ(kinds, (std::set<std::string>{".crt", ".key"}));
  EXPECT_FALSE(std::filesystem::exists(home_ + "/.cups")) << "nothing is written under the service's HOME";
}

// The request bytes of a Print-Job of a PDF to `uri`, without its document.
std::string print_job_request(const std::string& uri) {
  ipp_t* request = ippNewRequest(IPP_OP_PRINT_JOB);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "phone-user");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, "gone mid-document");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, "application/pdf");
  std::string bytes;
  ippWriteIO(
      &bytes,
      [](void* context, ipp_uchar_t* buffer, size_t length) -> ssize_t {
        static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(buffer), length);
        return static_cast<ssize_t>(length);
      },
      1, nullptr, request);
  ippDelete(request);
  return bytes;
}

TEST_F(IppIntake, ADeviceThatGoesAwayMidDocumentLeavesNothingBehind) {
  observe();
  answer_for = [](const model::job&) { return answer{0, 9, 1}; };
  // A Print-Job whose chunked body holds the request and the first 100 KB of a 200 KB PDF; then the
  // connection closes.
  std::string pdf = "%PDF-1.4\n";
  while (pdf.size() < 200000) pdf += "% filler line of a large document\n";
  const std::string body = print_job_request(printer_uri()) + pdf.substr(0, 100000);
  const std::string resource = printer_uri().substr(printer_uri().find("/ipp/"));
  char chunk_size[32];
  std::snprintf(chunk_size, sizeof(chunk_size), "%zx\r\n", body.size());
  const std::string message =
      "POST " + resource + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(service_->ipp_port()) +
      "\r\nContent-Type: application/ipp\r\nTransfer-Encoding: chunked\r\n\r\n" + chunk_size + body + "\r\n";
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(service_->ipp_port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0) << strerror(errno);
  ASSERT_EQ(send(fd, message.data(), message.size(), MSG_NOSIGNAL), static_cast<ssize_t>(message.size()));
  close(fd);

  // PAPPL aborts that job once the connection is gone and removes its file first; the service goes on.
  std::string report;
  ASSERT_EQ(ipptool("first-job-aborted.test", "", {}, report), 0) << report;
  EXPECT_EQ(files_in(service_->data_folder() + "/ipp-spool"), std::vector<std::string>{});
  const std::string complete = document("complete.pdf", one_page_pdf());
  ASSERT_EQ(plain_print_job(complete, "application/pdf", "complete", 9, report), 0) << report;
  ASSERT_EQ(console_->record().prints.size(), 1u) << "only the complete job reached the console";
  EXPECT_EQ(console_->record().prints[0].job->name().narrow(), "complete");
  ASSERT_TRUE(console_->settle(loop_));
  EXPECT_EQ(files_in(service_->data_folder() + "/spool"), std::vector<std::string>{});
}

TEST_F(IppIntake, ADocumentLargerThanTheSpoolsRoomIsRefusedBeforeItFillsTheDisk) {
  if (geteuid() != 0) GTEST_SKIP() << "the IPP spool goes on a small file system of its own, mounted as root";
  restart_with_small_ipp_spool();
  if (HasFatalFailure()) return;
  const std::string spool = service_->data_folder() + "/ipp-spool";
  answer_for = [](const model::job&) { return answer{0, 9, 1}; };

  const std::string pdf = oversized_pdf();
  const std::string big = document("big.pdf", pdf);
  const std::string small = document("small.pdf", one_page_pdf());
  struct size_case {
    const char* label;
    const std::string* file;
    const char* k_octets;  // what the device declares
  };
  const size_case cases[] = {
      {"declared larger than the room, refused before reading", &small, "40960"},
      {"declared small, stopped while it is read", &big, "1"},
  };
  for (const size_case& c : cases) {
    SCOPED_TRACE(c.label);
    std::string report;
    ASSERT_EQ(ipptool("print-job-too-large.test", *c.file, {{"k_octets", c.k_octets}}, report), 0) << report;
    EXPECT_EQ(files_in(spool), std::vector<std::string>{}) << "nothing of it is left";
    struct statvfs fs {};
    ASSERT_EQ(statvfs(spool.c_str(), &fs), 0);
    EXPECT_GE(fs.f_bavail * fs.f_frsize, uint64_t{15} << 20) << "the reserve stayed free";
  }
  // A document that fits still prints.
  std::string report;
  ASSERT_EQ(plain_print_job(small, "application/pdf", "fits", 9, report), 0) << report;
  ASSERT_EQ(console_->record().prints.size(), 1u);
  EXPECT_EQ(console_->record().prints[0].job->name().narrow(), "fits");
}

TEST_F(IppIntake, ThePrintingDeviceIsRecordedAndSentToConsoles) {
  observe();
  answer_for = [](const model::job&) { return answer{0, 9, 1}; };
  const std::string pdf = document("doc.pdf", one_page_pdf());
  std::string report;
  ASSERT_EQ(ipptool("create-job.test", pdf,
                    {{"format", "application/pdf"}, {"job_name", "x"}, {"state", "9"}}, report),
            0)
      << report;
  ASSERT_TRUE(run_until([&] { return !console_->record().devices.empty(); }));
  const auto& devices = console_->record().devices.back();
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0]->host().narrow(), "127.0.0.1");
  EXPECT_FALSE(devices[0]->uuid().empty());
  EXPECT_GT(devices[0]->lastUsed(), 0);

  // A console that observes later hears of the device with the printers.
  console_peer later;
  ASSERT_EQ(later.connect(service_->port()), 0);
  later.authenticate();
  later.observe(true);
  ASSERT_TRUE(run_until([&] { return !later.record().devices.empty(); }));
  EXPECT_EQ(later.record().devices[0].size(), 1u);
}

// --ipp-port 0 listens on a port the kernel chose: one from the kernel's range for such ports (PAPPL's own
// choice would count up from 8000 + uid % 1000), on IPv4 and IPv6 alike, written to DIR/ipp.port.
TEST(IppPort, ZeroListensOnAPortTheKernelChooses) {
  testing_support::temporary_folder root;
  service_process service(root.path() + "/data", {no_cups, "HOME=" + root.path()});
  service.set_ipp_arguments({"--ipp-listen", "loopback", "--no-dnssd"});
  service.set_extra_arguments({"--ipp-port", "0"});
  ASSERT_TRUE(service.start()) << read_file(service.log_file());
  const int port = service.ipp_port();
  int low = 0, high = 0;
  ASSERT_EQ(std::sscanf(read_file("/proc/sys/net/ipv4/ip_local_port_range").c_str(), "%d %d", &low, &high),
            2);
  EXPECT_GE(port, low);
  EXPECT_LE(port, high);
  const std::string log = read_file(service.log_file());
  EXPECT_NE(log.find("Listening for connections on '127.0.0.1:" + std::to_string(port) + "'"),
            std::string::npos)
      << log;
  // Devices reach the IPP server there, on both families where the system has IPv6.
  for (const char* host : {"127.0.0.1", "::1"}) {
    SCOPED_TRACE(host);
    http_t* http = httpConnect2(host, port, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
    if (!http && std::string(host) == "::1" && log.find("IPv4 only") != std::string::npos) continue;
    ASSERT_NE(http, nullptr) << cupsLastErrorString();
    ipp_t* request = ippNewRequest(IPP_OP_GET_SYSTEM_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "system-uri", nullptr,
                 ("ipp://localhost:" + std::to_string(port) + "/ipp/system").c_str());
    ipp_t* response = cupsDoRequest(http, request, "/ipp/system");
    EXPECT_EQ(ippGetStatusCode(response), IPP_STATUS_OK) << cupsLastErrorString();
    ippDelete(response);
    httpClose(http);
  }
  EXPECT_EQ(service.stop(), 0);
}

}  // namespace
}  // namespace quorvane::print_service::testing
