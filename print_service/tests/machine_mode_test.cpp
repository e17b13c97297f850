// The computer's print service (`--system`) with the consoles of two real accounts, made with useradd for
// each test: what each console sees, what it may change, where jobs go and who may read their documents.
// Each console's socket is made under its account's file system id, so the kernel reports it as that
// account's, as it would for a console the account runs itself.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "console_peer.h"
#include "core/json_text.h"
#include "net/tests/other_account.h"
#include "print_service/service_error.h"
#include "service_fixture.h"
#include "service_process.h"

namespace quorvane::print_service::testing {
namespace {

using quorvane::testing::other_account;

// CUPS is left out of these tests: the service is pointed at a CUPS server that does not exist.
const std::vector<std::string> no_cups = {"CUPS_SERVER=/nonexistent/quorvane-test/cups.sock"};

// This thread acts on files and makes sockets as `account` while the object lives (root's file system
// capabilities are dropped with it, as for the account's own processes).
class as_account {
 public:
  explicit as_account(uid_t account) : before_(static_cast<uid_t>(setfsuid(account))) {}
  ~as_account() { setfsuid(before_); }
  as_account(const as_account&) = delete;
  as_account& operator=(const as_account&) = delete;

 private:
  uid_t before_;
};

// Whether `account` can open `path` for reading; the errno of the refusal otherwise.
int open_error_as(uid_t account, const std::string& path) {
  as_account as(account);
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  close(fd);
  return 0;
}

// Whether `account` can make (and then remove) a file in `folder`, as moving a document away needs; the
// errno of the refusal otherwise. (access() would ask with the real user id, root's.)
int write_error_as(uid_t account, const std::string& folder) {
  as_account as(account);
  const std::string probe = folder + "/.probe";
  const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  close(fd);
  return unlink(probe.c_str()) == 0 ? 0 : errno;
}

class MachineService : public service_test {
 protected:
  void SetUp() override {
    service_test::SetUp();
    if (HasFatalFailure()) return;
    alice_ = std::make_unique<other_account>("alice", "Alice Example");
    bob_ = std::make_unique<other_account>("bob", "Bob Example");
    if (!alice_->made()) GTEST_SKIP() << alice_->why_not();
    if (!bob_->made()) GTEST_SKIP() << bob_->why_not();
    // The consoles reach their documents through the test's folder, as through /var/lib on a computer.
    ASSERT_EQ(chmod(root_.path().c_str(), 0711), 0);
    data_ = root_.path() + "/data";
    service_ = std::make_unique<service_process>(data_, no_cups);
    service_->set_extra_arguments({"--system"});
    ASSERT_TRUE(service_->start()) << read_file(service_->log_file());
  }
  void TearDown() override {
    consoles_.clear();
    tools_.clear();
    service_test::TearDown();
    alice_.reset();
    bob_.reset();
  }

  // A console of `account`, connected, authenticated and observing.
  console_peer& console_of(const other_account& account) {
    {
      as_account as(account.uid());
      consoles_.push_back(std::make_unique<console_peer>());
      EXPECT_EQ(consoles_.back()->connect(service_->port()), 0);
    }
    console_peer& console = *consoles_.back();
    auto authenticated = console.authenticate();
    auto observing = console.observe(true);
    EXPECT_TRUE(run_until([&] { return !observing->statuses.empty() && !console.record().updated.empty(); }));
    EXPECT_EQ(observing->statuses, std::vector<int32_t>{0});
    return console;
  }

  // Sends `method` [printer] and waits for the whole answer.
  Json::Value call(console_peer& console, const char* method, const Json::Value& printer) {
    Json::Value request(Json::objectValue);
    request["jsonrpc"] = "2.0";
    request["method"] = method;
    request["params"].append(printer);
    Json::Value outcome;
    console.stub().call(request, [&](const Json::Value& response) { outcome = response; });
    EXPECT_TRUE(run_until([&] { return !outcome.isNull(); })) << method << " was not answered";
    return outcome;
  }

  // A printer record as a console sends it; `action` 0 keeps documents in a folder, 1 opens them.
  static Json::Value printer(const char* uuid, const char* name, int action = 1) {
    Json::Value p(Json::objectValue);
    p["uuid"] = uuid;
    p["name"] = name;
    p["displayName"] = std::string("Printer ") + name;
    p["action"] = action;
    p["enabled"] = true;
    p["exists"] = true;
    return p;
  }

  // The uuids of every printer `console` heard of in "printersWereUpdated", in order.
  static std::vector<std::string> heard_uuids(console_peer& console) {
    std::vector<std::string> uuids;
    for (const auto& list : console.record().updated) {
      for (const auto& p : list) uuids.push_back(p->uuid());
    }
    return uuids;
  }

  // Queues `content` for the printer `uuid` with the submit tool (as root, which may name a file).
  void submit(const std::string& uuid, const std::string& content) {
    const std::string path = document("doc.pdf", content);
    tools_.push_back(std::make_unique<child_process>());
    child_process& tool = *tools_.back();
    ASSERT_TRUE(tool.spawn(
        {service_binary(), "submit", "--port", std::to_string(service_->port()), "--printer", uuid, path}, {},
        root_.path() + "/submit.out"));
    ASSERT_TRUE(run_until([&] { return tool.finished(); }));
    ASSERT_EQ(tool.exit_status(), 0) << read_file(root_.path() + "/submit.out");
  }

  std::unique_ptr<other_account> alice_;
  std::unique_ptr<other_account> bob_;
  std::string data_;
  std::vector<std::unique_ptr<console_peer>> consoles_;
  std::vector<std::unique_ptr<child_process>> tools_;
};

constexpr const char* alice_uuid = "a11ce000-0000-4000-8000-000000000001";
constexpr const char* bob_uuid = "b0b00000-0000-4000-8000-000000000002";

TEST_F(MachineService, EachConsoleSeesOnlyItsOwnPrintersWithTheOwnerTheServiceSet) {
  console_peer& alice = console_of(*alice_);
  console_peer& bob = console_of(*bob_);
  // Alice claims that her printer is Bob's: the service takes the owner from the kernel, not from her.
  Json::Value claimed = printer(alice_uuid, "inbox");
  claimed["owner"] = bob_->name();
  ASSERT_TRUE(call(alice, "updatePrinter", claimed)["error"].isNull());
  ASSERT_TRUE(call(bob, "updatePrinter", printer(bob_uuid, "scans"))["error"].isNull());
  ASSERT_TRUE(alice.settle(loop_) && bob.settle(loop_));

  EXPECT_EQ(heard_uuids(alice), std::vector<std::string>{alice_uuid});
  EXPECT_EQ(heard_uuids(bob), std::vector<std::string>{bob_uuid});
  ASSERT_FALSE(alice.record().updated.back().empty());
  EXPECT_EQ(alice.record().updated.back().front()->owner().narrow(), alice_->name());

  // A console that connects later gets the same filtered list.
  console_peer& bob_again = console_of(*bob_);
  ASSERT_TRUE(bob_again.settle(loop_));
  EXPECT_EQ(heard_uuids(bob_again), std::vector<std::string>{bob_uuid});
}

TEST_F(MachineService, AnotherAccountsPrinterCannotBeChangedOrRemoved) {
  console_peer& alice = console_of(*alice_);
  console_peer& bob = console_of(*bob_);
  ASSERT_TRUE(call(alice, "updatePrinter", printer(alice_uuid, "inbox"))["error"].isNull());
  ASSERT_TRUE(alice.settle(loop_));
  const size_t alice_lists = alice.record().updated.size();

  // Bob renames Alice's printer (the uuid in another case too), then removes it.
  struct {
    const char* name;
    const char* method;
    const char* uuid;
  } refusals[] = {
      {"change", "updatePrinter", alice_uuid},
      {"change by a uuid in capitals", "updatePrinter", "A11CE000-0000-4000-8000-000000000001"},
      {"removal", "removePrinter", alice_uuid},
  };
  for (const auto& r : refusals) {
    const Json::Value answer = call(bob, r.method, printer(r.uuid, "taken"));
    EXPECT_EQ(answer["error"]["code"].asInt(), error_not_permitted)
        << r.name << ": got " << compact_json(answer);
    EXPECT_NE(answer["error"]["message"].asString().find("belongs to another account"), std::string::npos)
        << r.name << ": got " << compact_json(answer);
  }
  ASSERT_TRUE(alice.settle(loop_) && bob.settle(loop_));
  EXPECT_EQ(alice.record().updated.size(), alice_lists) << "Alice heard of a change she did not make";
  EXPECT_TRUE(alice.record().removed.empty());
  EXPECT_TRUE(bob.record().removed.empty()) << "Bob heard of Alice's printer";
  EXPECT_EQ(heard_uuids(bob), std::vector<std::string>{});

  // Nor may he change the service's attributes, which are everyone's.
  Json::Value louder(Json::objectValue);
  louder["logLevel"] = 0;
  const Json::Value saved = call(bob, "saveAttributes", louder);
  EXPECT_EQ(saved["error"]["code"].asInt(), error_not_permitted) << "got " << compact_json(saved);

  // Her own changes and removal still go through.
  ASSERT_TRUE(call(alice, "updatePrinter", printer(alice_uuid, "renamed"))["error"].isNull());
  ASSERT_TRUE(call(alice, "removePrinter", printer(alice_uuid, "renamed"))["error"].isNull());
  ASSERT_TRUE(alice.settle(loop_));
  ASSERT_EQ(alice.record().removed.size(), 1u);
  EXPECT_EQ(alice.record().updated.back().front()->name().narrow(), "renamed");
}

TEST_F(MachineService, AJobReachesOnlyItsOwnersConsoleAlsoWhenSheConnectsLater) {
  {
    console_peer& alice = console_of(*alice_);
    ASSERT_TRUE(call(alice, "updatePrinter", printer(alice_uuid, "inbox", /*action=*/0))["error"].isNull());
    ASSERT_TRUE(alice.settle(loop_));
    alice.stub().handle_close();
  }
  // Bob observes while Alice's job arrives: it waits for her.
  console_peer& bob = console_of(*bob_);
  ASSERT_NO_FATAL_FAILURE(submit(alice_uuid, "%PDF-1.4 for alice only\n%%EOF\n"));
  ASSERT_TRUE(bob.settle(loop_));
  EXPECT_TRUE(bob.record().prints.empty()) << "Alice's job was handed to Bob";

  // Bob answers "print" requests he never got, under every id the service could have used.
  for (int id = 0; id < 50; ++id) {
    Json::Value forged(Json::objectValue);
    forged["id"] = id;
    forged["result"].append(0);
    forged["result"].append(9);
    forged["result"].append(0);
    const std::string bytes = jsonrpc::frame(forged);
    bob.stub().send(bytes.data(), bytes.size(), 0);
  }
  ASSERT_TRUE(bob.settle(loop_));

  console_peer& alice = console_of(*alice_);
  ASSERT_TRUE(run_until([&] { return !alice.record().prints.empty(); })) << "Alice never got her job";
  const auto& delivered = alice.record().prints.front();
  EXPECT_EQ(delivered.printer->uuid(), alice_uuid);
  const std::string file = delivered.job->filename().narrow();

  // Her document is hers to read and, on a printer that keeps it in a folder, to move away; Bob can do
  // neither, nor list the spool.
  EXPECT_EQ(open_error_as(alice_->uid(), file), 0) << file;
  EXPECT_EQ(open_error_as(bob_->uid(), file), EACCES) << file;
  const std::string folder = file.substr(0, file.rfind('/'));
  EXPECT_EQ(open_error_as(bob_->uid(), folder), EACCES) << folder;
  EXPECT_EQ(open_error_as(bob_->uid(), data_ + "/spool"), EACCES) << "the spool can be listed";
  EXPECT_EQ(write_error_as(alice_->uid(), folder), 0) << "Alice may not change her document's folder";
  EXPECT_EQ(write_error_as(bob_->uid(), folder), EACCES) << "Bob may change Alice's document's folder";

  // The forged answers ended nothing: the job ends with Alice's answer.
  delivered.completion(0, model::job_state_completed, 0);
  ASSERT_TRUE(alice.settle(loop_));
  EXPECT_EQ(alice.record().prints.size(), 1u);
  EXPECT_TRUE(bob.record().prints.empty());
  const std::string log = read_file(service_->log_file());
  EXPECT_NE(log.find("ended: status 0, state 9"), std::string::npos) << log;
}

TEST_F(MachineService, JobsOfTwoAccountsGoOutSideBySide) {
  console_peer& alice = console_of(*alice_);
  console_peer& bob = console_of(*bob_);
  ASSERT_TRUE(call(alice, "updatePrinter", printer(alice_uuid, "inbox"))["error"].isNull());
  ASSERT_TRUE(call(bob, "updatePrinter", printer(bob_uuid, "scans"))["error"].isNull());
  // Alice does not answer her job; Bob's must not wait behind it.
  ASSERT_NO_FATAL_FAILURE(submit(alice_uuid, "%PDF-1.4 a\n%%EOF\n"));
  ASSERT_NO_FATAL_FAILURE(submit(bob_uuid, "%PDF-1.4 b\n%%EOF\n"));
  ASSERT_TRUE(run_until([&] { return !alice.record().prints.empty() && !bob.record().prints.empty(); }))
      << "Alice got " << alice.record().prints.size() << ", Bob " << bob.record().prints.size();
  EXPECT_EQ(alice.record().prints.front().printer->uuid(), alice_uuid);
  EXPECT_EQ(bob.record().prints.front().printer->uuid(), bob_uuid);
}

}  // namespace
}  // namespace quorvane::print_service::testing
