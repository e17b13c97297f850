// Test peers on 127.0.0.1 with ephemeral ports: an HTTP server that serves fixed documents, and an HTTP
// proxy that asks for Basic authentication and forwards what it accepts.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QTcpServer>

namespace quorvane::testing_support {

/// A port on 127.0.0.1 that nobody listens on (taken and given back at once).
quint16 unused_port();

/// One request as a peer received it: its request line and its header fields (names in lower case).
struct received_request {
  QByteArray method;
  QByteArray target;  // origin-form ("/a.xml") for the server, absolute-form ("http://h/a.xml") for the proxy
  QHash<QByteArray, QByteArray> headers;
};

/// An HTTP/1.1 server answering GET requests from a table of documents; every answer closes its connection.
class local_http_server : public QObject {
 public:
  /// Listens on 127.0.0.1 at an ephemeral port.
  local_http_server();

  /// Serves `body` with `status` ("200 OK") and `content_type` at `path`.
  void serve(const QByteArray& path, const QByteArray& body, const QByteArray& status = "200 OK",
             const QByteArray& content_type = "application/rss+xml");

  /// The port it listens on.
  quint16 port() const { return server_.serverPort(); }
  /// The requests received so far.
  const QList<received_request>& requests() const { return requests_; }

 private:
  struct document {
    QByteArray status;
    QByteArray content_type;
    QByteArray body;
  };
  QTcpServer server_;
  QHash<QByteArray, document> documents_;
  QList<received_request> requests_;
};

/// An HTTP proxy for plain HTTP requests (absolute-form targets) that wants Basic credentials `user` and
/// `password`: without them, or with others, it answers 407 with a Basic challenge. Every host name it is
/// asked for is sent to 127.0.0.1 at `upstream_port`, so a client that reaches a made-up host name has
/// really gone through it.
class local_http_proxy : public QObject {
 public:
  /// Listens on 127.0.0.1 at an ephemeral port.
  local_http_proxy(QByteArray user, QByteArray password, quint16 upstream_port);

  /// The port it listens on.
  quint16 port() const { return server_.serverPort(); }
  /// Every request received, refused ones included.
  const QList<received_request>& requests() const { return requests_; }
  /// How many requests it answered with 407.
  int challenges() const { return challenges_; }
  /// How many requests it forwarded.
  int forwarded() const { return forwarded_; }

 private:
  QTcpServer server_;
  QByteArray expected_;  // the whole Proxy-Authorization value it accepts
  quint16 upstream_port_;
  QList<received_request> requests_;
  int challenges_ = 0;
  int forwarded_ = 0;
};

}  // namespace quorvane::testing_support
