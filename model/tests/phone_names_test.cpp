#include "model/phone_names.h"

#include <string>

#include <gtest/gtest.h>

#include "core/os.h"

namespace quorvane::model {
namespace {

// A text of `count` copies of `piece`.
std::string repeated(const std::string& piece, size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) text += piece;
  return text;
}

TEST(PhoneNames, TheNameAPhoneShows) {
  const std::string words60 = "Brother HL-L2350DW series in the offices on the second floor";  // 60 bytes
  const struct {
    const char* name;
    std::string display, record_name, uuid;
    std::string want;
  } cases[] = {
      // Which name
      {"hidden prefix U+E001 removed", "\xEE\x80\x81Open On My PC @ host", "open", "u",
       "Open On My PC @ host"},
      {"hidden prefix U+F8FF removed", "\xEF\xA3\xBF  Inbox", "inbox", "u", "Inbox"},
      {"U+FF01 is no hidden prefix", "\xEF\xBC\x81Inbox", "inbox", "u", "\xEF\xBC\x81Inbox"},
      {"no display name: the record's name", "", "office", "u", "office"},
      {"only the prefix: the record's name", "\xEE\x80\x80 ", "office", "u", "office"},
      {"nothing else: the uuid", "", "", "5e1f0a52", "5e1f0a52"},
      // Long names
      {"63 bytes stay whole", repeated("a", 63), "", "u", repeated("a", 63)},
      {"cut before the word that does not fit", words60 + " near the kitchen", "", "u", words60},
      {"a word ending at byte 63 stays", words60 + " at the door", "", "u", words60 + " at"},
      {"cut after a hyphen, which then goes", repeated("x", 40) + " printer @ my-laptop-with-a-long-name", "",
       "u", repeated("x", 40) + " printer @ my-laptop"},
      {"trailing ' @' goes", repeated("x", 55) + " prn @ host.example", "", "u", repeated("x", 55) + " prn"},
      {"no break: cut at a character", repeated("\xE6\x96\x87", 22), "", "u", repeated("\xE6\x96\x87", 21)},
      {"two-byte letters never halved", repeated("\xC3\xA9", 32), "", "u", repeated("\xC3\xA9", 31)},
      {"a break in the first half is not used", "Printer " + repeated("z", 70), "", "u",
       "Printer " + repeated("z", 55)},
  };
  for (const auto& c : cases) {
    const std::string got = phone_name(c.display, c.record_name, c.uuid);
    EXPECT_EQ(got, c.want) << c.name << ": got '" << got << "', want '" << c.want << "'";
  }
}

// Whatever the length and wherever the multibyte characters fall, the name fits, stays valid UTF-8 and is the
// beginning of the display name.
TEST(PhoneNames, EveryCutFitsAndStaysWholeCharacters) {
  const std::string pattern = "Drucker f\xC3\xBCr B\xC3\xBCro \xE2\x80\x93 \xF0\x9F\x96\xA8 Etage-2, Raum ";
  for (size_t length = 1; length < 140; ++length) {
    std::string display;
    while (display.size() < length) display += pattern;
    display = utf8_prefix(display, length);
    const std::string got = phone_name(display, "n", "u");
    EXPECT_LE(got.size(), dnssd_name_limit) << "length " << length << ": got " << got.size() << " bytes";
    EXPECT_FALSE(from_utf8(got).empty()) << "length " << length << ": '" << got << "' is not whole UTF-8";
    EXPECT_EQ(display.compare(0, got.size(), got), 0) << "length " << length << ": got '" << got << "'";
  }
}

TEST(PhoneNames, TheDescriptionIsTheWholeNameUpToPrinterInfosLimit) {
  const std::string long_name = repeated("Drucker f\xC3\xBCr ", 12);  // 156 bytes
  const struct {
    const char* name;
    std::string display, want;
  } cases[] = {
      {"longer than a DNS-SD name, not shortened", "\xEE\x80\x81" + long_name.substr(0, 100),
       long_name.substr(0, 100)},
      // 127 would cut the second byte of the 10th "ü" in two.
      {"cut at 127 bytes, not inside a character", long_name, long_name.substr(0, 126)},
      {"no display name: the record's name", "", "office"},
  };
  for (const auto& c : cases) {
    const std::string got = phone_description(c.display, "office", "u");
    EXPECT_EQ(got, c.want) << c.name << ": got '" << got << "', want '" << c.want << "'";
  }
}

TEST(PhoneNames, AddressesOfAPrinter) {
  const struct {
    const char* name;
    std::string got, want;
  } cases[] = {
      {"letter uuid as it is", printer_path("b3c4d5e6-0000"), "b3c4d5e6-0000"},
      {"digit uuid gets '_'", printer_path("5e1f0a52-8c44"), "_5e1f0a52-8c44"},
      {"ipp on IPv4", printer_ipp_uri("ipp", "192.168.1.20", 8631, "5e1f"),
       "ipp://192.168.1.20:8631/ipp/print/_5e1f"},
      {"ipps on IPv6", printer_ipp_uri("ipps", "fd00::20", 8631, "abc"),
       "ipps://[fd00::20]:8631/ipp/print/abc"},
      {"page on a host name", printer_page_url("desk.local", 631, "abc"),
       "http://desk.local:631/printers/abc"},
      {"page on IPv6 already bracketed", printer_page_url("[fd00::20]", 8631, "1a"),
       "http://[fd00::20]:8631/printers/_1a"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.name;
}

}  // namespace
}  // namespace quorvane::model
