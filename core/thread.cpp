#include "core/thread.h"

#include <system_error>

#include "core/log.h"
#include "core/runloop.h"

namespace quorvane {

thread::~thread() {
  // A thread object is released on its loop's thread after the worker has finished; joining here covers a
  // worker that was started but whose completion never ran (the loop ended first).
  if (handle_.joinable()) {
    if (handle_.get_id() == std::this_thread::get_id()) {
      handle_.detach();
    } else {
      handle_.join();
    }
  }
}

bool thread::start(std::function<void()> work) {
  // The earlier thread may still be running its stored work; a second handle cannot be kept either.
  if (handle_.joinable()) {
    QV_LOG(log_error, "Unable to start worker thread: the one started before has not been joined");
    return false;
  }
  work_ = std::move(work);
  try {
    handle_ = std::thread([this] { work_(); });
  } catch (const std::system_error& error) {
    QV_LOG(log_error, "Unable to start a worker thread: %s", error.what());
    return false;
  }
  return true;
}

void thread::join() {
  if (handle_.joinable() && handle_.get_id() != std::this_thread::get_id()) handle_.join();
}

bool run_in_background(runloop& loop, std::function<void()> work, std::function<void()> completion) {
  smart_ptr<thread> worker(new thread);
  thread* raw = worker.get();
  // The stored work holds the thread's own reference until the completion has run on the loop.
  auto body = [self = worker, raw, &loop, work = std::move(work),
               completion = std::move(completion)]() mutable {
    work();
    loop.post([raw, completion = std::move(completion)]() mutable {
      completion();
      completion = nullptr;
      raw->join();
      // Destroying the stored work drops the thread's reference to itself, and with it the thread object.
      raw->take_work();
    });
  };
  if (worker->start(std::move(body))) return true;
  worker->take_work();
  return false;
}

}  // namespace quorvane
