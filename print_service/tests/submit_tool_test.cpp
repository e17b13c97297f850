// The submit tool against a service played by the test on a thread of its own.
#include "print_service/submit_tool.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "core/json_text.h"
#include "net/jsonrpc_connection.h"
#include "test_support/temporary_folder.h"

namespace quorvane::print_service {
namespace {

// A listener on a free loopback port whose connections the test serves one at a time.
class fake_service {
 public:
  fake_service() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 4);
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~fake_service() { ::close(listener_); }

  int port() const { return port_; }

  // Accepts a connection, reads one request and answers it with `result`; with `then_close` the answer and
  // the end of the connection leave together, so that the tool reads both in one go.
  bool answer_one(const std::string& method, const Json::Value& result, bool then_close) {
    const int peer = ::accept(listener_, nullptr, nullptr);
    if (peer < 0) return false;
    const bool ok = serve(peer, method, result, then_close);
    ::close(peer);
    return ok;
  }

 private:
  static bool serve(int peer, const std::string& method, const Json::Value& result, bool then_close) {
    std::string received;
    char buffer[4096];
    Json::Value request;
    // A netstring: "<length>:<payload>,".
    for (;;) {
      const size_t colon = received.find(':');
      if (colon != std::string::npos) {
        const size_t length = std::stoul(received.substr(0, colon));
        if (received.size() >= colon + 1 + length + 1) {
          if (!parse_json(received.substr(colon + 1, length), request)) return false;
          break;
        }
      }
      const ssize_t got = ::recv(peer, buffer, sizeof buffer, 0);
      if (got <= 0) return false;
      received.append(buffer, static_cast<size_t>(got));
    }
    if (request["method"].asString() != method) return false;
    Json::Value answer(Json::objectValue);
    answer["id"] = request["id"];
    answer["result"] = result;
    const std::string framed = jsonrpc::frame(answer);
    const int cork = 1;
    if (then_close) setsockopt(peer, IPPROTO_TCP, TCP_CORK, &cork, sizeof cork);
    if (::send(peer, framed.data(), framed.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(framed.size()))
      return false;
    if (then_close) ::shutdown(peer, SHUT_WR);
    return true;
  }

  int listener_ = -1;
  int port_ = 0;
};

// The service ended right after it queued the job: the tool's next request went to a connection that had
// closed already, and the tool waited for its answer for ever instead of reconnecting.
TEST(SubmitTool, WaitReconnectsWhenTheServiceEndsRightAfterQueueingTheJob) {
  testing_support::temporary_folder folder;
  const std::string document = folder.path() + "/doc.pdf";
  std::FILE* file = std::fopen(document.c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fputs("%PDF-1.4\n%%EOF\n", file);
  std::fclose(file);
  fake_service service;
  std::thread play([&service] {
    Json::Value queued(Json::arrayValue);
    queued.append(0);
    queued.append(7);
    Json::Value ended(Json::arrayValue);
    ended.append(0);
    ended[1]["job"] = 7;
    ended[1]["status"] = 0;
    ended[1]["state"] = 9;
    ended[1]["platformID"] = 0;
    EXPECT_TRUE(service.answer_one("submitJob", queued, /*then_close=*/true));
    EXPECT_TRUE(service.answer_one("watchJob", ended, /*then_close=*/false));
  });
  submit_options options;
  options.printer = "office";
  options.port = service.port();
  options.wait = true;
  options.file = document;
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const int status = run_submit(options, out, err);
  play.join();
  EXPECT_EQ(status, 0);
  std::rewind(out);
  char line[128] = {};
  ASSERT_NE(std::fgets(line, sizeof line, out), nullptr);
  EXPECT_STREQ(line, "status 0, state 9, job id 0\n");
  std::fclose(out);
  std::fclose(err);
}

}  // namespace
}  // namespace quorvane::print_service
