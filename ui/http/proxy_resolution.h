// Which HTTP proxy the console uses for its HTTPS endpoint: the stored settings, or what the system's proxy
// configuration (libproxy: environment, desktop settings, PAC and WPAD) says for that endpoint.
#pragma once

#include <QObject>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "model/proxy.h"

namespace quorvane {

/// How long `resolve_proxy()` waits for the system's answer before it goes on without it.
inline constexpr std::chrono::milliseconds system_proxy_wait{2000};

/// How long `resolve_proxy_async` waits for the system's answer before it delivers without it.
inline constexpr std::chrono::milliseconds system_proxy_async_wait{20000};

/// True when the preference "ConfigureProxyManually" (group "Preferences") is set: the stored proxy
/// settings are used as they are, without asking the system.
bool proxy_configured_manually();

/// The proxy record of the console's endpoint: the first stored row for it when its host is not empty,
/// otherwise a new record (no host, port 80, no row). Runs on the thread that owns the database.
smart_ptr<network::proxy> stored_proxy();

/// Asks libproxy which proxies to try for `url`, in order ("http://host:port", "direct://", ...). May block
/// for a long time (PAC download and evaluation, WPAD look-ups): call it only on a worker thread. Returns an
/// empty list when libproxy gives no answer.
std::vector<std::string> query_system_proxies(const std::string& url);

/// A source of the system's proxy answer for a URL (`query_system_proxies`, or a test's stand-in); it runs on
/// a worker thread.
using system_proxy_query = std::function<std::vector<std::string>(const std::string& url)>;

/// Applies libproxy's answer to `record`: the first entry that is an HTTP proxy or "direct://" decides.
/// "http://host:port" or "host:port" sets host and port, a text without a port gives port 80; user
/// information in the text fills user and password when the record has no user. "direct://", an empty list
/// or one with only other kinds of proxy leave the record as it is. Returns true when the record was set.
bool apply_system_proxies(network::proxy& record, const std::vector<std::string>& answers);

/// The proxy record to use for the console's endpoint: `stored_proxy()`, then, unless the proxy is
/// configured manually, what the system says for the endpoint. The system is asked on a worker thread;
/// when it has not answered within `limit` the record is returned as stored (the late answer is dropped).
/// The record is not stored here. Call on the thread that owns the database.
smart_ptr<network::proxy> resolve_proxy(std::chrono::milliseconds limit = system_proxy_wait,
                                        system_proxy_query query = query_system_proxies);

/// `resolve_proxy()` without waiting: `done` is called on the calling thread's event loop with the record
/// once the system has answered, or after `limit` without its answer, or at the next turn of the loop when
/// the proxy is configured manually. Nothing is called once `context` is destroyed.
void resolve_proxy_async(QObject* context, std::function<void(smart_ptr<network::proxy>)> done,
                         std::chrono::milliseconds limit = system_proxy_async_wait,
                         system_proxy_query query = query_system_proxies);

}  // namespace quorvane
