#include "ui/http/http_client.h"

#include <QApplication>
#include <QAuthenticator>
#include <QCoreApplication>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSysInfo>
#include <QTimer>

#include <algorithm>

#include "core/log.h"
#include "ui/controls/proxy_login_dlg.h"

namespace quorvane {

// One request across its attempts.
struct http_client::request {
  QUrl url;
  completion done;
  int prompts = 0;    // how many times the credentials callback was asked for this request
  QString sent_user;  // the proxy credentials the latest attempt carried
  QString sent_password;
};

namespace {

// No request waits for ever on a server or proxy that stops answering.
constexpr int transfer_timeout_ms = 30000;

QString proxy_address(const network::proxy& proxy) {
  return QStringLiteral("%1:%2").arg(QString::fromStdU16String(proxy.host().text())).arg(proxy.port());
}

}  // namespace

http_client::http_client(QObject* parent)
    : QObject(parent),
      ask_([](network::proxy& proxy) { return ask_proxy_credentials(proxy, QApplication::activeWindow()); }) {
  network_.setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
  // The credentials travel in the QNetworkProxy of each request. Leaving the authenticator empty here makes
  // a refused attempt end with ProxyAuthenticationRequiredError, which `finished` turns into a prompt outside
  // the network code's own call chain.
  connect(&network_, &QNetworkAccessManager::proxyAuthenticationRequired, this,
          [](const QNetworkProxy&, QAuthenticator*) {});
}

http_client::~http_client() {
  for (QNetworkReply* reply : in_flight_) {
    reply->disconnect(this);
    reply->abort();
  }
}

void http_client::set_proxy(smart_ptr<network::proxy> proxy) {
  proxy_ = std::move(proxy);
}

void http_client::set_credentials_callback(credentials_callback ask) {
  ask_ = std::move(ask);
}

QByteArray http_client::user_agent() {
  return QByteArray("Quorvane/2 (") + console_version + "; " + QSysInfo::kernelType().toLatin1() + " " +
         QSysInfo::currentCpuArchitecture().toLatin1() + ") Qt/" + qVersion();
}

QNetworkProxy http_client::network_proxy(const network::proxy* proxy) {
  if (!proxy || proxy->host().empty()) return QNetworkProxy(QNetworkProxy::NoProxy);
  return QNetworkProxy(QNetworkProxy::HttpProxy, QString::fromStdU16String(proxy->host().text()),
                       proxy->port(), QString::fromStdU16String(proxy->user().text()),
                       QString::fromStdU16String(proxy->password().text()));
}

void http_client::get(const QUrl& url, completion done) {
  auto r = std::make_shared<request>();
  r->url = url;
  r->done = std::move(done);
  send(r);
}

void http_client::send(const std::shared_ptr<request>& r) {
  QNetworkRequest wanted(r->url);
  wanted.setHeader(QNetworkRequest::UserAgentHeader, user_agent());
  wanted.setTransferTimeout(transfer_timeout_ms);
  // Credentials are never cached by the network layer: each attempt carries the record's as they are now.
  wanted.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  const QNetworkProxy proxy = network_proxy(proxy_.get());
  r->sent_user = proxy.user();
  r->sent_password = proxy.password();
  network_.setProxy(proxy);
  QNetworkReply* reply = network_.get(wanted);
  in_flight_.push_back(reply);
  connect(reply, &QNetworkReply::finished, this, [this, reply, r] { finished(reply, r); });
}

void http_client::finished(QNetworkReply* reply, const std::shared_ptr<request>& r) {
  in_flight_.erase(std::remove(in_flight_.begin(), in_flight_.end(), reply), in_flight_.end());
  reply->deleteLater();
  const QNetworkReply::NetworkError error = reply->error();
  http_result result;
  result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();

  if (error == QNetworkReply::ProxyAuthenticationRequiredError && proxy_ && !proxy_->host().empty()) {
    // Credentials entered since this attempt left (for another request) are tried before asking again.
    const QNetworkProxy now = network_proxy(proxy_.get());
    if (!now.user().isEmpty() && (now.user() != r->sent_user || now.password() != r->sent_password)) {
      send(r);
      return;
    }
    if (r->prompts < max_credential_prompts) {
      waiting_for_credentials_.push_back(r);
      // Asked from the event loop, never from within the reply's signal.
      if (!asking_) {
        asking_ = true;
        QTimer::singleShot(0, this, [this] { ask_for_credentials(); });
      }
      return;
    }
    result.error = QCoreApplication::translate("quorvane::http_client",
                                               "Unable to download '%1': the proxy server at %2 did not "
                                               "accept the username and password.")
                       .arg(r->url.toDisplayString(), proxy_address(*proxy_));
  } else if (error == QNetworkReply::NoError) {
    result.body = reply->readAll();
  } else if (result.status != 0) {
    result.error = QCoreApplication::translate("quorvane::http_client",
                                               "Unable to download '%1': the server answered %2 %3.")
                       .arg(r->url.toDisplayString())
                       .arg(result.status)
                       .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString());
  } else {
    result.error = QCoreApplication::translate("quorvane::http_client", "Unable to download '%1': %2.")
                       .arg(r->url.toDisplayString(), reply->errorString());
  }
  if (!result.ok()) QV_LOG(log_warning, "%s", result.error.toUtf8().constData());
  complete(r, result);
}

void http_client::ask_for_credentials() {
  QPointer<http_client> self(this);
  smart_ptr<network::proxy> proxy = proxy_;
  QV_LOG(log_information, "The proxy server at %s asks for credentials",
         proxy_address(*proxy).toUtf8().constData());
  // The prompt may run a dialog with its own event loop; the client may be gone when it returns.
  const bool given = proxy && ask_ && ask_(*proxy);
  if (!self) return;
  asking_ = false;
  std::vector<std::shared_ptr<request>> waiting;
  waiting.swap(waiting_for_credentials_);
  for (const std::shared_ptr<request>& r : waiting) {
    ++r->prompts;
    if (given) {
      send(r);
      continue;
    }
    http_result result;
    result.status = 407;
    result.error = QCoreApplication::translate("quorvane::http_client",
                                               "Unable to download '%1': the proxy server at %2 requires a "
                                               "username and password, and none was given.")
                       .arg(r->url.toDisplayString(), proxy_address(*proxy));
    QV_LOG(log_warning, "%s", result.error.toUtf8().constData());
    complete(r, result);
  }
}

void http_client::complete(const std::shared_ptr<request>& r, const http_result& result) {
  completion done = std::move(r->done);
  r->done = nullptr;
  if (done) done(result);
}

http_client& console_http_client() {
  static QPointer<http_client> client;
  if (!client) client = new http_client(QCoreApplication::instance());
  return *client;
}

}  // namespace quorvane
