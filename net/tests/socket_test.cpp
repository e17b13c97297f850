#include "net/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

#include "core/log.h"
#include "net/socket_p.h"

namespace quorvane {
namespace {

// A listener on an ephemeral loopback port and one client connected to it.
struct loopback_link {
  smart_ptr<socket> listener = listen_on_loopback(0);
  smart_ptr<socket> client{new socket};
  smart_ptr<socket> server;
  loopback_link() {
    if (!listener) return;
    if (connect_to_loopback(*client, static_cast<uint16_t>(listener->local_port())) != 0) return;
    server = listener->accept();
  }
};

TEST(Socket, AcceptDescribesALoopbackPeer) {
  loopback_link link;
  ASSERT_TRUE(link.server);
  EXPECT_TRUE(link.server->connected());
  EXPECT_TRUE(link.client->connected());
  sockaddr_in client_address{};
  socklen_t length = sizeof client_address;
  ASSERT_EQ(getsockname(link.client->handle(), reinterpret_cast<sockaddr*>(&client_address), &length), 0);
  EXPECT_EQ(link.server->peer_address_text(), "127.0.0.1:" + std::to_string(ntohs(client_address.sin_port)));
  EXPECT_EQ(link.server->peer_hardware_text(), "localhost");
  EXPECT_EQ(link.server->peer_address_length(), static_cast<socklen_t>(sizeof(sockaddr_in)));
}

TEST(Socket, BothEndsSendEachMessageAtOnce) {
  loopback_link link;
  ASSERT_TRUE(link.server);
  for (const socket* end : {link.client.get(), link.server.get()}) {
    int value = 0;
    socklen_t length = sizeof value;
    ASSERT_EQ(getsockopt(end->handle(), IPPROTO_TCP, TCP_NODELAY, &value, &length), 0);
    EXPECT_NE(value, 0) << (end == link.client.get() ? "connected" : "accepted")
                        << " socket: a small message would wait for the peer's delayed acknowledgement";
  }
}

TEST(Socket, NeighbourTableLookup) {
  const std::string table =
      "IP address       HW type     Flags       HW address            Mask     Device\n"
      "192.168.1.7      0x1         0x0         00:00:00:00:00:00     *        eth0\n"
      "192.168.1.17     0x1         0x2         0a:1b:2c:3d:4e:5f     *        eth0\n"
      "192.168.1.7      0x1         0x2         de:ad:be:ef:00:01     *        wlan0\n";
  struct lookup_case {
    const char* address;
    const char* want;
  };
  const lookup_case cases[] = {
      {"192.168.1.17", "0A:1B:2C:3D:4E:5F"},  // upper-case hexadecimal
      {"192.168.1.7", "DE:AD:BE:EF:00:01"},   // the incomplete (all-zero) row is skipped
      {"192.168.1.1", ""},                    // not in the table
      {"192.168.1.170", ""},                  // a longer address is not a match
  };
  for (const auto& c : cases) {
    EXPECT_EQ(detail::hardware_address_in_arp_table(table, c.address), c.want) << c.address;
  }
  EXPECT_EQ(detail::hardware_address_in_arp_table(table.substr(0, table.find('\n') + 1), "192.168.1.7"), "");
}

sockaddr_in ipv4(const std::string& text) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  EXPECT_EQ(inet_pton(AF_INET, text.c_str(), &address.sin_addr), 1) << text;
  return address;
}

TEST(Socket, HardwareAddressOfLooksTheSystemsNeighbourTableUp) {
  EXPECT_EQ(hardware_address_of(ipv4("127.0.0.1")), "") << "loopback has no neighbour entry";
  EXPECT_EQ(hardware_address_of(sockaddr_in{}), "") << "an address of no family";
  const std::vector<neighbour> neighbours = neighbour_table();
  if (neighbours.empty()) GTEST_SKIP() << "this machine's neighbour table has no complete entry";
  const auto& [address, want] = neighbours.front();
  const std::string got = hardware_address_of(ipv4(address));
  EXPECT_EQ(got, want) << address << ": got " << got << ", want " << want;
  EXPECT_EQ(hardware_address_of(address), want) << address << " as text";
  EXPECT_EQ(hardware_address_of(std::string("not an address")), "");
}

TEST(Socket, SendOfNothingReturnsZeroEvenWhenClosed) {
  smart_ptr<socket> s(new socket);
  s->close();
  EXPECT_EQ(s->send("", 0, 0), 0);
}

TEST(Socket, SendWaitsForRoomAndSendsALargeBufferWhole) {
  loopback_link link;
  ASSERT_TRUE(link.server);
  // Non-blocking, as a watched socket is: the sender must wait for room instead of giving up.
  fcntl(link.client->handle(), F_SETFL, fcntl(link.client->handle(), F_GETFL) | O_NONBLOCK);
  std::string big(8 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  std::string received;
  std::thread reader([&] {
    char chunk[65536];
    ssize_t n;
    while (received.size() < big.size() && (n = link.server->recv(chunk, sizeof chunk, 0)) > 0) {
      received.append(chunk, static_cast<size_t>(n));
    }
  });
  const ssize_t sent = link.client->send(big.data(), big.size(), 0);
  reader.join();
  EXPECT_EQ(sent, static_cast<ssize_t>(big.size()));
  EXPECT_TRUE(received == big) << "got " << received.size() << " bytes, want " << big.size() << " identical";
}

TEST(Socket, SendAvailableTakesWhatFitsThenZeroAndNeverWaits) {
  // Blocking and non-blocking handles alike: the call must never wait inside the kernel.
  for (const bool non_blocking : {false, true}) {
    SCOPED_TRACE(non_blocking ? "non-blocking" : "blocking");
    loopback_link link;
    ASSERT_TRUE(link.server);
    const int small = 4096;
    setsockopt(link.client->handle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    setsockopt(link.server->handle(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    if (non_blocking)
      fcntl(link.client->handle(), F_SETFL, fcntl(link.client->handle(), F_GETFL) | O_NONBLOCK);
    const std::string big(16 << 20, 'x');
    EXPECT_EQ(link.client->send_available(big.data(), 0), 0);
    const ssize_t first = link.client->send_available(big.data(), big.size());
    EXPECT_GT(first, 0) << "the buffers take some bytes";
    EXPECT_LT(first, static_cast<ssize_t>(big.size()));
    // The peer reads nothing, so the buffers fill and a later call takes nothing.
    ssize_t more = 1;
    for (int attempt = 0; attempt < 1000 && more > 0; ++attempt)
      more = link.client->send_available(big.data(), big.size());
    EXPECT_EQ(more, 0);

    // Once the peer is gone (closing with unread bytes resets the link), the call fails rather than
    // reporting a full buffer.
    link.server->close();
    pollfd reset{link.client->handle(), 0, 0};
    ASSERT_EQ(::poll(&reset, 1, 10000), 1) << "the reset never arrived";
    EXPECT_EQ(link.client->send_available("ping", 4), -1);
  }
}

TEST(Socket, SendToAPeerThatHasGoneFailsWithoutASignal) {
  loopback_link link;
  ASSERT_TRUE(link.server);
  link.server->close();
  link.listener->close();
  // The first sends may still be accepted by the kernel; once the peer's reset is back, a send fails.
  ssize_t result = 1;
  for (int attempt = 0; attempt < 100 && result > 0; ++attempt) {
    result = link.client->send("ping", 4, 0);
    if (result > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(result, -1);
}

TEST(Socket, ConnectAfterCloseOpensANewHandleAndCloseTwiceIsHarmless) {
  loopback_link link;
  ASSERT_TRUE(link.server);
  EXPECT_EQ(link.client->close(), 0);
  EXPECT_EQ(link.client->handle(), socket::invalid_handle);
  EXPECT_FALSE(link.client->connected());
  EXPECT_EQ(link.client->close(), 0);
  ASSERT_EQ(connect_to_loopback(*link.client, static_cast<uint16_t>(link.listener->local_port())), 0);
  EXPECT_NE(link.client->handle(), socket::invalid_handle);
  EXPECT_TRUE(link.client->connected());
  smart_ptr<socket> second = link.listener->accept();
  ASSERT_TRUE(second);
  EXPECT_EQ(link.client->send("hi", 2, 0), 2);
  char got[2];
  EXPECT_EQ(second->recv(got, 2, MSG_WAITALL), 2);
}

TEST(Socket, AFailedConnectReportsMinusOneAndTheNextAttemptStartsAfresh) {
  // A port that was just free: bound, then released, so nobody listens there.
  smart_ptr<socket> probe(new socket);
  ASSERT_EQ(probe->bind_loopback(0), 0);
  const auto port = static_cast<uint16_t>(probe->local_port());
  probe->close();
  set_log_level(log_none);
  smart_ptr<socket> s(new socket);
  EXPECT_EQ(connect_to_loopback(*s, port), -1);
  set_log_level(log_information);
  EXPECT_FALSE(s->connected());
  smart_ptr<socket> listener = listen_on_loopback(0);
  ASSERT_TRUE(listener);
  EXPECT_EQ(connect_to_loopback(*s, static_cast<uint16_t>(listener->local_port())), 0);
  EXPECT_TRUE(s->connected());
}

}  // namespace
}  // namespace quorvane
