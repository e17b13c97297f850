#include "ui/http/http_client.h"

#include <QTest>

#include <optional>

#include <gtest/gtest.h>

#include "database/object.h"
#include "ui/http/tests/http_test_support.h"
#include "ui/http/tests/local_http.h"

namespace quorvane {
namespace {

using testing_support::local_http_proxy;
using testing_support::local_http_server;

// A host name nobody resolves: only a proxy can reach it.
constexpr char made_up_host[] = "feed.quorvane.test";

class HttpClient : public testing_support::console_home {
 protected:
  // Sends GET `url` and waits for its outcome.
  http_result fetch(const QUrl& url) {
    std::optional<http_result> got;
    client_.get(url, [&got](const http_result& r) { got = r; });
    EXPECT_FALSE(got) << "never completed from within get()";
    EXPECT_TRUE(QTest::qWaitFor([&] { return got.has_value(); }, 10000))
        << "no outcome for " << url.toString().toStdString();
    return got.value_or(http_result{});
  }

  // A proxy record for the console's endpoint pointing at `proxy`, stored.
  smart_ptr<network::proxy> proxy_record(const local_http_proxy& proxy) {
    auto record = make_counted<network::proxy>(uri(network::vendor_endpoint));
    record->setHost(u"127.0.0.1");
    record->setPort(proxy.port());
    EXPECT_TRUE(record->save());
    return record;
  }

  // Answers the client's prompts with `user` and `password` (declines when `user` is empty).
  void answer_prompts_with(QString user, QString password) {
    client_.set_credentials_callback(testing_support::answer_prompts_with(user, password, &prompts_));
  }

  http_client client_;
  int prompts_ = 0;
};

QUrl url_at(const QString& host, quint16 port, const QString& path) {
  return QUrl(QStringLiteral("http://%1:%2%3").arg(host).arg(port).arg(path));
}

// --- Direct connections
// --------------------------------------------------------------------------------------

TEST_F(HttpClient, GetDeliversTheBodyWithTheConsolesUserAgent) {
  local_http_server server;
  server.serve("/a.xml", "<rss/>");
  const http_result r = fetch(url_at("127.0.0.1", server.port(), "/a.xml"));
  EXPECT_TRUE(r.ok()) << r.error.toStdString();
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "<rss/>");
  ASSERT_EQ(server.requests().size(), 1);
  EXPECT_TRUE(server.requests()[0].headers.value("user-agent").startsWith("Quorvane/2 "))
      << server.requests()[0].headers.value("user-agent").toStdString();
}

TEST_F(HttpClient, FailuresGiveAPlainSentence) {
  local_http_server server;
  server.serve("/gone.xml", "", "410 Gone");
  const quint16 closed_port = testing_support::unused_port();
  const struct {
    const char* name;
    QUrl url;
    int want_status;
    const char* want_in_error;
  } cases[] = {
      {"missing document", url_at("127.0.0.1", server.port(), "/nothing.xml"), 404,
       "the server answered 404"},
      {"other status", url_at("127.0.0.1", server.port(), "/gone.xml"), 410, "the server answered 410 Gone"},
      {"nobody listening", url_at("127.0.0.1", closed_port, "/a.xml"), 0, "Connection refused"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const http_result r = fetch(c.url);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.status, c.want_status);
    EXPECT_TRUE(r.error.startsWith("Unable to download '" + c.url.toDisplayString() + "': "))
        << r.error.toStdString();
    EXPECT_TRUE(r.error.contains(c.want_in_error))
        << "got " << r.error.toStdString() << ", want " << c.want_in_error;
    EXPECT_TRUE(r.body.isEmpty());
  }
}

// --- Through a proxy that wants credentials ---------------------------------------------------------------

// A feed server behind a proxy that wants "alice" / "s3cret"; the client goes through it with a stored
// record that holds no credentials yet.
class HttpClientBehindProxy : public HttpClient {
 protected:
  void SetUp() override {
    HttpClient::SetUp();
    server_.serve("/a.xml", "A");
    server_.serve("/b.xml", "B");
    record_ = proxy_record(proxy_);
    client_.set_proxy(record_);
  }

  local_http_server server_;
  local_http_proxy proxy_{"alice", "s3cret", server_.port()};
  smart_ptr<network::proxy> record_;
};

TEST_F(HttpClientBehindProxy, ProxyCredentialsAreAskedOnceStoredAndUsedWithoutAskingNextTime) {
  answer_prompts_with("alice", "s3cret");

  const QUrl url(QStringLiteral("http://%1/a.xml").arg(made_up_host));
  http_result r = fetch(url);
  EXPECT_TRUE(r.ok()) << r.error.toStdString();
  EXPECT_EQ(r.body, "A");
  EXPECT_EQ(prompts_, 1);
  EXPECT_EQ(proxy_.forwarded(), 1);
  ASSERT_FALSE(proxy_.requests().isEmpty());
  EXPECT_EQ(proxy_.requests().last().target, "http://feed.quorvane.test/a.xml")
      << "absolute-form: via the proxy";

  smart_ptr<network::proxy> stored =
      database::open_cursor<network::proxy>("uri", network::vendor_endpoint).current();
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->user().narrow(), "alice");
  EXPECT_EQ(stored->password().narrow(), "s3cret");

  // A second client on the stored record answers the challenge with them, without asking.
  http_client next;
  int next_prompts = 0;
  next.set_credentials_callback([&next_prompts](network::proxy&) { return ++next_prompts, false; });
  next.set_proxy(stored);
  std::optional<http_result> got;
  next.get(url, [&got](const http_result& x) { got = x; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return got.has_value(); }, 10000));
  EXPECT_TRUE(got->ok()) << got->error.toStdString();
  EXPECT_EQ(next_prompts, 0) << "the stored credentials answer the proxy's challenge";
  EXPECT_EQ(proxy_.forwarded(), 2);
  EXPECT_EQ(proxy_.requests().last().headers.value("proxy-authorization"),
            "Basic " + QByteArray("alice:s3cret").toBase64());
}

TEST_F(HttpClientBehindProxy, CancelledPromptFailsPlainly) {
  answer_prompts_with("", "");

  const http_result r = fetch(QUrl("http://feed.quorvane.test/a.xml"));
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.status, 407);
  const QString want =
      QStringLiteral(
          "Unable to download 'http://feed.quorvane.test/a.xml': the proxy server at 127.0.0.1:%1 "
          "requires a username and password, and none was given.")
          .arg(proxy_.port());
  EXPECT_EQ(r.error, want);
  EXPECT_EQ(prompts_, 1);
  EXPECT_EQ(proxy_.forwarded(), 0);
  EXPECT_TRUE(record_->user().empty()) << "the record is unchanged";
  EXPECT_TRUE(server_.requests().isEmpty());
}

TEST_F(HttpClientBehindProxy, WrongCredentialsAreAskedAgainAndFailAfterTheLastPrompt) {
  answer_prompts_with("alice", "wrong");

  const http_result r = fetch(QUrl("http://feed.quorvane.test/a.xml"));
  EXPECT_FALSE(r.ok());
  EXPECT_TRUE(r.error.contains("did not accept the username and password")) << r.error.toStdString();
  EXPECT_EQ(prompts_, http_client::max_credential_prompts);
  EXPECT_EQ(proxy_.forwarded(), 0);
}

TEST_F(HttpClientBehindProxy, RequestsRefusedTogetherShareOnePrompt) {
  answer_prompts_with("alice", "s3cret");

  std::optional<http_result> a, b;
  client_.get(QUrl("http://feed.quorvane.test/a.xml"), [&a](const http_result& r) { a = r; });
  client_.get(QUrl("http://feed.quorvane.test/b.xml"), [&b](const http_result& r) { b = r; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return a && b; }, 10000));
  EXPECT_EQ(a->body, "A");
  EXPECT_EQ(b->body, "B");
  EXPECT_EQ(prompts_, 1);
}

TEST_F(HttpClient, LoopbackAddressesGoThroughTheProxyToo) {
  local_http_server server;
  server.serve("/a.xml", "<rss/>");
  local_http_proxy proxy("alice", "s3cret", server.port());
  smart_ptr<network::proxy> record = proxy_record(proxy);
  record->setUser(u"alice");
  record->setPassword(u"s3cret");
  client_.set_proxy(record);

  const http_result r = fetch(url_at("127.0.0.1", server.port(), "/a.xml"));
  EXPECT_TRUE(r.ok()) << r.error.toStdString();
  EXPECT_EQ(proxy.forwarded(), 1);
}

TEST_F(HttpClient, NoProxyWithoutAHost) {
  auto record = make_counted<network::proxy>(uri(network::vendor_endpoint));
  EXPECT_EQ(http_client::network_proxy(record.get()).type(), QNetworkProxy::NoProxy);
  EXPECT_EQ(http_client::network_proxy(nullptr).type(), QNetworkProxy::NoProxy);
  record->setHost(u"proxy.example");
  record->setPort(3128);
  const QNetworkProxy p = http_client::network_proxy(record.get());
  EXPECT_EQ(p.type(), QNetworkProxy::HttpProxy);
  EXPECT_EQ(p.hostName(), "proxy.example");
  EXPECT_EQ(p.port(), 3128);
}

}  // namespace
}  // namespace quorvane
