#include "ui/base/qt_runloop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include "net/tests/runloop_contract.h"

namespace quorvane {
namespace {

struct qt_loop_env {
  qt_runloop qt_loop;
  runloop& loop() { return qt_loop; }
  bool spin_until(const std::function<bool()>& done, int timeout_ms) {
    return QTest::qWaitFor(done, timeout_ms);
  }
  void spin_for(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
};

}  // namespace

namespace runloop_contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Qt, RunloopContract, qt_loop_env);
}

namespace {

TEST(QtRunloop, ANotifierForAnUnwatchedSocketIsGoneOnceTheLoopRuns) {
  qt_runloop loop;
  runloop_contract::socket_pair pair;
  ASSERT_TRUE(pair.near);
  loop.watch(
      pair.near, 4, [](smart_ptr<socket>, int32_t, void*) {}, nullptr);
  EXPECT_EQ(loop.watched_count(), 1u);
  loop.unwatch(pair.near);
  EXPECT_EQ(loop.watched_count(), 0u);
  pair.poke();
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(pair.near->reference_count(), 1);
}

}  // namespace
}  // namespace quorvane
