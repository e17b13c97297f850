// The whole path of a device's job, with the real programs: ipptool prints a PDF to the real
// quorvane-service's IPP printers, and the real console (the quorvane program, offscreen, in a private
// HOME) receives it and does what each printer says: "Open On My PC" opens it with the desktop's
// associated application (a program of the test's own, registered as the default for PDF through the XDG
// mime associations the desktop's opener reads), "Send To Dropbox" (no action) leaves it in its folder, and
// a CUPS queue (the virtual IPP printer of the CUPS test environment) prints it. With a notification daemon
// (dunst on an Xvfb and a session bus of the test's own) the arrival is told on the desktop.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "console_peer.h"
#include "service_process.h"

namespace quorvane::print_service::testing {
namespace {

using namespace std::chrono_literals;

// Whether a file whose name contains `part` exists in `folder`; its path, or "".
std::string file_named(const std::string& folder, const std::string& part) {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
    const std::string name = entry.path().filename().string();
    if (name.find(part) != std::string::npos && entry.file_size(ignored) > 0) return entry.path().string();
  }
  return {};
}

bool wait_for(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

class ConsoleEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    cups_ = cups_test_environment();
    if (cups_.count("QV_CUPS_AVAILABLE") == 0) GTEST_SKIP() << "QV_CUPS_ENV names no CUPS test environment";
    if (cups_.at("QV_CUPS_AVAILABLE") != "1")
      GTEST_SKIP() << "no CUPS test environment: " << cups_["QV_CUPS_REASON"];
    ASSERT_FALSE(root_.path().empty());
    const std::string& root = root_.path();
    for (const char* sub :
         {"/home", "/home/Dropbox", "/data", "/data/applications", "/config", "/runtime", "/tmp", "/cache"}) {
      ASSERT_EQ(mkdir((root + sub).c_str(), 0700), 0) << sub;
    }
    // The stand-in for the desktop's PDF viewer keeps a copy of what it was asked to open.
    viewer_copy_ = root + "/opened.pdf";
    ASSERT_TRUE(write_file(root + "/viewer.sh", "#!/bin/sh\ncp \"$1\" '" + viewer_copy_ + ".part' && mv '" +
                                                    viewer_copy_ + ".part' '" + viewer_copy_ + "'\n"));
    ASSERT_EQ(chmod((root + "/viewer.sh").c_str(), 0700), 0);
    ASSERT_TRUE(write_file(root + "/data/applications/qv-test-viewer.desktop",
                           "[Desktop Entry]\nType=Application\nName=Test viewer\nExec=" + root +
                               "/viewer.sh %f\nMimeType=application/pdf;\n"));
    ASSERT_TRUE(write_file(root + "/config/mimeapps.list",
                           "[Default Applications]\napplication/pdf=qv-test-viewer.desktop\n"));

    // Both programs live in the private HOME. No desktop is detected, so the opener uses the associations;
    // it does so only with a display named (none answers there: the console draws offscreen).
    environment_ = {"HOME=" + root + "/home",
                    "XDG_DATA_HOME=" + root + "/data",
                    "XDG_CONFIG_HOME=" + root + "/config",
                    "XDG_CACHE_HOME=" + root + "/cache",
                    "XDG_RUNTIME_DIR=" + root + "/runtime",
                    "TMPDIR=" + root + "/tmp",
                    "XDG_CURRENT_DESKTOP=",
                    "DESKTOP_SESSION=",
                    "KDE_FULL_SESSION=",
                    "GNOME_DESKTOP_SESSION_ID=",
                    "DISPLAY=:9999",
                    "WAYLAND_DISPLAY=",
                    "QT_QPA_PLATFORM=offscreen"};
    start_notification_daemon();
    service_ = std::make_unique<service_process>(root + "/service", environment_);
    ASSERT_TRUE(service_->start()) << read_file(service_->log_file());
    std::vector<std::string> console_environment = environment_;
    if (!bus_address_.empty()) console_environment.push_back("DBUS_SESSION_BUS_ADDRESS=" + bus_address_);
    console_environment.push_back("QUORVANE_SERVICE_PORT=" + std::to_string(service_->port()));
    ASSERT_TRUE(console_.spawn({QUORVANE_PROGRAM}, console_environment, root + "/console.log"));
    find_printers();
  }

  void TearDown() override {
    if (console_.signal(SIGTERM) && !console_.wait(10000)) console_.kill_now();
    for (child_process* p : {&dunst_, &bus_daemon_, &xvfb_}) {
      if (p->signal(SIGTERM) && !p->wait(5000)) p->kill_now();
    }
    if (service_) {
      EXPECT_EQ(service_->stop(), 0);
    }
    if (HasFailure()) {
      std::cerr << "--- console log\n" << read_file(root_.path() + "/console.log");
      if (service_) std::cerr << "--- service log\n" << read_file(service_->log_file());
    }
  }

  // Learns the uuids of the console's two printers and of the CUPS queue once the console has given them
  // to the service, as a second console that observes for a moment (before any job is sent) hears them.
  void find_printers() {
    poll_runloop loop;
    ASSERT_TRUE(loop.valid());
    set_main_runloop(&loop);
    {
      console_peer watcher;
      ASSERT_EQ(watcher.connect(service_->port()), 0);
      watcher.authenticate();
      watcher.observe(true);
      const std::string queue = cups_.at("QV_CUPS_QUEUE");
      const bool found = loop.run_until(
          [&] {
            for (const auto& list : watcher.record().updated) {
              for (const auto& p : list) {
                const std::string name = p->name().narrow();
                if (name == "open_on_my_pc" || name == "send_to_dropbox" || name == queue) {
                  uuids_[name == queue ? "cups" : name] = p->uuid();
                  actions_[name == queue ? "cups" : name] = p->action();
                }
              }
            }
            return uuids_.size() == 3;
          },
          30s);
      watcher.observe(false);
      loop.run_until([] { return false; }, 100ms);
      EXPECT_TRUE(found) << "the console's printers and the CUPS queue did not all reach the service ("
                         << uuids_.size() << " of 3)";
    }
    set_main_runloop(nullptr);
  }

  // A notification daemon (dunst) on an X server and a session bus of the test's own, for the console's
  // notices; where one of them does not start, `notices_skipped_` says why and the notices go unchecked.
  void start_notification_daemon() {
    const std::string& root = root_.path();
    for (const char* program :
         {"/usr/bin/Xvfb", "/usr/bin/dbus-daemon", "/usr/bin/dunst", "/usr/bin/dunstctl"}) {
      if (access(program, X_OK) != 0) {
        notices_skipped_ = std::string(program) + " is not installed";
        return;
      }
    }
    const std::string display_file = root + "/xvfb-display", address_file = root + "/bus-address";
    if (!xvfb_.spawn({"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "800x600x24"}, {}, display_file) ||
        !wait_for([&] { return read_file(display_file).find('\n') != std::string::npos; }, 10s)) {
      notices_skipped_ = "Xvfb does not start";
      return;
    }
    const std::string display = ":" + read_file(display_file).substr(0, read_file(display_file).find('\n'));
    if (!bus_daemon_.spawn({"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address"}, {},
                           address_file) ||
        !wait_for([&] { return read_file(address_file).find('\n') != std::string::npos; }, 10s)) {
      notices_skipped_ = "dbus-daemon does not start";
      return;
    }
    bus_address_ = read_file(address_file).substr(0, read_file(address_file).find('\n'));
    notice_environment_ = {"DISPLAY=" + display, "DBUS_SESSION_BUS_ADDRESS=" + bus_address_,
                           "HOME=" + root + "/home", "XDG_CONFIG_HOME=" + root + "/config"};
    if (!dunst_.spawn({"/usr/bin/dunst", "-config", "/dev/null"}, notice_environment_, root + "/dunst.log") ||
        !wait_for([&] { return dunstctl({"is-paused"}).find("false") != std::string::npos; }, 10s)) {
      notices_skipped_ = "dunst does not start: " + read_file(root + "/dunst.log");
      bus_address_.clear();
    }
  }

  // dunstctl's output for `arguments`.
  std::string dunstctl(const std::vector<std::string>& arguments) {
    const std::string output = root_.path() + "/dunstctl.txt";
    unlink(output.c_str());
    child_process tool;
    std::vector<std::string> argv{"/usr/bin/dunstctl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    if (!tool.spawn(argv, notice_environment_, output) || !tool.wait(10000)) return {};
    return read_file(output);
  }

  std::string printer_uri(const std::string& key) const {
    const std::string& name = uuids_.at(key);
    return "ipp://127.0.0.1:" + std::to_string(service_->ipp_port()) + "/ipp/print/" +
           (std::isdigit(static_cast<unsigned char>(name[0])) ? "_" : "") + name;
  }

  // Prints `file` with ipptool to the printer `key` as the job `title`; ipptool's exit status, 0 when the
  // IPP job completed. Its report in `report`.
  int print(const std::string& key, const std::string& file, const std::string& title, std::string& report) {
    const std::string output = root_.path() + "/ipptool-" + key + ".txt";
    child_process tool;
    EXPECT_TRUE(tool.spawn({"/usr/bin/ipptool",
                            "-t",
                            "-T",
                            "60",
                            "-f",
                            file,
                            "-d",
                            "format=application/pdf",
                            "-d",
                            "job_name=" + title,
                            "-d",
                            "copies=1",
                            "-d",
                            "sides=one-sided",
                            "-d",
                            "media=iso_a4_210x297mm",
                            "-d",
                            "color_mode=color",
                            "-d",
                            "orientation=3",
                            "-d",
                            "page_ranges=1-1",
                            "-d",
                            "quality=4",
                            "-d",
                            "scaling=auto",
                            "-d",
                            "state=9",
                            printer_uri(key),
                            std::string(QUORVANE_IPP_TESTS) + "/print-job.test"},
                           {"HOME=" + root_.path() + "/home"}, output));
    EXPECT_TRUE(tool.wait(90000)) << "ipptool did not end";
    report = read_file(output);
    return tool.exit_status();
  }

  temporary_folder root_;
  std::map<std::string, std::string> cups_;
  std::vector<std::string> environment_;
  std::unique_ptr<service_process> service_;
  child_process console_;
  std::map<std::string, std::string> uuids_;  // "open_on_my_pc", "send_to_dropbox", "cups"
  std::map<std::string, int> actions_;
  std::string viewer_copy_;
  child_process xvfb_, bus_daemon_, dunst_;
  std::string bus_address_, notices_skipped_;
  std::vector<std::string> notice_environment_;
};

TEST_F(ConsoleEndToEnd, ADevicesPdfIsOpenedKeptInAFolderOrPrintedAsTheConsolesPrinterSays) {
  ASSERT_EQ(actions_["open_on_my_pc"], 1);
  ASSERT_EQ(actions_["send_to_dropbox"], 0);
  ASSERT_EQ(actions_["cups"], 2);
  const std::string pdf = root_.path() + "/Device document.pdf";
  ASSERT_TRUE(write_file(pdf, one_page_pdf()));
  const std::string tag = std::to_string(getpid());
  std::string report;

  // Open On My PC: the associated application opens it.
  ASSERT_EQ(print("open_on_my_pc", pdf, "Opened " + tag, report), 0) << report;
  ASSERT_TRUE(wait_for([&] { return access(viewer_copy_.c_str(), F_OK) == 0; }, 30s))
      << "the viewer was not started";
  EXPECT_EQ(read_file(viewer_copy_), one_page_pdf());
  // The arrival is told on the desktop: the document's name, who sent it and on which printer.
  if (notices_skipped_.empty()) {
    const std::string title = "\"Opened " + tag + "\"";
    EXPECT_TRUE(wait_for(
        [&] {
          dunstctl({"close-all"});
          return dunstctl({"history"}).find(title) != std::string::npos;
        },
        30s))
        << "no notice of the arrival in dunst's history: " << dunstctl({"history"});
    const std::string history = dunstctl({"history"});
    EXPECT_NE(history.find(" on Open On My PC"), std::string::npos) << history;
  } else {
    std::cerr << "notices not checked: " << notices_skipped_ << "\n";
  }

  // Send To Dropbox: the document stays in the printer's folder, under the job's name.
  ASSERT_EQ(print("send_to_dropbox", pdf, "Kept " + tag, report), 0) << report;
  const std::string folder = root_.path() + "/home/Dropbox/Quorvane";
  EXPECT_EQ(read_file(folder + "/Kept " + tag + ".pdf"), one_page_pdf());

  // A CUPS queue: the virtual printer behind it receives the document (in a file named after the job, in
  // lower case).
  ASSERT_EQ(print("cups", pdf, "printed-" + tag, report), 0) << report;
  const std::string spool = cups_.at("QV_CUPS_SPOOL");
  std::string printed;
  EXPECT_TRUE(wait_for([&] { return !(printed = file_named(spool, "printed-" + tag)).empty(); }, 60s))
      << "nothing reached the virtual printer in " << spool;
  if (!printed.empty()) {
    EXPECT_TRUE(wait_for([&] { return read_file(printed).find("%%EOF") != std::string::npos; }, 30s));
    EXPECT_EQ(read_file(printed).rfind("%PDF-", 0), 0u);
  }
}

}  // namespace
}  // namespace quorvane::print_service::testing
