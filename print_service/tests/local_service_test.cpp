// The service object on a run loop that outlives it, as a program that starts the service again on the same
// loop (the fuzz targets do) has it.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <memory>

#include "net/poll_runloop.h"
#include "net/socket.h"
#include "print_service/ipp/ipp_server.h"
#include "print_service/local_service.h"
#include "test_support/event_bound.h"
#include "test_support/scoped_environment.h"
#include "test_support/temporary_folder.h"

namespace quorvane::print_service {
namespace {

using namespace quorvane::testing_support;

// A peer that connected but had not sent a byte when the service ended: nothing of the service is left
// watched, so the peer's first bytes cannot reach the service that is gone.
TEST(LocalService, APeerThatHasNotSpokenIsDroppedWithTheService) {
  const scoped_environment no_cups("CUPS_SERVER", "/nonexistent/quorvane-test/cups.sock");
  const scoped_environment no_bus("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/quorvane-test/bus");
  temporary_folder root;
  ASSERT_FALSE(root.path().empty());
  poll_runloop loop;
  set_main_runloop(&loop);
  const size_t watched_before = loop.watched_count();
  serve_options options;
  options.port = 0;
  options.data_folder = root.path() + "/data";
  options.ipp_port = 0;
  options.ipp_loopback_only = true;
  options.dnssd = false;
  auto service = std::make_unique<local_service>(loop);
  ASSERT_TRUE(service->start(options));
  const size_t watched_running = loop.watched_count();

  smart_ptr<socket> peer(new socket());
  ASSERT_EQ(connect_to_loopback(*peer, static_cast<uint16_t>(service->port())), 0);
  ASSERT_TRUE(loop.run_until([&] { return loop.watched_count() > watched_running; }, event_bound))
      << "the service did not accept the peer";

  service.reset();
  EXPECT_EQ(loop.watched_count(), watched_before) << "the service left sockets watched after it ended";
  // The peer speaks now: its bytes must meet a closed socket, not the old service's handler.
  const char hello[] = "30:{\"id\":1,\"method\":\"attributes\"},";
  EXPECT_GT(peer->send(hello, sizeof(hello) - 1, 0), 0);
  loop.run_until([] { return false; }, std::chrono::milliseconds(100));
  set_main_runloop(nullptr);
}

}  // namespace
}  // namespace quorvane::print_service

namespace quorvane::print_service {
namespace {

Json::Value named_printer(const char* uuid, const std::string& display_name, const char* owner) {
  Json::Value p(Json::objectValue);
  p["uuid"] = uuid;
  p["displayName"] = display_name;
  if (*owner) p["owner"] = owner;
  return p;
}

TEST(AdvertisedNames, OneNameOfTwoAccountsIsToldApartByTheAccount) {
  const std::string mine = "\xee\x80\x80Open On My PC @ host";  // the console's hidden prefix, U+E000
  const std::string long_name(70, 'x');
  const auto who = [](const std::string& owner) { return owner == "ann" ? std::string("Ann Example") : ""; };
  struct {
    const char* name;
    std::vector<Json::Value> printers;
    std::vector<std::string> want;  // the phone names, in order
  } cases[] = {
      // Told apart
      {"two accounts' first-run printers",
       {named_printer("1", mine, "ann"), named_printer("2", mine, "bob")},
       {"Open On My PC @ host (Ann Example)", "Open On My PC @ host (bob)"}},
      {"a name too long for the suffix gives way to it",
       {named_printer("1", long_name, "ann"), named_printer("2", long_name, "bob")},
       {std::string(63 - 14, 'x') + " (Ann Example)", std::string(63 - 6, 'x') + " (bob)"}},
      // Left alone
      {"one account's two printers",
       {named_printer("1", mine, "ann"), named_printer("2", mine, "ann")},
       {"Open On My PC @ host", "Open On My PC @ host"}},
      {"a CUPS printer of the same name",
       {named_printer("1", "Office", ""), named_printer("2", "Office", "ann")},
       {"Office", "Office"}},
      {"different names",
       {named_printer("1", "Inbox", "ann"), named_printer("2", "Scans", "bob")},
       {"Inbox", "Scans"}},
  };
  for (auto& c : cases) {
    const std::vector<Json::Value> got = told_apart(c.printers, who);
    ASSERT_EQ(got.size(), c.want.size()) << c.name;
    for (size_t i = 0; i < got.size(); ++i) {
      const std::string name = ipp_server::service_name(got[i]);
      EXPECT_EQ(name, c.want[i]) << c.name << ", printer " << i << ": got '" << name << "', want '"
                                 << c.want[i] << "'";
      EXPECT_LE(name.size(), 63u) << c.name;
    }
  }
}

}  // namespace
}  // namespace quorvane::print_service
