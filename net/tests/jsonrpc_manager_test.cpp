#include "net/jsonrpc_manager.h"

#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/log.h"
#include "net/poll_runloop.h"

namespace quorvane::jsonrpc {
namespace {

// A poll run loop recorded as the main one for the test's duration.
class main_loop_fixture : public testing::Test {
 protected:
  void SetUp() override { set_main_runloop(&loop_); }
  void TearDown() override {
    // Connections a test left open are closed while the loop still exists.
    while (!accepted_connections().empty()) accepted_connections().front()->handle_close();
    set_main_runloop(nullptr);
  }
  poll_runloop loop_;
};

using Adopt = main_loop_fixture;

TEST_F(Adopt, TakesOverOnlyDigitsColonBrace) {
  struct adopt_case {
    const char* name;
    std::string bytes;
    bool adopted;
  };
  const adopt_case cases[] = {
      // Taken over
      {"digits, colon, brace", "42:{\"id\"", true},
      {"colon and brace without digits", ":{", true},
      {"exactly digits, colon, brace", "42:{", true},
      // Left alone
      {"square bracket", "42:[1]", false},
      {"no colon", "42{", false},
      {"letters for digits", "ab:{", false},
      {"digits only", "42", false},
      {"digits and colon only", "42:", false},
      {"nothing", "", false},
      {"an HTTP request", "GET / HTTP/1.1\r\n", false},
  };
  for (const auto& c : cases) {
    int handles[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, handles), 0);
    smart_ptr<socket> accepted(new socket(handles[0]));
    const int handle = accepted->handle();
    const bool adopted = manager::shared().adopt(accepted, c.bytes.data(), c.bytes.size(), nullptr);
    EXPECT_EQ(adopted, c.adopted) << c.name << ": got " << adopted << ", want " << c.adopted;
    if (adopted) {
      ASSERT_EQ(accepted_connections().size(), 1u) << c.name;
      EXPECT_EQ(accepted_connections().back()->handle(), handle) << c.name;
      EXPECT_EQ(accepted->handle(), socket::invalid_handle)
          << c.name << ": the source must give its handle up";
      EXPECT_EQ(loop_.watched_count(), 1u) << c.name;
      accepted_connections().back()->handle_close();
    } else {
      EXPECT_EQ(accepted->handle(), handle) << c.name << ": a refused socket must be left alone";
    }
    EXPECT_TRUE(accepted_connections().empty()) << c.name << ": a closed connection leaves the list";
    EXPECT_EQ(loop_.watched_count(), 0u) << c.name;
    ::close(handles[1]);
  }
}

TEST(Classify, PrefixesOfTheFormAreUndecided) {
  struct classify_case {
    const char* bytes;
    first_bytes want;
  };
  const classify_case cases[] = {
      {"", first_bytes::undecided},  {"4", first_bytes::undecided},  {"42:", first_bytes::undecided},
      {":", first_bytes::undecided}, {"42:{", first_bytes::jsonrpc}, {"4x", first_bytes::other},
      {"G", first_bytes::other},     {"42:x", first_bytes::other},   {"::", first_bytes::other},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(classify_first_bytes(c.bytes, std::strlen(c.bytes)), c.want) << "'" << c.bytes << "'";
  }
}

TEST(Manager, IsNamedJsonrpcAndJoinsTheHandlerList) {
  manager& m = manager::shared();
  EXPECT_EQ(m.status(), 0);
  EXPECT_EQ(m.name(), "jsonrpc");
  m.register_ipc();
  m.register_ipc();
  int found = 0;
  for (ipc* handler = ipc::ipc_head(); handler; handler = handler->next_ipc()) found += handler == &m;
  EXPECT_EQ(found, 1);
}

// Answers "ping" with its params.
class echo final : public connection::delegate {
 public:
  void request_handler(smart_ptr<connection>, Json::Value& message, reply_function reply) override {
    Json::Value answer;
    answer["id"] = message["id"];
    answer["result"] = message["params"];
    reply(answer);
  }
};

using Offer = main_loop_fixture;

// The listening side of a test server: accepts, waits for the first bytes and offers the socket.
struct greeter {
  static inline echo responder;
  static inline std::vector<offer_result> results;
  static inline smart_ptr<connection> adopted;
  static inline int closes = 0;

  static void reset() {
    results.clear();
    adopted = nullptr;
    closes = 0;
  }

  static void on_accept(smart_ptr<socket> listener, int32_t, void*) {
    smart_ptr<socket> peer = listener->accept();
    if (!peer) return;
    peer->set_delegate(&responder);
    main_runloop()->watch(peer, 4, &greeter::on_first_bytes, nullptr);
  }
  static void on_first_bytes(smart_ptr<socket> peer, int32_t, void*) {
    offer_outcome outcome = manager::shared().offer(peer, [](smart_ptr<connection>) { ++closes; });
    results.push_back(outcome.result);
    if (outcome.adopted) adopted = std::move(outcome.adopted);
    if (outcome.result == offer_result::refused) {
      main_runloop()->unwatch(peer);
      peer->close();
    }
  }
};

TEST_F(Offer, AnAcceptedPeerIsServedFromItsFirstByte) {
  greeter::reset();
  smart_ptr<socket> listener = listen_on_loopback(0);
  ASSERT_TRUE(listener);
  loop_.watch(listener, 4, &greeter::on_accept, nullptr);

  smart_ptr<socket> client(new socket);
  ASSERT_EQ(connect_to_loopback(*client, static_cast<uint16_t>(listener->local_port())), 0);
  // The frame goes out in two writes, so the greeter first sees too little to decide.
  Json::Value request;
  request["jsonrpc"] = "2.0";
  request["method"] = "ping";
  request["params"].append("hello");
  request["id"] = 1;
  const std::string framed = frame(request);
  ASSERT_EQ(client->send(framed.data(), 2, 0), 2);
  ASSERT_TRUE(loop_.run_until([] { return !greeter::results.empty(); }, std::chrono::seconds(5)));
  EXPECT_EQ(greeter::results.front(), offer_result::waiting);

  ASSERT_EQ(client->send(framed.data() + 2, framed.size() - 2, 0), static_cast<ssize_t>(framed.size() - 2));
  const std::string want = "28:{\"id\":1,\"result\":[\"hello\"]}\n,";
  std::string response;
  ASSERT_TRUE(loop_.run_until(
      [&] {
        char chunk[256];
        ssize_t n;
        while ((n = client->recv(chunk, sizeof chunk, MSG_DONTWAIT)) > 0)
          response.append(chunk, static_cast<size_t>(n));
        return response.size() >= want.size();
      },
      std::chrono::seconds(5)));
  // The greeter only peeked: the connection read the frame from its first byte.
  EXPECT_EQ(greeter::results.back(), offer_result::adopted);
  EXPECT_EQ(response, want);

  ASSERT_EQ(accepted_connections().size(), 1u);
  EXPECT_EQ(greeter::adopted, accepted_connections().front()) << "offer must return the adopted connection";
  greeter::adopted = nullptr;
  EXPECT_EQ(accepted_connections().front()->peer_hardware_text(), "localhost");
  client->close();
  ASSERT_TRUE(loop_.run_until([] { return greeter::closes == 1; }, std::chrono::seconds(5)));
  EXPECT_TRUE(accepted_connections().empty());
  loop_.unwatch(listener);
}

TEST_F(Offer, APeerSpeakingAnotherProtocolIsRefused) {
  greeter::reset();
  smart_ptr<socket> listener = listen_on_loopback(0);
  ASSERT_TRUE(listener);
  loop_.watch(listener, 4, &greeter::on_accept, nullptr);
  smart_ptr<socket> client(new socket);
  ASSERT_EQ(connect_to_loopback(*client, static_cast<uint16_t>(listener->local_port())), 0);
  ASSERT_EQ(client->send("GET / HTTP/1.1\r\n\r\n", 18, 0), 18);
  ASSERT_TRUE(loop_.run_until([] { return !greeter::results.empty(); }, std::chrono::seconds(5)));
  EXPECT_EQ(greeter::results, (std::vector<offer_result>{offer_result::refused}));
  EXPECT_TRUE(accepted_connections().empty());
  loop_.unwatch(listener);
}

TEST_F(Offer, APeerThatEndsBeforeDecidingIsRefused) {
  greeter::reset();
  smart_ptr<socket> listener = listen_on_loopback(0);
  ASSERT_TRUE(listener);
  loop_.watch(listener, 4, &greeter::on_accept, nullptr);
  smart_ptr<socket> client(new socket);
  ASSERT_EQ(connect_to_loopback(*client, static_cast<uint16_t>(listener->local_port())), 0);
  ASSERT_EQ(client->send("42", 2, 0), 2);
  ::shutdown(client->handle(), SHUT_WR);
  ASSERT_TRUE(loop_.run_until(
      [] { return !greeter::results.empty() && greeter::results.back() != offer_result::waiting; },
      std::chrono::seconds(5)));
  EXPECT_EQ(greeter::results.back(), offer_result::refused);
  loop_.unwatch(listener);
}

}  // namespace
}  // namespace quorvane::jsonrpc
