#include <string>

#include <gtest/gtest.h>

#include "core/json_text.h"
#include "database/object.h"
#include "model/json_p.h"
#include "model/proxy.h"
#include "model/tests/memory_keyring.h"
#include "model/tests/model_fixture.h"

namespace quorvane::network {
namespace {

using model::testing_support::keyring_in_use;
using model::testing_support::log_capture;
using model::testing_support::memory_keyring;
using model::testing_support::Store;

proxy_ptr first_proxy_for(const std::string& target) {
  return database::open_cursor<proxy>("uri", target).current();
}

TEST_F(Store, NewProxySavedWithoutEditsStoresTheTargetAndDefaults) {
  proxy_ptr p = make_counted<proxy>(uri(vendor_endpoint));
  ASSERT_FALSE(p->dirty());
  ASSERT_TRUE(p->save()) << "a proxy without a row is inserted even when clean";
  EXPECT_EQ(p->oid(), 1);
  EXPECT_EQ(query_text("SELECT uri FROM proxy;"), vendor_endpoint);
  Json::Value stored;
  ASSERT_TRUE(quorvane::parse_json(query_text("SELECT json FROM proxy;"), stored));
  EXPECT_EQ(stored["port"].asInt(), 80);
  EXPECT_EQ(stored["uri"].asString(), vendor_endpoint);
  for (const char* key : {"host", "bypass", "user", "password"}) EXPECT_EQ(stored[key].asString(), "") << key;
}

TEST_F(Store, TargetColumnWritesTheDefaultPort) {
  const struct {
    const char* uri;
    const char* want;
  } cases[] = {
      {"https://updates.example", "https://updates.example:443"},
      {"http://updates.example/path?q=1", "http://updates.example:80"},
      {"https://updates.example:8443/", "https://updates.example:8443"},
  };
  for (const auto& c : cases) {
    proxy p{uri(c.uri)};
    EXPECT_EQ(p.target(), c.want) << "got " << p.target() << ", want " << c.want;
  }
}

TEST_F(Store, CredentialsThatNeedQuotingRoundTrip) {
  const std::string password = "pa'ss%_w\xc3\xb6rd \xf0\x9f\x94\x91 ''";
  const std::string user = "d\xc3\xa9j\xc3\xa0 'vu'";
  {
    proxy_ptr p = make_counted<proxy>(uri(vendor_endpoint));
    p->setHost(wide_string::from_narrow("proxy.example"));
    p->setPort(3128);
    p->setUser(wide_string::from_narrow(user));
    p->setPassword(wide_string::from_narrow(password));
    p->setBypass(wide_string::from_narrow("localhost;*.local"));
    log_capture log;
    ASSERT_TRUE(p->save());
    const auto execs = log.messages_starting("exec: INSERT INTO proxy VALUES(NULL,'https://");
    ASSERT_EQ(execs.size(), 1u);
    EXPECT_NE(execs[0].find(R"("user":"d\u00e9j\u00e0 ''vu''")"), std::string::npos)
        << "apostrophes doubled in the SQL text: " << execs[0];
    EXPECT_NE(execs[0].find("\"password\":\"***\""), std::string::npos) << execs[0];
    EXPECT_EQ(execs[0].find("ss%_w"), std::string::npos) << "the password is never logged: " << execs[0];
  }
  proxy_ptr back = first_proxy_for(vendor_endpoint);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->uuid(), vendor_endpoint) << "the uri column lands in uuid";
  EXPECT_EQ(back->uri().text(), vendor_endpoint);
  EXPECT_EQ(back->host().narrow(), "proxy.example");
  EXPECT_EQ(back->port(), 3128);
  EXPECT_EQ(back->user().narrow(), user);
  EXPECT_EQ(back->password().narrow(), password);
  EXPECT_EQ(back->bypass().narrow(), "localhost;*.local");
  EXPECT_FALSE(back->dirty());
}

TEST_F(Store, StoredProxyWithoutPortReadsPort80) {
  ASSERT_EQ(database::manager::shared().exec(
                "INSERT INTO proxy "
                "VALUES(NULL,'https://updates.example:443','{\"uri\":\"https://updates.example:443\","
                "\"host\":\"p.example\"}');"),
            0);
  proxy_ptr p = first_proxy_for("https://updates.example:443");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->port(), 80);
  EXPECT_EQ(p->host().narrow(), "p.example");
}

TEST_F(Store, StoredProxyWithUnreadableJsonHasDefaults) {
  ASSERT_EQ(database::manager::shared().exec("INSERT INTO proxy VALUES(4,'https://u.example:443','{oops');"),
            0);
  proxy_ptr p;
  {
    log_capture quiet(log_warning);
    p = first_proxy_for("https://u.example:443");
  }
  ASSERT_TRUE(p);
  EXPECT_EQ(p->oid(), 4);
  EXPECT_EQ(p->uuid(), "https://u.example:443");
  EXPECT_EQ(p->uri().text(), "") << "a default-constructed uri";
  EXPECT_EQ(p->port(), 80);
  EXPECT_TRUE(p->host().empty());
}

// As with jobs and printers, a setter that stores the value the record holds leaves it clean, so a stored
// proxy whose settings are applied again is not written again.
TEST(ProxySetters, MarkDirtyOnlyOnChange) {
  const struct {
    const char* name;
    void (*change)(proxy&);
  } unchanged[] = {
      {"same host", [](proxy& p) { p.setHost(wide_string()); }},
      {"same bypass", [](proxy& p) { p.setBypass(wide_string()); }},
      {"same port", [](proxy& p) { p.setPort(80); }},
      {"same user", [](proxy& p) { p.setUser(wide_string()); }},
      {"same password", [](proxy& p) { p.setPassword(wide_string()); }},
  };
  proxy same{uri(vendor_endpoint)};
  for (const auto& c : unchanged) {
    c.change(same);
    EXPECT_FALSE(same.dirty()) << c.name;
  }
  const struct {
    const char* name;
    void (*change)(proxy&);
  } changed[] = {
      {"host", [](proxy& p) { p.setHost(wide_string::from_narrow("proxy.example")); }},
      {"bypass", [](proxy& p) { p.setBypass(wide_string::from_narrow("localhost")); }},
      {"port", [](proxy& p) { p.setPort(3128); }},
      {"user", [](proxy& p) { p.setUser(wide_string::from_narrow("alice")); }},
      {"password", [](proxy& p) { p.setPassword(wide_string::from_narrow("secret")); }},
  };
  for (const auto& c : changed) {
    proxy p{uri(vendor_endpoint)};
    c.change(p);
    EXPECT_TRUE(p.dirty()) << c.name;
  }
}

TEST_F(Store, EditedStoredProxyIsWrittenBackOnReleaseAndRemoved) {
  ASSERT_TRUE(make_counted<proxy>(uri(vendor_endpoint))->save());
  {
    proxy_ptr p = first_proxy_for(vendor_endpoint);
    p->setHost(wide_string::from_narrow("edited.example"));
  }
  proxy_ptr p = first_proxy_for(vendor_endpoint);
  EXPECT_EQ(p->host().narrow(), "edited.example");
  EXPECT_EQ(query_text("SELECT count(*) FROM proxy;"), "1");
  database::remove(*p);
  EXPECT_FALSE(first_proxy_for(vendor_endpoint));
  EXPECT_EQ(p->oid(), 1) << "the record keeps its row id";
}

// ---- the password in the desktop's keyring

// The stored row's JSON.
Json::Value stored_row() {
  smart_ptr<database::statement> rows = database::manager::shared().select("SELECT json FROM proxy;");
  Json::Value stored;
  EXPECT_TRUE(rows->step() && quorvane::parse_json(rows->columnText(0), stored));
  return stored;
}

proxy_ptr saved_proxy(const std::string& user, const std::string& password) {
  proxy_ptr p = make_counted<proxy>(uri(vendor_endpoint));
  p->setHost(wide_string::from_narrow("proxy.example"));
  p->setUser(wide_string::from_narrow(user));
  p->setPassword(wide_string::from_narrow(password));
  EXPECT_TRUE(p->save());
  return p;
}

TEST_F(Store, PasswordGoesToTheKeyringAndTheRowKeepsOnlyAReference) {
  memory_keyring keyring;
  keyring_in_use in_use(&keyring);
  proxy_ptr p = saved_proxy("alice", "s3cret'");
  EXPECT_TRUE(p->passwordInKeyring());
  const Json::Value row = stored_row();
  EXPECT_FALSE(row.isMember("password")) << compact_json(row);
  EXPECT_TRUE(row["passwordInKeyring"].asBool()) << compact_json(row);
  EXPECT_EQ(keyring.kept[p->target() + "|alice"], "s3cret'");
  EXPECT_EQ(query_text("SELECT count(*) FROM proxy WHERE json LIKE '%s3cret%';"), "0");

  proxy_ptr back = first_proxy_for(vendor_endpoint);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->password().narrow(), "s3cret'") << "read back from the keyring";
  EXPECT_FALSE(back->dirty());

  // An emptied password leaves the keyring.
  back->setPassword(wide_string());
  ASSERT_TRUE(back->save());
  EXPECT_TRUE(keyring.kept.empty());
  EXPECT_FALSE(stored_row().isMember("passwordInKeyring"));
}

TEST_F(Store, ANewUserTakesThePasswordsItemInTheKeyring) {
  memory_keyring keyring;
  keyring_in_use in_use(&keyring);
  saved_proxy("erin", "first");
  {
    proxy_ptr back = first_proxy_for(vendor_endpoint);
    back->setUser(wide_string::from_narrow("frank"));
    ASSERT_TRUE(back->save());
  }
  ASSERT_EQ(keyring.kept.size(), 1u) << "the earlier user's item went";
  EXPECT_EQ(keyring.kept.begin()->first, std::string(vendor_endpoint) + "|frank");
  EXPECT_EQ(first_proxy_for(vendor_endpoint)->password().narrow(), "first");
}

TEST_F(Store, PlainTextPasswordStoredEarlierMovesIntoTheKeyring) {
  saved_proxy("bob", "old-plain");
  ASSERT_EQ(stored_row()["password"].asString(), "old-plain") << "without a keyring the row keeps it";
  memory_keyring keyring;
  keyring_in_use in_use(&keyring);
  {
    proxy_ptr back = first_proxy_for(vendor_endpoint);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->password().narrow(), "old-plain");
    EXPECT_TRUE(back->dirty()) << "to be saved again, into the keyring";
  }
  EXPECT_EQ(keyring.kept[std::string(vendor_endpoint) + "|bob"], "old-plain") << "moved when released";
  const Json::Value row = stored_row();
  EXPECT_FALSE(row.isMember("password")) << "the plain text is gone from the row: " << compact_json(row);
  EXPECT_TRUE(row["passwordInKeyring"].asBool());
}

TEST_F(Store, WithoutAnAnsweringKeyringThePasswordStaysInTheRowAndTheLogSaysSo) {
  memory_keyring keyring;
  keyring.answers = false;
  keyring_in_use in_use(&keyring);
  log_capture log;
  proxy_ptr p = saved_proxy("carol", "kept-here");
  const auto lines = log.messages_starting("Unable to keep the proxy password");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("readable by you only"), std::string::npos) << lines[0];
  EXPECT_FALSE(p->passwordInKeyring());
  EXPECT_EQ(stored_row()["password"].asString(), "kept-here");
  EXPECT_EQ(first_proxy_for(vendor_endpoint)->password().narrow(), "kept-here");
}

TEST_F(Store, RowWhosePasswordIsTheKeyringsReadsNoPasswordWhenTheKeyringDoesNotAnswer) {
  memory_keyring keyring;
  {
    keyring_in_use in_use(&keyring);
    saved_proxy("dave", "in-keyring");
  }
  keyring.answers = false;
  for (password_keyring* unavailable :
       {static_cast<password_keyring*>(&keyring), static_cast<password_keyring*>(nullptr)}) {
    keyring_in_use in_use(unavailable);
    log_capture log;
    proxy_ptr back = first_proxy_for(vendor_endpoint);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->password().narrow(), "");
    EXPECT_TRUE(back->passwordInKeyring());
    EXPECT_FALSE(back->dirty()) << "the reference stays for when the keyring answers again";
    EXPECT_EQ(log.messages_starting("Unable to read the proxy password").size(), 1u);
    // Saved with another change meanwhile, the row still refers to the keyring's password.
    back->setPort(8080);
    back->setPassword(wide_string());
    ASSERT_TRUE(back->save());
    EXPECT_TRUE(stored_row()["passwordInKeyring"].asBool()) << compact_json(stored_row());
  }
  EXPECT_EQ(keyring.kept.size(), 1u);
  keyring.answers = true;
  keyring_in_use in_use(&keyring);
  EXPECT_EQ(first_proxy_for(vendor_endpoint)->password().narrow(), "in-keyring") << "once it answers again";
}

}  // namespace
}  // namespace quorvane::network
