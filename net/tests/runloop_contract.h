// The rules every `runloop` implementation keeps, written once and instantiated for each implementation.
//
// An environment type `Env` supplies: a default constructor making a fresh loop, `runloop& loop()`,
// `bool spin_until(const std::function<bool()>& done, int timeout_ms)` (runs the loop until `done` or the
// timeout; returns `done()`), and `void spin_for(int ms)` (runs the loop for that long).
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/json_text.h"
#include "core/runloop.h"
#include "net/jsonrpc_connection.h"
#include "net/socket.h"
#include "test_support/socket_pair.h"

namespace quorvane::runloop_contract {

// What a handler saw: which handler, the socket object, the event code and the context.
struct call {
  int which;
  socket* s;
  int32_t event;
  void* context;
};

// The handlers record into this list and read what is waiting, as a real reader does.
inline std::vector<call>* calls = nullptr;

template <int Which>
void recording_handler(smart_ptr<socket> s, int32_t event, void* context) {
  calls->push_back(call{Which, s.get(), event, context});
  char sink[256];
  while (s->recv(sink, sizeof sink, MSG_DONTWAIT) > 0) {
  }
}

// A connected pair of sockets; the test writes to `peer` to make `near` readable.
struct socket_pair {
  smart_ptr<socket> near, peer;
  socket_pair() {
    testing_support::socket_pair handles;
    if (handles.made()) {
      near = smart_ptr<socket>(new socket(handles.take_first()));
      peer = smart_ptr<socket>(new socket(handles.take_second()));
    }
  }
  void poke() const { peer->send("x", 1, 0); }
};

// Answers every request inside the request callback, as a console that prints at once does.
class answering final : public jsonrpc::connection::delegate {
 public:
  void request_handler(smart_ptr<jsonrpc::connection>, Json::Value& message,
                       jsonrpc::reply_function reply) override {
    ++requests;
    Json::Value answer;
    answer["id"] = message["id"];
    answer["result"].append(0);
    reply(answer);
  }
  int requests = 0;
};

// Counts the requests and notifications it is given, answering none.
class counting final : public jsonrpc::connection::delegate {
 public:
  void request_handler(smart_ptr<jsonrpc::connection>, Json::Value&, jsonrpc::reply_function) override {
    ++seen;
  }
  int seen = 0;
};

template <class Env>
class RunloopContract : public testing::Test {
 protected:
  void SetUp() override { calls = &seen_; }
  void TearDown() override { calls = nullptr; }

  Env env_;
  std::vector<call> seen_;
};

TYPED_TEST_SUITE_P(RunloopContract);

TYPED_TEST_P(RunloopContract, PostedItemsRunLaterInOrderOnTheLoopThread) {
  runloop& loop = this->env_.loop();
  std::vector<int> order;
  std::vector<std::thread::id> threads;
  // Posted from a worker, all three before the loop runs: they must still run one after another, in order.
  std::thread worker([&] {
    for (int i = 1; i <= 3; ++i) {
      loop.post([&, i] {
        order.push_back(i);
        threads.push_back(std::this_thread::get_id());
      });
    }
  });
  worker.join();
  loop.post([&] { order.push_back(4); });
  EXPECT_TRUE(order.empty()) << "post ran an item at once";
  ASSERT_TRUE(this->env_.spin_until([&] { return order.size() == 4; }, 5000));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
  for (const auto& id : threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TYPED_TEST_P(RunloopContract, AnItemMayPostAnotherWhichRunsAfterIt) {
  runloop& loop = this->env_.loop();
  std::vector<std::string> order;
  loop.post([&] {
    order.push_back("first");
    loop.post([&] { order.push_back("posted by first"); });
    order.push_back("first done");
  });
  loop.post([&] { order.push_back("second"); });
  ASSERT_TRUE(this->env_.spin_until([&] { return order.size() == 4; }, 5000));
  EXPECT_EQ(order, (std::vector<std::string>{"first", "first done", "second", "posted by first"}));
}

TYPED_TEST_P(RunloopContract, WatchCallsTheHandlerWithEventFourAndTheContext) {
  runloop& loop = this->env_.loop();
  socket_pair pair;
  ASSERT_TRUE(pair.near);
  int context = 0;
  EXPECT_TRUE(loop.watch(pair.near, event_readable, &recording_handler<1>, &context));
  EXPECT_NE(fcntl(pair.near->handle(), F_GETFL) & O_NONBLOCK, 0) << "a watched socket must be non-blocking";
  pair.poke();
  ASSERT_TRUE(this->env_.spin_until([&] { return !this->seen_.empty(); }, 5000));
  EXPECT_EQ(this->seen_[0].which, 1);
  EXPECT_EQ(this->seen_[0].s, pair.near.get());
  EXPECT_EQ(this->seen_[0].event, 4);
  EXPECT_EQ(this->seen_[0].context, &context);
  loop.unwatch(pair.near);
}

TYPED_TEST_P(RunloopContract, PeerCloseIsReportedLikeData) {
  runloop& loop = this->env_.loop();
  socket_pair pair;
  ASSERT_TRUE(pair.near);
  // The handler unwatches on end of stream, as a connection does, so the hang-up is reported, not repeated.
  static socket_pair* current;
  current = &pair;
  static runloop* watching;
  watching = &loop;
  loop.watch(
      pair.near, 4,
      [](smart_ptr<socket> s, int32_t event, void* context) {
        calls->push_back(call{1, s.get(), event, context});
        char byte;
        if (s->recv(&byte, 1, MSG_DONTWAIT) == 0) watching->unwatch(current->near);
      },
      nullptr);
  pair.peer->close();
  ASSERT_TRUE(this->env_.spin_until([&] { return !this->seen_.empty(); }, 5000));
  EXPECT_EQ(this->seen_[0].event, 4);
}

TYPED_TEST_P(RunloopContract, WatchTwiceKeepsOneEntryAndTheSecondHandlerWins) {
  runloop& loop = this->env_.loop();
  socket_pair pair;
  ASSERT_TRUE(pair.near);
  const int32_t unwatched_count = pair.near->reference_count();
  int first = 0, second = 0;
  loop.watch(pair.near, event_readable, &recording_handler<1>, &first);
  loop.watch(pair.near, event_readable, &recording_handler<2>, &second);
  EXPECT_EQ(pair.near->reference_count(), unwatched_count + 1) << "the loop holds one reference per entry";
  pair.poke();
  ASSERT_TRUE(this->env_.spin_until([&] { return !this->seen_.empty(); }, 5000));
  this->env_.spin_for(50);
  ASSERT_EQ(this->seen_.size(), 1u) << "one notification, one call";
  EXPECT_EQ(this->seen_[0].which, 2);
  EXPECT_EQ(this->seen_[0].context, &second);

  // One unwatch removes the only entry: nothing is called any more.
  loop.unwatch(pair.near);
  EXPECT_EQ(pair.near->reference_count(), unwatched_count);
  pair.poke();
  this->env_.spin_for(100);
  EXPECT_EQ(this->seen_.size(), 1u) << "got a call after unwatch, want none";
}

TYPED_TEST_P(RunloopContract, AnotherObjectWithTheSameHandleIsTheSameEntry) {
  runloop& loop = this->env_.loop();
  socket_pair pair;
  ASSERT_TRUE(pair.near);
  smart_ptr<socket> alias(new socket(pair.near->handle()));
  int first = 0, second = 0;
  loop.watch(pair.near, event_readable, &recording_handler<1>, &first);
  loop.watch(alias, event_readable, &recording_handler<2>, &second);
  EXPECT_EQ(alias->reference_count(), 1) << "the alias must not get an entry of its own";
  pair.poke();
  ASSERT_TRUE(this->env_.spin_until([&] { return !this->seen_.empty(); }, 5000));
  this->env_.spin_for(50);
  ASSERT_EQ(this->seen_.size(), 1u);
  EXPECT_EQ(this->seen_[0].which, 2);
  EXPECT_EQ(this->seen_[0].s, pair.near.get()) << "the entry keeps the socket it was made for";

  // Unwatching through the alias removes the entry too.
  const int32_t held = pair.near->reference_count();
  loop.unwatch(alias);
  EXPECT_EQ(pair.near->reference_count(), held - 1);
  alias->release_handle();
}

TYPED_TEST_P(RunloopContract, UnwatchOfAnUnwatchedSocketDoesNothing) {
  runloop& loop = this->env_.loop();
  socket_pair pair;
  ASSERT_TRUE(pair.near);
  const int32_t count = pair.near->reference_count();
  loop.unwatch(pair.near);
  EXPECT_EQ(pair.near->reference_count(), count) << "the argument's reference must be released";
}

TYPED_TEST_P(RunloopContract, ANotificationForASocketUnwatchedInTheSameRoundIsIgnored) {
  runloop& loop = this->env_.loop();
  socket_pair one, two;
  ASSERT_TRUE(one.near && two.near);
  static socket_pair* pairs[2];
  static runloop* watching;
  pairs[0] = &one;
  pairs[1] = &two;
  watching = &loop;
  // Each handler unwatches the other socket: whichever runs first, the other is no longer watched and its
  // pending notification must not reach its handler.
  auto unwatch_other = [](smart_ptr<socket> s, int32_t event, void* context) {
    const int self = *static_cast<int*>(context);
    calls->push_back(call{self, s.get(), event, context});
    char sink[16];
    while (s->recv(sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
    watching->unwatch(pairs[1 - self]->near);
  };
  int ids[2] = {0, 1};
  loop.watch(one.near, event_readable, unwatch_other, &ids[0]);
  loop.watch(two.near, event_readable, unwatch_other, &ids[1]);
  one.poke();
  two.poke();
  ASSERT_TRUE(this->env_.spin_until([&] { return !this->seen_.empty(); }, 5000));
  this->env_.spin_for(100);
  ASSERT_EQ(this->seen_.size(), 1u) << "got " << this->seen_.size() << " calls, want 1";
  loop.unwatch(one.near);
  loop.unwatch(two.near);
}

TYPED_TEST_P(RunloopContract, AClosedSocketIsHeldUntilUnwatchedAndNeverReported) {
  runloop& loop = this->env_.loop();
  smart_ptr<socket> closed(new socket);
  closed->close();
  EXPECT_TRUE(loop.watch(closed, event_readable, &recording_handler<1>, nullptr));
  EXPECT_EQ(closed->reference_count(), 2);
  this->env_.spin_for(20);
  EXPECT_TRUE(this->seen_.empty());
  loop.unwatch(closed);
  EXPECT_EQ(closed->reference_count(), 1);
}

TYPED_TEST_P(RunloopContract, ASocketWatchedWhileClosedIsReportedOnceReopenedAndWatchedAgain) {
  runloop& loop = this->env_.loop();
  smart_ptr<socket> listener = listen_on_loopback(0);
  ASSERT_TRUE(listener);
  smart_ptr<socket> s(new socket);
  s->close();
  int first = 0, second = 0;
  loop.watch(s, event_readable, &recording_handler<1>, &first);
  // The same object, now with a new handle: its entry is kept and must follow the handle.
  ASSERT_EQ(connect_to_loopback(*s, static_cast<uint16_t>(listener->local_port())), 0);
  loop.watch(s, event_readable, &recording_handler<2>, &second);
  EXPECT_NE(fcntl(s->handle(), F_GETFL) & O_NONBLOCK, 0) << "the new handle must be non-blocking too";
  smart_ptr<socket> peer = listener->accept();
  ASSERT_TRUE(peer);
  peer->send("x", 1, 0);
  ASSERT_TRUE(this->env_.spin_until([&] { return !this->seen_.empty(); }, 2000))
      << "got no call for the reopened socket, want one";
  EXPECT_EQ(this->seen_[0].context, &second);
  loop.unwatch(s);
}

TYPED_TEST_P(RunloopContract, WritabilityIsReportedOnlyWhileWanted) {
  runloop& loop = this->env_.loop();
  socket_pair pair, other;
  ASSERT_TRUE(pair.near && other.near);
  loop.want_writable(other.near.get(), true);  // not watched: nothing happens
  int context = 0;
  loop.watch(pair.near, event_readable, &recording_handler<1>, &context);
  this->env_.spin_for(20);
  EXPECT_TRUE(this->seen_.empty()) << "writability was reported without being asked for";

  loop.want_writable(pair.near.get(), true);
  ASSERT_TRUE(this->env_.spin_until([&] { return !this->seen_.empty(); }, 5000));
  EXPECT_EQ(this->seen_[0].event, event_writable);
  EXPECT_EQ(this->seen_[0].s, pair.near.get());
  EXPECT_EQ(this->seen_[0].context, &context);

  // Withdrawn, only input is reported again.
  loop.want_writable(pair.near.get(), false);
  this->env_.spin_for(20);
  this->seen_.clear();
  pair.poke();
  ASSERT_TRUE(this->env_.spin_until([&] { return !this->seen_.empty(); }, 5000));
  this->env_.spin_for(20);
  for (const call& c : this->seen_) EXPECT_EQ(c.event, event_readable);
  loop.unwatch(pair.near);
}

TYPED_TEST_P(RunloopContract, InputIsReportedOnlyWhileWanted) {
  runloop& loop = this->env_.loop();
  socket_pair pair, other;
  ASSERT_TRUE(pair.near && other.near);
  loop.want_readable(other.near.get(), false);  // not watched: nothing happens
  int context = 0;
  loop.watch(pair.near, event_readable, &recording_handler<1>, &context);
  loop.want_readable(pair.near.get(), false);
  pair.poke();
  this->env_.spin_for(50);
  EXPECT_TRUE(this->seen_.empty()) << "input was reported while not wanted";

  // Wanted again, the byte that waited meanwhile is reported.
  loop.want_readable(pair.near.get(), true);
  ASSERT_TRUE(this->env_.spin_until([&] { return !this->seen_.empty(); }, 5000));
  EXPECT_EQ(this->seen_[0].event, event_readable);
  EXPECT_EQ(this->seen_[0].context, &context);
  loop.unwatch(pair.near);
}

TYPED_TEST_P(RunloopContract, ConnectionsCarryAnswersGivenInsideTheRequestCallbackAndQueuedFrames) {
  // Both ends on one loop, as a console and the service in one process. The callee's queue is either empty
  // or holds a large frame its caller has not read yet, so that the answers must wait their turn behind it;
  // a callee that holds its input meanwhile (as the service does) reads the requests only after that.
  for (const auto& [waiting_before, holds] :
       {std::pair{size_t{0}, false}, std::pair{size_t{1} << 20, false}, std::pair{size_t{1} << 20, true}}) {
    SCOPED_TRACE("bytes queued before the answers: " + std::to_string(waiting_before) +
                 (holds ? ", input held meanwhile" : ""));
    runloop& loop = this->env_.loop();
    socket_pair ends;
    ASSERT_TRUE(ends.near && ends.peer);
    smart_ptr<socket> caller_end = ends.near;
    smart_ptr<socket> callee_end = ends.peer;
    answering callee_delegate;
    counting caller_delegate;
    caller_end->set_delegate(&caller_delegate);
    callee_end->set_delegate(&callee_delegate);
    smart_ptr<jsonrpc::connection> caller(new jsonrpc::connection(*caller_end, nullptr));
    smart_ptr<jsonrpc::connection> callee(new jsonrpc::connection(*callee_end, nullptr));
    callee->set_holds_input_while_unsent(holds);
    caller->watch_on(loop);
    callee->watch_on(loop);
    if (waiting_before > 0) {
      Json::Value bulky;
      bulky["method"] = "printersWereUpdated";
      bulky["params"].append(std::string(waiting_before, 'p'));
      ASSERT_TRUE(callee->write_message(bulky));
      EXPECT_GT(callee->unsent_count(), 0u) << "the socket took the whole frame at once";
      EXPECT_EQ(callee->input_held(), holds);
    }

    std::vector<std::string> answers;
    for (int i = 0; i < 3; ++i) {
      Json::Value request;
      request["method"] = "print";
      ASSERT_TRUE(caller->call(request, [&](const Json::Value& v) { answers.push_back(compact_json(v)); }));
    }
    ASSERT_TRUE(this->env_.spin_until([&] { return answers.size() == 3; }, 60000))
        << "got " << answers.size() << " answers to " << callee_delegate.requests << " requests";
    const int32_t first = caller->next_request_id() - 3;
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(answers[i], "{\"id\":" + std::to_string(first + i) + ",\"result\":[0]}\n");
    }
    EXPECT_EQ(caller_delegate.seen, waiting_before > 0 ? 1 : 0);
    EXPECT_EQ(callee->unsent_count(), 0u);
    EXPECT_FALSE(callee->input_held());
    caller->handle_close();
    callee->handle_close();
  }
}

REGISTER_TYPED_TEST_SUITE_P(RunloopContract, AClosedSocketIsHeldUntilUnwatchedAndNeverReported,
                            ASocketWatchedWhileClosedIsReportedOnceReopenedAndWatchedAgain,
                            PostedItemsRunLaterInOrderOnTheLoopThread, AnItemMayPostAnotherWhichRunsAfterIt,
                            WatchCallsTheHandlerWithEventFourAndTheContext, PeerCloseIsReportedLikeData,
                            WatchTwiceKeepsOneEntryAndTheSecondHandlerWins,
                            AnotherObjectWithTheSameHandleIsTheSameEntry,
                            UnwatchOfAnUnwatchedSocketDoesNothing,
                            ANotificationForASocketUnwatchedInTheSameRoundIsIgnored,
                            WritabilityIsReportedOnlyWhileWanted, InputIsReportedOnlyWhileWanted,
                            ConnectionsCarryAnswersGivenInsideTheRequestCallbackAndQueuedFrames);

}  // namespace quorvane::runloop_contract
