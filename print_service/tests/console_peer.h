// A console for the tests: a `server_stub` over the poll() run loop whose delegate records what arrives.
#pragma once

#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/device.h"
#include "model/job.h"
#include "model/printer.h"
#include "net/jsonrpc_message.h"
#include "net/poll_runloop.h"
#include "service_link/server_stub.h"
#include "service_process.h"

namespace quorvane::print_service::testing {

/// What a console heard from the service.
struct console_record : server::delegate {
  std::vector<std::vector<smart_ptr<model::printer>>> updated;
  std::vector<std::vector<smart_ptr<model::printer>>> removed;
  struct print_request {
    smart_ptr<model::printer> printer;
    smart_ptr<model::job> job;
    print_completion completion;
  };
  std::vector<print_request> prints;
  std::vector<std::vector<smart_ptr<model::device>>> devices;  // each "devicesWereUpdated" list

  void printersWereUpdated(std::list<smart_ptr<model::printer>>& printers) override {
    updated.emplace_back(printers.begin(), printers.end());
  }
  void printersWereRemoved(std::list<smart_ptr<model::printer>>& printers) override {
    removed.emplace_back(printers.begin(), printers.end());
  }
  void devicesWereUpdated(std::list<smart_ptr<model::device>>& list) override {
    devices.emplace_back(list.begin(), list.end());
  }
  void devicesWereRemoved(std::list<smart_ptr<model::device>>&) override {}
  void print(smart_ptr<model::printer>& printer, smart_ptr<model::job>& job,
             print_completion completion) override {
    prints.push_back({printer, job, std::move(completion)});
  }
};

/// A console that answers every "print" as delivered (status 0, state 9) on the run loop's next turn, as a
/// console that printed the job answers; counts the jobs and may tell someone of each.
struct answering_console : server::delegate {
  size_t answered = 0;
  std::function<void()> on_print;  // called as each "print" arrives, when set

  void printersWereUpdated(std::list<smart_ptr<model::printer>>&) override {}
  void printersWereRemoved(std::list<smart_ptr<model::printer>>&) override {}
  void devicesWereUpdated(std::list<smart_ptr<model::device>>&) override {}
  void devicesWereRemoved(std::list<smart_ptr<model::device>>&) override {}
  void print(smart_ptr<model::printer>&, smart_ptr<model::job>&, print_completion completion) override {
    if (on_print) on_print();
    main_runloop()->post([this, completion = std::move(completion)] {
      ++answered;
      completion(0, model::job_state_completed, 0);
    });
  }
};

/// A "submitJob" request for `file` on the printer named `printer`.
inline Json::Value submit_job_request(const std::string& printer, const std::string& file) {
  Json::Value job(Json::objectValue);
  job["printer"] = printer;
  job["file"] = file;
  return jsonrpc::request("submitJob", jsonrpc::one_param(std::move(job)));
}

/// Sends "updatePrinter" for a new printer with `uuid` and `name` over `stub`, not waiting for the answer.
inline void add_printer(server_stub& stub, const char* uuid, const std::string& name) {
  smart_ptr<model::printer> p(new model::printer());
  p->setUuid(uuid);
  p->setName(wide_string::from_narrow(name));
  stub.updatePrinter(p, [](int32_t) {});
}

/// One console: its record, its stub, and the statuses its requests received (shared with the callbacks,
/// so a callback told of a late close never writes into a console that is gone).
class console_peer {
 public:
  struct outcome {
    std::vector<int32_t> statuses;  // every status the callback received, in order
    Json::Value value;              // the attributes of the last call (attributes only)
  };

  /// A console whose stub is not connected yet.
  console_peer() : stub_(new server_stub(&record_)) {}
  /// Closes the connection, telling outstanding calls 10.
  ~console_peer() {
    if (stub_->connected()) stub_->handle_close();
  }

  /// The console's stub.
  server_stub& stub() { return *stub_; }
  /// What the console heard.
  console_record& record() { return record_; }

  /// Connects to the service on 127.0.0.1 at `port`; the stub watches itself on the main run loop.
  int32_t connect(int port) { return connect_to_loopback(*stub_, static_cast<uint16_t>(port)); }

  /// A status callback that appends to a new outcome, and that outcome.
  std::pair<server::status_callback, std::shared_ptr<outcome>> status_sink() {
    auto o = std::make_shared<outcome>();
    return {[o](int32_t status) { o->statuses.push_back(status); }, o};
  }

  /// Sends "authenticate" with the empty token.
  std::shared_ptr<outcome> authenticate() {
    auto [callback, o] = status_sink();
    stub_->authenticate("", callback);
    return o;
  }
  /// Sends "observe" with `enable`.
  std::shared_ptr<outcome> observe(bool enable) {
    auto [callback, o] = status_sink();
    stub_->observe(enable, callback);
    return o;
  }
  /// A barrier on this connection: two "attributes" requests, each sent once the one before was answered,
  /// with `loop` running. The service answers in the order requests arrive, and work it posted to its loop
  /// while handling a message (a delivery) runs no later than the loop turn that reads the next one: once
  /// the second answer is here, everything the service was going to send this console before has arrived.
  /// False when an answer did not come within the event bound.
  bool settle(poll_runloop& loop) {
    for (int round = 0; round < 2; ++round) {
      auto answered = attributes();
      if (!loop.run_until([&] { return !answered->statuses.empty(); }, event_bound)) return false;
    }
    return true;
  }
  /// Sends "attributes".
  std::shared_ptr<outcome> attributes() {
    auto o = std::make_shared<outcome>();
    stub_->attributes([o](int32_t status, Json::Value& value) {
      o->statuses.push_back(status);
      o->value = value;
    });
    return o;
  }

 private:
  console_record record_;
  smart_ptr<server_stub> stub_;
};

}  // namespace quorvane::print_service::testing
