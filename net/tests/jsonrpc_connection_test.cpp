#include "net/jsonrpc_connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/json_text.h"
#include "core/log.h"
#include "net/poll_runloop.h"
#include "test_support/event_bound.h"
#include "test_support/socket_pair.h"

namespace quorvane::jsonrpc {
namespace {

// Records every request and notification as compact text, and answers with `answer` (null: no reply).
class recorder final : public connection::delegate {
 public:
  void request_handler(smart_ptr<connection>, Json::Value& message, reply_function reply) override {
    seen.push_back(compact_json(message));
    reply(answer);
  }
  std::vector<std::string> seen;
  Json::Value answer;
};

Json::Value parse(const std::string& text) {
  Json::Value value;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &value, &errors)) << text;
  return value;
}

// A connection over one end of a socket pair; the test reads and writes the other end.
struct paired {
  smart_ptr<connection> c;
  int peer = -1;
  paired() {
    testing_support::socket_pair handles;
    if (!handles.made()) return;
    smart_ptr<socket> near(new socket(handles.take_first()));
    c = smart_ptr<connection>(new connection(*near, nullptr));
    peer = handles.take_second();
  }
  ~paired() {
    if (peer >= 0) ::close(peer);
  }
  // Everything the connection has written so far.
  std::string written() const {
    std::string all;
    char chunk[4096];
    ssize_t n;
    while ((n = ::recv(peer, chunk, sizeof chunk, MSG_DONTWAIT)) > 0)
      all.append(chunk, static_cast<size_t>(n));
    return all;
  }
};

// Quietens the warnings that the error cases are expected to log.
class quiet_log {
 public:
  quiet_log() { set_log_level(log_error); }
  ~quiet_log() { set_log_level(log_information); }
};

TEST(JsonrpcWriter, WritesCompactTextWithSortedMembersAndTheNewlineCounted) {
  Json::Value request;
  request["method"] = "authenticate";
  request["params"].append("");
  request["jsonrpc"] = "2.0";
  request["id"] = 1;
  EXPECT_EQ(compact_json(request),
            "{\"id\":1,\"jsonrpc\":\"2.0\",\"method\":\"authenticate\",\"params\":[\"\"]}\n");
  EXPECT_EQ(frame(request),
            "63:{\"id\":1,\"jsonrpc\":\"2.0\",\"method\":\"authenticate\",\"params\":[\"\"]}\n,");
}

// Three messages, with a leading-zero length, a comment and a response among them.
std::string transcript() {
  const char* commented = "{\"method\":\"b\" /* note */}\n";
  return frame(parse(R"({"jsonrpc":"2.0","method":"printersWereUpdated","params":[{"name":"a"}]})")) +
         "00000" + std::to_string(std::strlen(commented)) + ":" + commented + "," +
         frame(parse(R"({"id":1,"result":[0,9,12]})")) +
         frame(parse(R"({"id":3,"method":"print","params":[]})"));
}

struct transcript_outcome {
  std::vector<std::string> requests;
  std::vector<std::string> results;
  bool open;
};

// Feeds `pieces` of the transcript one after another to a fresh connection with call 1 pending.
transcript_outcome feed(const std::vector<std::string>& pieces) {
  quiet_log quiet;
  recorder r;
  smart_ptr<connection> c(new connection);
  c->set_delegate(&r);
  transcript_outcome out;
  Json::Value request;
  request["method"] = "attributes";
  c->call(request, [&](const Json::Value& response) { out.results.push_back(compact_json(response)); });
  for (const auto& piece : pieces) c->deliver(piece.data(), piece.size());
  out.requests = r.seen;
  out.open = c->handle() != socket::invalid_handle;
  return out;
}

TEST(JsonrpcFraming, EverySplitOfTheTranscriptGivesEachMessageOnce) {
  const std::string stream = transcript();
  const transcript_outcome whole = feed({stream});
  ASSERT_EQ(whole.requests.size(), 3u);
  ASSERT_EQ(whole.results, (std::vector<std::string>{"{\"id\":1,\"result\":[0,9,12]}\n"}));
  EXPECT_EQ(whole.requests[1], "{\"method\":\"b\"}\n");
  EXPECT_TRUE(whole.open);

  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    const transcript_outcome split = feed({stream.substr(0, cut), stream.substr(cut)});
    EXPECT_EQ(split.requests, whole.requests) << "split at " << cut;
    EXPECT_EQ(split.results, whole.results) << "split at " << cut;
    EXPECT_TRUE(split.open) << "split at " << cut;
  }
  std::vector<std::string> bytes;
  for (char ch : stream) bytes.emplace_back(1, ch);
  const transcript_outcome trickle = feed(bytes);
  EXPECT_EQ(trickle.requests, whole.requests) << "one byte at a time";
  EXPECT_EQ(trickle.results, whole.results) << "one byte at a time";
}

TEST(JsonrpcFraming, AMessageIsHandledOnlyWhenItsCommaHasArrived) {
  recorder r;
  smart_ptr<connection> c(new connection);
  c->set_delegate(&r);
  const std::string framed = frame(parse(R"({"method":"m"})"));
  c->deliver(framed.data(), framed.size() - 1);
  EXPECT_TRUE(r.seen.empty()) << "handled a truncated frame";
  EXPECT_EQ(c->unread_count(), framed.size() - 1);
  c->deliver(",", 1);
  EXPECT_EQ(r.seen.size(), 1u);
  EXPECT_EQ(c->unread_count(), 0u);
}

// One netstring frame around `payload`.
std::string netstring(const std::string& payload) {
  return std::to_string(payload.size()) + ":" + payload + ",";
}

// `depth` nested arrays: "[[...]]".
std::string nested_arrays(size_t depth) {
  return std::string(depth, '[') + std::string(depth, ']');
}

// `depth` nested objects: {"a":{"a":...0}}.
std::string nested_objects(size_t depth) {
  std::string text;
  for (size_t i = 0; i < depth; ++i) text += R"({"a":)";
  return text + "0" + std::string(depth, '}');
}

TEST(JsonrpcFraming, ProtocolErrorsCloseAndTellPendingCalls) {
  struct error_case {
    const char* name;
    std::string bytes;
  };
  // Nesting beyond the reader's limit of 1,000 levels, wherever it is, makes the payload unreadable.
  const std::string too_deep = nested_arrays(1001);
  const error_case cases[] = {
      {"ten bytes without a colon", "0123456789"},
      {"a letter in the length", "12a:{}"},
      {"a sign in the length", "-3:{}\n,"},
      {"no comma after the payload", "3:{}\n;"},
      {"declared length above the bound", std::to_string(max_frame_payload + 1) + ":"},
      {"declared length beyond 64 bits", "99999999999999999999999999:"},
      {"unparsable payload", "4:{]}\n,"},
      {"empty payload", "0:,"},
      {"trailing bytes after the value", "6:{} {}\n,"},
      {"params nested 1,001 deep", netstring(R"({"id":1,"method":"attributes","params":)" + too_deep + "}")},
      {"id nested 1,001 deep", netstring(R"({"id":)" + too_deep + R"(,"method":"attributes"})")},
      {"a later frame nested 1,001 deep", netstring(R"({"id":1,"method":"attributes"})") +
                                              netstring(R"({"method":"m","params":)" + too_deep + "}")},
      {"objects nested 1,001 deep", netstring(nested_objects(1001))},
  };
  quiet_log quiet;
  for (const auto& c : cases) {
    smart_ptr<connection> conn(new connection);
    std::vector<std::string> told;
    Json::Value request;
    request["method"] = "m";
    conn->call(request, [&](const Json::Value& v) { told.push_back(compact_json(v)); });
    const bool kept = conn->deliver(c.bytes.data(), c.bytes.size());
    EXPECT_FALSE(kept) << c.name << ": got open, want closed";
    EXPECT_EQ(conn->handle(), socket::invalid_handle) << c.name;
    EXPECT_EQ(told, (std::vector<std::string>{"{\"error\":{\"code\":10}}\n"})) << c.name;
    EXPECT_EQ(conn->unread_count(), 0u) << c.name << ": unread bytes must be discarded";
    // A bad length is refused before anything of that size is allocated; only a frame larger than the
    // first buffer may have grown it, to its own size.
    if (c.bytes.size() <= initial_read_capacity) {
      EXPECT_EQ(conn->read_capacity(), initial_read_capacity)
          << c.name << ": nothing may be allocated for it";
    }
  }
}

TEST(JsonrpcFraming, ValidButUnusableMessagesAreDroppedAndTheConnectionStays) {
  struct drop_case {
    const char* name;
    const char* payload;
  };
  const drop_case cases[] = {
      {"an array", "[1,2]"},
      {"a number", "3"},
      {"a string", "\"x\""},
      {"an id as text", R"({"id":"1","result":0})"},
      {"a fractional id", R"({"id":1.5,"result":0})"},
      {"an id beyond 32 bits", R"({"id":4294967297,"result":0})"},
      {"an array id", R"({"id":[1],"result":0})"},
      {"no id", R"({"result":0})"},
      {"an unknown id", R"({"id":77,"result":0})"},
  };
  quiet_log quiet;
  for (const auto& c : cases) {
    recorder r;
    smart_ptr<connection> conn(new connection);
    conn->set_delegate(&r);
    int told = 0;
    Json::Value request;
    request["method"] = "m";
    conn->call(request, [&](const Json::Value&) { ++told; });
    std::string bytes = std::to_string(std::strlen(c.payload)) + ":" + c.payload + ",";
    bytes += frame(parse(R"({"method":"after"})"));
    EXPECT_TRUE(conn->deliver(bytes.data(), bytes.size())) << c.name << ": got closed, want open";
    EXPECT_NE(conn->handle(), socket::invalid_handle) << c.name;
    EXPECT_EQ(told, 0) << c.name << ": the pending call must not hear of it";
    EXPECT_EQ(conn->pending_count(), 1u) << c.name;
    EXPECT_EQ(r.seen, (std::vector<std::string>{"{\"method\":\"after\"}\n"}))
        << c.name << ": the next frame is read";
  }
}

TEST(JsonrpcFraming, NineBytesWithoutAColonWaitForMore) {
  recorder r;
  smart_ptr<connection> c(new connection);
  c->set_delegate(&r);
  const std::string payload = "{\"method\":\"late\"}\n";
  char header[16];
  std::snprintf(header, sizeof header, "%09zu", payload.size());
  ASSERT_EQ(std::strlen(header), 9u);
  EXPECT_TRUE(c->deliver(header, 9));
  EXPECT_NE(c->handle(), socket::invalid_handle);
  const std::string rest = ":" + payload + ",";
  EXPECT_TRUE(c->deliver(rest.data(), rest.size()));
  EXPECT_EQ(r.seen, (std::vector<std::string>{payload}));
}

TEST(JsonrpcFraming, AFrameLargerThanTheBufferGrowsItToTheExactSize) {
  recorder r;
  smart_ptr<connection> c(new connection);
  c->set_delegate(&r);
  Json::Value big;
  big["method"] = "printersWereUpdated";
  big["params"][0]["name"] = std::string(10000, 'p');
  const std::string framed = frame(big);
  // The header alone tells the size: the buffer grows to the frame exactly, before its payload arrives.
  c->deliver(framed.data(), 12);
  EXPECT_EQ(c->read_capacity(), framed.size());
  EXPECT_TRUE(r.seen.empty());
  c->deliver(framed.data() + 12, framed.size() - 12);
  ASSERT_EQ(r.seen.size(), 1u);
  EXPECT_EQ(r.seen[0], compact_json(big));
  // A small frame afterwards: the buffer keeps the capacity it reached.
  const std::string small = frame(parse(R"({"method":"m"})"));
  c->deliver(small.data(), small.size());
  EXPECT_EQ(c->read_capacity(), framed.size());
  EXPECT_EQ(r.seen.size(), 2u);
}

TEST(JsonrpcFraming, ABufferGrownBeyondWhatIsKeptGoesBackOnceDrained) {
  recorder r;
  smart_ptr<connection> c(new connection);
  c->set_delegate(&r);
  Json::Value big;
  big["method"] = "printersWereUpdated";
  big["params"][0]["name"] = std::string(kept_read_capacity, 'p');
  const std::string framed = frame(big);
  const size_t half = framed.size() / 2;
  // Half of a large frame: the buffer has grown to hold all of it.
  c->deliver(framed.data(), half);
  EXPECT_EQ(c->read_capacity(), framed.size());
  EXPECT_TRUE(r.seen.empty());
  // The rest: the frame is read and the drained buffer goes back to its first capacity.
  c->deliver(framed.data() + half, framed.size() - half);
  ASSERT_EQ(r.seen.size(), 1u);
  EXPECT_EQ(r.seen[0], compact_json(big));
  EXPECT_EQ(c->read_capacity(), initial_read_capacity);
  // The next frames are read as before: a small one, then a large one right after it.
  const std::string both = frame(parse(R"({"method":"m"})")) + framed;
  c->deliver(both.data(), both.size());
  ASSERT_EQ(r.seen.size(), 3u);
  EXPECT_EQ(r.seen[1], "{\"method\":\"m\"}\n");
  EXPECT_EQ(r.seen[2], compact_json(big));
  EXPECT_EQ(c->read_capacity(), initial_read_capacity);
}

TEST(JsonrpcCalls, PendingCallsHearOfEveryCloseInIdOrderAndStillGetALateResponse) {
  smart_ptr<connection> c(new connection);
  std::vector<std::string> told;
  quiet_log quiet;
  for (int i = 0; i < 3; ++i) {
    Json::Value request;
    request["method"] = "m";
    c->call(request, [&told, i](const Json::Value& v) {
      told.push_back(std::to_string(i + 1) + " " + compact_json(v));
    });
  }
  const std::string closed = "{\"error\":{\"code\":10}}\n";
  const std::vector<std::string> all_told = {"1 " + closed, "2 " + closed, "3 " + closed};
  c->handle_close();
  EXPECT_EQ(told, all_told);
  told.clear();
  c->handle_close();
  EXPECT_EQ(told, all_told) << "a second close tells them again";
  told.clear();

  const std::string late = frame(parse(R"({"id":2,"result":[0,9,7]})"));
  c->deliver(late.data(), late.size());
  EXPECT_EQ(told, (std::vector<std::string>{"2 {\"id\":2,\"result\":[0,9,7]}\n"}));
  EXPECT_EQ(c->pending_count(), 2u);
  told.clear();
  c->handle_close();
  EXPECT_EQ(told, (std::vector<std::string>{"1 " + closed, "3 " + closed}));
}

TEST(JsonrpcCalls, TheOnCloseFunctionRunsOnceForEveryClose) {
  testing_support::socket_pair handles;
  ASSERT_TRUE(handles.made());
  smart_ptr<socket> accepted(new socket(handles.take_first()));
  ::close(handles.take_second());
  int closes = 0;
  connection* seen = nullptr;
  smart_ptr<connection> c(new connection(*accepted, [&](smart_ptr<connection> which) {
    ++closes;
    seen = which.get();
  }));
  EXPECT_EQ(accepted->handle(), socket::invalid_handle) << "the source socket gives its handle up";
  c->handle_close();
  c->handle_close();
  EXPECT_EQ(closes, 2);
  EXPECT_EQ(seen, c.get());
}

TEST(JsonrpcCalls, IdsRiseFromOneAcrossReconnections) {
  smart_ptr<socket> listener = listen_on_loopback(0);
  ASSERT_TRUE(listener);
  const auto port = static_cast<uint16_t>(listener->local_port());
  smart_ptr<connection> c(new connection);
  std::vector<std::string> frames;
  // Connects, sends `calls` requests, and keeps what the listening side received.
  auto session = [&](int calls) {
    ASSERT_EQ(connect_to_loopback(*c, port), 0);
    smart_ptr<socket> server = listener->accept();
    ASSERT_TRUE(server);
    for (int i = 0; i < calls; ++i) {
      Json::Value request;
      request["jsonrpc"] = "2.0";
      request["method"] = "authenticate";
      request["params"].append("");
      ASSERT_TRUE(c->call(request, [](const Json::Value&) {}));
    }
    c->handle_close();
    std::string got;
    char chunk[512];
    ssize_t n;
    while ((n = server->recv(chunk, sizeof chunk, 0)) > 0) got.append(chunk, static_cast<size_t>(n));
    frames.push_back(got);
  };
  session(2);
  session(1);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0],
            "63:{\"id\":1,\"jsonrpc\":\"2.0\",\"method\":\"authenticate\",\"params\":[\"\"]}\n,"
            "63:{\"id\":2,\"jsonrpc\":\"2.0\",\"method\":\"authenticate\",\"params\":[\"\"]}\n,");
  EXPECT_EQ(frames[1], "63:{\"id\":3,\"jsonrpc\":\"2.0\",\"method\":\"authenticate\",\"params\":[\"\"]}\n,");
}

TEST(JsonrpcDispatch, MethodNullIsAResponse) {
  recorder r;
  smart_ptr<connection> c(new connection);
  c->set_delegate(&r);
  std::string got;
  quiet_log quiet;
  Json::Value request;
  request["method"] = "m";
  c->call(request, [&](const Json::Value& v) { got = compact_json(v); });
  const std::string bytes = frame(parse(R"({"id":1,"method":null,"result":5})"));
  c->deliver(bytes.data(), bytes.size());
  EXPECT_TRUE(r.seen.empty());
  EXPECT_EQ(got, "{\"id\":1,\"method\":null,\"result\":5}\n");
}

TEST(JsonrpcDispatch, ResponsesReachTheirCallsWithoutADelegateButRequestsAreDropped) {
  smart_ptr<connection> c(new connection);
  int results = 0;
  quiet_log quiet;
  Json::Value request;
  request["method"] = "m";
  c->call(request, [&](const Json::Value&) { ++results; });
  const std::string bytes =
      frame(parse(R"({"method":"print","id":9})")) + frame(parse(R"({"id":1,"result":0})"));
  EXPECT_TRUE(c->deliver(bytes.data(), bytes.size()));
  EXPECT_EQ(results, 1);
}

TEST(JsonrpcDispatch, ARepliesOnlyWhenTheDelegateAnswersWithAValue) {
  paired p;
  ASSERT_TRUE(p.c);
  recorder r;
  p.c->set_delegate(&r);
  const std::string first = frame(parse(R"({"id":7,"method":"print"})"));
  p.c->deliver(first.data(), first.size());
  EXPECT_EQ(p.written(), "") << "a null reply must send nothing";
  r.answer = parse(R"({"id":8,"result":[0,9,1]})");
  const std::string second = frame(parse(R"({"id":8,"method":"print"})"));
  p.c->deliver(second.data(), second.size());
  EXPECT_EQ(p.written(), "26:{\"id\":8,\"result\":[0,9,1]}\n,");
}

// Closes its connection from inside the request handler; with the connection's last reference held only by
// the run loop, the close would free it in the middle of reading.
class closing_delegate final : public connection::delegate {
 public:
  void request_handler(smart_ptr<connection> c, Json::Value& message, reply_function) override {
    seen.push_back(message["method"].asString());
    c->handle_close();
  }
  std::vector<std::string> seen;
};

TEST(JsonrpcDispatch, ADelegateThatClosesDuringAReadEndsThatReadSafely) {
  poll_runloop loop;
  set_main_runloop(&loop);
  closing_delegate d;
  testing_support::socket_pair handles;
  ASSERT_TRUE(handles.made());
  int closes = 0;
  {
    smart_ptr<socket> near(new socket(handles.take_first()));
    near->set_delegate(&d);
    smart_ptr<connection> c(new connection(*near, [&](smart_ptr<connection>) { ++closes; }));
    c->watch_on(loop);
  }
  // Two frames in one write: the first one's handler closes, so the second is never handled.
  const std::string bytes = frame(parse(R"({"method":"one"})")) + frame(parse(R"({"method":"two"})"));
  ASSERT_EQ(::send(handles.second(), bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  EXPECT_TRUE(loop.run_until([&] { return closes > 0; }, testing_support::event_bound));
  EXPECT_EQ(d.seen, (std::vector<std::string>{"one"}));
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(loop.watched_count(), 0u);
  set_main_runloop(nullptr);
}

TEST(JsonrpcDispatch, ThePeersCloseClosesTheConnectionThroughTheRunLoop) {
  poll_runloop loop;
  paired p;
  ASSERT_TRUE(p.c);
  recorder r;
  p.c->set_delegate(&r);
  int told = 0;
  Json::Value request;
  request["method"] = "m";
  p.c->call(request, [&](const Json::Value& v) { told += v["error"]["code"].asInt() == 10; });
  p.c->watch_on(loop);
  const std::string bytes = frame(parse(R"({"method":"bye"})"));
  ASSERT_EQ(::send(p.peer, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  ::shutdown(p.peer, SHUT_WR);
  EXPECT_TRUE(loop.run_until([&] { return told > 0; }, testing_support::event_bound));
  EXPECT_EQ(r.seen.size(), 1u) << "data before the end is still read";
  EXPECT_FALSE(p.c->connected());
  EXPECT_EQ(loop.watched_count(), 0u);
}

// A watched connection over one end of a socket pair with buffers as small as the system allows; the test
// reads the other end only when it chooses to.
struct watched_pair : paired {
  poll_runloop loop;
  int closes = 0;
  watched_pair() {
    testing_support::socket_pair handles;
    if (!handles.made()) return;
    const int small = 4096;
    setsockopt(handles.first(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    setsockopt(handles.second(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    smart_ptr<socket> near(new socket(handles.take_first()));
    c = smart_ptr<connection>(new connection(*near, [this](smart_ptr<connection>) { ++closes; }));
    if (peer >= 0) ::close(peer);
    peer = handles.take_second();
    c->watch_on(loop);
  }
};

// A notification carrying `size` bytes of text, marked with `n` so that order can be checked.
Json::Value bulky(int n, size_t size) {
  Json::Value message;
  message["method"] = "printersWereUpdated";
  message["params"].append(std::to_string(n) + std::string(size, 'p'));
  return message;
}

TEST(JsonrpcQueue, WritesNeverWaitAndQueuedFramesGoOutWholeAndInOrderOnceThePeerReads) {
  watched_pair p;
  ASSERT_TRUE(p.c);
  std::string expected;
  // Two MiB for a peer that reads nothing yet: every write returns at once, most of it queued.
  for (int n = 0; n < 20; ++n) {
    const Json::Value message = bulky(n, 100 << 10);
    expected += frame(message);
    ASSERT_TRUE(p.c->write_message(message)) << "write " << n;
  }
  EXPECT_GT(p.c->unsent_count(), size_t{1} << 20);
  EXPECT_TRUE(p.c->connected());

  // The peer reads; the loop writes the queue as the socket takes it.
  std::string got;
  const bool all = p.loop.run_until(
      [&] {
        got += p.written();
        return got.size() >= expected.size();
      },
      std::chrono::seconds(60));
  ASSERT_TRUE(all) << "got " << got.size() << " of " << expected.size() << " bytes";
  EXPECT_TRUE(got == expected) << "the bytes differ from the frames written";
  EXPECT_EQ(p.c->unsent_count(), 0u);
  EXPECT_EQ(p.closes, 0);
}

TEST(JsonrpcQueue, APeerThatStopsReadingIsClosedOnceItsQueueIsFull) {
  quiet_log quiet;
  watched_pair p;
  ASSERT_TRUE(p.c);
  int told = 0;
  Json::Value request;
  request["method"] = "print";
  ASSERT_TRUE(p.c->call(request, [&](const Json::Value& v) { told += v["error"]["code"].asInt() == 10; }));
  // Frames join the queue while less than the bound waits; the next one closes the connection.
  int accepted = 0;
  size_t waiting_before_last = 0, waiting_before_refusal = 0;
  for (;;) {
    ASSERT_LT(accepted, 64) << "the queue never filled";
    const size_t waiting = p.c->unsent_count();
    if (!p.c->write_message(bulky(accepted, 1 << 20))) {
      waiting_before_refusal = waiting;
      break;
    }
    waiting_before_last = waiting;
    ++accepted;
  }
  EXPECT_GE(accepted, 4);
  EXPECT_LT(waiting_before_last, max_outgoing_bytes);
  EXPECT_GE(waiting_before_refusal, max_outgoing_bytes);
  EXPECT_FALSE(p.c->connected());
  EXPECT_EQ(p.closes, 1);
  EXPECT_EQ(told, 1) << "the pending call hears of the close";
  EXPECT_EQ(p.c->unsent_count(), 0u) << "the queue is dropped";
  EXPECT_EQ(p.loop.watched_count(), 0u);
  EXPECT_FALSE(p.c->write_message(bulky(0, 10))) << "a closed connection takes nothing more";
  EXPECT_EQ(p.closes, 1);
}

// Answers every request with its id and `padding` bytes of text, as the service answers "attributes".
class padded_answers final : public connection::delegate {
 public:
  explicit padded_answers(size_t padding) : padding_(padding, 'a') {}
  void request_handler(smart_ptr<connection>, Json::Value& message, reply_function reply) override {
    ++handled;
    Json::Value answer;
    answer["id"] = message["id"];
    answer["result"].append(0);
    answer["result"].append(padding_);
    reply(answer);
  }
  int handled = 0;

 private:
  std::string padding_;
};

// The ids of the whole frames at the front of `bytes`, which loses them; a partial frame stays.
std::vector<int> take_answer_ids(std::string& bytes) {
  std::vector<int> ids;
  for (;;) {
    const size_t colon = bytes.find(':');
    if (colon == std::string::npos) return ids;
    const size_t length = std::stoul(bytes.substr(0, colon));
    if (bytes.size() < colon + 1 + length + 1) return ids;
    ids.push_back(parse(bytes.substr(colon + 1, length))["id"].asInt());
    bytes.erase(0, colon + 1 + length + 1);
  }
}

TEST(JsonrpcQueue, AServingConnectionReadsNoMoreWhileItsAnswersWaitAndAnswersEverythingOnceTheyAreRead) {
  watched_pair p;
  ASSERT_TRUE(p.c);
  p.c->set_holds_input_while_unsent(true);
  padded_answers answers(/*padding=*/1000);
  p.c->set_delegate(&answers);
  const int small = 4096;
  ASSERT_EQ(setsockopt(p.peer, SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
  // Far more pipelined requests than the small socket buffers hold.
  const int total = 5000;
  std::string requests;
  for (int id = 1; id <= total; ++id)
    requests += frame(parse(R"({"method":"attributes","id":)" + std::to_string(id) + "}"));

  // The peer sends what its socket takes and never reads, until neither it nor the loop gets any further.
  size_t sent = 0;
  for (int idle_rounds = 0; idle_rounds < 3;) {
    const ssize_t n = ::send(p.peer, requests.data() + sent, requests.size() - sent, MSG_DONTWAIT);
    if (n > 0) sent += static_cast<size_t>(n);
    const int ran = p.loop.run_once(/*timeout_ms=*/0);
    idle_rounds = n > 0 || ran > 0 ? 0 : idle_rounds + 1;
  }
  EXPECT_LT(sent, requests.size()) << "the connection read every request while its answers waited";
  EXPECT_LT(answers.handled, total);
  EXPECT_TRUE(p.c->input_held());
  const int handled_while_stuck = answers.handled;
  for (int i = 0; i < 10; ++i) p.loop.run_once(/*timeout_ms=*/0);
  EXPECT_EQ(answers.handled, handled_while_stuck) << "requests were handled while the answers waited";

  // The peer reads (and sends the rest): every request is answered once, in order, and nothing closed.
  std::string unread;
  std::vector<int> ids;
  const bool all = p.loop.run_until(
      [&] {
        if (sent < requests.size()) {
          const ssize_t n = ::send(p.peer, requests.data() + sent, requests.size() - sent, MSG_DONTWAIT);
          if (n > 0) sent += static_cast<size_t>(n);
        }
        unread += p.written();
        for (int id : take_answer_ids(unread)) ids.push_back(id);
        return ids.size() >= static_cast<size_t>(total);
      },
      testing_support::event_bound);
  ASSERT_TRUE(all) << "got " << ids.size() << " answers of " << total;
  for (int i = 0; i < total; ++i) ASSERT_EQ(ids[static_cast<size_t>(i)], i + 1) << "answer " << i;
  EXPECT_EQ(p.closes, 0);
  EXPECT_FALSE(p.c->input_held());
}

}  // namespace
}  // namespace quorvane::jsonrpc
