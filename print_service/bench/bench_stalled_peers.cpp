// How long a fresh "attributes" takes while other connections pipeline requests and never read the answers.
// The real quorvane-service; for 0 (the reference, in the same run), 4 and 50 such connections, each
// sending until the service takes no more of it, a new connection then asks "attributes" ROUNDS times, one
// after the other. Prints for each count the first round trip, the median and the slowest of the others,
// and the medians' ratio to the reference.
//
//   bench_stalled_peers [ROUNDS]
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/log.h"
#include "pipelining_peer.h"
#include "service_process.h"

namespace quorvane::print_service::testing {
namespace {

using clock_type = std::chrono::steady_clock;

// One "attributes" on a connection of its own, answered in full; its round trip in microseconds, or -1.
double fresh_round_trip(int port) {
  smart_ptr<socket> s(new socket());
  if (connect_to_loopback(*s, static_cast<uint16_t>(port)) != 0) return -1;
  Json::Value request(Json::objectValue);
  request["jsonrpc"] = "2.0";
  request["id"] = 1;
  request["method"] = "attributes";
  const std::string framed = jsonrpc::frame(request);
  const auto start = clock_type::now();
  if (s->send(framed.data(), framed.size(), 0) != static_cast<ssize_t>(framed.size())) return -1;
  std::string answer;
  char chunk[4096];
  for (;;) {
    const ssize_t n = s->recv(chunk, sizeof chunk, 0);
    if (n <= 0) return -1;
    answer.append(chunk, static_cast<size_t>(n));
    const size_t colon = answer.find(':');
    if (colon != std::string::npos && answer.size() >= colon + 2 + std::stoul(answer.substr(0, colon))) break;
  }
  return std::chrono::duration<double, std::micro>(clock_type::now() - start).count();
}

int run(int rounds) {
  temporary_folder root;
  service_process service(root.path() + "/data", {"CUPS_SERVER=/nonexistent/quorvane-bench/cups.sock"});
  service.set_log_level(1);
  if (!service.start()) {
    std::fprintf(stderr, "the service did not start\n");
    return 1;
  }
  double reference = 0;
  std::printf("%-14s %12s %12s %13s %8s\n", "stalled peers", "first (us)", "median (us)", "slowest (us)",
              "ratio");
  for (const size_t count : {size_t{0}, size_t{4}, size_t{50}}) {
    std::vector<pipelining_peer> peers;
    peers.reserve(count);
    for (size_t i = 0; i < count; ++i) peers.emplace_back(service.port());
    fill_until_stuck(peers, /*budget=*/size_t{64} << 20);
    std::vector<double> trips;
    // The first round trip also waits for whatever of the peers' requests the service is still answering
    // when their sockets are full; it is shown apart.
    const double first = fresh_round_trip(service.port());
    for (int i = 1; i < rounds; ++i) trips.push_back(fresh_round_trip(service.port()));
    if (first < 0 || std::any_of(trips.begin(), trips.end(), [](double t) { return t < 0; })) {
      std::fprintf(stderr, "a fresh request was not answered\n");
      return 1;
    }
    std::sort(trips.begin(), trips.end());
    const double median = trips[trips.size() / 2];
    if (count == 0) reference = median;
    uint64_t requests = 0;
    for (const pipelining_peer& peer : peers) requests += peer.requests();
    std::printf("%-14s %12.0f %12.0f %13.0f %8.2f   (%llu requests sent by them)\n",
                std::to_string(count).c_str(), first, median, trips.back(), median / reference,
                static_cast<unsigned long long>(requests));
  }
  return service.stop() == 0 ? 0 : 1;
}

}  // namespace
}  // namespace quorvane::print_service::testing

int main(int argc, char** argv) {
  quorvane::set_log_level(quorvane::log_error);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
  return quorvane::print_service::testing::run(rounds);
}
