#include "net/peer_account.h"

#include <arpa/inet.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "net/socket.h"
#include "net/tests/other_account.h"

namespace quorvane {
namespace {

sockaddr_in loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Reads from `handle` until the other end closes.
void drain(int handle) {
  char byte;
  while (::recv(handle, &byte, 1, 0) > 0) {
  }
}

TEST(PeerAccount, BothEndsOfAConnectionOfOurOwnAreOurs) {
  smart_ptr<socket> listener = listen_on_loopback(0);
  ASSERT_TRUE(listener);
  smart_ptr<socket> client(new socket);
  ASSERT_EQ(connect_to_loopback(*client, static_cast<uint16_t>(listener->local_port())), 0);
  smart_ptr<socket> server = listener->accept();
  ASSERT_TRUE(server);
  EXPECT_EQ(peer_account(server->handle()), std::optional<uid_t>(::getuid()));
  EXPECT_EQ(peer_account(client->handle(), /*handshake_wait_ms=*/200), std::optional<uid_t>(::getuid()));
  EXPECT_TRUE(is_trusted_account(::getuid()));
  EXPECT_TRUE(is_trusted_account(0));
}

TEST(PeerAccount, NoSocketHasThatAddressPair) {
  smart_ptr<socket> listener = listen_on_loopback(0);
  ASSERT_TRUE(listener);
  // A connection that was never made: our listener's port as the local end of a pair with port 1.
  EXPECT_FALSE(find_tcp_socket(loopback(static_cast<uint16_t>(listener->local_port())), loopback(1)));
  EXPECT_FALSE(peer_account(-1));
  EXPECT_FALSE(peer_account(listener->handle())) << "a listening socket has no peer";
}

TEST(PeerAccount, AListenerHasTheSystemsLargestBacklog) {
  smart_ptr<socket> listener = listen_on_loopback(0);
  ASSERT_TRUE(listener);
  sockaddr_in nobody{};
  nobody.sin_family = AF_INET;
  const std::optional<tcp_socket_facts> facts =
      find_tcp_socket(loopback(static_cast<uint16_t>(listener->local_port())), nobody);
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->state, 10) << "got a socket that is not listening";
  EXPECT_EQ(facts->uid, ::getuid());
  EXPECT_EQ(facts->send_queue, static_cast<uint32_t>(listen_backlog()));
  EXPECT_GT(listen_backlog(), 5);
}

TEST(LocalAccounts, TheAccountDatabaseIsReadForLoginFullNameAndGroups) {
  const std::optional<account_facts> root = find_account(0);
  ASSERT_TRUE(root);
  EXPECT_EQ(root->login, "root");
  EXPECT_EQ(find_login("root"), std::optional<uid_t>(0));
  EXPECT_TRUE(is_group_member(*root, "root")) << "the primary group counts";
  EXPECT_FALSE(is_group_member(*root, "no-such-group-quorvane"));
  EXPECT_FALSE(find_login("no-such-account-quorvane"));
  EXPECT_TRUE(is_service_account(0));
  EXPECT_TRUE(is_service_account(::getuid()));

  // An account with a full name, in a supplementary group, and trusted by no console but its own.
  testing::other_account ann("ann", "Ann Example,Room 4,,");
  if (!ann.made()) GTEST_SKIP() << ann.why_not();
  const std::optional<account_facts> facts = find_account(ann.uid());
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->login, ann.name());
  EXPECT_EQ(facts->full_name, "Ann Example") << "the comment's first field only";
  EXPECT_EQ(find_login(ann.name()), std::optional<uid_t>(ann.uid()));
  EXPECT_FALSE(is_group_member(*facts, "lpadmin"));
  ASSERT_EQ(std::system(("usermod -a -G lpadmin " + ann.name() + " 2>/dev/null").c_str()), 0);
  EXPECT_TRUE(is_group_member(*facts, "lpadmin")) << "a supplementary group counts";
  EXPECT_FALSE(is_service_account(ann.uid()));
}

// A console takes a service run by the computer's print service account: the account made by the package
// (made here for the test when the computer has none, and removed again).
TEST(LocalAccounts, TheComputersPrintServiceAccountIsOneAConsoleSpeaksTo) {
  if (::geteuid() != 0) GTEST_SKIP() << "making the service's account needs root (useradd)";
  const std::string name = service_account_name;
  bool made = false;
  if (!::getpwnam(name.c_str())) {
    made =
        std::system(("useradd --system --no-create-home --shell /usr/sbin/nologin " + name + " 2>/dev/null")
                        .c_str()) == 0;
    ASSERT_TRUE(made) << "useradd could not make " << name;
  }
  const std::optional<uid_t> account = find_login(name);
  ASSERT_TRUE(account);
  EXPECT_TRUE(is_service_account(*account));
  EXPECT_FALSE(is_trusted_account(*account)) << "the per-user service and the submit tool must not trust it";
  if (made) std::system(("userdel " + name + " 2>/dev/null").c_str());
}

using PeerAccountOfAnotherUser = testing::other_account_test;

TEST_F(PeerAccountOfAnotherUser, AClientOfAnotherAccountIsToldApart) {
  smart_ptr<socket> listener = listen_on_loopback(0);
  ASSERT_TRUE(listener);
  const uint16_t port = static_cast<uint16_t>(listener->local_port());
  const pid_t child = run_as_other([port] {
    const int handle = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = loopback(port);
    if (::connect(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return 1;
    drain(handle);
    return 0;
  });
  smart_ptr<socket> server = listener->accept();
  ASSERT_TRUE(server);
  const std::optional<uid_t> account = peer_account(server->handle());
  server->close();
  EXPECT_EQ(wait_for(child), 0);
  ASSERT_TRUE(account);
  EXPECT_EQ(*account, uid());
  EXPECT_FALSE(is_trusted_account(*account));
}

TEST_F(PeerAccountOfAnotherUser, AListenerOfAnotherAccountIsToldApart) {
  int ports[2];
  ASSERT_EQ(::pipe(ports), 0);
  const pid_t child = run_as_other([&ports] {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length)) {
      return 1;
    }
    if (::write(ports[1], &address.sin_port, sizeof address.sin_port) != sizeof address.sin_port) return 1;
    const int peer = ::accept(listener, nullptr, nullptr);
    drain(peer);
    return 0;
  });
  ::close(ports[1]);
  in_port_t port = 0;
  ASSERT_EQ(::read(ports[0], &port, sizeof port), static_cast<ssize_t>(sizeof port));
  ::close(ports[0]);
  smart_ptr<socket> client(new socket);
  ASSERT_EQ(connect_to_loopback(*client, ntohs(port)), 0);
  const std::optional<uid_t> account = peer_account(client->handle(), /*handshake_wait_ms=*/500);
  client->close();
  EXPECT_EQ(wait_for(child), 0);
  ASSERT_TRUE(account);
  EXPECT_EQ(*account, uid());
}

}  // namespace
}  // namespace quorvane
