#include "ui/preferences/network.h"

#include <gtest/gtest.h>

#include "database/object.h"
#include "model/tests/memory_keyring.h"
#include "ui/base/preference_values.h"
#include "ui/http/proxy_resolution.h"
#include "ui/preferences/tests/preferences_test_support.h"

namespace quorvane {
namespace {

using testing_support::fresh_preferences;
using testing_support::stored_proxy_count;

TEST(PortCheck, OnlyAnIntegerFromOneTo65535Passes) {
  const struct {
    const char* text;
    port_check want;
  } cases[] = {
      // accepted
      {"80", port_check::ok},
      {"1", port_check::ok},
      {"65535", port_check::ok},
      {" 8080 ", port_check::ok},
      // not an integer
      {"", port_check::not_integer},
      {"abc", port_check::not_integer},
      {"1.5", port_check::not_integer},
      {"80a", port_check::not_integer},
      {"99999999999", port_check::not_integer},
      // out of range
      {"0", port_check::out_of_range},
      {"65536", port_check::out_of_range},
      {"-1", port_check::out_of_range},
  };
  for (const auto& c : cases) EXPECT_EQ(check_port_text(QString::fromLatin1(c.text)), c.want) << c.text;
  EXPECT_EQ(port_check_message(port_check::not_integer), QStringLiteral("Enter an integer."));
  EXPECT_EQ(port_check_message(port_check::out_of_range),
            QStringLiteral("Enter an integer between 1 and 65535."));
  EXPECT_TRUE(port_check_message(port_check::ok).isEmpty());
}

TEST(PortCheck, ThePortValueIsTheLeadingNumber) {
  const struct {
    const char* text;
    int32_t want;
  } cases[] = {
      {"8080", 8080}, {"12ab", 12}, {"ab", 0}, {"", 0}, {" -5", -5}, {"1.5", 1}, {"99999999999", 2147483647}};
  for (const auto& c : cases) EXPECT_EQ(port_text_value(QString::fromLatin1(c.text)), c.want) << c.text;
}

class NetworkPreferences : public ::testing::Test {
 protected:
  void SetUp() override { fresh_preferences(); }

  // A stored record configured by hand.
  static network::proxy_ptr store_manual_record() {
    auto record = make_counted<network::proxy>(uri(network::vendor_endpoint));
    record->setHost(wide_string::from_narrow("manual.example"));
    record->setPort(3128);
    record->setUser(wide_string::from_narrow("ann"));
    EXPECT_TRUE(record->save());
    write_preference(configure_proxy_manually_preference, 1);
    return record;
  }
};

TEST_F(NetworkPreferences, ManualValuesAreStoredOnCloseAsEdited) {
  store_manual_record();
  network_preferences values(stored_proxy());
  ASSERT_TRUE(values.manual());
  EXPECT_EQ(values.host(), QStringLiteral("manual.example"));
  EXPECT_EQ(values.port(), 3128);
  values.set_host(QStringLiteral("edited.example"));
  values.set_port_text(QStringLiteral("8080"));
  values.set_password(QStringLiteral("pw"));
  ASSERT_TRUE(values.store());
  EXPECT_EQ(stored_proxy_count(), 1) << "the row is replaced, not added";
  const network::proxy_ptr stored = stored_proxy();
  EXPECT_EQ(stored->host().text(), u"edited.example");
  EXPECT_EQ(stored->port(), 8080);
  EXPECT_EQ(stored->user().text(), u"ann");
  EXPECT_EQ(stored->password().text(), u"pw");
  EXPECT_EQ(read_preference(configure_proxy_manually_preference), 1);
}

TEST_F(NetworkPreferences, ClearingManualDeletesTheRowAndClosingStoresANewOne) {
  store_manual_record();
  network_preferences values(stored_proxy());
  EXPECT_TRUE(values.set_manual(false, [] { return stored_proxy(); })) << "the system is to be asked";
  EXPECT_EQ(stored_proxy_count(), 0) << "the stored row is deleted at the click";
  EXPECT_EQ(read_preference(configure_proxy_manually_preference), 0);
  EXPECT_TRUE(values.host().isEmpty()) << "the fresh record's values are shown";
  EXPECT_EQ(values.port(), 80);

  // The system's answer arrives, then the dialog closes.
  auto detected = make_counted<network::proxy>(uri(network::vendor_endpoint));
  detected->setHost(wide_string::from_narrow("system.example"));
  detected->setPort(8080);
  values.take_record(detected);
  ASSERT_TRUE(values.store());
  EXPECT_EQ(stored_proxy_count(), 1);
  EXPECT_EQ(stored_proxy()->host().text(), u"system.example");
  EXPECT_EQ(stored_proxy()->port(), 8080);
}

TEST_F(NetworkPreferences, ThePasswordFieldTellsWhereThePasswordIsKept) {
  store_manual_record();
  EXPECT_EQ(network_preferences(stored_proxy()).stored_password_place(), password_place::not_stored);
  {
    network_preferences values(stored_proxy());
    values.set_password(QStringLiteral("pw"));
    ASSERT_TRUE(values.store());
  }
  EXPECT_EQ(network_preferences(stored_proxy()).stored_password_place(), password_place::owner_only_database)
      << "without a keyring";
  // Once a keyring answers, the stored password moves there as the record is read.
  model::testing_support::memory_keyring keyring;
  model::testing_support::keyring_in_use in_use(&keyring);
  network_preferences values(stored_proxy());
  EXPECT_EQ(values.stored_password_place(), password_place::keyring);
  EXPECT_EQ(values.password(), QStringLiteral("pw"));
  EXPECT_EQ(keyring.kept.size(), 1u);
  // Back to the system's settings: the password leaves the keyring with the row.
  values.set_manual(false, [] { return stored_proxy(); });
  EXPECT_TRUE(keyring.kept.empty());
}

TEST_F(NetworkPreferences, AnInvalidPortIsNeverStored) {
  store_manual_record();
  network_preferences values(stored_proxy());
  values.set_port_text(QStringLiteral("70000"));
  EXPECT_FALSE(values.store());
  EXPECT_EQ(stored_proxy()->port(), 3128) << "70000 would have been cut to 4464";
}

TEST_F(NetworkPreferences, ValuesAreReadAsTheyWereStored) {
  EXPECT_EQ(read_preference(configure_proxy_manually_preference), 0) << "default when absent";
  EXPECT_EQ(read_preference(start_minimized_preference), 0);
  EXPECT_EQ(read_preference(setup_printers_preference), 1);
  write_preference(start_minimized_preference, 1);
  EXPECT_EQ(QSettings(QStringLiteral("Tessaly Software"), QStringLiteral("Quorvane"))
                .value(QStringLiteral("Preferences/StartMinimized"))
                .toInt(),
            1);
  EXPECT_EQ(read_preference(start_minimized_preference), 1);
}

}  // namespace
}  // namespace quorvane
