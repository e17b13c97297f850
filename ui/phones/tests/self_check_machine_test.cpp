// The self-check against this machine's real parts: the print service advertising through the real
// avahi-daemon (the CUPS test environment starts it with the system bus), a name taken by a CUPS-like
// advertisement, and a real nftables rule that drops mDNS (root only).
#include <unistd.h>

#include <cstdlib>

#include <QTest>

#include <gtest/gtest.h>

#include "console_peer.h"
#include "model/phone_names.h"
#include "service_process.h"
#include "ui/base/qt_runloop.h"
#include "ui/phones/self_check_inputs.h"

namespace quorvane {
namespace {

using print_service::testing::child_process;
using print_service::testing::console_peer;
using print_service::testing::cups_test_environment;
using print_service::testing::read_file;
using print_service::testing::service_process;
using print_service::testing::temporary_folder;

const char* state_name(phones::check_state s) {
  return s == phones::check_state::passed   ? "passed"
         : s == phones::check_state::failed ? "failed"
                                            : "unknown";
}

// ---- nftables

// Runs `nft` with `arguments`; whether it succeeded.
bool nft(const QStringList& arguments) {
  const phones::program_run run = phones::run_program(QStringLiteral("nft"), arguments, 10000);
  EXPECT_EQ(run.exit_status, 0) << "nft " << arguments.join(' ').toStdString() << ": " << run.errors;
  return run.started && run.exit_status == 0;
}

phones::check_result firewall_now() {
  phones::check_inputs in;
  in.ipp_port = 8631;
  in.nft_ruleset = phones::run_program(QStringLiteral("nft"), {"-j", "list", "ruleset"}, 10000);
  return phones::firewall_check::run(in);
}

TEST(SelfCheckOnThisMachine, AFirewallRuleDroppingMdnsTurnsTheCheckRedWithItsCommandThenGreen) {
  if (geteuid() != 0) GTEST_SKIP() << "adding a firewall rule needs root";
  if (!phones::run_program(QStringLiteral("nft"), {"--version"}, 5000).started)
    GTEST_SKIP() << "nft is not installed (nftables)";
  // A table of this run's own, its input chain dropping mDNS from every interface but loopback (so that the
  // machine's own avahi traffic, which other tests use meanwhile, is not touched).
  const QString table = QStringLiteral("qv_selfcheck_%1").arg(getpid());
  ASSERT_TRUE(nft({"add", "table", "inet", table}));
  struct table_guard {
    QString name;
    ~table_guard() { phones::run_program(QStringLiteral("nft"), {"delete", "table", "inet", name}, 10000); }
  } guard{table};
  ASSERT_TRUE(
      nft({"add", "chain", "inet", table, "input", "{ type filter hook input priority 0; policy accept; }"}));
  ASSERT_TRUE(
      nft({"add", "rule", "inet", table, "input", "iifname", "!=", "lo", "udp", "dport", "5353", "drop"}));

  const phones::check_result red = firewall_now();
  EXPECT_EQ(red.state, phones::check_state::failed)
      << state_name(red.state) << ": " << red.problem.toStdString();
  const QString command =
      QStringLiteral("sudo nft insert rule inet %1 input udp dport 5353 accept").arg(table);
  ASSERT_TRUE(red.problem.contains(command))
      << "got '" << red.problem.toStdString() << "', want it to hold '" << command.toStdString() << "'";

  // The command the sentence gives (run as root here, without sudo) lets mDNS in.
  QStringList words = command.split(' ');
  words.removeFirst();  // sudo
  words.removeFirst();  // nft
  ASSERT_TRUE(nft(words));
  const phones::check_result green = firewall_now();
  EXPECT_EQ(green.state, phones::check_state::passed) << green.problem.toStdString();

  // And without the table, too (the rule is gone).
  ASSERT_TRUE(nft({"delete", "table", "inet", table}));
  EXPECT_EQ(firewall_now().state, phones::check_state::passed);
}

// ---- avahi and the print service

class SelfCheckWithService : public ::testing::Test {
 protected:
  void SetUp() override {
    // The fixture's file unless the caller names another.
    setenv("QV_CUPS_ENV", QV_CUPS_ENV_FILE, /*overwrite=*/0);
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
  }

  // Offers a printer named `name` and returns it as the self-check looks for it.
  phones::expected_printer offer(const std::string& uuid, const std::string& name) {
    Json::Value json(Json::objectValue);
    json["uuid"] = uuid;
    json["name"] = "p";
    json["displayName"] = "\xee\x80\x8c" + name;
    json["enabled"] = true;
    json["exists"] = true;
    smart_ptr<model::printer> p(new model::printer());
    p->readJSON(json);
    auto [callback, stored] = console_.status_sink();
    console_.stub().updatePrinter(p, callback);
    EXPECT_TRUE(QTest::qWaitFor([stored = stored] { return !stored->statuses.empty(); }, 10000));
    return {model::phone_name(json["displayName"].asString(), "", uuid), model::printer_path(uuid)};
  }

  // The checks' lines for `printers`, read again until `done` holds or 20 s passed (avahi probes a new name
  // for a second or more before it announces it).
  std::vector<phones::check_line> check_until(
      const std::vector<phones::expected_printer>& printers,
      const std::function<bool(const std::vector<phones::check_line>&)>& done) {
    const ipp_reach reach{static_cast<uint16_t>(service_->ipp_port()), true, true};
    std::vector<phones::check_line> lines;
    for (int attempt = 0; attempt < 10; ++attempt) {
      lines = phones::run_self_check(phones::gather_check_inputs(printers, reach));
      if (done(lines)) break;
      QTest::qWait(1000);
    }
    return lines;
  }

  static std::string report(const std::vector<phones::check_line>& lines) {
    std::string text;
    for (const auto& l : lines)
      text += l.title.toStdString() + ": " + state_name(l.result.state) + " " +
              l.result.problem.toStdString() + "\n";
    return text;
  }

  temporary_folder root_;
  qt_runloop loop_;
  std::unique_ptr<service_process> service_;
  console_peer console_;
};

TEST_F(SelfCheckWithService, ThePrinterIsFoundThenANameCupsTookIsNamedWithWhatToDo) {
  const std::string tag = std::to_string(getpid());
  const phones::expected_printer inbox =
      offer("c0ffee00-0001-4abc-8def-" + std::to_string(100000000000 + getpid()), "Inbox @ qvcheck" + tag);
  std::vector<phones::check_line> lines =
      check_until({inbox}, [](const auto& l) { return l[1].result.state == phones::check_state::passed; });
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0].result.state, phones::check_state::passed) << report(lines);
  EXPECT_EQ(lines[1].result.state, phones::check_state::passed) << report(lines);
  // What the service publishes itself: the subtype and URF are there.
  EXPECT_FALSE(lines[2].result.problem.contains(QStringLiteral("_universal"))) << report(lines);
  EXPECT_FALSE(lines[2].result.problem.contains(QStringLiteral("URF"))) << report(lines);
  // The service listens on loopback only.
  EXPECT_EQ(lines[3].result.state, phones::check_state::failed) << report(lines);
  EXPECT_TRUE(lines[3].result.problem.contains(QStringLiteral("--ipp-listen all"))) << report(lines);

  // CUPS sharing a queue under the name of a printer made after it. The service's printer loses the name:
  // PAPPL 1.3.1 leaves it unpublished (seen here) where avahi would have offered "NAME #2"; either way the
  // check names the printer and what holds its name.
  const std::string shared = "Office @ qvcheck" + tag;
  child_process cups_like;
  ASSERT_TRUE(
      cups_like.spawn({"/usr/bin/avahi-publish", "-s", shared, "_ipp._tcp", "631", "rp=printers/office"}, {},
                      root_.path() + "/publish.txt"));
  QTest::qWait(2000);  // the name is probed and announced
  const phones::expected_printer office =
      offer("c0ffee00-0002-4abc-8def-" + std::to_string(100000000000 + getpid()), shared);
  lines = check_until({inbox, office},
                      [](const auto& l) { return l[1].result.problem.contains(QStringLiteral("CUPS")); });
  const QString problem = lines[1].result.problem;
  const QString quoted = QString::fromStdString("'" + shared + "' is ");
  EXPECT_EQ(lines[1].result.state, phones::check_state::failed) << report(lines);
  EXPECT_TRUE(problem.contains(quoted + QStringLiteral("not published")) ||
              problem.contains(quoted + QStringLiteral("published as")))
      << report(lines);
  EXPECT_TRUE(problem.contains(QStringLiteral("sudo cupsctl --no-share-printers"))) << report(lines);
  EXPECT_FALSE(problem.contains(QStringLiteral("Inbox"))) << "the other printer is fine: " << report(lines);
  cups_like.kill_now();
}

}  // namespace
}  // namespace quorvane
