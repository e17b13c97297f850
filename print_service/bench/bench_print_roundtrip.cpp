// Round trips of "print" requests with full printer and job records between the service's JSON-RPC end and
// the console's server_stub on loopback, beside the JSON work alone (writing and parsing the same request and
// reply once each). Prints both figures and their ratio: medians over repetitions run in random interleaved
// order, of real time (the goal) and of CPU time (steadier on a loaded machine).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/json_text.h"
#include "core/log.h"
#include "model/job.h"
#include "model/media.h"
#include "model/printer.h"
#include "net/jsonrpc_connection.h"
#include "net/jsonrpc_manager.h"
#include "net/poll_runloop.h"
#include "service_link/server_stub.h"

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
  p->setAction(model::action_print);
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
  Json::Value params = jsonrpc::one_param(full_printer());
  params.append(full_job());
  Json::Value request = jsonrpc::request("print", std::move(params));
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
    completion(0, model::job_state_completed, 0);
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
    main_runloop()->watch(peer, event_readable, on_first_bytes, context);
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
  loop.watch(listener, event_readable, on_accept, &service);
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
      if (jsonrpc::response_status(response) == 0) ++answered;
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
BENCHMARK(BM_PrintRoundTripOnLoopback)->Unit(benchmark::kMicrosecond)->MinTime(0.3);

void BM_PrintJsonWorkAlone(benchmark::State& state) {
  const Json::Value request = print_request();
  const Json::Value reply = print_reply(Json::Value(1), 0, model::job_state_completed, 0);
  Json::CharReaderBuilder builder;
  builder["allowComments"] = true;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  for (auto _ : state) {
    const std::string request_text = compact_json(request);
    Json::Value parsed_request;
    reader->parse(request_text.data(), request_text.data() + request_text.size(), &parsed_request, nullptr);
    const std::string reply_text = compact_json(reply);
    Json::Value parsed_reply;
    reader->parse(reply_text.data(), reply_text.data() + reply_text.size(), &parsed_reply, nullptr);
    benchmark::DoNotOptimize(parsed_request);
    benchmark::DoNotOptimize(parsed_reply);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PrintJsonWorkAlone)->Unit(benchmark::kMicrosecond)->MinTime(0.3);

// Keeps every repetition's time per iteration (real and CPU) of each benchmark for the ratios.
class ratio_reporter : public benchmark::ConsoleReporter {
 public:
  /// Plain text, so the summary line after the table reads cleanly.
  ratio_reporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0) {
        const double n = static_cast<double>(run.iterations);
        times[run.run_name.function_name].push_back(
            {run.real_accumulated_time / n, run.cpu_accumulated_time / n});
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  struct per_iteration {
    double real;
    double cpu;
  };
  std::map<std::string, std::vector<per_iteration>> times;
};

// The median of one member over the repetitions.
double median(std::vector<ratio_reporter::per_iteration> runs,
              double ratio_reporter::per_iteration::*member) {
  std::sort(runs.begin(), runs.end(), [&](const auto& a, const auto& b) { return a.*member < b.*member; });
  const size_t n = runs.size();
  return n % 2 ? runs[n / 2].*member : (runs[n / 2 - 1].*member + runs[n / 2].*member) / 2;
}

}  // namespace
}  // namespace quorvane

int main(int argc, char** argv) {
  // A shared machine's load drifts over seconds: repetitions of the two benchmarks run interleaved in random
  // order and the ratio compares their medians. Flags given on the command line come later and win.
  std::vector<char*> args(argv, argv + argc);
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  char repetitions[] = "--benchmark_repetitions=9";
  args.insert(args.begin() + 1, {interleave, repetitions});
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  quorvane::ratio_reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto& t = reporter.times;
  const auto trip = t.find("BM_PrintRoundTripOnLoopback");
  const auto json = t.find("BM_PrintJsonWorkAlone");
  if (trip == t.end() || json == t.end()) {
    std::printf("ratio: not available (a benchmark did not run)\n");
    return 1;
  }
  using quorvane::median;
  using run = quorvane::ratio_reporter::per_iteration;
  const double trip_real = median(trip->second, &run::real), json_real = median(json->second, &run::real);
  const double trip_cpu = median(trip->second, &run::cpu), json_cpu = median(json->second, &run::cpu);
  std::printf(
      "print round trip: %.1f us (%.0f per second); JSON work alone: %.1f us (%.0f per second); "
      "ratio %.2f (goal <= 1.5)\n",
      trip_real * 1e6, 1.0 / trip_real, json_real * 1e6, 1.0 / json_real, trip_real / json_real);
  std::printf(
      "CPU time: round trip %.1f us, JSON work alone %.1f us, ratio %.2f (medians of %zu and %zu runs)\n",
      trip_cpu * 1e6, json_cpu * 1e6, trip_cpu / json_cpu, trip->second.size(), json->second.size());
  return 0;
}
