// The service's IPP printers as devices find them: advertised through the machine's avahi-daemon (started by
// the cups-test-env fixture with the system bus) and looked up with CUPS's own ippfind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>

#include "console_peer.h"
#include "model/phone_names.h"
#include "service_process.h"

namespace quorvane::print_service::testing {
namespace {

using namespace std::chrono_literals;

class DnssdAdvertising : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto env = cups_test_environment();
    if (env.count("QV_CUPS_AVAILABLE") == 0) GTEST_SKIP() << "QV_CUPS_ENV names no test environment";
    if (env.at("QV_CUPS_AVAILABLE") != "1") {
      GTEST_SKIP() << "no system bus and avahi-daemon: "
                   << (env.count("QV_CUPS_REASON") ? env.at("QV_CUPS_REASON") : "");
    }
    set_main_runloop(&loop_);
    service_ = std::make_unique<service_process>(
        root_.path() + "/data", std::vector<std::string>{"CUPS_SERVER=/nonexistent/quorvane-test/cups.sock"});
    service_->set_ipp_arguments({"--ipp-port", "0", "--ipp-listen", "loopback"});
    ASSERT_TRUE(service_->start()) << read_file(service_->log_file());
    ASSERT_EQ(console_.connect(service_->port()), 0);
  }
  void TearDown() override {
    if (service_) {
      EXPECT_EQ(service_->stop(), 0);
    }
    set_main_runloop(nullptr);
    if (HasFailure() && service_) {
      std::cerr << "--- service log\n" << read_file(service_->log_file());
    }
  }

  void update_printer(const Json::Value& json) {
    smart_ptr<model::printer> p(new model::printer());
    p->readJSON(json);
    auto [callback, stored] = console_.status_sink();
    console_.stub().updatePrinter(p, callback);
    ASSERT_TRUE(loop_.run_until([stored = stored] { return !stored->statuses.empty(); }, event_bound));
    ASSERT_EQ(stored->statuses, std::vector<int32_t>{0});
  }

  // Runs ippfind for `seconds` with `expression`; its exit status (0: something matched) and output.
  int ippfind(const std::vector<std::string>& expression, int seconds, std::string& output) {
    std::vector<std::string> argv = {"/usr/bin/ippfind", "-T", std::to_string(seconds), "_ipp._tcp"};
    argv.insert(argv.end(), expression.begin(), expression.end());
    const std::string file = root_.path() + "/ippfind-" + std::to_string(++runs_) + ".txt";
    child_process tool;
    EXPECT_TRUE(tool.spawn(argv, {}, file));
    EXPECT_TRUE(tool.wait((seconds + 10) * 1000)) << "ippfind did not end";
    output = read_file(file);
    return tool.exit_status();
  }

  // Tries `found` again until it is true or the event bound has passed; whether it became true.
  static bool until_deadline(const std::function<bool()>& found) {
    const auto deadline = std::chrono::steady_clock::now() + event_bound;
    while (!found()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
    }
    return true;
  }

  temporary_folder root_;
  poll_runloop loop_;
  std::unique_ptr<service_process> service_;
  console_peer console_;
  int runs_ = 0;
};

TEST_F(DnssdAdvertising, AnEnabledPrinterIsFoundWithTheKeysPhonesReadAndADisabledOneIsNot) {
  // A name of this run's own, so that parallel runs and the machine's own printers do not interfere.
  const std::string name = "Open On My PC @ qvtest" + std::to_string(getpid());
  Json::Value printer(Json::objectValue);
  printer["uuid"] = "c0ffee00-1234-4abc-8def-" + std::to_string(100000000000 + getpid());
  printer["name"] = "open_on_my_pc";
  printer["displayName"] = "\xee\x80\x8c" + name;
  printer["location"] = "Hall";
  printer["make"] = "Quorvane";
  printer["model"] = "Virtual";
  printer["color"] = 9;
  printer["duplex"] = 8;
  printer["enabled"] = true;
  printer["exists"] = true;
  update_printer(printer);

  std::string output;
  const std::vector<std::string> with_keys = {"--name",       "^" + name + "$",
                                              "--txt",        "rp",
                                              "--txt",        "ty",
                                              "--txt-note",   "^Hall$",
                                              "--txt",        "pdl",
                                              "--txt",        "URF",
                                              "--txt-Color",  "^T$",
                                              "--txt-Duplex", "^F$",
                                              "--txt",        "UUID",
                                              "--txt",        "TLS",
                                              "--txt-air",    "^none$",
                                              "--print-name"};
  // The daemon announces a new name only after probing the network for it, which takes a second or more on
  // a busy machine: ippfind is asked again until it finds the printer.
  EXPECT_TRUE(until_deadline([&] { return ippfind(with_keys, 3, output) == 0; })) << output;
  EXPECT_NE(output.find(name), std::string::npos) << output;

  // With an access list, phones are told to ask for a name and password.
  printer["acl"].append("alice");
  update_printer(printer);
  EXPECT_TRUE(until_deadline([&] {
    return ippfind({"--name", "^" + name + "$", "--txt-air", "^username,password$", "--print-name"}, 3,
                   output) == 0;
  })) << output;

  // Withdrawn at once; browsers may still hold the announcement for the second that mDNS gives a goodbye.
  printer["enabled"] = false;
  update_printer(printer);
  const bool gone = until_deadline([&] {
    return ippfind({"--name", "^" + name + "$", "--print-name"}, 2, output) != 0 &&
           output.find(name) == std::string::npos;
  });
  EXPECT_TRUE(gone) << "still advertised after it was disabled: " << output;
}

// A display name longer than DNS-SD's 63 bytes is advertised under the name the console's window shows, cut
// after a whole word (it was cut at byte 63, inside a word and possibly inside a character).
TEST_F(DnssdAdvertising, ALongNameIsAdvertisedCutAfterAWholeWord) {
  const std::string tag = "qvtest" + std::to_string(getpid());
  const std::string display = "Farbdrucker im B\xc3\xbcro " + tag + " zweiter Stock neben der K\xc3\xbc" +
                              "che und dem Besprechungsraum";
  Json::Value printer(Json::objectValue);
  printer["uuid"] = "c0ffee00-5678-4abc-8def-" + std::to_string(100000000000 + getpid());
  printer["name"] = "farbdrucker";
  printer["displayName"] = "\xee\x80\x8c" + display;
  printer["enabled"] = true;
  printer["exists"] = true;
  update_printer(printer);

  const std::string want = model::phone_name(printer["displayName"].asString(), "", "");
  ASSERT_LE(want.size(), 63u);
  ASSERT_LT(want.size(), display.size());
  std::string output;
  EXPECT_TRUE(until_deadline([&] {
    return ippfind({"--name", "^" + want + "$", "--print-name"}, 3, output) == 0;
  })) << "want '"
      << want << "', found: " << output;
}

}  // namespace
}  // namespace quorvane::print_service::testing
