// Test helper: how long a test waits for something that must happen.
#pragma once

#include <chrono>

namespace quorvane::testing_support {

/// How long a test waits for something that must happen (a process listening, an answer, a notification,
/// a window shown). Waits end as soon as it happens: the bound only keeps a broken program from hanging a
/// test, so it leaves room for a heavily loaded machine. A test never checks speed against it.
inline constexpr std::chrono::seconds event_bound{60};

/// The same bound in milliseconds, for the waits that take a count.
inline constexpr int event_bound_ms = static_cast<int>(std::chrono::milliseconds(event_bound).count());

}  // namespace quorvane::testing_support
