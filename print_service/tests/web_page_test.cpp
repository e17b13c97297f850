// A phone's browser on the printers' web page: Debian's chromium, headless in a phone-sized window, driven
// by python3-selenium (print_service/tests/web/browser_print.py) against the real service, whose console
// (the test) receives what the browser sends.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "image_documents.h"
#include "ipp_fixture.h"
#include "model/phone_names.h"

namespace quorvane::print_service::testing {
namespace {

class WebPage : public ipp_console_test {
 protected:
  void SetUp() override {
    ipp_console_test::SetUp();
    if (HasFatalFailure()) return;
    shots_ = root_.path() + "/shots";
    ASSERT_EQ(mkdir(shots_.c_str(), 0700), 0);
    observe();
    answer_for = [](const model::job&) { return answer{0, 9, 0}; };
  }

  // Runs the browser script with `arguments`, answering prints meanwhile; its exit status, its output in
  // `report`.
  int browse(const std::vector<std::string>& arguments, std::string& report) {
    std::vector<std::string> argv = {
        "/usr/bin/python3", QUORVANE_BROWSER_SCRIPT,
        "--base",           "http://127.0.0.1:" + std::to_string(service_->ipp_port()),
        "--printer",        "Open On My PC",
        "--shots",          shots_};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const std::string output = root_.path() + "/browser.txt";
    child_process browser;
    EXPECT_TRUE(browser.spawn(argv, {"HOME=" + home_}, output));
    EXPECT_TRUE(run_until([&] { return browser.finished(); }, std::chrono::seconds(120)))
        << "the browser did not end";
    report = read_file(output);
    return browser.exit_status();
  }

  std::string shots_;
};

TEST_F(WebPage, ABrowserPrintsAPdfAndAJpegAndIsToldWhatIsRefused) {
  // A second printer, disabled: its page says that it takes no jobs.
  Json::Value disabled = console_printer_json("7a0c3e11-2b4d-4e6f-8a9b-0c1d2e3f4a5b");
  disabled["displayName"] =
      "\xee\x80\x8c"
      "Back office";
  disabled["enabled"] = false;
  update_printer(disabled);
  // A third, with an access list: its people sign in over IPP, which the page does not offer.
  Json::Value listed = console_printer_json("2c9d4e5f-6a7b-4c8d-9e0f-1a2b3c4d5e6f");
  listed["displayName"] =
      "\xee\x80\x8c"
      "Private";
  listed["acl"].append("alice");
  update_printer(listed);

  const std::string pdf = document("report.pdf", one_page_pdf());
  const std::string jpeg = root_.path() + "/photo.jpg";
  ASSERT_TRUE(write_jpeg(jpeg));
  const std::string text = document("notes.txt", "Not a document a printer takes.\n");
  std::string report;
  ASSERT_EQ(browse({"--pdf", pdf, "--jpeg", jpeg, "--text", text, "--disabled",
                    "/printers/" + model::printer_path("7a0c3e11-2b4d-4e6f-8a9b-0c1d2e3f4a5b"), "--acl",
                    "/printers/" + model::printer_path("2c9d4e5f-6a7b-4c8d-9e0f-1a2b3c4d5e6f")},
                   report),
            0)
      << report;

  // The console received the two documents as jobs of the printer, from the browser's address, with the
  // copies and paper chosen on the page; the text file never reached it.
  const auto& prints = console_->record().prints;
  ASSERT_EQ(prints.size(), 2u) << report;
  const model::job& first = *prints[0].job;
  EXPECT_EQ(first.name().narrow(), "report");
  EXPECT_EQ(first.format().narrow(), "application/pdf");
  EXPECT_EQ(first.deviceAddress(), "127.0.0.1");
  EXPECT_EQ(first.copies(), 2);
  ASSERT_TRUE(first.media());
  EXPECT_EQ(first.media()->name(), "iso_a5_148x210mm");
  EXPECT_EQ(delivered_[0], one_page_pdf());
  const model::job& second = *prints[1].job;
  EXPECT_EQ(second.name().narrow(), "photo");
  EXPECT_EQ(second.format().narrow(), "image/jpeg");
  EXPECT_EQ(second.deviceAddress(), "127.0.0.1");
  EXPECT_EQ(second.copies(), 1);
  EXPECT_EQ(delivered_[1], read_file(jpeg));
  for (const char* shot :
       {"web-printers.png", "web-printer.png", "web-sent.png", "web-refused.png", "web-disabled.png"}) {
    EXPECT_TRUE(std::filesystem::exists(shots_ + "/" + shot)) << shot;
  }
  EXPECT_EQ(files_in(service_->data_folder() + "/ipp-spool"), std::vector<std::string>{})
      << "nothing of the uploads is left";
}

TEST_F(WebPage, AnOversizedDocumentIsRefusedBeforeItFillsTheSpool) {
  if (geteuid() != 0) GTEST_SKIP() << "the IPP spool goes on a small file system of its own, mounted as root";
  restart_with_small_ipp_spool();
  if (HasFatalFailure()) return;
  const std::string spool = service_->data_folder() + "/ipp-spool";
  const std::string big = document("big.pdf", oversized_pdf());
  std::string report;
  ASSERT_EQ(browse({"--big", big}, report), 0) << report;
  EXPECT_TRUE(console_->record().prints.empty());
  EXPECT_EQ(files_in(spool), std::vector<std::string>{}) << "nothing of it is left";
  struct statvfs fs {};
  ASSERT_EQ(statvfs(spool.c_str(), &fs), 0);
  EXPECT_GE(fs.f_bavail * fs.f_frsize, uint64_t{15} << 20) << "the reserve stayed free";
  EXPECT_TRUE(std::filesystem::exists(shots_ + "/web-oversized.png"));
}

}  // namespace
}  // namespace quorvane::print_service::testing
