// A print service played by the test: it accepts the console's connections on 127.0.0.1, records every
// frame exactly as it arrived, and sends what the test tells it to.
#pragma once

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <string>
#include <vector>

#include <json/json.h>

#include "net/jsonrpc_connection.h"

namespace quorvane::testing {

/// How long the scripted peer waits for what the console must send. Waits end as soon as it arrives: the
/// bound only keeps a broken console from hanging a test, so it leaves room for a heavily loaded machine.
inline constexpr int console_bound_ms = 30000;

/// A scripted peer of the console's session.
class scripted_peer {
 public:
  /// Listens on 127.0.0.1 at `port` (0: a free one).
  explicit scripted_peer(uint16_t port = 0) {
    server_.listen(QHostAddress::LocalHost, port);
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
      while (QTcpSocket* next = server_.nextPendingConnection()) {
        ++connections_;
        socket_ = next;
        buffer_.clear();
        session_start_ = messages_.size();
        QObject::connect(next, &QTcpSocket::readyRead, next, [this, next] {
          if (next == socket_) read(next->readAll());
        });
      }
    });
  }

  /// The port it listens on.
  uint16_t port() const { return server_.serverPort(); }
  /// The number of connections accepted so far.
  int connections() const { return connections_; }
  /// Every payload received, without its trailing newline, in order.
  const std::vector<std::string>& texts() const { return texts_; }
  /// Every message received, parsed.
  const std::vector<Json::Value>& messages() const { return messages_; }

  /// Waits until `count` messages have arrived in all; false on timeout.
  bool wait_for_messages(size_t count, int timeout_ms = console_bound_ms) {
    return QTest::qWaitFor([&] { return messages_.size() >= count; }, timeout_ms);
  }
  /// Waits until `count` connections were accepted; false on timeout.
  bool wait_for_connections(int count, int timeout_ms = console_bound_ms) {
    return QTest::qWaitFor([&] { return connections_ >= count; }, timeout_ms);
  }

  /// Sends `value` as one frame on the newest connection.
  void send(const Json::Value& value) {
    const std::string framed = jsonrpc::frame(value);
    socket_->write(framed.data(), static_cast<qint64>(framed.size()));
    socket_->flush();
  }
  /// Answers the request with this id: "result" = [status] plus `extra` when it is not null.
  void answer(const Json::Value& id, int status, const Json::Value& extra = Json::Value()) {
    Json::Value response(Json::objectValue);
    response["jsonrpc"] = "2.0";
    response["id"] = id;
    response["result"].append(status);
    if (!extra.isNull()) response["result"].append(extra);
    send(response);
  }
  /// Plays the service's side of a session start: answers "authenticate", "saveAttributes", "attributes"
  /// (with `attributes`) and "observe" with status 0 as they arrive. False when one did not arrive in time.
  /// The session is the one begun on the newest connection (its "authenticate" may have arrived already).
  bool answer_session_start(const Json::Value& attributes = Json::Value(Json::objectValue)) {
    const size_t first = session_start_;
    if (!wait_for_messages(first + 1)) return false;
    answer(messages_[first]["id"], 0);
    if (!wait_for_messages(first + 3)) return false;
    answer(messages_[first + 1]["id"], 0);
    answer(messages_[first + 2]["id"], 0, attributes);
    if (!wait_for_messages(first + 4)) return false;
    answer(messages_[first + 3]["id"], 0);
    session_start_ = messages_.size();
    return true;
  }
  /// Sends "printersWereUpdated" with `printers` (an array of printer objects).
  void send_printers_updated(const Json::Value& printers) {
    Json::Value notification(Json::objectValue);
    notification["jsonrpc"] = "2.0";
    notification["method"] = "printersWereUpdated";
    notification["params"].append(printers);
    send(notification);
  }
  /// A barrier on the newest connection: two "print" requests the console refuses at once (their params are
  /// not [printer, job]), sent one after the other's answer. The console answers in the order requests
  /// arrive, and what it posted to its loop while handling an earlier message has run by the time the second
  /// answer leaves, so everything it was going to send before has arrived. The answers are kept out of
  /// `messages()`. False when an answer did not come.
  bool settle() {
    for (int round = 0; round < 2; ++round) {
      const int answered = settled_;
      Json::Value request(Json::objectValue);
      request["jsonrpc"] = "2.0";
      request["id"] = settle_id;
      request["method"] = "print";
      request["params"] = Json::Value(Json::arrayValue);
      send(request);
      if (!QTest::qWaitFor([&] { return settled_ > answered; }, console_bound_ms)) return false;
    }
    return true;
  }
  /// Closes the newest connection.
  void drop() {
    if (socket_) socket_->abort();
  }

 private:
  void read(const QByteArray& bytes) {
    buffer_ += bytes.toStdString();
    for (;;) {
      const size_t colon = buffer_.find(':');
      if (colon == std::string::npos) return;
      const size_t length = std::stoul(buffer_.substr(0, colon));
      if (buffer_.size() < colon + 1 + length + 1) return;
      std::string payload = buffer_.substr(colon + 1, length);
      buffer_.erase(0, colon + 1 + length + 1);
      Json::Value message;
      Json::Reader().parse(payload, message);
      if (!payload.empty() && payload.back() == '\n') payload.pop_back();
      if (message.isObject() && message["id"] == settle_id && !message.isMember("method")) {
        ++settled_;
        continue;
      }
      texts_.push_back(payload);
      messages_.push_back(message);
    }
  }

  static constexpr const char* settle_id = "settle";

  QTcpServer server_;
  QTcpSocket* socket_ = nullptr;
  int connections_ = 0;
  int settled_ = 0;           // answers to settle()'s requests
  size_t session_start_ = 0;  // the first message of the newest connection
  std::string buffer_;
  std::vector<std::string> texts_;
  std::vector<Json::Value> messages_;
};

/// A port of 127.0.0.1 that was free a moment ago and is closed now: a print service that is not running.
inline uint16_t closed_port() {
  scripted_peer probe;
  return probe.port();
}

}  // namespace quorvane::testing
