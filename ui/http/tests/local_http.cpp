#include "ui/http/tests/local_http.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QUrl>

#include <functional>
#include <memory>

namespace quorvane::testing_support {
namespace {

// Collects a request's head on `socket` and calls `handle` once it is complete.
void on_request(QTcpSocket* socket, std::function<void(QTcpSocket*, const received_request&)> handle) {
  // The head read so far; null once it was complete (a request body is not read).
  auto buffer = std::make_shared<QByteArray>("");
  QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, buffer, handle] {
    if (buffer->isNull()) return;
    buffer->append(socket->readAll());
    const qsizetype end = buffer->indexOf("\r\n\r\n");
    if (end < 0) return;
    const QList<QByteArray> lines = buffer->left(end).split('\n');
    *buffer = QByteArray();
    received_request request;
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = first.value(0);
    request.target = first.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
      const qsizetype colon = lines[i].indexOf(':');
      if (colon > 0)
        request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    handle(socket, request);
  });
  QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

void answer(QTcpSocket* socket, const QByteArray& status, const QByteArray& extra_headers,
            const QByteArray& body) {
  socket->write("HTTP/1.1 " + status + "\r\n" + extra_headers + "Content-Length: " +
                QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
  socket->disconnectFromHost();
}

}  // namespace

quint16 unused_port() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();
}

local_http_server::local_http_server() {
  server_.listen(QHostAddress::LocalHost, 0);
  connect(&server_, &QTcpServer::newConnection, this, [this] {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
      on_request(socket, [this](QTcpSocket* s, const received_request& request) {
        requests_.append(request);
        auto it = documents_.constFind(QUrl(QString::fromLatin1(request.target)).path().toLatin1());
        if (request.method != "GET" || it == documents_.constEnd()) {
          answer(s, "404 Not Found", "Content-Type: text/plain\r\n", "not here\n");
          return;
        }
        answer(s, it->status, "Content-Type: " + it->content_type + "\r\n", it->body);
      });
    }
  });
}

void local_http_server::serve(const QByteArray& path, const QByteArray& body, const QByteArray& status,
                              const QByteArray& content_type) {
  documents_.insert(path, document{status, content_type, body});
}

local_http_proxy::local_http_proxy(QByteArray user, QByteArray password, quint16 upstream_port)
    : expected_("Basic " + (user + ":" + password).toBase64()), upstream_port_(upstream_port) {
  server_.listen(QHostAddress::LocalHost, 0);
  connect(&server_, &QTcpServer::newConnection, this, [this] {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
      on_request(socket, [this](QTcpSocket* client, const received_request& request) {
        requests_.append(request);
        if (request.headers.value("proxy-authorization") != expected_) {
          ++challenges_;
          answer(client, "407 Proxy Authentication Required",
                 "Proxy-Authenticate: Basic realm=\"test proxy\"\r\n", "");
          return;
        }
        ++forwarded_;
        // Forward in origin-form to the one upstream server, then relay its answer until it closes.
        const QUrl target(QString::fromLatin1(request.target));
        auto* upstream = new QTcpSocket(client);
        connect(upstream, &QTcpSocket::connected, upstream, [upstream, target] {
          upstream->write("GET " + target.path(QUrl::FullyEncoded).toLatin1() +
                          " HTTP/1.1\r\nHost: " + target.host().toLatin1() + "\r\nConnection: close\r\n\r\n");
        });
        connect(upstream, &QTcpSocket::readyRead, client,
                [upstream, client] { client->write(upstream->readAll()); });
        connect(upstream, &QTcpSocket::disconnected, client, [upstream, client] {
          client->write(upstream->readAll());
          client->disconnectFromHost();
        });
        upstream->connectToHost(QHostAddress::LocalHost, upstream_port_);
      });
    }
  });
}

}  // namespace quorvane::testing_support
