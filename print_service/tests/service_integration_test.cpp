// The real quorvane-service on a free loopback port with a temporary data folder, driven by the console's
// own `server_stub` over the poll() run loop, and by the submit tool.
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>
#include <tuple>

#include "console_peer.h"
#include "core/json_text.h"
#include "net/socket.h"
#include "net/tests/other_account.h"
#include "pipelining_peer.h"
#include "print_service/service_error.h"
#include "service_fixture.h"
#include "service_process.h"

namespace quorvane::print_service::testing {
namespace {

using namespace std::chrono_literals;

// CUPS is left out of these tests: the service is pointed at a CUPS server that does not exist.
const std::vector<std::string> no_cups = {"CUPS_SERVER=/nonexistent/quorvane-test/cups.sock"};

// Sends "watchJob" [id] and returns the whole answer (null when none came in time).
Json::Value watch_job(poll_runloop& loop, console_peer& console, const Json::Value& id) {
  Json::Value watch(Json::objectValue);
  watch["jsonrpc"] = "2.0";
  watch["method"] = "watchJob";
  watch["params"].append(id);
  Json::Value outcome;
  console.stub().call(watch, [&](const Json::Value& response) { outcome = response; });
  loop.run_until([&] { return !outcome.isNull(); }, event_bound);
  return outcome;
}

class ServiceSession : public service_test {
 protected:
  void SetUp() override {
    service_test::SetUp();
    if (HasFatalFailure()) return;
    data_ = root_.path() + "/data";
    start_service(data_, no_cups);
  }
  void TearDown() override {
    consoles_.clear();
    tools_.clear();
    service_test::TearDown();
  }

  // A barrier on `console`'s connection (see console_peer::settle).
  bool settle(console_peer& console) { return console.settle(loop_); }

  console_peer& new_console() {
    consoles_.push_back(std::make_unique<console_peer>());
    return *consoles_.back();
  }

  // Connects, authenticates and observes, as the console does on every connection.
  void open_session(console_peer& console) {
    if (!console.stub().connected()) {
      ASSERT_EQ(console.connect(service_->port()), 0);
    }
    auto authenticated = console.authenticate();
    auto observing = console.observe(true);
    const size_t lists_before = console.record().updated.size();
    ASSERT_TRUE(run_until(
        [&] { return !observing->statuses.empty() && console.record().updated.size() > lists_before; }));
    ASSERT_EQ(authenticated->statuses, std::vector<int32_t>{0});
    ASSERT_EQ(observing->statuses, std::vector<int32_t>{0});
  }

  // A printer of the console's own, sent with updatePrinter.
  smart_ptr<model::printer> console_printer(const char* uuid, const char* name) {
    smart_ptr<model::printer> p(new model::printer());
    p->setUuid(uuid);
    p->setName(wide_string::from_narrow(name));
    p->setDisplayName(std::string("Printer ") + name);
    return p;
  }

  void add_printer(console_peer& console, const smart_ptr<model::printer>& p) {
    auto [callback, stored] = console.status_sink();
    console.stub().updatePrinter(p, callback);
    ASSERT_TRUE(run_until([stored = stored] { return !stored->statuses.empty(); }));
    ASSERT_EQ(stored->statuses, std::vector<int32_t>{0});
  }

  // Starts the submit tool with `args` after "submit --port <port>"; its output goes to a file.
  child_process& submit(std::vector<std::string> args, const std::string& output) {
    std::vector<std::string> argv = {service_binary(), "submit", "--port", std::to_string(service_->port())};
    argv.insert(argv.end(), args.begin(), args.end());
    tools_.push_back(std::make_unique<child_process>());
    EXPECT_TRUE(tools_.back()->spawn(argv, {}, output));
    return *tools_.back();
  }

  // Runs the loop until the tool ends; its exit status.
  int finish(child_process& tool) {
    EXPECT_TRUE(run_until([&] { return tool.finished(); })) << "the submit tool did not end";
    return tool.exit_status();
  }

  // Sends `method` with `params` and waits for the answer.
  Json::Value call(console_peer& console, const char* method, const Json::Value& params) {
    Json::Value request(Json::objectValue);
    request["jsonrpc"] = "2.0";
    request["method"] = method;
    request["params"] = params;
    Json::Value outcome;
    console.stub().call(request, [&](const Json::Value& response) { outcome = response; });
    EXPECT_TRUE(run_until([&] { return !outcome.isNull(); })) << method << " was not answered";
    return outcome;
  }

  // A console that authenticates and observes, hears the printer list, and then never reads again, with a
  // receive buffer as small as the system allows. Null (with a failure recorded) when that goes wrong.
  smart_ptr<socket> stalled_observer() {
    smart_ptr<socket> stalled(new socket());
    const int small = 4096;
    EXPECT_EQ(setsockopt(stalled->handle(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small), 0);
    // Bounds the reads that check, at the end, that the service closed it.
    const timeval wait_limit{10, 0};
    EXPECT_EQ(setsockopt(stalled->handle(), SOL_SOCKET, SO_RCVTIMEO, &wait_limit, sizeof wait_limit), 0);
    if (connect_to_loopback(*stalled, static_cast<uint16_t>(service_->port())) != 0) {
      ADD_FAILURE() << "cannot connect";
      return nullptr;
    }
    std::string hello;
    int id = 0;
    for (const auto& [method, argument] : {std::pair<const char*, Json::Value>{"authenticate", ""},
                                           std::pair<const char*, Json::Value>{"observe", true}}) {
      Json::Value request(Json::objectValue);
      request["jsonrpc"] = "2.0";
      request["id"] = ++id;
      request["method"] = method;
      request["params"].append(argument);
      hello += jsonrpc::frame(request);
    }
    if (stalled->send(hello.data(), hello.size(), 0) != static_cast<ssize_t>(hello.size())) {
      ADD_FAILURE() << "cannot send the first requests";
      return nullptr;
    }
    if (!run_until([&] { return has_heard(*stalled, "printersWereUpdated"); })) {
      ADD_FAILURE() << "the stalled console never heard the printer list";
      return nullptr;
    }
    return stalled;
  }

  // Whether the first bytes waiting on `s` contain `text`; peeking leaves every byte unread.
  static bool has_heard(socket& s, const char* text) {
    char peeked[4096];
    const ssize_t n = s.recv(peeked, sizeof peeked, MSG_PEEK | MSG_DONTWAIT);
    return n > 0 && std::string(peeked, static_cast<size_t>(n)).find(text) != std::string::npos;
  }

  // Reads `s` until the service's end (or a reset) arrives: true; false when the read fails otherwise, or
  // waits out the socket's receive limit.
  static bool reaches_the_end(socket& s) {
    char chunk[65536];
    ssize_t n;
    while ((n = s.recv(chunk, sizeof chunk, 0)) > 0) {
    }
    return n == 0 || errno == ECONNRESET;
  }

  // How often the service has logged `text` so far.
  size_t times_logged(const std::string& text) const {
    const std::string log = read_file(service_->log_file());
    size_t count = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
    return count;
  }

  std::string data_;
  std::vector<std::unique_ptr<child_process>> tools_;
  std::vector<std::unique_ptr<console_peer>> consoles_;
};

TEST_F(ServiceSession, AnswersTheConsoleRequestsAndKeepsAttributes) {
  console_peer& console = new_console();
  ASSERT_EQ(console.connect(service_->port()), 0);
  auto authenticated = console.authenticate();
  auto [save_callback, saved] = console.status_sink();
  Json::Value changes(Json::objectValue);
  changes["printMode"] = 1;
  changes["filenameGenerationFlags"] = 5;
  console.stub().saveAttributes(changes, save_callback);
  auto attributes = console.attributes();
  ASSERT_TRUE(run_until([&] { return !attributes->statuses.empty(); }));
  EXPECT_EQ(authenticated->statuses, std::vector<int32_t>{0});
  EXPECT_EQ(saved->statuses, std::vector<int32_t>{0});
  ASSERT_EQ(attributes->statuses, std::vector<int32_t>{0});
  EXPECT_EQ(attributes->value["printMode"].asInt(), 1);
  EXPECT_EQ(attributes->value["filenameGenerationFlags"].asInt(), 5);
  EXPECT_TRUE(attributes->value["logLevel"].isInt());
  // How phones reach the printers: this run's IPP port, loopback only and not advertised.
  EXPECT_EQ(attributes->value["ippPort"].asInt(), service_->ipp_port());
  EXPECT_GT(attributes->value["ippPort"].asInt(), 0);
  EXPECT_EQ(attributes->value["ippListen"].asString(), "loopback");
  EXPECT_EQ(attributes->value["ippDnssd"], Json::Value(false));

  // An unknown method gets the JSON-RPC error code as its status.
  Json::Value unknown(Json::objectValue);
  unknown["jsonrpc"] = "2.0";
  unknown["method"] = "frobnicate";
  int32_t unknown_status = 0;
  console.stub().call(
      unknown, [&](const Json::Value& response) { unknown_status = jsonrpc::response_status(response); });
  ASSERT_TRUE(run_until([&] { return unknown_status != 0; }));
  EXPECT_EQ(unknown_status, -32601);

  // The attributes survive a restart of the service.
  console.stub().handle_close();
  EXPECT_EQ(service_->stop(), 0);
  ASSERT_TRUE(service_->start());
  ASSERT_EQ(console.connect(service_->port()), 0);
  auto again = console.attributes();
  ASSERT_TRUE(run_until([&] { return !again->statuses.empty(); }));
  EXPECT_EQ(again->value["filenameGenerationFlags"].asInt(), 5);
}

TEST_F(ServiceSession, UpdatedPrintersAreEchoedToEveryObserver) {
  console_peer& first = new_console();
  console_peer& second = new_console();
  open_session(first);
  open_session(second);
  EXPECT_TRUE(first.record().updated.front().empty()) << "no printer without CUPS and without the console's";

  smart_ptr<model::printer> p = console_printer("6f1c8a52-0d0e-4f7b-9a51-3c1d2e4f5a6b", "open_on_my_pc");
  p->setDirectory(wide_string::from_narrow("/home/ann/Received"));
  add_printer(first, p);
  ASSERT_TRUE(
      run_until([&] { return first.record().updated.size() == 2 && second.record().updated.size() == 2; }));
  for (console_peer* console : {&first, &second}) {
    const auto& echoed = console->record().updated.back();
    ASSERT_EQ(echoed.size(), 1u);
    EXPECT_EQ(echoed[0]->uuid(), p->uuid());
    EXPECT_EQ(echoed[0]->displayName(), "Printer open_on_my_pc");
    EXPECT_EQ(echoed[0]->directory().narrow(), "/home/ann/Received");
  }

  // A console that observes later gets the stored printer in its first list.
  console_peer& third = new_console();
  open_session(third);
  ASSERT_EQ(third.record().updated.back().size(), 1u);
  EXPECT_EQ(third.record().updated.back()[0]->uuid(), p->uuid());

  auto [callback, removed] = first.status_sink();
  first.stub().removePrinter(p, callback);
  ASSERT_TRUE(run_until(
      [&, removed = removed] { return second.record().removed.size() == 1 && !removed->statuses.empty(); }));
  EXPECT_EQ(removed->statuses, std::vector<int32_t>{0});
  EXPECT_EQ(second.record().removed[0][0]->uuid(), p->uuid());

  // A console that stops observing hears nothing more.
  auto stopped = second.observe(false);
  ASSERT_TRUE(run_until([&] { return !stopped->statuses.empty(); }));
  add_printer(first, console_printer("7a2d9b63-1e1f-4a8c-8b62-4d2e3f5a6b7c", "lab"));
  ASSERT_TRUE(run_until([&] { return first.record().updated.size() == 3; }));
  ASSERT_TRUE(settle(second));
  EXPECT_EQ(second.record().updated.size(), 2u);
}

TEST_F(ServiceSession, PrintIsAnsweredThroughTheCompletionAndSubmitWaitReportsIt) {
  console_peer& console = new_console();
  open_session(console);
  add_printer(console, console_printer("8b3e0c74-2f20-4b9d-9c73-5e3f4a6b7c8d", "office"));
  auto [callback, saved] = console.status_sink();
  Json::Value flags(Json::objectValue);
  flags["filenameGenerationFlags"] = 1;
  console.stub().saveAttributes(flags, callback);

  const std::string pdf = document("Quarterly Report.pdf", "%PDF-1.4\n%%EOF\n");
  const std::string output = root_.path() + "/submit.out";
  child_process& tool =
      submit({"--printer", "office", "--user", "ann", "--copies", "2", "--wait", pdf}, output);
  ASSERT_TRUE(run_until([&] { return console.record().prints.size() == 1; })) << read_file(output);

  auto& request = console.record().prints[0];
  EXPECT_EQ(request.printer->name().narrow(), "office");
  EXPECT_EQ(request.job->user().narrow(), "ann");
  EXPECT_EQ(request.job->copies(), 2);
  EXPECT_EQ(request.job->format().narrow(), "application/pdf");
  EXPECT_EQ(request.job->name().narrow(), "Quarterly Report.pdf");
  const std::string spooled = request.job->filename().narrow();
  EXPECT_NE(spooled.find(data_ + "/spool/"), std::string::npos) << spooled;
  EXPECT_EQ(spooled.substr(spooled.rfind('/') + 1), "Quarterly Report+ann.pdf");
  EXPECT_EQ(read_file(spooled), "%PDF-1.4\n%%EOF\n");
  EXPECT_FALSE(tool.finished()) << "submit --wait returned before the console answered";

  request.completion(0, 9, 0);
  EXPECT_EQ(finish(tool), 0) << read_file(output);
  EXPECT_EQ(read_file(output), "status 0, state 9, job id 0\n");

  // A failed delivery makes submit --wait fail, with the console's numbers.
  child_process& failing = submit({"--printer", "office", "--wait", pdf}, root_.path() + "/failing.out");
  ASSERT_TRUE(run_until([&] { return console.record().prints.size() == 2; }));
  console.record().prints[1].completion(2, 8, 0);
  EXPECT_EQ(finish(failing), 1);
  EXPECT_EQ(read_file(root_.path() + "/failing.out"), "status 2, state 8, job id 0\n");
}

TEST_F(ServiceSession, AJobsDeviceIdIsTheHardwareAddressTheNeighbourTableGives) {
  const std::vector<quorvane::neighbour> neighbours = neighbour_table();
  if (neighbours.empty()) GTEST_SKIP() << "this machine's neighbour table has no complete entry";
  const std::string neighbour = neighbours.front().address;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  ASSERT_EQ(inet_pton(AF_INET, neighbour.c_str(), &address.sin_addr), 1) << neighbour;
  const std::string want = hardware_address_of(address);
  ASSERT_FALSE(want.empty()) << neighbour;

  console_peer& console = new_console();
  open_session(console);
  add_printer(console, console_printer("1d5a2e96-4142-4dbf-9e95-7a5b6c8d9e0f", "office"));
  struct device_case {
    const char* name;
    std::string address;
    std::string want;
  };
  const device_case cases[] = {
      {"a neighbour", neighbour, want},
      {"loopback, which has no neighbour entry", "127.0.0.1", ""},
      {"not an IPv4 address", "printer.example", ""},
  };
  for (const auto& c : cases) {
    const size_t before = console.record().prints.size();
    const std::string output = root_.path() + "/device.out";
    child_process& tool =
        submit({"--printer", "office", "--device-address", c.address, document("d.pdf", "%PDF-1.4")}, output);
    EXPECT_EQ(finish(tool), 0) << c.name << ": " << read_file(output);
    ASSERT_TRUE(run_until([&] { return console.record().prints.size() > before; })) << c.name;
    const auto& job = *console.record().prints.back().job;
    EXPECT_EQ(job.deviceAddress(), c.address) << c.name;
    const std::string got = job.deviceID().narrow();
    EXPECT_EQ(got, c.want) << c.name << ": got " << got << ", want " << c.want;
    console.record().prints.back().completion(0, 9, 0);
  }
}

TEST_F(ServiceSession, QueuedJobsSurviveARestartAndGoOutOneAtATimeInOrder) {
  console_peer& console = new_console();
  ASSERT_EQ(console.connect(service_->port()), 0);
  add_printer(console, console_printer("9c4f1d85-3031-4cae-8d84-6f4a5b7c8d9e", "office"));
  // Submitted while no console observes: they wait.
  for (const char* name : {"a.png", "b.png", "c.png"}) {
    child_process& tool = submit({"--printer", "office", document(name, "\x89PNG\r\n\x1A\n....")},
                                 root_.path() + "/" + name + ".out");
    EXPECT_EQ(finish(tool), 0) << read_file(root_.path() + "/" + name + ".out");
  }
  ASSERT_TRUE(settle(console));
  EXPECT_TRUE(console.record().prints.empty());

  // They stay queued across a restart of the service.
  EXPECT_EQ(service_->stop(), 0);
  ASSERT_TRUE(run_until([&] { return !console.stub().connected(); }));
  ASSERT_TRUE(service_->start(service_->port()));
  open_session(console);
  const char* names[] = {"a.png", "b.png", "c.png"};
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(run_until([&] { return console.record().prints.size() > i; })) << names[i];
    ASSERT_TRUE(settle(console));
    ASSERT_EQ(console.record().prints.size(), i + 1) << "a second job went out before the first was answered";
    EXPECT_EQ(console.record().prints.back().job->name().narrow(), names[i]);
    EXPECT_EQ(console.record().prints.back().job->format().narrow(), "image/png");
    console.record().prints.back().completion(0, 9, 0);
  }
}

TEST_F(ServiceSession, AJobWithoutAnswerIsSentAgainThenAbortedAfterThreeAttempts) {
  console_peer& console = new_console();
  open_session(console);
  add_printer(console, console_printer("ad5a2e96-4142-4dbf-9e95-7a5b6c8d9eaf", "office"));
  const std::string output = root_.path() + "/submit.out";
  child_process& tool = submit({"--printer", "office", "--wait", document("x.pdf", "%PDF-1.4")}, output);

  for (size_t attempt = 1; attempt <= 3; ++attempt) {
    ASSERT_TRUE(run_until([&] { return console.record().prints.size() == attempt; }))
        << "attempt " << attempt;
    console.stub().handle_close();  // the console goes away without answering
    if (attempt < 3) open_session(console);
  }
  EXPECT_EQ(finish(tool), 1);
  EXPECT_EQ(read_file(output), "status 10, state 8, job id 0\n");
  const std::string uuid = console.record().prints[0].job->uuid();
  EXPECT_EQ(console.record().prints[2].job->uuid(), uuid) << "the same job each time";

  // Aborted means finished: a console that observes now gets nothing.
  open_session(console);
  ASSERT_TRUE(settle(console));
  EXPECT_EQ(console.record().prints.size(), 3u);
}

TEST_F(ServiceSession, AnEndTheStoreCannotRecordIsStillReportedAndNotDeliveredAgain) {
  console_peer& console = new_console();
  open_session(console);
  add_printer(console, console_printer("b2c3d4e5-6f70-4b8c-9dae-1f2a3b4c5d6e", "office"));
  const std::string output = root_.path() + "/busy.out";
  child_process& tool = submit({"--printer", "office", "--wait", document("busy.pdf", "%PDF-1.4")}, output);
  ASSERT_TRUE(run_until([&] { return console.record().prints.size() == 1; }));

  // Another process holds the write lock of the service's database while the console answers.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((data_ + "/service.db").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr), SQLITE_OK);
  console.record().prints[0].completion(2, 8, 0);
  EXPECT_EQ(finish(tool), 1) << read_file(output);
  EXPECT_EQ(read_file(output), "status 2, state 8, job id 0\n");
  ASSERT_TRUE(settle(console));
  EXPECT_EQ(console.record().prints.size(), 1u) << "the ended job went out again";

  // Once the lock is gone the next delivery round writes the end, so a restarted service keeps it too.
  sqlite3_exec(other, "ROLLBACK;", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  open_session(console);
  EXPECT_EQ(service_->stop(), 0);
  ASSERT_TRUE(run_until([&] { return !console.stub().connected(); }));
  ASSERT_TRUE(service_->start(service_->port()));
  open_session(console);
  ASSERT_TRUE(settle(console));
  EXPECT_EQ(console.record().prints.size(), 1u) << "the ended job went out again after a restart";
}

TEST_F(ServiceSession, AServiceEndWhileAJobIsOutCostsTheJobNoAttempt) {
  console_peer& console = new_console();
  open_session(console);
  add_printer(console, console_printer("a1b2c3d4-5e6f-4a7b-8c9d-0e1f2a3b4c5d", "office"));
  child_process& queued =
      submit({"--printer", "office", document("s.pdf", "%PDF-1.4")}, root_.path() + "/s.out");
  EXPECT_EQ(finish(queued), 0);

  // Whatever ends the service while the job is out, the console did not fail it: the job is not used up.
  for (size_t delivery = 1; delivery <= 4; ++delivery) {
    ASSERT_TRUE(run_until([&] { return console.record().prints.size() == delivery; }))
        << "delivery " << delivery;
    if (delivery == 4) break;
    service_->kill_now();
    ASSERT_TRUE(run_until([&] { return !console.stub().connected(); }));
    ASSERT_TRUE(service_->start(service_->port()));
    open_session(console);
  }
  console.record().prints.back().completion(0, 9, 0);
  const Json::Value outcome = watch_job(loop_, console, 1);
  const Json::Value& status = outcome["result"][1];
  EXPECT_TRUE(status["finished"].asBool()) << compact_json(outcome);
  EXPECT_EQ(status["status"].asInt(), 0);
  EXPECT_EQ(status["state"].asInt(), 9);
  EXPECT_EQ(status["attempts"].asInt(), 0);
}

// The reproductions of frames that once ended the service: each is refused, and the service goes on.
TEST_F(ServiceSession, HostileFramesAreRefusedAndTheServiceGoesOn) {
  console_peer& good = new_console();
  open_session(good);

  // Nesting beyond the JSON reader's limit, in the params, the id or a later frame: the peer is closed.
  const auto netstring = [](const std::string& payload) {
    return std::to_string(payload.size()) + ":" + payload + ",";
  };
  const std::string deep = std::string(1001, '[') + std::string(1001, ']');
  const std::string deep_params = netstring(R"({"id":1,"method":"attributes","params":)" + deep + "}");
  const std::string deep_id = netstring(R"({"id":)" + deep + R"(,"method":"attributes"})");
  for (const std::string& bytes : {deep_params, deep_id}) {
    smart_ptr<socket> raw(new socket());
    ASSERT_EQ(connect_to_loopback(*raw, static_cast<uint16_t>(service_->port())), 0);
    ASSERT_EQ(raw->send(bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    char byte;
    EXPECT_LE(raw->recv(&byte, 1, 0), 0) << "the service should close a peer whose frame it cannot read";
  }
  // The same after a frame that was answered.
  console_peer& later = new_console();
  ASSERT_EQ(later.connect(service_->port()), 0);
  auto answered = later.attributes();
  ASSERT_TRUE(run_until([&] { return !answered->statuses.empty(); }));
  ASSERT_EQ(later.stub().send(deep_params.data(), deep_params.size(), 0),
            static_cast<ssize_t>(deep_params.size()));
  EXPECT_TRUE(run_until([&] { return !later.stub().connected(); })) << "a later frame nested too deep";

  // Job ids no signed 64-bit integer can hold.
  struct id_case {
    const char* name;
    Json::Value id;
  };
  const id_case ids[] = {
      {"2^63", Json::Value(Json::UInt64(9223372036854775808ull))},
      {"2^64-1", Json::Value(Json::UInt64(18446744073709551615ull))},
      {"1e19", Json::Value(1e19)},
      {"a fraction", Json::Value(1.5)},
      {"text", Json::Value("1")},
  };
  for (const id_case& c : ids) {
    const Json::Value outcome = watch_job(loop_, good, c.id);
    EXPECT_EQ(outcome["error"]["code"].asInt(), -32602) << c.name << ": got " << compact_json(outcome);
  }

  auto still = good.attributes();
  ASSERT_TRUE(run_until([&] { return !still->statuses.empty(); }));
  EXPECT_EQ(still->statuses, std::vector<int32_t>{0});
  EXPECT_TRUE(service_->process().pid() > 0 && !service_->process().finished()) << "the service ended";
}

TEST_F(ServiceSession, RestartMidSessionToldTenReconnectsAndDeliversTheJobOnce) {
  console_peer& console = new_console();
  open_session(console);
  add_printer(console, console_printer("be6b3fa7-5253-4ec0-8fa6-8b6c7d9eafb0", "office"));
  child_process& queued = submit({"--printer", "office", document("r.jpg", "\xFF\xD8\xFF\xE0....")},
                                 root_.path() + "/queued.out");
  EXPECT_EQ(finish(queued), 0);
  ASSERT_TRUE(run_until([&] { return console.record().prints.size() == 1; }));

  // The service stops answering with a request outstanding, then dies.
  service_->freeze();
  auto outstanding = console.attributes();
  auto [callback, update] = console.status_sink();
  console.stub().updatePrinter(console_printer("cf7c40b8-6364-4fd1-a0b7-9c7d8eafb0c1", "lab"), callback);
  loop_.run_until([] { return false; }, 50ms);
  service_->kill_now();
  ASSERT_TRUE(run_until([&] { return !outstanding->statuses.empty(); }));
  EXPECT_EQ(outstanding->statuses, std::vector<int32_t>{10});
  EXPECT_TRUE(outstanding->value.isNull());
  EXPECT_EQ(update->statuses, std::vector<int32_t>{10});
  EXPECT_FALSE(console.stub().connected());

  // Nothing listens now: connect fails and registers nothing.
  EXPECT_EQ(console.connect(service_->port()), -1);
  EXPECT_EQ(loop_.watched_count(), 0u);

  const int32_t next_id = console.stub().next_request_id();
  ASSERT_TRUE(service_->start(service_->port()));
  open_session(console);
  EXPECT_GT(console.stub().next_request_id(), next_id) << "ids keep rising across connections";
  ASSERT_TRUE(run_until([&] { return console.record().prints.size() == 2; }));
  EXPECT_EQ(console.record().prints[1].job->uuid(), console.record().prints[0].job->uuid());
  EXPECT_EQ(console.record().prints[1].job->name().narrow(), "r.jpg");
  EXPECT_EQ(console.record().prints[1].job->format().narrow(), "image/jpeg");

  // The answer to the first delivery comes too late: the service no longer waits for its id.
  console.record().prints[0].completion(0, 9, 0);
  console.record().prints[1].completion(0, 9, 0);
  Json::Value watch(Json::objectValue);
  watch["jsonrpc"] = "2.0";
  watch["method"] = "watchJob";
  watch["params"].append(1);
  Json::Value outcome;
  console.stub().call(watch, [&](const Json::Value& response) { outcome = response; });
  ASSERT_TRUE(run_until([&] { return !outcome.isNull(); }));
  EXPECT_EQ(outcome["result"][1]["status"].asInt(), 0);
  EXPECT_EQ(outcome["result"][1]["state"].asInt(), 9);
  EXPECT_EQ(outcome["result"][1]["attempts"].asInt(), 0) << "the service's death cost the job an attempt";
  ASSERT_TRUE(settle(console));
  EXPECT_EQ(console.record().prints.size(), 2u) << "the job went out a third time";
}

TEST_F(ServiceSession, MalformedRequestsCloseThatConnectionOnly) {
  console_peer& good = new_console();
  open_session(good);

  // A request whose "params" is not an array is answered with an error and the connection is closed.
  console_peer& bad = new_console();
  ASSERT_EQ(bad.connect(service_->port()), 0);
  Json::Value request(Json::objectValue);
  request["jsonrpc"] = "2.0";
  request["method"] = "observe";
  request["params"] = "yes";
  Json::Value answer;
  bad.stub().call(request, [&](const Json::Value& response) { answer = response; });
  ASSERT_TRUE(run_until([&] { return !bad.stub().connected(); }));
  EXPECT_EQ(answer["error"]["code"].asInt(), -32600) << compact_json(answer);

  // Bytes that are not a frame at all: the service drops the peer.
  smart_ptr<socket> raw(new socket());
  ASSERT_EQ(connect_to_loopback(*raw, static_cast<uint16_t>(service_->port())), 0);
  ASSERT_EQ(raw->send("GET / HTTP/1.0\r\n\r\n", 18, 0), 18);
  char byte;
  // An orderly end, or a reset because the peer's bytes were never read: either way, closed.
  EXPECT_LE(raw->recv(&byte, 1, 0), 0) << "the service should close a peer that does not speak its protocol";

  auto still = good.attributes();
  ASSERT_TRUE(run_until([&] { return !still->statuses.empty(); }));
  EXPECT_EQ(still->statuses, std::vector<int32_t>{0});
}

TEST_F(ServiceSession, AConsoleThatStopsReadingIsClosedAndItsJobGoesToAnother) {
  smart_ptr<socket> stalled = stalled_observer();
  ASSERT_TRUE(stalled);
  const auto stalled_has_heard = [&](const char* text) { return has_heard(*stalled, text); };

  console_peer& good = new_console();
  open_session(good);
  smart_ptr<model::printer> p = console_printer("8b3e0c74-2f20-4b9d-9c73-5e3f4a6b7c8d", "big");
  add_printer(good, p);
  child_process& tool =
      submit({"--printer", "big", document("a.pdf", "%PDF-1.4\n")}, root_.path() + "/s.out");
  EXPECT_EQ(finish(tool), 0) << read_file(root_.path() + "/s.out");
  ASSERT_TRUE(run_until([&] { return stalled_has_heard("\"print\""); }))
      << "the job goes to the oldest observer";

  // Large updates, each told to both observers, until the stalled one's buffers and the service's queue for
  // it are full.
  const int most = 64;
  int sent = 0;
  while (sent < most && times_logged("Unable to send message to peer") == 0) {
    p->setDisplayName("Printer " + std::to_string(sent) + " " + std::string(256 << 10, 'x'));
    ASSERT_NO_FATAL_FAILURE(add_printer(good, p)) << "update " << sent;
    ++sent;
  }
  ASSERT_LT(sent, most) << "the stalled console's buffers never filled";

  // The stalled console is closed: after what the buffers hold comes the end (or a reset).
  EXPECT_TRUE(reaches_the_end(*stalled)) << std::strerror(errno) << ", want the end of the connection";

  // Its job went back to the queue and out to the other console, which heard every update and is still
  // answered.
  ASSERT_TRUE(run_until([&] { return good.record().prints.size() == 1; })) << "the job was not handed on";
  EXPECT_EQ(good.record().prints[0].printer->uuid(), p->uuid());
  ASSERT_TRUE(run_until([&] { return good.record().updated.size() == static_cast<size_t>(sent) + 2; }));
  const std::string last = "Printer " + std::to_string(sent - 1) + " ";
  EXPECT_EQ(good.record().updated.back()[0]->displayName().rfind(last, 0), 0u)
      << "want the update '" << last << "...'";
  auto still = good.attributes();
  ASSERT_TRUE(run_until([&] { return !still->statuses.empty(); }));
  EXPECT_EQ(still->statuses, std::vector<int32_t>{0});

  // The failure is logged once, not again for each later write to the closed console.
  EXPECT_EQ(times_logged("Unable to send message to peer"), 1u);
}

TEST_F(ServiceSession, ConsolesThatNeverReadHoldUpNoOtherConsoleAndAreClosed) {
  std::vector<smart_ptr<socket>> stalled;
  for (int i = 0; i < 4; ++i) {
    stalled.push_back(stalled_observer());
    ASSERT_TRUE(stalled.back()) << "stalled console " << i;
  }
  console_peer& good = new_console();
  open_session(good);
  smart_ptr<model::printer> p = console_printer("5d1f7a3c-8e2b-4c6d-9a0f-2b4c6d8e0f1a", "flood");

  // Large updates, each told to all five observers, until the service has given up on all four that never
  // read. Every update is answered, and every answer must come while the others' buffers and queues fill:
  // a service that waited for a stalled console would miss the fixture's deadline here.
  const int most = 160;
  int sent = 0;
  while (sent < most && times_logged("it has stopped reading") < stalled.size()) {
    p->setDisplayName("Printer " + std::to_string(sent) + " " + std::string(256 << 10, 'x'));
    ASSERT_NO_FATAL_FAILURE(add_printer(good, p)) << "update " << sent;
    auto attributes = good.attributes();
    ASSERT_TRUE(run_until([&] { return !attributes->statuses.empty(); })) << "after update " << sent;
    EXPECT_EQ(attributes->statuses, std::vector<int32_t>{0});
    ++sent;
  }
  ASSERT_LT(sent, most) << "the stalled consoles' queues never overflowed";

  for (size_t i = 0; i < stalled.size(); ++i) {
    EXPECT_TRUE(reaches_the_end(*stalled[i])) << "stalled console " << i << ": " << std::strerror(errno);
  }
  // The reading console heard every update, the last one included.
  ASSERT_TRUE(run_until([&] { return good.record().updated.size() == static_cast<size_t>(sent) + 1; }));
  const std::string last = "Printer " + std::to_string(sent - 1) + " ";
  EXPECT_EQ(good.record().updated.back()[0]->displayName().rfind(last, 0), 0u);
}

TEST_F(ServiceSession, PeersPipeliningRequestsWithoutReadingAreHeldAndAFreshRequestIsStillAnswered) {
  // 50 connections, each sending "attributes" requests until the service takes no more of them.
  // A service that read on would answer into queues that only grow: a connection could then send its whole
  // budget, and the service would close it once 4 MiB of answers wait.
  const size_t budget = size_t{4} << 20;
  // Without a line in the log for every one of the many requests.
  ASSERT_EQ(service_->stop(), 0);
  service_->set_log_level(3);
  ASSERT_TRUE(service_->start());
  for (const size_t count : {size_t{50}}) {
    SCOPED_TRACE(std::to_string(count) + " pipelining peers");
    std::vector<pipelining_peer> peers;
    peers.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      peers.emplace_back(service_->port());
      ASSERT_TRUE(peers.back().connected()) << "peer " << i;
    }
    fill_until_stuck(peers, budget);
    for (size_t i = 0; i < count; ++i) {
      EXPECT_FALSE(peers[i].failed()) << "peer " << i << " was closed";
      EXPECT_GT(peers[i].requests(), 0u) << "peer " << i;
      EXPECT_LT(peers[i].requests() * 40, budget) << "peer " << i << ": the service read on";
    }

    // While every one of them is stuck with its answers unread, a new console is answered.
    console_peer& fresh = new_console();
    ASSERT_EQ(fresh.connect(service_->port()), 0);
    auto attributes = fresh.attributes();
    ASSERT_TRUE(run_until([&] { return !attributes->statuses.empty(); }));
    EXPECT_EQ(attributes->statuses, std::vector<int32_t>{0});

    // Once they read, each gets an answer to every request it sent.
    for (size_t i = 0; i < count; ++i) {
      EXPECT_TRUE(peers[i].read_all(event_bound_ms)) << "peer " << i << ": " << peers[i].answers()
                                                     << " answers to " << peers[i].requests() << " requests";
    }
    fresh.stub().handle_close();
  }
  EXPECT_EQ(times_logged("it has stopped reading"), 0u);
}

TEST_F(ServiceSession, SubmitRejectsBadInputWithAReason) {
  console_peer& console = new_console();
  ASSERT_EQ(console.connect(service_->port()), 0);
  add_printer(console, console_printer("d08d51c9-7475-4e02-b1c8-ad8e9fb0c1d2", "twin"));
  add_printer(console, console_printer("e19e62da-8586-4f13-82d9-be9fa0c1d2e3", "twin"));
  const std::string pdf = document("ok.pdf", "%PDF-1.4");
  const std::string fifo = root_.path() + "/pipe.pdf";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  struct {
    const char* name;
    std::vector<std::string> args;
    int want_exit;
    const char* want_text;
  } cases[] = {
      {"unknown printer", {"--printer", "nowhere", pdf}, 4, "Unable to submit document"},
      {"ambiguous name", {"--printer", "twin", pdf}, 4, "give its uuid"},
      {"missing file", {"--printer", "twin", root_.path() + "/missing.pdf"}, 2, "Unable to read document"},
      {"folder instead of file", {"--printer", "twin", root_.path()}, 2, "not a regular file"},
      // Opening these would wait for a writer or the device: the tool says no at once.
      {"FIFO instead of file", {"--printer", "twin", fifo}, 2, "not a regular file"},
      {"device instead of file", {"--printer", "twin", "/dev/zero"}, 2, "not a regular file"},
      {"bad copies", {"--printer", "twin", "--copies", "none", pdf}, 2, "invalid value"},
  };
  for (const auto& c : cases) {
    const std::string output = root_.path() + "/" + c.name + ".out";
    child_process& tool = submit(c.args, output);
    const int got = finish(tool);
    EXPECT_EQ(got, c.want_exit) << c.name << ": got exit " << got << ", want " << c.want_exit;
    EXPECT_NE(read_file(output).find(c.want_text), std::string::npos)
        << c.name << ": got '" << read_file(output) << "', want a line with '" << c.want_text << "'";
  }
  // By uuid the twin is found.
  child_process& by_uuid =
      submit({"--printer", "E19E62DA-8586-4F13-82D9-BE9FA0C1D2E3", pdf}, root_.path() + "/u.out");
  EXPECT_EQ(finish(by_uuid), 0) << read_file(root_.path() + "/u.out");

  // Nothing on the port.
  child_process& nobody = submit({"--printer", "twin", "--port", "1", pdf}, root_.path() + "/port.out");
  EXPECT_EQ(finish(nobody), 3);
}

// submitJob reads the named file on the service's only thread: what is not a regular file is refused at once,
// with or without a format (which decides whether the first bytes are read before the copy).
TEST_F(ServiceSession, SubmitJobNamingAFifoFolderOrDeviceIsRefusedWithoutStoppingTheService) {
  console_peer& console = new_console();
  open_session(console);
  add_printer(console, console_printer("a3b1c2d4-1e2f-4a5b-8c6d-7e8f9a0b1c2d", "office"));
  const std::string fifo = root_.path() + "/waiting.pdf";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  struct {
    const char* name;
    std::string file;
    const char* format;
  } cases[] = {
      {"FIFO", fifo, ""},           {"FIFO with a format", fifo, "application/pdf"},
      {"folder", root_.path(), ""}, {"folder with a format", root_.path(), "application/pdf"},
      {"device", "/dev/zero", ""},  {"device with a format", "/dev/zero", "application/pdf"},
  };
  for (const auto& c : cases) {
    Json::Value job(Json::objectValue);
    job["printer"] = "office";
    job["file"] = c.file;
    if (*c.format) job["format"] = c.format;
    const Json::Value answer = call(console, "submitJob", jsonrpc::one_param(job));
    EXPECT_EQ(answer["error"]["code"].asInt(), error_unreadable_file)
        << c.name << ": got " << compact_json(answer);
  }
  // The service still answers, and kept nothing of the refused jobs.
  const Json::Value unknown = watch_job(loop_, console, 1);
  EXPECT_EQ(unknown["error"]["code"].asInt(), error_unknown_job) << compact_json(unknown);
  EXPECT_TRUE(console.record().prints.empty());
}

TEST_F(ServiceSession, AnotherAccountIsClosedBeforeAByteOfItIsRead) {
  quorvane::testing::other_account other;
  if (!other.made()) GTEST_SKIP() << other.why_not();
  console_peer& console = new_console();
  open_session(console);
  add_printer(console, console_printer("f2af73eb-9697-4024-93ea-cfa0b1d2e3f4", "office"));

  // The other account asks for the printer list and sends a printer of its own: it must hear nothing.
  const uint16_t port = static_cast<uint16_t>(service_->port());
  const pid_t intruder = other.run_as([port] {
    smart_ptr<socket> s(new socket());
    if (connect_to_loopback(*s, port) != 0) return 100;
    Json::Value observe(Json::objectValue);
    observe["id"] = 1;
    observe["method"] = "observe";
    observe["params"].append(true);
    Json::Value update(Json::objectValue);
    update["id"] = 2;
    update["method"] = "updatePrinter";
    update["params"][0]["uuid"] = "0badf00d-0000-4000-8000-000000000000";
    const std::string bytes = jsonrpc::frame(observe) + jsonrpc::frame(update);
    s->send(bytes.data(), bytes.size(), 0);
    char chunk[256];
    ssize_t got, total = 0;
    while ((got = s->recv(chunk, sizeof chunk, 0)) > 0) total += got;
    return total == 0 ? 0 : 1;
  });
  EXPECT_EQ(other.wait_for(intruder), 0) << "the other account was answered";

  ASSERT_TRUE(settle(console));
  EXPECT_EQ(console.record().updated.size(), 2u) << "the other account's printer reached the console";
  const std::string log = read_file(service_->log_file());
  EXPECT_NE(log.find("belongs to account " + std::to_string(other.uid())), std::string::npos) << log;

  // The submit tool run as that account is closed too, and queues nothing.
  const std::string path = "/tmp/qv-foreign-" + std::to_string(getpid()) + ".pdf";
  ASSERT_TRUE(write_file(path, "%PDF-1.4"));
  chmod(path.c_str(), 0644);
  const std::string output = "/tmp/qv-foreign-" + std::to_string(getpid()) + ".out";
  tools_.push_back(std::make_unique<child_process>());
  ASSERT_TRUE(tools_.back()->spawn(
      {service_binary(), "submit", "--port", std::to_string(service_->port()), "--printer", "office", path},
      {}, output, other.uid()));
  const int got = finish(*tools_.back());
  const std::string text = read_file(output);
  unlink(path.c_str());
  unlink(output.c_str());
  EXPECT_EQ(got, 3) << text;
  ASSERT_TRUE(settle(console));
  EXPECT_TRUE(console.record().prints.empty()) << "a job of the other account went out";
}

TEST_F(ServiceSession, SaveAttributesTakesOnlyTheConsolesAttributesInRange) {
  console_peer& console = new_console();
  open_session(console);
  struct attribute_case {
    const char* name;
    const char* members;
  };
  // Refused whole: nothing of these may be stored.
  const attribute_case refused[] = {
      {"an unknown name", R"({"printMode":1,"color":"red"})"},
      {"an empty name", R"({"":1})"},
      {"printMode above 1", R"({"printMode":2})"},
      {"logLevel below 0", R"({"logLevel":-1})"},
      {"logLevel above 10", R"({"logLevel":11})"},
      {"flags above 7", R"({"filenameGenerationFlags":8})"},
      {"flags as text", R"({"filenameGenerationFlags":"7"})"},
      {"flags as a fraction", R"({"filenameGenerationFlags":1.5})"},
      {"flags beyond 64 bits", R"({"filenameGenerationFlags":18446744073709551615})"},
      {"a boolean", R"({"printMode":true})"},
  };
  for (const attribute_case& c : refused) {
    Json::Value params(Json::arrayValue);
    Json::Value members;
    ASSERT_TRUE(Json::Reader().parse(c.members, members)) << c.name;
    params.append(members);
    const Json::Value outcome = call(console, "saveAttributes", params);
    EXPECT_EQ(outcome["error"]["code"].asInt(), -32602) << c.name << ": got " << compact_json(outcome);
  }
  auto attributes = console.attributes();
  ASSERT_TRUE(run_until([&] { return !attributes->statuses.empty(); }));
  const Json::Value& stored = attributes->value;
  // The stored three, and the IPP side's members that "attributes" adds without storing them.
  EXPECT_EQ(stored.getMemberNames(),
            (std::vector<std::string>{"filenameGenerationFlags", "ippDnssd", "ippListen", "ippPort",
                                      "logLevel", "printMode"}))
      << compact_json(stored);
  EXPECT_EQ(stored["printMode"].asInt(), 0) << "a refused object was stored in part";
  EXPECT_EQ(stored["filenameGenerationFlags"].asInt(), 0);

  // What the console sends is taken.
  Json::Value params(Json::arrayValue);
  params[0]["filenameGenerationFlags"] = 7;
  params[0]["logLevel"] = 10;
  params[0]["printMode"] = 1;
  EXPECT_EQ(jsonrpc::response_status(call(console, "saveAttributes", params)), 0);
}

TEST_F(ServiceSession, PathsAndUuidsWithANulByteAreRefused) {
  console_peer& console = new_console();
  open_session(console);
  add_printer(console, console_printer("0d1e2f3a-4b5c-4d6e-8f70-8192a3b4c5d6", "office"));
  const std::string doc = document("doc.pdf", "%PDF-1.4");
  const std::string cut = std::string("\0/../../etc/passwd", 18);
  struct nul_case {
    const char* name;
    const char* method;
    Json::Value params;
  };
  std::vector<nul_case> cases;
  const auto job = [&](const char* key, const std::string& value) {
    Json::Value params(Json::arrayValue);
    params[0]["printer"] = "office";
    params[0]["file"] = doc;
    params[0][key] = value;
    return params;
  };
  cases.push_back({"the document's path", "submitJob", job("file", doc + cut)});
  cases.push_back({"the user", "submitJob", job("user", std::string("bob") + cut)});
  cases.push_back({"the device address", "submitJob", job("deviceAddress", std::string("10.0.0.1") + cut)});
  cases.push_back({"the title", "submitJob", job("name", std::string("t") + cut)});
  for (const char* key : {"directory", "actionParam"}) {
    Json::Value params(Json::arrayValue);
    params[0]["uuid"] = "0d1e2f3a-4b5c-4d6e-8f70-8192a3b4c5d6";
    params[0][key] = std::string("/tmp") + cut;
    cases.push_back({key, "updatePrinter", params});
  }
  // A uuid that reads as the stored printer's up to its NUL byte.
  Json::Value look_alike(Json::arrayValue);
  look_alike[0]["uuid"] = "0d1e2f3a-4b5c-4d6e-8f70-8192a3b4c5d6" + cut;
  look_alike[0]["name"] = "office";
  look_alike[0]["enabled"] = true;
  cases.push_back({"the printer's uuid", "updatePrinter", look_alike});
  for (const nul_case& c : cases) {
    const Json::Value outcome = call(console, c.method, c.params);
    EXPECT_EQ(outcome["error"]["code"].asInt(), -32602) << c.name << ": got " << compact_json(outcome);
  }
  ASSERT_TRUE(settle(console));
  EXPECT_TRUE(console.record().prints.empty()) << "a job was queued from a cut path";
  EXPECT_EQ(console.record().updated.size(), 2u) << "a printer with a cut path was stored";
}

// A printer is offered over IPP from its record as stored: margins that are no objects (a record no
// console writes, but any peer of the account may send) leave the printer with the default margins, and the
// service goes on.
TEST_F(ServiceSession, AnOfferedPrinterWhoseMarginsAreNoObjectsTakesTheDefaults) {
  console_peer& console = new_console();
  open_session(console);
  const struct {
    const char* name;
    Json::Value margins;
  } cases[] = {
      {"a number",
       [] {
         Json::Value v(Json::arrayValue);
         v.append(5);
         return v;
       }()},
      {"text",
       [] {
         Json::Value v(Json::arrayValue);
         v.append("wide");
         return v;
       }()},
      {"a list",
       [] {
         Json::Value v(Json::arrayValue);
         v.append(Json::Value(Json::arrayValue));
         return v;
       }()},
  };
  int n = 0;
  for (const auto& c : cases) {
    Json::Value printer(Json::objectValue);
    printer["uuid"] = "7c2e4a10-1b3d-4f5a-9e8c-00000000000" + std::to_string(n++);
    printer["name"] = "odd";
    printer["enabled"] = true;
    printer["exists"] = true;
    Json::Value medium(Json::objectValue);
    medium["name"] = "iso_a4_210x297mm";
    medium["width"] = 21000;
    medium["height"] = 29700;
    medium["enabled"] = true;
    medium["margins"] = c.margins;
    printer["media"].append(medium);
    const Json::Value outcome = call(console, "updatePrinter", jsonrpc::one_param(printer));
    EXPECT_EQ(outcome["result"][0].asInt(), 0) << c.name << ": got " << compact_json(outcome);
    ASSERT_TRUE(settle(console)) << c.name << ": the service no longer answers";
    EXPECT_FALSE(service_->process().finished()) << c.name << ": the service ended";
  }
}

TEST_F(ServiceSession, ListensOnTheLoopbackAddressOnly) {
  // Every 127.x address reaches this machine, but a socket bound to 127.0.0.1 alone answers no other.
  for (const char* address : {"127.0.0.1", "127.0.0.2"}) {
    const int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(handle, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(service_->port()));
    inet_pton(AF_INET, address, &target.sin_addr);
    const bool reached = ::connect(handle, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0;
    ::close(handle);
    EXPECT_EQ(reached, std::string(address) == "127.0.0.1") << address;
  }
}

// The job folders in the service's spool.
std::vector<std::string> job_folders(const std::string& spool) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(spool.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

mode_t mode_of(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST_F(ServiceSession, ADeliveredJobsSpoolFolderIsGoneOnceItsEndIsStored) {
  console_peer& console = new_console();
  open_session(console);
  add_printer(console, console_printer("5d1c7e2a-3b4f-4c6d-8e9f-0a1b2c3d4e5f", "office"));
  const std::string spool = data_ + "/spool";
  for (const auto& [name, status, state] : {std::tuple{"completed", 0, 9}, std::tuple{"failed", 2, 8}}) {
    child_process& tool = submit({"--printer", "office", "--wait", document("d.pdf", "%PDF-1.4")},
                                 root_.path() + "/" + name + ".out");
    const size_t n = console.record().prints.size();
    ASSERT_TRUE(run_until([&] { return console.record().prints.size() == n + 1; })) << name;
    const std::string spooled = console.record().prints.back().job->filename().narrow();
    const std::string folder = spooled.substr(0, spooled.rfind('/'));
    EXPECT_EQ(read_file(spooled), "%PDF-1.4") << name << ": the console reads it until it answers";
    console.record().prints.back().completion(status, state, 0);
    finish(tool);
    EXPECT_NE(access(folder.c_str(), F_OK), 0) << name << ": " << folder << " is still there";
  }
  EXPECT_TRUE(job_folders(spool).empty());
  EXPECT_EQ(mode_of(spool), 0700u);
}

TEST_F(ServiceSession, AnInterruptedRunsLeftoversAreRemovedAtStart) {
  console_peer& console = new_console();
  ASSERT_EQ(console.connect(service_->port()), 0);
  add_printer(console, console_printer("6e2d8f3b-4c5a-4d7e-9f0a-1b2c3d4e5f6a", "office"));
  // Queued while no console observes: its document must survive the restart.
  EXPECT_EQ(finish(submit({"--printer", "office", document("q.pdf", "%PDF-1.4")}, root_.path() + "/q.out")),
            0);
  const std::string spool = data_ + "/spool";
  const std::vector<std::string> queued = job_folders(spool);
  ASSERT_EQ(queued.size(), 1u);
  consoles_.clear();
  EXPECT_EQ(service_->stop(), 0);

  // What a run that died between storing a job's end and deleting its document leaves behind, and a spool
  // folder someone opened to others.
  const std::string leftover = spool + "/0f0e0d0c-0b0a-4908-8706-050403020100";
  ASSERT_EQ(mkdir(leftover.c_str(), 0700), 0);
  ASSERT_TRUE(write_file(leftover + "/Payslip.pdf", "%PDF-1.4 private"));
  ASSERT_TRUE(write_file(spool + "/notes.txt", "not a job's"));
  ASSERT_EQ(chmod(spool.c_str(), 0755), 0);

  ASSERT_TRUE(service_->start()) << read_file(service_->log_file());
  EXPECT_NE(access(leftover.c_str(), F_OK), 0) << "the ended job's document is still there";
  EXPECT_EQ(job_folders(spool), (std::vector<std::string>{queued[0], "notes.txt"}));
  EXPECT_EQ(mode_of(spool), 0700u);

  // The queued job still goes out, and its document goes once it has ended.
  console_peer& observer = new_console();
  open_session(observer);
  ASSERT_TRUE(run_until([&] { return observer.record().prints.size() == 1; }));
  observer.record().prints[0].completion(0, 9, 0);
  EXPECT_TRUE(run_until([&] { return job_folders(spool) == std::vector<std::string>{"notes.txt"}; }));
}

TEST_F(ServiceSession, HistoryIsCutToItsBoundsAndAPrunedJobIsAnUnknownJob) {
  EXPECT_EQ(service_->stop(), 0);
  service_->set_extra_arguments({"--keep-jobs", "2"});
  ASSERT_TRUE(service_->start()) << read_file(service_->log_file());
  console_peer& console = new_console();
  open_session(console);
  add_printer(console, console_printer("7f3e9a4c-5d6b-4e8f-a0b1-2c3d4e5f6a7b", "office"));
  for (size_t i = 1; i <= 4; ++i) {
    EXPECT_EQ(finish(submit({"--printer", "office", document("h.pdf", "%PDF-1.4")}, root_.path() + "/h.out")),
              0);
    ASSERT_TRUE(run_until([&] { return console.record().prints.size() == i; }));
    console.record().prints.back().completion(0, 9, static_cast<int32_t>(i));
  }
  // The end of job 4 is stored once watchJob reports it.
  ASSERT_TRUE(run_until([&] { return watch_job(loop_, console, 4)["result"][1]["finished"].asBool(); }));

  struct {
    int64_t job;
    bool kept;
  } cases[] = {{1, false}, {2, false}, {3, true}, {4, true}};
  for (const auto& c : cases) {
    const Json::Value answer = watch_job(loop_, console, c.job);
    if (c.kept) {
      EXPECT_EQ(answer["result"][1]["platformID"].asInt64(), c.job) << compact_json(answer);
    } else {
      EXPECT_EQ(answer["error"]["code"].asInt(), -32005) << compact_json(answer);
      EXPECT_EQ(answer["error"]["message"].asString(),
                "Unable to find job '" + std::to_string(c.job) + "': no such job");
    }
  }
  // Still cut after a restart with a smaller bound.
  consoles_.clear();
  EXPECT_EQ(service_->stop(), 0);
  service_->set_extra_arguments({"--keep-jobs", "1"});
  ASSERT_TRUE(service_->start()) << read_file(service_->log_file());
  console_peer& again = new_console();
  ASSERT_EQ(again.connect(service_->port()), 0);
  EXPECT_EQ(watch_job(loop_, again, 3)["error"]["code"].asInt(), -32005);
  EXPECT_TRUE(watch_job(loop_, again, 4)["result"][1]["finished"].asBool());
}

TEST_F(ServiceSession, ADocumentThatWouldFillTheDiskIsRefusedBeforeWriting) {
  console_peer& console = new_console();
  ASSERT_EQ(console.connect(service_->port()), 0);
  add_printer(console, console_printer("809fab5d-6e7c-4f90-b1c2-3d4e5f6a7b8c", "office"));
  // A sparse file that claims more bytes than the file system has free takes no room itself.
  struct statvfs fs {};
  ASSERT_EQ(statvfs(data_.c_str(), &fs), 0);
  const off_t huge = static_cast<off_t>(fs.f_bavail * fs.f_frsize + (off_t{1} << 30));
  const std::string big = root_.path() + "/huge.pdf";
  ASSERT_TRUE(write_file(big, "%PDF-1.4"));
  ASSERT_EQ(truncate(big.c_str(), huge), 0) << strerror(errno);

  const std::string output = root_.path() + "/huge.out";
  EXPECT_EQ(finish(submit({"--printer", "office", big}, output)), 4) << read_file(output);
  EXPECT_NE(read_file(output).find("Unable to spool document '" + big + "': the spool's file system has"),
            std::string::npos)
      << read_file(output);
  EXPECT_NE(read_file(output).find("MiB must stay free"), std::string::npos) << read_file(output);
  EXPECT_TRUE(job_folders(data_ + "/spool").empty()) << "nothing was written";
  // A document that fits is still taken.
  EXPECT_EQ(finish(submit({"--printer", "office", document("small.pdf", "%PDF-1.4")}, output)), 0);
}

TEST(ServiceProgram, APortInUseIsAClearError) {
  temporary_folder root;
  service_process first(root.path() + "/a", no_cups);
  ASSERT_TRUE(first.start());
  child_process second;
  const std::string output = root.path() + "/second.out";
  ASSERT_TRUE(
      second.spawn({service_binary(), "--port", std::to_string(first.port()), "--data", root.path() + "/b"},
                   no_cups, output));
  ASSERT_TRUE(second.wait(event_bound_ms));
  EXPECT_NE(second.exit_status(), 0);
  EXPECT_NE(read_file(output).find("Address already in use"), std::string::npos) << read_file(output);
  EXPECT_EQ(first.stop(), 0);
}

// Runs the service on a free port with `data` as its folder until it ends or 10 s pass; its output.
std::string run_with_data_folder(const std::string& data, const std::string& output, int& exit_status) {
  child_process service;
  exit_status = -1;
  if (!service.spawn({service_binary(), "--port", "0", "--data", data}, no_cups, output)) return {};
  if (!service.wait(event_bound_ms)) {
    service.kill_now();
    return "still running: " + read_file(output);
  }
  exit_status = service.exit_status();
  return read_file(output);
}

TEST(ServiceProgram, ADataFolderOthersMayWriteIntoIsRefused) {
  temporary_folder root;
  const std::string data = root.path() + "/data";
  for (const mode_t mode : {mode_t{0777}, mode_t{0770}, mode_t{0702}}) {
    ASSERT_EQ(mkdir(data.c_str(), 0700), 0);
    ASSERT_EQ(chmod(data.c_str(), mode), 0);
    int status = 0;
    const std::string text = run_with_data_folder(data, root.path() + "/out", status);
    EXPECT_EQ(status, 1) << std::oct << mode << ": " << text;
    EXPECT_NE(text.find("others may write into it"), std::string::npos) << text;
    EXPECT_FALSE(std::ifstream(data + "/service.db").good()) << std::oct << mode << ": the store was made";
    rmdir(data.c_str());
    unlink((root.path() + "/out").c_str());
  }
}

TEST(ServiceProgram, ADataFolderOfAnotherAccountIsRefused) {
  quorvane::testing::other_account other;
  if (!other.made()) GTEST_SKIP() << other.why_not();
  temporary_folder root;
  const std::string data = root.path() + "/data";
  ASSERT_EQ(mkdir(data.c_str(), 0700), 0);
  ASSERT_EQ(chown(data.c_str(), other.uid(), static_cast<gid_t>(-1)), 0);
  int status = 0;
  const std::string text = run_with_data_folder(data, root.path() + "/out", status);
  EXPECT_EQ(status, 1) << text;
  EXPECT_NE(text.find("belongs to account " + std::to_string(other.uid())), std::string::npos) << text;
}

TEST(ServiceProgram, FilesAreTheOwnersOnlyAndNeverWrittenThroughALink) {
  temporary_folder root;
  const std::string data = root.path() + "/data";
  ASSERT_EQ(mkdir(data.c_str(), 0755), 0);
  ASSERT_EQ(chmod(data.c_str(), 0755), 0);
  // A link planted as the port file points at a file the service must not overwrite.
  const std::string victim = root.path() + "/victim";
  ASSERT_TRUE(write_file(victim, "precious\n"));
  ASSERT_EQ(symlink(victim.c_str(), (data + "/service.port").c_str()), 0);
  child_process service;
  const std::string output = root.path() + "/out";
  // Its IPP printers on a port the system chooses, on loopback, unadvertised: never the default port that
  // another service may hold.
  ASSERT_TRUE(service.spawn({service_binary(), "--port", "0", "--data", data, "--ipp-port", "0",
                             "--ipp-listen", "loopback", "--no-dnssd"},
                            no_cups, output));
  // The port file is written once the service listens.
  const auto deadline = std::chrono::steady_clock::now() + event_bound;
  struct stat port_file {};
  while (!(lstat((data + "/service.port").c_str(), &port_file) == 0 && S_ISREG(port_file.st_mode))) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << read_file(output);
    ASSERT_FALSE(service.finished()) << read_file(output);
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(read_file(victim), "precious\n") << "the service wrote through the link";
  for (const char* name : {"service.db", "service.port"}) {
    struct stat info {};
    ASSERT_EQ(lstat((data + "/" + name).c_str(), &info), 0) << name;
    EXPECT_TRUE(S_ISREG(info.st_mode)) << name << " is not a regular file";
    EXPECT_EQ(info.st_mode & 0777, 0600u) << name << ": mode " << std::oct << (info.st_mode & 0777);
  }
  ASSERT_TRUE(service.signal(SIGTERM));
  ASSERT_TRUE(service.wait(event_bound_ms));
  EXPECT_EQ(service.exit_status(), 0) << read_file(output);
}

}  // namespace
}  // namespace quorvane::print_service::testing
