// The tray icon's tooltip: the service's state and the last arrival with how long ago.
#include "ui/session/tray_status.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

TEST(TrayStatus, SaysWhetherTheServiceIsConnectedAndTheLastArrival) {
  tray_status status;
  EXPECT_EQ(status.tooltip(0ms), "Quorvane: not connected to the print service");
  status.set_connected(true);
  EXPECT_EQ(status.tooltip(0ms), "Quorvane: connected to the print service");
  status.arrived({"report.pdf", "alice", "192.168.1.23", "Inbox", "/in/report.pdf", ""}, milliseconds(1000));
  EXPECT_EQ(
      status.tooltip(milliseconds(1000) + 2min + 5s),
      "Quorvane: connected to the print service\nLast document: report.pdf from 192.168.1.23, 2 minutes ago");
  // The newest arrival replaces it; a failed one says so; without a device the user is named.
  status.arrived({"photo.jpg", "bob", "", "Inbox", "", "The document was not printed ..."},
                 milliseconds(500000));
  status.set_connected(false);
  EXPECT_EQ(
      status.tooltip(milliseconds(500000)),
      "Quorvane: not connected to the print service\nLast document: photo.jpg from bob, just now (failed)");
}

TEST(TrayStatus, TimeAgoInWords) {
  struct ago_case {
    milliseconds elapsed;
    const char* want;
  };
  const ago_case cases[] = {
      {0ms, "just now"},       {59s, "just now"},          {60s, "1 minute ago"}, {119s, "1 minute ago"},
      {2min, "2 minutes ago"}, {59min, "59 minutes ago"},  {60min, "1 hour ago"}, {23h, "23 hours ago"},
      {24h, "1 day ago"},      {72h + 1min, "3 days ago"},
  };
  for (const ago_case& c : cases) EXPECT_EQ(time_ago(c.elapsed), c.want) << c.elapsed.count() << " ms";
}

}  // namespace
}  // namespace quorvane
