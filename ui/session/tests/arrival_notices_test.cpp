// The notices of arrivals, without a screen or a bus: what one arrival says, a failure with its reason, and
// bursts merged into one summary.
#include "ui/session/arrival_notices.h"

#include <gtest/gtest.h>

#include <string>

#include "spooler/delivery_failure.h"

namespace quorvane {
namespace {

using std::chrono::milliseconds;

arrival kept(const std::string& document, const std::string& file) {
  return {document, "alice", "Pixel 7", "Send To Dropbox", file, ""};
}

arrival failed(const std::string& document, const std::string& reason) {
  return {document, "bob", "192.168.1.23", "Office Laser", "", reason};
}

TEST(ArrivalNotices, OneArrivalIsToldWithItsNameSenderAndPrinter) {
  arrival_notices notices;
  const notice n =
      notices.arrive(kept("report.pdf", "/home/me/Downloads/Quorvane/report.pdf"), milliseconds(0));
  EXPECT_EQ(n.title, "report.pdf");
  EXPECT_EQ(n.body, "From alice (Pixel 7) on Send To Dropbox");
  EXPECT_EQ(n.file, "/home/me/Downloads/Quorvane/report.pdf");
  EXPECT_FALSE(n.failed);
  EXPECT_FALSE(n.replaces_last);
}

TEST(ArrivalNotices, AFailedDeliveryIsToldWithItsReason) {
  arrival_notices notices;
  const std::string reason = reason_sentence(delivery_failure::printer_stopped);
  const notice n = notices.arrive(failed("photo.jpg", reason), milliseconds(0));
  EXPECT_EQ(n.title, "photo.jpg");
  EXPECT_EQ(n.body, "From bob (192.168.1.23) on Office Laser. " + reason);
  EXPECT_TRUE(n.failed);
  EXPECT_EQ(n.file, "") << "nothing to open";
}

TEST(ArrivalNotices, ABurstLeavesOneNoticeThatSumsItUp) {
  arrival_notices notices;
  // 20 documents in 10 s: the first is told, each later one replaces the notice with the burst's summary.
  notice n;
  for (int i = 0; i < 20; ++i) {
    n = notices.arrive(kept("page" + std::to_string(i) + ".pdf", "/in/page" + std::to_string(i) + ".pdf"),
                       milliseconds(i * 500));
    EXPECT_EQ(n.replaces_last, i > 0) << "arrival " << i;
  }
  EXPECT_EQ(n.title, "20 documents arrived");
  EXPECT_EQ(n.body, "The last: page19.pdf. From alice (Pixel 7) on Send To Dropbox");
  EXPECT_EQ(n.file, "/in/page19.pdf");
  EXPECT_FALSE(n.failed);

  // A pause of the whole gap ends the burst; just under it does not.
  n = notices.arrive(kept("late.pdf", "/in/late.pdf"), milliseconds(19 * 500) + arrival_notices::burst_gap);
  EXPECT_FALSE(n.replaces_last);
  EXPECT_EQ(n.title, "late.pdf");
  n = notices.arrive(kept("next.pdf", "/in/next.pdf"),
                     milliseconds(19 * 500) + 2 * arrival_notices::burst_gap - milliseconds(1));
  EXPECT_TRUE(n.replaces_last);
  EXPECT_EQ(n.title, "2 documents arrived");
}

TEST(ArrivalNotices, ABurstCountsItsFailures) {
  arrival_notices notices;
  const std::string reason = reason_sentence(delivery_failure::folder_full);
  notices.arrive(failed("a.pdf", reason), milliseconds(0));
  notices.arrive(kept("b.pdf", "/in/b.pdf"), milliseconds(100));
  const notice n = notices.arrive(failed("c.pdf", reason), milliseconds(200));
  EXPECT_EQ(n.title, "3 documents arrived, 2 failed");
  EXPECT_EQ(n.body, "The last: c.pdf. From bob (192.168.1.23) on Office Laser. " + reason);
  EXPECT_TRUE(n.failed);
  // A new burst starts without the old one's failures.
  EXPECT_FALSE(notices.arrive(kept("d.pdf", "/in/d.pdf"), milliseconds(60000)).failed);
}

TEST(ArrivalNotices, AnArrivalIsReadFromTheDeliveredRecords) {
  model::printer keeping;
  keeping.setDisplayName(
      "\xEE\x80\x8C"
      "Send To Dropbox");
  keeping.setDirectory(wide_string::from_narrow("/home/me/Dropbox/Quorvane"));
  model::printer opening;
  opening.setDisplayName("Open On My PC");
  opening.setAction(model::action_open);
  model::job job;
  job.setName(wide_string::from_narrow("report.pdf"));
  job.setUser(wide_string::from_narrow("alice"));
  job.setDeviceAddress("192.168.1.23");
  job.setFilename(wide_string::from_narrow("/home/me/Dropbox/Quorvane/report.pdf"));

  arrival a = arrival_of(keeping, job, 0);
  EXPECT_EQ(a.document, "report.pdf");
  EXPECT_EQ(a.user, "alice");
  EXPECT_EQ(a.device, "192.168.1.23") << "the address where the device has no name";
  EXPECT_EQ(a.printer, "Send To Dropbox") << "without the hidden mark";
  EXPECT_EQ(a.file, "/home/me/Dropbox/Quorvane/report.pdf");
  EXPECT_EQ(a.reason, "");

  job.setDeviceID(wide_string::from_narrow("Pixel 7"));
  EXPECT_EQ(arrival_of(keeping, job, 0).device, "Pixel 7");
  EXPECT_EQ(arrival_of(opening, job, 0).file, "") << "an opened document is not kept";

  job.setDeliveryFailure(static_cast<int32_t>(delivery_failure::folder_not_writable));
  a = arrival_of(keeping, job, 13);
  EXPECT_EQ(a.file, "");
  EXPECT_EQ(a.reason, reason_sentence(delivery_failure::folder_not_writable));
}

}  // namespace
}  // namespace quorvane
