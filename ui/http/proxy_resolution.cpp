#include "ui/http/proxy_resolution.h"

#include <proxy.h>

#include <QFutureWatcher>
#include <QPromise>
#include <QTimer>
#include <QUrl>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/log.h"
#include "database/object.h"
#include "ui/base/preference_values.h"

namespace quorvane {

bool proxy_configured_manually() {
  return read_preference(configure_proxy_manually_preference) != 0;
}

smart_ptr<network::proxy> stored_proxy() {
  auto fresh = make_counted<network::proxy>(uri(network::vendor_endpoint));
  smart_ptr<network::proxy> stored = database::open_cursor<network::proxy>("uri", fresh->target()).current();
  // A stored row without a host is never used; the new record is saved beside it when the user stores one.
  if (stored && !stored->host().empty()) {
    // A password stored in plain text before the keyring answered moves there now.
    if (stored->dirty() && !stored->save())
      QV_LOG(log_error, "Unable to store the proxy settings for '%s'", stored->target().c_str());
    return stored;
  }
  return fresh;
}

std::vector<std::string> query_system_proxies(const std::string& url) {
  std::vector<std::string> answers;
  pxProxyFactory* factory = px_proxy_factory_new();
  if (!factory) {
    QV_LOG(log_warning, "Unable to ask the system for the proxy of '%s': libproxy did not start",
           url.c_str());
    return answers;
  }
  if (char** proxies = px_proxy_factory_get_proxies(factory, url.c_str())) {
    for (char** p = proxies; *p; ++p) answers.emplace_back(*p);
    px_proxy_factory_free_proxies(proxies);
  }
  px_proxy_factory_free(factory);
  return answers;
}

bool apply_system_proxies(network::proxy& record, const std::vector<std::string>& answers) {
  for (const std::string& answer : answers) {
    if (answer.rfind("direct://", 0) == 0) return false;
    // libproxy passes a variable's text on without a scheme when it had none ("host:8080").
    const bool has_scheme = answer.find("://") != std::string::npos;
    const QUrl url(QString::fromStdString(has_scheme ? answer : "http://" + answer));
    const QString scheme = url.scheme().toLower();
    // The record describes an HTTP proxy; SOCKS and other kinds are passed over.
    if (scheme != "http" && scheme != "https") continue;
    if (!url.isValid() || url.host().isEmpty()) continue;
    record.setHost(wide_string(url.host().toStdU16String()));
    record.setPort(static_cast<uint16_t>(url.port(80)));
    if (record.user().empty() && !url.userName().isEmpty()) {
      record.setUser(wide_string(url.userName().toStdU16String()));
      record.setPassword(wide_string(url.password().toStdU16String()));
    }
    return true;
  }
  return false;
}

namespace {

// The answer of one system query, handed from its worker to a thread that waits for it with a limit.
struct system_answer {
  std::mutex lock;
  std::condition_variable ready;
  bool done = false;                 // guarded by lock
  std::vector<std::string> answers;  // guarded by lock
};

}  // namespace

smart_ptr<network::proxy> resolve_proxy(std::chrono::milliseconds limit, system_proxy_query query) {
  smart_ptr<network::proxy> record = stored_proxy();
  if (proxy_configured_manually()) return record;

  // The worker holds only the URL and the shared answer: no counted object ever crosses threads. A worker
  // still blocked when the limit passes finishes on its own and its answer is dropped.
  auto answer = std::make_shared<system_answer>();
  try {
    std::thread([answer, query = std::move(query), url = std::string(network::vendor_endpoint)] {
      std::vector<std::string> found = query(url);
      std::lock_guard<std::mutex> hold(answer->lock);
      answer->answers = std::move(found);
      answer->done = true;
      answer->ready.notify_all();
    }).detach();
  } catch (const std::system_error& error) {
    QV_LOG(log_error, "Unable to ask the system for the proxy settings: %s", error.what());
    return record;
  }
  std::unique_lock<std::mutex> hold(answer->lock);
  if (!answer->ready.wait_for(hold, limit, [&] { return answer->done; })) {
    QV_LOG(log_warning,
           "The system's proxy configuration did not answer within %lld ms; using the stored settings",
           static_cast<long long>(limit.count()));
    return record;
  }
  apply_system_proxies(*record, answer->answers);
  return record;
}

namespace {

// One asynchronous resolution, living on the caller's thread as a child of its context.
class pending_resolution final : public QObject {
 public:
  pending_resolution(QObject* context, smart_ptr<network::proxy> record,
                     std::function<void(smart_ptr<network::proxy>)> done)
      : QObject(context), record_(std::move(record)), done_(std::move(done)) {}

  // Waits for `future` at most `limit`, then delivers.
  void wait_for(const QFuture<std::vector<std::string>>& future, std::chrono::milliseconds limit) {
    connect(&watcher_, &QFutureWatcher<std::vector<std::string>>::finished, this, [this] {
      if (watcher_.future().resultCount() > 0) apply_system_proxies(*record_, watcher_.future().result());
      deliver();
    });
    watcher_.setFuture(future);
    QTimer::singleShot(limit, this, [this, limit] {
      QV_LOG(log_warning,
             "The system's proxy configuration did not answer within %lld ms; using the stored settings",
             static_cast<long long>(limit.count()));
      deliver();
    });
  }

  // Calls the callback once, then goes away.
  void deliver() {
    if (!done_) return;
    auto done = std::move(done_);
    done_ = nullptr;
    watcher_.disconnect(this);
    deleteLater();
    done(record_);
  }

 private:
  smart_ptr<network::proxy> record_;
  std::function<void(smart_ptr<network::proxy>)> done_;
  QFutureWatcher<std::vector<std::string>> watcher_;
};

}  // namespace

void resolve_proxy_async(QObject* context, std::function<void(smart_ptr<network::proxy>)> done,
                         std::chrono::milliseconds limit, system_proxy_query query) {
  auto* pending = new pending_resolution(context, stored_proxy(), std::move(done));
  if (proxy_configured_manually()) {
    QTimer::singleShot(0, pending, [pending] { pending->deliver(); });
    return;
  }
  QPromise<std::vector<std::string>> promise;
  QFuture<std::vector<std::string>> future = promise.future();
  try {
    std::thread([promise = std::move(promise), query = std::move(query),
                 url = std::string(network::vendor_endpoint)]() mutable {
      promise.start();
      promise.addResult(query(url));
      promise.finish();
    }).detach();
  } catch (const std::system_error& error) {
    QV_LOG(log_error, "Unable to ask the system for the proxy settings: %s", error.what());
    QTimer::singleShot(0, pending, [pending] { pending->deliver(); });
    return;
  }
  pending->wait_for(future, limit);
}

}  // namespace quorvane
