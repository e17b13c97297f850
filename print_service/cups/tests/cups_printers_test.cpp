#include <gtest/gtest.h>

#include "print_service/cups/cups_printers.h"

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
  queue.media = {{.name = "iso_a4_210x297mm",
                  .width = 21000,
                  .length = 29700,
                  .left = 318,
                  .bottom = 423,
                  .right = 318,
                  .top = 423},
                 {.name = "na_letter_8.5x11in", .width = 21590, .length = 27940}};

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

// The whole printer the console receives for a queue, every key and every media key included.
TEST(CupsPrinters, AQueueBecomesThisExactPrinterJson) {
  cups_queue queue;
  queue.name = "photo";
  queue.info = "Photo Printer";
  queue.location = "B\xc3\xbcro 2";
  queue.make_and_model = "Acme Photo 9";
  queue.state = 5;
  queue.type = CUPS_PRINTER_COLOR | CUPS_PRINTER_DUPLEX;
  queue.formats = {"image/jpeg"};
  queue.media = {{.name = "na_index-4x6_4x6in", .width = 10160, .length = 15240},
                 {.name = "acme-label",
                  .width = 5000,
                  .length = 6000,
                  .left = 100,
                  .bottom = 400,
                  .right = 300,
                  .top = 200}};
  Json::Value want;
  ASSERT_TRUE(Json::Reader().parse(R"({
    "uuid": "u-1", "owner": "", "name": "photo", "displayName": "Photo Printer", "location": "B\u00fcro 2",
    "make": "Acme", "model": "Photo 9",
    "color": 9, "landscape": 8, "duplex": 8, "copy": 9,
    "formats": ["image/jpeg"],
    "media": [
      {"name": "na_index-4x6_4x6in", "displayName": "4x6", "klass": 0, "type": 0, "width": 10160,
       "height": 15240, "margins": [{"name": "", "left": 0, "top": 0, "right": 0, "bottom": 0}],
       "enabled": true},
      {"name": "acme-label", "displayName": "acme-label", "klass": 0, "type": 1,
       "width": 5000, "height": 6000,
       "margins": [{"name": "", "left": 100, "top": 200, "right": 300, "bottom": 400}], "enabled": true}],
    "directory": "", "state": 5, "reasons": 0, "action": 2, "actionParam": "photo", "autoCreated": true,
    "enabled": true, "exists": true})",
                                   want));
  const Json::Value got = printer_from_queue(queue, "u-1");
  EXPECT_EQ(got, want) << "got " << got.toStyledString() << "want " << want.toStyledString();
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
