// A peer of the service that pipelines "attributes" requests and does not read the answers until told to:
// what a console that has stopped reading, or a hostile local program, does to the service. Used by the
// integration tests and the benchmark of such peers.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include <json/json.h>

#include "net/jsonrpc_connection.h"
#include "net/socket.h"

namespace quorvane::print_service::testing {

/// One connection that sends pipelined "attributes" requests and reads their answers only in `read_all`.
class pipelining_peer {
 public:
  /// Connects to the service on `port` with socket buffers as small as the system allows, so that the
  /// requests stop at what the service itself takes. `connected` tells whether that worked.
  explicit pipelining_peer(int port) : socket_(new socket()) {
    const int small = 4096;
    setsockopt(socket_->handle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    setsockopt(socket_->handle(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    connected_ = connect_to_loopback(*socket_, static_cast<uint16_t>(port)) == 0;
    if (connected_) fcntl(socket_->handle(), F_SETFL, fcntl(socket_->handle(), F_GETFL) | O_NONBLOCK);
  }

  /// Whether the connection was made.
  bool connected() const { return connected_; }

  /// Sends what the socket takes now of the next requests, never more than `budget` bytes in all. Returns
  /// false when nothing could be sent (the socket is full, the budget spent) or the connection failed.
  bool send_some(size_t budget) {
    if (failed_ || sent_bytes_ >= budget) return false;
    if (unsent_.empty()) {
      for (int i = 0; i < 256; ++i) {
        Json::Value request(Json::objectValue);
        request["jsonrpc"] = "2.0";
        request["id"] = ++last_id_;
        request["method"] = "attributes";
        const std::string framed = jsonrpc::frame(request);
        unsent_ += framed;
        frame_sizes_.push_back(framed.size());
      }
    }
    // Straight to the system: the socket's own send waits until everything is taken.
    const ssize_t n = ::send(socket_->handle(), unsent_.data(), unsent_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0) {
      failed_ = errno != EAGAIN && errno != EWOULDBLOCK;
      return false;
    }
    // Whole frames are counted as requests once their last byte is out.
    size_t taken = static_cast<size_t>(n) + head_sent_;
    while (!frame_sizes_.empty() && taken >= frame_sizes_.front()) {
      taken -= frame_sizes_.front();
      frame_sizes_.pop_front();
      ++requests_;
    }
    head_sent_ = taken;
    unsent_.erase(0, static_cast<size_t>(n));
    sent_bytes_ += static_cast<size_t>(n);
    return n > 0;
  }

  /// Reads the answers to every whole request sent, until they have all come (true), the connection ends or
  /// fails, or nothing arrives for `quiet_ms` (false).
  bool read_all(int quiet_ms) {
    char chunk[65536];
    while (answers_ < requests_) {
      pollfd p{socket_->handle(), POLLIN, 0};
      if (poll(&p, 1, quiet_ms) <= 0) return false;
      const ssize_t n = socket_->recv(chunk, sizeof chunk, MSG_DONTWAIT);
      if (n <= 0) return false;
      unread_.append(chunk, static_cast<size_t>(n));
      count_frames();
    }
    return true;
  }

  /// The whole requests sent so far.
  uint64_t requests() const { return requests_; }
  /// The answers read so far.
  uint64_t answers() const { return answers_; }
  /// Whether a send failed otherwise than by a full socket (the service closed the connection).
  bool failed() const { return failed_; }

 private:
  // Takes the whole frames off the front of `unread_`, counting them.
  void count_frames() {
    for (;;) {
      const size_t colon = unread_.find(':');
      if (colon == std::string::npos) return;
      const size_t length = std::stoul(unread_.substr(0, colon));
      if (unread_.size() < colon + 1 + length + 1) return;
      unread_.erase(0, colon + 1 + length + 1);
      ++answers_;
    }
  }

  smart_ptr<socket> socket_;
  bool connected_ = false;
  bool failed_ = false;
  std::string unsent_;              // requests made and not yet taken by the socket
  std::string unread_;              // answer bytes not yet counted
  std::deque<size_t> frame_sizes_;  // the sizes of the frames in `unsent_`, in order
  size_t head_sent_ = 0;            // the bytes of the first of them already sent
  int64_t last_id_ = 0;
  uint64_t requests_ = 0;
  uint64_t answers_ = 0;
  size_t sent_bytes_ = 0;
};

/// Sends from every peer of `peers` until none takes more (each full socket tried again after `settle_ms`
/// with no progress anywhere) or each has sent `budget` bytes.
inline void fill_until_stuck(std::vector<pipelining_peer>& peers, size_t budget, int settle_ms = 200) {
  for (;;) {
    bool progress = false;
    for (pipelining_peer& peer : peers) {
      while (peer.send_some(budget)) progress = true;
    }
    if (progress) continue;
    // Nobody moved: one more look after a pause, in case the service was still reading.
    std::this_thread::sleep_for(std::chrono::milliseconds(settle_ms));
    for (pipelining_peer& peer : peers) {
      while (peer.send_some(budget)) progress = true;
    }
    if (!progress) return;
  }
}

}  // namespace quorvane::print_service::testing
