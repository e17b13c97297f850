#include "ui/http/proxy_resolution.h"

#include <stdlib.h>

#include <QObject>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "database/object.h"
#include "test_support/event_bound.h"
#include "ui/http/tests/http_test_support.h"

namespace quorvane {
namespace {

// Each test starts without stored rows, preferences or proxy variables.
class ProxyResolution : public testing_support::console_home {};

// A stored record for the console's endpoint with the given host and port, and credentials.
void store_proxy(const char* host, uint16_t port) {
  auto record = make_counted<network::proxy>(uri(network::vendor_endpoint));
  record->setHost(wide_string::from_narrow(host));
  record->setPort(port);
  record->setUser(u"alice");
  record->setPassword(u"secret");
  ASSERT_TRUE(record->save());
}

// A system that answers "http://late.example:1" only once `release` is set.
system_proxy_query answer_once_released(std::shared_ptr<std::atomic<bool>> release) {
  return [release](const std::string&) {
    while (!release->load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return std::vector<std::string>{"http://late.example:1"};
  };
}

// --- What libproxy's environment source answers for the endpoint -------------------------------------------

TEST_F(ProxyResolution, SystemProxyFromTheEnvironmentGivesHostAndPort) {
  const struct {
    const char* name;
    const char* https_proxy;
    const char* http_proxy;
    const char* no_proxy;
    const char* want_host;  // empty: the record keeps its defaults (direct connection)
    int want_port;
  } cases[] = {
      {"url with port", "http://proxy.example:8080", nullptr, nullptr, "proxy.example", 8080},
      {"host:port without scheme", "proxy.example:8080", nullptr, nullptr, "proxy.example", 8080},
      {"host without a port", "http://proxy.example", nullptr, nullptr, "proxy.example", 80},
      {"http_proxy serves https too", nullptr, "http://fallback.example:3128", nullptr, "fallback.example",
       3128},
      {"direct: nothing set", nullptr, nullptr, nullptr, "", 80},
      {"direct: endpoint in no_proxy", "http://proxy.example:8080", nullptr, "updates.tessaly.example", "",
       80},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* name : {"https_proxy", "http_proxy", "no_proxy"}) unsetenv(name);
    if (c.https_proxy) setenv("https_proxy", c.https_proxy, 1);
    if (c.http_proxy) setenv("http_proxy", c.http_proxy, 1);
    if (c.no_proxy) setenv("no_proxy", c.no_proxy, 1);

    smart_ptr<network::proxy> record = resolve_proxy();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->host().narrow(), c.want_host)
        << "got " << record->host().narrow() << ", want " << c.want_host;
    EXPECT_EQ(record->port(), c.want_port);
    EXPECT_EQ(record->uri().text(), network::vendor_endpoint);
    EXPECT_EQ(record->oid(), 0) << "nothing is stored";
  }
}

TEST_F(ProxyResolution, DirectConnectionKeepsTheStoredRecord) {
  store_proxy("stored.example", 3128);
  smart_ptr<network::proxy> record = resolve_proxy();
  EXPECT_NE(record->oid(), 0) << "the stored row is the one used";
  EXPECT_EQ(record->host().narrow(), "stored.example");
  EXPECT_EQ(record->port(), 3128);
  EXPECT_EQ(record->user().narrow(), "alice");
}

TEST_F(ProxyResolution, SystemProxyReplacesTheStoredAddressAndKeepsTheCredentials) {
  store_proxy("stored.example", 3128);
  setenv("https_proxy", "http://system.example:8080", 1);
  smart_ptr<network::proxy> record = resolve_proxy();
  EXPECT_NE(record->oid(), 0);
  EXPECT_EQ(record->host().narrow(), "system.example");
  EXPECT_EQ(record->port(), 8080);
  EXPECT_EQ(record->user().narrow(), "alice");
  EXPECT_EQ(record->password().narrow(), "secret");
}

TEST_F(ProxyResolution, ManualConfigurationIgnoresTheSystem) {
  store_proxy("stored.example", 3128);
  set_manual(true);
  setenv("https_proxy", "http://system.example:8080", 1);
  std::atomic<int> asked{0};
  smart_ptr<network::proxy> record = resolve_proxy(system_proxy_wait, [&asked](const std::string&) {
    ++asked;
    return std::vector<std::string>{"http://system.example:8080"};
  });
  EXPECT_EQ(record->host().narrow(), "stored.example");
  EXPECT_EQ(record->port(), 3128);
  EXPECT_EQ(asked.load(), 0) << "the system is not asked";
}

TEST_F(ProxyResolution, StoredRowWithoutHostIsNotUsed) {
  ASSERT_TRUE(make_counted<network::proxy>(uri(network::vendor_endpoint))->save());
  set_manual(true);
  smart_ptr<network::proxy> record = resolve_proxy();
  EXPECT_EQ(record->oid(), 0) << "a new record instead of the row without a host";
}

// --- Bounded waits
// -------------------------------------------------------------------------------------------

TEST_F(ProxyResolution, SystemThatDoesNotAnswerInTimeLeavesTheStoredRecord) {
  store_proxy("stored.example", 3128);
  auto release = std::make_shared<std::atomic<bool>>(false);
  const system_proxy_query slow = answer_once_released(release);
  smart_ptr<network::proxy> record = resolve_proxy(std::chrono::milliseconds(50), slow);
  release->store(true);
  EXPECT_EQ(record->host().narrow(), "stored.example");
  EXPECT_EQ(record->port(), 3128);
}

TEST_F(ProxyResolution, AsynchronousResolutionDeliversTheSystemAnswerOnTheLoop) {
  setenv("https_proxy", "http://proxy.example:8080", 1);
  QObject context;
  smart_ptr<network::proxy> got;
  int calls = 0;
  resolve_proxy_async(&context, [&](smart_ptr<network::proxy> record) {
    got = std::move(record);
    ++calls;
  });
  EXPECT_EQ(calls, 0) << "never delivered from within the call";
  ASSERT_TRUE(QTest::qWaitFor([&] { return calls > 0; }, testing_support::event_bound_ms));
  EXPECT_EQ(got->host().narrow(), "proxy.example");
  EXPECT_EQ(got->port(), 8080);
  QTest::qWait(50);
  EXPECT_EQ(calls, 1);
}

TEST_F(ProxyResolution, AsynchronousResolutionGivesUpAfterItsLimit) {
  store_proxy("stored.example", 3128);
  auto release = std::make_shared<std::atomic<bool>>(false);
  const system_proxy_query slow = answer_once_released(release);
  QObject context;
  smart_ptr<network::proxy> got;
  int calls = 0;
  resolve_proxy_async(
      &context,
      [&](smart_ptr<network::proxy> record) {
        got = std::move(record);
        ++calls;
      },
      std::chrono::milliseconds(50), slow);
  ASSERT_TRUE(QTest::qWaitFor([&] { return calls > 0; }, testing_support::event_bound_ms));
  EXPECT_EQ(got->host().narrow(), "stored.example");
  release->store(true);
  QTest::qWait(50);
  EXPECT_EQ(calls, 1) << "the late answer is dropped";
}

TEST_F(ProxyResolution, AsynchronousResolutionCallsNothingOnceItsContextIsGone) {
  auto release = std::make_shared<std::atomic<bool>>(false);
  const system_proxy_query slow = answer_once_released(release);
  int calls = 0;
  {
    QObject context;
    resolve_proxy_async(
        &context, [&](smart_ptr<network::proxy>) { ++calls; }, std::chrono::milliseconds(5000), slow);
  }
  release->store(true);
  QTest::qWait(100);
  EXPECT_EQ(calls, 0);
}

// --- Reading libproxy's answers
// --------------------------------------------------------------------------------

TEST(ApplySystemProxies, FirstUsableAnswerDecides) {
  const struct {
    const char* name;
    std::vector<std::string> answers;
    bool want_set;
    const char* want_host;
    int want_port;
    const char* want_user;
  } cases[] = {
      {"http with port", {"http://proxy.example:8080"}, true, "proxy.example", 8080, ""},
      {"no scheme", {"proxy.example:3128"}, true, "proxy.example", 3128, ""},
      {"no port", {"http://proxy.example"}, true, "proxy.example", 80, ""},
      {"direct first", {"direct://", "http://proxy.example:8080"}, false, "", 80, ""},
      {"socks passed over",
       {"socks5://s.example:1080", "http://proxy.example:8080"},
       true,
       "proxy.example",
       8080,
       ""},
      {"only socks", {"socks://s.example:1080"}, false, "", 80, ""},
      {"empty list", {}, false, "", 80, ""},
      {"credentials in the text", {"http://bob:pw@proxy.example:8080"}, true, "proxy.example", 8080, "bob"},
      {"IPv6 address", {"http://[2001:db8::1]:3128"}, true, "2001:db8::1", 3128, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    network::proxy record{uri(network::vendor_endpoint)};
    EXPECT_EQ(apply_system_proxies(record, c.answers), c.want_set);
    EXPECT_EQ(record.host().narrow(), c.want_host)
        << "got " << record.host().narrow() << ", want " << c.want_host;
    EXPECT_EQ(record.port(), c.want_port);
    EXPECT_EQ(record.user().narrow(), c.want_user);
  }
}

TEST(ApplySystemProxies, CredentialsInTheTextDoNotReplaceStoredOnes) {
  network::proxy record{uri(network::vendor_endpoint)};
  record.setUser(u"alice");
  record.setPassword(u"secret");
  ASSERT_TRUE(apply_system_proxies(record, {"http://bob:pw@proxy.example:8080"}));
  EXPECT_EQ(record.user().narrow(), "alice");
  EXPECT_EQ(record.password().narrow(), "secret");
}

}  // namespace
}  // namespace quorvane
