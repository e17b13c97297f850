// Sends arbitrary payloads to the real print service running in this process, over a loopback connection
// of the service's own account (so every method is reachable), each followed by an "attributes" request
// whose answer shows that the service has handled the payload and still answers.
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "core/log.h"
#include "net/jsonrpc_connection.h"
#include "net/poll_runloop.h"
#include "print_service/local_service.h"

namespace {

using namespace quorvane;
using namespace std::chrono_literals;

// A service in a data folder of its own, made anew now and then so that queued jobs and spooled copies
// cannot pile up over millions of runs.
class service_under_test {
 public:
  service_under_test() {
    set_log_level(log_none);
    // No CUPS scheduler is asked: its queues are not what is tested here.
    setenv("CUPS_SERVER", "/nonexistent/quorvane-fuzz/cups.sock", 1);
    set_main_runloop(&loop_);
    restart();
  }

  // Sends one framed payload and then "attributes"; runs the loop until that is answered or the service
  // has closed the connection.
  void send(const uint8_t* data, size_t size) {
    if (++runs_ % 10000 == 0) restart();
    if (!client_ || !client_->connected()) connect();
    if (!client_ || !client_->connected()) std::abort();
    const std::string framed =
        std::to_string(size) + ":" + std::string(reinterpret_cast<const char*>(data), size) + ",";
    if (client_->send(framed.data(), framed.size(), 0) != static_cast<ssize_t>(framed.size())) return;
    // The probe's callback may run after this call (at a later close), so it counts into a member.
    const uint64_t before = answers_;
    Json::Value probe(Json::objectValue);
    probe["method"] = "attributes";
    client_->call(probe, [this](const Json::Value&) { ++answers_; });
    smart_ptr<jsonrpc::connection> c = client_;
    if (!loop_.run_until([&] { return answers_ != before || !c->connected(); }, 10s)) std::abort();  // a hang
  }

 private:
  void restart() {
    if (client_) client_->handle_close();
    client_ = nullptr;
    service_.reset();
    if (!folder_.empty()) std::filesystem::remove_all(folder_);
    char pattern[] = "/tmp/quorvane-fuzz-XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    folder_ = pattern;
    print_service::serve_options options;
    options.port = 0;
    options.data_folder = folder_ + "/data";
    options.log_level = log_none;
    options.log_level_given = true;
    service_ = std::make_unique<print_service::local_service>(loop_);
    if (!service_->start(options)) std::abort();
  }

  void connect() {
    client_ = smart_ptr<jsonrpc::connection>(new jsonrpc::connection);
    if (connect_to_loopback(*client_, static_cast<uint16_t>(service_->port())) != 0) return;
    client_->watch_on(loop_);
  }

  poll_runloop loop_;
  std::string folder_;
  std::unique_ptr<print_service::local_service> service_;
  smart_ptr<jsonrpc::connection> client_;
  uint64_t runs_ = 0;
  uint64_t answers_ = 0;  // answers (or closes) the probes have had
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static service_under_test* service = new service_under_test;
  service->send(data, size);
  return 0;
}
