// The console's one HTTP client: asynchronous GET requests through the proxy of the console's settings, with
// the proxy's credentials asked for when it wants them.
#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <vector>

#include "model/proxy.h"

class QNetworkReply;

namespace quorvane {

/// The console's version: sent in the User-Agent and compared with the versions of the update feed.
inline constexpr char console_version[] = "2.2.0.609";

/// The outcome of one request.
struct http_result {
  int status = 0;   ///< the HTTP status of the final answer; 0 when none arrived
  QByteArray body;  ///< the body of a successful answer
  QString error;    ///< a plain sentence saying why the request failed; empty on success

  /// True when a 2xx answer arrived.
  bool ok() const { return error.isEmpty(); }
};

/// Sends the console's HTTP requests. Every request goes through the proxy record given to it (none: a
/// direct connection), with the record's user and password when it holds them. When the proxy answers 407,
/// the credentials callback is asked (one prompt at a time; requests that meet a 407 meanwhile wait for its
/// answer); on true the request is sent again with the record's new credentials, on false it fails.
/// Results arrive through callbacks on the client's thread, never from within the call that sent the request.
class http_client : public QObject {
 public:
  /// Asks for the proxy's credentials and writes them into the record (and stores it); false when the user
  /// declined.
  using credentials_callback = std::function<bool(network::proxy& proxy)>;
  /// Receives the outcome of one request.
  using completion = std::function<void(const http_result& result)>;

  /// A client without a proxy whose credentials callback shows the "HTTP Proxy Login" dialog
  /// (`ask_proxy_credentials`) over the active window.
  explicit http_client(QObject* parent = nullptr);
  /// Aborts the requests in flight; their callbacks are not called.
  ~http_client() override;

  /// The proxy record every later request goes through; null or a record without a host for none.
  void set_proxy(smart_ptr<network::proxy> proxy);
  /// The proxy record in use; may be null.
  const smart_ptr<network::proxy>& proxy() const { return proxy_; }

  /// Replaces the credentials callback (a test's stand-in for the dialog); an empty one fails every 407.
  void set_credentials_callback(credentials_callback ask);

  /// Sends a GET request for `url`; `done` is called once with the outcome.
  void get(const QUrl& url, completion done);

  /// The User-Agent of every request: "Quorvane/2 " followed by the version and the platform.
  static QByteArray user_agent();

  /// The QNetworkProxy made from the record `proxy` (NoProxy for null or without a host).
  static QNetworkProxy network_proxy(const network::proxy* proxy);

  /// How many times any request gives the credentials callback a chance before it fails.
  static constexpr int max_credential_prompts = 3;

 private:
  struct request;

  /// Sends `r` (again) with the proxy as it is now.
  void send(const std::shared_ptr<request>& r);
  /// Handles the end of one attempt of `r`.
  void finished(QNetworkReply* reply, const std::shared_ptr<request>& r);
  /// Asks for credentials for the requests waiting on the proxy, then resends or fails them.
  void ask_for_credentials();
  /// Calls `r`'s completion once with `result`.
  static void complete(const std::shared_ptr<request>& r, const http_result& result);

  QNetworkAccessManager network_;
  smart_ptr<network::proxy> proxy_;
  credentials_callback ask_;
  bool asking_ = false;
  std::vector<std::shared_ptr<request>> waiting_for_credentials_;
  std::vector<QNetworkReply*> in_flight_;
};

/// The console's one HTTP client, made on first use as a child of the application object (and deleted with
/// it). Needs a QCoreApplication.
http_client& console_http_client();

}  // namespace quorvane
