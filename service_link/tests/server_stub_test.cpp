#include "service_link/server_stub.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/json_text.h"
#include "core/log.h"
#include "net/poll_runloop.h"
#include "net/tests/other_account.h"
#include "test_support/socket_pair.h"

namespace quorvane {
namespace {

// Records every delegate call as one line of text.
struct recorder : server::delegate {
  std::vector<std::string> calls;
  std::vector<print_completion> completions;
  smart_ptr<model::job> last_job;

  static std::string names(const std::list<smart_ptr<model::printer>>& printers) {
    std::string text;
    bool first = true;
    for (const auto& p : printers) {
      text += (first ? "" : ",") + p->name().narrow();
      first = false;
    }
    return text;
  }
  void printersWereUpdated(std::list<smart_ptr<model::printer>>& printers) override {
    calls.push_back("updated[" + names(printers) + "]");
  }
  void printersWereRemoved(std::list<smart_ptr<model::printer>>& printers) override {
    calls.push_back("removed[" + names(printers) + "]");
  }
  void devicesWereUpdated(std::list<smart_ptr<model::device>>& devices) override {
    std::string text;
    for (const auto& d : devices) text += (text.empty() ? "" : ",") + d->host().narrow();
    calls.push_back("devicesUpdated[" + text + "]");
  }
  void devicesWereRemoved(std::list<smart_ptr<model::device>>& devices) override {
    calls.push_back("devicesRemoved[" + std::to_string(devices.size()) + "]");
  }
  void print(smart_ptr<model::printer>& printer, smart_ptr<model::job>& job,
             print_completion completion) override {
    calls.push_back("print[" + printer->name().narrow() + "," + job->name().narrow() + "]");
    last_job = job;
    completions.push_back(std::move(completion));
  }
};

// A stub whose connection is one end of a socket pair; the test reads the other end.
class paired_stub final : public server_stub {
 public:
  explicit paired_stub(server::delegate* d) : server_stub(d) {
    testing_support::socket_pair handles;
    if (!handles.made()) return;
    socket near(handles.take_first());
    // Taking a socket over takes its (empty) delegate too; the stub is its own.
    take_over(near);
    set_delegate(static_cast<jsonrpc::connection::delegate*>(this));
    peer = handles.take_second();
  }
  ~paired_stub() override {
    if (peer >= 0) ::close(peer);
  }
  // The frames written so far, each payload without its frame.
  std::vector<std::string> written() {
    std::string all;
    char chunk[4096];
    ssize_t n;
    while ((n = ::recv(peer, chunk, sizeof chunk, MSG_DONTWAIT)) > 0)
      all.append(chunk, static_cast<size_t>(n));
    std::vector<std::string> payloads;
    while (!all.empty()) {
      const size_t colon = all.find(':');
      const size_t length = std::stoul(all.substr(0, colon));
      payloads.push_back(all.substr(colon + 1, length));
      all.erase(0, colon + 1 + length + 1);
    }
    return payloads;
  }
  // Hands `message` to the connection as if the service had sent it.
  void receive(const std::string& json) {
    const std::string bytes = std::to_string(json.size()) + ":" + json + ",";
    deliver(bytes.data(), bytes.size());
  }
  int peer = -1;
};

class ServerStub : public ::testing::Test {
 protected:
  recorder delegate_;
  smart_ptr<paired_stub> stub_{new paired_stub(&delegate_)};
};

TEST_F(ServerStub, WritesTheSixRequestsExactly) {
  smart_ptr<model::printer> p(new model::printer());
  p->setUuid("u-1");
  p->setName(wide_string::from_narrow("office"));
  Json::Value printer_json(Json::objectValue);
  p->writeJSON(printer_json);
  const std::string printer_text = compact_json(printer_json);
  const std::string printer_param = printer_text.substr(0, printer_text.size() - 1);

  Json::Value attributes(Json::objectValue);
  attributes["printMode"] = 1;
  stub_->authenticate("", nullptr);
  stub_->attributes(nullptr);
  stub_->observe(true, nullptr);
  stub_->observe(false, nullptr);
  stub_->saveAttributes(attributes, nullptr);
  stub_->updatePrinter(p, nullptr);
  stub_->removePrinter(p, nullptr);

  const std::vector<std::string> want = {
      "{\"id\":1,\"jsonrpc\":\"2.0\",\"method\":\"authenticate\",\"params\":[\"\"]}\n",
      "{\"id\":2,\"jsonrpc\":\"2.0\",\"method\":\"attributes\"}\n",
      "{\"id\":3,\"jsonrpc\":\"2.0\",\"method\":\"observe\",\"params\":[true]}\n",
      "{\"id\":4,\"jsonrpc\":\"2.0\",\"method\":\"observe\",\"params\":[false]}\n",
      "{\"id\":5,\"jsonrpc\":\"2.0\",\"method\":\"saveAttributes\",\"params\":[{\"printMode\":1}]}\n",
      "{\"id\":6,\"jsonrpc\":\"2.0\",\"method\":\"updatePrinter\",\"params\":[" + printer_param + "]}\n",
      "{\"id\":7,\"jsonrpc\":\"2.0\",\"method\":\"removePrinter\",\"params\":[" + printer_param + "]}\n",
  };
  const std::vector<std::string> got = stub_->written();
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i], want[i]) << "request " << i + 1;
}

TEST_F(ServerStub, StatusComesFromErrorCodeElseResultZeroElseZero) {
  struct {
    const char* name;
    const char* response;  // without "id"; the test adds it
    int32_t want_status;
    const char* want_attributes;  // compact text of the value handed to the attributes callback
  } cases[] = {
      // defined by the protocol
      {"result [0]", "\"result\":[0]", 0, "null"},
      {"result [7, {}]", "\"result\":[7,{}]", 7, "{}"},
      {"attributes object", "\"result\":[0,{\"logLevel\":10}]", 0, "{\"logLevel\":10}"},
      {"error code", "\"error\":{\"code\":-32601,\"message\":\"Method not found\"}", -32601, "null"},
      {"error wins over result", "\"error\":{\"code\":3},\"result\":[0,{}]", 3, "null"},
      {"null error uses result", "\"error\":null,\"result\":[5,{}]", 5, "{}"},
      {"neither error nor result", "\"jsonrpc\":\"2.0\"", 0, "null"},
      {"empty result", "\"result\":[]", 0, "null"},
      // malformed answers are still answers, with status -1
      {"result not an array", "\"result\":{\"a\":1}", -1, "null"},
      {"status not a number", "\"result\":[\"ok\"]", -1, "null"},
      {"error not an object", "\"error\":\"boom\"", -1, "null"},
      {"code not a number", "\"error\":{\"code\":\"x\"}", -1, "null"},
      // an error without a code is a failure, never a success
      {"error without code", "\"error\":{\"message\":\"x\"}", -1, "null"},
  };
  set_log_level(log_error);
  for (const auto& c : cases) {
    int32_t status = 12345, attributes_status = 12345;
    std::string attributes = "unset";
    stub_->observe(true, [&](int32_t s) { status = s; });
    const int32_t first = stub_->next_request_id() - 1;
    stub_->attributes([&](int32_t s, Json::Value& value) {
      attributes_status = s;
      attributes = compact_json(value);
      attributes.pop_back();
    });
    stub_->receive("{\"id\":" + std::to_string(first) + "," + c.response + "}");
    stub_->receive("{\"id\":" + std::to_string(first + 1) + "," + c.response + "}");
    EXPECT_EQ(status, c.want_status) << c.name << ": got " << status << ", want " << c.want_status;
    EXPECT_EQ(attributes_status, c.want_status) << c.name << " (attributes)";
    EXPECT_EQ(attributes, c.want_attributes)
        << c.name << ": got " << attributes << ", want " << c.want_attributes;
  }
  set_log_level(log_information);
}

TEST_F(ServerStub, OutstandingCallsAreToldTenAtEveryCloseNeverFromTheOperation) {
  std::vector<std::string> heard;
  stub_->attributes([&](int32_t s, Json::Value& v) {
    heard.push_back("attributes " + std::to_string(s) + " " + (v.isNull() ? "null" : "value"));
  });
  stub_->updatePrinter(smart_ptr<model::printer>(new model::printer()),
                       [&](int32_t s) { heard.push_back("update " + std::to_string(s)); });
  EXPECT_TRUE(heard.empty()) << "a callback ran inside its operation";

  stub_->handle_close();
  EXPECT_EQ(heard, (std::vector<std::string>{"attributes 10 null", "update 10"}));
  stub_->handle_close();
  EXPECT_EQ(heard.size(), 4u) << "told again at the next close";

  // A request on the closed connection is not sent and hears of the next close only.
  stub_->observe(true, [&](int32_t s) { heard.push_back("observe " + std::to_string(s)); });
  EXPECT_EQ(heard.size(), 4u);
  stub_->handle_close();
  EXPECT_EQ(heard.back(), "observe 10");
}

TEST_F(ServerStub, ListNotificationsBuildRecordsInOrder) {
  struct {
    const char* name;
    const char* message;
    const char* want;  // the delegate call, "" for none
  } cases[] = {
      {"two printers", R"({"method":"printersWereUpdated","params":[[{"name":"p1"},{"name":"p2"}]]})",
       "updated[p1,p2]"},
      {"empty params", R"({"method":"printersWereUpdated","params":[]})", "updated[]"},
      {"no params", R"({"method":"printersWereUpdated"})", "updated[]"},
      {"object instead of list", R"({"method":"printersWereRemoved","params":[{"name":"p"}]})", "removed[]"},
      {"null element keeps defaults", R"({"method":"printersWereRemoved","params":[[null,{"name":"x"}]]})",
       "removed[,x]"},
      {"two devices", R"({"method":"devicesWereUpdated","params":[[{"host":"a"},{"host":"b"}]]})",
       "devicesUpdated[a,b]"},
      {"devices removed", R"({"method":"devicesWereRemoved","params":[[{}]]})", "devicesRemoved[1]"},
      {"unknown method", R"({"method":"jobsWereUpdated","params":[[{}]]})", ""},
      {"notification with id is not answered", R"({"id":4,"method":"printersWereUpdated","params":[[]]})",
       "updated[]"},
  };
  for (const auto& c : cases) {
    delegate_.calls.clear();
    stub_->receive(c.message);
    const std::string got = delegate_.calls.empty() ? "" : delegate_.calls.front();
    EXPECT_EQ(got, c.want) << c.name << ": got " << got << ", want " << c.want;
    EXPECT_LE(delegate_.calls.size(), 1u) << c.name;
  }
  EXPECT_TRUE(stub_->written().empty()) << "a notification was answered";
}

TEST_F(ServerStub, PrintIsAnsweredOnceThroughTheCompletionWithTheIdAsReceived) {
  stub_->receive(
      R"({"id":7,"jsonrpc":"2.0","method":"print","params":[{"name":"office"},{"name":"report"}]})");
  stub_->receive(R"({"id":"job-8","method":"print","params":[{"name":"lab"}]})");
  ASSERT_EQ(delegate_.calls, (std::vector<std::string>{"print[office,report]", "print[lab,]"}));
  // A job that was not sent keeps every readJSON default.
  EXPECT_EQ(delegate_.last_job->copies(), 0);
  EXPECT_EQ(delegate_.last_job->name().narrow(), "");

  EXPECT_TRUE(stub_->written().empty()) << "answered before the completion";
  delegate_.completions[0](0, 9, 0);
  delegate_.completions[1](5, 8, 42);
  EXPECT_EQ(stub_->written(), (std::vector<std::string>{"{\"id\":7,\"result\":[0,9,0]}\n",
                                                        "{\"id\":\"job-8\",\"result\":[5,8,42]}\n"}));
}

TEST_F(ServerStub, MalformedMessagesAreDroppedAndAMalformedPrintIsAnsweredAborted) {
  struct {
    const char* name;
    const char* message;
    const char* want_reply;  // "" for none
  } cases[] = {
      {"method not a string", R"({"id":1,"method":5,"params":[]})", ""},
      {"list params a string", R"({"method":"printersWereUpdated","params":"p"})", ""},
      {"list element a number", R"({"method":"printersWereUpdated","params":[[{"name":"a"},3]]})", ""},
      {"device element a string", R"({"method":"devicesWereRemoved","params":[["d"]]})", ""},
      {"print without params", R"({"id":2,"method":"print"})", "{\"id\":2,\"result\":[-1,8,0]}\n"},
      {"print params a string", R"({"id":3,"method":"print","params":"x"})",
       "{\"id\":3,\"result\":[-1,8,0]}\n"},
      {"print job a number", R"({"id":4,"method":"print","params":[{},9]})",
       "{\"id\":4,\"result\":[-1,8,0]}\n"},
      {"print printer an array", R"({"id":5,"method":"print","params":[[],{}]})",
       "{\"id\":5,\"result\":[-1,8,0]}\n"},
      {"malformed print without id", R"({"method":"print","params":7})", ""},
      // A path cut at a NUL would name another file than the one sent.
      {"NUL in the job's file name",
       R"({"id":6,"method":"print","params":[{},{"filename":"/d/doc.pdf\u0000/../../etc/passwd"}]})",
       R"({"error":{"code":-32602,"message":"a NUL byte in \"filename\""},"id":6})"
       "\n"},
      {"NUL in the printer's folder",
       R"({"id":7,"method":"print","params":[{"directory":"/tmp\u0000x"},{}]})",
       R"({"error":{"code":-32602,"message":"a NUL byte in \"directory\""},"id":7})"
       "\n"},
      {"NUL in the program to start",
       R"({"id":8,"method":"print","params":[{"actionParam":"/bin/sh\u0000"},{}]})",
       R"({"error":{"code":-32602,"message":"a NUL byte in \"actionParam\""},"id":8})"
       "\n"},
  };
  set_log_level(log_error);
  for (const auto& c : cases) {
    stub_->receive(c.message);
    const std::vector<std::string> written = stub_->written();
    const std::string got = written.empty() ? "" : written.front();
    EXPECT_EQ(got, c.want_reply) << c.name << ": got " << got << ", want " << c.want_reply;
    EXPECT_TRUE(delegate_.calls.empty())
        << c.name << ": the delegate was called with " << delegate_.calls.front();
    delegate_.calls.clear();
  }
  set_log_level(log_information);
  EXPECT_TRUE(stub_->connected()) << "a dropped message does not end the connection";
}

// A stub connecting for real, on a main run loop of its own.
class ConnectingStub : public testing::other_account_test {
 protected:
  void SetUp() override {
    set_main_runloop(&loop_);
    other_account_test::SetUp();
  }
  void TearDown() override {
    if (stub_) stub_->close();
    set_main_runloop(nullptr);
    other_account_test::TearDown();
  }
  int32_t connect_to(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return stub_->connect(reinterpret_cast<const sockaddr*>(&address), sizeof address);
  }
  poll_runloop loop_;
  recorder delegate_;
  smart_ptr<server_stub> stub_;  // made after the other account's child, which must not hold its socket
};

// Without root no other account can be made; the own-account case needs none.
TEST(ServerStubConnect, AServiceOfOurOwnAccountIsUsed) {
  poll_runloop loop;
  set_main_runloop(&loop);
  smart_ptr<socket> listener = listen_on_loopback(0);
  ASSERT_TRUE(listener);
  smart_ptr<server_stub> stub(new server_stub(nullptr));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(listener->local_port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(stub->connect(reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  EXPECT_TRUE(stub->connected());
  stub->close();
  set_main_runloop(nullptr);
}

TEST_F(ConnectingStub, AListenerOfAnotherAccountIsLeftBeforeAnythingIsSentOrRead) {
  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);
  // The impostor offers a print request that would start a program, then counts what the console sends.
  const pid_t impostor = run_as_other([&pipe_ends] {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length)) {
      return 100;
    }
    if (::write(pipe_ends[1], &address.sin_port, sizeof address.sin_port) != sizeof address.sin_port)
      return 100;
    const int peer = ::accept(listener, nullptr, nullptr);
    const std::string print =
        R"({"id":1,"method":"print","params":[{"action":1,"actionParam":"/usr/bin/touch"},{"filename":"/tmp/x"}]})";
    const std::string framed = std::to_string(print.size()) + ":" + print + ",";
    if (::send(peer, framed.data(), framed.size(), MSG_NOSIGNAL) < 0) return 100;
    char chunk[256];
    ssize_t got, total = 0;
    while ((got = ::recv(peer, chunk, sizeof chunk, 0)) > 0) total += got;
    return total == 0 ? 0 : 1;
  });
  ::close(pipe_ends[1]);
  in_port_t port = 0;
  ASSERT_EQ(::read(pipe_ends[0], &port, sizeof port), static_cast<ssize_t>(sizeof port));
  ::close(pipe_ends[0]);

  stub_ = smart_ptr<server_stub>(new server_stub(&delegate_));
  set_log_level(log_none);
  EXPECT_EQ(connect_to(ntohs(port)), -1) << "got connected to another account's listener";
  EXPECT_FALSE(stub_->connected());
  stub_->authenticate("", nullptr);
  set_log_level(log_information);
  loop_.run_once(50);
  EXPECT_EQ(wait_for(impostor), 0) << "the console sent bytes to the impostor";
  EXPECT_TRUE(delegate_.calls.empty()) << "the impostor's print request was handled";
}

TEST(ServerStubWithoutDelegate, IgnoresEverything) {
  smart_ptr<paired_stub> stub(new paired_stub(nullptr));
  stub->receive(R"({"id":1,"method":"print","params":[{},{}]})");
  stub->receive(R"({"method":"printersWereUpdated","params":[[{}]]})");
  EXPECT_TRUE(stub->written().empty());
}

}  // namespace
}  // namespace quorvane
