// The service's use of the system bus, on a bus of the test's own: advertised, its IPP printers' avahi
// client is on the bus (waiting for avahi-daemon); unadvertised (--no-dnssd), the service never connects,
// so that avahi-daemon starting or restarting cannot reach it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "private_cupsd.h"
#include "service_process.h"

namespace quorvane::print_service::testing {
namespace {

using namespace std::chrono_literals;

// The unique names on the bus at `address` other than that of the asking dbus-send; empty on failure.
std::set<std::string> connections(const std::string& address, const std::string& scratch) {
  const std::string out = scratch + "/names.txt";
  unlink(out.c_str());
  child_process ask;
  if (!ask.spawn({find_program("dbus-send"), "--bus=" + address, "--print-reply",
                  "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.ListNames"},
                 {}, out) ||
      !ask.wait(10000) || ask.exit_status() != 0) {
    return {};
  }
  // The asker's own name is the newest: the highest number.
  std::set<std::string> names;
  const std::string text = read_file(out);
  const std::regex unique("\":1\\.([0-9]+)\"");
  int newest = -1;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), unique); it != std::sregex_iterator(); ++it) {
    names.insert((*it)[1]);
    newest = std::max(newest, std::stoi((*it)[1]));
  }
  names.erase(std::to_string(newest));
  return names;
}

struct bus_case {
  const char* label;
  std::vector<std::string> ipp_arguments;
  bool on_the_bus;
};

TEST(ServiceOnTheSystemBus, OnlyAnAdvertisingServiceConnects) {
  if (find_program("dbus-daemon").empty() || find_program("dbus-send").empty()) {
    GTEST_SKIP() << "dbus-daemon or dbus-send is not installed (run scripts/setup.sh)";
  }
  temporary_folder root;
  ASSERT_FALSE(root.path().empty());
  const std::string address = "unix:path=" + root.path() + "/bus";
  child_process bus;
  ASSERT_TRUE(
      bus.spawn({find_program("dbus-daemon"), "--session", "--nofork", "--nopidfile", "--address=" + address},
                {}, root.path() + "/bus.log"));
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (access((root.path() + "/bus").c_str(), F_OK) != 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_EQ(access((root.path() + "/bus").c_str(), F_OK), 0) << read_file(root.path() + "/bus.log");
  ASSERT_TRUE(connections(address, root.path()).empty()) << "the bus has other clients";

  const bus_case cases[] = {
      {"advertised", {"--ipp-port", "0", "--ipp-listen", "loopback"}, true},
      {"not advertised", {"--ipp-port", "0", "--ipp-listen", "loopback", "--no-dnssd"}, false},
  };
  for (const bus_case& c : cases) {
    SCOPED_TRACE(c.label);
    service_process service(root.path() + "/data-" + std::to_string(&c - cases),
                            {"CUPS_SERVER=/nonexistent/quorvane-test/cups.sock", "HOME=" + root.path(),
                             "DBUS_SYSTEM_BUS_ADDRESS=" + address});
    service.set_ipp_arguments(c.ipp_arguments);
    ASSERT_TRUE(service.start()) << read_file(service.log_file());
    ASSERT_GT(service.ipp_port(), 0);
    // Connecting happens while the IPP server starts, before the port files are written; the advertised
    // service stays connected, waiting for avahi-daemon, so one look suffices either way.
    EXPECT_EQ(!connections(address, root.path()).empty(), c.on_the_bus);
    EXPECT_EQ(service.stop(), 0) << read_file(service.log_file());
  }
}

}  // namespace
}  // namespace quorvane::print_service::testing
