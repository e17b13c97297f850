// Round trips of "print" requests with full printer and job records between the service's JSON-RPC end and
// the console's server_stub on loopback, beside the JSON work alone (writing and parsing the same request and
// reply once each). Prints both figures and their ratio.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "core/log.h"
#include "model/job.h"
#include "model/media.h"
#include "model/printer.h"
#include "net/jsonrpc_connection.h"
#include "net/jsonrpc_manager.h"
#include "net/poll_runloop.h"
#include "service/server_stub.h"

namespace quorvane {
namespace {

using namespace std::chrono_literals;

// A printer with every field set, the default formats and the eleven default media with margins.
Json::Value full_printer() {
  smart_ptr<model::printer> p(new model::printer());
  p->setUuid("6f1c8a52-0d0e-4f7b-9a51-3c1d2e4f5a6b");
  p->setName(wide_string::from_narrow("office_laser"));
  p->setDisplayName("Office Laser (2nd floor)");
  p->setLocation(wide_string::from_narrow("Room 204"));
  p->setMake(wide_string::from_narrow("Acme"));
  p->setModel(wide_string::from_narrow("Laser 5000 Series"));
  p->setFeature(model::printer_feature::color, 9);
  p->setFeature(model::printer_feature::landscape, 9);
  p->setFeature(model::printer_feature::duplex, 9);
  p->setFeature(model::printer_feature::copy, 9);
  p->setFormats(model::default_formats());
  p->setMedia(model::default_printer_media());
  p->setDirectory(wide_string::from_narrow("/home/ann/Documents/Received"));
  p->setAction(2);
  p->setActionParam(wide_string::from_narrow("office_laser"));
  p->setAcl({"ann", "bob", "carol"});
  p->setOwner(wide_string::from_narrow("ann"));
  Json::Value out(Json::objectValue);
  p->writeJSON(out);
  return out;
}

Json::Value full_job() {
  smart_ptr<model::job> j(new model::job());
  j->setUuid("0b7f1c2e-8d3a-4e5f-9a6b-7c8d9e0f1a2b");
  j->setDeviceAddress("192.168.1.20");
  j->setDeviceID(wide_string::from_narrow("3C:22:FB:01:02:03"));
  j->setPrinterID("6f1c8a52-0d0e-4f7b-9a51-3c1d2e4f5a6b");
  j->setName(wide_string::from_narrow("Quarterly Report.pdf"));
  j->setUser(wide_string::from_narrow("ann"));
  j->setFormat(wide_string::from_narrow("application/pdf"));
  j->setCopies(2);
  j->setDuplex(1);
  j->setMedia(model::builtin_media_at(0));
  j->setFilename(
      wide_string::from_narrow("/home/ann/.local/state/quorvane-service/spool/0b7f/Quarterly Report.pdf"));
  j->setTimeAtCreation(1765000000);
  Json::Value out(Json::objectValue);
  j->writeJSON(out);
  return out;
}

Json::Value print_request() {
  Json::Value request(Json::objectValue);
  request["jsonrpc"] = "2.0";
  request["method"] = "print";
  request["params"].append(full_printer());
  request["params"].append(full_job());
  request["id"] = 1;
  return request;
}

// The console: answers every print at once, as a delivery that needs no work would.
struct answering_console : server::delegate {
  void printersWereUpdated(std::list<smart_ptr<model::printer>>&) override {}
  void printersWereRemoved(std::list<smart_ptr<model::printer>>&) override {}
  void devicesWereUpdated(std::list<smart_ptr<model::device>>&) override {}
  void devicesWereRemoved(std::list<smart_ptr<model::device>>&) override {}
  void print(smart_ptr<model::printer>&, smart_ptr<model::job>&, print_completion completion) override {
    completion(0, job_state_completed, 0);
  }
};

// The service's end: the delegate responses need to reach their calls (it gets no requests here), and the
// connection the manager adopted for the console's socket.
struct service_end : jsonrpc::connection::delegate {
  void request_handler(smart_ptr<jsonrpc::connection>, Json::Value&, jsonrpc::reply_function) override {}
  smart_ptr<jsonrpc::connection> to_console;
};

void on_first_bytes(smart_ptr<socket> s, int32_t, void* context) {
  jsonrpc::offer_outcome outcome = jsonrpc::manager::shared().offer(s, nullptr);
  switch (outcome.result) {
    case jsonrpc::offer_result::waiting:
      return;
    case jsonrpc::offer_result::refused:
      // Left watched, a peer that ended or spoke something else would be reported again on every round.
      main_runloop()->unwatch(s);
      s->close();
      return;
    case jsonrpc::offer_result::adopted:
      static_cast<service_end*>(context)->to_console = std::move(outcome.adopted);
      return;
  }
}

void on_accept(smart_ptr<socket> listener, int32_t, void* context) {
  while (smart_ptr<socket> peer = listener->accept()) {
    peer->set_delegate(static_cast<service_end*>(context));
    main_runloop()->watch(peer, 4, on_first_bytes, context);
  }
}

void BM_PrintRoundTripOnLoopback(benchmark::State& state) {
  set_log_level(log_error);
  poll_runloop loop;
  set_main_runloop(&loop);
  service_end service;
  answering_console console;
  smart_ptr<socket> listener = listen_on_loopback(0);
  if (!listener) {
    state.SkipWithError("no loopback listener");
    return;
  }
  loop.watch(listener, 4, on_accept, &service);
  smart_ptr<server_stub> stub(new server_stub(&console));
  // The console speaks first, as it does on every connection; the service adopts the socket then.
  const bool connected = connect_to_loopback(*stub, static_cast<uint16_t>(listener->local_port())) == 0;
  if (connected) stub->authenticate("", nullptr);
  if (!connected || !loop.run_until([&] { return bool(service.to_console); }, 5s)) {
    state.SkipWithError("the console could not connect");
    return;
  }
  smart_ptr<jsonrpc::connection> to_console = std::move(service.to_console);
  Json::Value request = print_request();
  request.removeMember("id");
  int64_t answered = 0;
  for (auto _ : state) {
    const int64_t before = answered;
    to_console->call(request, [&answered](const Json::Value& response) {
      if (response_status(response) == 0) ++answered;
    });
    loop.run_until([&] { return answered != before; }, 5s);
  }
  if (answered != static_cast<int64_t>(state.iterations())) state.SkipWithError("a print was not answered");
  state.SetItemsProcessed(state.iterations());
  stub->handle_close();
  to_console->handle_close();
  loop.unwatch(listener);
  set_main_runloop(nullptr);
}
BENCHMARK(BM_PrintRoundTripOnLoopback)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

void BM_PrintJsonWorkAlone(benchmark::State& state) {
  const Json::Value request = print_request();
  const Json::Value reply = print_reply(Json::Value(1), 0, job_state_completed, 0);
  Json::CharReaderBuilder builder;
  builder["allowComments"] = true;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  for (auto _ : state) {
    const std::string request_text = jsonrpc::compact_text(request);
    Json::Value parsed_request;
    reader->parse(request_text.data(), request_text.data() + request_text.size(), &parsed_request, nullptr);
    const std::string reply_text = jsonrpc::compact_text(reply);
    Json::Value parsed_reply;
    reader->parse(reply_text.data(), reply_text.data() + reply_text.size(), &parsed_reply, nullptr);
    benchmark::DoNotOptimize(parsed_request);
    benchmark::DoNotOptimize(parsed_reply);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PrintJsonWorkAlone)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

// Keeps each benchmark's time per iteration for the ratio.
class ratio_reporter : public benchmark::ConsoleReporter {
 public:
  /// Plain text, so the summary line after the table reads cleanly.
  ratio_reporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (!run.error_occurred && run.iterations > 0) {
        seconds_per_iteration[run.benchmark_name()] =
            run.real_accumulated_time / static_cast<double>(run.iterations);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> seconds_per_iteration;
};

}  // namespace
}  // namespace quorvane

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  quorvane::ratio_reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto& t = reporter.seconds_per_iteration;
  const auto trip = t.find("BM_PrintRoundTripOnLoopback/min_time:1.000");
  const auto json = t.find("BM_PrintJsonWorkAlone/min_time:1.000");
  if (trip == t.end() || json == t.end()) {
    std::printf("ratio: not available (a benchmark did not run)\n");
    return 1;
  }
  std::printf(
      "print round trip: %.1f us (%.0f per second); JSON work alone: %.1f us (%.0f per second); "
      "ratio %.2f (goal <= 1.5)\n",
      trip->second * 1e6, 1.0 / trip->second, json->second * 1e6, 1.0 / json->second,
      trip->second / json->second);
  return 0;
}
