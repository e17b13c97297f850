// A TCP stream socket over IPv4 as a counted object: the client end of the service link and the
// listening side of the print service.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/ref_counted.h"

namespace quorvane {

/// One IPv4 stream socket. A closed socket reopens on the next `connect`, so one object serves any number
/// of successive connections. Blocking until a run loop watches it (watching makes it non-blocking).
class socket : public ref_counted_object {
 public:
  /// Receivers of what arrives on a socket derive from this; the socket's user finds the derived interface
  /// with a dynamic cast.
  class delegate {
   public:
    virtual ~delegate() = default;
  };

  /// The handle of a closed socket.
  static constexpr int invalid_handle = -1;

  /// Creates a new IPv4 stream socket at once; when the system refuses, the socket starts closed (the
  /// failure is logged) and `connect` tries again.
  socket();

  /// Wraps a handle returned by the system's accept: connected (`invalid_handle` gives a closed socket).
  explicit socket(int accepted_handle);

  /// Closes the socket (this class's `close`, not an override).
  ~socket() override;

  /// Connects to `address`, first creating a new handle when the socket was closed. Blocks unless the socket
  /// is watched. Returns 0 on success; -1 on failure ("connect failed: <errno>" is logged and the handle is
  /// closed, so the next call starts from a fresh one).
  virtual int32_t connect(const sockaddr* address, socklen_t length);

  /// Listens with the system's largest backlog (`listen_backlog`). Returns the system call's result (0, or -1
  /// with errno set).
  virtual int32_t listen();

  /// Accepts one pending peer. Returns the peer's socket (connected, with its address and hardware texts),
  /// or null when none could be accepted (errno tells why; EAGAIN on a watched socket with nobody waiting).
  virtual smart_ptr<socket> accept();

  /// Sends all `count` bytes, waiting for writability whenever the socket would block. Returns `count`; 0 for
  /// a count of 0 (no system call); the bytes sent so far when a call sends nothing or fails after progress;
  /// -1 when nothing could be sent or the wait failed. Never raises SIGPIPE.
  virtual ssize_t send(const void* bytes, size_t count, int flags);

  /// One send call that never waits: the bytes the system took (0 when the socket would block, or for a
  /// count of 0), or -1 with errno set when the peer is gone or the send failed. Never raises SIGPIPE.
  virtual ssize_t send_available(const void* bytes, size_t count);

  /// One receive call: the bytes received, 0 at the peer's orderly end, or -1 with errno set.
  virtual ssize_t recv(void* buffer, size_t capacity, int flags);

  /// Closes the handle if it is open (connected becomes false). Always returns 0; closing twice does nothing.
  virtual int32_t close();

  /// Gives the handle up without closing it: the socket is left closed and the caller owns the handle.
  /// Returns the handle, or `invalid_handle` when the socket was closed.
  int release_handle();

  /// Binds to 127.0.0.1 at `port` (0 picks a free port), with address reuse, reopening a closed socket
  /// first. Returns 0, or -1 with the failure logged.
  int32_t bind_loopback(uint16_t port);

  /// The local port the socket is bound to, or -1 when it is closed or unbound.
  int32_t local_port() const;

  /// The system handle, or `invalid_handle` when closed.
  int handle() const { return handle_; }

  /// True after a successful `connect` and for an accepted socket; false after `close`.
  bool connected() const { return connected_; }

  /// The peer as "a.b.c.d:port"; empty unless the socket was accepted.
  const std::string& peer_address_text() const { return peer_address_text_; }

  /// The peer's hardware address ("AA:BB:CC:DD:EE:FF"), "localhost" for an IPv4 peer the neighbour table
  /// does not know (a loopback peer); empty unless the socket was accepted from an IPv4 peer.
  const std::string& peer_hardware_text() const { return peer_hardware_text_; }

  /// The peer's socket address (zeroed unless the socket was accepted).
  const sockaddr_storage& peer_address() const { return peer_address_; }

  /// The length of the peer's socket address (0 unless the socket was accepted).
  socklen_t peer_address_length() const { return peer_address_length_; }

  /// The receiver of what arrives on this socket (not owned), or null.
  delegate* get_delegate() const { return delegate_; }

  /// Sets the receiver (not owned); null for none.
  void set_delegate(delegate* d) { delegate_ = d; }

 protected:
  /// Takes over `source`'s handle, peer address and texts, connected flag and delegate; `source`
  /// is left closed (its handle invalid) without closing the handle now owned here.
  void take_over(socket& source);

 private:
  /// Opens a new IPv4 stream handle; false (logged) when the system refuses.
  bool open_handle();

  int handle_ = invalid_handle;
  sockaddr_storage peer_address_{};
  socklen_t peer_address_length_ = 0;
  std::string peer_address_text_;
  std::string peer_hardware_text_;
  bool connected_ = false;
  delegate* delegate_ = nullptr;
};

/// The largest listen backlog the system allows (net.core.somaxconn), else SOMAXCONN when it cannot be read.
int listen_backlog();

/// Creates a socket listening on 127.0.0.1 at `port` (0 picks a free one; `local_port` tells which).
/// Returns null when binding or listening fails (logged).
smart_ptr<socket> listen_on_loopback(uint16_t port);

/// One complete row of the kernel's neighbour table: an IPv4 address and the hardware address it has.
struct neighbour {
  std::string address;   // "192.168.1.7"
  std::string hardware;  // "DE:AD:BE:EF:00:01"
};

/// The complete rows of the kernel's neighbour table (/proc/net/arp), in its order: a neighbour whose
/// hardware address is not known yet is left out. Empty when the table cannot be read.
std::vector<neighbour> neighbour_table();

/// Looks `address` up in the kernel's neighbour table (/proc/net/arp). Returns its hardware address as
/// "AA:BB:CC:DD:EE:FF", or "" when the table cannot be read or has no complete entry for it (a loopback
/// address, a host behind a router, a neighbour not yet resolved).
std::string hardware_address_of(const sockaddr_in& address);

/// `hardware_address_of` for an IPv4 address written as text ("192.168.1.7"); "" when it is none.
std::string hardware_address_of(const std::string& ipv4_text);

/// Connects `s` to 127.0.0.1 at `port`. Returns `s->connect`'s result: 0, or -1 (logged).
int32_t connect_to_loopback(socket& s, uint16_t port);

}  // namespace quorvane
