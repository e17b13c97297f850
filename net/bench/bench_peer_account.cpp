// What checking the peer's account adds to accepting a loopback connection when the machine has many
// sockets: accept + `peer_account` with 5,000 idle loopback sockets open against the same with none,
// measured in the same run in alternating rounds. Prints the median cost of each and their ratio (goal:
// at most 1.1, since the kernel looks one address pair up instead of listing every socket).
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/log.h"
#include "net/peer_account.h"
#include "net/socket.h"

namespace {

using namespace quorvane;
using clock_type = std::chrono::steady_clock;

// Closes `s` with a reset, so that no TIME-WAIT entry piles up between rounds.
void close_at_once(quorvane::socket& s) {
  const linger abort_close{1, 0};
  ::setsockopt(s.handle(), SOL_SOCKET, SO_LINGER, &abort_close, sizeof abort_close);
  s.close();
}

// Nanoseconds per accepted connection, its peer's account checked, over `count` connections.
double accept_cost(quorvane::socket& listener, int count) {
  const uint16_t port = static_cast<uint16_t>(listener.local_port());
  std::vector<smart_ptr<quorvane::socket>> clients;
  clients.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    clients.emplace_back(new quorvane::socket);
    if (connect_to_loopback(*clients.back(), port) != 0) std::exit(1);
  }
  const auto start = clock_type::now();
  for (int i = 0; i < count; ++i) {
    smart_ptr<quorvane::socket> accepted = listener.accept();
    if (!accepted) std::exit(1);
    const std::optional<uid_t> account = peer_account(accepted->handle());
    if (!account || !is_trusted_account(*account)) std::exit(2);
    close_at_once(*accepted);
  }
  const auto elapsed = clock_type::now() - start;
  for (auto& c : clients) close_at_once(*c);
  return std::chrono::duration<double, std::nano>(elapsed).count() / count;
}

// `pairs` connected loopback pairs (two sockets each) that do nothing.
std::vector<smart_ptr<quorvane::socket>> idle_sockets(int pairs) {
  smart_ptr<quorvane::socket> listener = listen_on_loopback(0);
  std::vector<smart_ptr<quorvane::socket>> held;
  held.reserve(static_cast<size_t>(pairs) * 2);
  for (int i = 0; i < pairs; ++i) {
    smart_ptr<quorvane::socket> client(new quorvane::socket);
    if (connect_to_loopback(*client, static_cast<uint16_t>(listener->local_port())) != 0) std::exit(1);
    smart_ptr<quorvane::socket> server = listener->accept();
    if (!server) std::exit(1);
    held.push_back(client);
    held.push_back(server);
  }
  return held;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 7;
  const int per_round = 500;
  set_log_level(log_error);
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);

  smart_ptr<quorvane::socket> listener = listen_on_loopback(0);
  if (!listener) return 1;
  accept_cost(*listener, per_round);  // warm-up
  std::vector<double> none, busy;
  for (int round = 0; round < rounds; ++round) {
    none.push_back(accept_cost(*listener, per_round));
    std::vector<smart_ptr<quorvane::socket>> idle = idle_sockets(2500);
    busy.push_back(accept_cost(*listener, per_round));
    for (auto& s : idle) close_at_once(*s);
  }
  const double reference = median(none), loaded = median(busy);
  std::printf("accept + peer account check, median of %d rounds of %d connections\n", rounds, per_round);
  std::printf("  no idle sockets:          %8.0f ns\n", reference);
  std::printf("  5,000 idle loopback sockets: %8.0f ns\n", loaded);
  std::printf("  ratio: %.3f (goal <= 1.1)\n", loaded / reference);
  return 0;
}
