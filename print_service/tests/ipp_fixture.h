// The real quorvane-service with its IPP printers on a free loopback port and one console (the console's
// own `server_stub`) that has stored a printer and answers the service's "print" requests as a test says.
#pragma once

#include <sys/mount.h>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "console_peer.h"
#include "service_fixture.h"
#include "service_process.h"

namespace quorvane::print_service::testing {

/// A printer of the console's own, as its JSON: colour and duplex on (bits 0 and 3), two of three media
/// enabled, the A5 one borderless.
inline Json::Value console_printer_json(const std::string& uuid) {
  Json::Value p(Json::objectValue);
  p["uuid"] = uuid;
  p["name"] = "open_on_my_pc";
  p["displayName"] = "\xee\x80\x8cOpen On My PC @ testhost";
  p["location"] = "Study, first floor";
  p["make"] = "Quorvane";
  p["model"] = "Virtual Printer";
  p["color"] = 9;
  p["duplex"] = 9;
  p["landscape"] = 8;
  p["copy"] = 9;
  p["action"] = 0;
  p["enabled"] = true;
  p["exists"] = true;
  p["state"] = 3;
  const auto media = [](const char* name, const char* display, int width, int height, int margin,
                        bool enabled) {
    Json::Value m(Json::objectValue);
    m["name"] = name;
    m["displayName"] = display;
    m["width"] = width;
    m["height"] = height;
    m["enabled"] = enabled;
    Json::Value margins(Json::objectValue);
    margins["name"] = "";
    margins["left"] = margins["top"] = margins["right"] = margins["bottom"] = margin;
    m["margins"].append(margins);
    return m;
  };
  p["media"].append(media("iso_a4_210x297mm", "A4", 21000, 29700, 635, true));
  p["media"].append(media("iso_a5_148x210mm", "A5", 14800, 21000, 0, true));
  p["media"].append(media("na_letter_8.5x11in", "Letter", 21590, 27940, 635, false));
  return p;
}

/// Files in `folder` and the folders below it (none when it is missing).
inline std::vector<std::string> files_in(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, error)) {
    if (entry.is_regular_file()) names.push_back(entry.path().string());
  }
  return names;
}

/// CUPS is left out of the service: it is pointed at a CUPS server that does not exist.
inline const char* const no_cups = "CUPS_SERVER=/nonexistent/quorvane-test/cups.sock";

/// The console's answer to one "print": status, job state, platform job id.
using answer = std::tuple<int32_t, int32_t, int32_t>;

/// The service, started with HOME in the test's folder, and a console that authenticated and stored
/// `printer_`.
class ipp_console_test : public service_test {
 protected:
  void SetUp() override {
    service_test::SetUp();
    if (HasFatalFailure()) return;
    home_ = root_.path() + "/home";
    ASSERT_EQ(mkdir(home_.c_str(), 0700), 0);
    start_service(root_.path() + "/data", {no_cups, "HOME=" + home_});
    if (HasFatalFailure()) return;
    ASSERT_GT(service_->ipp_port(), 0);
    console_ = std::make_unique<console_peer>();
    ASSERT_EQ(console_->connect(service_->port()), 0);
    auto authenticated = console_->authenticate();
    ASSERT_TRUE(run_until([&] { return !authenticated->statuses.empty(); }));
    update_printer(printer_);
  }
  void TearDown() override {
    console_.reset();
    service_test::TearDown();
  }

  /// Runs the loop until `done` or `limit` has passed, answering every "print" with `answer_for`.
  bool run_until(const std::function<bool()>& done,
                 std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    return service_test::run_until(done, limit);
  }

  /// A "print" waits for its answer.
  bool round_wanted() override { return console_ && answered_ < console_->record().prints.size(); }

  /// Answers every "print" that arrived with `answer_for`.
  void between_rounds() override {
    auto& prints = console_->record().prints;
    while (answer_for && answered_ < prints.size()) {
      // The spooled document goes once the job has ended: what the console received is read first.
      delivered_.push_back(read_file(prints[answered_].job->filename().narrow()));
      auto [status, state, platform_id] = answer_for(*prints[answered_].job);
      prints[answered_++].completion(status, state, platform_id);
    }
  }

  /// Sends "observe" [true] and waits for its answer.
  void observe() {
    auto observing = console_->observe(true);
    ASSERT_TRUE(run_until([&] { return !observing->statuses.empty(); }));
    ASSERT_EQ(observing->statuses, std::vector<int32_t>{0});
  }

  /// Sends "updatePrinter" with the printer `json` and waits for its answer.
  void update_printer(const Json::Value& json) {
    smart_ptr<model::printer> p(new model::printer());
    p->readJSON(json);
    auto [callback, stored] = console_->status_sink();
    console_->stub().updatePrinter(p, callback);
    ASSERT_TRUE(run_until([stored = stored] { return !stored->statuses.empty(); }));
    ASSERT_EQ(stored->statuses, std::vector<int32_t>{0});
  }

  /// Restarts the service with its IPP spool on a 32 MiB file system of its own (of which 16 MiB must stay
  /// free), unmounted when the test ends, and connects a new console that observes. Needs root.
  void restart_with_small_ipp_spool() {
    console_.reset();
    ASSERT_EQ(service_->stop(), 0);
    small_spool_.path = service_->data_folder() + "/ipp-spool";
    ASSERT_EQ(mount("tmpfs", small_spool_.path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=32m,mode=0700"),
              0)
        << strerror(errno);
    small_spool_.mounted = true;
    ASSERT_TRUE(service_->start()) << read_file(service_->log_file());
    console_ = std::make_unique<console_peer>();
    ASSERT_EQ(console_->connect(service_->port()), 0);
    observe();
  }

  /// A PDF of 24 MiB: more than the small IPP spool takes.
  static std::string oversized_pdf() {
    std::string pdf = "%PDF-1.4\n";
    pdf.resize(24 << 20, ' ');
    return pdf + "\n%%EOF\n";
  }

  /// The IPP URI of the printer `uuid` (by default the one stored) on 127.0.0.1.
  std::string printer_uri(const std::string& uuid = {}) const {
    const std::string& name = uuid.empty() ? printer_uuid_ : uuid;
    // PAPPL puts "_" before a printer name that begins with a digit.
    return "ipp://127.0.0.1:" + std::to_string(service_->ipp_port()) + "/ipp/print/" +
           (std::isdigit(static_cast<unsigned char>(name[0])) ? "_" : "") + name;
  }

  // Unmounted when the fixture goes, after TearDown has stopped the service.
  struct unmount_at_end {
    std::string path;
    bool mounted = false;
    ~unmount_at_end() {
      if (mounted) umount2(path.c_str(), MNT_DETACH);
    }
  } small_spool_;
  std::string home_;
  std::unique_ptr<console_peer> console_;
  const std::string printer_uuid_ = "5e1f0a52-8c44-4f7e-9b1c-2d3e4f506172";
  const Json::Value printer_ = console_printer_json(printer_uuid_);
  std::function<answer(const model::job&)> answer_for;
  size_t answered_ = 0;
  std::vector<std::string> delivered_;  // the document of each answered print
};

}  // namespace quorvane::print_service::testing
