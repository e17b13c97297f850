// Hands arbitrary payloads to the real print service running in this process, on the service's end of a
// loopback connection of the service's own account (so every method is reachable), each followed by an
// "attributes" request, so that what a payload stored is read again.
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>

#include "fuzz/fuzzed_service.h"
#include "net/jsonrpc_connection.h"
#include "net/poll_runloop.h"

namespace {

using namespace quorvane;
using namespace std::chrono_literals;

// A service in a data folder of its own (in memory where /dev/shm exists), made anew every
// `runs_per_service` inputs so that printers, queued jobs and spooled copies cannot pile up and make later
// inputs slower.
class service_under_test {
 public:
  service_under_test() {
    set_main_runloop(&loop_);
    restart();
  }

  // Hands one framed payload, then an "attributes" request, straight to the service's end of the
  // connection (the socket's read path is the netstring target's), and runs the loop until nothing is left
  // to do: the client reads every answer, so the service's queue for it never fills, and work the service
  // posted runs before the next input.
  void send(const uint8_t* data, size_t size) {
    if (++runs_ % runs_per_service == 0) restart();
    if (!service_end_ || !service_end_->connected()) connect();
    if (!service_end_ || !service_end_->connected()) std::abort();
    const std::string framed =
        std::to_string(size) + ":" + std::string(reinterpret_cast<const char*>(data), size) + ",";
    smart_ptr<jsonrpc::connection> c = service_end_;
    if (c->deliver(framed.data(), framed.size()) && c->connected()) c->deliver(probe_.data(), probe_.size());
    while (loop_.run_once(/*timeout_ms=*/0) > 0) {
    }
  }

 private:
  void restart() {
    if (client_) client_->handle_close();
    client_ = nullptr;
    service_end_ = nullptr;
    service_.restart(loop_);
  }

  // Connects a client as a console does; the service adopts the connection at its first request, whose
  // answer shows that the service serves it. A service that does not answer within 10 s is a hang.
  void connect() {
    client_ = smart_ptr<jsonrpc::connection>(new jsonrpc::connection);
    service_end_ = nullptr;
    if (connect_to_loopback(*client_, static_cast<uint16_t>(service_.service().port())) != 0) return;
    client_->watch_on(loop_);
    // The callback may run after this call (at a later close), so it counts into a member.
    const uint64_t before = answers_;
    Json::Value probe(Json::objectValue);
    probe["method"] = "attributes";
    client_->call(probe, [this](const Json::Value&) { ++answers_; });
    smart_ptr<jsonrpc::connection> c = client_;
    if (!loop_.run_until([&] { return answers_ != before || !c->connected(); }, 10s)) std::abort();
    if (!c->connected() || jsonrpc::accepted_connections().empty()) return;
    service_end_ = jsonrpc::accepted_connections().back();
  }

  // Every printer change offers the whole printer list again, so inputs slow down as printers pile up, and
  // a new service costs tens of milliseconds: measured, 250 runs gave 1.2 to 2.5 times as many inputs a
  // second as 1000.
  static constexpr uint64_t runs_per_service = 250;

  poll_runloop loop_;
  fuzz::fuzzed_service service_;
  smart_ptr<jsonrpc::connection> client_;
  smart_ptr<jsonrpc::connection> service_end_;  // the service's end of `client_`'s connection
  const std::string probe_ = [] {
    Json::Value request(Json::objectValue);
    request["id"] = 0;
    request["method"] = "attributes";
    return jsonrpc::frame(request);
  }();
  uint64_t runs_ = 0;
  uint64_t answers_ = 0;  // answers (or closes) the probes have had
};

// Whether the connection's reader takes `size` bytes as one JSON value (the same settings as the
// connection's: comments allowed, nothing after the value, a nesting limit that throws).
bool readable_json(const uint8_t* data, size_t size) {
  static const std::unique_ptr<Json::CharReader> reader = [] {
    Json::CharReaderBuilder builder;
    builder["allowComments"] = true;
    builder["collectComments"] = false;
    builder["failIfExtra"] = true;
    return std::unique_ptr<Json::CharReader>(builder.newCharReader());
  }();
  const auto* text = reinterpret_cast<const char*>(data);
  Json::Value value;
  std::string errors;
  try {
    return reader->parse(text, text + size, &value, &errors);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A payload that is not JSON never reaches the service (the connection closes on it, as the netstring
  // target shows); each would only cost a new connection here. Such inputs are left out of the corpus.
  if (!readable_json(data, size)) return -1;
  static service_under_test* service = new service_under_test;
  service->send(data, size);
  return 0;
}
