#include <gtest/gtest.h>

#include "print_service/cups_printers.h"

namespace quorvane::print_service {
namespace {

// Printers libcups discovered on the network are no queues of the scheduler and are not offered.
TEST(CupsPrinters, OnlyTheSchedulersQueuesAreOffered) {
  struct type_case {
    const char* name;
    const char* type;  // "printer-type", null: none given
    bool want;
  } cases[] = {
      // Queues
      {"a plain queue", "0", true},
      {"a colour duplex queue", "24", true},  // CUPS_PRINTER_COLOR | CUPS_PRINTER_DUPLEX
      {"a queue that gives no type", nullptr, true},
      // Discovered
      {"a discovered printer", "16777216", false},         // CUPS_PRINTER_DISCOVERED
      {"a discovered colour printer", "16777224", false},  // ... | CUPS_PRINTER_COLOR
  };
  for (const type_case& c : cases) {
    cups_dest_t dest{};
    dest.name = const_cast<char*>("q");
    if (c.type) dest.num_options = cupsAddOption("printer-type", c.type, dest.num_options, &dest.options);
    const bool got = is_scheduler_queue(dest);
    cupsFreeOptions(dest.num_options, dest.options);
    EXPECT_EQ(got, c.want) << c.name << ": got " << got << ", want " << c.want;
  }
}

// The mapping from a destination as libcups returns it; a test against a real cupsd is in the
// integration tests when the CUPS test environment is available.
TEST(CupsPrinters, DestinationOptionsBecomeThePrinter) {
  cups_dest_t dest{};
  dest.name = const_cast<char*>("office_laser");
  dest.num_options = cupsAddOption("printer-info", "Office Laser", dest.num_options, &dest.options);
  dest.num_options = cupsAddOption("printer-location", "Room 4", dest.num_options, &dest.options);
  dest.num_options =
      cupsAddOption("printer-make-and-model", "Acme  Laser 5000 Series", dest.num_options, &dest.options);
  dest.num_options = cupsAddOption("printer-state", "4", dest.num_options, &dest.options);
  dest.num_options = cupsAddOption("printer-type", std::to_string(CUPS_PRINTER_COLOR).c_str(),
                                   dest.num_options, &dest.options);
  cups_queue queue = queue_from_dest(dest);
  cupsFreeOptions(dest.num_options, dest.options);
  queue.formats = {"application/pdf", "image/jpeg"};
  queue.media = {{"iso_a4_210x297mm", 21000, 29700, 318, 423, 318, 423},
                 {"na_letter_8.5x11in", 21590, 27940, 0, 0, 0, 0}};

  const Json::Value p = printer_from_queue(queue, "0f3c");
  EXPECT_EQ(p["uuid"].asString(), "0f3c");
  EXPECT_EQ(p["name"].asString(), "office_laser");
  EXPECT_EQ(p["displayName"].asString(), "Office Laser");
  EXPECT_EQ(p["location"].asString(), "Room 4");
  EXPECT_EQ(p["make"].asString(), "Acme");
  EXPECT_EQ(p["model"].asString(), "Laser 5000 Series");
  EXPECT_EQ(p["state"].asInt(), 4);
  EXPECT_EQ(p["action"].asInt(), 2);
  EXPECT_TRUE(p["autoCreated"].asBool());
  EXPECT_TRUE(p["enabled"].asBool());
  EXPECT_TRUE(p["exists"].asBool());
  EXPECT_EQ(p["color"].asInt(), 9) << "colour offered and on";
  EXPECT_EQ(p["duplex"].asInt(), 0) << "a queue without duplex does not offer it";
  ASSERT_EQ(p["formats"].size(), 2u);
  EXPECT_EQ(p["formats"][1].asString(), "image/jpeg");
  ASSERT_EQ(p["media"].size(), 2u);
  EXPECT_EQ(p["media"][0]["name"].asString(), "iso_a4_210x297mm");
  EXPECT_EQ(p["media"][0]["displayName"].asString(), "A4");
  EXPECT_EQ(p["media"][0]["width"].asInt(), 21000);
  EXPECT_EQ(p["media"][0]["height"].asInt(), 29700);
  EXPECT_EQ(p["media"][0]["margins"][0]["top"].asInt(), 423);
  EXPECT_EQ(p["media"][1]["type"].asInt(), 1);
}

TEST(CupsPrinters, QueueWithoutInfoIsShownByItsName) {
  cups_queue queue;
  queue.name = "lab";
  queue.make_and_model = "Solo";
  const Json::Value p = printer_from_queue(queue, "u");
  EXPECT_EQ(p["displayName"].asString(), "lab");
  EXPECT_EQ(p["make"].asString(), "Solo");
  EXPECT_EQ(p["model"].asString(), "");
  EXPECT_FALSE(p.isMember("formats"));
  EXPECT_FALSE(p.isMember("media"));
}

}  // namespace
}  // namespace quorvane::print_service
