// The "Phones and Tablets" window offscreen: which printers it shows, the addresses, the QR code read back
// with zbarimg, and the self-check's lines from recorded inputs.
#include "ui/phones/phones_dlg.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "model/phone_names.h"
#include "ui/phones/qr_code.h"
#include "ui/phones/self_check_inputs.h"

namespace quorvane {
namespace {

model::printer_ptr printer(const std::string& uuid, const std::string& display_name, bool enabled) {
  model::printer_ptr p(new model::printer());
  Json::Value json(Json::objectValue);
  json["uuid"] = uuid;
  json["name"] = "p" + uuid.substr(0, 4);
  json["displayName"] = display_name;
  json["enabled"] = enabled;
  p->readJSON(json);
  return p;
}

// What zbarimg reads from `image`: the QR code's text, "" when it reads none (or is not installed).
std::string decoded(const QImage& image, std::string& why) {
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("code.png"));
  if (!image.save(file)) {
    why = "the image could not be saved";
    return {};
  }
  const phones::program_run run = phones::run_program(
      QStringLiteral("zbarimg"), {QStringLiteral("--raw"), QStringLiteral("-q"), file}, 10000);
  if (!run.started) why = "zbarimg is not installed (zbar-tools)";
  std::string text = run.output;
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

TEST(PhonesAndTablets, HostsAndPrintersAPhoneUses) {
  const std::vector<phones::local_address> addresses = {
      {"lo", "127.0.0.1", phones::address_kind::loopback},
      {"wlan0", "fe80::1", phones::address_kind::link_local},
      {"wlan0", "fd00::20", phones::address_kind::reachable},
      {"wlan0", "192.168.1.20", phones::address_kind::reachable},
      {"eth0", "192.168.1.20", phones::address_kind::reachable},
  };
  EXPECT_EQ(phones::phone_hosts(addresses, "desk"), (std::vector<std::string>{"192.168.1.20", "fd00::20"}));
  EXPECT_EQ(phones::phone_hosts({addresses[0], addresses[1]}, "desk"),
            std::vector<std::string>{"desk.local"});

  const std::vector<phones::phone_printer> shown = phones::phone_printers(
      {printer("5e1f0a52", "\xEE\x80\x8CInbox @ desk", true), printer("b3c4d5e6", "Off", false), nullptr},
      {"192.168.1.20", "fd00::20"}, 8631);
  ASSERT_EQ(shown.size(), 1u) << "the switched-off printer is not offered to phones";
  EXPECT_EQ(shown[0].name, "Inbox @ desk");
  EXPECT_EQ(shown[0].ipp_uris, (std::vector<std::string>{"ipp://192.168.1.20:8631/ipp/print/_5e1f0a52",
                                                         "ipp://[fd00::20]:8631/ipp/print/_5e1f0a52"}));
  EXPECT_EQ(shown[0].ipps_uris[1], "ipps://[fd00::20]:8631/ipp/print/_5e1f0a52");
  EXPECT_EQ(shown[0].page_url, "http://192.168.1.20:8631/printers/_5e1f0a52");
}

TEST(PhonesAndTablets, TheQrCodeReadsBackAsThePage) {
  const std::string long_url =
      "http://[fd00:1234:5678:9abc:def0:1234:5678:9abc]:65535/printers/_" + std::string(36, 'a');
  for (const std::string& text : {std::string("http://192.168.1.20:8631/printers/_5e1f0a52"), long_url}) {
    const QImage image = phones::qr_image(text, 3);
    ASSERT_FALSE(image.isNull()) << text;
    std::string why;
    const std::string got = decoded(image, why);
    if (!why.empty()) GTEST_SKIP() << why;
    EXPECT_EQ(got, text);
  }
  EXPECT_TRUE(phones::qr_image("", 3).isNull());
}

TEST(PhonesAndTablets, TheWindowShowsEnabledPrintersTheirCodeAndTheChecks) {
  CPhonesDlg::source from;
  from.printers = [] {
    return std::vector<model::printer_ptr>{printer("5e1f0a52", "\xEE\x80\x8COpen On My PC @ desk", true),
                                           printer("b3c4d5e6", "Switched Off", false)};
  };
  from.reach = [] { return ipp_reach{8631, false, true}; };
  int gathered = 0;
  std::vector<phones::expected_printer> asked;
  auto gather = [&](const std::vector<phones::expected_printer>& printers, const ipp_reach& reach) {
    ++gathered;
    asked = printers;
    phones::check_inputs in;
    in.ipp_port = reach.port;
    in.dnssd = reach.dnssd;
    in.browse = {true, 1, "", "Failed to create client object: Daemon not running\n"};
    in.addresses = {{"wlan0", "192.168.1.20", phones::address_kind::reachable}};
    return in;
  };
  CPhonesDlg window(from, nullptr, gather);
  window.show();
  QSignalSpy checked(&window, &CPhonesDlg::checked);
  // The check started with the window; its end comes through the event loop.
  EXPECT_TRUE(window.checking());
  ASSERT_TRUE(checked.wait(10000));
  EXPECT_EQ(gathered, 1);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].name, "Open On My PC @ desk");
  EXPECT_EQ(asked[0].path, "_5e1f0a52");

  // The one enabled printer, with a code that opens its page on this computer's first address.
  ASSERT_EQ(window.printers().size(), 1u);
  QLabel* code = window.qr_label(0);
  ASSERT_NE(code, nullptr);
  std::string why;
  const std::string got = decoded(code->pixmap().toImage(), why);
  if (why.empty()) {
    EXPECT_EQ(got, window.printers()[0].page_url);
  }
  EXPECT_NE(window.printers()[0].page_url.find(":8631/printers/_5e1f0a52"), std::string::npos);

  // The daemon's sentence is shown with its command; a passed check shows no sentence.
  const auto* avahi = window.findChild<QLabel*>(QStringLiteral("check0"));
  ASSERT_NE(avahi, nullptr);
  EXPECT_TRUE(avahi->text().contains(QStringLiteral("sudo systemctl enable --now avahi-daemon")))
      << avahi->text().toStdString();
  ASSERT_EQ(window.lines().size(), 6u);
  EXPECT_EQ(window.lines()[5].result.state, phones::check_state::passed);

  // "Check Again" reads everything again.
  auto* again = window.findChild<QPushButton*>(QStringLiteral("checkAgain"));
  ASSERT_NE(again, nullptr);
  again->click();
  ASSERT_TRUE(checked.wait(10000));
  EXPECT_EQ(gathered, 2);
}

}  // namespace
}  // namespace quorvane
