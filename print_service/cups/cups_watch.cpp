#include "print_service/cups/cups_watch.h"

#include <cups/cups.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "core/log.h"

namespace quorvane::print_service {
namespace {

// The scheduler itself: a subscription there covers every queue, present and future.
constexpr const char* scheduler_uri = "ipp://localhost/";

// Queues appearing, going, being changed (description, location, driver) or changing state.
constexpr const char* printer_events[] = {"printer-added", "printer-deleted", "printer-modified",
                                          "printer-state-changed", "printer-config-changed"};

// While polling, how often a subscription is asked for again.
constexpr std::chrono::seconds subscription_retry_period{60};

// How long one request to the scheduler may take before it counts as unanswered.
constexpr int request_limit_ms = 5000;

// Whether a failed request means the scheduler did not answer at all (rather than refusing the request).
bool unanswered(const ipp_t* response) {
  const ipp_status_t status = cupsLastError();
  return !response || status == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE || status == IPP_STATUS_ERROR_INTERNAL;
}

// A request to the scheduler with the attributes every operation carries.
ipp_t* scheduler_request(ipp_op_t operation) {
  ipp_t* request = ippNewRequest(operation);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, scheduler_uri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  return request;
}

// The scheduler as the log names it: its socket path, or host and port.
std::string scheduler_name() {
  const std::string server = cupsServer();
  return server.empty() || server.front() == '/' ? server : server + ":" + std::to_string(ippPort());
}

// The outcome of one exchange with the scheduler.
enum class exchange { done, refused, unanswered };

// Asks for a subscription to the printer events; its id goes to `id`.
exchange create_subscription(http_t* http, int32_t lease_seconds, int& id) {
  ipp_t* request = scheduler_request(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS);
  ippAddStrings(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-events",
                static_cast<int>(std::size(printer_events)), nullptr, printer_events);
  ippAddString(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-pull-method", nullptr, "ippget");
  ippAddInteger(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration", lease_seconds);
  ipp_t* response = cupsDoRequest(http, request, "/");
  exchange outcome = exchange::refused;
  if (unanswered(response)) {
    outcome = exchange::unanswered;
  } else if (cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE) {
    if (ipp_attribute_t* attr = ippFindAttribute(response, "notify-subscription-id", IPP_TAG_INTEGER)) {
      id = ippGetInteger(attr, 0);
      outcome = exchange::done;
    }
  }
  ippDelete(response);
  return outcome;
}

// Fetches the events from sequence number `next` on. `changed` tells whether there were any; `next` moves
// past them. "Refused" means the subscription is gone (expired, or the scheduler lost it).
exchange fetch_events(http_t* http, int id, int& next, bool& changed) {
  ipp_t* request = scheduler_request(IPP_OP_GET_NOTIFICATIONS);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-ids", id);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-sequence-numbers", next);
  ipp_t* response = cupsDoRequest(http, request, "/");
  if (unanswered(response)) {
    ippDelete(response);
    return exchange::unanswered;
  }
  if (cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE) {
    ippDelete(response);
    return exchange::refused;
  }
  for (ipp_attribute_t* attr = ippFirstAttribute(response); attr; attr = ippNextAttribute(response)) {
    const char* name = ippGetName(attr);
    if (ippGetGroupTag(attr) != IPP_TAG_EVENT_NOTIFICATION || !name ||
        std::string_view(name) != "notify-sequence-number")
      continue;
    changed = true;
    next = std::max(next, ippGetInteger(attr, 0) + 1);
  }
  ippDelete(response);
  return exchange::done;
}

// Extends the subscription's lease.
exchange renew_subscription(http_t* http, int id, int32_t lease_seconds) {
  ipp_t* request = scheduler_request(IPP_OP_RENEW_SUBSCRIPTION);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id", id);
  ippAddInteger(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration", lease_seconds);
  ipp_t* response = cupsDoRequest(http, request, "/");
  const exchange outcome = unanswered(response)                               ? exchange::unanswered
                           : cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE ? exchange::done
                                                                              : exchange::refused;
  ippDelete(response);
  return outcome;
}

// Gives the subscription back, so that the scheduler does not keep it until its lease ends.
void cancel_subscription(http_t* http, int id) {
  ipp_t* request = scheduler_request(IPP_OP_CANCEL_SUBSCRIPTION);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id", id);
  ippDelete(cupsDoRequest(http, request, "/"));
}

}  // namespace

// The worker's view of the scheduler.
struct cups_watch::link_state {
  http_t* http = nullptr;
  int subscription = 0;
  int stale_subscription = 0;  // the subscription held before an outage, given back once a new one exists
  int next_event = 1;
  bool polling = false;         // subscriptions were refused: the queues are read every poll interval
  bool reachable = true;        // whether the scheduler answered last (an outage is logged once)
  bool read_queues = true;      // something may have changed since the last reading
  bool refusal_logged = false;  // the switch to polling is logged once
  std::chrono::steady_clock::time_point next_renewal;
  std::chrono::steady_clock::time_point next_poll;
  std::chrono::steady_clock::time_point next_subscription_attempt;
};

cups_watch::cups_watch(runloop& loop, listener on_queues, cups_watch_timing timing)
    : loop_(loop), on_queues_(std::make_shared<listener>(std::move(on_queues))), timing_(timing) {}

cups_watch::~cups_watch() {
  stop();
}

bool cups_watch::start(bool reachable) {
  if (worker_) {
    QV_LOG(log_error, "Unable to start the CUPS watch: it runs already");
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_requested_ = false;
  }
  reachable_at_start_ = reachable;
  worker_ = new thread;
  if (worker_->start([this] { run(); })) return true;
  worker_ = nullptr;
  return false;
}

void cups_watch::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_requested_ = true;
  }
  wake_.notify_all();
  if (worker_) worker_->join();
  worker_ = nullptr;
  // Reports already posted hold the listener weakly: with this reference gone they do nothing.
  on_queues_ = std::make_shared<listener>(*on_queues_);
}

bool cups_watch::stop_requested() {
  std::lock_guard<std::mutex> lock(mutex_);
  return stop_requested_;
}

bool cups_watch::pause_for(std::chrono::milliseconds pause) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_for(lock, pause, [this] { return stop_requested_; });
}

void cups_watch::report(bool reachable, std::vector<cups_queue> queues) {
  std::weak_ptr<listener> target = on_queues_;
  loop_.post([target, reachable, queues = std::move(queues)]() mutable {
    if (const std::shared_ptr<listener> l = target.lock()) (*l)(reachable, std::move(queues));
  });
}

void cups_watch::run() {
  link_state link;
  link.reachable = reachable_at_start_;
  while (!stop_requested()) {
    const turn ended = take_turn(link);
    if (ended == turn::resubscribe) continue;
    const std::chrono::milliseconds pause = ended == turn::lost ? timing_.retry_interval
                                            : link.polling      ? timing_.poll_interval
                                                                : timing_.fetch_interval;
    if (!pause_for(pause)) break;
  }
  if (link.http && link.subscription) cancel_subscription(link.http, link.subscription);
  if (link.http) httpClose(link.http);
  mode_ = cups_watch_mode::connecting;
}

cups_watch::turn cups_watch::take_turn(link_state& link) {
  // Connecting leaves the last IPP error as it was; errno tells why.
  if (!link.http && !connect(link)) return lose(link, strerror(errno));
  if (!link.subscription && !link.polling && !subscribe(link)) return lose(link, cupsLastErrorString());
  const auto now = std::chrono::steady_clock::now();
  if (link.subscription) {
    if (const turn followed = follow_events(link, now); followed != turn::settled) return followed;
  } else if (link.polling && now >= link.next_poll) {
    link.read_queues = true;
    link.next_poll = now + timing_.poll_interval;
    // A scheduler that refused (at its limit of subscriptions, say) may take one later.
    if (now >= link.next_subscription_attempt) link.polling = false;
  }
  if (link.read_queues && !read_and_report(link)) return lose(link, cupsLastErrorString());
  return turn::settled;
}

bool cups_watch::connect(link_state& link) {
  link.http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), /*blocking=*/1,
                           request_limit_ms, nullptr);
  if (!link.http) return false;
  httpSetTimeout(link.http, request_limit_ms / 1000.0, nullptr, nullptr);
  return true;
}

bool cups_watch::subscribe(link_state& link) {
  const exchange subscribed = create_subscription(link.http, timing_.lease_seconds, link.subscription);
  if (subscribed == exchange::unanswered) return false;
  const auto now = std::chrono::steady_clock::now();
  if (subscribed == exchange::refused) {
    if (!link.refusal_logged) {
      QV_LOG(
          log_warning,
          "Unable to subscribe to CUPS printer events at '%s': %s; reading its queues every %lld ms instead",
          scheduler_name().c_str(), cupsLastErrorString(),
          static_cast<long long>(timing_.poll_interval.count()));
      link.refusal_logged = true;
    }
    link.polling = true;
    mode_ = cups_watch_mode::polling;
    link.next_subscription_attempt = now + subscription_retry_period;
  } else {
    QV_LOG(log_verbose, "Following CUPS at '%s' through subscription %d", scheduler_name().c_str(),
           link.subscription);
    mode_ = cups_watch_mode::subscription;
    // A scheduler that restarts keeps its subscriptions: the one held before is given back now.
    if (link.stale_subscription && link.stale_subscription != link.subscription)
      cancel_subscription(link.http, link.stale_subscription);
    link.stale_subscription = 0;
    link.next_event = 1;
    link.next_renewal = now + renewal_period();
  }
  // Whatever changed while nobody was listening shows in a fresh reading.
  link.read_queues = true;
  return true;
}

cups_watch::turn cups_watch::follow_events(link_state& link, std::chrono::steady_clock::time_point now) {
  bool changed = false;
  const exchange fetched = fetch_events(link.http, link.subscription, link.next_event, changed);
  if (fetched == exchange::unanswered) return lose(link, cupsLastErrorString());
  if (fetched == exchange::refused) {
    QV_LOG(log_information, "CUPS subscription %d ended (%s); subscribing again", link.subscription,
           cupsLastErrorString());
    link.subscription = 0;
    return turn::resubscribe;
  }
  link.read_queues = link.read_queues || changed;
  if (now >= link.next_renewal) {
    if (renew_subscription(link.http, link.subscription, timing_.lease_seconds) == exchange::refused)
      link.subscription = 0;
    link.next_renewal = now + renewal_period();
  }
  return turn::settled;
}

bool cups_watch::read_and_report(link_state& link) {
  bool listed = false;
  std::vector<cups_queue> queues = list_cups_queues(listed, /*log_outcome=*/false);
  if (!listed) return false;
  if (!link.reachable) {
    QV_LOG(log_information, "CUPS at '%s' answers again: %zu queue(s) offered", scheduler_name().c_str(),
           queues.size());
    link.reachable = true;
  }
  link.read_queues = false;
  report(true, std::move(queues));
  return true;
}

cups_watch::turn cups_watch::lose(link_state& link, const char* cause) {
  if (link.http) httpClose(link.http);
  link.http = nullptr;
  // A scheduler that restarts keeps its subscriptions; the old one is given back once a new one exists.
  if (link.subscription) link.stale_subscription = link.subscription;
  link.subscription = 0;
  mode_ = cups_watch_mode::connecting;
  // One line when the scheduler stops answering and one when it is back, however many attempts between.
  if (link.reachable) {
    QV_LOG(log_warning, "Unable to reach CUPS at '%s': %s; its queues are withdrawn until it answers again",
           scheduler_name().c_str(), cause);
    link.reachable = false;
    report(false, {});
  }
  return turn::lost;
}

}  // namespace quorvane::print_service
