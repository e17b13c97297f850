#include "ui/session/service_session.h"

#include <cstdlib>
#include <string>

#include "core/log.h"
#include "database/object.h"
#include "spooler/spooler.h"
#include "ui/base/preference_values.h"
#include "ui/session/default_printers.h"

namespace quorvane {

uint16_t service_port() {
  const std::string text = environment("QUORVANE_SERVICE_PORT");
  if (text.empty()) return default_service_port;
  char* end = nullptr;
  const long port = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || port < 1 || port > 65535) {
    QV_LOG(log_warning, "Unable to use port '%s' of QUORVANE_SERVICE_PORT: not a number from 1 to 65535",
           text.c_str());
    return default_service_port;
  }
  return static_cast<uint16_t>(port);
}

// The stub whose socket's close, reached from the connection's close handling, tells the session.
class service_session::stub_impl final : public server_stub {
 public:
  explicit stub_impl(service_session* session) : server_stub(session), session_(session) {}

  int32_t close() override {
    const bool was_connected = connected();
    const int32_t result = server_stub::close();
    if (was_connected && session_) session_->connection_closed();
    return result;
  }

  void forget_session() { session_ = nullptr; }

 private:
  service_session* session_;
};

service_session::service_session(printer_list_controller& list, uint16_t port)
    : list_(list), port_(port), stub_(make_counted<stub_impl>(this)) {
  retry_timer_.setInterval(connect_retry_ms);
  QObject::connect(&retry_timer_, &QTimer::timeout, &retry_timer_, [this] { attempt(); });
  deliver_ = [](model::printer_ptr printer, model::job_ptr job, print_completion completion) {
    spooler::shared().print(std::move(printer), std::move(job), std::move(completion));
  };
}

service_session::~service_session() {
  stopping_ = true;
  retry_timer_.stop();
  if (stub_->connected()) stub_->handle_close();
  stub_->forget_session();
}

server_stub& service_session::stub() {
  return *stub_;
}

void service_session::start() {
  enter_connecting();
}

void service_session::enter_connecting() {
  connecting_ = true;
  list_.enter_connecting();
  for (const auto& handler : view_handlers_) handler(false);
  // A close reported while an attempt runs (the connect could not be watched) retries from the timer.
  if (in_attempt_) {
    retry_timer_.start(connect_retry_ms);
    return;
  }
  attempt();
}

void service_session::attempt() {
  if (stopping_) return;
  if (stub_->connected()) {
    retry_timer_.stop();
    return;
  }
  in_attempt_ = true;
  const int32_t result = connect_to_loopback(*stub_, port_);
  in_attempt_ = false;
  if (result != 0) {
    retry_timer_.start(connect_retry_ms);
    ++failed_attempts_;
    if (attempt_failed_handler_) attempt_failed_handler_(failed_attempts_);
    return;
  }
  retry_timer_.stop();
  failed_attempts_ = 0;
  const uint64_t generation = ++generation_;
  stub_->authenticate("", [this, generation](int32_t status) {
    if (!current(generation) || status != 0) return;
    Json::Value print_mode(Json::objectValue);
    print_mode["printMode"] = 1;
    stub_->saveAttributes(print_mode, {});
    stub_->attributes([this, generation](int32_t status, Json::Value& attributes) {
      if (!current(generation)) return;
      if (status == 0 && attributes.isObject()) {
        const Json::Value& level = attributes["logLevel"];
        if (level.isInt()) {
          set_log_level(level.asInt());
        } else if (!level.isNull()) {
          QV_LOG(log_warning, "Unable to use attribute 'logLevel': not an integer");
        }
        // How phones reach the printers (a service of an older version says nothing: port 0).
        const Json::Value& ipp_port = attributes["ippPort"];
        ipp_.port = ipp_port.isInt() && ipp_port.asInt() > 0 && ipp_port.asInt() <= 65535
                        ? static_cast<uint16_t>(ipp_port.asInt())
                        : 0;
        ipp_.loopback_only =
            attributes["ippListen"].isString() && attributes["ippListen"].asString() == "loopback";
        ipp_.dnssd = !attributes["ippDnssd"].isBool() || attributes["ippDnssd"].asBool();
        const Json::Value& flags = attributes["filenameGenerationFlags"];
        if (flags.isInt()) {
          filename_flags_ = flags.asInt();
        } else if (!flags.isNull()) {
          QV_LOG(log_warning, "Unable to use attribute 'filenameGenerationFlags': not an integer");
        }
      }
      stub_->observe(true, [this, generation](int32_t status) {
        if (current(generation) && status == 0) make_ready();
      });
    });
  });
}

void service_session::make_ready() {
  connecting_ = false;
  retry_timer_.stop();
  list_.enter_connected();
  for (const auto& handler : view_handlers_) handler(true);

  if (read_preference(setup_printers_preference) != 0) {
    if (!database::open_cursor<model::printer>().current()) create_default_printers();
    write_preference(setup_printers_preference, 0);
  }
  // The service learns the console's own printers from here; they reach the list when it reports them.
  for (auto rows = database::open_cursor<model::printer>(); rows.current(); rows.next()) {
    stub_->updatePrinter(rows.current(), {});
  }
}

void service_session::connection_closed() {
  if (stopping_) return;
  enter_connecting();
}

void service_session::updatePrinter(model::printer_ptr printer, server::status_callback done) {
  stub_->updatePrinter(std::move(printer), std::move(done));
}

void service_session::removePrinter(model::printer_ptr printer, server::status_callback done) {
  stub_->removePrinter(std::move(printer), std::move(done));
}

void service_session::saveAttributes(const Json::Value& attributes, server::status_callback done) {
  stub_->saveAttributes(attributes, std::move(done));
}

void service_session::printersWereUpdated(std::list<smart_ptr<model::printer>>& printers) {
  list_.printersWereUpdated(printers);
}

void service_session::printersWereRemoved(std::list<smart_ptr<model::printer>>& printers) {
  list_.printersWereRemoved(printers);
}

void service_session::print(smart_ptr<model::printer>& printer, smart_ptr<model::job>& job,
                            print_completion completion) {
  if (!arrival_handler_) {
    delivered_->print(printer, job, std::move(completion), deliver_);
    return;
  }
  // The handler is told of what was really delivered, after the answer went to the service.
  auto deliver_and_tell = [deliver = deliver_, tell = arrival_handler_](
                              model::printer_ptr p, model::job_ptr j, print_completion done) {
    auto told = [p, j, tell, done = std::move(done)](int32_t status, int32_t state, int32_t id) {
      done(status, state, id);
      tell(*p, *j, status);
    };
    deliver(p, j, std::move(told));
  };
  delivered_->print(printer, job, std::move(completion), deliver_and_tell);
}

}  // namespace quorvane
