#include "core/runloop.h"

#include <atomic>

namespace quorvane {
namespace {
std::atomic<runloop*> main_loop{nullptr};
}

runloop* main_runloop() {
  return main_loop.load(std::memory_order_acquire);
}

void set_main_runloop(runloop* loop) {
  main_loop.store(loop, std::memory_order_release);
}

}  // namespace quorvane
