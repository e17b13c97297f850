#include "net/jsonrpc_manager.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/log.h"
#include "net/poll_runloop.h"
#include "test_support/event_bound.h"
#include "test_support/socket_pair.h"

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
    testing_support::socket_pair handles;
    ASSERT_TRUE(handles.made());
    smart_ptr<socket> accepted(new socket(handles.take_first()));
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
    main_runloop()->watch(peer, event_readable, &greeter::on_first_bytes, nullptr);
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

// A main loop, and for the tests that need one a listener served by the greeter with a client connected to
// it.
class Offer : public main_loop_fixture {
 protected:
  void SetUp() override {
    main_loop_fixture::SetUp();
    greeter::reset();
  }
  void TearDown() override {
    greeter::adopted = nullptr;
    if (listener_) loop_.unwatch(listener_);
    main_loop_fixture::TearDown();
  }

  // Starts the greeter's listener and connects `client_` to it.
  void connect_client() {
    listener_ = listen_on_loopback(0);
    ASSERT_TRUE(listener_);
    loop_.watch(listener_, event_readable, &greeter::on_accept, nullptr);
    client_ = smart_ptr<socket>(new socket);
    ASSERT_EQ(connect_to_loopback(*client_, static_cast<uint16_t>(listener_->local_port())), 0);
  }

  // Appends what the client receives to `response` until it holds `size` bytes; false after 5 s.
  bool receive(std::string& response, size_t size) {
    return loop_.run_until(
        [&] {
          char chunk[256];
          ssize_t n;
          while ((n = client_->recv(chunk, sizeof chunk, MSG_DONTWAIT)) > 0)
            response.append(chunk, static_cast<size_t>(n));
          return response.size() >= size;
        },
        testing_support::event_bound);
  }

  // A "ping" request whose params are `[text]`.
  static Json::Value ping(const char* text, int id) {
    Json::Value request;
    request["jsonrpc"] = "2.0";
    request["method"] = "ping";
    request["params"].append(text);
    request["id"] = id;
    return request;
  }

  smart_ptr<socket> listener_;
  smart_ptr<socket> client_;
};

TEST_F(Offer, AnAcceptedPeerIsServedFromItsFirstByte) {
  ASSERT_NO_FATAL_FAILURE(connect_client());
  // The frame goes out in two writes, so the greeter first sees too little to decide.
  const std::string framed = frame(ping("hello", /*id=*/1));
  ASSERT_EQ(client_->send(framed.data(), 2, 0), 2);
  ASSERT_TRUE(loop_.run_until([] { return !greeter::results.empty(); }, testing_support::event_bound));
  EXPECT_EQ(greeter::results.front(), offer_result::waiting);

  ASSERT_EQ(client_->send(framed.data() + 2, framed.size() - 2, 0), static_cast<ssize_t>(framed.size() - 2));
  const std::string want = "28:{\"id\":1,\"result\":[\"hello\"]}\n,";
  std::string response;
  ASSERT_TRUE(receive(response, want.size()));
  // The bytes the greeter read were handed to the connection: it served the frame from its first byte.
  EXPECT_EQ(greeter::results.back(), offer_result::adopted);
  EXPECT_EQ(response, want);

  ASSERT_EQ(accepted_connections().size(), 1u);
  EXPECT_EQ(greeter::adopted, accepted_connections().front()) << "offer must return the adopted connection";
  greeter::adopted = nullptr;
  EXPECT_EQ(accepted_connections().front()->peer_hardware_text(), "localhost");
  client_->close();
  ASSERT_TRUE(loop_.run_until([] { return greeter::closes == 1; }, testing_support::event_bound));
  EXPECT_TRUE(accepted_connections().empty());
}

TEST_F(Offer, APeerSpeakingAnotherProtocolIsRefused) {
  ASSERT_NO_FATAL_FAILURE(connect_client());
  ASSERT_EQ(client_->send("GET / HTTP/1.1\r\n\r\n", 18, 0), 18);
  ASSERT_TRUE(loop_.run_until([] { return !greeter::results.empty(); }, testing_support::event_bound));
  EXPECT_EQ(greeter::results, (std::vector<offer_result>{offer_result::refused}));
  EXPECT_TRUE(accepted_connections().empty());
}

TEST_F(Offer, APeerThatEndsBeforeDecidingIsRefused) {
  ASSERT_NO_FATAL_FAILURE(connect_client());
  ASSERT_EQ(client_->send("42", 2, 0), 2);
  ::shutdown(client_->handle(), SHUT_WR);
  ASSERT_TRUE(loop_.run_until(
      [] { return !greeter::results.empty() && greeter::results.back() != offer_result::waiting; },
      testing_support::event_bound));
  EXPECT_EQ(greeter::results.back(), offer_result::refused);
}

TEST_F(Offer, APeerPausingInsideItsHeaderIsAwaitedWithoutSpinningAndLosesNoByte) {
  ASSERT_NO_FATAL_FAILURE(connect_client());
  const Json::Value request = ping("a pause after the first digit", /*id=*/7);
  const std::string framed = frame(request);
  ASSERT_EQ(client_->send(framed.data(), 1, 0), 1);
  ASSERT_TRUE(loop_.run_until([] { return !greeter::results.empty(); }, testing_support::event_bound));
  // While the peer is silent its socket must not stay readable: a loop that spins calls the greeter
  // thousands of times in this pause.
  loop_.run_until([] { return false; }, std::chrono::milliseconds(100));
  EXPECT_LE(greeter::results.size(), 2u)
      << "got " << greeter::results.size() << " offers in 100 ms, want at most 2";
  for (const offer_result r : greeter::results) EXPECT_EQ(r, offer_result::waiting);
  EXPECT_EQ(manager::shared().undecided_count(), 1u);

  ASSERT_EQ(client_->send(framed.data() + 1, framed.size() - 1, 0), static_cast<ssize_t>(framed.size() - 1));
  Json::Value answer;
  answer["id"] = 7;
  answer["result"] = request["params"];
  const std::string want = frame(answer);
  std::string response;
  ASSERT_TRUE(receive(response, want.size()));
  EXPECT_EQ(response, want) << "the connection must see the whole frame, its first digit included";
  EXPECT_EQ(greeter::results.back(), offer_result::adopted);
  ASSERT_EQ(accepted_connections().size(), 1u);
  EXPECT_EQ(greeter::adopted, accepted_connections().front());
  EXPECT_EQ(manager::shared().undecided_count(), 0u);
}

TEST_F(Offer, ReadsTheHeaderInPiecesAndNoFurther) {
  struct offer_case {
    const char* name;
    std::vector<std::string> pieces;  // offered after each piece
    bool peer_ends;                   // the peer shuts its side down after the last piece
    std::vector<offer_result> want;
    size_t left_in_socket;  // bytes of the last piece that must still wait in the socket when adopted
  };
  const auto adopted = offer_result::adopted;
  const auto waiting = offer_result::waiting;
  const auto refused = offer_result::refused;
  const offer_case cases[] = {
      // Adopted, with exactly the header handed to the connection
      {"header and payload in one write", {"42:{\"id\":1"}, false, {adopted}, 6},
      {"a byte at a time", {"4", "2", ":", "{"}, false, {waiting, waiting, waiting, adopted}, 0},
      {"eight digits, the most a header may have", {"00000042", ":{"}, false, {waiting, adopted}, 0},
      // Still waiting
      {"digits and colon", {"42:"}, false, {waiting}, 0},
      {"nothing yet", {""}, false, {waiting}, 0},
      // Refused
      {"nine digits", {"12345678", "9"}, false, {waiting, refused}, 0},
      {"nine digits with a header", {"123456789:{"}, false, {refused}, 0},
      {"another protocol", {"GET / HTTP/1.1\r\n"}, false, {refused}, 0},
      {"a peer that ends inside the header", {"42"}, true, {refused}, 0},
      {"a length of zero, which the connection rejects", {"0:{}"}, false, {refused}, 0},
      {"no digits, a length of zero too", {":{}"}, false, {refused}, 0},
  };
  for (const auto& c : cases) {
    testing_support::socket_pair handles;
    ASSERT_TRUE(handles.made());
    smart_ptr<socket> accepted(new socket(handles.take_first()));
    const int peer = handles.second();
    std::vector<offer_result> got;
    smart_ptr<connection> served;
    for (size_t i = 0; i < c.pieces.size(); ++i) {
      const std::string& piece = c.pieces[i];
      ASSERT_EQ(::write(peer, piece.data(), piece.size()), static_cast<ssize_t>(piece.size())) << c.name;
      if (i + 1 == c.pieces.size() && c.peer_ends) ::shutdown(peer, SHUT_WR);
      offer_outcome outcome = manager::shared().offer(accepted, nullptr);
      got.push_back(outcome.result);
      EXPECT_EQ(outcome.adopted != nullptr, outcome.result == adopted) << c.name;
      if (outcome.adopted) served = outcome.adopted;
    }
    EXPECT_EQ(got, c.want) << c.name;
    if (served) {
      // The header went to the connection and what followed it is still in the socket.
      std::string header;
      for (const auto& piece : c.pieces) header += piece;
      header.resize(header.size() - c.left_in_socket);
      EXPECT_EQ(served->unread_count(), header.size())
          << c.name << ": got " << served->unread_count() << " bytes handed over, want " << header.size();
      char rest[64];
      const ssize_t waiting_bytes = ::recv(served->handle(), rest, sizeof rest, MSG_PEEK | MSG_DONTWAIT);
      EXPECT_EQ(std::max<ssize_t>(waiting_bytes, 0), static_cast<ssize_t>(c.left_in_socket)) << c.name;
      served->handle_close();
    }
    if (got.back() == waiting) {
      EXPECT_EQ(manager::shared().undecided_count(), 1u) << c.name;
      accepted->close();
    }
    accepted = nullptr;
  }
  // Sockets closed while waiting are forgotten at the next offer.
  testing_support::socket_pair handles;
  ASSERT_TRUE(handles.made());
  ::close(handles.take_second());
  EXPECT_EQ(manager::shared().offer(smart_ptr<socket>(new socket(handles.take_first())), nullptr).result,
            refused);
  EXPECT_EQ(manager::shared().undecided_count(), 0u);
  EXPECT_TRUE(accepted_connections().empty());
  EXPECT_EQ(loop_.watched_count(), 0u);
}

}  // namespace
}  // namespace quorvane::jsonrpc
